#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "image/FirmwareImage.h"

// Result codes of the Intel HEX reader (-1 is not used), which the S-record and ELF
// readers give too.
enum HexResult : int {
    HexOk = 0,
    HexTooLarge = -2,     // the image would span more than imageCapacity or end beyond the
                          // 32-bit address space; a file too long to hold such an image
    HexBadFormat = -3,    // empty file, malformed record, truncated text, no end-of-file record
    HexBadChecksum = -4,  // a record's checksum does not match
    HexOpenFailed = -5,   // the file cannot be opened or read whole
};

// "HexOk", "HexTooLarge", ...
const char* HexResultName(HexResult result);

// The longest file that ReadHexFile reads; a longer one is refused unread. No HEX text of
// an image within the 1 MiB capacity comes near it: in the longest form of valid records,
// every image byte alone in a data record (":01" address "00" byte checksum, CR LF: 15
// bytes) after an extended linear and an extended segment address record of its own (17
// bytes each) takes 49 bytes, 49 MiB for the whole capacity. 64 bytes an image byte leave
// room for blanks and start address records.
inline constexpr std::uint64_t kMaxHexTextSize = std::uint64_t{64} * kImageCapacity;

// The cursor of the line splitter over one text.
struct LineCursor {
    std::size_t lineStart = 0;  // where the next line begins
    std::size_t lineEnd = 0;    // offset of the last line end found, or the text length
};

// Delivers the next line and returns true, or returns false when the text is exhausted.
// A line ends at a line feed or at a carriage return alone; the line feed or the lone
// carriage return is not part of it (of CR LF the carriage return stays). A final line
// end yields no extra empty line; two in a row yield an empty one.
bool NextLine(const std::uint8_t* text, std::size_t size, LineCursor& cursor,
              std::string_view& line);

// Where and why a read failed: the line (counted from 1; 0 for the file as a whole) and
// a short English reason, for a log or the command line.
struct HexDiagnosis {
    std::size_t lineNumber = 0;
    // What lineNumber counts where a reader counts more than one kind of place (the ELF
    // reader: "segment" or "section"); nullptr: the place its file reading names.
    const char* place = nullptr;
    const char* reason = "";
    // For HexTooLarge: the addresses the image or record would have spanned (the first,
    // and one past the last).
    std::uint64_t spanFirst = 0;
    std::uint64_t spanEnd = 0;
};

// Fills `image` from Intel HEX text. The image spans from the lowest to the highest byte
// that any data record stores, whatever the order of the records: imageStart is the
// lowest address, gaps are 0xFF, and where records overlap the later one wins. It works
// in the first 2 * imageCapacity bytes of imageBuffer; after a success the bytes from
// imageLength up to imageCapacity are 0xFF. On failure the image's bytes, imageStart and
// imageLength are undefined: callers read into a staging image. Never throws.
HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image);
HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                      HexDiagnosis& diagnosis);

// The same reading with every record taken through the exact field conversion, without
// the fast path for plain records. Slower; it exists to check the fast path against.
HexResult ReadHexTextExact(const std::uint8_t* text, std::size_t size, FirmwareImage& image);

// Reads the whole file through the common file reading and parses it with `reader`
// (ReadHexText, ReadSrecText, the ELF reader); the results as for ReadHexFile, named after
// `format` ("Hex", "Srec", "Elf") in `detail`, where a diagnosis's number counts `places`
// ("line", "segment").
using ImageReader = HexResult (*)(const std::uint8_t* bytes, std::size_t size, FirmwareImage& image,
                                  HexDiagnosis& diagnosis);
HexResult ReadImageFile(const std::filesystem::path& path, FirmwareImage& image,
                        std::string& detail, ImageReader reader, const char* format,
                        const char* places);

// "HexBadChecksum" as the readers of other formats name it: "SrecBadChecksum", ...
std::string FormatResultName(const char* format, HexResult result);
// `detail` of a failed read: the file, the line (or the segment or section: the
// diagnosis's own place, else `place`) and the reason, the span of a refused image, and
// the result's name.
std::string DiagnosisDetail(const std::string& pathText, const char* place,
                            const HexDiagnosis& diagnosis, HexResult result, const char* format);

// Reads the whole file and parses it as ReadHexText does; HexOpenFailed when the file
// cannot be opened or read whole or is not a regular file, HexTooLarge unread when it is
// longer than kMaxHexTextSize (the bound of every file ReadImageFile reads). Never throws. `detail` says what failed and where.
HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image);
HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image, std::string& detail);
