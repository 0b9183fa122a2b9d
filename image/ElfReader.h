#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "image/FirmwareImage.h"
#include "image/HexReader.h"

// Fills `image` from the bytes of a 32-bit little-endian ELF file, as objcopy -O binary
// images it: the contents of every allocated section that has any (SHF_ALLOC, not
// SHT_NOBITS, sh_size > 0) at its load address, sh_addr moved by p_paddr - p_vaddr of the
// first PT_LOAD segment that holds it, so data that the start-up code copies to RAM comes
// from where flash holds it. The ELF and segment headers that a linker may put in the
// first segment and the padding between sections are no part of the image. A file without
// a section table gives the stored bytes (p_filesz) of every PT_LOAD segment at p_paddr,
// as objcopy takes such a file. The HEX reader's rules and results: one span from the
// lowest to the highest byte, gaps 0xFF, a later section wins where sections overlap,
// HexTooLarge beyond the capacity or the address space. Anything that cannot be a
// firmware image (not ELF, 64-bit, big-endian, no PT_LOAD segment or no allocated section
// with contents, a segment or section table that contradicts the file) is HexBadFormat.
// `diagnosis.lineNumber` counts segments from 1 or gives a section's index,
// `diagnosis.place` says which (0: the file as a whole). Reads nothing outside the `size`
// bytes, whatever their offsets and sizes say. On failure the image is undefined. Never
// throws.
HexResult ReadElfBytes(const std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis);

// The whole file through the common file reading (ReadImageFile: 64 bytes of file for
// each byte of the capacity leave room for symbols and debugging sections, but not
// without end), then ReadElfBytes; `detail` as ReadHexFile gives it, with the segment or
// section in place of the line.
HexResult ReadElfFile(const std::filesystem::path& path, FirmwareImage& image, std::string& detail);
