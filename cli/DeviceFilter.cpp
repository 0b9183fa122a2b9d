#include "cli/DeviceFilter.h"

#include <algorithm>
#include <cctype>

namespace {

bool SamePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

class OnlyPathBackend final : public HidBackend {
public:
    OnlyPathBackend(HidBackend& inner, std::string path) : inner_(inner), path_(std::move(path)) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> found;
        for (HidDeviceInfo& info : inner_.Enumerate()) {
            if (SamePath(info.path, path_)) found.push_back(std::move(info));
        }
        return found;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override {
        if (!SamePath(path, path_)) {
            error = {"open('" + path + "'): not the chosen device", false};
            return nullptr;
        }
        return inner_.Open(path, error);
    }

private:
    HidBackend& inner_;
    std::string path_;
};

}  // namespace

std::unique_ptr<HidBackend> OnlyDevicePath(HidBackend& inner, std::string path) {
    return std::make_unique<OnlyPathBackend>(inner, std::move(path));
}
