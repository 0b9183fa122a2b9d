#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A compiled message catalogue as msgfmt writes it (the GNU .mo format): a header of
// 32-bit words (the magic number, whose byte order is the file's, the format revision, the
// number of strings and the offsets of the table of originals and of translations), then
// for each string its length and offset. The originals are sorted, so a text is found by
// a binary search. Every table and string is checked against the file's end once, when
// the catalogue is taken; a look-up then reads only what was checked.
class MessageCatalogue {
public:
    // Takes `bytes` as the catalogue. Returns false with `problem` saying what is wrong
    // (too short, another magic number or revision, a table or string beyond the end, a
    // string without its terminating NUL, originals out of order) and holds nothing then.
    // Never throws but for lack of memory.
    bool Take(std::vector<std::uint8_t> bytes, std::string& problem);

    // The translation of `original`, NUL-terminated and valid as long as the catalogue
    // is; nullptr when the catalogue has none or an empty one.
    const char* Find(std::string_view original) const;

    std::uint32_t StringCount() const { return count_; }

private:
    std::uint32_t Word(std::size_t offset) const;
    // String `index` of the table at `table`, checked by Take.
    std::string_view StringAt(std::uint32_t table, std::uint32_t index) const;

    std::vector<std::uint8_t> bytes_;
    bool bigEndian_ = false;
    std::uint32_t count_ = 0;
    std::uint32_t originals_ = 0;
    std::uint32_t translations_ = 0;
};

// Reads the catalogue file at `path` (at most kMaxCatalogueSize bytes) into `catalogue`.
// Returns false with `problem` naming the file and what is wrong with it.
inline constexpr std::size_t kMaxCatalogueSize = std::size_t{16} << 20;
bool ReadMessageCatalogue(const std::filesystem::path& path, MessageCatalogue& catalogue,
                          std::string& problem);
