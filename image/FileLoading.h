#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "image/HexReader.h"

// The system's texts of loading, shared by the dialogs, the command line and the tests.
inline constexpr const char* kMsgLoadFailed = N_("加载文件失败");
inline constexpr const char* kMsgFileDamaged = N_("文件已经损坏,不可以加载!");
inline constexpr const char* kMsgUnsupportedType =
    N_("不支持此类型文件,文件类型必须为\".hex/.bin\"!");
inline constexpr const char* kMsgAddressRange = N_("地址范围 0x00000000-0xFFFFFFFF");
// A load refused while a worker reads the image.
inline constexpr const char* kMsgImageBusy = N_("正在使用当前文件,请稍候再加载!");

// Intel HEX, raw binary, remote job file, Motorola S-record, ELF.
enum class FileKind { Hex, RawBinary, RemoteJob, Srec, Elf, Unsupported };

// Every kind of file a load takes, in the order the open dialog lists them: the one table
// the type decision, the open dialog's filter and the texts that name the formats use.
struct FileFormat {
    FileKind kind;
    std::string_view label;       // the open dialog's name of the type
    std::string_view extensions;  // lower case, each with its full stop, blank-separated
};
inline constexpr std::array<FileFormat, 5> kFileFormats = {{
    {FileKind::Hex, "hex", ".hex"},
    {FileKind::RawBinary, "bin", ".bin"},
    {FileKind::RemoteJob, "qvz", ".qvz"},
    {FileKind::Elf, "elf", ".elf .axf .out"},
    {FileKind::Srec, "srec", ".srec .s19 .s28 .s37 .mot"},
}};
// Beside kMsgUnsupportedType, which names only the first two: every extension a load
// takes ("accepted: .hex, .bin, ...").
std::string AcceptedFormatsNote();
// The extensions of one kind, as the table gives them; empty for Unsupported.
std::string_view ExtensionsOf(FileKind kind);

// One entry of the open dialog's type list: its name, padded with EN QUADs to the width
// of the longest, and its patterns ("*.elf *.axf *.out").
struct OpenFileFilter {
    std::string name;
    std::string patterns;
};
// "All" first, then every format of the table.
std::vector<OpenFileFilter> OpenFileFilters();

// The file's name: the text after the last backslash, else after the last slash, else
// the whole path.
std::string FileNameOfPath(std::string_view path);
// Extension as the Open dialog reports it: after the last full stop, empty when there
// is none; lower case.
std::string ExtensionOfChosenFile(std::string_view fileName);
// Extension as a drop and the Program command take it: after the last full stop, or the
// whole name when there is none; lower case.
std::string ExtensionOfName(std::string_view fileName);
FileKind FileKindOf(std::string_view extension);

enum class LoadStatus {
    Loaded,
    Cancelled,    // the start-address question was not answered
    HexFailed,    // a HEX, S-record or ELF file refused by its reader: hexResult says why
    OpenFailed,   // the file cannot be opened
    ReadFailed,   // the file cannot be read whole
    TooLarge,     // larger than the fixed buffers hold, or ending beyond the address space
    Damaged,      // remote job file: checksum mismatch
    BadRecord,    // remote job file: its record contradicts its own length, or its
                  // image ends beyond the address space
    Unsupported,  // unknown extension, or ELF in a build without ELF reading
    Busy,         // a worker is reading the image
};

struct LoadOutcome {
    LoadStatus status = LoadStatus::Loaded;
    FileKind kind = FileKind::Unsupported;
    HexResult hexResult = HexOk;
    std::string message;  // the system's text to show; empty for Loaded and Cancelled
    std::string detail;   // what exactly went wrong (system call, sizes), for a log or the CLI
};

// A refused load: the status and the system's text for it (msgid, translated here).
LoadOutcome RefusedLoad(LoadOutcome outcome, LoadStatus status, const char* msgid);
// A load refused because a worker reads the image; nothing was touched.
LoadOutcome BusyLoad(LoadOutcome outcome);

// The start-address edit's character filter: a backspace or a hexadecimal digit of
// either case passes (the edit shows letters in upper case); every other character,
// control characters included, is dropped.
constexpr bool PassesHexFilter(char32_t c) {
    return c == u'\b' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') ||
           (c >= u'a' && c <= u'f');
}

// The start-address dialog's OK on its edit's text (UTF-8): refused (kMsgAddressRange)
// when longer than eight characters; else the number "%x" reads, or `preset` when the
// text holds none (blanks, an optional sign, an optional 0x, then at least one digit).
struct StartAddressEntry {
    bool refused = false;
    std::uint32_t address = 0;
};
StartAddressEntry ReadStartAddressEntry(std::string_view text, std::uint32_t preset);

// The raw binary branch: the whole file at `startAddress`, into the staging image; the
// caller commits it on Loaded. Refuses, before touching any buffer, files larger than the
// image storage and images that would end beyond the 32-bit address space.
LoadOutcome RawBinaryLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          std::uint32_t startAddress);
