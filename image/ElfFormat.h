#pragma once
#include <cstddef>
#include <cstdint>

#include "common/LittleEndian.h"

// The parts of a 32-bit little-endian ELF file that firmware images use: the file header,
// the entries of the segment (program header) table and of the section table, and the
// constants of their fields. Each entry is decoded from, or encoded into, bytes the caller
// has checked to lie within the file; the ELF names of the fields are in the comments.

// e_ident: the magic, then the class, byte order and version of the file.
inline constexpr std::uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
inline constexpr std::size_t kElfIdentSize = 16;  // EI_NIDENT
inline constexpr std::size_t kElfIdentClass = 4;
inline constexpr std::size_t kElfIdentByteOrder = 5;
inline constexpr std::size_t kElfIdentVersion = 6;
inline constexpr std::uint8_t kElfClass32 = 1;         // ELFCLASS32
inline constexpr std::uint8_t kElfClass64 = 2;         // ELFCLASS64
inline constexpr std::uint8_t kElfLittleEndian = 1;    // ELFDATA2LSB
inline constexpr std::uint8_t kElfBigEndian = 2;       // ELFDATA2MSB
inline constexpr std::uint8_t kElfCurrentVersion = 1;  // EV_CURRENT, also of e_version

inline constexpr std::size_t kElfFileHeaderSize = 52;    // sizeof(Elf32_Ehdr)
inline constexpr std::size_t kElfSegmentEntrySize = 32;  // sizeof(Elf32_Phdr)
inline constexpr std::size_t kElfSectionEntrySize = 40;  // sizeof(Elf32_Shdr)

inline constexpr std::uint16_t kElfExecutable = 2;                // ET_EXEC
inline constexpr std::uint16_t kElfMachineArm = 40;               // EM_ARM
inline constexpr std::uint32_t kElfArmEabiVersion5 = 0x05000000;  // EF_ARM_EABI_VER5
// e_phnum of a file with more segments than 16 bits count: section 0's sh_info has the
// number (PN_XNUM).
inline constexpr std::uint16_t kElfManySegments = 0xFFFF;

inline constexpr std::uint32_t kElfSegmentLoad = 1;     // PT_LOAD
inline constexpr std::uint32_t kElfSegmentExecute = 1;  // PF_X
inline constexpr std::uint32_t kElfSegmentWrite = 2;    // PF_W
inline constexpr std::uint32_t kElfSegmentRead = 4;     // PF_R

inline constexpr std::uint32_t kElfSectionProgramData = 1;  // SHT_PROGBITS
inline constexpr std::uint32_t kElfSectionStrings = 3;      // SHT_STRTAB
inline constexpr std::uint32_t kElfSectionNoData = 8;       // SHT_NOBITS: memory only, as .bss
inline constexpr std::uint32_t kElfSectionWrite = 1;        // SHF_WRITE
inline constexpr std::uint32_t kElfSectionAllocated = 2;    // SHF_ALLOC: occupies memory
inline constexpr std::uint32_t kElfSectionExecute = 4;      // SHF_EXECINSTR

// The file header after e_ident.
struct ElfFileHeader {
    std::uint16_t type = 0;                // e_type
    std::uint16_t machine = 0;             // e_machine
    std::uint32_t version = 0;             // e_version
    std::uint32_t entry = 0;               // e_entry
    std::uint32_t segmentTableOffset = 0;  // e_phoff
    std::uint32_t sectionTableOffset = 0;  // e_shoff
    std::uint32_t flags = 0;               // e_flags
    std::uint16_t headerSize = 0;          // e_ehsize
    std::uint16_t segmentEntrySize = 0;    // e_phentsize
    std::uint16_t segmentCount = 0;        // e_phnum
    std::uint16_t sectionEntrySize = 0;    // e_shentsize
    std::uint16_t sectionCount = 0;        // e_shnum
    std::uint16_t sectionNamesIndex = 0;   // e_shstrndx
};

// A segment table entry.
struct ElfSegment {
    std::uint32_t type = 0;             // p_type
    std::uint32_t fileOffset = 0;       // p_offset
    std::uint32_t virtualAddress = 0;   // p_vaddr: where the program runs it
    std::uint32_t physicalAddress = 0;  // p_paddr: where it is loaded, in flash
    std::uint32_t fileSize = 0;         // p_filesz: the bytes stored in the file
    std::uint32_t memorySize = 0;       // p_memsz
    std::uint32_t flags = 0;            // p_flags
    std::uint32_t align = 0;            // p_align
};

// A section table entry.
struct ElfSection {
    std::uint32_t name = 0;        // sh_name: offset in the section name table
    std::uint32_t type = 0;        // sh_type
    std::uint32_t flags = 0;       // sh_flags
    std::uint32_t address = 0;     // sh_addr
    std::uint32_t fileOffset = 0;  // sh_offset
    std::uint32_t size = 0;        // sh_size
    std::uint32_t link = 0;        // sh_link
    std::uint32_t info = 0;        // sh_info
    std::uint32_t align = 0;       // sh_addralign
    std::uint32_t entrySize = 0;   // sh_entsize
};

// From kElfFileHeaderSize bytes at the start of the file.
inline ElfFileHeader ReadElfFileHeader(const std::uint8_t* file) {
    ElfFileHeader h;
    h.type = ReadLe16(file + 16);
    h.machine = ReadLe16(file + 18);
    h.version = ReadLe32(file + 20);
    h.entry = ReadLe32(file + 24);
    h.segmentTableOffset = ReadLe32(file + 28);
    h.sectionTableOffset = ReadLe32(file + 32);
    h.flags = ReadLe32(file + 36);
    h.headerSize = ReadLe16(file + 40);
    h.segmentEntrySize = ReadLe16(file + 42);
    h.segmentCount = ReadLe16(file + 44);
    h.sectionEntrySize = ReadLe16(file + 46);
    h.sectionCount = ReadLe16(file + 48);
    h.sectionNamesIndex = ReadLe16(file + 50);
    return h;
}

// Into kElfFileHeaderSize bytes, with e_ident of a current 32-bit little-endian file.
inline void WriteElfFileHeader(std::uint8_t* file, const ElfFileHeader& h) {
    for (std::size_t i = 0; i < kElfIdentSize; ++i) file[i] = 0;
    for (std::size_t i = 0; i < sizeof kElfMagic; ++i) file[i] = kElfMagic[i];
    file[kElfIdentClass] = kElfClass32;
    file[kElfIdentByteOrder] = kElfLittleEndian;
    file[kElfIdentVersion] = kElfCurrentVersion;
    WriteLe16(file + 16, h.type);
    WriteLe16(file + 18, h.machine);
    WriteLe32(file + 20, h.version);
    WriteLe32(file + 24, h.entry);
    WriteLe32(file + 28, h.segmentTableOffset);
    WriteLe32(file + 32, h.sectionTableOffset);
    WriteLe32(file + 36, h.flags);
    WriteLe16(file + 40, h.headerSize);
    WriteLe16(file + 42, h.segmentEntrySize);
    WriteLe16(file + 44, h.segmentCount);
    WriteLe16(file + 46, h.sectionEntrySize);
    WriteLe16(file + 48, h.sectionCount);
    WriteLe16(file + 50, h.sectionNamesIndex);
}

// From kElfSegmentEntrySize bytes.
inline ElfSegment ReadElfSegment(const std::uint8_t* entry) {
    ElfSegment s;
    s.type = ReadLe32(entry + 0);
    s.fileOffset = ReadLe32(entry + 4);
    s.virtualAddress = ReadLe32(entry + 8);
    s.physicalAddress = ReadLe32(entry + 12);
    s.fileSize = ReadLe32(entry + 16);
    s.memorySize = ReadLe32(entry + 20);
    s.flags = ReadLe32(entry + 24);
    s.align = ReadLe32(entry + 28);
    return s;
}

inline void WriteElfSegment(std::uint8_t* entry, const ElfSegment& s) {
    WriteLe32(entry + 0, s.type);
    WriteLe32(entry + 4, s.fileOffset);
    WriteLe32(entry + 8, s.virtualAddress);
    WriteLe32(entry + 12, s.physicalAddress);
    WriteLe32(entry + 16, s.fileSize);
    WriteLe32(entry + 20, s.memorySize);
    WriteLe32(entry + 24, s.flags);
    WriteLe32(entry + 28, s.align);
}

// From kElfSectionEntrySize bytes.
inline ElfSection ReadElfSection(const std::uint8_t* entry) {
    ElfSection s;
    s.name = ReadLe32(entry + 0);
    s.type = ReadLe32(entry + 4);
    s.flags = ReadLe32(entry + 8);
    s.address = ReadLe32(entry + 12);
    s.fileOffset = ReadLe32(entry + 16);
    s.size = ReadLe32(entry + 20);
    s.link = ReadLe32(entry + 24);
    s.info = ReadLe32(entry + 28);
    s.align = ReadLe32(entry + 32);
    s.entrySize = ReadLe32(entry + 36);
    return s;
}

inline void WriteElfSection(std::uint8_t* entry, const ElfSection& s) {
    WriteLe32(entry + 0, s.name);
    WriteLe32(entry + 4, s.type);
    WriteLe32(entry + 8, s.flags);
    WriteLe32(entry + 12, s.address);
    WriteLe32(entry + 16, s.fileOffset);
    WriteLe32(entry + 20, s.size);
    WriteLe32(entry + 24, s.link);
    WriteLe32(entry + 28, s.info);
    WriteLe32(entry + 32, s.align);
    WriteLe32(entry + 36, s.entrySize);
}
