// The port settings dialog: the list of printer ports under Printers\Ports, and the
// driver's own port. Every change reaches the registry at once.
#pragma once

#include <string>

#include "icon_button.h"
#include "model.h"
#include "settings_record.h"
#include "wce/dialog.h"

class PortSettingsDialog : public wce::ui::Dialog {
  public:
    explicit PortSettingsDialog(const setup::SetupModel& model = setup::ModelA());

    wce::UINT codePage = 0;
    // Values found under Printers\Ports at opening, counted up by each add and down by
    // each remove; the next port is stored as "Port%d" of portCounter + 1.
    int portCounter = 0;

  protected:
    wce::BOOL OnInitDialog() override;
    void DoDataExchange(wce::ui::DataExchange& dx) override;

  private:
    void FillList();
    void ShowDriverPort();
    void AppendEntry(const std::u16string& text);
    void MoveSelectionOn();
    void EnableEntryButtons();
    void OnAddPort();
    void OnRemovePort();
    void OnSelectPort();
    enum class AddResult { Added, Refused, NotSaved, NotOpened };
    AddResult AddToRegistry(const std::u16string& portName);
    wce::LONG RemovePortValues();
    wce::LONG WritePortValues();

    const setup::SetupModel& model_;
    wce::ui::GroupBox addGroup_, infoGroup_;
    wce::ui::Static nameLabel_, listLabel_, defaultLabel_, defaultPort_;
    wce::ui::Edit nameEdit_;
    wce::ui::ListBox ports_;
    IconButton add_, remove_, select_, ok_;
    std::u16string portNameText_;
    wce::LONG saveError_ = 0;  // why the last add was not stored
    wce::WCHAR defaultPortText_[setup::kTextUnits] = {};
};
