#include "image/FileLoading.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "common/FileReading.h"
#include "common/TextFormat.h"
#include "image/ElfReader.h"
#include "image/SrecReader.h"
#include "remote/RemoteJobFile.h"

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = AsciiLower(c);
    return lower;
}

LoadStatus LoadStatusOf(FileReadStatus status) {
    switch (status) {
        case FileReadStatus::Ok: return LoadStatus::Loaded;
        case FileReadStatus::NotRegularFile:
        case FileReadStatus::OpenFailed: return LoadStatus::OpenFailed;
        case FileReadStatus::TooLarge: return LoadStatus::TooLarge;
        case FileReadStatus::ReadFailed: break;
    }
    return LoadStatus::ReadFailed;
}

LoadOutcome Refusal(LoadOutcome outcome, LoadStatus status, const char* msgid) {
    outcome.status = status;
    outcome.message = Tr(msgid);
    return outcome;
}

LoadOutcome BusyRefusal(LoadOutcome outcome) {
    outcome.detail = "a worker is reading the loaded image";
    return Refusal(std::move(outcome), LoadStatus::Busy, kMsgImageBusy);
}

// Out of memory, or the face's address question threw: the load fails, nothing changes.
LoadOutcome Unexpected(const LoadRequest& request, const char* what) {
    LoadOutcome failed;
    failed.kind = FileKindOf(request.extension);
    failed.detail = what;
    return Refusal(std::move(failed), LoadStatus::ReadFailed, kMsgLoadFailed);
}

LoadOutcome RemoteJobLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          LoadOutcome outcome) {
    switch (LoadRemoteJobFile(path, workspace, outcome.detail)) {
        case RemoteLoadResult::Loaded:
            outcome.status = LoadStatus::Loaded;
            return outcome;
        case RemoteLoadResult::CannotOpen:
            return Refusal(std::move(outcome), LoadStatus::OpenFailed, kMsgLoadFailed);
        case RemoteLoadResult::Damaged:
            return Refusal(std::move(outcome), LoadStatus::Damaged, kMsgFileDamaged);
        case RemoteLoadResult::TooShort:
        case RemoteLoadResult::BadLength:
            return Refusal(std::move(outcome), LoadStatus::BadRecord, kMsgFileDamaged);
        case RemoteLoadResult::TooLarge:
            return Refusal(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
        case RemoteLoadResult::ReadFailed:
            break;
    }
    return Refusal(std::move(outcome), LoadStatus::ReadFailed, kMsgLoadFailed);
}

// A text or ELF reader's result: its refusals take the HEX reader's path.
LoadOutcome ReaderOutcome(LoadOutcome outcome, HexResult result) {
    outcome.hexResult = result;
    if (result != HexOk) return Refusal(std::move(outcome), LoadStatus::HexFailed, kMsgLoadFailed);
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
#ifdef MARRO_READ_ELF
            const HexResult result = ReadElfFile(request.path, workspace.Staging(), outcome.detail);
            return ReaderOutcome(std::move(outcome), result);
#else
            outcome.detail = kNoElfReading;
            return Refusal(std::move(outcome), LoadStatus::Unsupported, kMsgUnsupportedType);
#endif
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
    outcome.detail =
        Format("unknown extension '%s'; %s", request.extension.c_str(), kAcceptedFormatsNote);
    return Refusal(std::move(outcome), LoadStatus::Unsupported, kMsgUnsupportedType);
}

}  // namespace

std::string FileNameOfPath(std::string_view path) {
    std::size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos) cut = path.rfind('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string ExtensionOfChosenFile(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string() : Lower(fileName.substr(dot + 1));
}

std::string ExtensionOfName(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return Lower(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
}

FileKind FileKindOf(std::string_view extension) {
    if (extension == "hex") return FileKind::Hex;
    if (extension == "bin") return FileKind::RawBinary;
    if (extension == "qvz") return FileKind::RemoteJob;
    if (extension == "srec" || extension == "s19" || extension == "s28" || extension == "s37" ||
        extension == "mot")
        return FileKind::Srec;
    if (extension == "elf" || extension == "axf" || extension == "out") return FileKind::Elf;
    return FileKind::Unsupported;
}

LoadOutcome RawBinaryLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          std::uint32_t startAddress) {
    LoadOutcome outcome;
    outcome.kind = FileKind::RawBinary;
    if (workspace.InUse()) return BusyRefusal(std::move(outcome));
    InputFile file;
    const FileReadStatus opened = file.Open(path, outcome.detail);
    if (opened != FileReadStatus::Ok)
        return Refusal(std::move(outcome), LoadStatusOf(opened), kMsgLoadFailed);
    const std::uint64_t size = file.Size();
    if (size > kImageStorageSize) {
        outcome.detail = Format("'%s' is %llu bytes; the image storage holds %u",
                                Utf8OfPath(path).c_str(), static_cast<unsigned long long>(size),
                                kImageStorageSize);
        return Refusal(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
    }
    if (!EndsWithinAddressSpace(startAddress, size)) {
        outcome.detail = Format("'%s' is %llu bytes; at 0x%08X it would end at 0x%llX, beyond "
                                "the 32-bit address space",
                                Utf8OfPath(path).c_str(), static_cast<unsigned long long>(size),
                                startAddress,
                                static_cast<unsigned long long>(PaddedImageEnd(startAddress, size)));
        return Refusal(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
    }
    FirmwareImage& staging = workspace.Staging();
    const FileReadStatus read = file.ReadInto(staging.imageBuffer, outcome.detail);
    if (read != FileReadStatus::Ok)
        return Refusal(std::move(outcome), LoadStatusOf(read), kMsgLoadFailed);
    staging.imageStart = startAddress;
    staging.imageLength = static_cast<std::uint32_t>(size);
    outcome.status = LoadStatus::Loaded;
    return outcome;
}

LoadOutcome LoadFirmwareFile(ImageWorkspace& workspace, const LoadRequest& request) {
    LoadOutcome outcome;
    outcome.kind = FileKindOf(request.extension);
    if (workspace.InUse()) return BusyRefusal(std::move(outcome));
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
