#pragma once
#include <cstdint>
#include <string>

#include "common/TextFormat.h"

// Texts that the dialogs show and the command line shows in their place. The dialogs
// keep theirs as Qt strings, which the command line cannot include; these are the same
// bytes.
inline constexpr const char* kMsgShiftAddressRange = "滚码地址范围 0x00000000-0xFFFFFFFF";
inline constexpr const char* kMsgShiftAddressAlign = "滚码地址必须4字节对齐";
inline constexpr const char* kMsgBadDeviceId = "请输入正确的设备ID";
inline constexpr const char* kVersionLineFormat = "Version:%x.%02x";
inline constexpr const char* kFirmwareLineFormat = "Frimware:%x.%02x";

// "Version:10.02" for 0x1002.
inline std::string ProgrammerVersionText(std::uint32_t version) {
    return Format(kVersionLineFormat, version >> 8, version & 0xFF);
}
// "Frimware:2.20" for 0x0220.
inline std::string FirmwareVersionText(std::uint32_t version) {
    return Format(kFirmwareLineFormat, version >> 8, version & 0xFF);
}
