#include "worker/ExitCodes.h"

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
