#include "link/DevicePaths.h"

#include <algorithm>
#include <cctype>

bool SameDevicePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

namespace {

class OnlyPathBackend final : public HidBackend {
public:
    OnlyPathBackend(HidBackend& inner, std::vector<std::string> paths)
        : inner_(inner), paths_(std::move(paths)) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> found;
        for (HidDeviceInfo& info : inner_.Enumerate()) {
            if (Chosen(info.path)) found.push_back(std::move(info));
        }
        return found;
    }

    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override {
        if (!Chosen(path)) {
            error = {"open('" + path + "'): not the chosen device", false};
            return nullptr;
        }
        return inner_.Open(path, error);
    }

private:
    bool Chosen(const std::string& path) const {
        return std::any_of(paths_.begin(), paths_.end(),
                           [&](const std::string& chosen) { return SameDevicePath(path, chosen); });
    }

    HidBackend& inner_;
    std::vector<std::string> paths_;
};

}  // namespace

std::unique_ptr<HidBackend> OnlyDevicePaths(HidBackend& inner, std::vector<std::string> paths) {
    return std::make_unique<OnlyPathBackend>(inner, std::move(paths));
}
