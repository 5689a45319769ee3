#include "nv_image_manager_dialog.h"

using namespace wce;
using namespace wce::ui;

namespace {

const DialogTemplate kNvImageTemplate{
    144, 132, 156, u"Dialog", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, u"System", 8, {}};

}  // namespace

NvImageManagerDialog::NvImageManagerDialog() : Dialog(kNvImageTemplate) {}
