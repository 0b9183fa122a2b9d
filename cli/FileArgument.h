#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/ConsoleOutput.h"
#include "job/ProductionLog.h"
#include "loading/LoadFirmwareFile.h"

// The name of a load's result for scripts: the HEX reader's result names for ".hex"
// ("HexOk", "HexBadChecksum", ...), and the same scheme for the other kinds ("BinOk",
// "BinOpenFailed", "QvzDamaged", ..., "UnsupportedType").
std::string LoadResultName(const LoadOutcome& outcome);

// Loads a firmware file as the Open command does (the type from the extension, a raw
// binary file at `startAddress`). A refusal shows the system's message with the
// result name and detail, and throws CliFailure (file refused).
FileKind LoadFileArgument(ConsoleOutput& output, ImageWorkspace& workspace, const std::string& file,
                          std::uint32_t startAddress);

inline constexpr std::uint32_t kDefaultRawStartAddress = 0x08000000;

// The firmware file a command takes, with --address for the start of a raw .bin.
class FileOperand {
public:
    // Adds FILE, described by `what`, and --address to the command.
    void Register(CLI::App& command, const char* what = "The firmware file");
    const std::string& File() const { return file_; }
    // --address, else 0x08000000; throws CliFailure (usage) on a bad address.
    std::uint32_t RawStart() const;

private:
    std::string file_;
    std::optional<std::string> address_;
};
