#include "link/HidapiBackend.h"

#include <hidapi.h>  // pkg-config names the hidapi folder
#if defined(__linux__)
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "common/TextFormat.h"
#include "link/HidReport.h"

namespace {

int InitialiseOnce() {
    static std::once_flag once;
    static int result = -1;
    std::call_once(once, [] { result = hid_init(); });
    return result;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x110000) {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += '?';
    }
}

// hidapi's strings are wide (32-bit on the platforms this backend serves).
std::string Utf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (; *text != L'\0'; ++text) AppendUtf8(out, static_cast<char32_t>(*text));
    return out;
}

std::string HidError(hid_device* device) {
    std::string reason = Utf8(hid_error(device));
    return reason.empty() ? "unknown error" : reason;
}

// Opens the node for this program alone and makes the calls hid_open_path makes of it,
// first: when its query after the open fails, hidapi 0.13 writes the reason into the
// device it has just freed and says "Success". hidapi keeps its own descriptor to itself,
// so the exclusive flock is held on this one, which stays open as long as hidapi's does
// (`held`, -1 where there is no node to hold). nullopt when the node is ours and answers.
std::optional<HidOpenError> HoldNode(const std::string& path, int& held) {
    held = -1;
#if defined(__linux__)
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int cause = errno;
        return HidOpenError{"open('" + path + "'): " + std::strerror(cause),
                            cause == EACCES || cause == EPERM};
    }
    // Before anything is written: a program that holds the programmer is never disturbed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        ::close(fd);
        HidOpenError error{"flock('" + path + "'): " + std::strerror(cause), false};
        error.inUse = cause == EWOULDBLOCK;
        return error;
    }
    int descriptorSize = 0;
    const int answered = ::ioctl(fd, HIDIOCGRDESCSIZE, &descriptorSize);
    const int cause = errno;
    if (answered < 0) {
        ::close(fd);
        return HidOpenError{"ioctl('" + path + "', HIDIOCGRDESCSIZE): " + std::strerror(cause),
                            false};
    }
    held = fd;
#else
    (void)path;
#endif
    return std::nullopt;
}

void LetGo(int held) {
#if defined(__linux__)
    if (held >= 0) ::close(held);
#else
    (void)held;
#endif
}

class HidapiDevice : public HidDevice {
public:
    HidapiDevice(hid_device* device, int heldNode, std::string path, std::uint16_t vendorId,
                 std::uint16_t productId, bool idsKnown, std::size_t outputReportLength)
        : device_(device),
          heldNode_(heldNode),
          path_(std::move(path)),
          vendorId_(vendorId),
          productId_(productId),
          idsKnown_(idsKnown),
          outputReportLength_(outputReportLength) {}
    ~HidapiDevice() override {
        hid_close(device_);
        LetGo(heldNode_);  // free for the next program only once hidapi has let go
    }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        if (!idsKnown_) {
            lastError_ = "attributes('" + path_ + "'): the device does not name its ids";
            return false;
        }
        vendorId = vendorId_;
        productId = productId_;
        lastError_.clear();
        return true;
    }

    std::size_t OutputReportLength() const override { return outputReportLength_; }

    bool Write(const std::uint8_t* report, std::size_t length) override {
        // Byte 0 is the report ID (0): hidapi sends the rest as the report.
        if (hid_write(device_, report, length) < 0) {
            lastError_ = "hid_write: " + HidError(device_);
            return false;
        }
        lastError_.clear();
        return true;
    }

    HidReadStatus Read(std::uint8_t* report, std::size_t length, int timeoutMs) override {
        if (length < 2) {
            lastError_ = "hid_read_timeout: no room for an answer";
            return HidReadStatus::Failed;
        }
        // hidapi answers without the report ID; keep byte 1 the first answer byte.
        report[0] = 0;
        const int got = hid_read_timeout(device_, report + 1, length - 1, timeoutMs);
        if (got < 0) {
            lastError_ = "hid_read_timeout: " + HidError(device_);
            return HidReadStatus::Failed;
        }
        if (got == 0) {
            lastError_ = Format("hid_read_timeout: no answer within %d ms", timeoutMs);
            return HidReadStatus::TimedOut;
        }
        lastError_.clear();
        return HidReadStatus::Ok;
    }

    const std::string& LastError() const override { return lastError_; }

private:
    hid_device* device_;
    int heldNode_;
    std::string path_;
    std::uint16_t vendorId_;
    std::uint16_t productId_;
    bool idsKnown_;
    std::size_t outputReportLength_;
    std::string lastError_;
};

}  // namespace

HidapiBackend::HidapiBackend() { InitialiseOnce(); }

std::vector<HidDeviceInfo> HidapiBackend::Enumerate() {
    std::vector<HidDeviceInfo> present;
    if (InitialiseOnce() != 0) return present;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        if (d->path == nullptr) continue;
        HidDeviceInfo info;
        info.path = d->path;
        info.vendorId = d->vendor_id;
        info.productId = d->product_id;
        info.idsKnown = true;
        info.product = Utf8(d->product_string);
        info.serial = Utf8(d->serial_number);
        present.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return present;
}

std::unique_ptr<HidDevice> HidapiBackend::Open(const std::string& path, HidOpenError& error) {
    if (InitialiseOnce() != 0) {
        error = {"open('" + path + "'): hid_init failed", false};
        return nullptr;
    }
    int held = -1;
    if (std::optional<HidOpenError> refused = HoldNode(path, held)) {
        error = *refused;
        return nullptr;
    }
    hid_device* device = hid_open_path(path.c_str());
    if (device == nullptr) {
        // Changed between the two openings, or refused by hidapi itself.
        LetGo(held);
        error = HoldNode(path, held)
                    .value_or(HidOpenError{"open('" + path + "'): " + HidError(nullptr), false});
        LetGo(held);
        return nullptr;
    }

    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool idsKnown = false;
#if HID_API_VERSION >= HID_API_MAKE_VERSION(0, 13, 0)
    if (const hid_device_info* info = hid_get_device_info(device)) {
        vendorId = info->vendor_id;
        productId = info->product_id;
        idsKnown = true;
    }
#endif
    if (!idsKnown) {
        for (const HidDeviceInfo& info : Enumerate()) {
            if (info.path == path) {
                vendorId = info.vendorId;
                productId = info.productId;
                idsKnown = true;
                break;
            }
        }
    }
    const std::size_t outputLength = OutputReportLengthFromFile(ReportDescriptorPath(path));
    return std::make_unique<HidapiDevice>(device, held, path, vendorId, productId, idsKnown,
                                          outputLength);
}

std::optional<std::size_t> OutputReportLengthFromDescriptor(const std::uint8_t* data,
                                                            std::size_t size) {
    struct Globals {
        std::uint32_t reportSize = 0;
        std::uint32_t reportCount = 0;
        std::uint32_t reportId = 0;
    };
    Globals globals;
    std::vector<Globals> pushed;
    std::map<std::uint32_t, std::uint64_t> outputBits;  // by report ID

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = data[i];
        if (prefix == 0xFE) {  // long item: size byte, tag byte, data
            if (size - i < 3 || size - i - 3 < data[i + 1]) return std::nullopt;
            i += 3 + data[i + 1];
            continue;
        }
        const std::size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (size - i - 1 < dataSize) return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < dataSize; ++k)
            value |= std::uint32_t{data[i + 1 + k]} << (8 * k);
        i += 1 + dataSize;

        const int type = (prefix >> 2) & 3;
        const int tag = prefix >> 4;
        if (type == 0 && tag == 0x9) {  // Output
            outputBits[globals.reportId] += std::uint64_t{globals.reportSize} * globals.reportCount;
        } else if (type == 1) {
            switch (tag) {
                case 0x7:
                    globals.reportSize = value;
                    break;
                case 0x8:
                    globals.reportId = value;
                    break;
                case 0x9:
                    globals.reportCount = value;
                    break;
                case 0xA:
                    pushed.push_back(globals);
                    break;
                case 0xB:
                    if (pushed.empty()) return std::nullopt;
                    globals = pushed.back();
                    pushed.pop_back();
                    break;
                default:
                    break;
            }
        }
    }
    std::uint64_t longest = 0;
    for (const auto& [id, bits] : outputBits) longest = std::max(longest, bits);
    if (longest == 0) return std::nullopt;
    return static_cast<std::size_t>((longest + 7) / 8 + 1);
}

std::filesystem::path ReportDescriptorPath(const std::string& devicePath) {
    constexpr std::string_view prefix = "/dev/hidraw";
    if (devicePath.size() <= prefix.size() || devicePath.compare(0, prefix.size(), prefix) != 0) {
        return {};
    }
    const std::string number = devicePath.substr(prefix.size());
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return {};
    }
    return std::filesystem::path("/sys/class/hidraw") / ("hidraw" + number) / "device" /
           "report_descriptor";
}

std::size_t OutputReportLengthFromFile(const std::filesystem::path& descriptorFile) {
    if (descriptorFile.empty()) return kReportSize;
    std::ifstream in(descriptorFile, std::ios::binary);
    if (!in) return kReportSize;
    // A report descriptor is at most 4096 bytes (HID_MAX_DESCRIPTOR_SIZE).
    std::vector<std::uint8_t> bytes(4096);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return OutputReportLengthFromDescriptor(bytes.data(), bytes.size()).value_or(kReportSize);
}
