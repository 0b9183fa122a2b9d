#include "link/SimulatedBackend.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "common/TextFormat.h"

struct SimulatedBackend::Entry {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool active = true;
    bool plugged = true;
    std::uint64_t plugGeneration = 0;  // a handle lives only as long as its plugging
    std::unique_ptr<SimulatedProgrammer> programmer;
    int openHandles = 0;
    int openCount = 0;
    std::optional<std::string> denyReason;
};

// A handle on one simulated device. Every call takes the backend's mutex; a read that
// waits for an answer waits on the condition variable, so an unplug can end it early.
class SimulatedDevice : public HidDevice {
public:
    SimulatedDevice(SimulatedBackend& backend, std::shared_ptr<SimulatedBackend::Entry> entry)
        : backend_(backend), entry_(std::move(entry)), generation_(entry_->plugGeneration) {}

    ~SimulatedDevice() override {
        std::lock_guard lock(backend_.mutex_);
        --entry_->openHandles;
    }

    bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        std::lock_guard lock(backend_.mutex_);
        if (!Live()) return Fail("attributes: device removed");
        vendorId = entry_->vendorId;
        productId = entry_->productId;
        lastError_.clear();
        return true;
    }

    std::size_t OutputReportLength() const override {
        return entry_->programmer ? entry_->programmer->config().outputReportLength : kReportSize;
    }

    bool Write(const std::uint8_t* report, std::size_t length) override {
        std::function<void(const DeviceEvent&)> sink;
        bool unplugged = false;
        {
            std::lock_guard lock(backend_.mutex_);
            if (!Live()) return Fail("device removed");
            pending_ = Pending::None;
            if (!entry_->programmer) {
                lastError_.clear();
                return true;  // another kind of device takes reports and never answers these
            }
            SimulatedProgrammer::Response response = entry_->programmer->Handle(report, length);
            if (response.unplug) {
                entry_->plugged = false;
                ++entry_->plugGeneration;
                backend_.unplugged_.notify_all();
                sink = backend_.sink_;
                unplugged = true;
                lastError_ = "device removed";
            } else if (response.writeFails) {
                return Fail("write failed");
            } else if (response.hang) {
                pending_ = Pending::Hang;
            } else if (response.readFails) {
                pending_ = Pending::ReadFails;
            } else {
                pending_ = Pending::Answer;
                answer_ = std::move(response.answer);
            }
            answerDue_ = std::chrono::steady_clock::now() +
                         std::chrono::microseconds(response.answerAfterUs);
        }
        if (unplugged) {
            // Unplugged at this request: report it as a watcher would, outside the lock.
            if (sink) sink(DeviceEvent{DeviceEvent::Kind::Removal, entry_->path});
            return false;
        }
        lastError_.clear();
        return true;
    }

    HidReadStatus Read(std::uint8_t* report, std::size_t length, int timeoutMs) override {
        std::unique_lock lock(backend_.mutex_);
        if (!Live()) return ReadFail("device removed");
        auto gone = [this] { return !Live(); };
        if ((pending_ == Pending::Answer || pending_ == Pending::ReadFails) &&
            std::chrono::steady_clock::now() < answerDue_) {
            // The programmer is still at work: wait for it (the lock is let go meanwhile,
            // so the other programmers of the backend go on), but no longer than asked.
            const auto deadline =
                timeoutMs < 0 ? answerDue_
                              : std::min(answerDue_, std::chrono::steady_clock::now() +
                                                         std::chrono::milliseconds(timeoutMs));
            backend_.unplugged_.wait_until(lock, deadline, gone);
            if (!Live()) return ReadFail("device removed");
            if (std::chrono::steady_clock::now() < answerDue_) {
                // Too late for this read; a later one still gets the answer.
                lastError_ = Format("no answer within %d ms", timeoutMs);
                return HidReadStatus::TimedOut;
            }
        }
        const Pending pending = std::exchange(pending_, Pending::None);
        if (pending == Pending::Answer) {
            std::fill_n(report, length, 0);
            std::copy_n(answer_.begin(), std::min(length, answer_.size()), report);
            lastError_.clear();
            return HidReadStatus::Ok;
        }
        if (pending == Pending::ReadFails) return ReadFail("read failed");

        // No answer is coming: wait out the time-out, unless the device goes away first.
        if (timeoutMs < 0) {
            backend_.unplugged_.wait(lock, gone);
        } else {
            backend_.unplugged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), gone);
        }
        if (!Live()) return ReadFail("device removed");
        lastError_ = Format("no answer within %d ms", timeoutMs);
        return HidReadStatus::TimedOut;
    }

    const std::string& LastError() const override { return lastError_; }

    bool IsSimulated() const override { return true; }

private:
    enum class Pending { None, Answer, ReadFails, Hang };

    bool Live() const { return entry_->plugged && entry_->plugGeneration == generation_; }
    bool Fail(std::string reason) {
        lastError_ = std::move(reason);
        return false;
    }
    HidReadStatus ReadFail(std::string reason) {
        lastError_ = std::move(reason);
        return HidReadStatus::Failed;
    }

    SimulatedBackend& backend_;
    std::shared_ptr<SimulatedBackend::Entry> entry_;
    std::uint64_t generation_;
    Pending pending_ = Pending::None;
    std::vector<std::uint8_t> answer_;
    std::chrono::steady_clock::time_point answerDue_;  // when the pending answer comes
    std::string lastError_;
};

SimulatedBackend::SimulatedBackend() = default;
SimulatedBackend::~SimulatedBackend() = default;

std::shared_ptr<SimulatedBackend::Entry> SimulatedBackend::FindEntry(
    const std::string& path) const {
    for (const auto& entry : entries_) {
        if (entry->path == path) return entry;
    }
    return nullptr;
}

void SimulatedBackend::AddEntry(std::shared_ptr<Entry> entry) {
    std::function<void(const DeviceEvent&)> sink;
    const std::string path = entry->path;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
        sink = sink_;
    }
    if (sink) sink(DeviceEvent{DeviceEvent::Kind::Arrival, path});
}

SimulatedProgrammer& SimulatedBackend::AddProgrammer(const SimulatorConfig& config) {
    auto entry = std::make_shared<Entry>();
    SimulatorConfig unique = config;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t n = entries_.size(); unique.path.empty() || FindEntry(unique.path); ++n) {
            unique.path = Format("sim:programmer-%zu", n);
        }
    }
    entry->path = unique.path;
    entry->vendorId = kProgrammerVendorId;
    entry->productId = kProgrammerProductId;
    entry->programmer = std::make_unique<SimulatedProgrammer>(unique);
    SimulatedProgrammer& programmer = *entry->programmer;
    AddEntry(std::move(entry));
    return programmer;
}

void SimulatedBackend::AddOtherDevice(const std::string& path, std::uint16_t vendorId,
                                      std::uint16_t productId, bool active) {
    auto entry = std::make_shared<Entry>();
    entry->path = path;
    entry->vendorId = vendorId;
    entry->productId = productId;
    entry->active = active;
    AddEntry(std::move(entry));
}

void SimulatedBackend::Plug(const std::string& path) {
    std::function<void(const DeviceEvent&)> sink;
    {
        std::lock_guard lock(mutex_);
        const auto entry = FindEntry(path);
        if (!entry || entry->plugged) return;
        entry->plugged = true;
        sink = sink_;
    }
    if (sink) sink(DeviceEvent{DeviceEvent::Kind::Arrival, path});
}

void SimulatedBackend::Unplug(const std::string& path) {
    std::function<void(const DeviceEvent&)> sink;
    {
        std::lock_guard lock(mutex_);
        const auto entry = FindEntry(path);
        if (!entry || !entry->plugged) return;
        entry->plugged = false;
        ++entry->plugGeneration;
        unplugged_.notify_all();
        sink = sink_;
    }
    if (sink) sink(DeviceEvent{DeviceEvent::Kind::Removal, path});
}

bool SimulatedBackend::IsPlugged(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto entry = FindEntry(path);
    return entry && entry->plugged;
}

void SimulatedBackend::SetEventSink(std::function<void(const DeviceEvent&)> sink) {
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

int SimulatedBackend::OpenHandles(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto entry = FindEntry(path);
    return entry ? entry->openHandles : 0;
}

int SimulatedBackend::OpenCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto entry = FindEntry(path);
    return entry ? entry->openCount : 0;
}

std::size_t SimulatedBackend::RequestCount(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto entry = FindEntry(path);
    return entry && entry->programmer ? entry->programmer->Requests().size() : 0;
}

void SimulatedBackend::DenyOpen(const std::string& path, const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (const auto entry = FindEntry(path)) entry->denyReason = reason;
}

std::vector<HidDeviceInfo> SimulatedBackend::Enumerate() {
    std::lock_guard lock(mutex_);
    std::vector<HidDeviceInfo> present;
    for (const auto& entry : entries_) {
        if (!entry->plugged) continue;
        HidDeviceInfo info;
        info.path = entry->path;
        info.vendorId = entry->vendorId;
        info.productId = entry->productId;
        // Other devices name their ids only once opened, so a search must open and close
        // them again, as on Windows.
        info.idsKnown = entry->programmer != nullptr;
        info.active = entry->active;
        if (entry->programmer) {
            info.product = "Marrowdyne programmer (simulated)";
            info.serial = entry->programmer->config().serialNumber;
        }
        present.push_back(std::move(info));
    }
    return present;
}

std::unique_ptr<HidDevice> SimulatedBackend::Open(const std::string& path, HidOpenError& error) {
    std::lock_guard lock(mutex_);
    const auto entry = FindEntry(path);
    if (!entry || !entry->plugged) {
        error = {"open('" + path + "'): No such device", false};
        return nullptr;
    }
    if (entry->denyReason) {
        error = {"open('" + path + "'): " + *entry->denyReason, true};
        return nullptr;
    }
    ++entry->openHandles;
    ++entry->openCount;
    return std::make_unique<SimulatedDevice>(*this, entry);
}
