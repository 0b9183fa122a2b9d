#include "image/ImageSpan.h"

#include <cstring>
#include <memory>

const std::uint16_t* HexPairTable() {
    static const std::unique_ptr<std::uint16_t[]> table = [] {
        std::unique_ptr<std::uint16_t[]> built(new std::uint16_t[65536]);
        for (std::uint32_t first = 0; first < 256; ++first) {
            for (std::uint32_t second = 0; second < 256; ++second) {
                const std::uint32_t high = kHexDigit[first];
                const std::uint32_t low = kHexDigit[second];
                const bool hex = ((high | low) & kNotHex) == 0;
                built[first | (second << 8)] =
                    static_cast<std::uint16_t>(hex ? (high << 4) | low : kNotHexPair);
            }
        }
        return built;
    }();
    return table.get();
}

const char* FinishSpan(ImageSpan& span) {
    FirmwareImage& image = span.image;
    if (!span.stored) return nullptr;  // imageStart and imageLength stay 0
    const std::uint32_t length = static_cast<std::uint32_t>(span.highest - span.lowest);
    const std::uint32_t start = static_cast<std::uint32_t>(span.lowest);
    if (!EndsWithinAddressSpace(start, length)) {
        return image_span_detail::Refuse(span, span.lowest, PaddedImageEnd(start, length),
                                         kReasonPaddedBeyondAddressSpace);
    }
    const std::size_t offset = static_cast<std::size_t>(span.lowest - span.origin);
    if (offset != 0) {
        std::memmove(image.imageBuffer, image.imageBuffer + offset, length);
        std::memset(image.imageBuffer + length, 0xFF, image.imageCapacity - length);
    }
    image.imageStart = start;
    image.imageLength = length;
    return nullptr;
}
