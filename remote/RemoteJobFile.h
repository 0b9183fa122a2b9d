#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "image/FirmwareImage.h"

enum class RemoteLoadResult {
    Loaded,
    CannotOpen,  // the file cannot be opened
    Damaged,     // its checksum does not match
    TooShort,    // shorter than a record's 64-byte prefix and the checksum
    TooLarge,    // larger than the fixed buffers
    BadLength,   // the record's image length contradicts the bytes it carries
    ReadFailed,  // the file cannot be read whole
};

// Checks, descrambles and loads a remote job file into workspace.Staging(): the plain
// record (imageLength = file length - 4), with imageStart kept from the loaded image.
// The caller commits the staging image only on Loaded; every refusal happens before a
// buffer is touched. `detail` says what exactly was wrong. Never throws.
RemoteLoadResult LoadRemoteJobFile(const std::filesystem::path& path, ImageWorkspace& workspace,
                                   std::string& detail);
