#include "image/ImageSpan.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

const char* Refuse(ImageSpan& span, std::uint64_t first, std::uint64_t end, const char* reason) {
    span.refusedFirst = first;
    span.refusedEnd = end;
    return reason;
}

// A piece below the origin. From now on the image can only span addresses from
// highest - capacity to lowest + capacity, a window of at most twice the capacity, which
// the storage holds: the origin moves down to its start (not below address 0) and the
// bytes stored so far move up with it, once. Later pieces fit the window or fail the
// capacity check before they get here.
void MoveOriginBelow(ImageSpan& span, std::uint64_t highest) {
    const std::uint64_t capacity = span.image.imageCapacity;
    const std::uint64_t origin = highest > capacity ? highest - capacity : 0;
    const std::size_t shift = static_cast<std::size_t>(span.origin - origin);
    const std::size_t used = static_cast<std::size_t>(span.highest - span.origin);
    // shift + used = highest - origin, at most the capacity.
    std::uint8_t* const storage = span.image.imageBuffer;
    std::memmove(storage + shift, storage, used);
    std::memset(storage, 0xFF, shift);
    std::memset(storage + shift + used, 0xFF,
                static_cast<std::size_t>(2 * capacity) - shift - used);
    span.origin = origin;
}

}  // namespace

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

[[gnu::cold]] [[gnu::noinline]] const char* PlaceAnySpan(ImageSpan& span, std::uint64_t first,
                                                         std::uint64_t end) {
    if (end > kAddressSpaceEnd) return Refuse(span, first, end, kReasonBeyondAddressSpace);
    const std::uint64_t lowest = span.stored ? std::min(span.lowest, first) : first;
    const std::uint64_t highest = span.stored ? std::max(span.highest, end) : end;
    if (highest - lowest > span.image.imageCapacity)
        return Refuse(span, lowest, highest, kReasonBeyondCapacity);
    if (!span.stored) {
        span.origin = first;
        span.stored = true;
    } else if (first < span.origin) {
        MoveOriginBelow(span, highest);
    }
    span.lowest = lowest;
    span.highest = highest;
    span.limit = std::min(lowest + span.image.imageCapacity, kAddressSpaceEnd);
    span.writePosition = static_cast<std::uint32_t>(first - span.origin);
    return nullptr;
}

const char* FinishSpan(ImageSpan& span) {
    FirmwareImage& image = span.image;
    if (!span.stored) return nullptr;  // imageStart and imageLength stay 0
    const std::uint32_t length = static_cast<std::uint32_t>(span.highest - span.lowest);
    const std::uint32_t start = static_cast<std::uint32_t>(span.lowest);
    if (!EndsWithinAddressSpace(start, length)) {
        return Refuse(span, span.lowest, PaddedImageEnd(start, length),
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
