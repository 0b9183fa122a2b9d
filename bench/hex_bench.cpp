// The HEX and S-record readers over the text of a 1 MiB image, as toolchains write it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/HexReader.h"
#include "image/HexWriter.h"
#include "image/SrecReader.h"

namespace {

// A random image of `size` bytes at 0x08000000 in records of `recordSize` bytes, the
// lowest first or, as a merge of pieces may write them, the highest first.
std::string HexTextOfImage(std::size_t size, std::size_t recordSize, const char* lineEnd,
                           bool descending = false) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> image(size);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    std::string text;
    const std::size_t records = (size + recordSize - 1) / recordSize;
    std::uint32_t base = 0;  // upper half of the addresses, as the last address record set it
    for (std::size_t r = 0; r < records; ++r) {
        const std::size_t offset = (descending ? records - 1 - r : r) * recordSize;
        const std::uint32_t address = 0x08000000u + static_cast<std::uint32_t>(offset);
        if (r == 0 || (address >> 16) != base) {
            base = address >> 16;
            const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(base >> 8),
                                           static_cast<std::uint8_t>(base)};
            AppendHexRecord(text, 4, 0, bytes, 2, lineEnd);
        }
        AppendHexRecord(text, 0, static_cast<std::uint16_t>(address), &image[offset],
                        std::min(recordSize, size - offset), lineEnd);
    }
    AppendHexRecord(text, 1, 0, nullptr, 0, lineEnd);
    return text;
}

// Times `Reader` over `text`, which holds a whole image of kImageCapacity bytes.
template <HexResult (*Reader)(const std::uint8_t*, std::size_t, FirmwareImage&)>
void ReadText(benchmark::State& state, const std::string& text) {
    std::vector<std::uint8_t> storage(kImageStorageSize);
    FirmwareImage image;
    image.imageBuffer = storage.data();
    for (auto _ : state) {
        const HexResult result =
            Reader(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), image);
        if (result != HexOk || image.imageLength != kImageCapacity) {
            state.SkipWithError("the generated text did not load");
            break;
        }
        benchmark::DoNotOptimize(storage.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());
}

template <HexResult (*Reader)(const std::uint8_t*, std::size_t, FirmwareImage&)>
void ReadImageText(benchmark::State& state, std::size_t recordSize, const char* lineEnd,
                   bool descending = false) {
    ReadText<Reader>(state, HexTextOfImage(kImageCapacity, recordSize, lineEnd, descending));
}

HexResult FastReader(const std::uint8_t* text, std::size_t size, FirmwareImage& image) {
    return ReadHexText(text, size, image);
}

HexResult SrecReader(const std::uint8_t* text, std::size_t size, FirmwareImage& image) {
    HexDiagnosis diagnosis;
    return ReadSrecText(text, size, image, diagnosis);
}

// The same random image as S3 records of 16 bytes, as SrecTextOf writes them.
void BM_ReadSrecText_16ByteS3Records(benchmark::State& state) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(kImageCapacity);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    ReadText<SrecReader>(state, SrecTextOf(bytes.data(), bytes.size(), 0x08000000));
}

void BM_ReadHexText_16ByteRecords(benchmark::State& state) {
    ReadImageText<FastReader>(state, 16, "\n");
}
void BM_ReadHexText_32ByteRecordsCrLf(benchmark::State& state) {
    ReadImageText<FastReader>(state, 32, "\r\n");
}
void BM_ReadHexText_16ByteRecordsDescending(benchmark::State& state) {
    ReadImageText<FastReader>(state, 16, "\n", true);
}
void BM_ReadHexTextExact_16ByteRecords(benchmark::State& state) {
    ReadImageText<ReadHexTextExact>(state, 16, "\n");
}

}  // namespace

BENCHMARK(BM_ReadHexText_16ByteRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHexText_32ByteRecordsCrLf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHexText_16ByteRecordsDescending)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHexTextExact_16ByteRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSrecText_16ByteS3Records)->Unit(benchmark::kMillisecond);
