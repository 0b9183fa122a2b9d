#include "image/ElfReader.h"

#include <gelf.h>
#include <libelf.h>

#include <cstring>
#include <mutex>

#include "image/ImageSpan.h"

namespace {

constexpr const char* kReasonNotElf = "the file is not an ELF file";
constexpr const char* kReason64Bit = "a 64-bit ELF file; firmware images are 32-bit ELF files";
constexpr const char* kReasonNot32Bit = "the ELF class is not 32-bit";
constexpr const char* kReasonBigEndian =
    "a big-endian ELF file; firmware images are little-endian ELF files";
constexpr const char* kReasonNotLittleEndian = "the ELF byte order is not little-endian";
constexpr const char* kReasonNoHeader = "the ELF header cannot be read";
constexpr const char* kReasonNoSegmentTable =
    "the segment table cannot be read: it lies beyond the end of the file or has no entries";
constexpr const char* kReasonBeyondFile =
    "the segment's contents (p_offset + p_filesz) lie beyond the end of the file";
constexpr const char* kReasonFileBeyondMemory =
    "the segment stores more bytes than it occupies (p_filesz > p_memsz)";
constexpr const char* kReasonNoContents = "no PT_LOAD segment has contents (p_filesz > 0)";

struct ElfCloser {
    Elf* elf;
    ~ElfCloser() { elf_end(elf); }
};

HexResult Fail(HexDiagnosis& diagnosis, std::size_t segment, const char* reason,
               HexResult result = HexBadFormat) {
    diagnosis.lineNumber = segment;
    diagnosis.reason = reason;
    return result;
}

}  // namespace

HexResult ReadElfBytes(std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis) {
    image.imageStart = 0;
    image.imageLength = 0;
    diagnosis = HexDiagnosis{};
    static std::once_flag versionSet;
    std::call_once(versionSet, [] { elf_version(EV_CURRENT); });

    if (size < EI_NIDENT) return Fail(diagnosis, 0, kReasonNotElf);
    Elf* const elf = elf_memory(reinterpret_cast<char*>(bytes), size);
    if (elf == nullptr) return Fail(diagnosis, 0, elf_errmsg(-1));
    const ElfCloser closer{elf};
    if (elf_kind(elf) != ELF_K_ELF) return Fail(diagnosis, 0, kReasonNotElf);
    std::size_t identSize = 0;
    const char* const ident = elf_getident(elf, &identSize);
    if (ident == nullptr || identSize < EI_NIDENT) return Fail(diagnosis, 0, kReasonNotElf);
    if (ident[EI_CLASS] == ELFCLASS64) return Fail(diagnosis, 0, kReason64Bit);
    if (ident[EI_CLASS] != ELFCLASS32) return Fail(diagnosis, 0, kReasonNot32Bit);
    if (ident[EI_DATA] == ELFDATA2MSB) return Fail(diagnosis, 0, kReasonBigEndian);
    if (ident[EI_DATA] != ELFDATA2LSB) return Fail(diagnosis, 0, kReasonNotLittleEndian);
    GElf_Ehdr header;
    if (gelf_getehdr(elf, &header) == nullptr) return Fail(diagnosis, 0, kReasonNoHeader);
    std::size_t segments = 0;
    if (elf_getphdrnum(elf, &segments) != 0 || segments == 0)
        return Fail(diagnosis, 0, kReasonNoSegmentTable);

    std::memset(image.imageBuffer, 0xFF, image.imageCapacity);
    ImageSpan span{image};
    for (std::size_t i = 0; i < segments; ++i) {
        // A copy of each entry: libelf may hand out the table where it lies in the file,
        // at whatever alignment the file gave it.
        GElf_Phdr segment;
        if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr)
            return Fail(diagnosis, 0, kReasonNoSegmentTable);
        if (segment.p_type != PT_LOAD || segment.p_filesz == 0) continue;
        if (std::uint64_t{segment.p_offset} + segment.p_filesz > size)
            return Fail(diagnosis, i + 1, kReasonBeyondFile);
        if (segment.p_filesz > segment.p_memsz)
            return Fail(diagnosis, i + 1, kReasonFileBeyondMemory);
        // Both fit 32 bits: they come from a 32-bit file.
        const auto address = static_cast<std::uint32_t>(segment.p_paddr);
        const auto count = static_cast<std::uint32_t>(segment.p_filesz);
        if (const char* refusal = PlaceSpan(span, address, count)) {
            diagnosis.spanFirst = span.refusedFirst;
            diagnosis.spanEnd = span.refusedEnd;
            return Fail(diagnosis, i + 1, refusal, HexTooLarge);
        }
        std::memcpy(image.imageBuffer + span.writePosition, bytes + segment.p_offset, count);
    }
    if (!span.stored) return Fail(diagnosis, 0, kReasonNoContents);
    if (const char* refusal = FinishSpan(span)) {
        diagnosis.spanFirst = span.refusedFirst;
        diagnosis.spanEnd = span.refusedEnd;
        return Fail(diagnosis, 0, refusal, HexTooLarge);
    }
    return HexOk;
}

HexResult ReadElfFile(const std::filesystem::path& path, FirmwareImage& image,
                      std::string& detail) {
    // ReadImageFile hands over its own buffer of the file, which libelf may work in.
    const ImageReader reader = [](const std::uint8_t* bytes, std::size_t size,
                                  FirmwareImage& target, HexDiagnosis& diagnosis) {
        return ReadElfBytes(const_cast<std::uint8_t*>(bytes), size, target, diagnosis);
    };
    return ReadImageFile(path, image, detail, reader, "Elf", "segment");
}
