#include "link/HidReport.h"

namespace {

struct CommandEntry {
    Command command;
    const char* name;
};

constexpr CommandEntry kCommands[] = {
    {Command::EraseStorage, "EraseStorage"},   {Command::WriteStorage, "WriteStorage"},
    {Command::ReadStorage, "ReadStorage"},     {Command::StorageCrc, "StorageCrc"},
    {Command::QueryVersion, "QueryVersion"},   {Command::EraseFirmware, "EraseFirmware"},
    {Command::WriteFirmware, "WriteFirmware"}, {Command::ReadProgrammerWord, "ReadProgrammerWord"},
    {Command::FirmwareCrc, "FirmwareCrc"},
};

}  // namespace

const char* CommandName(std::uint8_t code) {
    for (const auto& entry : kCommands) {
        if (static_cast<std::uint8_t>(entry.command) == code) return entry.name;
    }
    return nullptr;
}

std::optional<Command> CommandFromName(std::string_view name) {
    for (const auto& entry : kCommands) {
        if (name == entry.name) return entry.command;
    }
    return std::nullopt;
}
