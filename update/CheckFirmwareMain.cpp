// marrowdyne-firmware-check FILE: the build's check of the programmer firmware it is to
// carry, by the same rules as the update itself. Exit status 0 when the file has the
// programmer firmware's form; otherwise 1 and what is wrong on standard error.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "update/FirmwareForm.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: marrowdyne-firmware-check FILE\n");
        return 2;
    }
    std::vector<std::uint8_t> image;
    const FirmwareCheck check = ReadProgrammerFirmwareFile(std::filesystem::path(argv[1]), image);
    if (!check.ok()) {
        std::fprintf(stderr, "not a programmer firmware image: %s\n", check.problem.c_str());
        return 1;
    }
    return 0;
}
