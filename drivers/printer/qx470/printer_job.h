// The driver's single job record: output buffer and port, page image with its
// dimensions and counters, tone tables and diffusion rows, CPCL band buffers.
// One device context at a time uses it; it is static by design.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "wce/types.h"

namespace qx470 {

constexpr int kOutputBufferSize = 1024;
constexpr int kDarknessFull = 8192;
constexpr int kDotThreshold = 4096;

struct LzwDictionary;  // lzw.h

// A landscape band's columns are turned into scan lines this many at a time.
constexpr std::size_t kTurnedLines = 64;

// Monochrome rows run in 32 vector lanes, each over a 32nd of the row and starting
// kLaneLead dots early: the work holds the lanes' incoming errors and the dots' values
// with their leads, the errors the dots leave with a guard step at either end, and which
// dots print (with room for a last block of sixteen).
constexpr std::size_t kLaneLead = 20;
constexpr std::size_t LaneWorkSize(std::size_t width) {
    const std::size_t part = (width + 31) / 32;
    return 2 * 32 * (part + 2 * kLaneLead) + 32 * (part + 2) + 32 * (part + 16);
}

// The page image and work buffers of one device context, sized by SetupPage for the
// page's width, length and colour mode: either every buffer the mode needs is there,
// or none is. FreePage drops them all at once, so a new buffer is one member and its
// line in Allocate.
struct PageBuffers {
    template <typename T>
    using Buffer = std::unique_ptr<T[]>;

    Buffer<wce::BYTE> page;  // allocatedRows rows of bytesPerRow bytes
    // Lines of pageWidth * 3 bytes: kTurnedLines scan lines turned from a landscape band's
    // columns, or in portrait one scan line widened.
    Buffer<wce::BYTE> landscapeLine;
    Buffer<std::int16_t> blackValues;
    Buffer<std::int16_t> blackError;
    Buffer<wce::BYTE> blackBits;
    Buffer<wce::BYTE> colourBits;
    Buffer<std::int16_t> greyTone;  // 256 entries
    // Colour mode only.
    Buffer<std::int16_t> cyanValues;
    Buffer<std::int16_t> magentaValues;
    Buffer<std::int16_t> yellowValues;
    Buffer<std::int16_t> cyanError;
    Buffer<std::int16_t> magentaError;
    Buffer<std::int16_t> yellowError;
    Buffer<std::int16_t> colourTone;  // 256 entries
    Buffer<wce::BYTE> lightness;      // 256 entries
    // Per plane (one, or three in colour mode) two rows of pageWidth + 2 values: the
    // perturbation of each dot and the error each dot leaves.
    Buffer<std::int32_t> diffusionWork;
    // The black plane's rows in lanes: LaneWorkSize(pageWidth) values.
    Buffer<std::int32_t> laneWork;
    int diffusionPlanes = 0;  // 0 until every buffer is allocated

    // Allocates every buffer zeroed: width dots, rowBytes bytes a row, rows rows.
    // Throws std::bad_alloc, leaving the buffers to be dropped.
    void Allocate(std::size_t width, std::size_t rowBytes, std::size_t rows, bool colour,
                  bool landscape) {
        const int planes = colour ? 3 : 1;
        page = Zeroed<wce::BYTE>(rows * rowBytes);
        // Used for the landscape turn, and in portrait to widen a narrow source line.
        landscapeLine = Zeroed<wce::BYTE>(width * 3 * (landscape ? kTurnedLines : 1));
        blackValues = Zeroed<std::int16_t>(width);
        blackError = Zeroed<std::int16_t>(width);
        blackBits = Zeroed<wce::BYTE>(rowBytes);
        colourBits = Zeroed<wce::BYTE>(rowBytes);
        greyTone = Zeroed<std::int16_t>(256);
        diffusionWork = Zeroed<std::int32_t>(static_cast<std::size_t>(planes) * 2 * (width + 2));
        laneWork = Zeroed<std::int32_t>(LaneWorkSize(width));
        if (colour) {
            cyanValues = Zeroed<std::int16_t>(width);
            magentaValues = Zeroed<std::int16_t>(width);
            yellowValues = Zeroed<std::int16_t>(width);
            cyanError = Zeroed<std::int16_t>(width);
            magentaError = Zeroed<std::int16_t>(width);
            yellowError = Zeroed<std::int16_t>(width);
            colourTone = Zeroed<std::int16_t>(256);
            lightness = Zeroed<wce::BYTE>(256);
        }
        diffusionPlanes = planes;
    }

  private:
    template <typename T>
    static Buffer<T> Zeroed(std::size_t count) {
        return std::make_unique<T[]>(count == 0 ? 1 : count);
    }
};

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

    // The page the encoders scan: buffers.page while a page is set up (tests and
    // benchmarks may lend one of their own).
    wce::BYTE* pageImage = nullptr;
    PageBuffers buffers;

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
