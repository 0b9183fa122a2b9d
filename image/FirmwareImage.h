#pragma once
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

// Size of every fixed image-sized buffer: the image storage and the two buffers of
// remote job files.
inline constexpr std::uint32_t kImageStorageSize = 0x200000;
// The bound of the HEX reader.
inline constexpr std::uint32_t kImageCapacity = 0x100000;

// Target addresses are 32 bits wide. An image must end within them also once an upload
// has padded it to whole words, or the programmer would wrap round to address 0.
inline constexpr std::uint64_t kAddressSpaceEnd = 0x100000000;
constexpr std::uint64_t PaddedImageEnd(std::uint32_t start, std::uint64_t length) {
    return std::uint64_t{start} + ((length + 3) & ~std::uint64_t{3});
}
constexpr bool EndsWithinAddressSpace(std::uint32_t start, std::uint64_t length) {
    return PaddedImageEnd(start, length) <= kAddressSpaceEnd;
}

// The one in-memory firmware image: the first imageLength bytes of imageBuffer belong at
// target addresses imageStart and up.
struct FirmwareImage {
    std::uint8_t* imageBuffer = nullptr;
    std::uint32_t imageLength = 0;
    std::uint32_t imageStart = 0;
    std::uint32_t imageCapacity = kImageCapacity;
};

// Everything a load fills and the workers read: the image, the file it came from, and
// the fixed buffers. All storage is allocated once, at construction, and never again.
//
// A load fills the staging image and takes it over only when it succeeds, so a failed,
// refused or cancelled load leaves image, filePath and fileName exactly as they were.
class ImageWorkspace {
public:
    ImageWorkspace();
    ImageWorkspace(const ImageWorkspace&) = delete;
    ImageWorkspace& operator=(const ImageWorkspace&) = delete;

    FirmwareImage image;
    std::filesystem::path filePath;  // full path of the loaded file
    std::string fileName;            // its name with extension (UTF-8); becomes the job name

    // The second image storage, for a load in progress. Its contents are undefined
    // until a load fills it.
    FirmwareImage& Staging() { return staging_; }
    // Takes the staging image over as the loaded image (the two storages swap).
    void CommitStaging(std::filesystem::path path, std::string name);
    // Loads what `other` has loaded (its image bytes, start, file), so that a worker can
    // have an image of its own: an upload pads the image it is given in place.
    void CopyLoaded(const ImageWorkspace& other);

    // The scrambled bytes of remote job files, and their plain record.
    std::uint8_t* scrambleBuffer() { return scramble_.get(); }
    std::uint8_t* remoteRecordBuffer() { return remoteRecord_.get(); }

    // Workers that read the image hold an ImageUse; loads are refused meanwhile, so the
    // image under a running worker never changes.
    bool InUse() const { return users_.load() > 0; }

    class ImageUse {
    public:
        explicit ImageUse(ImageWorkspace& workspace) : workspace_(&workspace) {
            ++workspace.users_;
        }
        ~ImageUse() { --workspace_->users_; }
        ImageUse(const ImageUse&) = delete;
        ImageUse& operator=(const ImageUse&) = delete;

    private:
        ImageWorkspace* workspace_;
    };

private:
    // Zeroed by the allocator, so pages that no load touches cost nothing.
    struct FreeStorage {
        void operator()(std::uint8_t* storage) const;
    };
    using Storage = std::unique_ptr<std::uint8_t[], FreeStorage>;
    static Storage AllocateStorage();

    Storage storageA_;
    Storage storageB_;
    Storage scramble_;
    Storage remoteRecord_;
    FirmwareImage staging_;
    std::atomic<int> users_{0};
};
