#include "job/JobHeader.h"

#include <algorithm>
#include <cstring>

#include "common/CodePage.h"
#include "common/LittleEndian.h"
#include "common/NumberText.h"

std::array<std::uint8_t, kJobHeaderSize> JobHeader::Encode() const {
    std::array<std::uint8_t, kJobHeaderSize> bytes{};
    std::uint8_t* p = bytes.data();
    p[0] = marker;
    p[1] = nameSize;
    p[2] = series;
    p[3] = options;
    WriteLe32(p + 4, static_cast<std::uint32_t>(countLimit));
    WriteLe32(p + 8, programmedCount);
    WriteLe32(p + 12, jobStart);
    WriteLe32(p + 16, jobLength);
    std::copy(jobTime.begin(), jobTime.end(), p + 20);
    WriteLe16(p + 26, shiftEnabled);
    WriteLe32(p + 28, shiftAddress);
    WriteLe32(p + 32, static_cast<std::uint32_t>(shiftStart));
    WriteLe32(p + 36, static_cast<std::uint32_t>(shiftValue));
    WriteLe32(p + 40, static_cast<std::uint32_t>(shiftStep));
    p[44] = shiftFormat;
    return bytes;
}

JobHeader JobHeader::Decode(const std::uint8_t* p) {
    JobHeader header;
    header.marker = p[0];
    header.nameSize = p[1];
    header.series = p[2];
    header.options = p[3];
    header.countLimit = static_cast<std::int32_t>(ReadLe32(p + 4));
    header.programmedCount = ReadLe32(p + 8);
    header.jobStart = ReadLe32(p + 12);
    header.jobLength = ReadLe32(p + 16);
    std::copy(p + 20, p + 26, header.jobTime.begin());
    header.shiftEnabled = ReadLe16(p + 26);
    header.shiftAddress = ReadLe32(p + 28);
    header.shiftStart = static_cast<std::int32_t>(ReadLe32(p + 32));
    header.shiftValue = static_cast<std::int32_t>(ReadLe32(p + 36));
    header.shiftStep = static_cast<std::int32_t>(ReadLe32(p + 40));
    header.shiftFormat = p[44];
    return header;
}

std::uint8_t OptionsOf(const JobSettings& settings) {
    std::uint8_t options = 0;
    if (settings.readProtect) options |= OptReadProtect;
    if (settings.verify) options |= OptVerify;
    if (settings.runAfter) options |= OptRunAfter;
    if (settings.fullErase) options |= OptFullErase;
    if (settings.countLimit) options |= OptCountLimit;
    if (settings.lockChip) options |= OptLockChip;
    return options;
}

std::array<std::uint8_t, 6> JobTimeOf(const LocalTimeFields& now) {
    // The failure values of LocalTimeFields (0 and -1) become 0 and 0xFF here.
    return {static_cast<std::uint8_t>(now.year % 2000), static_cast<std::uint8_t>(now.month),
            static_cast<std::uint8_t>(now.day),         static_cast<std::uint8_t>(now.hour),
            static_cast<std::uint8_t>(now.minute),      static_cast<std::uint8_t>(now.second)};
}

JobHeader BuildJobHeader(const JobSettings& settings, std::uint32_t imageStart,
                         std::uint32_t paddedLength, std::uint8_t nameSize,
                         const LocalTimeFields& now) {
    JobHeader header;
    header.marker = kJobMarker;
    header.nameSize = nameSize;
    header.series = static_cast<std::uint8_t>(settings.seriesIndex);  // -1 (none) gives 0xFF
    header.options = OptionsOf(settings);
    header.countLimit = ParseSignedDecimal(settings.countLimitText);
    header.programmedCount = 0;
    header.jobStart = imageStart;
    header.jobLength = paddedLength;
    header.jobTime = JobTimeOf(now);
    header.shiftEnabled = settings.shift.shiftEnabled;
    header.shiftAddress = settings.shift.shiftAddress;
    header.shiftStart = settings.shift.shiftStart;
    header.shiftValue = settings.shift.shiftStart;  // the counter begins at the start value
    header.shiftStep = settings.shift.shiftStep;
    header.shiftFormat = settings.shift.shiftFormat;
    return header;
}

JobName MakeJobName(std::string_view fileNameUtf8) {
    const std::string oem = EncodeOem(fileNameUtf8);
    JobName name;
    // One byte always stays for the NUL, so a cut name is still terminated.
    const std::size_t kept = std::min(oem.size(), kMaxNameSize - 1);
    std::memcpy(name.bytes.data(), oem.data(), kept);
    name.nameSize = static_cast<std::uint8_t>(kept + 1);
    return name;
}
