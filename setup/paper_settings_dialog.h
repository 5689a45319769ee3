// The paper settings dialog: paper, copies, emulation, and the options whose meaning
// follows the emulation. A model without emulation has no emulation list and no
// "180 Rotate" box, and its check box 1023 always stands for printingLength.
#pragma once

#include <span>
#include <string>

#include "icon_button.h"
#include "model.h"
#include "wce/dialog.h"

namespace paper {
// The dialog's controls; each model's template (in its table) places them.
enum : int {
    kPaperList = 1003,
    kEmulationList = 1004,
    kWidth = 1005,
    kHeight = 1006,
    kCopies = 1007,
    kOption = 1023,
    kPageGroup = 1024,
    kAreaGroup = 1025,
    kNameLabel = 1030,
    kSizeLabel = 1031,
    kSizeCaption = 1032,
    kCopyLabel = 1033,
    kEmulationLabel = 1034,
    kCustomPaper = 1042,
    kRotate = 1043,
};
}  // namespace paper

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
    wce::ui::Static nameLabel_, sizeLabel_, copyLabel_, emulationLabel_, sizeCaption_;
    IconButton ok_, cancel_;
    std::u16string copiesText_, heightText_, widthText_;
};
