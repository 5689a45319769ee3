// A program that runs only the image manager's dialog, in the interface language of the
// system (949: Korean), for scripted runs against the emulator.
#include <cstdio>

#include "nv_image_manager_dialog.h"
#include "setup_icons.h"
#include "wce/base.h"
#include "wce/dialogapp.h"

int main(int argc, char** argv) {
    return wce::ui::RunDialogApp(argc, argv, [] {
        RegisterSetupIcons();
        NvImageManagerDialog dialog;
        dialog.codePage = wce::GetACP();
        int result = dialog.DoModal();
        std::printf("result %d\n", result);
        return result == wce::IDOK ? 0 : 1;
    });
}
