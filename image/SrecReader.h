#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "image/FirmwareImage.h"
#include "image/HexReader.h"

// Fills `image` from Motorola S-record text, with the HEX reader's rules and results: the
// image spans from the lowest to the highest byte that any S1, S2 or S3 record stores,
// gaps are 0xFF, where records overlap the later one wins; an S7, S8 or S9 record ends
// the text and is required, unless the text ends with an S5 or S6 record (as srec_cat
// writes an image without a start address). Nothing after the end record is read, as the
// HEX reader reads nothing after its end-of-file record, but a data record (S1, S2, S3)
// there is HexBadFormat at its line: its data would otherwise be lost without a word. The S0 header is skipped; an S5 or S6
// record's count must be that of the data records before it. Every record's checksum is checked (HexBadChecksum);
// blank lines are skipped; anything else is HexBadFormat. Lines end in LF, CR LF or CR.
// On failure the image is undefined: callers read into a staging image. Never throws.
HexResult ReadSrecText(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis);

// The whole file through the common file reading, as ReadHexFile reads a HEX file.
HexResult ReadSrecFile(const std::filesystem::path& path, FirmwareImage& image,
                       std::string& detail);
