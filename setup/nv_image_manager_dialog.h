// The image manager: the utility's dialog for filling the printer's memory of stored
// logos over a link of its own (a COMn: port or the printer's network address), and for
// printing or erasing what the memory holds.
#pragma once

#include <string>
#include <vector>

#include "icon_button.h"
#include "nv_upload.h"
#include "wce/dialog.h"

class NvImageManagerDialog : public wce::ui::Dialog {
  public:
    NvImageManagerDialog();

    // The interface language, set by the main dialog before each run: 949 shows the
    // Korean captions.
    wce::UINT codePage = 0;

    // The address the network entry starts with at every opening of the dialog.
    static constexpr const char16_t* kPresetAddress = u"192.168.1.20";

    // The listed paths, in list (and so upload) order.
    std::vector<std::u16string> ListedFiles() const;

  protected:
    wce::BOOL OnInitDialog() override;
    void DoDataExchange(wce::ui::DataExchange& dx) override;

  private:
    void OnOpen();
    void OnClose();
    void OnAddFile();
    void OnDeleteFile();
    void OnUploadFile();
    void OnPrintOut();
    void OnEraseFile();
    void OnPortSelChange();

    void SetKoreanCaptions();
    // The moments of the enable table.
    void EnableForStart();
    void EnableForLink(bool open);
    void EnableForList();
    // With an entry selected and more than one listed, the selection moves on by one,
    // from the last entry back to the first.
    void MoveSelectionOn();

    // Which of the utility's links the last Open chose; it outlives a run of the dialog,
    // as the link itself does.
    qxsetup::NvPrinterLink link_;
    std::u16string address_;

    wce::ui::ComboBox ports_;
    wce::ui::Edit addressField_;
    wce::ui::ListBox files_;
    IconButton open_, close_, addFile_, deleteFile_, upload_, printOut_, erase_, cancel_;
};
