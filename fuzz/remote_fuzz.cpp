// Remote job files from outside: every input must end in a result, never in a read or
// write out of bounds, and a loaded record must scramble back to exactly the input.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "remote/RemoteJobFile.h"
#include "remote/RemoteScramble.h"

namespace {

ImageWorkspace& Workspace() {
    static ImageWorkspace workspace;  // the fixed buffers, allocated once
    return workspace;
}

std::uint8_t* Scratch() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kImageStorageSize]);
    return buffer.get();
}

std::uint8_t* Resealed() {
    static const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kImageStorageSize]);
    return buffer.get();
}

void Load(const std::uint8_t* data, std::size_t size) {
    ImageWorkspace& workspace = Workspace();
    std::string detail;
    if (LoadRemoteJobBytes(data, size, workspace, detail) != RemoteLoadResult::Loaded) return;

    const FirmwareImage& staging = workspace.Staging();
    const std::size_t record = size - kRemoteChecksumSize;
    if (staging.imageLength != record) __builtin_trap();
    if (ReadLe32(staging.imageBuffer + kRemoteLengthOffset) != size - kRemoteFileOverhead) {
        __builtin_trap();
    }
    std::uint8_t* again = Scratch();
    std::memcpy(again, staging.imageBuffer, record);
    ScrambleRemoteRecord(again, record);
    if (std::memcmp(again, data, record) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Load(data, size);
    // The checksum stops nearly every mutation; the same bytes with a fitting checksum
    // reach the record's own checks.
    if (size >= kMinRemoteFileSize && size <= kMaxRemoteFileSize) {
        std::uint8_t* sealed = Resealed();
        const std::size_t record = size - kRemoteChecksumSize;
        std::memcpy(sealed, data, record);
        WriteLe32(sealed + record, WordCrc32(sealed, record / 4));
        Load(sealed, size);
    }
    return 0;
}
