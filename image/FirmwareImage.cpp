#include "image/FirmwareImage.h"

#include <utility>

ImageWorkspace::ImageWorkspace()
    : storageA_(new std::uint8_t[kImageStorageSize]()),
      storageB_(new std::uint8_t[kImageStorageSize]()),
      scramble_(new std::uint8_t[kImageStorageSize]()),
      remoteRecord_(new std::uint8_t[kImageStorageSize]()) {
    image.imageBuffer = storageA_.get();
    staging_.imageBuffer = storageB_.get();
}

void ImageWorkspace::CommitStaging(std::filesystem::path path, std::string name) {
    std::swap(image, staging_);
    filePath = std::move(path);
    fileName = std::move(name);
}
