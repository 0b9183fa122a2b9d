// Device answers as outside input: a programmer whose every answer comes from the fuzz
// data runs the identification, a small upload, a verify and a read-back of the stored
// job. Whatever it answers, each worker
// must end with exactly one message or none as its contract says, and never read or
// write out of bounds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "link/HidBackend.h"
#include "job/IdentifyProgrammer.h"
#include "link/HidReport.h"
#include "link/ProgrammerLink.h"
#include "tests/support/RecordingPort.h"

namespace {

// The input is a sequence of 65-byte answers. Byte 0 of each is the report ID and is
// always delivered as 0; before that it may steer the transport: 0xF1 makes the write
// of the next request fail, 0xF0 makes the read of that answer fail. When the input
// runs out, reads time out.
constexpr std::uint8_t kFailWrite = 0xF1;
constexpr std::uint8_t kFailRead = 0xF0;

class ScriptedDevice : public HidDevice {
public:
    ScriptedDevice(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        vendorId = kProgrammerVendorId;
        productId = kProgrammerProductId;
        return true;
    }
    std::size_t OutputReportLength() const override { return kReportSize; }

    bool Write(const std::uint8_t*, std::size_t) override {
        if (used_ < size_ && data_[used_] == kFailWrite) {
            used_ = std::min(size_, used_ + kReportSize);
            error_ = "write failed";
            return false;
        }
        return true;
    }

    HidReadStatus Read(std::uint8_t* report, std::size_t length, int) override {
        if (used_ >= size_) {
            error_ = "no answer";
            return HidReadStatus::TimedOut;
        }
        const std::size_t take = std::min(kReportSize, size_ - used_);
        const std::uint8_t control = data_[used_];
        std::memset(report, 0, length);
        std::memcpy(report, data_ + used_, std::min(take, length));
        report[0] = 0;
        used_ += take;
        if (control == kFailRead) {
            error_ = "read failed";
            return HidReadStatus::Failed;
        }
        return HidReadStatus::Ok;
    }

    const std::string& LastError() const override { return error_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
    std::string error_;
};

class ScriptedBackend : public HidBackend {
public:
    ScriptedBackend(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::vector<HidDeviceInfo> Enumerate() override {
        HidDeviceInfo info;
        info.path = "fuzz:programmer";
        info.vendorId = kProgrammerVendorId;
        info.productId = kProgrammerProductId;
        info.idsKnown = true;
        return {info};
    }
    std::unique_ptr<HidDevice> Open(const std::string&, HidOpenError&) override {
        return std::make_unique<ScriptedDevice>(data_, size_);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

[[noreturn]] void Broken() { std::abort(); }

// What every worker may show, whatever the programmer answered: positions within the
// range, no empty message, a selection the series list has, and a job's rows or the one
// row that says there is none.
void ExpectSensibleShows(const RecordingPort& port) {
    for (const std::string& text : port.messages) {
        if (text.empty()) Broken();
    }
    for (const auto& [enabled, selectedIndex] : port.seriesLists) {
        if (selectedIndex < -1 || selectedIndex > 7) Broken();
    }
    for (const JobDescription& rows : port.descriptions) {
        if (rows.size() != 8 && rows.size() != 9 && rows.size() != 1) Broken();
    }
}

// A recording port that checks each position against the range shown before it.
void WatchProgress(RecordingPort& port) {
    port.onProgress = [&port](std::uint32_t position) {
        if (position > (port.ranges.empty() ? 0 : port.ranges.back())) Broken();
    };
}

// A small image of 70 bytes, so the upload pads it and sends three blocks.
ImageWorkspace& SmallImage() {
    static ImageWorkspace* workspace = new ImageWorkspace();
    FirmwareImage& image = workspace->image;
    for (std::uint32_t i = 0; i < 72; ++i) image.imageBuffer[i] = static_cast<std::uint8_t>(i * 3);
    image.imageLength = 70;
    image.imageStart = 0x08000000;
    workspace->fileName = "fuzz.bin";
    return *workspace;
}

void ExpectOneMessageAtMost(const WorkerOutcome& outcome, const RecordingPort& port,
                            bool silentWhenOk) {
    ExpectSensibleShows(port);
    const std::size_t expected = outcome.ok() && silentWhenOk ? 0 : 1;
    if (port.messages.size() != expected) Broken();
    if (expected == 0) return;
    // The message shown is the outcome's, and at most a note on a line below it.
    const std::string& shown = port.messages[0];
    if (shown.compare(0, outcome.message.size(), outcome.message) != 0) Broken();
    if (shown.size() > outcome.message.size() && shown[outcome.message.size()] != '\n') Broken();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const LinkTimeouts quick{.answerMs = 1, .eraseMsPerKiB = 0, .checksumMsPerKiB = 0};
    {
        ScriptedBackend backend(data, size);
        ProgrammerLink link(backend);
        link.SetTimeouts(quick);
        if (!link.Open()) Broken();
        RecordingPort port(link);
        WatchProgress(port);
        const WorkerOutcome outcome = IdentifyProgrammer(port);
        ExpectOneMessageAtMost(outcome, port, true);
        if (outcome.ok() != (port.descriptions.size() == 1) ||
            outcome.ok() != (port.seriesLists.size() == 1)) {
            Broken();
        }
    }
    {
        ScriptedBackend backend(data, size);
        ProgrammerLink link(backend);
        link.SetTimeouts(quick);
        if (!link.Open()) Broken();
        RecordingPort port(link, SmallImage());
        WatchProgress(port);
        const WorkerOutcome outcome = UploadJob(port);
        ExpectOneMessageAtMost(outcome, port, false);
    }
    {
        ScriptedBackend backend(data, size);
        ProgrammerLink link(backend);
        link.SetTimeouts(quick);
        if (!link.Open()) Broken();
        RecordingPort port(link, SmallImage());
        WatchProgress(port);
        const WorkerOutcome outcome = VerifyJob(port);
        ExpectOneMessageAtMost(outcome, port, false);
    }
    {
        ScriptedBackend backend(data, size);
        ProgrammerLink link(backend);
        link.SetTimeouts(quick);
        if (!link.Open()) Broken();
        static ImageWorkspace* readBack = new ImageWorkspace();
        RecordingPort port(link, *readBack);
        WatchProgress(port);
        const WorkerOutcome outcome = ReadStoredJob(port);
        ExpectOneMessageAtMost(outcome, port, false);
        // Whatever header came, a kept job is a record that holds its whole image.
        std::string detail;
        if (outcome.ok() && !RecordCarriesItsImage(readBack->image, detail)) Broken();
    }
    return 0;
}
