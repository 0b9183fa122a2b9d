#include "loading/LoadFirmwareFile.h"

#include <exception>
#include <utility>

#include "common/TextFormat.h"
#include "image/ElfReader.h"
#include "image/HexReader.h"
#include "image/SrecReader.h"
#include "remote/RemoteJobFile.h"

namespace {

// Out of memory, or the face's address question threw: the load fails, nothing changes.
LoadOutcome Unexpected(const LoadRequest& request, const char* what) {
    LoadOutcome failed;
    failed.kind = FileKindOf(request.extension);
    failed.detail = what;
    return RefusedLoad(std::move(failed), LoadStatus::ReadFailed, kMsgLoadFailed);
}

LoadOutcome RemoteJobLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          LoadOutcome outcome) {
    switch (LoadRemoteJobFile(path, workspace, outcome.detail)) {
        case RemoteLoadResult::Loaded:
            outcome.status = LoadStatus::Loaded;
            return outcome;
        case RemoteLoadResult::CannotOpen:
            return RefusedLoad(std::move(outcome), LoadStatus::OpenFailed, kMsgLoadFailed);
        case RemoteLoadResult::Damaged:
            return RefusedLoad(std::move(outcome), LoadStatus::Damaged, kMsgFileDamaged);
        case RemoteLoadResult::TooShort:
        case RemoteLoadResult::BadLength:
            return RefusedLoad(std::move(outcome), LoadStatus::BadRecord, kMsgFileDamaged);
        case RemoteLoadResult::TooLarge:
            return RefusedLoad(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
        case RemoteLoadResult::ReadFailed:
            break;
    }
    return RefusedLoad(std::move(outcome), LoadStatus::ReadFailed, kMsgLoadFailed);
}

// A text or ELF reader's result: its refusals take the HEX reader's path.
LoadOutcome ReaderOutcome(LoadOutcome outcome, HexResult result) {
    outcome.hexResult = result;
    if (result != HexOk)
        return RefusedLoad(std::move(outcome), LoadStatus::HexFailed, kMsgLoadFailed);
    outcome.status = LoadStatus::Loaded;
    return outcome;
}

LoadOutcome LoadIntoStaging(ImageWorkspace& workspace, const LoadRequest& request,
                            LoadOutcome outcome) {
    switch (outcome.kind) {
        case FileKind::Hex: {
            const HexResult result = ReadHexFile(request.path, workspace.Staging(), outcome.detail);
            return ReaderOutcome(std::move(outcome), result);
        }
        case FileKind::Srec: {
            const HexResult result =
                ReadSrecFile(request.path, workspace.Staging(), outcome.detail);
            return ReaderOutcome(std::move(outcome), result);
        }
        case FileKind::Elf: {
            const HexResult result = ReadElfFile(request.path, workspace.Staging(), outcome.detail);
            return ReaderOutcome(std::move(outcome), result);
        }
        case FileKind::RawBinary: {
            // A request that cannot ask has nobody to answer: the same as a cancel.
            const std::optional<std::uint32_t> start =
                request.askStartAddress ? request.askStartAddress() : std::nullopt;
            if (!start) {
                outcome.status = LoadStatus::Cancelled;
                return outcome;
            }
            return RawBinaryLoad(workspace, request.path, *start);
        }
        case FileKind::RemoteJob:
            return RemoteJobLoad(workspace, request.path, std::move(outcome));
        case FileKind::Unsupported:
            break;
    }
    outcome.detail = Format("unknown extension '%s'; %s", request.extension.c_str(),
                            AcceptedFormatsNote().c_str());
    return RefusedLoad(std::move(outcome), LoadStatus::Unsupported, kMsgUnsupportedType);
}

}  // namespace

LoadOutcome LoadFirmwareFile(ImageWorkspace& workspace, const LoadRequest& request) {
    LoadOutcome outcome;
    outcome.kind = FileKindOf(request.extension);
    if (workspace.InUse()) return BusyLoad(std::move(outcome));
    try {
        outcome = LoadIntoStaging(workspace, request, std::move(outcome));
        if (outcome.status != LoadStatus::Loaded) return outcome;
        // The copies are made before the swap, so running out of memory here changes nothing.
        std::filesystem::path path = request.path;
        std::string name = request.fileName;
        workspace.CommitStaging(std::move(path), std::move(name));
        return outcome;
    } catch (const std::exception& error) {
        return Unexpected(request, error.what());
    } catch (...) {  // the face's question may throw anything
        return Unexpected(request, "the load was ended by an unknown exception");
    }
}
