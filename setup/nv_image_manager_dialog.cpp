#include "nv_image_manager_dialog.h"

#include "wce/base.h"

using namespace wce;
using namespace wce::ui;

namespace {

enum : int {
    kPortList = 1003,
    kAddress = 1005,
    kOpen = 1013,
    kClose = 1014,
    kAddFile = 1015,
    kDeleteFile = 1016,
    kUploadFile = 1017,
    kPrintOut = 1018,
    kEraseFile = 1019,
    kFileList = 1022,
    kCancel = IDOK,  // the button that leaves the dialog carries IDOK
};

constexpr int kSerialPorts = 10;  // COM0: to COM9:, then "WLAN"
constexpr int kStartPort = 9;
constexpr DWORD kSerialRate = 115200;
constexpr DWORD kPrinterTcpPort = 9100;

const DialogTemplate kTemplate{
    144,
    132,
    156,
    u"Dialog",
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME,
    0,
    u"System",
    8,
    {
        rc::LText(IDC_STATIC, u"Port : ", 7, 8, 20, 8),
        rc::ComboBox(kPortList, 27, 7, 38, 67, CBS_DROPDOWNLIST | WS_VSCROLL),
        rc::EditText(kAddress, 68, 7, 57, 12, ES_AUTOHSCROLL),
        rc::PushButton(kOpen, u"Open", 7, 24, 57, 21),
        rc::PushButton(kClose, u"Close", 68, 24, 57, 21),
        rc::ListBox(kFileList, 7, 48, 118, 30, LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER),
        rc::PushButton(kAddFile, u"Add File...", 7, 81, 57, 21),
        rc::PushButton(kDeleteFile, u"Delete File...", 68, 81, 57, 21),
        rc::PushButton(kUploadFile, u"Upload File...", 7, 104, 57, 21),
        rc::PushButton(kPrintOut, u"Print Out...", 68, 104, 57, 21),
        rc::PushButton(kEraseFile, u"Erase File...", 7, 127, 57, 21),
        rc::PushButton(kCancel, u"Cancel", 68, 127, 57, 21),
    }};

struct Caption {
    int id;
    const char16_t* korean;
};
constexpr Caption kKoreanCaptions[] = {
    {kOpen, u"포트 열기"},         {kClose, u"포트 닫기"},
    {kAddFile, u"파일 추가"},      {kDeleteFile, u"파일 삭제"},
    {kUploadFile, u"로고 업로드"}, {kPrintOut, u"로고 인쇄"},
    {kEraseFile, u"로고 삭제"},    {kCancel, u"취소"},
};
constexpr const char16_t* kKoreanTitle = u"이미지 업로드";

constexpr const char16_t* kImageFilter =
    u"Image File(*.bmp)|*.bmp|Image File(*.jpg)|*.jpg|Image File(*.gif)|*.gif||";

}  // namespace

NvImageManagerDialog::NvImageManagerDialog() : Dialog(kTemplate) {
    static const MessageEntry<NvImageManagerDialog> table[] = {
        {kOpen, BN_CLICKED, &NvImageManagerDialog::OnOpen},
        {kClose, BN_CLICKED, &NvImageManagerDialog::OnClose},
        {kAddFile, BN_CLICKED, &NvImageManagerDialog::OnAddFile},
        {kDeleteFile, BN_CLICKED, &NvImageManagerDialog::OnDeleteFile},
        {kUploadFile, BN_CLICKED, &NvImageManagerDialog::OnUploadFile},
        {kPrintOut, BN_CLICKED, &NvImageManagerDialog::OnPrintOut},
        {kEraseFile, BN_CLICKED, &NvImageManagerDialog::OnEraseFile},
        {kPortList, CBN_SELCHANGE, &NvImageManagerDialog::OnPortSelChange},
    };
    SetMessageTable(table);
}

std::vector<std::u16string> NvImageManagerDialog::ListedFiles() const {
    std::vector<std::u16string> paths;
    if (!files_) return paths;
    for (int i = 0, n = files_.GetCount(); i < n; ++i) paths.push_back(files_.GetText(i));
    return paths;
}

BOOL NvImageManagerDialog::OnInitDialog() {
    address_ = kPresetAddress;
    Dialog::OnInitDialog();
    const std::pair<IconButton*, UINT> buttons[] = {
        {&open_, 145},   {&close_, 146},    {&addFile_, 133}, {&deleteFile_, 134},
        {&upload_, 149}, {&printOut_, 148}, {&erase_, 147},   {&cancel_, 132},
    };
    for (auto [button, icon] : buttons) {
        button->SetFont(GetDialogFont(), TRUE);
        button->SetIcon(icon, 32, 32);
        button->Set3D(true);
    }
    for (int n = 0; n < kSerialPorts; ++n) ports_.AddString(FormatWideString(u"COM%d:", n));
    ports_.AddString(u"WLAN");
    ports_.SetCurSel(kStartPort);
    EnableForStart();
    if (codePage == 949) SetKoreanCaptions();
    return TRUE;
}

void NvImageManagerDialog::DoDataExchange(DataExchange& dx) {
    dx.Control(kPortList, ports_);
    dx.Control(kAddress, addressField_);
    dx.Control(kFileList, files_);
    dx.Control(kOpen, open_);
    dx.Control(kClose, close_);
    dx.Control(kAddFile, addFile_);
    dx.Control(kDeleteFile, deleteFile_);
    dx.Control(kUploadFile, upload_);
    dx.Control(kPrintOut, printOut_);
    dx.Control(kEraseFile, erase_);
    dx.Control(kCancel, cancel_);
    dx.Text(kAddress, address_);
}

void NvImageManagerDialog::SetKoreanCaptions() {
    SetWindowText(kKoreanTitle);
    for (const Caption& caption : kKoreanCaptions)
        SetDlgItemTextW(Handle(), caption.id, caption.korean);
}

void NvImageManagerDialog::EnableForStart() {
    open_.EnableWindow(TRUE);
    close_.EnableWindow(FALSE);
    ports_.EnableWindow(TRUE);
    addressField_.EnableWindow(FALSE);
    for (IconButton* button : {&addFile_, &deleteFile_, &upload_, &printOut_, &erase_})
        button->EnableWindow(FALSE);
}

void NvImageManagerDialog::EnableForLink(bool open) {
    // Disable before enable, so a button that loses its focus hands it to one that is
    // still usable.
    if (open) {
        close_.EnableWindow(TRUE);
        open_.EnableWindow(FALSE);
        ports_.EnableWindow(FALSE);
    } else {
        open_.EnableWindow(TRUE);
        close_.EnableWindow(FALSE);
        ports_.EnableWindow(TRUE);
    }
    for (IconButton* button : {&addFile_, &printOut_, &erase_}) button->EnableWindow(open);
}

void NvImageManagerDialog::EnableForList() {
    BOOL listed = files_.GetCount() > 0;
    deleteFile_.EnableWindow(listed);
    upload_.EnableWindow(listed);
}

void NvImageManagerDialog::MoveSelectionOn() {
    int selected = files_.GetCurSel();
    int count = files_.GetCount();
    if (selected >= 0 && count > 1) files_.SetCurSel((selected + 1) % count);
}

void NvImageManagerDialog::OnPortSelChange() {
    addressField_.EnableWindow(ports_.GetCurSel() == kSerialPorts);
}

void NvImageManagerDialog::OnOpen() {
    UpdateData(TRUE);
    int selected = ports_.GetCurSel();
    std::u16string port;
    DWORD rate;
    if (selected >= kSerialPorts) {
        port = address_;
        rate = kPrinterTcpPort;
    } else {
        port = ports_.GetLBText(selected);
        rate = kSerialRate;
    }
    if (!qxsetup::OpenPrinterLink(link_, port.c_str(), rate)) {
        MessageBoxW(Handle(), u"Open Failed", u"Error", MB_OK);
        return;
    }
    EnableForLink(true);
}

void NvImageManagerDialog::OnClose() {
    qxsetup::ClosePrinterLink(link_);
    EnableForLink(false);
}

void NvImageManagerDialog::OnAddFile() {
    FileDialog chooser(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kImageFilter,
                       this);
    if (chooser.DoModal() != IDOK) return;
    std::u16string path = chooser.GetPathName();
    if (path.empty()) return;
    MoveSelectionOn();
    files_.AddString(path);
    MoveSelectionOn();
    EnableForList();
}

void NvImageManagerDialog::OnDeleteFile() {
    int selected = files_.GetCurSel();
    if (selected >= 0) files_.DeleteString(UINT(selected));
    MoveSelectionOn();
    EnableForList();
}

void NvImageManagerDialog::OnUploadFile() {
    // Nothing is reported for failed sends; refused files are told by the conversion.
    qxsetup::UploadNvImages(link_, ListedFiles());
}

void NvImageManagerDialog::OnPrintOut() {
    qxsetup::PrintAllNvImages(link_);
}

void NvImageManagerDialog::OnEraseFile() {
    qxsetup::EraseNvImages(link_);
}
