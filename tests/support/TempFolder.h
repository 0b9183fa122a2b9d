#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// A folder of its own under the system's temporary folder, removed with all it holds when
// it goes. Its name has a random part, so test programs run at once (ctest -j, the
// Windows build under Wine) never share one.
class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "marro-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

// A whole file, byte for byte; empty when it cannot be read.
std::string ReadText(const std::filesystem::path& file);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);
// Writes the file anew with exactly these bytes; returns its path.
std::filesystem::path WriteBytes(const std::filesystem::path& file, std::string_view bytes);
std::filesystem::path WriteBytes(const std::filesystem::path& file,
                                 const std::vector<std::uint8_t>& bytes);
