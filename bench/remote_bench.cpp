// Remote job files of a 1 MiB image: generation (scramble, checksum, write, read back,
// check, descramble) and loading (read, check, descramble), through the real file system.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "remote/GenerateRemoteJobFile.h"
#include "remote/RemoteJobFile.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kImageLength = 1 << 20;

class BenchPort : public RemoteGenerationPort {
public:
    explicit BenchPort(fs::path directory) : directory_(std::move(directory)) {
        FirmwareImage& staging = workspace_.Staging();
        std::mt19937 random(1);
        for (std::uint32_t i = 0; i < kImageLength; ++i) {
            staging.imageBuffer[i] = static_cast<std::uint8_t>(random());
        }
        staging.imageLength = kImageLength;
        staging.imageStart = 0x08000000;
        workspace_.CommitStaging(directory_ / "bench.hex", "bench.hex");
    }

    void SetProgressRange(std::uint32_t) override {}
    void SetProgressPosition(std::uint32_t) override {}
    void ShowMessage(MessageIcon, std::string_view) override {}
    ImageWorkspace& Workspace() override { return workspace_; }
    std::uint32_t RemoteCode() override { return 0x1A2B3C4D; }
    std::uint32_t ProgrammerVersion() override { return 0x1002; }
    std::vector<fs::path> OutputDirectories() override { return {directory_}; }
    void ShowJobDescription(const JobDescription&) override {}
    JobSettings CurrentJobSettings() override { return {}; }

private:
    fs::path directory_;
    ImageWorkspace workspace_;
};

fs::path BenchDirectory() {
    const fs::path directory =
        fs::temp_directory_path() / ("marro-remote-bench-" + std::to_string(std::random_device{}()));
    fs::create_directories(directory);
    return directory;
}

void BM_GenerateRemoteJobFile1MiB(benchmark::State& state) {
    const fs::path directory = BenchDirectory();
    BenchPort port(directory);
    for (auto _ : state) {
        const WorkerOutcome outcome = GenerateRemoteJobFile(port);
        if (!outcome.ok()) state.SkipWithError(outcome.detail.c_str());
    }
    state.SetBytesProcessed(state.iterations() * kImageLength);
    fs::remove_all(directory);
}
BENCHMARK(BM_GenerateRemoteJobFile1MiB)->Unit(benchmark::kMillisecond);

void BM_LoadRemoteJobFile1MiB(benchmark::State& state) {
    const fs::path directory = BenchDirectory();
    BenchPort port(directory);
    if (!GenerateRemoteJobFile(port).ok()) state.SkipWithError("generation failed");
    const fs::path file = directory / "bench.qvz";
    std::string detail;
    for (auto _ : state) {
        if (LoadRemoteJobFile(file, port.Workspace(), detail) != RemoteLoadResult::Loaded) {
            state.SkipWithError(detail.c_str());
        }
    }
    state.SetBytesProcessed(state.iterations() * (kImageLength + 68));
    fs::remove_all(directory);
}
BENCHMARK(BM_LoadRemoteJobFile1MiB)->Unit(benchmark::kMillisecond);

}  // namespace
