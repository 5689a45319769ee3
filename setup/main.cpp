// QX470SETUP: the settings utility of the 3-inch label printer.
#include "setup_app.h"
#include "wce/dialogapp.h"

int main(int argc, char** argv) {
    return wce::ui::RunDialogApp(argc, argv, [] { return SetupApp(setup::ModelA()).Run(); });
}
