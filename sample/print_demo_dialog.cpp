// The program's one dialog: three print buttons and Exit.
#include "print_demo.h"

using namespace wce;
using namespace wce::ui;

namespace printdemo {

const DialogTemplate kPrintDemoTemplate{
    IDD_PRINTDEMO,
    130,
    137,
    u"PrintDemo",
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME,
    WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW,
    u"System",
    8,
    {
        rc::LText(IDC_STATIC, u"QX-470 Windows CE Printer Driver Sample Program", 7, 11, 116, 19),
        rc::PushButton(IDC_PRINT_LABEL, u"Print Label", 7, 45, 116, 16),
        rc::PushButton(IDC_PRINT_BITMAP, u"Print Bitmap", 7, 62, 116, 16),
        rc::PushButton(IDC_PRINT_SAMPLE, u"Print Sample Label", 7, 80, 116, 16),
        rc::PushButton(IDC_EXIT, u"Exit", 7, 109, 116, 21),
    }};

PrintDemoDialog::PrintDemoDialog() : Dialog(kPrintDemoTemplate) {
    static const MessageEntry<PrintDemoDialog> table[] = {
        {IDC_PRINT_LABEL, BN_CLICKED, &PrintDemoDialog::OnPrintLabel},
        {IDC_PRINT_BITMAP, BN_CLICKED, &PrintDemoDialog::OnPrintBitmap},
        {IDC_PRINT_SAMPLE, BN_CLICKED, &PrintDemoDialog::OnPrintSampleLabel},
        {IDC_EXIT, BN_CLICKED, &PrintDemoDialog::OnExit},
    };
    SetMessageTable(table);
    icon_ = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_PRINTDEMO));
}

PrintDemoDialog::~PrintDemoDialog() {
    // The window goes first so that nothing still shows the icon when it is destroyed.
    DestroyWindow();
    if (icon_) DestroyIcon(icon_);
}

BOOL PrintDemoDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    SetIcon(icon_, TRUE);
    SetIcon(icon_, FALSE);
    CenterWindow();
    return TRUE;
}

bool PrintDemoDialog::ChooseImage(std::u16string& path) {
    FileDialog chooser(TRUE, nullptr, u"", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kImageFilter,
                       nullptr);
    if (chooser.DoModal() != IDOK) return false;
    path = chooser.GetPathName();
    return true;
}

void PrintDemoDialog::OnPrintLabel() {
    PrintLabel();
}

void PrintDemoDialog::OnPrintBitmap() {
    std::u16string path;
    if (ChooseImage(path)) PrintBitmap(path);
}

void PrintDemoDialog::OnPrintSampleLabel() {
    std::u16string path;
    if (ChooseImage(path)) PrintSampleLabel(path);
}

void PrintDemoDialog::OnExit() {
    EndDialog(IDOK);
}

}  // namespace printdemo
