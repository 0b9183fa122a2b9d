// Runs a program (the window, or the command-line tool) against an emulated programmer, so
// that the real transport can be watched at work without hardware. Run it under umockdev's
// preload (scripts/emulated-programmer does).
//
//   marrowdyne-emulated-programmer [--state FILE] [--fault FAULT]... [--replug] -- PROGRAM [ARG]...
//
// --state keeps the programmer's memory in FILE between runs, --fault injects a fault as
// the simulator's options do, and with --replug every line typed on standard input
// unplugs the programmer or plugs it in again. The exit code is the program's.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "link/SimulatedProgrammer.h"
#include "tests/emulated/EmulatedHidraw.h"
#include "tests/support/ProgramRun.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr,
                 "marrowdyne-emulated-programmer: %s\n"
                 "usage: marrowdyne-emulated-programmer [--state FILE] [--fault FAULT]... "
                 "[--replug] -- PROGRAM [ARG]...\n",
                 why);
    return 2;
}

// Waits for the program; meanwhile each line on standard input, when `replug`, unplugs
// the programmer or plugs it in again.
int WaitFor(pid_t child, bool replug, EmulatedHidraw& system, SimulatedProgrammer& programmer,
            std::string& node) {
    bool reading = replug;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 && errno != EINTR) return 1;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (!reading || ::poll(&input, 1, 200) <= 0) {
            if (!reading) ::usleep(200 * 1000);
            continue;
        }
        char line[256];
        if (std::fgets(line, sizeof line, stdin) == nullptr) {
            reading = false;
            continue;
        }
        if (system.IsPlugged(node)) {
            system.Unplug(node);
            std::fprintf(stderr, "programmer unplugged from %s; Enter plugs it in again\n",
                         node.c_str());
        } else {
            node = system.Plug({}, &programmer);
            std::fprintf(stderr, "programmer plugged in at %s; Enter unplugs it\n", node.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string stateFile;
    std::vector<Fault> faults;
    bool replug = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string option = argv[first];
        if (option == "--") {
            ++first;
            break;
        }
        if (option == "--replug") {
            replug = true;
        } else if ((option == "--state" || option == "--fault") && first + 1 < argc) {
            const std::string value = argv[++first];
            if (option == "--state") {
                stateFile = value;
                continue;
            }
            std::string error;
            const std::optional<Fault> fault = ParseFault(value, error);
            if (!fault) return Usage(error.c_str());
            faults.push_back(*fault);
        } else {
            return Usage(("unknown option " + option).c_str());
        }
    }
    if (first >= argc) return Usage("no program to run");

    try {
        EmulatedHidraw system;
        SimulatedProgrammer programmer;
        std::string error;
        if (!stateFile.empty() && !programmer.LoadState(stateFile, error))
            return Usage(error.c_str());
        for (const Fault& fault : faults) programmer.AddFault(fault);
        std::string node = system.Plug({}, &programmer);
        std::fprintf(stderr, "emulated programmer at %s%s\n", node.c_str(),
                     replug ? "; Enter unplugs it" : "");

        Launch launch;
        launch.inheritStdio = true;
        const pid_t child =
            StartProgram(std::vector<std::string>(argv + first, argv + argc), launch, error);
        if (child < 0) {
            std::fprintf(stderr, "marrowdyne-emulated-programmer: %s\n", error.c_str());
            return 127;
        }
        const int code = WaitFor(child, replug, system, programmer, node);
        if (!stateFile.empty() && !programmer.SaveState(stateFile, error)) {
            std::fprintf(stderr, "marrowdyne-emulated-programmer: %s\n", error.c_str());
            return code != 0 ? code : 1;
        }
        return code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "marrowdyne-emulated-programmer: %s\n", e.what());
        return 1;
    }
}
