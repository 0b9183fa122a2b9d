// Any bytes as the text of a HEX file. The fast path and the exact field conversion must
// agree on the result and, when the text loads, on the image, whatever the order of the
// records; the capacity beyond the image must be erased, and neither may touch anything
// beyond the image storage.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/HexReader.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardSize = 64;

struct Storage {
    std::vector<std::uint8_t> fast = std::vector<std::uint8_t>(kImageStorageSize + kGuardSize, kGuard);
    std::vector<std::uint8_t> exact = std::vector<std::uint8_t>(kImageStorageSize + kGuardSize, kGuard);
};

bool GuardIntact(const std::vector<std::uint8_t>& storage) {
    for (std::size_t i = kImageStorageSize; i < storage.size(); ++i) {
        if (storage[i] != kGuard) return false;
    }
    return true;
}

bool ErasedFrom(const std::uint8_t* storage, std::size_t from) {
    for (std::size_t i = from; i < kImageCapacity; ++i) {
        if (storage[i] != 0xFF) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Storage storage;
    FirmwareImage fast;
    fast.imageBuffer = storage.fast.data();
    FirmwareImage exact;
    exact.imageBuffer = storage.exact.data();

    const HexResult fastResult = ReadHexText(data, size, fast);
    const HexResult exactResult = ReadHexTextExact(data, size, exact);
    if (fastResult != exactResult) std::abort();
    if (fastResult == HexOk) {
        if (fast.imageStart != exact.imageStart || fast.imageLength != exact.imageLength) std::abort();
        if (fast.imageLength > kImageCapacity) std::abort();
        if (std::uint64_t{fast.imageStart} + fast.imageLength > kAddressSpaceEnd) std::abort();
        if (std::memcmp(storage.fast.data(), storage.exact.data(), kImageCapacity) != 0) std::abort();
        if (!ErasedFrom(storage.fast.data(), fast.imageLength)) std::abort();
    }
    if (!GuardIntact(storage.fast) || !GuardIntact(storage.exact)) std::abort();
    return 0;
}
