#include "link/ProgrammerLink.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <limits>
#include <utility>

#include "common/ConnectionCode.h"
#include "common/TextFormat.h"
#include "link/DevicePaths.h"

FindResult FindProgrammer(HidBackend& backend) {
    FindResult result;
    for (const HidDeviceInfo& info : backend.Enumerate()) {
        if (!info.active) continue;
        // Where the platform names the ids without opening, other devices need not be
        // opened at all.
        if (info.idsKnown &&
            (info.vendorId != kProgrammerVendorId || info.productId != kProgrammerProductId)) {
            continue;
        }
        HidOpenError error;
        std::unique_ptr<HidDevice> device = backend.Open(info.path, error);
        if (!device) {
            // A programmer in use is one even where ids are known only after opening.
            if ((info.idsKnown || error.inUse) && result.refusedPath.empty()) {
                result.refusedPath = info.path;
                result.refusal = error.inUse          ? Refusal::InUse
                                 : error.accessDenied ? Refusal::AccessDenied
                                                      : Refusal::OpenFailed;
                result.refusedReason = error.reason;
            }
            continue;
        }
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        if (!device->Attributes(vendorId, productId)) {
            // The attribute query failing ends the search, as it always has.
            return result;
        }
        if (vendorId != kProgrammerVendorId || productId != kProgrammerProductId) {
            continue;  // `device` closes here
        }
        if (device->OutputReportLength() > kReportSize) {
            if (result.refusedPath.empty()) {
                result.refusedPath = info.path;
                result.refusal = Refusal::Unsuitable;
                result.refusedReason =
                    Format("output report of %u bytes exceeds the %u-byte report",
                           static_cast<unsigned>(device->OutputReportLength()),
                           static_cast<unsigned>(kReportSize));
            }
            continue;
        }
        result.device = std::move(device);
        result.path = info.path;
        result.serial = info.serial;
        return result;
    }
    return result;
}

std::vector<HidDeviceInfo> AttachedProgrammers(HidBackend& backend) {
    std::vector<HidDeviceInfo> found;
    for (HidDeviceInfo& info : backend.Enumerate()) {
        if (!info.active) continue;
        if (!info.idsKnown) {
            HidOpenError error;
            const std::unique_ptr<HidDevice> device = backend.Open(info.path, error);
            if (error.inUse) {
                // Held by a program (maybe this one): a programmer all the same.
                info.vendorId = kProgrammerVendorId;
                info.productId = kProgrammerProductId;
            } else if (!device || !device->Attributes(info.vendorId, info.productId)) {
                continue;
            }
        }
        if (info.vendorId == kProgrammerVendorId && info.productId == kProgrammerProductId) {
            found.push_back(std::move(info));
        }
    }
    return found;
}

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

int AnswerTimeoutMs(const LinkTimeouts& timeouts, const HidReport& request) {
    int perKiB = 0;
    switch (static_cast<Command>(request.CommandCode())) {
        case Command::EraseStorage:
        case Command::EraseFirmware:
            perKiB = timeouts.eraseMsPerKiB;
            break;
        case Command::StorageCrc:
        case Command::FirmwareCrc:
            perKiB = timeouts.checksumMsPerKiB;
            break;
        default:
            break;
    }
    const auto nonNegative = [](int ms) { return static_cast<std::uint64_t>(std::max(ms, 0)); };
    const std::uint64_t work =
        (std::uint64_t{request.Length()} * nonNegative(perKiB) + 1023) / 1024;
    const std::uint64_t total = nonNegative(timeouts.answerMs) + work;
    return static_cast<int>(std::min<std::uint64_t>(total, std::numeric_limits<int>::max()));
}

ProgrammerLink::ProgrammerLink(HidBackend& backend)
    : backend_(backend), codeSource_([] { return NewConnectionCode(); }) {}

ProgrammerLink::~ProgrammerLink() { Close(); }

void ProgrammerLink::Install(FindResult& found) {
    std::lock_guard lock(stateMutex_);
    device_ = std::shared_ptr<HidDevice>(std::move(found.device));
    lateAnswerPossible_.store(false);
    devicePath_ = found.path;
    serialNumber_ = found.serial;
    storedJob_ = {};
    ++generation_;
    connectionCode_.store(codeSource_());
}

bool ProgrammerLink::Open(FindResult* result) {
    if (IsOpen()) return false;
    FindResult found = FindProgrammer(backend_);
    const bool opened = found.device != nullptr;
    if (opened) Install(found);
    if (result != nullptr) *result = std::move(found);
    return opened;
}

bool ProgrammerLink::OpenInstead(const std::string& path, FindResult* result) {
    FindResult found = FindProgrammer(*OnlyDevicePaths(backend_, {path}));
    const bool opened = found.device != nullptr;
    if (opened) {
        // What identification learnt belongs to the one before.
        programmerVersion_.store(0);
        Install(found);
    }
    if (result != nullptr) *result = std::move(found);
    return opened;
}

bool ProgrammerLink::OnArrival() { return Open(nullptr); }

bool ProgrammerLink::OnRemoval(std::string_view path) {
    std::shared_ptr<HidDevice> released;
    {
        std::lock_guard lock(stateMutex_);
        if (!device_ || !EqualIgnoringCase(path, devicePath_)) return false;
        released = std::move(device_);
        storedJob_ = {};
        ++generation_;
    }
    programmerVersion_.store(0);
    connectionCode_.store(0);
    return true;
}

void ProgrammerLink::Close() {
    std::shared_ptr<HidDevice> released;
    std::lock_guard lock(stateMutex_);
    released = std::move(device_);
    ++generation_;
}

bool ProgrammerLink::IsOpen() const {
    std::lock_guard lock(stateMutex_);
    return device_ != nullptr;
}

std::string ProgrammerLink::DevicePath() const {
    std::lock_guard lock(stateMutex_);
    return devicePath_;
}

std::string ProgrammerLink::SerialNumber() const {
    std::lock_guard lock(stateMutex_);
    return serialNumber_;
}

StoredJob ProgrammerLink::storedJob() const {
    std::lock_guard lock(stateMutex_);
    return storedJob_;
}

void ProgrammerLink::SetStoredJob(StoredJob job) {
    std::lock_guard lock(stateMutex_);
    storedJob_ = std::move(job);
}

void ProgrammerLink::SetConnectionCodeSource(std::function<std::uint32_t()> source) {
    std::lock_guard lock(stateMutex_);
    codeSource_ = std::move(source);
}

void ProgrammerLink::SetTimeouts(const LinkTimeouts& timeouts) {
    std::lock_guard lock(stateMutex_);
    timeouts_ = timeouts;
}

LinkTimeouts ProgrammerLink::Timeouts() const {
    std::lock_guard lock(stateMutex_);
    return timeouts_;
}

void ProgrammerLink::SetTrace(ReportTrace trace) {
    std::lock_guard lock(stateMutex_);
    trace_ = std::move(trace);
}

ProgrammerLink::Session ProgrammerLink::Acquire() {
    std::unique_lock hold(workerMutex_);
    std::uint64_t generation;
    bool reachesHardware;
    {
        std::lock_guard lock(stateMutex_);
        generation = generation_;
        reachesHardware = device_ != nullptr && !device_->IsSimulated();
    }
    return Session(*this, std::move(hold), generation, reachesHardware);
}

ProgrammerLink::Session::Session(ProgrammerLink& link, std::unique_lock<std::mutex> hold,
                                 std::uint64_t generation, bool reachesHardware)
    : link_(&link),
      hold_(std::move(hold)),
      generation_(generation),
      reachesHardware_(reachesHardware) {}

ProgrammerLink::Session::Session(Session&& other) noexcept
    : link_(other.link_),
      hold_(std::move(other.hold_)),
      generation_(other.generation_),
      reachesHardware_(other.reachesHardware_),
      lastError_(std::move(other.lastError_)) {}

ProgrammerLink::Session::~Session() = default;

ExchangeResult ProgrammerLink::Session::Exchange(HidReport& report) {
    if (const std::atomic<bool>* stop = link_->stop_.load(); stop != nullptr && stop->load()) {
        lastError_ = "write: not sent, the work was stopped";
        return ExchangeResult::WriteFailed;
    }
    std::shared_ptr<HidDevice> device;
    ReportTrace trace;
    LinkTimeouts timeouts;
    {
        std::lock_guard lock(link_->stateMutex_);
        if (link_->generation_ == generation_) device = link_->device_;
        trace = link_->trace_;
        timeouts = link_->timeouts_;
    }
    if (!device) {
        lastError_ = "write: no programmer is open";
        return ExchangeResult::WriteFailed;
    }
    const std::size_t length = std::min(device->OutputReportLength(), kReportSize);
    if (link_->lateAnswerPossible_.exchange(false)) {
        // Throw away what arrived after an earlier time-out, so it is not taken for the
        // answer of this request.
        std::array<std::uint8_t, kReportSize> stale{};
        for (int i = 0; i < 16 && device->Read(stale.data(), length, 0) == HidReadStatus::Ok; ++i) {
        }
    }
    report.bytes[0] = 0;
    if (trace) trace('>', report.bytes.data(), length);
    if (!device->Write(report.bytes.data(), length)) {
        lastError_ = "write: " + device->LastError();
        return ExchangeResult::WriteFailed;
    }
    {
        // A removal between the write and the read: the answer no longer counts.
        std::lock_guard lock(link_->stateMutex_);
        if (link_->generation_ != generation_) {
            lastError_ = "read: the programmer was removed";
            return ExchangeResult::ReadFailed;
        }
    }
    const int timeoutMs = AnswerTimeoutMs(timeouts, report);
    switch (device->Read(report.bytes.data(), length, timeoutMs)) {
        case HidReadStatus::Ok:
            break;
        case HidReadStatus::TimedOut:
            link_->lateAnswerPossible_.store(true);
            lastError_ = Format("read: no answer within %d ms", timeoutMs);
            return ExchangeResult::ReadFailed;
        case HidReadStatus::Failed:
            lastError_ = "read: " + device->LastError();
            return ExchangeResult::ReadFailed;
    }
    if (trace) trace('<', report.bytes.data(), length);
    return ExchangeResult::Ok;
}
