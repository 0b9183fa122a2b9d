// Any bytes as the text of a Motorola S-record file. A text that loads must give an image
// within the capacity and the address space, with the capacity beyond it erased, and the
// S-record text written of that image must read back to the same image; nothing may
// touch anything beyond the image storage.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/HexWriter.h"
#include "image/SrecReader.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardSize = 64;

struct Storage {
    std::vector<std::uint8_t> read =
        std::vector<std::uint8_t>(kImageStorageSize + kGuardSize, kGuard);
    std::vector<std::uint8_t> again =
        std::vector<std::uint8_t>(kImageStorageSize + kGuardSize, kGuard);
};

bool GuardIntact(const std::vector<std::uint8_t>& storage) {
    for (std::size_t i = kImageStorageSize; i < storage.size(); ++i) {
        if (storage[i] != kGuard) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Storage storage;
    FirmwareImage image;
    image.imageBuffer = storage.read.data();
    HexDiagnosis diagnosis;
    const HexResult result = ReadSrecText(data, size, image, diagnosis);
    if (!GuardIntact(storage.read)) std::abort();
    if (result != HexOk) return 0;
    if (image.imageLength > kImageCapacity) std::abort();
    if (!EndsWithinAddressSpace(image.imageStart, image.imageLength)) std::abort();
    for (std::size_t i = image.imageLength; i < kImageCapacity; ++i) {
        if (storage.read[i] != 0xFF) std::abort();
    }
    if (image.imageLength == 0) return 0;

    const std::string text = SrecTextOf(image.imageBuffer, image.imageLength, image.imageStart);
    FirmwareImage again;
    again.imageBuffer = storage.again.data();
    if (ReadSrecText(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), again,
                     diagnosis) != HexOk)
        std::abort();
    if (again.imageStart != image.imageStart || again.imageLength != image.imageLength)
        std::abort();
    if (std::memcmp(storage.read.data(), storage.again.data(), image.imageLength) != 0)
        std::abort();
    if (!GuardIntact(storage.again)) std::abort();
    return 0;
}
