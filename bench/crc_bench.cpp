#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "common/WordCrc32.h"

namespace {

constexpr std::size_t kBufferSize = 2 * 1024 * 1024;  // the whole job storage

const std::vector<std::uint8_t>& Buffer() {
    static const std::vector<std::uint8_t> buffer = [] {
        std::vector<std::uint8_t> bytes(kBufferSize);
        std::mt19937 random(2026);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        return bytes;
    }();
    return buffer;
}

void BM_WordCrc32(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(WordCrc32(buffer.data(), buffer.size() / 4));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_WordCrc32);

// zlib's CRC-32 over the same bytes: the yardstick for a table- or fold-based CRC.
void BM_ZlibCrc32(benchmark::State& state) {
    const auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0L, buffer.data(), static_cast<uInt>(buffer.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_ZlibCrc32);

}  // namespace
