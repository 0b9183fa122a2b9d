#include "image/ElfWriter.h"

#include <cstring>

#include "image/ElfFormat.h"

namespace {

// Section names: index 0 is the empty name.
constexpr char kSectionNames[] = "\0.data\0.shstrtab";
constexpr std::uint32_t kDataName = 1;
constexpr std::uint32_t kNamesName = 7;

// The file's layout: the header, the one-entry segment table, the image aligned to a word
// (the segment's alignment), the names, then the section table aligned to a word, as
// linkers lay out a file: the reserved entry 0, .data, .shstrtab.
constexpr std::uint32_t kSegmentTableOffset = kElfFileHeaderSize;
constexpr std::uint32_t kDataOffset = kSegmentTableOffset + kElfSegmentEntrySize;
constexpr std::uint32_t kDataAlign = 4;
constexpr std::uint16_t kSectionCount = 3;
constexpr std::uint16_t kNamesIndex = 2;
constexpr std::uint64_t kTrailerLimit =
    sizeof kSectionNames + 3 + kSectionCount * kElfSectionEntrySize;

}  // namespace

bool ElfFileOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start,
               std::vector<std::uint8_t>& file, std::string& detail) {
    // Every offset and size is a 32-bit field.
    if (std::uint64_t{length} > UINT32_MAX - kDataOffset - kTrailerLimit) {
        detail = "the image is too large for a 32-bit ELF file";
        return false;
    }
    const auto imageSize = static_cast<std::uint32_t>(length);
    const std::uint32_t namesOffset = kDataOffset + imageSize;
    const std::uint32_t sectionTableOffset = (namesOffset + sizeof kSectionNames + 3) & ~3u;
    file.assign(sectionTableOffset + kSectionCount * kElfSectionEntrySize, 0);

    ElfFileHeader header;
    header.type = kElfExecutable;
    header.machine = kElfMachineArm;
    header.version = kElfCurrentVersion;
    header.entry = start;
    header.segmentTableOffset = kSegmentTableOffset;
    header.sectionTableOffset = sectionTableOffset;
    header.flags = kElfArmEabiVersion5;
    header.headerSize = kElfFileHeaderSize;
    header.segmentEntrySize = kElfSegmentEntrySize;
    header.segmentCount = 1;
    header.sectionEntrySize = kElfSectionEntrySize;
    header.sectionCount = kSectionCount;
    header.sectionNamesIndex = kNamesIndex;
    WriteElfFileHeader(file.data(), header);

    ElfSegment segment;
    segment.type = kElfSegmentLoad;
    segment.fileOffset = kDataOffset;
    segment.virtualAddress = start;
    segment.physicalAddress = start;
    segment.fileSize = imageSize;
    segment.memorySize = imageSize;
    segment.flags = kElfSegmentRead | kElfSegmentWrite | kElfSegmentExecute;
    segment.align = kDataAlign;
    WriteElfSegment(file.data() + kSegmentTableOffset, segment);

    if (length > 0) std::memcpy(file.data() + kDataOffset, bytes, length);
    std::memcpy(file.data() + namesOffset, kSectionNames, sizeof kSectionNames);

    // Entry 0 stays all zeros.
    ElfSection data;
    data.name = kDataName;
    data.type = kElfSectionProgramData;
    data.flags = kElfSectionAllocated | kElfSectionWrite | kElfSectionExecute;
    data.address = start;
    data.fileOffset = kDataOffset;
    data.size = imageSize;
    data.align = kDataAlign;
    WriteElfSection(file.data() + sectionTableOffset + kElfSectionEntrySize, data);
    ElfSection names;
    names.name = kNamesName;
    names.type = kElfSectionStrings;
    names.fileOffset = namesOffset;
    names.size = sizeof kSectionNames;
    names.align = 1;
    WriteElfSection(file.data() + sectionTableOffset + kNamesIndex * kElfSectionEntrySize, names);
    return true;
}
