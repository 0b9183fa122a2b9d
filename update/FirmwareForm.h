#pragma once
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// The form a programmer firmware must have before the update erases anything: the
// update's words and blocks and the programmer's firmware area must hold it, it starts
// with a vector table for 0x08004000 and it carries its version word at 0xEC. The
// build's check of the carried firmware, the command line and the firmware dialog all
// judge an image by these rules alone.

enum class FirmwareFault {
    None,
    NotRegularFile,  // a FIFO, a device, a folder: never opened
    OpenFailed,
    ReadFailed,  // the file could not be read whole, or changed while being read
    Empty,
    TooLarge,           // more than the programmer's firmware area holds
    NotWholeWords,      // the update and its checksum go by 32-bit words
    TooShort,           // ends before its version word
    StackOutsideSram,   // initial stack pointer
    ResetOutsideImage,  // reset vector: not a Thumb address of the image's code
    BadVersionWord,
};

struct FirmwareCheck {
    FirmwareFault fault = FirmwareFault::None;
    std::string problem;  // what is wrong, in a sentence; empty when nothing is

    bool ok() const { return fault == FirmwareFault::None; }
};

// The bounds of the size alone, so a file can be judged before it is read.
FirmwareCheck CheckFirmwareSize(std::uint64_t size);

// The whole form: the size, the initial stack pointer inside the programmer's SRAM, the
// reset vector a Thumb address inside the image after its version word, and a version
// word that is neither 0, erased flash nor an address in flash (an interrupt vector:
// the image has a longer vector table than the programmer's firmware).
FirmwareCheck CheckFirmwareForm(std::span<const std::uint8_t> image);

// Reads a programmer firmware file into `image` and checks its form. Anything but a
// regular file is refused before it is opened, a size out of bounds before anything is
// read. On failure `image` is left empty and the problem names the file. Never throws.
FirmwareCheck ReadProgrammerFirmwareFile(const std::filesystem::path& path,
                                         std::vector<std::uint8_t>& image);
