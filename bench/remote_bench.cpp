// Remote job files of a 1 MiB image: generation (scramble, checksum, write, read back,
// check, descramble) and loading (read, check, descramble), through the real file system.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "remote/GenerateRemoteJobFile.h"
#include "remote/RemoteJobFile.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kImageLength = 1 << 20;

// A port whose workspace holds a 1 MiB image of random bytes, its file going to `folder`.
void LoadBenchImage(RecordingPort& port, const fs::path& folder) {
    FirmwareImage& staging = port.Workspace().Staging();
    std::mt19937 random(1);
    for (std::uint32_t i = 0; i < kImageLength; ++i) {
        staging.imageBuffer[i] = static_cast<std::uint8_t>(random());
    }
    staging.imageLength = kImageLength;
    staging.imageStart = 0x08000000;
    port.Workspace().CommitStaging(folder / "bench.hex", "bench.hex");
    port.outputDirectories = {folder};
}

void BM_GenerateRemoteJobFile1MiB(benchmark::State& state) {
    const TempFolder directory("marro-remote-bench");
    RecordingPort port(RecordingPort::Mode::Quiet);
    LoadBenchImage(port, directory.Path());
    for (auto _ : state) {
        const WorkerOutcome outcome = GenerateRemoteJobFile(port);
        if (!outcome.ok()) state.SkipWithError(outcome.detail.c_str());
    }
    state.SetBytesProcessed(state.iterations() * kImageLength);
}
BENCHMARK(BM_GenerateRemoteJobFile1MiB)->Unit(benchmark::kMillisecond);

void BM_LoadRemoteJobFile1MiB(benchmark::State& state) {
    const TempFolder directory("marro-remote-bench");
    RecordingPort port(RecordingPort::Mode::Quiet);
    LoadBenchImage(port, directory.Path());
    if (!GenerateRemoteJobFile(port).ok()) state.SkipWithError("generation failed");
    const fs::path file = directory / "bench.qvz";
    std::string detail;
    for (auto _ : state) {
        if (LoadRemoteJobFile(file, port.Workspace(), detail) != RemoteLoadResult::Loaded) {
            state.SkipWithError(detail.c_str());
        }
    }
    state.SetBytesProcessed(state.iterations() * (kImageLength + 68));
}
BENCHMARK(BM_LoadRemoteJobFile1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
