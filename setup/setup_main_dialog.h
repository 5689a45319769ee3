// The utility's main dialog: it holds the working copy of the driver settings and runs
// the settings dialogs, the test page and the image manager from its buttons.
#pragma once

#include "icon_button.h"
#include "model.h"
#include "nv_image_manager_dialog.h"
#include "paper_settings_dialog.h"
#include "port_settings_dialog.h"
#include "printer_commands_dialog.h"
#include "settings_record.h"
#include "wce/dialog.h"

class SetupMainDialog : public wce::ui::Dialog {
  public:
    explicit SetupMainDialog(const setup::SetupModel& model = setup::ModelA());
    ~SetupMainDialog() override;

    setup::SettingsRecord record;
    wce::UINT codePage = 0;

    PaperSettingsDialog paperDialog;
    PrinterCommandsDialog commandsDialog;
    PortSettingsDialog portDialog;
    NvImageManagerDialog nvImageDialog;

  protected:
    wce::BOOL OnInitDialog() override;
    void DoDataExchange(wce::ui::DataExchange& dx) override;
    void OnOK() override;  // the caption's OK button leaves as "Exit" does

  private:
    void EnableEscPosButtons();
    void OnPortSettings();
    void OnPaperSettings();
    void OnPrinterCommands();
    void OnTestPage();
    void OnNvUpload();
    void OnSave();

    const setup::SetupModel& model_;
    wce::HICON appIcon_ = nullptr;
    wce::ui::GroupBox group_;
    IconButton port_, paper_, commands_, testPage_, nvUpload_, save_, exit_;
};
