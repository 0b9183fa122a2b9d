#pragma once
// Programs the tests start as a person would from a shell (POSIX only).
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What a finished program left: its exit code (128 + the signal that ended it) and what it
// wrote. `trouble` says why the run itself went wrong (not started, killed for its time).
struct Ran {
    int code = -1;
    std::string out;
    std::string err;
    std::string trouble;
};

// How a program is started beside its arguments. Standard input is /dev/null unless
// inherited: never a terminal.
struct Launch {
    std::filesystem::path stdoutPath = "/dev/null";
    std::filesystem::path stderrPath = "/dev/null";
    bool inheritStdio = false;  // all three of the starting process instead
    bool closeStdout = false;
    bool stdoutPipeClosed = false;     // a pipe whose reader has gone (`| head -c1`)
    std::uintmax_t fileSizeLimit = 0;  // bytes, 0 for none: stands in for a full disk
    std::string lang;                  // LANG of a run whose other locale variables are unset
    int timeLimitSeconds = 60;         // a run that blocks is killed
};

// Starts argv (argv[0] searched in PATH); -1 with `why` when it cannot be started.
pid_t StartProgram(const std::vector<std::string>& argv, const Launch& launch, std::string& why);

// Waits for a started program; one still running after `seconds` is killed, and
// `killed` says so.
int WaitProgram(pid_t pid, int seconds, bool& killed);

// Starts, waits, and reads back the output files of `launch` (only regular files).
Ran RunProgram(const std::vector<std::string>& argv, const Launch& launch);

bool Contains(const std::string& text, const std::string& part);
std::vector<std::string> Lines(const std::string& text);
