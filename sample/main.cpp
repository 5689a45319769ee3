// PrintDemo: shows its dialog and ends when the dialog closes.
#include "print_demo.h"
#include "wce/dialogapp.h"

int main(int argc, char** argv) {
    return wce::ui::RunDialogApp(argc, argv, [] {
        printdemo::RegisterPrintDemoIcons();
        printdemo::PrintDemoDialog dialog;
        dialog.DoModal();
        return 0;
    });
}
