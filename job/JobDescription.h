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

std::string SeriesText(std::uint8_t series);
std::string OptionsText(std::uint8_t options);

// The rows shown for a stored job. `header` is the 45 header bytes as read back; the
// code-shift row is there only for programmers of version 0x1000 and up.
JobDescription DescribeJob(std::string_view jobName, const std::uint8_t* header,
                           std::uint32_t programmerVersion);

// The job name from the name area read back: the bytes up to the first NUL (all of them
// when there is none), decoded from the PC's code page.
std::string JobNameFromStored(const std::uint8_t* bytes, std::size_t count);
