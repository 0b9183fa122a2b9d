#pragma once
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/Environment.h"

// One command of marrowdyne-cli: its options and help text, and what it does.
class CliCommand {
public:
    virtual ~CliCommand() = default;
    // Adds the subcommand with its options to `app`.
    virtual CLI::App* Register(CLI::App& app) = 0;
    // Runs the command. Failures are thrown as CliFailure.
    virtual void Execute(Environment& environment) = 0;
};

std::vector<std::unique_ptr<CliCommand>> MakeCommands();
