#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "common/MessageCatalogue.h"
#include "common/Translation.h"
#include "job/IdentifyProgrammer.h"
#include "job/UploadJob.h"
#include "tests/support/TempFolder.h"

namespace {

struct Entry {
    std::string original;
    std::string translation;
};

// A catalogue laid out as msgfmt lays it out, without the optional hash table: the header,
// the table of originals, the table of translations, then the strings, each with its NUL.
std::vector<std::uint8_t> CatalogueOf(const std::vector<Entry>& entries, bool bigEndian = false) {
    const auto n = static_cast<std::uint32_t>(entries.size());
    std::vector<std::uint8_t> bytes(28 + 16 * n);
    const auto word = [&](std::size_t at, std::uint32_t value) {
        if (!bigEndian) return WriteLe32(&bytes[at], value);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    };
    word(0, 0x950412DE);
    word(4, 0);
    word(8, n);
    word(12, 28);
    word(16, 28 + 8 * n);
    word(20, 0);
    word(24, 28 + 16 * n);
    const auto add = [&](std::size_t entry, const std::string& text) {
        word(entry, static_cast<std::uint32_t>(text.size()));
        word(entry + 4, static_cast<std::uint32_t>(bytes.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
    };
    for (std::uint32_t i = 0; i < n; ++i) add(28 + 8 * i, entries[i].original);
    for (std::uint32_t i = 0; i < n; ++i) add(28 + 8 * (n + i), entries[i].translation);
    return bytes;
}

const std::vector<Entry> kEntries = {
    {"", "Content-Type: text/plain; charset=UTF-8\n"},
    {"Ошибка    :09", "Error    :09"},
    {"Ошибка    :10", ""},  // kept untranslated
    {"数据校验错误", "Data verification error"},
};

TEST(MessageCatalogue, FindsEveryTranslationInEitherByteOrder) {
    for (const bool bigEndian : {false, true}) {
        MessageCatalogue catalogue;
        std::string problem;
        ASSERT_TRUE(catalogue.Take(CatalogueOf(kEntries, bigEndian), problem)) << problem;
        EXPECT_EQ(catalogue.StringCount(), kEntries.size());
        EXPECT_STREQ(catalogue.Find("Ошибка    :09"), "Error    :09") << bigEndian;
        EXPECT_STREQ(catalogue.Find("数据校验错误"), "Data verification error") << bigEndian;
        EXPECT_EQ(catalogue.Find("Ошибка    :10"), nullptr) << bigEndian;
        // Before the first original, between two, after the last, and a prefix of one.
        for (const char* missing : {" ", "Ошибка    :095", "Ошибка", "数据校验错误!", "\xff"})
            EXPECT_EQ(catalogue.Find(missing), nullptr) << missing << bigEndian;
    }
}

// A truncated or damaged catalogue is refused whole, with what is wrong, and holds
// nothing after; the byte vectors are exactly the file's size, so ASan sees any read
// beyond its end.
TEST(MessageCatalogue, DamagedCataloguesAreRefusedWhole) {
    const std::vector<std::uint8_t> good = CatalogueOf(kEntries);
    struct Damage {
        const char* name;
        std::size_t at;
        std::uint32_t value;
        const char* problem;
    };
    const std::size_t firstString = 28 + 16 * kEntries.size();
    const Damage damages[] = {
        {"magic", 0, 0x950412DF, "magic number"},
        {"revision", 4, 0x00020000, "revision 2.0"},
        {"count", 8, 0xFFFFFFFF, "lie beyond its end"},
        {"originals", 12, static_cast<std::uint32_t>(good.size() - 8), "lie beyond its end"},
        {"translations", 16, 0xFFFFFFF8, "lie beyond its end"},
        {"length", 28 + 8, 0xFFFFFFFF, "original 1 lies beyond"},
        {"offset", 28 + 8 * 4 + 4, static_cast<std::uint32_t>(good.size()),
         "translation 0 lies beyond"},
        // Original 1 one byte longer: its NUL is then a letter.
        {"terminator", 28 + 8, static_cast<std::uint32_t>(kEntries[1].original.size() + 1),
         "lacks its closing NUL"},
        // Original 2 pointing at original 1: the same text twice is no order.
        {"order", 28 + 16 + 4, static_cast<std::uint32_t>(firstString + 1),
         "originals 1 and 2 are out of order"},
    };
    for (const Damage& d : damages) {
        std::vector<std::uint8_t> bytes = good;
        WriteLe32(&bytes[d.at], d.value);
        if (std::string(d.name) == "order") WriteLe32(&bytes[28 + 16], bytes[28 + 8]);
        MessageCatalogue catalogue;
        std::string problem;
        EXPECT_FALSE(catalogue.Take(bytes, problem)) << d.name;
        EXPECT_NE(problem.find(d.problem), std::string::npos) << d.name << ": " << problem;
        EXPECT_EQ(catalogue.Find("Ошибка    :09"), nullptr) << d.name;
    }
    // Cut anywhere, the last string loses its NUL at least.
    for (std::size_t size = 0; size < good.size(); ++size) {
        MessageCatalogue catalogue;
        std::string problem;
        EXPECT_FALSE(catalogue.Take({good.begin(), good.begin() + size}, problem)) << size;
        EXPECT_FALSE(problem.empty()) << size;
    }
}

// The build's own catalogue, as msgfmt compiled it, read as the programs read it; the
// same file cut short names itself and is refused.
TEST(MessageCatalogue, TheBuildsCatalogueGivesTheEnglishTexts) {
    MessageCatalogue catalogue;
    std::string problem;
    ASSERT_TRUE(ReadMessageCatalogue(MARRO_TEST_CATALOGUE, catalogue, problem)) << problem;
    EXPECT_GT(catalogue.StringCount(), 100u);
    EXPECT_STREQ(catalogue.Find(kVersionReadFailed02), "Version read failed, error code:02");

    const std::vector<std::uint8_t> bytes = ReadBytes(MARRO_TEST_CATALOGUE);
    ASSERT_GT(bytes.size(), 1000u);
    const TempFolder folder;
    const std::filesystem::path cut =
        WriteBytes(folder / "cut.mo", {bytes.begin(), bytes.begin() + bytes.size() / 2});
    MessageCatalogue refused;
    EXPECT_FALSE(ReadMessageCatalogue(cut, refused, problem));
    EXPECT_NE(problem.find("cut.mo' is no catalogue this program reads: its "), std::string::npos)
        << problem;
}

// What every face does: English from the catalogue found beside the program, the texts
// the catalogue lacks as they are, and the original language again without it.
TEST(Translation, EnglishComesFromTheCatalogueBesideTheProgram) {
    std::string problem;
    ASSERT_TRUE(ChooseLanguage(TextLanguage::English, problem)) << problem;
    EXPECT_EQ(ChosenLanguage(), TextLanguage::English);
    EXPECT_EQ(Tr(kVerifyMismatchText), "Data verification error");
    EXPECT_STREQ(Tr(kVersionReadFailed02.data()), "Version read failed, error code:02");
    const char* const unknown = "未知的文字";
    EXPECT_EQ(Tr(unknown), unknown);
    EXPECT_EQ(Tr(std::string_view("")), "");

    ASSERT_TRUE(ChooseLanguage(TextLanguage::Original, problem));
    EXPECT_EQ(Tr(kVerifyMismatchText), kVerifyMismatchText);
    EXPECT_EQ(Tr(kVersionReadFailed02.data()), kVersionReadFailed02.data());
}

}  // namespace
