// The printer model a driver library is built for. The driver's code is one; the
// second library target (QX250.dll) is built with QX_MODEL_B defined and takes model
// B's facts from the shared table. Everything not in the table prints the same way for
// both.
#pragma once

#include "protocol/models.h"

namespace qx470 {

using qxproto::PaperPreset;

#ifdef QX_MODEL_B
inline constexpr const qxproto::PrinterModel& kModel = qxproto::kModelB;
#else
inline constexpr const qxproto::PrinterModel& kModel = qxproto::kModelA;
#endif

}  // namespace qx470
