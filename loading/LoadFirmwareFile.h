#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "image/FileLoading.h"
#include "image/FirmwareImage.h"

// The choice of reader by the file's type. It stands above the image readers and the
// remote job file, since a remote job file is one of the types a user opens.

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
