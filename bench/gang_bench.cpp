// A shelf of programmers at USB speed: the same 64 KiB job stored into 1 and into 8
// simulated programmers at once, each exchange taking 1000 us as on full-speed USB HID,
// erases and the checksum taking their time. The programmers wait on their own; the host
// must add neither wall time nor much CPU per programmer.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "job/UploadJob.h"
#include "link/DevicePaths.h"
#include "link/SimulatedBackend.h"
#include "tests/support/RecordingPort.h"
#include "worker/Gang.h"

namespace {

constexpr std::uint32_t kImageBytes = 64 * 1024;
constexpr std::uint32_t kExchangeUs = 1000;

// The process's CPU time so far, in the tool's own code and in the kernel (where a
// thread that waits for an answer sleeps and wakes).
struct CpuSeconds {
    double user = 0;
    double system = 0;
};

CpuSeconds ProcessCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// One programmer of the shelf: its link, its own image and its port.
struct Member {
    Member(SimulatedBackend& backend, std::size_t index)
        : programmer(&backend.AddProgrammer(ShelfConfig(index))),
          only(OnlyDevicePaths(backend, {programmer->config().path})),
          link(*only),
          port(link, workspace, RecordingPort::Mode::Quiet) {
        for (std::uint32_t i = 0; i < kImageBytes; ++i) {
            workspace.image.imageBuffer[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
        }
        workspace.image.imageLength = kImageBytes;
        workspace.image.imageStart = 0x08000000;
        workspace.fileName = "shelf.bin";
    }
    static SimulatorConfig ShelfConfig(std::size_t index) {
        SimulatorConfig config;
        config.path = "sim:shelf-" + std::to_string(index);
        config.exchangeLatencyUs = kExchangeUs;
        config.eraseUsPerKiB = kSimEraseUsPerKiB;
        config.checksumUsPerKiB = kSimChecksumUsPerKiB;
        return config;
    }

    SimulatedProgrammer* programmer;
    std::unique_ptr<HidBackend> only;  // the link sees its own programmer alone
    ProgrammerLink link;
    ImageWorkspace workspace;
    RecordingPort port;
};

// Wall time of one programmer alone, for the ratio of the larger shelves.
double singleWallSeconds = 0;

void BM_GangUpload64KiB(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    // One backend for the shelf, as the command line has; each link sees its own path.
    SimulatedBackend backend;
    std::vector<std::unique_ptr<Member>> members;
    for (std::size_t i = 0; i < count; ++i) members.push_back(std::make_unique<Member>(backend, i));
    for (auto& member : members) {
        if (!member->link.Open()) {
            state.SkipWithError("a programmer of the shelf did not open");
            return;
        }
    }

    double wall = 0;
    CpuSeconds cpu;
    for (auto _ : state) {
        const CpuSeconds cpuBefore = ProcessCpu();
        const double wallBefore = WallSeconds();
        bool failed = false;
        RunGang(
            members,
            [](std::unique_ptr<Member>& member) {
                if (!UploadJob(member->port).ok()) throw std::runtime_error("upload failed");
            },
            [&failed](std::unique_ptr<Member>&, std::exception_ptr failure) {
                if (failure) failed = true;
            });
        wall += WallSeconds() - wallBefore;
        const CpuSeconds cpuAfter = ProcessCpu();
        cpu.user += cpuAfter.user - cpuBefore.user;
        cpu.system += cpuAfter.system - cpuBefore.system;
        if (failed) state.SkipWithError("an upload failed");
        state.PauseTiming();
        for (auto& member : members) member->programmer->ClearRequests();
        state.ResumeTiming();
    }
    const auto iterations = static_cast<double>(state.iterations());
    const double wallPerRun = wall / iterations;
    state.counters["programmers"] = static_cast<double>(count);
    state.counters["exchanges_each"] = 4 + kImageBytes / 32 + 3;
    // Host CPU per programmer as a share of the wall time: all of it, and the part spent
    // in the tool's own code rather than in the kernel's sleeping and waking.
    const auto share = [&](double seconds) {
        return 100.0 * seconds / iterations / static_cast<double>(count) / wallPerRun;
    };
    state.counters["cpu_per_programmer_pct"] = share(cpu.user + cpu.system);
    state.counters["user_cpu_per_programmer_pct"] = share(cpu.user);
    if (count == 1) singleWallSeconds = wallPerRun;
    if (singleWallSeconds > 0) state.counters["wall_vs_one"] = wallPerRun / singleWallSeconds;
}
BENCHMARK(BM_GangUpload64KiB)
    ->Arg(1)
    ->Arg(8)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
