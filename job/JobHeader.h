#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/LocalTime.h"
#include "common/Translation.h"
#include "link/HidReport.h"

// The programmer's job storage (kStorageSize bytes).
inline constexpr std::uint32_t kJobAreaAddress = 0x1FE000;  // header here
inline constexpr std::uint32_t kJobAreaSize = 0x2000;       // erased whole before every upload
inline constexpr std::uint32_t kJobNameAddress = 0x1FE040;  // job name here
inline constexpr std::uint32_t kJobFallbackAddress = 0x1FF000;
inline constexpr std::uint32_t kJobNameOffset = 0x40;  // name after its header
// An image must end below the job area.
inline constexpr std::uint32_t kMaxJobImageLength = kJobAreaAddress;

inline constexpr std::size_t kJobHeaderSize = 45;
inline constexpr std::uint8_t kJobMarker = 0xAA;
inline constexpr std::size_t kMaxNameSize = 55;

// options bits
inline constexpr std::uint8_t OptReadProtect = 0x01;
inline constexpr std::uint8_t OptVerify = 0x02;
inline constexpr std::uint8_t OptRunAfter = 0x04;
inline constexpr std::uint8_t OptFullErase = 0x08;
inline constexpr std::uint8_t OptCountLimit = 0x10;
inline constexpr std::uint8_t OptLockChip = 0x20;

inline constexpr int kSeriesCount = 8;
inline constexpr const char* kSeriesNames[kSeriesCount] = {"STM32F0XX", "STM32F1XX", "STM32F2XX",
                                                           "STM32F3XX", "STM32F4XX", "STM32L0XX",
                                                           "STM32L1XX", "BLM32F1XX"};

// The five code-shift members, with their start-up values.
struct CodeShift {
    std::uint16_t shiftEnabled = 0;
    std::uint32_t shiftAddress = 0x08004000;
    std::int32_t shiftStart = 0;
    std::int32_t shiftStep = 1;
    std::uint8_t shiftFormat = 3;  // bits 0..1 width index, bit 2 type index
};

// Refusals of a code-shift address typed by the user (more than eight digits, or not a
// multiple of 4).
inline constexpr const char* kMsgShiftAddressRange = N_("滚码地址范围 0x00000000-0xFFFFFFFF");
inline constexpr const char* kMsgShiftAddressAlign = N_("滚码地址必须4字节对齐");

// The one rule of a typed code-shift address, for the window and the command line alike:
// at most eight hexadecimal digits, and a multiple of 4 since the programmer writes the
// counter as one word. Each face says its own refusal.
enum class ShiftAddressCheck { Taken, OutOfRange, Unaligned };
constexpr ShiftAddressCheck CheckShiftAddress(std::size_t digitCount, std::uint32_t address) {
    if (digitCount > 8) return ShiftAddressCheck::OutOfRange;
    if (address % 4 != 0) return ShiftAddressCheck::Unaligned;
    return ShiftAddressCheck::Taken;
}

// The settings of a job as the main dialog's controls show them at one moment.
struct JobSettings {
    int seriesIndex = 0;  // selection of the series list; -1 when nothing is selected
    bool readProtect = false;
    bool verify = true;
    bool runAfter = false;
    bool fullErase = false;
    bool countLimit = false;
    bool lockChip = false;
    std::string countLimitText = "0";  // the text of the count edit
    CodeShift shift;
};

// Answers the settings as they stand when asked; the GUI answers from its controls.
class JobSettingsSource {
public:
    virtual ~JobSettingsSource() = default;
    virtual JobSettings CurrentJobSettings() = 0;
};

// The 45-byte job header, packed little-endian.
struct JobHeader {
    std::uint8_t marker = kJobMarker;
    std::uint8_t nameSize = 0;
    std::uint8_t series = 0;
    std::uint8_t options = 0;
    std::int32_t countLimit = 0;
    std::uint32_t programmedCount = 0;
    std::uint32_t jobStart = 0;
    std::uint32_t jobLength = 0;
    std::array<std::uint8_t, 6> jobTime{};  // year % 2000, month, day, hour, minute, second
    std::uint16_t shiftEnabled = 0;
    std::uint32_t shiftAddress = 0;
    std::int32_t shiftStart = 0;
    std::int32_t shiftValue = 0;
    std::int32_t shiftStep = 0;
    std::uint8_t shiftFormat = 0;

    std::array<std::uint8_t, kJobHeaderSize> Encode() const;
    static JobHeader Decode(const std::uint8_t* bytes);  // reads 45 bytes
};

// The options byte of the settings.
std::uint8_t OptionsOf(const JobSettings& settings);

// The six time bytes of a header; the failure values when the time is unknown.
std::array<std::uint8_t, 6> JobTimeOf(const LocalTimeFields& now);

// The header of an upload, from the settings as they stand now.
JobHeader BuildJobHeader(const JobSettings& settings, std::uint32_t imageStart,
                         std::uint32_t paddedLength, std::uint8_t nameSize,
                         const LocalTimeFields& now);

// The job name as the programmer stores it: OEM bytes with their NUL, at most 55.
struct JobName {
    std::array<std::uint8_t, kMaxNameSize> bytes{};  // zero after the name
    std::uint8_t nameSize = 1;                       // count including the NUL
};
JobName MakeJobName(std::string_view fileNameUtf8);
