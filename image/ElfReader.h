#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "image/FirmwareImage.h"
#include "image/HexReader.h"

// The builds that read ELF files (with libelf) define MARRO_READ_ELF; the others refuse
// them with kNoElfReading.
inline constexpr const char* kNoElfReading = "this build does not read ELF files";

// Fills `image` from the bytes of a 32-bit little-endian ELF file, read by libelf: the
// contents of every PT_LOAD segment that has any (p_filesz > 0) at its load address
// p_paddr, so data that the start-up code copies to RAM comes from where flash holds it;
// the zero fill beyond p_filesz is no part of the image. The HEX reader's rules and
// results: one span from the lowest to the highest byte, gaps 0xFF, a later segment wins
// where segments overlap, HexTooLarge beyond the capacity or the address space. Anything
// that cannot be a firmware image (not ELF, 64-bit, big-endian, no loadable contents, a
// segment table that contradicts the file) is HexBadFormat. `diagnosis.lineNumber` counts
// segments from 1 (0: the file as a whole). libelf may convert `bytes` in place. On
// failure the image is undefined. Never throws.
HexResult ReadElfBytes(std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis);

// The whole file through the common file reading (ReadImageFile: 64 bytes of file for
// each byte of the capacity leave room for symbols and debugging sections, but not
// without end), then ReadElfBytes; `detail` as ReadHexFile gives it, with the segment in
// place of the line.
HexResult ReadElfFile(const std::filesystem::path& path, FirmwareImage& image, std::string& detail);
