// Any bytes as the text of a Motorola S-record file. A text that loads must give an image
// within the capacity and the address space, with the capacity beyond it erased, and the
// S-record text written of that image must read back to the same image; nothing may
// touch anything beyond the image storage.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/GuardedImage.h"
#include "image/HexWriter.h"
#include "image/SrecReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static GuardedImage read;
    static GuardedImage again;
    FirmwareImage& image = read.image;
    HexDiagnosis diagnosis;
    const HexResult result = ReadSrecText(data, size, image, diagnosis);
    read.CheckGuard();
    if (result != HexOk) return 0;
    read.CheckLoaded();
    if (image.imageLength == 0) return 0;

    const std::string text = SrecTextOf(image.imageBuffer, image.imageLength, image.imageStart);
    if (ReadSrecText(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), again.image,
                     diagnosis) != HexOk)
        std::abort();
    if (again.image.imageStart != image.imageStart || again.image.imageLength != image.imageLength)
        std::abort();
    if (std::memcmp(read.bytes(), again.bytes(), image.imageLength) != 0) std::abort();
    again.CheckGuard();
    return 0;
}
