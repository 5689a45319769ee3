// What sets the two printer models' drivers apart. The driver's code is one; the
// second library target (QX250.dll) is built with QX_MODEL_B defined and takes the
// second table. Everything not in the table prints the same way for both.
#pragma once

#include "wce/types.h"

namespace qx470 {

struct PaperPreset {
    int widthMm;
    int height;  // in the model's "PHeight" units
};

struct DriverModel {
    const wce::WCHAR* settingsKey;
    int headDots;          // dots across the printed width
    int headMm;            // the same width in millimetres, as the engine is told it
    int heightUnitsPerMm;  // "PHeight" is in tenths of a millimetre (10) or millimetres (1)
    bool readsCpcl;        // reads "Emulation", "BackFeed" and "Rotation"
    PaperPreset fallbackPaper;   // "PWidth" and "PHeight" when a too-long value will not read
    const PaperPreset* presets;  // by "PaperSize"; entry 0 stands for custom and is never used
    int presetCount;
};

// Model A: the 3-inch label printer.
inline constexpr PaperPreset kModelAPresets[] = {
    {80, 508}, {80, 254}, {80, 508}, {80, 762}, {80, 1016}};
inline constexpr DriverModel kModelA{u"Printers\\QX-470 Driver", 576, 72, 10, true, {80, 508},
                                     kModelAPresets, 5};

// Model B: the 2-inch receipt printer on 58 mm paper, ESC/POS only, sizes in whole
// millimetres; its presets are those its settings utility offers.
inline constexpr PaperPreset kModelBPresets[] = {{58, 80},  {58, 60},  {58, 80},   {58, 100},
                                                 {58, 120}, {58, 140}, {58, 160},  {58, 180},
                                                 {58, 200}, {58, 297}, {58, 2970}, {58, 3276}};
inline constexpr DriverModel kModelB{u"Printers\\QX-250 Driver", 384, 48, 1, false, {58, 80},
                                     kModelBPresets, 12};

#ifdef QX_MODEL_B
inline constexpr const DriverModel& kModel = kModelB;
#else
inline constexpr const DriverModel& kModel = kModelA;
#endif

}  // namespace qx470
