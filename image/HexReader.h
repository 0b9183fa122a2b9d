#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "image/FirmwareImage.h"

// Result codes of the Intel HEX reader (-1 is not used).
enum HexResult : int {
    HexOk = 0,
    HexTooLarge = -2,     // a data record would end beyond imageCapacity
    HexBadFormat = -3,    // empty file, malformed record, truncated text, no end-of-file record
    HexBadChecksum = -4,  // a record's checksum does not match
    HexOpenFailed = -5,   // the file cannot be opened or read whole
};

// "HexOk", "HexTooLarge", ...
const char* HexResultName(HexResult result);

// The cursor of the line splitter over one text.
struct LineCursor {
    std::size_t lineStart = 0;  // where the next line begins
    std::size_t lineEnd = 0;    // offset of the last line feed found, or the text length
};

// Delivers the next line (without its line feed; a carriage return stays) and returns
// true, or returns false when the text is exhausted. A final line feed yields no extra
// empty line; two in a row yield an empty one.
bool NextLine(const std::uint8_t* text, std::size_t size, LineCursor& cursor,
              std::string_view& line);

// Where and why a read failed: the line (counted from 1; 0 for the file as a whole) and
// a short English reason, for a log or the command line.
struct HexDiagnosis {
    std::size_t lineNumber = 0;
    const char* reason = "";
};

// Fills `image` from Intel HEX text. On failure the image's bytes, imageStart and
// imageLength are undefined: callers read into a staging image. Never throws.
HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image);
HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                      HexDiagnosis& diagnosis);

// The same reading with every record taken through the exact field conversion, without
// the fast path for plain records. Slower; it exists to check the fast path against.
HexResult ReadHexTextExact(const std::uint8_t* text, std::size_t size, FirmwareImage& image);

// Reads the whole file and parses it as ReadHexText does; HexOpenFailed when the file
// cannot be opened or read whole. Never throws. `detail` says what failed and where.
HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image);
HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image,
                      std::string& detail);
