#include "job/JobDescription.h"

#include <gtest/gtest.h>

#include <cstring>

#include "job/JobHeader.h"

namespace {

JobHeader SampleHeader() {
    JobHeader h;
    h.nameSize = 11;
    h.series = 1;
    h.options = OptVerify | OptFullErase;
    h.countLimit = 500;
    h.programmedCount = 7;
    h.jobStart = 0x08000000;
    h.jobLength = 1024;
    h.jobTime = {26, 12, 7, 10, 21, 34};
    h.shiftEnabled = 1;
    h.shiftAddress = 0x08004000;
    h.shiftStart = 0;
    h.shiftValue = 0;
    h.shiftStep = 1;
    return h;
}

JobDescription Describe(const JobHeader& h, std::uint32_t version) {
    const auto bytes = h.Encode();
    return DescribeJob("fw.hex", bytes.data(), version);
}

TEST(JobDescription, SeriesTextNamesEveryListEntryAsTheListDoes) {
    for (int s = 0; s < kSeriesCount; ++s) {
        EXPECT_EQ(SeriesText(static_cast<std::uint8_t>(s)), kSeriesNames[s]) << s;
    }
    EXPECT_EQ(SeriesText(8), "BLM32F2XX");
    EXPECT_EQ(SeriesText(255), "BLM32F249XX");  // no selection in the series box
}

TEST(JobDescription, OptionsTextAlwaysNamesTheErase) {
    EXPECT_EQ(OptionsText(0x00), "|擦除扇区");
    EXPECT_EQ(OptionsText(0x3F), "|读保护|校验数据|重启运行|擦除全片|编程次数|锁死芯片");
    EXPECT_EQ(OptionsText(OptReadProtect), "|读保护|擦除扇区");
    EXPECT_EQ(OptionsText(OptLockChip | OptCountLimit), "|擦除扇区|编程次数|锁死芯片");
    EXPECT_EQ(OptionsText(OptRunAfter | OptVerify), "|校验数据|重启运行|擦除扇区");
    EXPECT_EQ(OptionsText(0xC0), "|擦除扇区");  // bits 6 and 7 mean nothing
}

TEST(JobDescription, RowsOfANewerProgrammer) {
    const JobDescription rows = Describe(SampleHeader(), 0x1000);
    ASSERT_EQ(rows.size(), 9u);
    const char* labels[] = {"名称", "类型", "设置", "次数", "已编", "地址", "长度", "时间", "选项"};
    const char* values[] = {"fw.hex",
                            "STM32F1XX",
                            "|校验数据|擦除全片",
                            "---",
                            "---",
                            "0x08000000",
                            "1024",
                            "2026/12/07 10:21:34",
                            "地址:0x8004000 起始:0 数值:0 步进:1"};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].label, labels[i]) << i;
        EXPECT_EQ(rows[i].value, values[i]) << i;
    }
}

// An erased programmer, or an upload cut before its header, must not show as a job of
// series BLM32F249XX at 0xffffffff.
TEST(JobDescription, AHeaderWithoutItsMarkerIsNoJob) {
    for (const std::uint8_t marker : {0xFF, 0x00, 0xAB}) {
        JobHeader h = SampleHeader();
        h.marker = marker;
        const JobDescription rows = Describe(h, 0x1000);
        ASSERT_EQ(rows.size(), 1u) << int{marker};
        EXPECT_EQ(rows[0].label, kNoStoredJobText);
        EXPECT_EQ(rows[0].value, "");
    }
}

TEST(JobDescription, OlderProgrammersHaveNoCodeShiftRow) {
    const JobDescription rows = Describe(SampleHeader(), 0x0FFF);
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows.back().label, "时间");
}

TEST(JobDescription, CodeShiftOffShowsDashes) {
    JobHeader h = SampleHeader();
    h.shiftEnabled = 2;  // only bit 0 switches code shift
    EXPECT_EQ(Describe(h, 0x1002).at(8).value, "---");
    h.shiftEnabled = 3;
    h.shiftAddress = 0xFFFFFFFC;
    h.shiftStart = -5;
    h.shiftValue = 12;
    h.shiftStep = -1;
    EXPECT_EQ(Describe(h, 0x1002).at(8).value, "地址:0xfffffffc 起始:-5 数值:12 步进:-1");
}

TEST(JobDescription, CountsShowOnlyWithTheCountLimit) {
    JobHeader h = SampleHeader();
    h.options |= OptCountLimit;
    h.countLimit = -3;
    h.programmedCount = 0x80000000u;  // shown signed, as the programmer's counter is
    const JobDescription rows = Describe(h, 0x1000);
    EXPECT_EQ(rows[3].value, "-3");
    EXPECT_EQ(rows[4].value, "-2147483648");
}

TEST(JobDescription, NumbersAndTimeFormats) {
    JobHeader h = SampleHeader();
    h.jobStart = 0xABCDEF;
    h.jobLength = 0;
    h.jobTime = {0, 0, 0, 0xFF, 0xFF, 0xFF};  // the clock could not be read
    const JobDescription rows = Describe(h, 0);
    EXPECT_EQ(rows[5].value, "0x00abcdef");
    EXPECT_EQ(rows[6].value, "0");
    EXPECT_EQ(rows[7].value, "2000/00/00 255:255:255");
    h.jobTime = {5, 1, 2, 3, 4, 5};
    EXPECT_EQ(Describe(h, 0)[7].value, "2005/01/02 03:04:05");
}

TEST(JobDescription, StoredNameEndsAtTheFirstNul) {
    const std::uint8_t area[64] = {'f', 'w', '.', 'h', 'e', 'x', 0, 'j', 'u', 'n', 'k'};
    EXPECT_EQ(JobNameFromStored(area, 64), "fw.hex");
    EXPECT_EQ(JobNameFromStored(area, 3), "fw.");  // no NUL among the bytes read
    EXPECT_EQ(JobNameFromStored(area, 0), "");
    std::uint8_t erased[64];
    std::memset(erased, 'Z', sizeof erased);
    EXPECT_EQ(JobNameFromStored(erased, 64), std::string(64, 'Z'));
}

TEST(JobDescription, NameRoundTripsThroughTheStoredBytes) {
    const JobName name = MakeJobName("board-rev2.bin");
    EXPECT_EQ(JobNameFromStored(name.bytes.data(), name.bytes.size()), "board-rev2.bin");
}

}  // namespace
