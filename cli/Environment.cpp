#include "cli/Environment.h"

#include <optional>

#include "cli/Arguments.h"
#include "cli/DeviceFilter.h"
#include "cli/ExitCodes.h"
#include "cli/PlatformBackend.h"
#include "cli/Terminal.h"
#include "common/TextFormat.h"
#include "link/SimulatedProgrammer.h"

void RegisterGlobalOptions(CLI::App& app, GlobalOptions& options) {
    app.add_option("--device", options.device,
                   "Use only the programmer at this HID interface path (see 'list')")
        ->type_name("PATH");
    CLI::Option* simulate = app.add_flag(
        "--simulate", options.simulate,
        "Use an embedded simulated programmer (version 1002, firmware 0210) instead of hardware");
    app.add_option("--sim-version", options.simVersion,
                   "Version word of the simulated programmer, hexadecimal (below 1000: older kind)")
        ->type_name("HEX")
        ->needs(simulate);
    app.add_option("--sim-firmware-version", options.simFirmwareVersion,
                   "Firmware word of the simulated programmer, hexadecimal")
        ->type_name("HEX")
        ->needs(simulate);
    app.add_option("--sim-state", options.simState,
                   "Keep the simulated programmer's memory in FILE between runs")
        ->type_name("FILE")
        ->needs(simulate);
    app.add_option("--sim-fault", options.simFaults,
                   "Inject a fault: COMMAND:KIND[@N], KIND one of status, write, read, crc, "
                   "hang, unplug; N counts that command from 1 (repeatable)")
        ->type_name("FAULT")
        ->needs(simulate);
    // For tests of a programmer that never answers: without it a hang takes seconds.
    app.add_option("--sim-timeout-ms", options.simTimeoutMs)
        ->needs(simulate)
        ->check(CLI::Range(1, 600000))
        ->group("");
    // For tests of a programmer that is present but may not be opened.
    app.add_option("--sim-deny-open", options.simDenyOpen)->needs(simulate)->group("");
    app.add_option("--trace", options.trace,
                   "Write every report written ('> ') and read ('< ') to FILE, one line each")
        ->type_name("FILE");
    app.add_flag("--json", options.json, "Print one JSON object on standard output");
}

Environment::Environment(const GlobalOptions& options)
    : options_(options), output_(options.json) {}

Environment::~Environment() = default;

namespace {

std::uint32_t SimulatorWord(const std::string& text, std::uint32_t fallback, const char* option) {
    if (text.empty()) return fallback;
    const std::optional<std::uint32_t> value = ParseHexDigits(text);
    if (!value) {
        throw CliFailure(ExitCode::Usage, std::string(option) +
                                              " takes 1 to 8 hexadecimal digits, got '" + text + "'");
    }
    return *value;
}

}  // namespace

HidBackend& Environment::Backend() {
    if (filter_) return *filter_;
    if (simulated_) return *simulated_;
    if (platform_) return *platform_;

    HidBackend* backend = nullptr;
    if (options_.simulate) {
        SimulatorConfig config;
        config.programmerVersion =
            SimulatorWord(options_.simVersion, config.programmerVersion, "--sim-version");
        config.firmwareVersion = SimulatorWord(options_.simFirmwareVersion, config.firmwareVersion,
                                               "--sim-firmware-version");
        std::vector<Fault> faults;
        for (const std::string& text : options_.simFaults) {
            std::string error;
            std::optional<Fault> fault = ParseFault(text, error);
            if (!fault) throw CliFailure(ExitCode::Usage, "--sim-fault " + text + ": " + error);
            faults.push_back(*fault);
        }
        auto simulated = std::make_unique<SimulatedBackend>();
        SimulatedProgrammer& programmer = simulated->AddProgrammer(config);
        if (!options_.simDenyOpen.empty()) {
            simulated->DenyOpen(programmer.config().path, options_.simDenyOpen);
        }
        if (!options_.simState.empty()) {
            std::string error;
            if (!programmer.LoadState(PathFromArgument(options_.simState), error)) {
                // Nothing is kept of this run, so the refused file is never written over.
                throw CliFailure(ExitCode::Usage, "--sim-state " + options_.simState + ": " + error);
            }
            // A kept programmer keeps its version words (an update changes the firmware
            // word); say so rather than let an option look applied.
            if (!options_.simVersion.empty() &&
                programmer.ProgrammerVersion() != config.programmerVersion) {
                output_.Note(Format("--sim-state %s holds a programmer of version %04X; "
                                    "--sim-version is not applied (use a new state file)",
                                    options_.simState.c_str(), programmer.ProgrammerVersion()));
            }
            if (!options_.simFirmwareVersion.empty() &&
                programmer.FirmwareWord() != config.firmwareVersion) {
                output_.Note(Format("--sim-state %s holds firmware word %04X; "
                                    "--sim-firmware-version is not applied (use a new state file)",
                                    options_.simState.c_str(), programmer.FirmwareWord()));
            }
        }
        simulated_ = std::move(simulated);
        programmer_ = &programmer;
        for (const Fault& fault : faults) programmer_->AddFault(fault);
        backend = simulated_.get();
    } else {
        platform_ = MakePlatformBackend();
        backend = platform_.get();
    }
    if (!options_.device.empty()) {
        filter_ = OnlyDevicePath(*backend, options_.device);
        backend = filter_.get();
    }
    return *backend;
}

void Environment::ConfigureLink(ProgrammerLink& link) {
    if (options_.simTimeoutMs > 0) {
        link.SetTimeouts(LinkTimeouts{options_.simTimeoutMs, options_.simTimeoutMs});
    }
    if (!options_.trace.empty()) {
        if (!trace_) {
            auto trace = std::make_unique<OutputFile>();
            std::string error;
            if (!trace->Create(PathFromArgument(options_.trace), error)) {
                throw CliFailure(ExitCode::Usage, "--trace " + options_.trace + ": " + error);
            }
            trace_ = std::move(trace);
        }
        link.SetTrace([this](char direction, const std::uint8_t* bytes, std::size_t size) {
            WriteTrace(direction, bytes, size);
        });
    }
}

void Environment::WriteTrace(char direction, const std::uint8_t* bytes, std::size_t size) {
    if (!traceError_.empty()) return;  // the trace is lost already
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(2 + size * 3);
    line += direction;
    for (std::size_t i = 0; i < size; ++i) {
        line += ' ';
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0x0F];
    }
    line += '\n';
    // Written at once: a run killed while it waits for an answer still leaves what was
    // traced, in the temporary file beside the trace.
    if (!trace_->Write(line.data(), line.size(), traceError_)) trace_->Discard();
}

bool Environment::FinishTrace(std::string& error) {
    if (!trace_) return true;
    if (traceError_.empty() && trace_->Commit(traceError_)) return true;
    trace_->Discard();
    error = "--trace " + options_.trace + ": the trace is lost: " + traceError_;
    return false;
}

bool Environment::SaveSimulatorState(std::string& error) {
    if (programmer_ == nullptr || options_.simState.empty()) return true;
    if (programmer_->SaveState(PathFromArgument(options_.simState), error)) return true;
    error = "--sim-state " + options_.simState +
            ": the simulated programmer's memory was not saved: " + error;
    return false;
}
