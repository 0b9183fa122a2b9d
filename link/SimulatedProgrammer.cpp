#include "link/SimulatedProgrammer.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "common/LittleEndian.h"
#include "common/OutputFile.h"
#include "common/PathText.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"

namespace {

constexpr std::uint32_t kFirmwareAreaEnd = kFirmwareAreaAddress + kFirmwareAreaSize;
static_assert(kFirmwareAreaEnd == kSimFlashAddress + kSimFlashSize);
constexpr std::uint32_t kFirmwareVersionOffset = kFirmwareVersionAddress - kFirmwareAreaAddress;

constexpr std::uint8_t kStatusDone = 0;
constexpr std::uint8_t kStatusRefused = 1;

// State file: magic, format, programmer version, firmware word, storage size, flash size,
// then the storage and the flash.
constexpr std::uint32_t kStateMagic = 0x4D49534D;  // "MSIM"
constexpr std::uint32_t kStateFormat = 1;
constexpr std::size_t kStateHeaderSize = 6 * 4;
constexpr std::size_t kStateFileSize = kStateHeaderSize + kStorageSize + kSimFlashSize;

// Whether [address, address + length) lies inside [base, base + size), without overflow.
bool RangeInside(std::uint32_t address, std::uint64_t length, std::uint32_t base,
                 std::uint32_t size) {
    return address >= base && std::uint64_t{address} - base + length <= size;
}

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Status: return "status";
        case FaultKind::Write: return "write";
        case FaultKind::Read: return "read";
        case FaultKind::Crc: return "crc";
        case FaultKind::Hang: return "hang";
        case FaultKind::Unplug: return "unplug";
    }
    return "";
}

constexpr FaultKind kFaultKinds[] = {FaultKind::Status, FaultKind::Write, FaultKind::Read,
                                     FaultKind::Crc,    FaultKind::Hang,  FaultKind::Unplug};

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, std::string& error) {
    const std::string quoted = "fault '" + std::string(text) + "'";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = quoted + ": expected COMMAND:KIND[@N]";
        return std::nullopt;
    }
    Fault fault;
    const std::string_view commandName = text.substr(0, colon);
    const std::optional<Command> command = CommandFromName(commandName);
    if (!command) {
        error = quoted + ": unknown command '" + std::string(commandName) + "'";
        return std::nullopt;
    }
    fault.command = *command;

    std::string_view rest = text.substr(colon + 1);
    const std::size_t at = rest.find('@');
    const std::string_view kindName = rest.substr(0, at);
    bool kindFound = false;
    for (FaultKind kind : kFaultKinds) {
        if (kindName == FaultKindName(kind)) {
            fault.kind = kind;
            kindFound = true;
        }
    }
    if (!kindFound) {
        error = quoted + ": unknown kind '" + std::string(kindName) +
                "' (status, write, read, crc, hang or unplug)";
        return std::nullopt;
    }
    if (at != std::string_view::npos) {
        const std::string_view count = rest.substr(at + 1);
        int value = 0;
        const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), value);
        if (count.empty() || ec != std::errc() || end != count.data() + count.size() || value < 1) {
            error = quoted + ": the count after '@' must be a whole number from 1";
            return std::nullopt;
        }
        fault.occurrence = value;
    }
    return fault;
}

SimulatedProgrammer::SimulatedProgrammer(const SimulatorConfig& config)
    : config_(config), storage_(kStorageSize, 0xFF), flash_(kSimFlashSize, 0xFF) {
    // An installed firmware of the right form: stack at the top of SRAM, reset handler
    // inside the area, and the version word where identification reads it.
    std::uint8_t* area = flash_.data() + (kFirmwareAreaAddress - kSimFlashAddress);
    WriteLe32(area, kSimSramAddress + kSimSramSize);
    WriteLe32(area + 4, kFirmwareAreaAddress + 0x101);
    WriteLe32(area + kFirmwareVersionOffset, config_.firmwareVersion);
}

void SimulatedProgrammer::AddFault(const Fault& fault) { faults_.push_back(fault); }

std::uint32_t SimulatedProgrammer::FirmwareWord() const {
    return ReadLe32(flash_.data() + (kFirmwareVersionAddress - kSimFlashAddress));
}

SimulatedProgrammer::Response SimulatedProgrammer::Handle(const std::uint8_t* request,
                                                          std::size_t length) {
    requests_.emplace_back(request, request + length);

    // The device sees a whole report; fields beyond what was sent read as zero.
    std::uint8_t frame[kReportSize] = {};
    const std::size_t received = std::min(length, kReportSize);
    std::copy(request, request + received, frame);
    const std::uint8_t code = frame[1];
    const std::uint32_t address = ReadLe32(&frame[2]);
    const std::uint32_t count = ReadLe32(&frame[6]);
    const std::uint8_t* data = &frame[kReportDataOffset];
    const std::size_t dataReceived = received > kReportDataOffset ? received - kReportDataOffset : 0;

    const int occurrence = ++commandCounts_[code];
    std::optional<FaultKind> fault;
    for (const Fault& f : faults_) {
        if (static_cast<std::uint8_t>(f.command) == code && f.occurrence == occurrence) {
            fault = f.kind;
            break;
        }
    }

    Response response;
    response.answerAfterUs = AnswerDelayUs(code, count);
    if (fault == FaultKind::Write) {
        response.writeFails = true;
        return response;
    }
    if (fault == FaultKind::Unplug) {
        response.writeFails = true;
        response.unplug = true;
        return response;
    }
    if (fault == FaultKind::Hang) {
        response.hang = true;
        return response;
    }

    std::vector<std::uint8_t>& answer = response.answer;
    answer.assign(kReportSize, 0);
    std::uint8_t* out = &answer[1];
    if (fault == FaultKind::Status) {
        out[0] = kStatusRefused;
        return response;
    }

    const bool newer = IsNewerKind();
    auto status = [&](bool done) { out[0] = done ? kStatusDone : kStatusRefused; };
    auto word = [&](std::uint32_t value) { WriteLe32(out, value); };

    switch (code) {
        case static_cast<std::uint8_t>(Command::EraseStorage): {
            const bool fits = RangeInside(address, count, 0, kStorageSize);
            if (fits) std::fill_n(storage_.begin() + address, count, 0xFF);
            status(fits);
            break;
        }
        case static_cast<std::uint8_t>(Command::WriteStorage): {
            const bool fits = count <= std::min(kMaxWriteData, dataReceived) &&
                              RangeInside(address, count, 0, kStorageSize);
            // Flash can only clear bits: a write over unerased bytes keeps their zeros.
            if (fits) {
                for (std::uint32_t i = 0; i < count; ++i) storage_[address + i] &= data[i];
            }
            status(fits);
            break;
        }
        case static_cast<std::uint8_t>(Command::ReadStorage): {
            const std::uint32_t n = std::min<std::uint32_t>(count, kMaxReadData);
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::uint64_t at = std::uint64_t{address} + i;
                out[i] = at < kStorageSize ? storage_[at] : 0;
            }
            break;
        }
        case static_cast<std::uint8_t>(Command::StorageCrc):
            // A range beyond the storage has no checksum; the answer carries no status.
            if (RangeInside(address, count, 0, kStorageSize)) {
                word(WordCrc32(storage_.data() + address, count / 4));
            }
            break;
        case static_cast<std::uint8_t>(Command::QueryVersion):
            word(config_.programmerVersion);
            break;
        case static_cast<std::uint8_t>(Command::ReadProgrammerWord):
            if (newer) {
                for (std::uint32_t i = 0; i < 4; ++i) {
                    const std::uint64_t at = std::uint64_t{address} + i;
                    out[i] = at >= kSimFlashAddress && at < kFirmwareAreaEnd
                                 ? flash_[at - kSimFlashAddress]
                                 : 0;
                }
            }
            break;
        case static_cast<std::uint8_t>(Command::EraseFirmware): {
            const bool done = newer && address == kFirmwareAreaAddress && count % 4 == 0 &&
                              count <= kFirmwareAreaSize;
            if (done) {
                std::fill_n(flash_.begin() + (kFirmwareAreaAddress - kSimFlashAddress), count, 0xFF);
                firmwareEraseLength_ = count;
            }
            status(done);
            break;
        }
        case static_cast<std::uint8_t>(Command::WriteFirmware):
            status(newer && WriteFirmwareBlock(address, count, data, dataReceived));
            break;
        case static_cast<std::uint8_t>(Command::FirmwareCrc):
            if (newer && RangeInside(address, count, kSimFlashAddress, kSimFlashSize)) {
                word(WordCrc32(flash_.data() + (address - kSimFlashAddress), count / 4));
            }
            break;
        default:
            out[0] = kStatusRefused;
            break;
    }

    if (fault == FaultKind::Crc) word(ReadLe32(out) + 1);
    if (fault == FaultKind::Read) response.readFails = true;  // done, but the answer is lost
    return response;
}

std::uint64_t SimulatedProgrammer::AnswerDelayUs(std::uint8_t code, std::uint32_t count) const {
    std::uint64_t perKiB = 0;
    switch (static_cast<Command>(code)) {
        case Command::EraseStorage:
        case Command::EraseFirmware: perKiB = config_.eraseUsPerKiB; break;
        case Command::StorageCrc:
        case Command::FirmwareCrc: perKiB = config_.checksumUsPerKiB; break;
        default: break;
    }
    return config_.exchangeLatencyUs + std::uint64_t{count} * perKiB / 1024;
}

bool SimulatedProgrammer::WriteFirmwareBlock(std::uint32_t address, std::uint32_t count,
                                             const std::uint8_t* data, std::size_t dataReceived) {
    if (address < kFirmwareAreaAddress || count > std::min(kMaxWriteData, dataReceived)) {
        return false;
    }
    const std::uint32_t offset = address - kFirmwareAreaAddress;
    if (offset >= firmwareEraseLength_) return false;  // nothing of it lies in the erased range

    if (offset == 0) {
        // The programmer starts only an image of the right form; it refuses anything else
        // before it touches the area.
        if (count < 8 || firmwareEraseLength_ < 8) return false;
        const std::uint32_t stack = ReadLe32(data);
        const std::uint32_t reset = ReadLe32(data + 4);
        const std::uint32_t entry = reset & ~1u;
        const bool stackOk = stack >= kSimSramAddress && stack - kSimSramAddress <= kSimSramSize;
        const bool resetOk = (reset & 1u) != 0 && entry >= kFirmwareAreaAddress &&
                             entry - kFirmwareAreaAddress < firmwareEraseLength_;
        if (!stackOk || !resetOk) return false;
    }
    std::uint8_t* area = flash_.data() + (kFirmwareAreaAddress - kSimFlashAddress);
    const std::uint32_t n = std::min(count, firmwareEraseLength_ - offset);
    for (std::uint32_t i = 0; i < n; ++i) area[offset + i] &= data[i];
    return true;
}

bool SimulatedProgrammer::SaveState(const std::filesystem::path& file, std::string& error) const {
    std::vector<std::uint8_t> header(kStateHeaderSize);
    WriteLe32(&header[0], kStateMagic);
    WriteLe32(&header[4], kStateFormat);
    WriteLe32(&header[8], config_.programmerVersion);
    WriteLe32(&header[12], FirmwareWord());
    WriteLe32(&header[16], kStorageSize);
    WriteLe32(&header[20], kSimFlashSize);

    OutputFile out;
    return out.Create(file, error) && out.Write(header.data(), header.size(), error) &&
           out.Write(storage_.data(), storage_.size(), error) &&
           out.Write(flash_.data(), flash_.size(), error) && out.Commit(error);
}

bool SimulatedProgrammer::LoadState(const std::filesystem::path& file, std::string& error,
                                    bool* inUse) {
    const std::string name = "simulator state '" + Utf8OfPath(file) + "'";
    if (inUse != nullptr) *inUse = false;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(file, ec);
    if (ec && status.type() != std::filesystem::file_type::not_found) {
        error = name + ": " + ec.message();
        return false;
    }
    // A pipe would block the start, and a device or a directory is no memory to keep.
    if (status.type() != std::filesystem::file_type::not_found &&
        !std::filesystem::is_regular_file(status)) {
        error = name + ": not a regular file";
        return false;
    }
    if (!stateLock_.Held() || file != stateFile_) {
        std::string detail;
        switch (stateLock_.Take(file, detail)) {
            case FileLock::Result::Taken: stateFile_ = file; break;
            case FileLock::Result::InUse:
                if (inUse != nullptr) *inUse = true;
                error = detail;
                return false;
            // Where no lock file can be made, no saved state can be either: nothing this
            // programmer does can be lost to another.
            case FileLock::Result::Failed: break;
        }
    }
    if (!std::filesystem::exists(file, ec)) return true;  // a first run
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = name + ": cannot be read";
        return false;
    }
    std::vector<std::uint8_t> bytes(kStateFileSize);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    const bool longer = got == bytes.size() && in.peek() != std::ifstream::traits_type::eof();
    if (got < kStateHeaderSize || ReadLe32(&bytes[0]) != kStateMagic) {
        error = name + ": not a simulator state file";
        return false;
    }
    if (ReadLe32(&bytes[4]) != kStateFormat) {
        error = name + Format(": format %u is not supported", ReadLe32(&bytes[4]));
        return false;
    }
    if (ReadLe32(&bytes[16]) != kStorageSize || ReadLe32(&bytes[20]) != kSimFlashSize) {
        error = name + ": memory sizes do not match this simulator";
        return false;
    }
    if (got != bytes.size() || longer) {
        error = name + Format(": expected %zu bytes", kStateFileSize);
        return false;
    }
    const std::uint8_t* storage = &bytes[kStateHeaderSize];
    const std::uint8_t* flash = storage + kStorageSize;
    const std::uint32_t firmwareWord =
        ReadLe32(flash + (kFirmwareVersionAddress - kSimFlashAddress));
    if (ReadLe32(&bytes[12]) != firmwareWord) {
        error = name + ": the firmware word does not match the stored flash";
        return false;
    }
    // Only a wholly valid file changes the device.
    std::copy(storage, storage + kStorageSize, storage_.begin());
    std::copy(flash, flash + kSimFlashSize, flash_.begin());
    config_.programmerVersion = ReadLe32(&bytes[8]);
    config_.firmwareVersion = firmwareWord;
    return true;
}

// ---------------------------------------------------------------------------------------

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

std::shared_ptr<SimulatedBackend::Entry> SimulatedBackend::FindEntry(const std::string& path) const {
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
