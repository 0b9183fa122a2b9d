#include "tests/support/TempFolder.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempFolder::TempFolder(std::string_view prefix) {
    std::random_device seed;
    std::mt19937_64 random((std::uint64_t{seed()} << 32) ^ seed());
    const fs::path base = fs::temp_directory_path();
    // create_directory says whether it made the folder, so a name another run took
    // is never shared.
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / (std::string(prefix) + "-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made in " + base.string());
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
    const std::string text = ReadText(file);
    return {text.begin(), text.end()};
}

fs::path WriteBytes(const fs::path& file, std::string_view bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
}

fs::path WriteBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    return WriteBytes(file,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
