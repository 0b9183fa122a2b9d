#pragma once
#include <string>

// How a worker ended, for faces that need more than the message (the command line's
// exit codes, logs). The message is the one the worker showed, or its first line when
// the worker said below it what the failure left in the programmer.
enum class OutcomeKind {
    Success,
    WriteFailed,     // a request could not be sent
    ReadFailed,      // an answer did not come (error or time-out)
    Refused,         // the programmer answered a non-zero status
    VerifyMismatch,  // the programmer's checksum differs from the image's
    ReadBackFailed,  // the stored job could not be read back after a verified upload
    InputRefused,    // the image or record does not fit; nothing was sent
    FileFailed,      // a remote job file could not be written or read back
    Declined,        // the user answered No
    NoStoredJob,     // the programmer holds no job (erased), or one that cannot be read
};

struct WorkerOutcome {
    OutcomeKind kind = OutcomeKind::Success;
    int code = 0;         // the step code of the message (01.., 18..), 0 when none
    std::string message;  // the system's text that was shown
    std::string detail;   // the failing call, address or sizes

    bool ok() const { return kind == OutcomeKind::Success; }
};
