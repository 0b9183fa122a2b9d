#include "common/MessageCatalogue.h"

#include <utility>

#include "common/FileReading.h"
#include "common/LittleEndian.h"
#include "common/PathText.h"
#include "common/TextFormat.h"

namespace {

constexpr std::uint32_t kMagic = 0x950412DE;
constexpr std::size_t kHeaderSize = 28;  // magic, revision, count, two table offsets, hash table
constexpr std::size_t kRevisionOffset = 4;
constexpr std::size_t kCountOffset = 8;
constexpr std::size_t kOriginalsOffset = 12;
constexpr std::size_t kTranslationsOffset = 16;
constexpr std::size_t kEntrySize = 8;  // a string's length, then its offset
// Revision 1 adds strings that depend on the system (<inttypes.h> formats) in tables of
// their own, beyond the plain ones; the plain tables read the same.
constexpr std::uint32_t kNewestMajorRevision = 1;

std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

bool Refuse(std::string& problem, std::string reason) {
    problem = std::move(reason);
    return false;
}

}  // namespace

std::uint32_t MessageCatalogue::Word(std::size_t offset) const {
    const std::uint8_t* const p = bytes_.data() + offset;
    return bigEndian_ ? ReadBe32(p) : ReadLe32(p);
}

std::string_view MessageCatalogue::StringAt(std::uint32_t table, std::uint32_t index) const {
    // Up to the first NUL, as gettext compares them: a plural entry's singular, and no
    // further than the NUL that Take found at the string's end.
    const std::size_t entry = table + std::size_t{index} * kEntrySize;
    return reinterpret_cast<const char*>(bytes_.data()) + Word(entry + 4);
}

bool MessageCatalogue::Take(std::vector<std::uint8_t> bytes, std::string& problem) {
    bytes_.clear();
    count_ = 0;
    if (bytes.size() < kHeaderSize)
        return Refuse(problem, Format("it is %zu bytes long, shorter than the header of a "
                                      "compiled catalogue (%zu bytes)",
                                      bytes.size(), kHeaderSize));
    if (ReadLe32(bytes.data()) == kMagic) {
        bigEndian_ = false;
    } else if (ReadBe32(bytes.data()) == kMagic) {
        bigEndian_ = true;
    } else {
        return Refuse(problem, "it does not begin with the magic number of a compiled catalogue");
    }
    bytes_ = std::move(bytes);
    const std::size_t size = bytes_.size();
    const std::uint32_t revision = Word(kRevisionOffset);
    const std::uint32_t count = Word(kCountOffset);
    const std::uint32_t originals = Word(kOriginalsOffset);
    const std::uint32_t translations = Word(kTranslationsOffset);
    const auto fail = [&](std::string reason) {
        bytes_.clear();
        return Refuse(problem, std::move(reason));
    };
    if ((revision >> 16) > kNewestMajorRevision)
        return fail(Format("its format revision %u.%u is newer than this program reads",
                           revision >> 16, revision & 0xFFFF));
    // In 64 bits, where a count and an offset of 32 bits cannot wrap the sum.
    const std::uint64_t tableSize = std::uint64_t{count} * kEntrySize;
    for (const std::uint32_t table : {originals, translations}) {
        if (table > size || tableSize > size - table)
            return fail(Format("its string tables (%u strings) lie beyond its end (%zu bytes)",
                               count, size));
    }
    for (const std::uint32_t table : {originals, translations}) {
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t entry = table + std::size_t{i} * kEntrySize;
            const std::uint64_t length = Word(entry);
            const std::uint64_t offset = Word(entry + 4);
            // msgfmt ends every string with a NUL it does not count.
            if (offset >= size || length > size - offset - 1 || bytes_[offset + length] != 0)
                return fail(Format("its %s %u lies beyond its end or lacks its closing NUL",
                                   table == originals ? "original" : "translation", i));
        }
    }
    // The binary search finds only what is in order, as strcmp orders it.
    for (std::uint32_t i = 1; i < count; ++i) {
        if (!(StringAt(originals, i - 1) < StringAt(originals, i)))
            return fail(Format("its originals %u and %u are out of order", i - 1, i));
    }
    count_ = count;
    originals_ = originals;
    translations_ = translations;
    return true;
}

const char* MessageCatalogue::Find(std::string_view original) const {
    std::uint32_t low = 0;
    std::uint32_t high = count_;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        const int order = StringAt(originals_, middle).compare(original);
        if (order == 0) {
            const std::string_view translation = StringAt(translations_, middle);
            return translation.empty() ? nullptr : translation.data();
        }
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

bool ReadMessageCatalogue(const std::filesystem::path& path, MessageCatalogue& catalogue,
                          std::string& problem) {
    InputFile file;
    std::string detail;
    if (file.Open(path, detail) != FileReadStatus::Ok) return Refuse(problem, detail);
    if (file.Size() > kMaxCatalogueSize)
        return Refuse(problem, Format("'%s' is %llu bytes long, more than a catalogue can be",
                                      Utf8OfPath(path).c_str(),
                                      static_cast<unsigned long long>(file.Size())));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
    if (!bytes.empty() && file.ReadInto(bytes.data(), detail) != FileReadStatus::Ok)
        return Refuse(problem, detail);
    std::string reason;
    if (!catalogue.Take(std::move(bytes), reason))
        return Refuse(problem, Format("'%s' is no catalogue this program reads: %s",
                                      Utf8OfPath(path).c_str(), reason.c_str()));
    return true;
}
