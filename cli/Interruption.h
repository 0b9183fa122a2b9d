#pragma once
#include <atomic>

#include "cli/ExitCodes.h"

// SIGINT and SIGTERM do not end the tool midway: they ask it to stop. Every link then
// fails its next exchange before writing anything (ProgrammerLink::SetStopFlag), so each
// programmer stops between two exchanges, is logged, and the simulated programmers' memory
// is saved as the log says. A second signal ends the tool at once, as without this care.
// SIGPIPE is ignored: a closed standard output is a failed write (exit code 15), and no
// reason to leave the programmers with half a job.

// Sets this up; call first in main, before any thread is started (every thread must
// inherit the signal mask).
void WatchForInterruption();

// The flag the links read between exchanges; set once a stop was asked.
const std::atomic<bool>& StopRequested();

// The exit code of the signal that asked to stop (Interrupted, Terminated); Success while
// none did.
ExitCode InterruptionCode();

// "Interrupted by SIGINT", "Interrupted by SIGTERM".
const char* InterruptionText();
