// Feeds arbitrary bytes to the decoder in arbitrary pieces. The first byte picks the
// model and how the input is cut, so both paper widths and every resumption point of
// the incremental parser get exercised.
#include <cstddef>
#include <cstdint>

#include "decoder.h"
#include "device.h"
#include "log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    qxemu::Log log;
    log.SetErrorsToStderr(false);
    qxemu::DeviceOptions options;
    options.writeFiles = false;
    options.paperWidth = (data[0] & 1) ? qxemu::kModelBPaperDots : qxemu::kModelAPaperDots;
    qxemu::Device device(options, log);
    qxemu::Decoder decoder(device);
    const std::uint8_t control = data[0];
    const std::size_t piece = (control & 0x3E) == 0 ? size : (control & 0x3E) >> 1;
    ++data, --size;
    for (std::size_t at = 0; at < size; at += piece) {
        std::size_t n = size - at < piece ? size - at : piece;
        decoder.Feed(data + at, n);
        if ((control & 0x40) != 0 && (at / piece) % 3 == 0) decoder.Idle();
    }
    decoder.Finish();
    return 0;
}
