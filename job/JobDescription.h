#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One row of the job description list: label and value.
struct JobDescriptionRow {
    std::string label;
    std::string value;
};
using JobDescription = std::vector<JobDescriptionRow>;

// Row labels of the job list, in row order.
inline constexpr const char* kRowName = "名称";
inline constexpr const char* kRowSeries = "类型";
inline constexpr const char* kRowSettings = "设置";
inline constexpr const char* kRowCountLimit = "次数";
inline constexpr const char* kRowProgrammed = "已编";
inline constexpr const char* kRowAddress = "地址";
inline constexpr const char* kRowLength = "长度";
inline constexpr const char* kRowTime = "时间";
inline constexpr const char* kRowCodeShift = "选项";

// The value of a row that does not apply to the stored job.
inline constexpr const char* kRowNotApplicable = "---";

std::string SeriesText(std::uint8_t series);
std::string OptionsText(std::uint8_t options);

// The rows shown for a stored job. `header` is the 45 header bytes as read back; the
// code-shift row is there only for programmers of version 0x1000 and up.
JobDescription DescribeJob(std::string_view jobName, const std::uint8_t* header,
                           std::uint32_t programmerVersion);

// The job name from the name area read back: the bytes up to the first NUL (all of them
// when there is none), decoded from the PC's OEM code page, the page it was stored in.
std::string JobNameFromStored(const std::uint8_t* bytes, std::size_t count);
