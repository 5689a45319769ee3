// The printer commands dialog: the text and the stored image printed at the start and
// at the end of every document.
#pragma once

#include <string>

#include "icon_button.h"
#include "model.h"
#include "settings_record.h"
#include "wce/dialog.h"

class PrinterCommandsDialog : public wce::ui::Dialog {
  public:
    explicit PrinterCommandsDialog(const setup::SetupModel& model = setup::ModelA());

    int startLogo = 0;
    int endLogo = 0;
    wce::WCHAR startDocText[setup::kTextUnits] = {};
    wce::WCHAR endDocText[setup::kTextUnits] = {};
    wce::UINT codePage = 0;

  protected:
    wce::BOOL OnInitDialog() override;
    void DoDataExchange(wce::ui::DataExchange& dx) override;

  private:
    void OnApplyStart();
    void OnApplyEnd();
    void OnOk();
    void Apply(const wce::WCHAR* textName, const wce::WCHAR* text, const wce::WCHAR* logoName,
               int logo);

    const setup::SetupModel& model_;
    wce::ui::GroupBox startGroup_, endGroup_;
    wce::ui::Static startImageLabel_, endImageLabel_, startTextLabel_, endTextLabel_;
    wce::ui::Edit startLogoEdit_, endLogoEdit_, startTextEdit_, endTextEdit_;
    IconButton applyStart_, applyEnd_, ok_, cancel_;
    std::u16string startLogoText_, endLogoText_, startText_, endText_;
};
