#pragma once
#include <memory>
#include <optional>
#include <string>

#include "cli/ConsolePort.h"
#include "cli/Environment.h"
#include "link/ProgrammerLink.h"

// One opened programmer for the length of a command; the destructor gives it back.
class DeviceSession {
public:
    // Searches and opens the programmer, only the one at `path` when it is given.
    // Throws CliFailure: no programmer, or one that is present but cannot be opened
    // (with the path, the reason and the remedy).
    DeviceSession(Environment& environment, ConsolePort& port, const std::string& path = {});
    ~DeviceSession();
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    ProgrammerLink& Link() { return link_; }

    // Identifies the programmer as every connection does: version words, the stored
    // job, the series it serves. Throws CliFailure after the worker's message.
    void Identify();

    // The series the identification fixed (a programmer of the older kind serves one
    // series only); nullopt when the user may choose.
    std::optional<int> FixedSeries() const;

private:
    ConsolePort& port_;
    std::unique_ptr<HidBackend> only_;  // shows the link only `path`; outlives the link
    ProgrammerLink link_;
};

// Throws the worker's failure as the exit code of its kind; the message has been shown.
void ThrowIfFailed(ConsoleOutput& output, const WorkerOutcome& outcome);
