// The paper settings dialog: paper, copies, emulation, and the options whose meaning
// follows the emulation.
#pragma once

#include <span>
#include <string>

#include "icon_button.h"
#include "model.h"
#include "wce/dialog.h"

class PaperSettingsDialog : public wce::ui::Dialog {
  public:
    explicit PaperSettingsDialog(const setup::SetupModel& model = setup::ModelA());

    int paperSize = 0;
    int copies = 0;
    int paperWidth = 0;
    int heightMm = 0;
    int heightTenths = 0;
    int printingLength = 0;
    int userPaper = 0;
    int emulation = 0;
    int backFeed = 0;
    int rotation = 0;
    wce::UINT codePage = 0;

    struct Texts;

  protected:
    wce::BOOL OnInitDialog() override;
    void DoDataExchange(wce::ui::DataExchange& dx) override;

  private:
    const Texts& Language() const;
    void ShowSize(int index);
    void ShowEmulationTexts(int index);
    void OnPaperChange();
    void OnEmulationChange();
    void OnCustomPaper();
    void OnOption();
    void OnRotate();
    void OnOk();

    const setup::SetupModel& model_;
    wce::ui::ComboBox paperList_, emulationList_;
    wce::ui::Edit widthEdit_, heightEdit_, copiesEdit_;
    wce::ui::Button customPaper_, rotate_, option_;
    wce::ui::GroupBox pageGroup_, areaGroup_;
    wce::ui::Static nameLabel_, sizeLabel_, copyLabel_, emulationLabel_;
    IconButton ok_, cancel_;
    std::u16string copiesText_, heightText_, widthText_;
};
