#include "link/SimulatedFaults.h"

#include <charconv>
#include <system_error>

namespace {

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Status:
            return "status";
        case FaultKind::Write:
            return "write";
        case FaultKind::Read:
            return "read";
        case FaultKind::Crc:
            return "crc";
        case FaultKind::Hang:
            return "hang";
        case FaultKind::Unplug:
            return "unplug";
    }
    return "";
}

constexpr FaultKind kFaultKinds[] = {FaultKind::Status, FaultKind::Write, FaultKind::Read,
                                     FaultKind::Crc,    FaultKind::Hang,  FaultKind::Unplug};

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, std::string& error) {
    const std::string quoted = "fault '" + std::string(text) + "'";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = quoted + ": expected COMMAND:KIND[@N]";
        return std::nullopt;
    }
    Fault fault;
    const std::string_view commandName = text.substr(0, colon);
    const std::optional<Command> command = CommandFromName(commandName);
    if (!command) {
        error = quoted + ": unknown command '" + std::string(commandName) + "'";
        return std::nullopt;
    }
    fault.command = *command;

    std::string_view rest = text.substr(colon + 1);
    const std::size_t at = rest.find('@');
    const std::string_view kindName = rest.substr(0, at);
    bool kindFound = false;
    for (FaultKind kind : kFaultKinds) {
        if (kindName == FaultKindName(kind)) {
            fault.kind = kind;
            kindFound = true;
        }
    }
    if (!kindFound) {
        error = quoted + ": unknown kind '" + std::string(kindName) +
                "' (status, write, read, crc, hang or unplug)";
        return std::nullopt;
    }
    if (at != std::string_view::npos) {
        const std::string_view count = rest.substr(at + 1);
        int value = 0;
        const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), value);
        if (count.empty() || ec != std::errc() || end != count.data() + count.size() || value < 1) {
            error = quoted + ": the count after '@' must be a whole number from 1";
            return std::nullopt;
        }
        fault.occurrence = value;
    }
    return fault;
}
