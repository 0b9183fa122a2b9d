// Any bytes as the text of a HEX file. The fast path and the exact field conversion must
// agree on the result and, when the text loads, on the image; neither may touch the
// storage beyond the capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/HexReader.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;

struct Storage {
    std::vector<std::uint8_t> fast = std::vector<std::uint8_t>(kImageStorageSize, kGuard);
    std::vector<std::uint8_t> exact = std::vector<std::uint8_t>(kImageStorageSize, kGuard);
};

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
        if (std::memcmp(storage.fast.data(), storage.exact.data(), kImageCapacity) != 0) std::abort();
    }
    if (storage.fast[kImageCapacity] != kGuard || storage.fast[kImageStorageSize - 1] != kGuard ||
        storage.exact[kImageCapacity] != kGuard) {
        std::abort();
    }
    return 0;
}
