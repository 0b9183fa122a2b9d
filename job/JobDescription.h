#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Translation.h"

// One row of the job description list: label and value.
struct JobDescriptionRow {
    std::string label;
    std::string value;
};
using JobDescription = std::vector<JobDescriptionRow>;

// Row labels of the job list, in row order.
inline constexpr const char* kRowName = N_("名称");
inline constexpr const char* kRowSeries = N_("类型");
inline constexpr const char* kRowSettings = N_("设置");
inline constexpr const char* kRowCountLimit = N_("次数");
inline constexpr const char* kRowProgrammed = N_("已编");
inline constexpr const char* kRowAddress = N_("地址");
inline constexpr const char* kRowLength = N_("长度");
inline constexpr const char* kRowTime = N_("时间");
inline constexpr const char* kRowCodeShift = N_("选项");

// What the job list and the commands say of a programmer whose header is not marked
// valid: erased, or an upload cut short before its header was written.
inline constexpr std::string_view kNoStoredJobText = N_("В программаторе нет задания");

// The value of a row that does not apply to the stored job.
inline constexpr const char* kRowNotApplicable = "---";

std::string SeriesText(std::uint8_t series);
std::string OptionsText(std::uint8_t options);

// The rows shown for a stored job. `header` is the 45 header bytes as read back; the
// code-shift row is there only for programmers of version 0x1000 and up. A header
// without the valid marker is no job: one row that says so, never its bytes as fields.
JobDescription DescribeJob(std::string_view jobName, const std::uint8_t* header,
                           std::uint32_t programmerVersion);

// The job name from the name area read back: the bytes up to the first NUL (all of them
// when there is none), decoded from the PC's OEM code page, the page it was stored in.
std::string JobNameFromStored(const std::uint8_t* bytes, std::size_t count);
