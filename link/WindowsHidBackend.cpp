#include "link/WindowsHidBackend.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the setup and HID headers build on its types.
#include <setupapi.h>
// MinGW's hidsdi.h declares the HidD_ functions without C linkage of their own.
extern "C" {
#include <hidsdi.h>
}

#include <cstdint>
#include <cwchar>
#include <utility>

#include "common/TextFormat.h"
#include "common/WideText.h"
#include "link/HidReport.h"

// The fixed part of the interface detail record, which its size field must name: 8 bytes
// in a 64-bit process, 6 in a 32-bit one, whatever the allocation around it.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == (sizeof(void*) == 8 ? 8 : 6));
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

std::string SystemCallError(const char* call, unsigned long code) {
    wchar_t buffer[512] = {};
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::wstring_view message(buffer, length);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.remove_suffix(1);
    }
    if (message.empty()) return Format("%s: error %lu", call, code);
    return Format("%s: %s (error %lu)", call, Utf8FromWide(message).c_str(), code);
}

namespace {

// Reads with a time-out, the way Windows allows it. A synchronous ReadFile on a HID
// handle cannot time out, so the handle is opened for overlapped transfers and each
// transfer waits on its event with the time-out; on time-out CancelIoEx cancels exactly
// that request, and the transfer ends only once the system is done with it, so a late
// answer can never land in a buffer the caller has moved on from. (A worker-thread read
// stopped with CancelSynchronousIo races with the read's start and end instead.)
class WindowsHidDevice : public HidDevice {
public:
    WindowsHidDevice(HANDLE handle, HANDLE event) : handle_(handle), event_(event) {}
    ~WindowsHidDevice() override {
        CloseHandle(handle_);
        CloseHandle(event_);
    }
    WindowsHidDevice(const WindowsHidDevice&) = delete;
    WindowsHidDevice& operator=(const WindowsHidDevice&) = delete;

    // The report lengths; without them the device is kept but cannot exchange reports.
    void ReadCapabilities() {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!HidD_GetPreparsedData(handle_, &preparsed)) {
            capsError_ = SystemCallError("HidD_GetPreparsedData", GetLastError());
            return;
        }
        HIDP_CAPS caps{};
        const NTSTATUS status = HidP_GetCaps(preparsed, &caps);
        HidD_FreePreparsedData(preparsed);
        if (status != HIDP_STATUS_SUCCESS) {
            capsError_ = Format("HidP_GetCaps: status 0x%08lX", static_cast<unsigned long>(status));
            return;
        }
        outputReportLength_ = caps.OutputReportByteLength;
    }

    bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (!HidD_GetAttributes(handle_, &attributes)) {
            lastError_ = SystemCallError("HidD_GetAttributes", GetLastError());
            return false;
        }
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        lastError_.clear();
        return true;
    }

    std::size_t OutputReportLength() const override { return outputReportLength_; }

    bool Write(const std::uint8_t* report, std::size_t length) override {
        if (length == 0) {
            lastError_ = "WriteFile: the device has no output report length";
            if (!capsError_.empty()) lastError_ += " (" + capsError_ + ")";
            return false;
        }
        DWORD error = 0;
        switch (Transfer(true, const_cast<std::uint8_t*>(report), length, kWindowsWriteTimeoutMs,
                         error)) {
            case Outcome::Done:
                lastError_.clear();
                return true;
            case Outcome::TimedOut:
                lastError_ = Format("WriteFile: the device took no report within %d ms",
                                    kWindowsWriteTimeoutMs);
                return false;
            case Outcome::Failed:
                break;
        }
        lastError_ = SystemCallError("WriteFile", error);
        return false;
    }

    // Byte 0 of what Windows reads is the report ID, byte 1 the first answer byte. A
    // negative time-out waits without limit.
    HidReadStatus Read(std::uint8_t* report, std::size_t length, int timeoutMs) override {
        DWORD error = 0;
        switch (Transfer(false, report, length, timeoutMs, error)) {
            case Outcome::Done:
                lastError_.clear();
                return HidReadStatus::Ok;
            case Outcome::TimedOut:
                lastError_ = Format("ReadFile: no answer within %d ms", timeoutMs);
                return HidReadStatus::TimedOut;
            case Outcome::Failed:
                break;
        }
        lastError_ = SystemCallError("ReadFile", error);
        return HidReadStatus::Failed;
    }

    const std::string& LastError() const override { return lastError_; }

private:
    enum class Outcome { Done, Failed, TimedOut };

    Outcome Transfer(bool write, std::uint8_t* buffer, std::size_t length, int timeoutMs,
                     DWORD& error) {
        if (length > MAXDWORD) {
            error = ERROR_INVALID_PARAMETER;
            return Outcome::Failed;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        ResetEvent(event_);
        const DWORD count = static_cast<DWORD>(length);
        const BOOL started = write ? WriteFile(handle_, buffer, count, nullptr, &overlapped)
                                   : ReadFile(handle_, buffer, count, nullptr, &overlapped);
        DWORD transferred = 0;
        if (!started) {
            error = GetLastError();
            if (error != ERROR_IO_PENDING) return Outcome::Failed;
            const DWORD wait = WaitForSingleObject(
                event_, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
            if (wait != WAIT_OBJECT_0) {
                const DWORD waitError = wait == WAIT_FAILED ? GetLastError() : 0;
                CancelIoEx(handle_, &overlapped);
                // The request may still have completed before the cancel reached it.
                if (GetOverlappedResult(handle_, &overlapped, &transferred, TRUE)) {
                    return Outcome::Done;
                }
                error = GetLastError();
                if (wait == WAIT_FAILED) {
                    error = waitError;
                    return Outcome::Failed;
                }
                return error == ERROR_OPERATION_ABORTED ? Outcome::TimedOut : Outcome::Failed;
            }
        }
        if (!GetOverlappedResult(handle_, &overlapped, &transferred, FALSE)) {
            error = GetLastError();
            return Outcome::Failed;
        }
        return Outcome::Done;
    }

    HANDLE handle_;
    HANDLE event_;  // manual-reset, one transfer at a time
    std::size_t outputReportLength_ = 0;
    std::string capsError_;
    std::string lastError_;
};

// The set of present HID interfaces, released when it goes out of scope.
class InterfaceSet {
public:
    explicit InterfaceSet(const GUID& hidClass)
        : set_(SetupDiGetClassDevsW(&hidClass, nullptr, nullptr,
                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~InterfaceSet() {
        if (valid()) SetupDiDestroyDeviceInfoList(set_);
    }
    InterfaceSet(const InterfaceSet&) = delete;
    InterfaceSet& operator=(const InterfaceSet&) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

// The interface's device path, through the usual size query. False when it cannot be had.
bool InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData, std::string& path) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
    // 8-byte units keep the record aligned as its pointer-sized layout wants.
    std::vector<std::uint64_t> storage((required + sizeof(std::uint64_t) - 1) /
                                       sizeof(std::uint64_t));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr,
                                          nullptr)) {
        return false;
    }
    const std::size_t room =
        (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
    path = Utf8FromWide(std::wstring_view(detail->DevicePath, wcsnlen(detail->DevicePath, room)));
    return true;
}

}  // namespace

std::vector<HidDeviceInfo> WindowsHidBackend::Enumerate() {
    std::vector<HidDeviceInfo> present;
    GUID hidClass{};
    HidD_GetHidGuid(&hidClass);
    InterfaceSet set(hidClass);
    if (!set.valid()) return present;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &interfaceData)) {
            break;
        }
        HidDeviceInfo info;
        info.idsKnown = false;
        info.active = interfaceData.Flags == SPINT_ACTIVE;
        if (!InterfacePath(set.get(), interfaceData, info.path) && info.active) {
            break;  // the search ends at a detail it cannot have
        }
        present.push_back(std::move(info));
    }
    return present;
}

namespace {

// Whether the device at `path` has the programmer's ids, asked through a handle without
// read or write access: HID gives one even while another program holds the device.
bool IsProgrammerAt(const std::wstring& path) {
    HANDLE query = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    if (query == INVALID_HANDLE_VALUE) return false;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool known = HidD_GetAttributes(query, &attributes) != FALSE;
    CloseHandle(query);
    return known && attributes.VendorID == kProgrammerVendorId &&
           attributes.ProductID == kProgrammerProductId;
}

}  // namespace

std::unique_ptr<HidDevice> WindowsHidBackend::Open(const std::string& path, HidOpenError& error) {
    const std::wstring widePath = WideFromUtf8(path);
    // Shared with nobody: the HID class driver then refuses every other opening for
    // reading or writing, by any program, as long as this handle lives. (A named mutex
    // would keep out only other copies of this tool.)
    HANDLE handle = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD cause = GetLastError();
        error = {SystemCallError(("CreateFileW('" + path + "')").c_str(), cause),
                 cause == ERROR_ACCESS_DENIED};
        // Another program holding the device is what a sharing violation means.
        error.inUse = cause == ERROR_SHARING_VIOLATION && IsProgrammerAt(widePath);
        if (cause == ERROR_SHARING_VIOLATION && !error.inUse) error.accessDenied = true;
        return nullptr;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        error = {SystemCallError("CreateEventW", GetLastError()), false};
        CloseHandle(handle);
        return nullptr;
    }
    auto device = std::make_unique<WindowsHidDevice>(handle, event);
    device->ReadCapabilities();
    return device;
}
