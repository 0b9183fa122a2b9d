#include "cli/CliCommand.h"

std::unique_ptr<CliCommand> MakeInspectCommand();
std::unique_ptr<CliCommand> MakeListCommand();
std::unique_ptr<CliCommand> MakeInfoCommand();
std::unique_ptr<CliCommand> MakeProgramCommand();
std::unique_ptr<CliCommand> MakeVerifyCommand();
std::unique_ptr<CliCommand> MakeReadJobCommand();
std::unique_ptr<CliCommand> MakeCloneCommand();
std::unique_ptr<CliCommand> MakeMakeRemoteCommand();
std::unique_ptr<CliCommand> MakeUpdateFirmwareCommand();
std::unique_ptr<CliCommand> MakeSerialsCommand();

std::vector<std::unique_ptr<CliCommand>> MakeCommands() {
    std::vector<std::unique_ptr<CliCommand>> commands;
    commands.push_back(MakeInspectCommand());
    commands.push_back(MakeListCommand());
    commands.push_back(MakeInfoCommand());
    commands.push_back(MakeProgramCommand());
    commands.push_back(MakeVerifyCommand());
    commands.push_back(MakeReadJobCommand());
    commands.push_back(MakeCloneCommand());
    commands.push_back(MakeMakeRemoteCommand());
    commands.push_back(MakeUpdateFirmwareCommand());
    commands.push_back(MakeSerialsCommand());
    return commands;
}
