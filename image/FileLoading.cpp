#include "image/FileLoading.h"

#include <cctype>
#include <cstdint>
#include <exception>
#include <utility>

#include "common/FileReading.h"
#include "common/NumberText.h"
#include "common/TextLength.h"
#include "common/TextFormat.h"

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = AsciiLower(c);
    return lower;
}

// The table's blank-separated extensions, one by one (".srec", ".s19", ...).
std::vector<std::string_view> ExtensionList(std::string_view extensions) {
    std::vector<std::string_view> list;
    while (!extensions.empty()) {
        const std::size_t blank = extensions.find(' ');
        list.push_back(extensions.substr(0, blank));
        if (blank == std::string_view::npos) break;
        extensions.remove_prefix(blank + 1);
    }
    return list;
}

LoadStatus LoadStatusOf(FileReadStatus status) {
    switch (status) {
        case FileReadStatus::Ok:
            return LoadStatus::Loaded;
        case FileReadStatus::NotRegularFile:
        case FileReadStatus::OpenFailed:
            return LoadStatus::OpenFailed;
        case FileReadStatus::TooLarge:
            return LoadStatus::TooLarge;
        case FileReadStatus::ReadFailed:
            break;
    }
    return LoadStatus::ReadFailed;
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
    for (const FileFormat& format : kFileFormats)
        for (std::string_view one : ExtensionList(format.extensions))
            if (one.substr(1) == extension) return format.kind;
    return FileKind::Unsupported;
}

std::string_view ExtensionsOf(FileKind kind) {
    for (const FileFormat& format : kFileFormats)
        if (format.kind == kind) return format.extensions;
    return {};
}

std::string AcceptedFormatsNote() {
    std::string note = "accepted: ";
    for (const FileFormat& format : kFileFormats) {
        if (&format != &kFileFormats.front()) note += ", ";
        note += format.extensions;
    }
    return note;
}

std::vector<OpenFileFilter> OpenFileFilters() {
    // The names line up in a list of fixed-width cells: "hex" and two EN QUADs, "srec" and
    // one, "All" and one as the first entry has always been.
    constexpr std::string_view kEnQuad = "\u2000";
    std::vector<OpenFileFilter> filters{{std::string("All").append(kEnQuad), "*.*"}};
    for (const FileFormat& format : kFileFormats) {
        OpenFileFilter filter{std::string(format.label), {}};
        for (std::size_t width = format.label.size(); width < 5; ++width) filter.name += kEnQuad;
        for (std::string_view one : ExtensionList(format.extensions)) {
            if (!filter.patterns.empty()) filter.patterns += ' ';
            filter.patterns.append("*").append(one);
        }
        filters.push_back(std::move(filter));
    }
    return filters;
}

LoadOutcome RefusedLoad(LoadOutcome outcome, LoadStatus status, const char* msgid) {
    outcome.status = status;
    outcome.message = Tr(msgid);
    return outcome;
}

LoadOutcome BusyLoad(LoadOutcome outcome) {
    outcome.detail = "a worker is reading the loaded image";
    return RefusedLoad(std::move(outcome), LoadStatus::Busy, kMsgImageBusy);
}

LoadOutcome RawBinaryLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          std::uint32_t startAddress) {
    LoadOutcome outcome;
    outcome.kind = FileKind::RawBinary;
    if (workspace.InUse()) return BusyLoad(std::move(outcome));
    InputFile file;
    const FileReadStatus opened = file.Open(path, outcome.detail);
    if (opened != FileReadStatus::Ok)
        return RefusedLoad(std::move(outcome), LoadStatusOf(opened), kMsgLoadFailed);
    const std::uint64_t size = file.Size();
    if (size > kImageStorageSize) {
        outcome.detail =
            Format("'%s' is %llu bytes; the image storage holds %u", Utf8OfPath(path).c_str(),
                   static_cast<unsigned long long>(size), kImageStorageSize);
        return RefusedLoad(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
    }
    if (!EndsWithinAddressSpace(startAddress, size)) {
        outcome.detail = Format(
            "'%s' is %llu bytes; at 0x%08X it would end at 0x%llX, beyond "
            "the 32-bit address space",
            Utf8OfPath(path).c_str(), static_cast<unsigned long long>(size), startAddress,
            static_cast<unsigned long long>(PaddedImageEnd(startAddress, size)));
        return RefusedLoad(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
    }
    FirmwareImage& staging = workspace.Staging();
    const FileReadStatus read = file.ReadInto(staging.imageBuffer, outcome.detail);
    if (read != FileReadStatus::Ok)
        return RefusedLoad(std::move(outcome), LoadStatusOf(read), kMsgLoadFailed);
    staging.imageStart = startAddress;
    staging.imageLength = static_cast<std::uint32_t>(size);
    outcome.status = LoadStatus::Loaded;
    return outcome;
}

StartAddressEntry ReadStartAddressEntry(std::string_view text, std::uint32_t preset) {
    if (Utf8Length(text) > 8) return {true, preset};
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i == text.size() || !std::isxdigit(static_cast<unsigned char>(text[i]))) {
        return {false, preset};
    }
    return {false, ParseHexNumber(text)};
}
