#include "cli/Interruption.h"

#include <csignal>

#include "cli/Terminal.h"

#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>

#include <thread>
#endif

namespace {

std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};  // the first signal that asked to stop

void AskToStop(int number) {
    int none = 0;
    gSignal.compare_exchange_strong(none, number);
    gStop.store(true);
}

#ifdef _WIN32
// The console's Ctrl-C arrives on a thread of its own; the handler only sets flags. A
// second Ctrl-C ends the tool as the C runtime does, with the console's code pages given
// back first (no exit handler runs then).
void OnStopSignal(int number) {
    if (gStop.load()) {
        RestoreConsole();
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    AskToStop(number);
    // The C runtime resets the disposition before calling the handler.
    std::signal(number, OnStopSignal);
}
#else
// Both signals stay blocked in every thread and are taken here, in an ordinary thread:
// no code runs in a signal handler, and no read of a worker is cut short by EINTR.
void TakeStopSignals(sigset_t signals) {
    for (;;) {
        int number = 0;
        if (sigwait(&signals, &number) != 0) continue;
        if (gStop.load()) {
            // Asked twice: the tool's own end is not awaited.
            std::signal(number, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, number);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            raise(number);
            _exit(128 + number);
        }
        AskToStop(number);
    }
}
#endif

}  // namespace

void WatchForInterruption() {
#ifdef _WIN32
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#else
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A signal ignored by whoever started the tool (a background job) stays ignored: it
    // is discarded before it can be waited for.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(TakeStopSignals, signals).detach();
#endif
}

const std::atomic<bool>& StopRequested() { return gStop; }

ExitCode InterruptionCode() {
    switch (gSignal.load()) {
        case 0:
            return ExitCode::Success;
        case SIGINT:
            return ExitCode::Interrupted;
        default:
            return ExitCode::Terminated;
    }
}

const char* InterruptionText() {
    return gSignal.load() == SIGINT ? "Interrupted by SIGINT" : "Interrupted by SIGTERM";
}
