#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "image/HexReader.h"

// The system's texts of loading, shared by the dialogs, the command line and the tests.
inline constexpr const char* kMsgLoadFailed = N_("加载文件失败");
inline constexpr const char* kMsgFileDamaged = N_("文件已经损坏,不可以加载!");
inline constexpr const char* kMsgUnsupportedType = N_("不支持此类型文件,文件类型必须为\".hex/.bin\"!");
inline constexpr const char* kMsgAddressRange = N_("地址范围 0x00000000-0xFFFFFFFF");
// Beside kMsgUnsupportedType, which names only the first two: every extension a load takes.
inline constexpr const char* kAcceptedFormatsNote =
    "accepted: .hex, .bin, .qvz, .elf .axf .out, .srec .s19 .s28 .s37 .mot";
// A load refused while a worker reads the image.
inline constexpr const char* kMsgImageBusy = N_("正在使用当前文件,请稍候再加载!");

// Intel HEX, raw binary, remote job file, Motorola S-record, ELF.
enum class FileKind { Hex, RawBinary, RemoteJob, Srec, Elf, Unsupported };

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

struct LoadRequest {
    std::filesystem::path path;
    std::string fileName;   // UTF-8, as the face found it
    std::string extension;  // lower case, as the face decided it
    // Asks for the start address of a raw binary file; nullopt means cancel.
    std::function<std::optional<std::uint32_t>()> askStartAddress;
};

// Decides by the extension and loads the file into the workspace. Commits only when it
// succeeds; every other outcome leaves the workspace exactly as it was. Never throws.
LoadOutcome LoadFirmwareFile(ImageWorkspace& workspace, const LoadRequest& request);

// The raw binary branch: the whole file at `startAddress`, into the staging image; the
// caller commits it on Loaded. Refuses, before touching any buffer, files larger than the
// image storage and images that would end beyond the 32-bit address space.
LoadOutcome RawBinaryLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          std::uint32_t startAddress);
