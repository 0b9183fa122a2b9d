#include "job/JobDescription.h"

#include <cstring>

#include "common/CodePage.h"
#include "common/TextFormat.h"
#include "job/JobHeader.h"
#include "link/HidReport.h"

std::string SeriesText(std::uint8_t series) {
    // The list names follow one pattern, so every index, even one past the list (255
    // when nothing was selected), gets a name of the same shape.
    if (series <= 4) return Format("STM32F%dXX", series);
    if (series <= 6) return Format("STM32L%dXX", series - 5);
    return Format("BLM32F%dXX", series - 6);
}

std::string OptionsText(std::uint8_t options) {
    std::string text;
    if (options & OptReadProtect) text += Tr("|读保护");
    if (options & OptVerify) text += Tr("|校验数据");
    if (options & OptRunAfter) text += Tr("|重启运行");
    text += (options & OptFullErase) ? Tr("|擦除全片") : Tr("|擦除扇区");
    if (options & OptCountLimit) text += Tr("|编程次数");
    if (options & OptLockChip) text += Tr("|锁死芯片");
    return text;
}

JobDescription DescribeJob(std::string_view jobName, const std::uint8_t* header,
                           std::uint32_t programmerVersion) {
    const JobHeader job = JobHeader::Decode(header);
    if (job.marker != kJobMarker) return {{Tr(kNoStoredJobText), ""}};
    const bool counted = (job.options & OptCountLimit) != 0;
    const auto& t = job.jobTime;

    JobDescription rows;
    rows.reserve(9);
    rows.push_back({Tr(kRowName), std::string(jobName)});
    rows.push_back({Tr(kRowSeries), SeriesText(job.series)});
    rows.push_back({Tr(kRowSettings), OptionsText(job.options)});
    rows.push_back(
        {Tr(kRowCountLimit), counted ? Format("%d", job.countLimit) : kRowNotApplicable});
    rows.push_back(
        {Tr(kRowProgrammed), counted ? Format("%d", static_cast<std::int32_t>(job.programmedCount))
                                     : kRowNotApplicable});
    rows.push_back({Tr(kRowAddress), Format("0x%08x", job.jobStart)});
    rows.push_back({Tr(kRowLength), Format("%d", static_cast<std::int32_t>(job.jobLength))});
    rows.push_back({Tr(kRowTime),
                    Format("20%02d/%02d/%02d %02d:%02d:%02d", t[0], t[1], t[2], t[3], t[4], t[5])});
    // Older programmers have no code shift, so the row would mean nothing there.
    if (IsNewerKind(programmerVersion)) {
        rows.push_back({Tr(kRowCodeShift),
                        (job.shiftEnabled & 1)
                            ? Format(Tr("地址:0x%x 起始:%d 数值:%d 步进:%d"), job.shiftAddress,
                                     job.shiftStart, job.shiftValue, job.shiftStep)
                            : kRowNotApplicable});
    }
    return rows;
}

std::string JobNameFromStored(const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return {};
    const void* nul = std::memchr(bytes, 0, count);
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes)
                       : count;
    // The upload stored the name in the OEM page; reading it with the same page gives
    // back the name that was sent.
    return DecodeOem(std::string_view(reinterpret_cast<const char*>(bytes), length));
}
