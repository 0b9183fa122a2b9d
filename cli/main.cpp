#include <cstdio>
#include <exception>
#include <optional>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/CliCommand.h"
#include "cli/Environment.h"
#include "cli/ExitCodes.h"
#include "cli/Interruption.h"
#include "cli/Terminal.h"
#include "common/StreamText.h"
#include "common/Translation.h"

#ifndef MARRO_VERSION
#define MARRO_VERSION "0"
#endif

namespace {

// Runs the chosen command and turns every way it can end into one exit code.
int Run(Environment& environment, CliCommand& command) {
    ConsoleOutput& output = environment.Output();
    ExitCode code = ExitCode::Success;
    std::optional<CliFailure> failed;
    try {
        command.Execute(environment);
    } catch (const CliFailure& failure) {
        failed = failure;
    } catch (const std::exception& failure) {
        failed = CliFailure(ExitCode::Internal, std::string("internal error: ") + failure.what());
    }
    // The operation on the command's one programmer is in the log before it is reported;
    // a gang logs each of its programmers itself.
    const std::optional<WorkerOutcome>& outcome = output.LastOutcome();
    if (failed && InterruptionCode() != ExitCode::Success) {
        // What failed once the stop was asked was stopped by it, between two exchanges.
        if (failed->shown()) output.Note(InterruptionText());
        failed =
            CliFailure(InterruptionCode(), InterruptionText(), failed->detail(), failed->shown());
    }
    if (failed) {
        code = failed->code();
        std::string detail = failed->detail();
        if (detail.empty() && outcome && !outcome->ok()) detail = outcome->detail;
        environment.Log(environment.Record(), code, failed->what(), detail);
        if (!failed->shown()) output.Message(MessageIcon::Error, failed->what());
        if (!failed->detail().empty()) output.Note(failed->detail());
    } else {
        environment.Log(environment.Record(), code, output.LastMessage(),
                        outcome ? outcome->detail : std::string());
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
    if (!environment.FinishLog(error)) {
        output.Note(error);
        alsoFailed(ExitCode::OutputLost);
    }
    // The run was stopped, whatever its programmers got done before: scripts must see it.
    if (InterruptionCode() != ExitCode::Success) code = InterruptionCode();
    output.Finish(ToInt(code));
    if (!output.Delivered()) alsoFailed(ExitCode::OutputLost);
    return ToInt(code);
}

// Writes a whole text the parser made (help, version, a usage error) as the results are
// written, so a console shows it readable.
void PutText(std::FILE* stream, const std::string& text) {
    if (text.empty()) return;
    WriteStreamText(stream, text);
    std::fflush(stream);
}

int RunTool(int argc, char** argv) {
    CLI::App app{
        "Stores programming jobs in the offline programmer (USB HID 0484:1001), makes "
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
#ifdef _WIN32
    // Windows programs show their usage for "/?", the tool's and a command's alike.
    for (std::string& argument : arguments) {
        if (argument == "/?") argument = "--help";
    }
#endif
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& error) {
        std::ostringstream out;
        std::ostringstream err;
        const int result = app.exit(error, out, err);
        PutText(stdout, out.str());
        PutText(stderr, err.str());
        return result == 0 ? 0 : ToInt(ExitCode::Usage);
    }

    // Before any message: the engine's texts are translated as they are shown.
    std::string languageProblem;
    const bool languageChosen = ChooseLanguage(
        options.lang.empty() ? LanguageOfEnvironment() : ParseTextLanguage(options.lang).value(),
        languageProblem);
    Environment environment(options);
    if (!languageChosen) environment.Output().Note(languageProblem);
    for (const auto& [subcommand, command] : registered) {
        if (!subcommand->parsed()) continue;
        environment.SetOperation(subcommand->get_name());
        return Run(environment, *command);
    }
    return ToInt(ExitCode::Usage);
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread: they all inherit its signal mask.
    WatchForInterruption();
    PrepareConsole();
    // Every end goes through main's return, so the console gets its code pages back.
    try {
        return RunTool(argc, argv);
    } catch (const CliFailure& failure) {
        PutText(stderr, std::string(failure.what()) + "\n");
        return ToInt(failure.code());
    } catch (const std::exception& failure) {
        PutText(stderr, std::string("internal error: ") + failure.what() + "\n");
        return ToInt(ExitCode::Internal);
    }
}
