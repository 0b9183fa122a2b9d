// Any bytes as the text of a HEX file. The fast path and the exact field conversion must
// agree on the result and, when the text loads, on the image, whatever the order of the
// records; the capacity beyond the image must be erased, and neither may touch anything
// beyond the image storage.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/GuardedImage.h"
#include "image/HexReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static GuardedImage fast;
    static GuardedImage exact;

    const HexResult fastResult = ReadHexText(data, size, fast.image);
    const HexResult exactResult = ReadHexTextExact(data, size, exact.image);
    if (fastResult != exactResult) std::abort();
    if (fastResult == HexOk) {
        if (fast.image.imageStart != exact.image.imageStart ||
            fast.image.imageLength != exact.image.imageLength)
            std::abort();
        if (std::memcmp(fast.bytes(), exact.bytes(), kImageCapacity) != 0) std::abort();
        fast.CheckLoaded();
    }
    fast.CheckGuard();
    exact.CheckGuard();
    return 0;
}
