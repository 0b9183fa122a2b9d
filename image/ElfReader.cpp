#include "image/ElfReader.h"

#include <cstring>

#include "image/ElfFormat.h"
#include "image/ImageSpan.h"

namespace {

constexpr const char* kReasonNotElf = "the file is not an ELF file";
constexpr const char* kReason64Bit = "a 64-bit ELF file; firmware images are 32-bit ELF files";
constexpr const char* kReasonNot32Bit = "the ELF class is not 32-bit";
constexpr const char* kReasonBigEndian =
    "a big-endian ELF file; firmware images are little-endian ELF files";
constexpr const char* kReasonNotLittleEndian = "the ELF byte order is not little-endian";
constexpr const char* kReasonNotCurrentVersion = "the ELF version is not 1 (EV_CURRENT)";
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

// Whether `count` bytes from `offset` lie within a file of `size` bytes. The sum is taken
// in 64 bits, where 32-bit fields cannot wrap it.
bool WithinFile(std::uint64_t offset, std::uint64_t count, std::size_t size) {
    return offset <= size && count <= size - offset;
}

// A table of equal entries in the file, checked to lie within it.
struct ElfTable {
    const std::uint8_t* first = nullptr;
    std::uint64_t count = 0;
};

// The section table, or nullptr as the reason it cannot be read. None when e_shoff is 0.
// A file of 0xFF00 sections or more has e_shnum 0 and their number in sh_size of entry 0,
// which is reserved otherwise (as is its sh_info, for the segment count).
const char* FindSectionTable(const std::uint8_t* bytes, std::size_t size,
                             const ElfFileHeader& header, ElfTable& table) {
    table = {};
    if (header.sectionTableOffset == 0) return nullptr;
    // objcopy refuses other entry sizes too; entry 0 is needed for the count.
    if (header.sectionEntrySize != kElfSectionEntrySize ||
        !WithinFile(header.sectionTableOffset, kElfSectionEntrySize, size))
        return kReasonNoSectionTable;
    const std::uint8_t* const first = bytes + header.sectionTableOffset;
    const std::uint64_t count =
        header.sectionCount != 0 ? header.sectionCount : ReadElfSection(first).size;
    if (!WithinFile(header.sectionTableOffset, count * kElfSectionEntrySize, size))
        return kReasonNoSectionTable;
    table = {first, count};
    return nullptr;
}

const char* FindSegmentTable(const std::uint8_t* bytes, std::size_t size,
                             const ElfFileHeader& header, const ElfTable& sections,
                             ElfTable& table) {
    std::uint64_t count = header.segmentCount;
    if (count == kElfManySegments) {
        if (sections.count == 0) return kReasonNoSegmentTable;
        count = ReadElfSection(sections.first).info;
    }
    if (count == 0 || header.segmentEntrySize != kElfSegmentEntrySize ||
        !WithinFile(header.segmentTableOffset, count * kElfSegmentEntrySize, size))
        return kReasonNoSegmentTable;
    table = {bytes + header.segmentTableOffset, count};
    return nullptr;
}

// Places `count` bytes of the file from `offset` at `address`, or says why not.
const char* Store(ImageSpan& span, const std::uint8_t* bytes, std::uint64_t offset,
                  std::uint64_t address, std::uint32_t count) {
    if (const char* refusal = PlaceSpan(span, address, count)) return refusal;
    std::memcpy(span.image.imageBuffer + span.writePosition, bytes + offset, count);
    return nullptr;
}

bool IsLoadWithContents(const ElfSegment& segment) {
    return segment.type == kElfSegmentLoad && segment.fileSize > 0;
}

ElfSegment SegmentAt(const ElfTable& segments, std::size_t index) {
    return ReadElfSegment(segments.first + index * kElfSegmentEntrySize);
}

// Whether the segment's stored bytes hold the section's, at the addresses of its memory,
// as the linker's section-to-segment mapping puts it.
bool Holds(const ElfSegment& segment, const ElfSection& section) {
    return std::uint64_t{segment.fileOffset} <= section.fileOffset &&
           std::uint64_t{section.fileOffset} + section.size <=
               std::uint64_t{segment.fileOffset} + segment.fileSize &&
           segment.virtualAddress <= section.address &&
           std::uint64_t{section.address} + section.size <=
               std::uint64_t{segment.virtualAddress} + segment.memorySize;
}

// The image as objcopy -O binary makes it: the bytes of every allocated section with
// contents at its load address, its address moved by the load offset (p_paddr - p_vaddr)
// of the first segment that holds it, or its own address when none does (as objcopy takes
// it). What a segment holds besides, the ELF and segment headers the linker may put in the
// first one and the padding between sections, stays out, and is 0xFF in the image.
HexResult PlaceSections(const std::uint8_t* bytes, std::size_t size, const ElfTable& sections,
                        const ElfTable& segments, ImageSpan& span, HexDiagnosis& diagnosis) {
    for (std::size_t i = 1; i < sections.count; ++i) {  // entry 0 is reserved
        const ElfSection section = ReadElfSection(sections.first + i * kElfSectionEntrySize);
        if ((section.flags & kElfSectionAllocated) == 0 || section.type == kElfSectionNoData ||
            section.size == 0)
            continue;
        if (!WithinFile(section.fileOffset, section.size, size))
            return FailAt(diagnosis, kPlaceSection, i, kReasonSectionBeyondFile);
        std::uint64_t address = section.address;
        for (std::size_t k = 0; k < segments.count; ++k) {
            const ElfSegment segment = SegmentAt(segments, k);
            if (IsLoadWithContents(segment) && Holds(segment, section)) {
                // The sum may pass 2^32, which PlaceSpan refuses.
                address = std::uint64_t{section.address - segment.virtualAddress} +
                          segment.physicalAddress;
                break;
            }
        }
        if (const char* refusal = Store(span, bytes, section.fileOffset, address, section.size))
            return RefuseSpan(diagnosis, span, kPlaceSection, i, refusal);
    }
    if (!span.stored) return Fail(diagnosis, kReasonNoSectionContents);
    return HexOk;
}

}  // namespace

HexResult ReadElfBytes(const std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis) {
    image.imageStart = 0;
    image.imageLength = 0;
    diagnosis = HexDiagnosis{};

    if (size < kElfIdentSize || std::memcmp(bytes, kElfMagic, sizeof kElfMagic) != 0)
        return Fail(diagnosis, kReasonNotElf);
    if (bytes[kElfIdentClass] == kElfClass64) return Fail(diagnosis, kReason64Bit);
    if (bytes[kElfIdentClass] != kElfClass32) return Fail(diagnosis, kReasonNot32Bit);
    if (bytes[kElfIdentByteOrder] == kElfBigEndian) return Fail(diagnosis, kReasonBigEndian);
    if (bytes[kElfIdentByteOrder] != kElfLittleEndian)
        return Fail(diagnosis, kReasonNotLittleEndian);
    if (bytes[kElfIdentVersion] != kElfCurrentVersion)
        return Fail(diagnosis, kReasonNotCurrentVersion);
    if (size < kElfFileHeaderSize) return Fail(diagnosis, kReasonNoHeader);
    const ElfFileHeader header = ReadElfFileHeader(bytes);
    // The section table first: a file of very many segments keeps their count in it.
    ElfTable sections;
    const char* const noSections = FindSectionTable(bytes, size, header, sections);
    ElfTable segments;
    if (const char* reason = FindSegmentTable(bytes, size, header, sections, segments))
        return Fail(diagnosis, reason);

    // The segments are checked whichever way the image is made: an executable whose
    // segment table contradicts the file is no firmware image.
    bool contents = false;
    for (std::size_t i = 0; i < segments.count; ++i) {
        const ElfSegment segment = SegmentAt(segments, i);
        if (!IsLoadWithContents(segment)) continue;
        if (!WithinFile(segment.fileOffset, segment.fileSize, size))
            return FailAt(diagnosis, kPlaceSegment, i + 1, kReasonBeyondFile);
        if (segment.fileSize > segment.memorySize)
            return FailAt(diagnosis, kPlaceSegment, i + 1, kReasonFileBeyondMemory);
        contents = true;
    }
    if (!contents) return Fail(diagnosis, kReasonNoContents);
    if (noSections != nullptr) return Fail(diagnosis, noSections);

    std::memset(image.imageBuffer, 0xFF, image.imageCapacity);
    ImageSpan span{image};
    if (sections.count > 0) {
        const HexResult placed = PlaceSections(bytes, size, sections, segments, span, diagnosis);
        if (placed != HexOk) return placed;
    } else {
        // A file without a section table (stripped of it, or made by a tool that writes
        // none): objcopy then makes its sections of the segments, so the image is the
        // stored bytes of every PT_LOAD segment at its load address p_paddr. The zero
        // fill beyond p_filesz is no part of it.
        for (std::size_t i = 0; i < segments.count; ++i) {
            const ElfSegment segment = SegmentAt(segments, i);
            if (!IsLoadWithContents(segment)) continue;
            if (const char* refusal = Store(span, bytes, segment.fileOffset,
                                            segment.physicalAddress, segment.fileSize))
                return RefuseSpan(diagnosis, span, kPlaceSegment, i + 1, refusal);
        }
    }
    if (const char* refusal = FinishSpan(span))
        return RefuseSpan(diagnosis, span, nullptr, 0, refusal);
    return HexOk;
}

HexResult ReadElfFile(const std::filesystem::path& path, FirmwareImage& image,
                      std::string& detail) {
    return ReadImageFile(path, image, detail, ReadElfBytes, "Elf", "segment");
}
