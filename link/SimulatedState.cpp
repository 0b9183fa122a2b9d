#include "link/SimulatedProgrammer.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "common/LittleEndian.h"
#include "common/OutputFile.h"
#include "common/PathText.h"
#include "common/TextFormat.h"

namespace {

// State file: magic, format, programmer version, firmware word, storage size, flash size,
// then the storage and the flash.
constexpr std::uint32_t kStateMagic = 0x4D49534D;  // "MSIM"
constexpr std::uint32_t kStateFormat = 1;
constexpr std::size_t kStateHeaderSize = 6 * 4;
constexpr std::size_t kStateFileSize = kStateHeaderSize + kStorageSize + kSimFlashSize;

}  // namespace

bool SimulatedProgrammer::SaveState(const std::filesystem::path& file, std::string& error) const {
    std::vector<std::uint8_t> header(kStateHeaderSize);
    WriteLe32(&header[0], kStateMagic);
    WriteLe32(&header[4], kStateFormat);
    WriteLe32(&header[8], config_.programmerVersion);
    WriteLe32(&header[12], FirmwareWord());
    WriteLe32(&header[16], kStorageSize);
    WriteLe32(&header[20], kSimFlashSize);

    OutputFile out;
    return out.Create(file, error) && out.Write(header.data(), header.size(), error) &&
           out.Write(storage_.data(), storage_.size(), error) &&
           out.Write(flash_.data(), flash_.size(), error) && out.Commit(error);
}

bool SimulatedProgrammer::LoadState(const std::filesystem::path& file, std::string& error,
                                    bool* inUse) {
    const std::string name = "simulator state '" + Utf8OfPath(file) + "'";
    if (inUse != nullptr) *inUse = false;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (ec && status.type() != std::filesystem::file_type::not_found) {
        error = name + ": " + ec.message();
        return false;
    }
    // A pipe would block the start, and a device or a directory is no memory to keep.
    if (status.type() != std::filesystem::file_type::not_found &&
        !std::filesystem::is_regular_file(status)) {
        error = name + ": not a regular file";
        return false;
    }
    if (!stateLock_.Held() || file != stateFile_) {
        std::string detail;
        switch (stateLock_.Take(file, detail)) {
            case FileLock::Result::Taken:
                stateFile_ = file;
                break;
            case FileLock::Result::InUse:
                if (inUse != nullptr) *inUse = true;
                error = detail;
                return false;
            // Where no lock file can be made, no saved state can be either: nothing this
            // programmer does can be lost to another.
            case FileLock::Result::Failed:
                break;
        }
    }
    if (!std::filesystem::exists(file, ec)) return true;  // a first run
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = name + ": cannot be read";
        return false;
    }
    std::vector<std::uint8_t> bytes(kStateFileSize);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    const bool longer = got == bytes.size() && in.peek() != std::ifstream::traits_type::eof();
    if (got < kStateHeaderSize || ReadLe32(&bytes[0]) != kStateMagic) {
        error = name + ": not a simulator state file";
        return false;
    }
    if (ReadLe32(&bytes[4]) != kStateFormat) {
        error = name + Format(": format %u is not supported", ReadLe32(&bytes[4]));
        return false;
    }
    if (ReadLe32(&bytes[16]) != kStorageSize || ReadLe32(&bytes[20]) != kSimFlashSize) {
        error = name + ": memory sizes do not match this simulator";
        return false;
    }
    if (got != bytes.size() || longer) {
        error = name + Format(": expected %zu bytes", kStateFileSize);
        return false;
    }
    const std::uint8_t* storage = &bytes[kStateHeaderSize];
    const std::uint8_t* flash = storage + kStorageSize;
    const std::uint32_t firmwareWord =
        ReadLe32(flash + (kFirmwareVersionAddress - kSimFlashAddress));
    if (ReadLe32(&bytes[12]) != firmwareWord) {
        error = name + ": the firmware word does not match the stored flash";
        return false;
    }
    // Only a wholly valid file changes the device.
    std::copy(storage, storage + kStorageSize, storage_.begin());
    std::copy(flash, flash + kSimFlashSize, flash_.begin());
    config_.programmerVersion = ReadLe32(&bytes[8]);
    config_.firmwareVersion = firmwareWord;
    return true;
}
