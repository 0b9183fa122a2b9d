#include "job/JobHeader.h"

#include "job/CodeShiftForm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

JobHeader DistinctHeader() {
    JobHeader h;
    h.marker = 0xAA;
    h.nameSize = 0x37;
    h.series = 0x05;
    h.options = 0x3F;
    h.countLimit = -2;  // 0xFFFFFFFE
    h.programmedCount = 0x11223344;
    h.jobStart = 0x08001234;
    h.jobLength = 0x000F0004;
    h.jobTime = {26, 12, 7, 10, 21, 34};
    h.shiftEnabled = 0x0201;
    h.shiftAddress = 0x08004000;
    h.shiftStart = 0x01020304;
    h.shiftValue = -1;
    h.shiftStep = 0x7FFFFFFF;
    h.shiftFormat = 0x06;
    return h;
}

TEST(JobHeader, EncodesEveryFieldAtItsPackedLittleEndianOffset) {
    const auto bytes = DistinctHeader().Encode();
    const std::uint8_t expected[kJobHeaderSize] = {
        0xAA, 0x37, 0x05, 0x3F,          // marker, nameSize, series, options
        0xFE, 0xFF, 0xFF, 0xFF,          // countLimit
        0x44, 0x33, 0x22, 0x11,          // programmedCount
        0x34, 0x12, 0x00, 0x08,          // jobStart
        0x04, 0x00, 0x0F, 0x00,          // jobLength
        26,   12,   7,    10,   21, 34,  // jobTime
        0x01, 0x02,                      // shiftEnabled
        0x00, 0x40, 0x00, 0x08,          // shiftAddress
        0x04, 0x03, 0x02, 0x01,          // shiftStart
        0xFF, 0xFF, 0xFF, 0xFF,          // shiftValue
        0xFF, 0xFF, 0xFF, 0x7F,          // shiftStep
        0x06};                           // shiftFormat
    for (std::size_t i = 0; i < kJobHeaderSize; ++i) {
        EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
    }
}

TEST(JobHeader, DecodeReadsBackWhatEncodeWrote) {
    const JobHeader original = DistinctHeader();
    const auto bytes = original.Encode();
    const JobHeader back = JobHeader::Decode(bytes.data());
    EXPECT_EQ(back.Encode(), bytes);
    EXPECT_EQ(back.countLimit, -2);
    EXPECT_EQ(back.shiftValue, -1);
    EXPECT_EQ(back.shiftEnabled, 0x0201);
    EXPECT_EQ(back.jobTime, original.jobTime);
}

TEST(JobHeader, EachControlSetsItsOwnOptionBit) {
    EXPECT_EQ(OptionsOf(JobSettings{}), OptVerify);  // the dialog's defaults
    JobSettings none;
    none.verify = false;
    EXPECT_EQ(OptionsOf(none), 0);
    const struct {
        bool JobSettings::*control;
        std::uint8_t bit;
    } table[] = {{&JobSettings::readProtect, 0x01}, {&JobSettings::verify, 0x02},
                 {&JobSettings::runAfter, 0x04},    {&JobSettings::fullErase, 0x08},
                 {&JobSettings::countLimit, 0x10},  {&JobSettings::lockChip, 0x20}};
    JobSettings all = none;
    for (const auto& entry : table) {
        JobSettings one = none;
        one.*entry.control = true;
        EXPECT_EQ(OptionsOf(one), entry.bit);
        all.*entry.control = true;
    }
    EXPECT_EQ(OptionsOf(all), 0x3F);
}

TEST(JobHeader, TimeBytesAndTheirFailureValues) {
    const LocalTimeFields december{2026, 12, 7, 10, 21, 34};
    EXPECT_EQ(JobTimeOf(december), (std::array<std::uint8_t, 6>{26, 12, 7, 10, 21, 34}));
    EXPECT_EQ(JobTimeOf(LocalTimeFields{}),
              (std::array<std::uint8_t, 6>{0, 0, 0, 0xFF, 0xFF, 0xFF}));
    const LocalTimeFields turn{2000, 1, 1, 0, 0, 0};
    EXPECT_EQ(JobTimeOf(turn), (std::array<std::uint8_t, 6>{0, 1, 1, 0, 0, 0}));
}

TEST(JobHeader, BuildTakesTheSettingsAsGiven) {
    JobSettings s;
    s.seriesIndex = 7;
    s.readProtect = true;
    s.countLimit = false;  // the count is written whether or not the limit is on
    s.countLimitText = "  12abc";
    s.shift = {1, 0x08004000, -5, 3, 6};
    const JobHeader h = BuildJobHeader(s, 0x08000000, 1004, 11, {2026, 12, 7, 10, 21, 34});
    EXPECT_EQ(h.marker, 0xAA);
    EXPECT_EQ(h.nameSize, 11);
    EXPECT_EQ(h.series, 7);
    EXPECT_EQ(h.options, OptReadProtect | OptVerify);
    EXPECT_EQ(h.countLimit, 12);
    EXPECT_EQ(h.programmedCount, 0u);
    EXPECT_EQ(h.jobStart, 0x08000000u);
    EXPECT_EQ(h.jobLength, 1004u);
    EXPECT_EQ(h.jobTime, (std::array<std::uint8_t, 6>{26, 12, 7, 10, 21, 34}));
    EXPECT_EQ(h.shiftEnabled, 1);
    EXPECT_EQ(h.shiftAddress, 0x08004000u);
    EXPECT_EQ(h.shiftStart, -5);
    EXPECT_EQ(h.shiftValue, -5);  // the counter starts at the start value
    EXPECT_EQ(h.shiftStep, 3);
    EXPECT_EQ(h.shiftFormat, 6);
}

TEST(JobHeader, BuildEdgeValuesOfTheControls) {
    JobSettings s;
    s.seriesIndex = -1;  // nothing selected
    s.countLimitText = "";
    EXPECT_EQ(BuildJobHeader(s, 0, 0, 1, {}).series, 0xFF);
    EXPECT_EQ(BuildJobHeader(s, 0, 0, 1, {}).countLimit, 0);
    s.seriesIndex = 0x105;  // only the low 8 bits count
    s.countLimitText = "-40";
    EXPECT_EQ(BuildJobHeader(s, 0, 0, 1, {}).series, 0x05);
    EXPECT_EQ(BuildJobHeader(s, 0, 0, 1, {}).countLimit, -40);
}

TEST(JobName, ShortNamesKeepEveryByteAndTheirNul) {
    const JobName ten = MakeJobName("abcdef.hex");
    EXPECT_EQ(ten.nameSize, 11);
    EXPECT_EQ(std::memcmp(ten.bytes.data(), "abcdef.hex", 11), 0);
    for (std::size_t i = 11; i < kMaxNameSize; ++i) EXPECT_EQ(ten.bytes[i], 0) << i;

    EXPECT_EQ(MakeJobName("").nameSize, 1);
    EXPECT_EQ(MakeJobName("").bytes[0], 0);

    const std::string fits(54, 'n');  // 54 bytes and the NUL: exactly the limit
    const JobName full = MakeJobName(fits);
    EXPECT_EQ(full.nameSize, 55);
    EXPECT_EQ(std::memcmp(full.bytes.data(), fits.data(), 54), 0);
    EXPECT_EQ(full.bytes[54], 0);
}

TEST(JobName, LongNamesAreCutTo54BytesAndANul) {
    std::string sixty;
    for (int i = 0; i < 60; ++i) sixty += static_cast<char>('A' + i % 26);
    for (const std::string& name : {sixty, std::string(55, 'x')}) {
        const JobName cut = MakeJobName(name);
        EXPECT_EQ(cut.nameSize, 55) << name.size();
        EXPECT_EQ(std::memcmp(cut.bytes.data(), name.data(), 54), 0) << name.size();
        EXPECT_EQ(cut.bytes[54], 0) << name.size();
    }
}

}  // namespace

TEST(CodeShiftForm, ShowsTheMembersAsTheDialogsEditsHoldThem) {
    const CodeShiftFields shown = FieldsOfCodeShift(CodeShift{1, 0xFFFFFFFC, -7, 3, 6});
    EXPECT_TRUE(shown.enabled);
    EXPECT_EQ(shown.address, "fffffffc");
    EXPECT_EQ(shown.start, "-7");
    EXPECT_EQ(shown.step, "3");
    EXPECT_EQ(shown.widthIndex, 2);
    EXPECT_EQ(shown.typeIndex, 1);
    EXPECT_EQ(FieldsOfCodeShift(CodeShift{}).address, "08004000");
}

// OK's reading of the fields: the address rule, the numbers as the C conversion reads
// them, the format from the two lists; a refusal takes only the check box.
TEST(CodeShiftForm, OkTakesTheFieldsOrRefusesTheAddress) {
    struct Case {
        const char* name;
        CodeShiftFields fields;
        const char* refusal;
        CodeShift expected;
    };
    const CodeShift defaults;
    const Case cases[] = {
        {"aligned", {true, "8004004", "5", "2", 3, 0}, nullptr, {1, 0x08004004, 5, 2, 3}},
        {"empty is zero", {true, "", "0", "1", 3, 0}, nullptr, {1, 0, 0, 1, 3}},
        {"highest", {false, "FFFFFFFC", "0", "1", 3, 0}, nullptr, {0, 0xFFFFFFFC, 0, 1, 3}},
        {"letters and saturation",
         {false, "0", "abc", " 2147483648", 0, 0},
         nullptr,
         {0, 0, 0, 2147483647, 0}},
        {"3 Byte High", {true, "0", "-1", "1", 2, 1}, nullptr, {1, 0, -1, 1, 6}},
        {"no list entry", {true, "0", "0", "1", -1, -1}, nullptr, {1, 0, 0, 1, 0}},
        {"unaligned",
         {true, "8004002", "99", "1", 0, 1},
         kMsgShiftAddressAlign,
         {1, defaults.shiftAddress, defaults.shiftStart, defaults.shiftStep, defaults.shiftFormat}},
        {"nine digits",
         {true, "123456789", "99", "1", 0, 1},
         kMsgShiftAddressRange,
         {1, defaults.shiftAddress, defaults.shiftStart, defaults.shiftStep, defaults.shiftFormat}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CodeShift shift;
        const char* refusal = ApplyCodeShiftFields(c.fields, shift);
        EXPECT_EQ(refusal == nullptr ? std::string() : std::string(refusal),
                  c.refusal == nullptr ? std::string() : std::string(c.refusal));
        EXPECT_EQ(shift.shiftEnabled, c.expected.shiftEnabled);
        EXPECT_EQ(shift.shiftAddress, c.expected.shiftAddress);
        EXPECT_EQ(shift.shiftStart, c.expected.shiftStart);
        EXPECT_EQ(shift.shiftStep, c.expected.shiftStep);
        EXPECT_EQ(shift.shiftFormat, c.expected.shiftFormat);
    }
}
