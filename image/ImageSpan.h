#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/FirmwareImage.h"

// What the firmware file readers (Intel HEX, Motorola S-record, ELF) share: the
// hexadecimal digit tables of the text formats, and the building of one image from pieces
// placed at any addresses in any order.

// Value of each byte as a hexadecimal digit; kNotHex marks every other byte, so OR-ing
// the entries of a line tells whether it held anything but digits.
inline constexpr std::uint8_t kNotHex = 0x10;
constexpr std::array<std::uint8_t, 256> MakeHexDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            table[c] = static_cast<std::uint8_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
        else
            table[c] = kNotHex;
    }
    return table;
}
inline constexpr std::array<std::uint8_t, 256> kHexDigit = MakeHexDigitTable();

// The byte that two characters stand for, indexed by the first character plus 256 times
// the second; kNotHexPair is added when either is not a hexadecimal digit. One look-up
// per byte is what keeps the text readers at memory speed.
inline constexpr std::uint32_t kNotHexPair = 0x100;
const std::uint16_t* HexPairTable();

// The reasons a piece is refused, for a diagnosis.
inline constexpr const char* kReasonBeyondCapacity = "the image would span more than its capacity";
inline constexpr const char* kReasonBeyondAddressSpace =
    "the data ends beyond the 32-bit address space";
inline constexpr const char* kReasonPaddedBeyondAddressSpace =
    "the image, padded to whole words, ends beyond the 32-bit address space";

// One image built from pieces: it spans from the lowest to the highest byte stored,
// whatever the order of the pieces; gaps are 0xFF and where pieces overlap the later one
// wins. It works in the first 2 * imageCapacity bytes of the image's buffer, which the
// reader fills with 0xFF over the capacity before the first piece.
struct ImageSpan {
    FirmwareImage& image;
    // The byte of address `origin` lies at the start of the storage. The first stored byte
    // sets it, so ascending pieces land where the image ends up.
    std::uint64_t origin = 0;
    // The addresses the stored bytes span: the first, and one past the last. Until a byte
    // is stored, no address is at or above `lowest`.
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    // The end of the capacity from `lowest`, or of the address space if that comes first.
    std::uint64_t limit = 0;
    bool stored = false;
    std::uint32_t writePosition = 0;  // offset in the storage of the current piece's bytes
    // The span a refused piece would have made, for the diagnosis.
    std::uint64_t refusedFirst = 0;
    std::uint64_t refusedEnd = 0;
};

// The rare paths of PlaceSpan. They are defined here, not in a file of their own, so the
// compiler sees what they change: an opaque call, even on a cold path, keeps a reader's
// loop from holding the span in registers (the HEX reader lost a third of its speed).
namespace image_span_detail {

inline const char* Refuse(ImageSpan& span, std::uint64_t first, std::uint64_t end,
                          const char* reason) {
    span.refusedFirst = first;
    span.refusedEnd = end;
    return reason;
}

// A piece below the origin. From now on the image can only span addresses from
// highest - capacity to lowest + capacity, a window of at most twice the capacity, which
// the storage holds: the origin moves down to its start (not below address 0) and the
// bytes stored so far move up with it, once. Later pieces fit the window or fail the
// capacity check before they get here.
inline void MoveOriginBelow(ImageSpan& span, std::uint64_t highest) {
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

}  // namespace image_span_detail

// PlaceSpan for any piece that does not simply land within the span begun so far.
[[gnu::cold]] [[gnu::noinline]] inline const char* PlaceAnySpan(ImageSpan& span,
                                                                std::uint64_t first,
                                                                std::uint64_t end) {
    using image_span_detail::Refuse;
    if (end > kAddressSpaceEnd) return Refuse(span, first, end, kReasonBeyondAddressSpace);
    const std::uint64_t lowest = span.stored ? std::min(span.lowest, first) : first;
    const std::uint64_t highest = span.stored ? std::max(span.highest, end) : end;
    if (highest - lowest > span.image.imageCapacity)
        return Refuse(span, lowest, highest, kReasonBeyondCapacity);
    if (!span.stored) {
        span.origin = first;
        span.stored = true;
    } else if (first < span.origin) {
        image_span_detail::MoveOriginBelow(span, highest);
    }
    span.lowest = lowest;
    span.highest = highest;
    span.limit = std::min(lowest + span.image.imageCapacity, kAddressSpaceEnd);
    span.writePosition = static_cast<std::uint32_t>(first - span.origin);
    return nullptr;
}

// Places a piece of `count` bytes at `first`: sets the write position, where the caller
// then stores the bytes, or returns why the piece is refused. Changes nothing when it
// refuses, and placing the same piece twice gives the same state.
inline const char* PlaceSpan(ImageSpan& span, std::uint64_t first, std::uint32_t count) {
    if (count == 0) return nullptr;  // stores nothing, so it takes no part in the span
    const std::uint64_t end = first + count;
    // What nearly every piece of a file does: lands at or above the lowest byte stored,
    // within the capacity from it and within the address space.
    if (first >= span.lowest && end <= span.limit) {
        if (end > span.highest) span.highest = end;
        span.writePosition = static_cast<std::uint32_t>(first - span.origin);
        return nullptr;
    }
    return PlaceAnySpan(span, first, end);
}

// At the end of the file: the image becomes the span of the stored bytes, moved to the
// start of the storage, with the rest of the capacity erased; nothing stored leaves
// imageStart and imageLength 0. Returns why the image is refused, or nullptr.
const char* FinishSpan(ImageSpan& span);
