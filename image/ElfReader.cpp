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
constexpr const char* kReasonNoSectionTable = "the section table cannot be read";
constexpr const char* kReasonSectionBeyondFile =
    "the section's contents (sh_offset + sh_size) lie beyond the end of the file";
constexpr const char* kReasonNoSectionContents =
    "no allocated section has contents (SHF_ALLOC, not SHT_NOBITS, sh_size > 0)";

constexpr const char* kPlaceSegment = "segment";
constexpr const char* kPlaceSection = "section";

struct ElfCloser {
    Elf* elf;
    ~ElfCloser() { elf_end(elf); }
};

// A refusal of the file as a whole.
HexResult Fail(HexDiagnosis& diagnosis, const char* reason, HexResult result = HexBadFormat) {
    diagnosis.lineNumber = 0;
    diagnosis.reason = reason;
    return result;
}

// A refusal of one entry: `number` counts segments from 1, sections by their index in the
// section table (as readelf shows them).
HexResult FailAt(HexDiagnosis& diagnosis, const char* place, std::size_t number, const char* reason,
                 HexResult result = HexBadFormat) {
    Fail(diagnosis, reason, result);
    diagnosis.place = place;
    diagnosis.lineNumber = number;
    return result;
}

HexResult RefuseSpan(HexDiagnosis& diagnosis, const ImageSpan& span, const char* place,
                     std::size_t number, const char* refusal) {
    diagnosis.spanFirst = span.refusedFirst;
    diagnosis.spanEnd = span.refusedEnd;
    return FailAt(diagnosis, place, number, refusal, HexTooLarge);
}

// Places `count` bytes of the file from `offset` at `address`, or says why not.
const char* Store(ImageSpan& span, const std::uint8_t* bytes, std::uint64_t offset,
                  std::uint64_t address, std::uint32_t count) {
    if (const char* refusal = PlaceSpan(span, address, count)) return refusal;
    std::memcpy(span.image.imageBuffer + span.writePosition, bytes + offset, count);
    return nullptr;
}

bool IsLoadWithContents(const GElf_Phdr& segment) {
    return segment.p_type == PT_LOAD && segment.p_filesz > 0;
}

// The PT_LOAD segment whose stored bytes hold the section's, at the addresses of its
// memory, as the linker's section-to-segment mapping puts it.
bool Holds(const GElf_Phdr& segment, const GElf_Shdr& section) {
    return IsLoadWithContents(segment) && segment.p_offset <= section.sh_offset &&
           section.sh_offset + section.sh_size <= segment.p_offset + segment.p_filesz &&
           segment.p_vaddr <= section.sh_addr &&
           section.sh_addr + section.sh_size <= segment.p_vaddr + segment.p_memsz;
}

// The image as objcopy -O binary makes it: the bytes of every allocated section with
// contents at its load address, its address moved by the load offset (p_paddr - p_vaddr)
// of the segment that holds it, or its own address when none does (as objcopy takes it).
// What a segment holds besides, the ELF and segment headers the linker may put in the
// first one and the padding between sections, stays out, and is 0xFF in the image.
HexResult PlaceSections(Elf* elf, const std::uint8_t* bytes, std::size_t size, std::size_t sections,
                        std::size_t segments, ImageSpan& span, HexDiagnosis& diagnosis) {
    for (std::size_t i = 1; i < sections; ++i) {  // entry 0 is reserved
        GElf_Shdr section;
        Elf_Scn* const entry = elf_getscn(elf, i);
        if (entry == nullptr || gelf_getshdr(entry, &section) == nullptr)
            return FailAt(diagnosis, kPlaceSection, i, kReasonNoSectionTable);
        if ((section.sh_flags & SHF_ALLOC) == 0 || section.sh_type == SHT_NOBITS ||
            section.sh_size == 0)
            continue;
        if (std::uint64_t{section.sh_offset} + section.sh_size > size)
            return FailAt(diagnosis, kPlaceSection, i, kReasonSectionBeyondFile);
        std::uint64_t address = section.sh_addr;
        for (std::size_t k = 0; k < segments; ++k) {
            GElf_Phdr segment;
            if (gelf_getphdr(elf, static_cast<int>(k), &segment) != nullptr &&
                Holds(segment, section)) {
                // Addresses of a 32-bit file: the sum may pass 2^32, which PlaceSpan refuses.
                address = (section.sh_addr - segment.p_vaddr) + segment.p_paddr;
                break;
            }
        }
        if (const char* refusal = Store(span, bytes, section.sh_offset, address,
                                        static_cast<std::uint32_t>(section.sh_size)))
            return RefuseSpan(diagnosis, span, kPlaceSection, i, refusal);
    }
    if (!span.stored) return Fail(diagnosis, kReasonNoSectionContents);
    return HexOk;
}

}  // namespace

HexResult ReadElfBytes(std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis) {
    image.imageStart = 0;
    image.imageLength = 0;
    diagnosis = HexDiagnosis{};
    static std::once_flag versionSet;
    std::call_once(versionSet, [] { elf_version(EV_CURRENT); });

    if (size < EI_NIDENT) return Fail(diagnosis, kReasonNotElf);
    Elf* const elf = elf_memory(reinterpret_cast<char*>(bytes), size);
    if (elf == nullptr) return Fail(diagnosis, elf_errmsg(-1));
    const ElfCloser closer{elf};
    if (elf_kind(elf) != ELF_K_ELF) return Fail(diagnosis, kReasonNotElf);
    std::size_t identSize = 0;
    const char* const ident = elf_getident(elf, &identSize);
    if (ident == nullptr || identSize < EI_NIDENT) return Fail(diagnosis, kReasonNotElf);
    if (ident[EI_CLASS] == ELFCLASS64) return Fail(diagnosis, kReason64Bit);
    if (ident[EI_CLASS] != ELFCLASS32) return Fail(diagnosis, kReasonNot32Bit);
    if (ident[EI_DATA] == ELFDATA2MSB) return Fail(diagnosis, kReasonBigEndian);
    if (ident[EI_DATA] != ELFDATA2LSB) return Fail(diagnosis, kReasonNotLittleEndian);
    GElf_Ehdr header;
    if (gelf_getehdr(elf, &header) == nullptr) return Fail(diagnosis, kReasonNoHeader);
    std::size_t segments = 0;
    if (elf_getphdrnum(elf, &segments) != 0 || segments == 0)
        return Fail(diagnosis, kReasonNoSegmentTable);

    // The segments are checked whichever way the image is made: an executable whose
    // segment table contradicts the file is no firmware image.
    bool contents = false;
    for (std::size_t i = 0; i < segments; ++i) {
        // A copy of each entry: libelf may hand out the table where it lies in the file,
        // at whatever alignment the file gave it.
        GElf_Phdr segment;
        if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr)
            return Fail(diagnosis, kReasonNoSegmentTable);
        if (!IsLoadWithContents(segment)) continue;
        if (std::uint64_t{segment.p_offset} + segment.p_filesz > size)
            return FailAt(diagnosis, kPlaceSegment, i + 1, kReasonBeyondFile);
        if (segment.p_filesz > segment.p_memsz)
            return FailAt(diagnosis, kPlaceSegment, i + 1, kReasonFileBeyondMemory);
        contents = true;
    }
    if (!contents) return Fail(diagnosis, kReasonNoContents);
    std::size_t sections = 0;
    if (elf_getshdrnum(elf, &sections) != 0) return Fail(diagnosis, kReasonNoSectionTable);

    std::memset(image.imageBuffer, 0xFF, image.imageCapacity);
    ImageSpan span{image};
    if (sections > 0) {
        const HexResult placed =
            PlaceSections(elf, bytes, size, sections, segments, span, diagnosis);
        if (placed != HexOk) return placed;
    } else {
        // A file without a section table (stripped of it, or made by a tool that writes
        // none): objcopy then makes its sections of the segments, so the image is the
        // stored bytes of every PT_LOAD segment at its load address p_paddr. The zero
        // fill beyond p_filesz is no part of it.
        for (std::size_t i = 0; i < segments; ++i) {
            GElf_Phdr segment;
            if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr ||
                !IsLoadWithContents(segment))
                continue;
            // Both fit 32 bits: they come from a 32-bit file.
            if (const char* refusal = Store(span, bytes, segment.p_offset, segment.p_paddr,
                                            static_cast<std::uint32_t>(segment.p_filesz)))
                return RefuseSpan(diagnosis, span, kPlaceSegment, i + 1, refusal);
        }
    }
    if (const char* refusal = FinishSpan(span))
        return RefuseSpan(diagnosis, span, nullptr, 0, refusal);
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
