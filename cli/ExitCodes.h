#pragma once
#include <stdexcept>
#include <string>

#include "worker/ExitCodes.h"

// The table printed under --help.
std::string ExitCodeHelp();

// A failure of a command that the top level turns into its exit code. The message has
// been shown already when `shown` is set (a worker's message); otherwise the top level
// prints it.
class CliFailure : public std::runtime_error {
public:
    CliFailure(ExitCode code, std::string message, std::string detail = {}, bool shown = false)
        : std::runtime_error(message), code_(code), detail_(std::move(detail)), shown_(shown) {}

    ExitCode code() const { return code_; }
    const std::string& detail() const { return detail_; }
    bool shown() const { return shown_; }

private:
    ExitCode code_;
    std::string detail_;
    bool shown_;
};
