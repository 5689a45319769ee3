// PrintDemo: a small dialog program that shows an application printing through the
// driver with ordinary GDI calls. It never talks to the driver or the printer itself;
// everything goes through the device context the print dialog returns.
#pragma once

#include <string>

#include "wce/dialog.h"

namespace printdemo {

enum : int {
    IDD_PRINTDEMO = 102,
    IDI_PRINTDEMO = 128,
    IDC_PRINT_LABEL = 1000,
    IDC_PRINT_BITMAP = 1001,
    IDC_EXIT = 1003,
    IDC_PRINT_SAMPLE = 1004,
};

extern const wce::ui::DialogTemplate kPrintDemoTemplate;

// The image files the file-open dialog offers.
inline constexpr char16_t kImageFilter[] =
    u"Image File(*.bmp)|*.bmp|Image File(*.jpg)|*.jpg|Image File(*.gif)|*.gif||";

// The printing steps of the three buttons (printing.cpp). Each asks for the default
// printer's device context and shows "Failed to Creating DC" when none comes back.
void PrintLabel();
void PrintBitmap(const std::u16string& path);
void PrintSampleLabel(const std::u16string& path);

// Registers the program's icon (resource 128) for LoadIconW.
bool RegisterPrintDemoIcons(wce::HINSTANCE module = nullptr);

class PrintDemoDialog : public wce::ui::Dialog {
  public:
    PrintDemoDialog();
    ~PrintDemoDialog() override;

  protected:
    wce::BOOL OnInitDialog() override;

  private:
    void OnPrintLabel();
    void OnPrintBitmap();
    void OnPrintSampleLabel();
    void OnExit();
    // The file-open dialog; false when the user chose nothing.
    bool ChooseImage(std::u16string& path);

    wce::HICON icon_ = nullptr;
};

}  // namespace printdemo
