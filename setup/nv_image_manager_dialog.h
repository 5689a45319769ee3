// The NV image manager dialog. For now an empty dialog of its size and caption; the
// image manager itself replaces it.
#pragma once

#include "wce/dialog.h"

class NvImageManagerDialog : public wce::ui::Dialog {
  public:
    NvImageManagerDialog();
    wce::UINT codePage = 0;
};
