#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/ConsoleOutput.h"
#include "cli/ExitCodes.h"
#include "job/ProductionLog.h"
#include "common/OutputFile.h"
#include "link/HidBackend.h"
#include "link/ProgrammerLink.h"
#include "link/SimulatorSetup.h"

class SerialLedger;

// The options that every command shares.
struct GlobalOptions {
    std::vector<std::string> devices;  // only these interface paths are searched (--device)
    int simulate = 0;                  // simulated programmers instead of hardware (--simulate N)
    std::string simVersion;            // hexadecimal, default 1002
    std::string simFirmwareVersion;    // hexadecimal, default 0210
    std::string simState;              // file (one programmer) or folder keeping the memory
    std::vector<std::string> simFaults;
    int simLatencyUs = 0;     // each exchange takes this long; erases and checksums more
    int simTimeoutMs = 0;     // shortens every answer's time-out (tests of hangs)
    std::string simDenyOpen;  // the simulated programmer refuses to open, with this reason
    std::string trace;        // file receiving every report written and read
    std::string log;          // production log, one JSON line per programmer and operation
    std::string ledger;       // serial ledger: a SQLite file or postgresql://... (--ledger)
    bool json = false;
    std::string lang;  // "en" or "original"; empty: from the locale (--lang)
};

void RegisterGlobalOptions(CLI::App& app, GlobalOptions& options);

// What a command runs in: its output, the production log and, made on first use, the HID
// backend (the platform's, or the embedded simulated programmers) with the trace and
// time-outs that every link gets. Links of a gang may be used from their own threads:
// the trace and the log take whole lines from any of them.
class Environment {
public:
    explicit Environment(const GlobalOptions& options);
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    const GlobalOptions& options() const { return options_; }
    ConsoleOutput& Output() { return output_; }

    // The command being run ("program", "info", ...), as the log names the operation.
    void SetOperation(std::string name) { record_.operation = std::move(name); }
    const std::string& Operation() const { return record_.operation; }
    // What the command did with its one programmer, logged when the command ends.
    OperationRecord& Record() { return record_; }

    // Throws CliFailure (usage) for bad simulator options, a refused state file or a
    // trace file that cannot be created.
    HidBackend& Backend();
    // Gives an opened link the time-outs, the trace and the stop flag of an interruption.
    // The first link opens the trace file; throws CliFailure (usage) when it cannot be
    // opened.
    void ConfigureLink(ProgrammerLink& link);
    // Trace lines name the programmer (a gang traces several links into one file).
    void TraceWithPaths() { tracePaths_ = true; }

    bool Logging() const { return !options_.log.empty(); }
    // Opens the production log, once: before a programmer is opened, so that even one
    // that fails to open is logged. Throws CliFailure (usage) when it cannot be opened
    // or is not a regular file.
    void OpenLog();
    // Appends the record's line to the production log, synced, before the operation is
    // reported done. A record without a programmer is not logged. A failed append is kept
    // for FinishLog and the results are still reported.
    void Log(const OperationRecord& record, ExitCode code, std::string_view message,
             std::string_view detail);

    // The serial ledger of a command that leases serial values: --ledger, else the default
    // file, named in the output (unless `named` is false: output that is a table of its
    // own). Throws CliFailure (ledger) when it cannot be had.
    SerialLedger& RequireLedger(bool named = true);
    // Runs `use` on the ledger in use, one caller at a time (the members of a gang share
    // it): the one RequireLedger opened, else --ledger or an existing default file, opened
    // on first use. Without a ledger `use` is not run; one that cannot be opened is said
    // once and not used. Returns whether `use` ran.
    bool WithLedger(const std::function<void(SerialLedger&)>& use);

    // Keeps the simulated memory (--sim-state) of the programmers that this run loaded or
    // newly made; a refused state file is never written. Returns false and says why.
    bool SaveSimulatorState(std::string& error);
    // Puts the --trace file in place. Returns false and says why when any of it was lost;
    // then no partial trace is left.
    bool FinishTrace(std::string& error);
    // Returns false and says why when a line of the production log could not be written.
    bool FinishLog(std::string& error);

private:
    void WriteTrace(const std::string& path, char direction, const std::uint8_t* bytes,
                    std::size_t size);
    void AddSimulatedProgrammers();
    SimulatorRequest SimulatorRequestOfOptions() const;

    GlobalOptions options_;
    ConsoleOutput output_;
    OperationRecord record_;
    std::unique_ptr<HidBackend> platform_;
    SimulatorRequest simulatorRequest_;
    SimulatedShelf simulated_;
    std::unique_ptr<HidBackend> filter_;
    std::mutex traceMutex_;
    std::unique_ptr<OutputFile> trace_;
    std::string traceError_;  // why the trace is lost; empty while it is whole
    bool tracePaths_ = false;
    std::unique_ptr<ProductionLogFile> log_;
    std::unique_ptr<SerialLedger> ledger_;
    bool ledgerTried_ = false;  // opened, or found missing or refused: not tried again
    std::recursive_mutex ledgerMutex_;
};
