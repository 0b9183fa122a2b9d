#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/ConsoleOutput.h"
#include "common/OutputFile.h"
#include "link/HidBackend.h"
#include "link/ProgrammerLink.h"

class SimulatedBackend;
class SimulatedProgrammer;

// The options that every command shares.
struct GlobalOptions {
    std::string device;  // only this interface path is searched
    bool simulate = false;
    std::string simVersion;          // hexadecimal, default 1002
    std::string simFirmwareVersion;  // hexadecimal, default 0210
    std::string simState;            // file keeping the simulated memory between runs
    std::vector<std::string> simFaults;
    int simTimeoutMs = 0;            // shortens every read time-out (tests of hangs)
    std::string simDenyOpen;         // the simulated programmer refuses to open, with this reason
    std::string trace;               // file receiving every report written and read
    bool json = false;
};

void RegisterGlobalOptions(CLI::App& app, GlobalOptions& options);

// What a command runs in: its output and, made on first use, the HID backend (the
// platform's, or the embedded simulated programmer) with the trace and time-outs that
// every link gets.
class Environment {
public:
    explicit Environment(const GlobalOptions& options);
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    const GlobalOptions& options() const { return options_; }
    ConsoleOutput& Output() { return output_; }

    // Throws CliFailure (usage) for bad simulator options, a refused state file or a
    // trace file that cannot be created.
    HidBackend& Backend();
    void ConfigureLink(ProgrammerLink& link);

    // Keeps the simulated memory (--sim-state) of a programmer that this run loaded or
    // newly made; a refused state file is never written. Returns false and says why.
    bool SaveSimulatorState(std::string& error);
    // Puts the --trace file in place. Returns false and says why when any of it was lost;
    // then no partial trace is left.
    bool FinishTrace(std::string& error);

private:
    void WriteTrace(char direction, const std::uint8_t* bytes, std::size_t size);

    GlobalOptions options_;
    ConsoleOutput output_;
    std::unique_ptr<HidBackend> platform_;
    std::unique_ptr<SimulatedBackend> simulated_;
    SimulatedProgrammer* programmer_ = nullptr;
    std::unique_ptr<HidBackend> filter_;
    std::unique_ptr<OutputFile> trace_;
    std::string traceError_;  // why the trace is lost; empty while it is whole
};
