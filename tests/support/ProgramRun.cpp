#include "tests/support/ProgramRun.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

// The environment of a run in the locale `lang`, with nothing that would outrank LANG.
std::vector<std::string> EnvironmentFor(const std::string& lang) {
    std::vector<std::string> all;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!lang.empty() &&
            (variable.rfind("LC_ALL=", 0) == 0 || variable.rfind("LC_MESSAGES=", 0) == 0 ||
             variable.rfind("LANGUAGE=", 0) == 0 || variable.rfind("LANG=", 0) == 0)) {
            continue;
        }
        all.push_back(variable);
    }
    if (!lang.empty()) all.push_back("LANG=" + lang);
    return all;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

// posix_spawn rather than fork: under umockdev's preload a forked child could stop on a
// lock that another thread held at the fork.
pid_t StartProgram(const std::vector<std::string>& argv, const Launch& launch, std::string& why) {
    std::vector<std::string> args;
    if (launch.fileSizeLimit != 0) {
        args = {"prlimit", "--fsize=" + std::to_string(launch.fileSizeLimit), "--"};
    }
    args.insert(args.end(), argv.begin(), argv.end());
    std::vector<std::string> environment = EnvironmentFor(launch.lang);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    int pipeEnds[2] = {-1, -1};
    if (!launch.inheritStdio) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (launch.closeStdout) {
            posix_spawn_file_actions_addclose(&actions, 1);
        } else if (launch.stdoutPipeClosed && pipe(pipeEnds) == 0) {
            close(pipeEnds[0]);
            posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
            // As a shell starts it: SIGPIPE ends the program unless it sees to it.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        } else {
            posix_spawn_file_actions_addopen(&actions, 1, launch.stdoutPath.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        posix_spawn_file_actions_addopen(&actions, 2, launch.stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    pid_t pid = -1;
    const int spawned =
        posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        why = "cannot start " + args.front() + ": " + std::strerror(spawned);
        return -1;
    }
    return pid;
}

int WaitProgram(pid_t pid, int seconds, bool& killed) {
    killed = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Ran RunProgram(const std::vector<std::string>& argv, const Launch& launch) {
    Ran run;
    const pid_t pid = StartProgram(argv, launch, run.trouble);
    if (pid < 0) return run;
    bool killed = false;
    run.code = WaitProgram(pid, launch.timeLimitSeconds, killed);
    if (killed) {
        run.trouble =
            "still running after " + std::to_string(launch.timeLimitSeconds) + " s: killed";
    }
    // Only files are read back: a device such as /dev/full or /dev/zero never ends.
    if (!launch.inheritStdio && !launch.closeStdout && !launch.stdoutPipeClosed &&
        std::filesystem::is_regular_file(launch.stdoutPath)) {
        run.out = ReadText(launch.stdoutPath);
    }
    if (!launch.inheritStdio && std::filesystem::is_regular_file(launch.stderrPath)) {
        run.err = ReadText(launch.stderrPath);
    }
    return run;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
