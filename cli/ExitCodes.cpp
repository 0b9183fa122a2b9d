#include "cli/ExitCodes.h"

ExitCode ExitCodeOf(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return ExitCode::Success;
        case OutcomeKind::WriteFailed:
        case OutcomeKind::ReadFailed:
            return ExitCode::LinkFailed;
        case OutcomeKind::Refused:
            return ExitCode::CommandRefused;
        case OutcomeKind::VerifyMismatch:
            return ExitCode::VerifyMismatch;
        case OutcomeKind::ReadBackFailed:
            return ExitCode::ReadBackFailed;
        case OutcomeKind::InputRefused:
            return ExitCode::FileRefused;
        case OutcomeKind::FileFailed:
            return ExitCode::RemoteFileFailed;
        case OutcomeKind::Declined:
            return ExitCode::Declined;
        case OutcomeKind::NoStoredJob:
            return ExitCode::NoStoredJob;
    }
    return ExitCode::Internal;
}

const char* OutcomeKindName(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::Success:
            return "Success";
        case OutcomeKind::WriteFailed:
            return "WriteFailed";
        case OutcomeKind::ReadFailed:
            return "ReadFailed";
        case OutcomeKind::Refused:
            return "Refused";
        case OutcomeKind::VerifyMismatch:
            return "VerifyMismatch";
        case OutcomeKind::ReadBackFailed:
            return "ReadBackFailed";
        case OutcomeKind::InputRefused:
            return "InputRefused";
        case OutcomeKind::FileFailed:
            return "FileFailed";
        case OutcomeKind::Declined:
            return "Declined";
        case OutcomeKind::NoStoredJob:
            return "NoStoredJob";
    }
    return "Unknown";
}

const char* ExitCodeName(ExitCode code) {
    switch (code) {
        case ExitCode::Success:
            return "Success";
        case ExitCode::Internal:
            return "Internal";
        case ExitCode::Usage:
            return "Usage";
        case ExitCode::FileRefused:
            return "FileRefused";
        case ExitCode::NoProgrammer:
            return "NoProgrammer";
        case ExitCode::NotAccessible:
            return "NotAccessible";
        case ExitCode::LinkFailed:
            return "LinkFailed";
        case ExitCode::CommandRefused:
            return "CommandRefused";
        case ExitCode::VerifyMismatch:
            return "VerifyMismatch";
        case ExitCode::ReadBackFailed:
            return "ReadBackFailed";
        case ExitCode::RemoteFileFailed:
            return "RemoteFileFailed";
        case ExitCode::Declined:
            return "Declined";
        case ExitCode::NothingMade:
            return "NothingMade";
        case ExitCode::SeriesMismatch:
            return "SeriesMismatch";
        case ExitCode::NotSupported:
            return "NotSupported";
        case ExitCode::OutputLost:
            return "OutputLost";
        case ExitCode::SimStateNotSaved:
            return "SimStateNotSaved";
        case ExitCode::Unsuitable:
            return "Unsuitable";
        case ExitCode::NoStoredJob:
            return "NoStoredJob";
        case ExitCode::InUse:
            return "InUse";
        case ExitCode::LedgerFailed:
            return "LedgerFailed";
        // Either signal leaves a programmer stopped between two exchanges; the exit code
        // says which signal it was.
        case ExitCode::Interrupted:
        case ExitCode::Terminated:
            return "Interrupted";
    }
    return "Unknown";
}

std::string ExitCodeHelp() {
    return "Exit codes:\n"
           "   0  success\n"
           "   1  internal error\n"
           "   2  bad usage (options, arguments, addresses, device ID)\n"
           "   3  firmware file refused (cannot be loaded, damaged, does not fit)\n"
           "   4  no programmer found\n"
           "   5  programmer present but cannot be opened (permissions, or the opening failed)\n"
           "   6  link failure (a report write or read failed or timed out)\n"
           "   7  the programmer refused a command (non-zero status)\n"
           "   8  verification mismatch (stored image or firmware checksum differs; verify: the\n"
           "      programmer does not hold the file's job)\n"
           "   9  read-back of the stored job failed\n"
           "  10  remote job file generation failed\n"
           "  11  firmware update declined or not confirmed\n"
           "  12  nothing made: remote code 00000000\n"
           "  13  the programmer serves another series than --series\n"
           "  14  the programmer's kind does not offer this (firmware update of an older one)\n"
           "  15  output lost: standard output, --trace or --log could not be written\n"
           "  16  --sim-state could not be saved\n"
           "  17  not a programmer this tool can talk to (output report longer than 65 bytes)\n"
           "  18  read-job: the programmer holds no job (erased), or a damaged one\n"
           "  19  the programmer is in use by another program (or its --sim-state is)\n"
           "  20  serial ledger: it cannot be used, or it refused the product or the lease\n"
           " 130  interrupted by SIGINT (143: by SIGTERM); each programmer stopped at its next\n"
           "      exchange\n"
           "Several programmers at once (--all, or --device more than once): 0 when every one\n"
           "succeeded, else the code of the first that failed in path order.\n";
}
