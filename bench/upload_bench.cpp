// The counting operator new below is malloc underneath; GCC would take the free in the
// matching delete, once inlined, for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "job/UploadJob.h"
#include "link/SimulatedBackend.h"
#include "tests/support/RecordingPort.h"

// Counts every allocation of the program, so the benchmarks can say how many one upload
// makes (none may be per block).
std::atomic<std::uint64_t> allocationCount{0};

void* operator new(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size != 0 ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr std::uint32_t kImageBytes = 1024 * 1024;  // 32,768 blocks

void FillImage(ImageWorkspace& workspace) {
    for (std::uint32_t i = 0; i < kImageBytes; ++i) {
        workspace.image.imageBuffer[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
    }
    workspace.image.imageLength = kImageBytes;
    workspace.image.imageStart = 0x08000000;
    workspace.fileName = "bench.bin";
}

// The whole upload against the simulated programmer, which stores and checks every block.
void BM_UploadJob1MiBSimulated(benchmark::State& state) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer();
    ProgrammerLink link(backend);
    link.Open();
    ImageWorkspace workspace;
    FillImage(workspace);
    RecordingPort port(link, workspace, RecordingPort::Mode::Quiet);
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t before = allocationCount.load();
        const WorkerOutcome outcome = UploadJob(port);
        allocations += allocationCount.load() - before;
        if (!outcome.ok()) state.SkipWithError(outcome.detail.c_str());
        state.PauseTiming();
        sim.ClearRequests();  // the simulator's request log would grow without end
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
    state.counters["exchanges"] = static_cast<double>(4 + kImageBytes / 32 + 3);
    state.counters["allocations"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_UploadJob1MiBSimulated)->Unit(benchmark::kMillisecond);

// A device that answers at once and keeps nothing, so only the upload's own work and the
// link's remains.
class InstantDevice : public HidDevice {
public:
    explicit InstantDevice(std::uint32_t imageCrc) : imageCrc_(imageCrc) {}
    bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        vendorId = kProgrammerVendorId;
        productId = kProgrammerProductId;
        return true;
    }
    std::size_t OutputReportLength() const override { return kReportSize; }
    bool Write(const std::uint8_t* report, std::size_t) override {
        command_ = report[1];
        return true;
    }
    HidReadStatus Read(std::uint8_t* report, std::size_t, int) override {
        if (command_ == static_cast<std::uint8_t>(Command::StorageCrc)) {
            WriteLe32(report + 1, imageCrc_);
        } else if (command_ == static_cast<std::uint8_t>(Command::ReadStorage)) {
            report[1] = kJobMarker;
        } else {
            report[1] = 0;
        }
        return HidReadStatus::Ok;
    }
    const std::string& LastError() const override { return error_; }

private:
    std::uint32_t imageCrc_;
    std::uint8_t command_ = 0;
    std::string error_;
};

class InstantBackend : public HidBackend {
public:
    explicit InstantBackend(std::uint32_t imageCrc) : imageCrc_(imageCrc) {}
    std::vector<HidDeviceInfo> Enumerate() override {
        HidDeviceInfo info;
        info.path = "instant:0";
        info.vendorId = kProgrammerVendorId;
        info.productId = kProgrammerProductId;
        info.idsKnown = true;
        return {info};
    }
    std::unique_ptr<HidDevice> Open(const std::string&, HidOpenError&) override {
        return std::make_unique<InstantDevice>(imageCrc_);
    }

private:
    std::uint32_t imageCrc_;
};

void BM_UploadJob1MiBInstantDevice(benchmark::State& state) {
    ImageWorkspace workspace;
    FillImage(workspace);
    InstantBackend backend(WordCrc32(workspace.image.imageBuffer, kImageBytes / 4));
    ProgrammerLink link(backend);
    link.Open();
    RecordingPort port(link, workspace, RecordingPort::Mode::Quiet);
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t before = allocationCount.load();
        const WorkerOutcome outcome = UploadJob(port);
        allocations += allocationCount.load() - before;
        if (!outcome.ok()) state.SkipWithError(outcome.detail.c_str());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kImageBytes);
    state.counters["allocations"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_UploadJob1MiBInstantDevice)->Unit(benchmark::kMillisecond);

}  // namespace
