#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "common/CodePage.h"
#include "common/ConnectionCode.h"
#include "common/LocalTime.h"
#include "common/NumberText.h"

namespace {

TEST(CodePage, PagesOfLocales) {
    const CodePages ru = CodePagesForLocale("ru_RU.UTF-8");
    EXPECT_EQ(ru.oem, "CP866");
    EXPECT_EQ(ru.ansi, "CP1251");
    const CodePages zh = CodePagesForLocale("zh_CN.UTF-8");
    EXPECT_EQ(zh.oem, "CP936");
    EXPECT_EQ(zh.ansi, "CP936");
    EXPECT_EQ(CodePagesForLocale("zh_TW.UTF-8").oem, "CP950");
    for (const char* western : {"C", "POSIX", "", "en_US", "en_US.UTF-8"}) {
        const CodePages pages = CodePagesForLocale(western);
        EXPECT_EQ(pages.oem, "CP437") << western;
        EXPECT_EQ(pages.ansi, "CP1252") << western;
    }
    // A language code that merely begins like a known one is not that language.
    EXPECT_EQ(CodePagesForLocale("rus").oem, "CP437");
    EXPECT_EQ(CodePagesForLocale("de_DE@euro").oem, "CP850");
}

TEST(CodePage, CyrillicThroughCp866) {
    const std::string oem = EncodeToPage("Привет", "CP866");
    EXPECT_EQ(oem, "\x8F\xE0\xA8\xA2\xA5\xE2");
    EXPECT_EQ(DecodeFromPage(oem, "CP866"), "Привет");
    // The ANSI page of the same locale holds other bytes for the same letters.
    EXPECT_NE(EncodeToPage("Привет", "CP1251"), oem);
    EXPECT_EQ(DecodeFromPage(EncodeToPage("Привет", "CP1251"), "CP1251"), "Привет");
}

TEST(CodePage, ChineseThroughCp936) {
    const std::string oem = EncodeToPage("固件中文.hex", "CP936");
    EXPECT_EQ(oem.substr(4, 4), "\xD6\xD0\xCE\xC4");  // 中文
    EXPECT_EQ(oem.size(), 12u);
    EXPECT_EQ(DecodeFromPage(oem, "CP936"), "固件中文.hex");
}

TEST(CodePage, AsciiPassesEveryPageUnchanged) {
    const std::string ascii = "FW_v1.2 (final).HEX";
    for (const char* page : {"CP866", "CP936", "CP437", "CP1251", "no-such-page"}) {
        EXPECT_EQ(EncodeToPage(ascii, page), ascii) << page;
        EXPECT_EQ(DecodeFromPage(ascii, page), ascii) << page;
    }
    EXPECT_EQ(EncodeOem(ascii), ascii);
    EXPECT_EQ(DecodeOem(ascii), ascii);
    EXPECT_EQ(DecodeAnsi(ascii), ascii);
}

TEST(CodePage, WhatAPageCannotHoldBecomesAQuestionMark) {
    EXPECT_EQ(EncodeToPage("a中b", "CP866"), "a?b");  // one mark per character, not per byte
    EXPECT_EQ(EncodeToPage("Жук", "CP437"), "???");
    EXPECT_EQ(DecodeFromPage("ok\xD6", "CP936"), "ok?");  // a lead byte without its partner
    // Not UTF-8 at all: still no failure, just marks.
    EXPECT_EQ(EncodeToPage("x\xFFy", "CP866"), "x?y");
}

TEST(NumberText, SignedDecimalReadsLikeTheDialogs) {
    EXPECT_EQ(ParseSignedDecimal("12abc"), 12);
    EXPECT_EQ(ParseSignedDecimal(""), 0);
    EXPECT_EQ(ParseSignedDecimal("abc"), 0);
    EXPECT_EQ(ParseSignedDecimal("  \t-40"), -40);
    EXPECT_EQ(ParseSignedDecimal("+7"), 7);
    EXPECT_EQ(ParseSignedDecimal("-"), 0);
    EXPECT_EQ(ParseSignedDecimal("--5"), 0);
    EXPECT_EQ(ParseSignedDecimal("1 2"), 1);
    EXPECT_EQ(ParseSignedDecimal("007"), 7);
}

TEST(NumberText, SignedDecimalSaturatesAtThe32BitBounds) {
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(ParseSignedDecimal("2147483647"), kMax);
    EXPECT_EQ(ParseSignedDecimal("2147483648"), kMax);
    EXPECT_EQ(ParseSignedDecimal("99999999999999999999999"), kMax);
    EXPECT_EQ(ParseSignedDecimal("-2147483648"), kMin);
    EXPECT_EQ(ParseSignedDecimal("-2147483649"), kMin);
    EXPECT_EQ(ParseSignedDecimal("-99999999999999999999999"), kMin);
}

TEST(NumberText, HexReadsPrefixesCaseAndSigns) {
    EXPECT_EQ(ParseHexNumber("8004000"), 0x8004000u);
    EXPECT_EQ(ParseHexNumber("FFFFFFFC"), 0xFFFFFFFCu);
    EXPECT_EQ(ParseHexNumber("0x1F"), 0x1Fu);
    EXPECT_EQ(ParseHexNumber("0XaB"), 0xABu);
    EXPECT_EQ(ParseHexNumber("  ff zz"), 0xFFu);
    EXPECT_EQ(ParseHexNumber(""), 0u);
    EXPECT_EQ(ParseHexNumber("xyz"), 0u);
    EXPECT_EQ(ParseHexNumber("0x"), 0u);  // the 0 alone is the number
    EXPECT_EQ(ParseHexNumber("0xg"), 0u);
    EXPECT_EQ(ParseHexNumber("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHexNumber("-0x10"), 0xFFFFFFF0u);
    EXPECT_EQ(ParseHexNumber("+10"), 0x10u);
}

TEST(ConnectionCode, MatchesTheGeneratorWorkedByHand) {
    // Seed 0: draws 38 and 7719; reseeded with (38 << 16) | 7719 the next two draws are
    // 31275 (0x7A2B) and 2338 (0x0922).
    EXPECT_EQ(NewConnectionCode(0), 0x7A2B0922u);
    // Seed 1796638894: draws 21819, 29377, then 9010 (0x2332) and 8920 (0x22D8).
    EXPECT_EQ(NewConnectionCode(1796638894u), 0x233222D8u);

    ConnectionCodeGenerator generator(0);
    EXPECT_EQ(generator.Draw(), 38);
    EXPECT_EQ(generator.Draw(), 7719);
}

TEST(ConnectionCode, Bits15And31AreAlwaysClear) {
    std::uint32_t seen = 0;
    for (std::uint32_t seed = 0; seed < 200000; seed += 7) {
        const std::uint32_t code = NewConnectionCode(seed * 2654435761u);
        ASSERT_EQ(code & 0x80008000u, 0u) << "seed " << seed;
        seen |= code;
    }
    EXPECT_EQ(seen, 0x7FFF7FFFu);  // every other bit does occur
}

void SetTz(const char* value) {
#ifdef _WIN32
    _putenv_s("TZ", value != nullptr ? value : "");
    _tzset();
#else
    if (value != nullptr) {
        setenv("TZ", value, 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
#endif
}

// Local time depends on the zone; these tests pin it to UTC and put it back after.
class LocalTimeInUtc : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_) savedTz_ = tz;
        SetTz("UTC0");
    }
    void TearDown() override { SetTz(hadTz_ ? savedTz_.c_str() : nullptr); }

private:
    bool hadTz_ = false;
    std::string savedTz_;
};

TEST_F(LocalTimeInUtc, FieldsOfAKnownMoment) {
    const LocalTimeFields t = LocalTimeOf(1796638894);  // 2026-12-07 10:21:34 UTC
    EXPECT_EQ(t.year, 2026);
    EXPECT_EQ(t.month, 12);
    EXPECT_EQ(t.day, 7);
    EXPECT_EQ(t.hour, 10);
    EXPECT_EQ(t.minute, 21);
    EXPECT_EQ(t.second, 34);
    const LocalTimeFields epoch = LocalTimeOf(0);
    EXPECT_EQ(epoch.year, 1970);
    EXPECT_EQ(epoch.month, 1);
    EXPECT_EQ(epoch.day, 1);
    EXPECT_EQ(epoch.hour, 0);
}

TEST_F(LocalTimeInUtc, ATimeBeyondTheCalendarGivesTheFailureValues) {
    const LocalTimeFields t = LocalTimeOf(std::numeric_limits<std::time_t>::max());
    EXPECT_EQ(t.year, 0);
    EXPECT_EQ(t.month, 0);
    EXPECT_EQ(t.day, 0);
    EXPECT_EQ(t.hour, -1);
    EXPECT_EQ(t.minute, -1);
    EXPECT_EQ(t.second, -1);
}

}  // namespace
