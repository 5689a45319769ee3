#include "setup_app.h"

#include <memory>

#include "printer_link.h"
#include "setup_icons.h"
#include "setup_main_dialog.h"

int SetupApp::Run() {
    RegisterSetupIcons();
    qxsetup::SetApplicationTitle(model_.programName);
    qxsetup::TheNetworkLink().checkEcho = model_.echoBeforeConnect;
    auto dialog = std::make_unique<SetupMainDialog>(model_);
    // Whatever the dialog ends with, the program ends with it; there is no loop of its own.
    int result = dialog->DoModal();
    dialog.reset();
    return result < 0 ? 1 : 0;
}
