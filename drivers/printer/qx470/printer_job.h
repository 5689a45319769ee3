// The driver's single job record: output buffer and port, page image with its
// dimensions and counters, tone tables and diffusion rows, CPCL band buffers.
// One device context at a time uses it; it is static by design.
#pragma once

#include <cstdint>

#include "wce/types.h"

namespace qx470 {

constexpr int kOutputBufferSize = 1024;
constexpr int kDarknessFull = 8192;
constexpr int kDotThreshold = 4096;

struct LzwDictionary;  // lzw.h

struct PrinterJob {
    // Port and output buffer.
    int portHandle = -1;  // port kind code from PortOpen, -1 when no port is open
    wce::BYTE outBuffer[kOutputBufferSize] = {};
    int outCount = 0;
    int noBlackInk = 0;  // the printer reports no black channel
    // A send of the current document failed: nothing more of it goes to the port, so a
    // printer that takes the connection back never reads the rest of a command as data.
    bool sendFailed = false;
    wce::DWORD sendError = 0;  // the port's last-error code for that send

    // Page geometry and counters.
    int pageWidth = 0;       // dots per row
    int pageHeight = 0;      // rows of the engine's surface
    int bytesPerRow = 0;     // (pageWidth + 7) / 8
    int allocatedRows = 0;   // capacity of pageImage in rows, at least printedLength
    int printedLength = 0;   // rows the encoders scan
    int printableWidth = 0;  // dots, places turned CPCL bands
    int rowParity = 0;       // rows converted since the page began
    int nextRow = 0;         // page row receiving the next converted row
    int colourMode = 0;      // device mode colour field was 2
    int paperSize = 0;       // device mode paper size code
    int horzRes = 0;         // ulLogPixelsX
    int landscape = 0;       // device mode orientation was 2

    // Page image and work buffers; owned, allocated by SetupPage, freed by FreePage.
    wce::BYTE* pageImage = nullptr;
    wce::BYTE* landscapeLine = nullptr;  // pageWidth * 3 bytes: turned or widened scan line
    std::int16_t* blackValues = nullptr;
    std::int16_t* blackError = nullptr;
    wce::BYTE* blackBits = nullptr;
    wce::BYTE* colourBits = nullptr;
    std::int16_t* greyTone = nullptr;  // 256 entries
    std::int16_t* cyanValues = nullptr;
    std::int16_t* magentaValues = nullptr;
    std::int16_t* yellowValues = nullptr;
    std::int16_t* cyanError = nullptr;
    std::int16_t* magentaError = nullptr;
    std::int16_t* yellowError = nullptr;
    std::int16_t* colourTone = nullptr;  // 256 entries
    wce::BYTE* lightness = nullptr;      // 256 entries
    // Per plane (one, or three in colour mode) two rows of pageWidth + 2 values: the
    // perturbation of each dot and the error each dot leaves.
    std::int32_t* diffusionWork = nullptr;
    int diffusionPlanes = 0;

    // Diffusion constants.
    int blackLevel = 0;
    int cyanLevel = 0;
    int magentaLevel = 0;
    int yellowLevel = 0;
    int blueHueFactor = 0;
    int greenHueFactor = 0;

    // CPCL band buffers, grown to the largest band seen; owned, freed by
    // FreeCpclBuffers (cpcl.h).
    wce::BYTE* stagingBand = nullptr;
    wce::BYTE* rotatedBand = nullptr;
    std::size_t bandCapacity = 0;
    wce::BYTE* compressedBand = nullptr;
    std::size_t compressedCapacity = 0;
    wce::BYTE lengthField[4] = {};
    LzwDictionary* lzwDictionary = nullptr;  // allocated with the first ZCG band
};

// The one job record of the driver.
PrinterJob& TheJob();

}  // namespace qx470
