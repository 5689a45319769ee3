// Any bytes as a bitmap file: the decoder refuses what it cannot convert and never
// reads past the data; what it takes must make a block of the size its header says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mono_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qxsetup::MonoImage image;
    std::u16string message;
    if (!qxsetup::DecodeMonoImage(data, size, &image, &message)) {
        if (message.empty()) std::abort();  // every refusal says why
        return 0;
    }
    // Pictures the fuzzer makes can be large; the block of a small one is checked whole.
    if (std::int64_t(image.width) * image.height <= (1 << 16)) {
        std::vector<std::uint8_t> block = qxsetup::BuildNvImageBlock(image);
        std::size_t wb = std::size_t(image.width + 7) / 8, hb = std::size_t(image.height + 7) / 8;
        if (block.size() != 4 + wb * 8 * hb) std::abort();
    }
    return 0;
}
