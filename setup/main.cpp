// QX470SETUP, the settings utility of the 3-inch label printer; built with
// QX_SETUP_MODEL=ModelB it is QX250SETUP, the 2-inch receipt printer's.
#include "setup_app.h"
#include "wce/dialogapp.h"

#ifndef QX_SETUP_MODEL
#define QX_SETUP_MODEL ModelA
#endif

int main(int argc, char** argv) {
    return wce::ui::RunDialogApp(argc, argv,
                                 [] { return SetupApp(setup::QX_SETUP_MODEL()).Run(); });
}
