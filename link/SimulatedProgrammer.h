#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/FileLock.h"
#include "link/HidReport.h"
#include "link/SimulatedFaults.h"

// A model of the programmer that answers every command from its own memory: 2 MiB of
// job storage with flash behaviour (erase sets 0xFF, writes can only clear bits), the
// firmware area at 0x08004000 with its version word at 0x080040EC, and the version word
// of either kind of programmer. Checksums are computed over what is actually stored.

inline constexpr std::uint32_t kSimFlashAddress = 0x08000000;  // programmer's own flash
inline constexpr std::uint32_t kSimFlashSize = 0x40000;        // 256 KiB
inline constexpr std::uint32_t kSimSramAddress = kProgrammerSramAddress;
inline constexpr std::uint32_t kSimSramSize = kProgrammerSramSize;

struct SimulatorConfig {
    std::uint32_t programmerVersion = 0x1002;
    std::uint32_t firmwareVersion = 0x0210;  // the word at 0x080040EC; older kinds ignore it
    std::string path = "sim:programmer-0";
    std::string serialNumber = "";  // the USB serial number; empty: it names none
    std::size_t outputReportLength = kReportSize;
    // Time as a programmer takes it: every exchange answers after exchangeLatencyUs (on
    // full-speed USB a request and its answer each wait for a 1 ms frame), and an erase
    // or a checksum works on top of that in proportion to the length of its range. All 0:
    // every answer is there at once.
    std::uint32_t exchangeLatencyUs = 0;
    std::uint32_t eraseUsPerKiB = 0;     // EraseStorage, EraseFirmware
    std::uint32_t checksumUsPerKiB = 0;  // StorageCrc, FirmwareCrc
};

// Work rates of a programmer at its usual pace: its storage flash erases in 4 KiB sectors
// of about 20 ms, and its checksum reads about 4 MB a second.
inline constexpr std::uint32_t kSimEraseUsPerKiB = 5000;
inline constexpr std::uint32_t kSimChecksumUsPerKiB = 250;

class SimulatedProgrammer {
public:
    explicit SimulatedProgrammer(const SimulatorConfig& config = {});

    const SimulatorConfig& config() const { return config_; }
    std::uint32_t ProgrammerVersion() const { return config_.programmerVersion; }
    bool IsNewerKind() const { return ::IsNewerKind(config_.programmerVersion); }

    void AddFault(const Fault& fault);

    // The job storage (kStorageSize bytes) and the programmer's own flash
    // (kSimFlashSize bytes from kSimFlashAddress).
    std::uint8_t* Storage() { return storage_.data(); }
    const std::uint8_t* Storage() const { return storage_.data(); }
    std::uint8_t* Flash() { return flash_.data(); }
    const std::uint8_t* Flash() const { return flash_.data(); }
    std::uint32_t FirmwareWord() const;  // the word at 0x080040EC

    // Persisted memory, so a job stored by one run is read back by the next. A missing
    // file is not an error for Load (the memory stays as constructed); anything but a
    // regular file is refused before it is opened. Loading restores the saved version
    // word too. Save writes a temporary file beside the state, syncs it and renames it
    // over the state, so a failed save leaves the earlier state (or none) behind.
    // Loading takes the state file for this programmer's life (FileLock), its saves
    // included: one state is one programmer, so another programmer (of this or another
    // program) that loads it meanwhile is refused with `inUse` set and `error` naming
    // the failing call.
    bool LoadState(const std::filesystem::path& file, std::string& error, bool* inUse = nullptr);
    bool SaveState(const std::filesystem::path& file, std::string& error) const;

    // What one request does, as the device would: `request` is a whole output report
    // (byte 0 the report ID). Returns false when the request must fail to be written.
    // Otherwise `answer` receives the input report, or stays empty when no answer will
    // ever come.
    struct Response {
        bool writeFails = false;
        bool readFails = false;
        bool hang = false;
        bool unplug = false;
        std::vector<std::uint8_t> answer;
        std::uint64_t answerAfterUs = 0;  // when the answer (or its failure) comes
    };
    Response Handle(const std::uint8_t* request, std::size_t length);

    // Every request handled, in order (for byte-exact tests), including those whose
    // write a fault made fail.
    const std::vector<std::vector<std::uint8_t>>& Requests() const { return requests_; }
    void ClearRequests() { requests_.clear(); }

private:
    // How long after its request an answer comes.
    std::uint64_t AnswerDelayUs(std::uint8_t code, std::uint32_t count) const;
    bool WriteFirmwareBlock(std::uint32_t address, std::uint32_t count, const std::uint8_t* data,
                            std::size_t dataReceived);

    SimulatorConfig config_;
    std::vector<std::uint8_t> storage_;
    std::vector<std::uint8_t> flash_;
    std::uint32_t firmwareEraseLength_ = 0;  // the range the last EraseFirmware prepared
    std::vector<Fault> faults_;
    std::map<std::uint8_t, int> commandCounts_;
    std::vector<std::vector<std::uint8_t>> requests_;
    FileLock stateLock_;  // the state file loaded, held until the programmer goes
    std::filesystem::path stateFile_;
};
