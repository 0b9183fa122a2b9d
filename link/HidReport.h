#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/LittleEndian.h"

inline constexpr std::uint16_t kProgrammerVendorId = 0x0484;
inline constexpr std::uint16_t kProgrammerProductId = 0x1001;

// The programmer's own memory: its firmware runs from 0x08004000 and keeps its version
// word at 0x080040EC, where identification reads it.
inline constexpr std::uint32_t kFirmwareAreaAddress = 0x08004000;
inline constexpr std::uint32_t kFirmwareVersionAddress = 0x080040EC;
// The area ends with the programmer's 256 KiB of flash, at 0x08040000; its SRAM, where a
// firmware's stack lies, is 0x20000000..0x20010000.
inline constexpr std::uint32_t kFirmwareAreaSize = 0x3C000;
inline constexpr std::uint32_t kProgrammerSramAddress = 0x20000000;
inline constexpr std::uint32_t kProgrammerSramSize = 0x10000;
// Version words from 0x1000 on mark the newer kind, which serves every series, has a
// firmware word, code shift and the firmware update; below it the programmer serves the
// one series in bits 8..11.
constexpr bool IsNewerKind(std::uint32_t programmerVersion) { return programmerVersion >= 0x1000; }
// The job storage that the storage commands address, from 0.
inline constexpr std::uint32_t kStorageSize = 0x200000;

inline constexpr std::size_t kReportSize = 65;
inline constexpr std::size_t kReportDataOffset = 10;
inline constexpr std::size_t kMaxWriteData = kReportSize - kReportDataOffset;  // 55
inline constexpr std::size_t kMaxReadData = kReportSize - 1;                   // 64

enum class Command : std::uint8_t {
    EraseStorage = 0x11,
    WriteStorage = 0x12,
    ReadStorage = 0x13,
    StorageCrc = 0x14,
    QueryVersion = 0x20,
    EraseFirmware = 0x31,
    WriteFirmware = 0x32,
    ReadProgrammerWord = 0x33,
    FirmwareCrc = 0x34,
};

// "EraseStorage", ...; nullptr for an unknown code.
const char* CommandName(std::uint8_t code);
std::optional<Command> CommandFromName(std::string_view name);

// One 65-byte report: report ID 0, command, address, length, up to 55 data bytes. The
// same buffer carries the request and, after the read, the answer (byte 1 on). A worker
// zeroes it once and then sets only the fields each request uses.
struct HidReport {
    std::array<std::uint8_t, kReportSize> bytes{};

    void SetRequest(Command command, std::uint32_t address, std::uint32_t length) {
        bytes[0] = 0;
        bytes[1] = static_cast<std::uint8_t>(command);
        WriteLe32(&bytes[2], address);
        WriteLe32(&bytes[6], length);
    }
    std::uint8_t* Data() { return &bytes[kReportDataOffset]; }
    const std::uint8_t* Data() const { return &bytes[kReportDataOffset]; }

    std::uint8_t CommandCode() const { return bytes[1]; }
    std::uint32_t Address() const { return ReadLe32(&bytes[2]); }
    std::uint32_t Length() const { return ReadLe32(&bytes[6]); }

    // Answers: byte 1 is the status of writes and erases, bytes 1..4 a word or checksum,
    // bytes 1.. the data of reads.
    std::uint8_t Status() const { return bytes[1]; }
    std::uint32_t AnswerWord() const { return ReadLe32(&bytes[1]); }
    const std::uint8_t* Answer() const { return &bytes[1]; }
};
