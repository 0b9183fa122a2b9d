#include "image/FirmwareImage.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

void ImageWorkspace::FreeStorage::operator()(std::uint8_t* storage) const { std::free(storage); }

ImageWorkspace::Storage ImageWorkspace::AllocateStorage() {
    void* storage = std::calloc(kImageStorageSize, 1);
    if (!storage) throw std::bad_alloc();
    return Storage(static_cast<std::uint8_t*>(storage));
}

ImageWorkspace::ImageWorkspace()
    : storageA_(AllocateStorage()),
      storageB_(AllocateStorage()),
      scramble_(AllocateStorage()),
      remoteRecord_(AllocateStorage()) {
    image.imageBuffer = storageA_.get();
    staging_.imageBuffer = storageB_.get();
}

void ImageWorkspace::CommitStaging(std::filesystem::path path, std::string name) {
    std::swap(image, staging_);
    filePath = std::move(path);
    fileName = std::move(name);
}

void ImageWorkspace::CopyLoaded(const ImageWorkspace& other) {
    std::memcpy(image.imageBuffer, other.image.imageBuffer, other.image.imageLength);
    image.imageLength = other.image.imageLength;
    image.imageStart = other.image.imageStart;
    image.imageCapacity = other.image.imageCapacity;
    filePath = other.filePath;
    fileName = other.fileName;
}
