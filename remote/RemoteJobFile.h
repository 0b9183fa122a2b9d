#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "image/FirmwareImage.h"
#include "job/JobHeader.h"

// A remote job file carries one job for one programmer: a plain record of a 64-byte
// prefix and the image, scrambled, followed by the WordCrc32 of the scrambled bytes
// (little-endian, not scrambled). All fields are little-endian.
//
// Prefix: targetCode (0..3), JobHeader bytes 2..44 (4..46), zero (47..63).
inline constexpr std::size_t kRemoteTargetCodeOffset = 0;
inline constexpr std::size_t kRemoteHeaderOffset = 4;  // JobHeader byte 2 lies here
inline constexpr std::size_t kRemoteHeaderFirstByte = 2;
inline constexpr std::size_t kRemoteHeaderBytes = kJobHeaderSize - kRemoteHeaderFirstByte;  // 43
inline constexpr std::size_t kRemoteJobStartOffset = 14;  // jobStart
inline constexpr std::size_t kRemoteLengthOffset = 18;    // jobLength: the image's length
inline constexpr std::size_t kRemotePrefixSize = 64;      // the image follows
inline constexpr std::size_t kRemoteChecksumSize = 4;
inline constexpr std::size_t kRemoteFileOverhead = kRemotePrefixSize + kRemoteChecksumSize;
inline constexpr std::size_t kMinRemoteFileSize = kRemoteFileOverhead;
inline constexpr std::size_t kMaxRemoteFileSize = kImageStorageSize;
// An image must fit the buffers with its prefix and checksum, and the programmer's job
// storage below the job area.
inline constexpr std::size_t kMaxRemoteImageLength =
    kMaxRemoteFileSize - kRemoteFileOverhead < kMaxJobImageLength
        ? kMaxRemoteFileSize - kRemoteFileOverhead
        : kMaxJobImageLength;

enum class RemoteLoadResult {
    Loaded,
    CannotOpen,  // the file cannot be opened
    Damaged,     // its checksum does not match
    TooShort,    // shorter than a record's 64-byte prefix and the checksum
    TooLarge,    // larger than the fixed buffers, or an image beyond the job storage
    BadLength,   // the record's image length contradicts the bytes it carries, or the
                 // image would end beyond the 32-bit address space at the record's start
    ReadFailed,  // the file cannot be read whole
};

// Checks, descrambles and loads a remote job file into workspace.Staging(): the plain
// record (imageLength = file length - 4), with imageStart kept from the loaded image.
// The caller commits the staging image only on Loaded; every refusal happens before a
// buffer is touched; anything but a regular file is refused (CannotOpen) unopened.
// `detail` says what exactly was wrong. Never throws.
// The file is read into workspace.scrambleBuffer(), so the caller refuses loads while a
// worker holds an ImageUse.
RemoteLoadResult LoadRemoteJobFile(const std::filesystem::path& path, ImageWorkspace& workspace,
                                   std::string& detail);

// The same over file contents already in memory: checks size, checksum and record length
// on `data`, then descrambles it into the staging image. `data` may lie in any buffer of
// the workspace except the loaded image. Never throws.
RemoteLoadResult LoadRemoteJobBytes(const std::uint8_t* data, std::size_t size,
                                    ImageWorkspace& workspace, std::string& detail);

// Fills the 64-byte prefix of a plain record: the target code, bytes 2..44 of `header`,
// and zeros.
void WriteRemoteRecordPrefix(std::uint8_t* prefix, std::uint32_t targetCode,
                             const JobHeader& header);

// Turns the plain record at `file` (recordLength bytes, a whole number of words) into
// the bytes of its remote job file, in place: scrambled, followed by the WordCrc32 of
// the scrambled bytes. `file` must have room for recordLength + 4 bytes. Returns the
// file's length.
std::size_t SealRemoteJobFile(std::uint8_t* file, std::size_t recordLength);

// A 45-byte JobHeader whose bytes 2..44 are record bytes 4..46 (marker 0xAA, nameSize 0),
// for the job description of a record.
std::array<std::uint8_t, kJobHeaderSize> JobHeaderBytesOfRecord(const std::uint8_t* record);

// The name of the file generated from a loaded file: its name cut before its last "."
// with ".qvz" appended (board.v2.hex gives board.v2.qvz, a name without "." gets ".qvz").
std::string RemoteJobFileName(std::string_view fileName);
