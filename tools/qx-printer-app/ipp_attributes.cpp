#include "ipp_attributes.h"

namespace qxapp {

void AddIppAttributes(const DriverInfo&, pappl_pr_driver_data_t*, ipp_t**) {}

}  // namespace qxapp
