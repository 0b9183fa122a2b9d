#pragma once
#include <cstdint>

// A job's image as an upload stores it: where it goes, its length (a whole number of
// words) and the WordCrc32 of its bytes.
struct JobImageFacts {
    std::uint32_t start = 0;
    std::uint32_t length = 0;
    std::uint32_t crc = 0;
};

// What the programmer's job storage holds.
enum class StoredJobState {
    Stored,   // a valid header
    None,     // no valid header at either place: erased, or an upload broke off
    Damaged,  // a valid marker, but a header whose image cannot lie in the storage
};

// A file's job beside the programmer's, as VerifyJob found them.
struct JobComparison {
    JobImageFacts file;
    StoredJobState state = StoredJobState::None;
    // For Stored: the header's start and length, and the programmer's own StorageCrc over
    // that length.
    JobImageFacts stored;
    bool startDiffers = false;
    bool lengthDiffers = false;
    bool contentDiffers = false;

    bool Held() const {
        return state == StoredJobState::Stored && !startDiffers && !lengthDiffers &&
               !contentDiffers;
    }
};
