#pragma once
// An image storage with a guard band behind it, and what every image reader's fuzzer
// asks of an image that loaded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/FirmwareImage.h"

class GuardedImage {
public:
    GuardedImage() { image.imageBuffer = storage_.data(); }
    GuardedImage(const GuardedImage&) = delete;
    GuardedImage& operator=(const GuardedImage&) = delete;

    FirmwareImage image;
    const std::uint8_t* bytes() const { return storage_.data(); }

    // Aborts when the reader wrote beyond the image storage.
    void CheckGuard() const {
        for (std::size_t i = kImageStorageSize; i < storage_.size(); ++i) {
            if (storage_[i] != kGuard) std::abort();
        }
    }
    // Aborts unless the image lies within the capacity and the address space and the
    // capacity beyond it is erased.
    void CheckLoaded() const {
        if (image.imageLength > kImageCapacity) std::abort();
        if (!EndsWithinAddressSpace(image.imageStart, image.imageLength)) std::abort();
        for (std::size_t i = image.imageLength; i < kImageCapacity; ++i) {
            if (storage_[i] != 0xFF) std::abort();
        }
    }

private:
    static constexpr std::uint8_t kGuard = 0xA5;
    static constexpr std::size_t kGuardSize = 64;
    std::vector<std::uint8_t> storage_ =
        std::vector<std::uint8_t>(kImageStorageSize + kGuardSize, kGuard);
};
