// Any bytes as an ELF file. A malformed file must be refused, never crash or read beyond
// its bytes; a file that loads must give an image within the capacity and the address
// space, with the capacity beyond it erased, and nothing may touch anything beyond the
// image storage.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz/GuardedImage.h"
#include "image/ElfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static GuardedImage storage;
    // A copy of exactly their size, so that ASan sees any read beyond them.
    std::vector<std::uint8_t> bytes(data, data + size);
    HexDiagnosis diagnosis;
    const HexResult result = ReadElfBytes(bytes.data(), bytes.size(), storage.image, diagnosis);
    storage.CheckGuard();
    if (result != HexOk) {
        if (result != HexBadFormat && result != HexTooLarge) std::abort();
        if (diagnosis.reason == nullptr || diagnosis.reason[0] == '\0') std::abort();
        return 0;
    }
    if (storage.image.imageLength == 0) std::abort();
    storage.CheckLoaded();
    return 0;
}
