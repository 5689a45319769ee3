// The utility's icon images (setup/res/icons), registered as icon resources under their
// numbers for LoadImageW.
#pragma once

#include "wce/winuser.h"

bool RegisterSetupIcons(wce::HINSTANCE module = nullptr);
