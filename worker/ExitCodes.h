#pragma once
#include "worker/WorkerOutcome.h"

// How an operation on one programmer ended: the exit codes of marrowdyne-cli, which the
// production log and every face that writes it name too. Scripts rely on them: never
// renumber.
enum class ExitCode : int {
    Success = 0,
    Internal = 1,       // an unexpected failure inside the tool
    Usage = 2,          // bad options or arguments
    FileRefused = 3,    // the firmware file cannot be loaded or does not fit
    NoProgrammer = 4,   // no programmer attached
    NotAccessible = 5,  // a programmer is attached but cannot be opened (permissions, or it failed)
    LinkFailed = 6,     // a report could not be written or read, or timed out
    CommandRefused = 7,     // the programmer answered a non-zero status
    VerifyMismatch = 8,     // the programmer's checksum differs from the image's
    ReadBackFailed = 9,     // the verified job could not be read back
    RemoteFileFailed = 10,  // the remote job file could not be written or checked
    Declined = 11,          // the firmware update was declined or not confirmed
    NothingMade = 12,       // remote code 00000000: no file is made
    SeriesMismatch = 13,    // the programmer serves another series than the one asked for
    NotSupported = 14,      // the programmer's kind does not offer this (firmware update)
    OutputLost = 15,  // standard output, the --trace or the --log file could not be written whole
    SimStateNotSaved = 16,  // the simulated programmer's memory could not be kept (--sim-state)
    Unsuitable = 17,        // a device with the programmer's ids whose reports do not fit
    NoStoredJob = 18,       // the programmer holds no job to read (erased), or a damaged one
    InUse = 19,             // another program has the programmer (or the --sim-state) open
    LedgerFailed = 20,      // the serial ledger cannot be used, or refused the product or the lease
    Interrupted = 130,      // SIGINT stopped the run (128 + the signal's number, as shells say)
    Terminated = 143,       // SIGTERM stopped the run
};

inline int ToInt(ExitCode code) { return static_cast<int>(code); }

// The one place where a worker's end becomes an exit code.
ExitCode ExitCodeOf(OutcomeKind kind);

// "Success", "WriteFailed", ... as the JSON output names the kinds.
const char* OutcomeKindName(OutcomeKind kind);

// "Success", "Usage", "LinkFailed", ... as the production log and a gang's results name
// the exit codes.
const char* ExitCodeName(ExitCode code);
