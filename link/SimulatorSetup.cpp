#include "link/SimulatorSetup.h"

#include <cctype>
#include <charconv>
#include <system_error>

#include "common/PathText.h"
#include "common/TextFormat.h"

std::optional<AimedFault> ParseAimedFault(std::string_view text, std::size_t programmers,
                                          std::string& error) {
    AimedFault aimed;
    std::string_view rest = text;
    const std::size_t colon = rest.find(':');
    if (colon != std::string_view::npos && colon > 0 &&
        std::isdigit(static_cast<unsigned char>(rest[0]))) {
        std::size_t index = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + colon, index);
        if (ec != std::errc() || end != rest.data() + colon || index >= programmers) {
            error = Format("no simulated programmer %.*s (0 to %zu)", static_cast<int>(colon),
                           rest.data(), programmers - 1);
            return std::nullopt;
        }
        aimed.programmer = index;
        rest.remove_prefix(colon + 1);
    }
    const std::optional<Fault> fault = ParseFault(rest, error);
    if (!fault) return std::nullopt;
    aimed.fault = *fault;
    return aimed;
}

std::filesystem::path SimulatorStateFile(const SimulatorRequest& request, std::size_t index) {
    if (request.count == 1) return request.state;
    return request.state / Format("programmer-%zu.bin", index);
}

std::optional<SimulatedShelf> SetUpSimulator(const SimulatorRequest& request,
                                             SimulatorSetupError& error) {
    SimulatorConfig config;
    if (request.programmerVersion) config.programmerVersion = *request.programmerVersion;
    if (request.firmwareVersion) config.firmwareVersion = *request.firmwareVersion;
    if (request.latencyUs > 0) {
        config.exchangeLatencyUs = request.latencyUs;
        config.eraseUsPerKiB = kSimEraseUsPerKiB;
        config.checksumUsPerKiB = kSimChecksumUsPerKiB;
    }
    if (!request.state.empty() && request.count > 1) {
        std::error_code ec;
        std::filesystem::create_directories(request.state, ec);
        if (ec) {
            error.message =
                "--sim-state " + Utf8OfPath(request.state) + ": not a folder: " + ec.message();
            return std::nullopt;
        }
    }

    SimulatedShelf shelf;
    shelf.backend = std::make_unique<SimulatedBackend>();
    for (std::size_t i = 0; i < request.count; ++i) {
        config.path = Format("sim:programmer-%zu", i);
        config.serialNumber = Format("SIM%04zu", i);
        SimulatedProgrammer& programmer = shelf.backend->AddProgrammer(config);
        if (!request.state.empty()) {
            const std::filesystem::path file = SimulatorStateFile(request, i);
            const std::string shown = Utf8OfPath(file);
            std::string reason;
            if (!programmer.LoadState(file, reason, &error.inUse)) {
                error.message = "--sim-state " + shown + ": " + reason;
                return std::nullopt;
            }
            // A kept programmer keeps its version words (an update changes the firmware
            // word); say so rather than let an option look applied.
            if (request.programmerVersion &&
                programmer.ProgrammerVersion() != config.programmerVersion) {
                shelf.notes.push_back(
                    Format("--sim-state %s holds a programmer of version %04X; "
                           "--sim-version is not applied (use a new state file)",
                           shown.c_str(), programmer.ProgrammerVersion()));
            }
            if (request.firmwareVersion && programmer.FirmwareWord() != config.firmwareVersion) {
                shelf.notes.push_back(
                    Format("--sim-state %s holds firmware word %04X; "
                           "--sim-firmware-version is not applied (use a new state file)",
                           shown.c_str(), programmer.FirmwareWord()));
            }
        }
        for (const AimedFault& aimed : request.faults) {
            if (!aimed.programmer || *aimed.programmer == i) programmer.AddFault(aimed.fault);
        }
        shelf.programmers.push_back(&programmer);
    }
    return shelf;
}

bool SaveSimulatorState(const SimulatedShelf& shelf, const SimulatorRequest& request,
                        std::string& error) {
    if (request.state.empty()) return true;
    for (std::size_t i = 0; i < shelf.programmers.size(); ++i) {
        const std::filesystem::path file = SimulatorStateFile(request, i);
        if (!shelf.programmers[i]->SaveState(file, error)) {
            error = "--sim-state " + Utf8OfPath(file) +
                    ": the simulated programmer's memory was not saved: " + error;
            return false;
        }
    }
    return true;
}
