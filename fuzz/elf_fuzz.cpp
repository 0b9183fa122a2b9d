// Any bytes as an ELF file, read through libelf. A malformed file must be refused, never
// crash or read beyond its bytes; a file that loads must give an image within the
// capacity and the address space, with the capacity beyond it erased, and nothing may
// touch anything beyond the image storage.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/ElfReader.h"

namespace {

constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kGuardSize = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> storage(kImageStorageSize + kGuardSize, kGuard);
    // libelf may work in the bytes: a copy of exactly their size, so that ASan sees any
    // read beyond them.
    std::vector<std::uint8_t> bytes(data, data + size);
    FirmwareImage image;
    image.imageBuffer = storage.data();
    HexDiagnosis diagnosis;
    const HexResult result = ReadElfBytes(bytes.data(), bytes.size(), image, diagnosis);
    for (std::size_t i = kImageStorageSize; i < storage.size(); ++i) {
        if (storage[i] != kGuard) std::abort();
    }
    if (result != HexOk) {
        if (result != HexBadFormat && result != HexTooLarge) std::abort();
        if (diagnosis.reason == nullptr || diagnosis.reason[0] == '\0') std::abort();
        return 0;
    }
    if (image.imageLength == 0 || image.imageLength > kImageCapacity) std::abort();
    if (!EndsWithinAddressSpace(image.imageStart, image.imageLength)) std::abort();
    for (std::size_t i = image.imageLength; i < kImageCapacity; ++i) {
        if (storage[i] != 0xFF) std::abort();
    }
    return 0;
}
