#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CliCommand.h"
#include "cli/Environment.h"
#include "cli/ExitCodes.h"
#include "cli/Terminal.h"

#ifndef MARRO_VERSION
#define MARRO_VERSION "0"
#endif

namespace {

// Runs the chosen command and turns every way it can end into one exit code.
int Run(Environment& environment, CliCommand& command) {
    ConsoleOutput& output = environment.Output();
    ExitCode code = ExitCode::Success;
    try {
        command.Execute(environment);
    } catch (const CliFailure& failure) {
        if (!failure.shown()) output.Message(MessageIcon::Error, failure.what());
        if (!failure.detail().empty()) output.Note(failure.detail());
        code = failure.code();
    } catch (const std::exception& failure) {
        output.Message(MessageIcon::Error, std::string("internal error: ") + failure.what());
        code = ExitCode::Internal;
    }
    // A failure after the command is reported as its own, unless the command failed first.
    const auto alsoFailed = [&code](ExitCode own) {
        if (code == ExitCode::Success) code = own;
    };
    // The simulated programmer keeps what it got, also from a failed command.
    std::string error;
    if (!environment.SaveSimulatorState(error)) {
        output.Note(error);
        alsoFailed(ExitCode::SimStateNotSaved);
    }
    if (!environment.FinishTrace(error)) {
        output.Note(error);
        alsoFailed(ExitCode::OutputLost);
    }
    output.Finish(ToInt(code));
    if (!output.Delivered()) alsoFailed(ExitCode::OutputLost);
    return ToInt(code);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    CLI::App app{"Stores programming jobs in the offline programmer (USB HID 0484:1001), makes "
                 "and reads remote job files, and updates the programmer's firmware.",
                 "marrowdyne-cli"};
    // Set before the commands are added, so that every command's help shows it too.
    app.footer(ExitCodeHelp());
    app.set_version_flag("--version", MARRO_VERSION);
    app.require_subcommand(1);
    app.fallthrough();

    GlobalOptions options;
    RegisterGlobalOptions(app, options);
    std::vector<std::unique_ptr<CliCommand>> commands = MakeCommands();
    std::vector<std::pair<CLI::App*, CliCommand*>> registered;
    for (const std::unique_ptr<CliCommand>& command : commands) {
        registered.emplace_back(command->Register(app), command.get());
    }

    std::vector<std::string> arguments = CommandLineArguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        const int result = app.exit(error);
        return result == 0 ? 0 : ToInt(ExitCode::Usage);
    }

    Environment environment(options);
    for (const auto& [subcommand, command] : registered) {
        if (subcommand->parsed()) return Run(environment, *command);
    }
    return ToInt(ExitCode::Usage);
}
