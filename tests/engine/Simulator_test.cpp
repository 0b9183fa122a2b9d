#include "link/SimulatedBackend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <thread>
#include <vector>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "job/JobHeader.h"
#include "tests/support/TempFolder.h"

namespace {

std::vector<std::uint8_t> Request(Command command, std::uint32_t address, std::uint32_t length,
                                  const std::vector<std::uint8_t>& data = {}) {
    HidReport report;
    report.SetRequest(command, address, length);
    std::copy_n(data.begin(), std::min(data.size(), kMaxWriteData), report.Data());
    return {report.bytes.begin(), report.bytes.end()};
}

SimulatedProgrammer::Response Send(SimulatedProgrammer& sim, Command command, std::uint32_t address,
                                   std::uint32_t length,
                                   const std::vector<std::uint8_t>& data = {}) {
    const auto request = Request(command, address, length, data);
    return sim.Handle(request.data(), request.size());
}

std::uint8_t StatusOf(SimulatedProgrammer& sim, Command command, std::uint32_t address,
                      std::uint32_t length, const std::vector<std::uint8_t>& data = {}) {
    const auto response = Send(sim, command, address, length, data);
    EXPECT_EQ(response.answer.size(), kReportSize);
    return response.answer.size() > 1 ? response.answer[1] : 0xEE;
}

std::uint32_t WordOf(SimulatedProgrammer& sim, Command command, std::uint32_t address,
                     std::uint32_t length) {
    const auto response = Send(sim, command, address, length);
    EXPECT_EQ(response.answer.size(), kReportSize);
    return response.answer.size() >= 5 ? ReadLe32(&response.answer[1]) : 0xEEEEEEEE;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// A firmware image of the right form: stack at the top of SRAM, reset handler inside it.
std::vector<std::uint8_t> FirmwareBlock0(std::uint32_t stack, std::uint32_t reset) {
    std::vector<std::uint8_t> block(32, 0x5A);
    WriteLe32(&block[0], stack);
    WriteLe32(&block[4], reset);
    return block;
}

const std::uint8_t* FirmwareArea(const SimulatedProgrammer& sim) {
    return sim.Flash() + (kFirmwareAreaAddress - kSimFlashAddress);
}

TEST(SimulatorStorage, BehavesAsFlash) {
    SimulatedProgrammer sim;
    EXPECT_EQ(std::count(sim.Storage(), sim.Storage() + kStorageSize, 0xFF), kStorageSize);

    // Writes clear bits only: 0xF0 over an erased byte, then 0x3C over it, leaves 0x30.
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0x100, 2, Bytes({0xF0, 0x0F})), 0);
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0x100, 2, Bytes({0x3C, 0xFF})), 0);
    EXPECT_EQ(sim.Storage()[0x100], 0x30);
    EXPECT_EQ(sim.Storage()[0x101], 0x0F);
    EXPECT_EQ(sim.Storage()[0x102], 0xFF);  // nothing beyond the length

    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, 0x101, 1), 0);
    EXPECT_EQ(sim.Storage()[0x100], 0x30);
    EXPECT_EQ(sim.Storage()[0x101], 0xFF);

    // The whole 55-byte payload, up to the last storage byte.
    std::vector<std::uint8_t> full(kMaxWriteData, 0x11);
    EXPECT_EQ(
        StatusOf(sim, Command::WriteStorage, kStorageSize - kMaxWriteData, kMaxWriteData, full), 0);
    EXPECT_EQ(sim.Storage()[kStorageSize - 1], 0x11);
    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, 0, kStorageSize), 0);
    EXPECT_EQ(sim.Storage()[kStorageSize - 1], 0xFF);
}

TEST(SimulatorStorage, RefusesWhatDoesNotFitAndChangesNothing) {
    SimulatedProgrammer sim;
    std::vector<std::uint8_t> zeros(kMaxWriteData, 0x00);
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0, kMaxWriteData + 1, zeros), 1);
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, kStorageSize - 2, 4, zeros), 1);
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0xFFFFFFFE, 4, zeros), 1);  // wraps
    EXPECT_EQ(sim.Storage()[0], 0xFF);
    EXPECT_EQ(sim.Storage()[kStorageSize - 1], 0xFF);

    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0, 4, zeros), 0);
    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, kStorageSize - 4, 8), 1);
    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, 0, 0xFFFFFFFF), 1);
    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, 0xFFFFFFF0, 0x20), 1);
    EXPECT_EQ(sim.Storage()[0], 0x00);  // the refused erases left the written bytes

    EXPECT_EQ(StatusOf(sim, Command::EraseStorage, kStorageSize, 0), 0);  // empty range
    EXPECT_EQ(StatusOf(sim, static_cast<Command>(0x7E), 0, 0), 1);        // unknown command
}

TEST(SimulatorStorage, ReadsAtMost64BytesAndZerosBeyondTheStorage) {
    SimulatedProgrammer sim;
    std::vector<std::uint8_t> pattern(kMaxWriteData);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(StatusOf(sim, Command::WriteStorage, 0x1000, kMaxWriteData, pattern), 0);

    auto answer = Send(sim, Command::ReadStorage, 0x1000, 200).answer;
    ASSERT_EQ(answer.size(), kReportSize);
    for (std::size_t i = 0; i < kMaxWriteData; ++i) EXPECT_EQ(answer[1 + i], i) << i;
    for (std::size_t i = kMaxWriteData; i < kMaxReadData; ++i) EXPECT_EQ(answer[1 + i], 0xFF) << i;

    // A short read answers its bytes and nothing more.
    answer = Send(sim, Command::ReadStorage, 0x1000 + 3, 2).answer;
    EXPECT_EQ(answer[1], 3);
    EXPECT_EQ(answer[2], 4);
    EXPECT_EQ(answer[3], 0);

    answer = Send(sim, Command::ReadStorage, kStorageSize - 2, 4).answer;
    EXPECT_EQ(answer[1], 0xFF);
    EXPECT_EQ(answer[2], 0xFF);
    EXPECT_EQ(answer[3], 0x00);
    EXPECT_EQ(answer[4], 0x00);
    answer = Send(sim, Command::ReadStorage, 0xFFFFFFF0, 64).answer;
    EXPECT_EQ(std::count(answer.begin(), answer.end(), 0), static_cast<long>(kReportSize));
}

TEST(SimulatorStorage, ChecksumCoversWhatIsStored) {
    SimulatedProgrammer sim;
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 8), WordCrc32(sim.Storage(), 2));
    ASSERT_EQ(StatusOf(sim, Command::WriteStorage, 4, 3, Bytes({0x12, 0x34, 0x56})), 0);
    const std::uint8_t expected[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56, 0xFF};
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 8), WordCrc32(expected, 2));
    // A length that is not a multiple of 4 covers its whole words only.
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 7), WordCrc32(expected, 1));
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, kStorageSize),
              WordCrc32(sim.Storage(), kStorageSize / 4));
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 4, kStorageSize), 0u);  // beyond the storage
}

TEST(SimulatorIdentity, VersionWordsOfBothKinds) {
    SimulatedProgrammer newer({.programmerVersion = 0x1002, .firmwareVersion = 0x0220});
    EXPECT_EQ(WordOf(newer, Command::QueryVersion, 0, 0), 0x1002u);
    EXPECT_EQ(WordOf(newer, Command::ReadProgrammerWord, kFirmwareVersionAddress, 4), 0x0220u);
    EXPECT_EQ(newer.FirmwareWord(), 0x0220u);
    EXPECT_EQ(WordOf(newer, Command::ReadProgrammerWord, kFirmwareAreaAddress, 4),
              kSimSramAddress + kSimSramSize);
    // Outside the programmer's flash, and straddling its end, memory reads as zeros.
    EXPECT_EQ(WordOf(newer, Command::ReadProgrammerWord, 0x20000000, 4), 0u);
    newer.Flash()[kSimFlashSize - 2] = 0xAB;
    newer.Flash()[kSimFlashSize - 1] = 0xCD;
    EXPECT_EQ(WordOf(newer, Command::ReadProgrammerWord, kSimFlashAddress + kSimFlashSize - 2, 4),
              0xCDABu);

    SimulatedProgrammer older({.programmerVersion = 0x0102});
    EXPECT_FALSE(older.IsNewerKind());
    EXPECT_EQ(WordOf(older, Command::QueryVersion, 0, 0), 0x0102u);
    EXPECT_EQ(WordOf(older, Command::ReadProgrammerWord, kFirmwareVersionAddress, 4), 0u);
}

TEST(SimulatorFirmware, UpdateWritesTheErasedRangeAndChecksumsIt) {
    SimulatedProgrammer sim({.programmerVersion = 0x1002, .firmwareVersion = 0x0210});
    constexpr std::uint32_t n = 100;  // three full blocks and one of 4 bytes
    ASSERT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress, n), 0);
    EXPECT_EQ(FirmwareArea(sim)[0], 0xFF);
    EXPECT_EQ(sim.FirmwareWord(), 0x0210u);  // beyond the erased range

    std::vector<std::uint8_t> image(128);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
    const auto first = FirmwareBlock0(kSimSramAddress + kSimSramSize, kFirmwareAreaAddress + n - 3);
    std::copy(first.begin(), first.end(), image.begin());
    for (std::uint32_t offset = 0; offset < n; offset += 32) {
        const std::vector<std::uint8_t> block(image.begin() + offset, image.begin() + offset + 32);
        ASSERT_EQ(StatusOf(sim, Command::WriteFirmware, kFirmwareAreaAddress + offset, 32, block),
                  0)
            << offset;
    }
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + n, FirmwareArea(sim)));
    // The last block's bytes past the erased range were not written.
    EXPECT_EQ(FirmwareArea(sim)[n], 0xFF);
    EXPECT_EQ(WordOf(sim, Command::FirmwareCrc, kFirmwareAreaAddress, n),
              WordCrc32(image.data(), n / 4));

    // A block wholly past the erased range has nothing to write.
    const std::vector<std::uint8_t> zeros(32, 0);
    EXPECT_EQ(StatusOf(sim, Command::WriteFirmware, kFirmwareAreaAddress + 128, 32, zeros), 1);
    EXPECT_EQ(StatusOf(sim, Command::WriteFirmware, kFirmwareAreaAddress - 32, 32, zeros), 1);
}

TEST(SimulatorFirmware, RefusesImagesOfTheWrongForm) {
    constexpr std::uint32_t n = 0x1000;
    const std::uint32_t top = kSimSramAddress + kSimSramSize;
    struct Case {
        const char* what;
        std::uint32_t stack;
        std::uint32_t reset;
        bool accepted;
    };
    const Case cases[] = {
        {"stack at the top of SRAM", top, kFirmwareAreaAddress + 0x101, true},
        {"stack at the bottom of SRAM", kSimSramAddress, kFirmwareAreaAddress + 0x101, true},
        {"stack above SRAM", top + 4, kFirmwareAreaAddress + 0x101, false},
        {"stack below SRAM", kSimSramAddress - 4, kFirmwareAreaAddress + 0x101, false},
        {"reset vector without the Thumb bit", top, kFirmwareAreaAddress + 0x100, false},
        {"reset vector at the last byte", top, kFirmwareAreaAddress + n - 1, true},
        {"reset vector past the image", top, kFirmwareAreaAddress + n + 1, false},
        {"reset vector below the area", top, kFirmwareAreaAddress - 0xFF, false},
        {"erased flash", 0xFFFFFFFF, 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        SimulatedProgrammer sim;
        ASSERT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress, n), 0);
        const auto block = FirmwareBlock0(c.stack, c.reset);
        EXPECT_EQ(StatusOf(sim, Command::WriteFirmware, kFirmwareAreaAddress, 32, block) == 0,
                  c.accepted)
            << c.what;
        // A refused first block leaves the area erased.
        EXPECT_EQ(FirmwareArea(sim)[0] == 0xFF, !c.accepted) << c.what;
    }
}

TEST(SimulatorFirmware, RefusesBadErasesAndTheOlderKind) {
    SimulatedProgrammer sim;
    const std::uint32_t areaSize = kSimFlashAddress + kSimFlashSize - kFirmwareAreaAddress;
    EXPECT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress, 25302), 1);
    EXPECT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress, areaSize + 4), 1);
    EXPECT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress + 4, 32), 1);
    EXPECT_EQ(sim.FirmwareWord(), 0x0210u);  // nothing erased
    // Without an erase, no block may be written.
    EXPECT_EQ(StatusOf(sim, Command::WriteFirmware, kFirmwareAreaAddress, 32,
                       FirmwareBlock0(kSimSramAddress + kSimSramSize, kFirmwareAreaAddress + 1)),
              1);
    EXPECT_EQ(StatusOf(sim, Command::EraseFirmware, kFirmwareAreaAddress, areaSize), 0);
    EXPECT_EQ(sim.FirmwareWord(), 0xFFFFFFFFu);

    SimulatedProgrammer older({.programmerVersion = 0x0102});
    EXPECT_EQ(StatusOf(older, Command::EraseFirmware, kFirmwareAreaAddress, 32), 1);
    EXPECT_EQ(StatusOf(older, Command::WriteFirmware, kFirmwareAreaAddress + 32, 32,
                       std::vector<std::uint8_t>(32, 0)),
              1);
    EXPECT_EQ(WordOf(older, Command::FirmwareCrc, kFirmwareAreaAddress, 32), 0u);
}

TEST(SimulatorFaults, EachKindAtItsOccurrence) {
    SimulatedProgrammer sim;
    sim.AddFault({Command::WriteStorage, FaultKind::Status, 2});
    sim.AddFault({Command::StorageCrc, FaultKind::Crc, 1});
    sim.AddFault({Command::ReadStorage, FaultKind::Write, 1});
    sim.AddFault({Command::ReadStorage, FaultKind::Read, 2});
    sim.AddFault({Command::ReadStorage, FaultKind::Hang, 3});
    sim.AddFault({Command::QueryVersion, FaultKind::Unplug, 1});

    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 0, 1, Bytes({0x00})), 0);
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 1, 1, Bytes({0x00})), 1);
    EXPECT_EQ(sim.Storage()[1], 0xFF);  // the refused write did nothing
    EXPECT_EQ(StatusOf(sim, Command::WriteStorage, 2, 1, Bytes({0x00})), 0);

    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 4), WordCrc32(sim.Storage(), 1) + 1);
    EXPECT_EQ(WordOf(sim, Command::StorageCrc, 0, 4), WordCrc32(sim.Storage(), 1));

    auto response = Send(sim, Command::ReadStorage, 0, 4);
    EXPECT_TRUE(response.writeFails);
    EXPECT_FALSE(response.unplug);
    response = Send(sim, Command::ReadStorage, 0, 4);
    EXPECT_FALSE(response.writeFails);
    EXPECT_TRUE(response.readFails);
    response = Send(sim, Command::ReadStorage, 0, 4);
    EXPECT_TRUE(response.hang);
    EXPECT_TRUE(response.answer.empty());
    response = Send(sim, Command::ReadStorage, 0, 4);
    EXPECT_FALSE(response.writeFails || response.readFails || response.hang);

    response = Send(sim, Command::QueryVersion, 0, 0);
    EXPECT_TRUE(response.unplug);
    EXPECT_TRUE(response.writeFails);

    // Every request is logged whole, including those whose write failed.
    ASSERT_EQ(sim.Requests().size(), 10u);
    EXPECT_EQ(sim.Requests()[5], Request(Command::ReadStorage, 0, 4));
    sim.ClearRequests();
    EXPECT_TRUE(sim.Requests().empty());
}

TEST(SimulatorFaults, ParsesTheirTextForm) {
    std::string error;
    auto fault = ParseFault("WriteStorage:status@100", error);
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->command, Command::WriteStorage);
    EXPECT_EQ(fault->kind, FaultKind::Status);
    EXPECT_EQ(fault->occurrence, 100);

    fault = ParseFault("FirmwareCrc:crc", error);
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->kind, FaultKind::Crc);
    EXPECT_EQ(fault->occurrence, 1);
    for (const char* text : {"QueryVersion:write", "ReadStorage:read", "EraseStorage:hang",
                             "ReadProgrammerWord:unplug@2"}) {
        EXPECT_TRUE(ParseFault(text, error)) << text << ": " << error;
    }

    struct Bad {
        const char* text;
        const char* mentions;
    };
    for (const Bad& bad :
         {Bad{"WriteStorage", "COMMAND:KIND"}, Bad{"Flash:status", "'Flash'"},
          Bad{"ReadStorage:slow", "'slow'"}, Bad{"ReadStorage:read@0", "'@'"},
          Bad{"ReadStorage:read@", "'@'"}, Bad{"ReadStorage:read@2x", "'@'"},
          Bad{"ReadStorage:read@-1", "'@'"}, Bad{"readstorage:read", "unknown command"}}) {
        error.clear();
        EXPECT_FALSE(ParseFault(bad.text, error)) << bad.text;
        EXPECT_NE(error.find(bad.mentions), std::string::npos) << bad.text << ": " << error;
        EXPECT_NE(error.find(bad.text), std::string::npos) << error;
    }
}

TEST(SimulatorReports, ShorterOutputReportsCarryLessData) {
    SimulatorConfig config;
    config.outputReportLength = 33;
    SimulatedProgrammer sim(config);
    auto request = Request(Command::WriteStorage, 0, 23, std::vector<std::uint8_t>(23, 0));
    EXPECT_EQ(sim.Handle(request.data(), 33).answer[1], 0);
    request = Request(Command::WriteStorage, 0x40, 24, std::vector<std::uint8_t>(24, 0));
    EXPECT_EQ(sim.Handle(request.data(), 33).answer[1], 1);  // the 24th byte was never sent
    EXPECT_EQ(sim.Storage()[0x40], 0xFF);
}

class SimulatorStateFile : public ::testing::Test {
protected:
    const TempFolder folder_{"marro-sim"};
    const std::filesystem::path dir_ = folder_.Path();
};

TEST_F(SimulatorStateFile, RoundTripKeepsMemoryAndVersion) {
    const auto file = dir_ / "sim.state";
    {
        SimulatedProgrammer sim({.programmerVersion = 0x0305});
        ASSERT_EQ(StatusOf(sim, Command::WriteStorage, kJobAreaAddress, 3, Bytes({0xAA, 4, 2})), 0);
        ASSERT_EQ(StatusOf(sim, Command::WriteStorage, kStorageSize - 1, 1, Bytes({0x42})), 0);
        sim.Flash()[kSimFlashSize - 1] = 0x24;
        std::string error;
        ASSERT_TRUE(sim.SaveState(file, error)) << error;
    }
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));

    auto loaded = std::make_unique<SimulatedProgrammer>();  // a newer kind until loaded
    std::string error;
    ASSERT_TRUE(loaded->LoadState(file, error)) << error;
    EXPECT_EQ(loaded->ProgrammerVersion(), 0x0305u);
    EXPECT_EQ(loaded->Storage()[kJobAreaAddress], 0xAA);
    EXPECT_EQ(loaded->Storage()[kJobAreaAddress + 2], 2);
    EXPECT_EQ(loaded->Storage()[kStorageSize - 1], 0x42);
    EXPECT_EQ(loaded->Flash()[kSimFlashSize - 1], 0x24);
    EXPECT_EQ(loaded->FirmwareWord(), 0x0210u);

    // Saving again over an existing file replaces it. The state is one programmer: held
    // by the one that loaded it, its saves included, until that one goes.
    ASSERT_EQ(StatusOf(*loaded, Command::EraseStorage, kJobAreaAddress, kJobAreaSize), 0);
    ASSERT_TRUE(loaded->SaveState(file, error)) << error;
    bool inUse = false;
    SimulatedProgrammer again;
    EXPECT_FALSE(again.LoadState(file, error, &inUse));
    EXPECT_TRUE(inUse) << error;
    loaded.reset();
    ASSERT_TRUE(again.LoadState(file, error, &inUse)) << error;
    EXPECT_EQ(again.Storage()[kJobAreaAddress], 0xFF);
}

TEST_F(SimulatorStateFile, MissingFileIsAFirstRun) {
    SimulatedProgrammer sim;
    std::string error;
    EXPECT_TRUE(sim.LoadState(dir_ / "none.state", error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(sim.Storage()[0], 0xFF);

    EXPECT_FALSE(sim.SaveState(dir_ / "no-such-dir" / "sim.state", error));
    EXPECT_NE(error.find("no-such-dir"), std::string::npos) << error;
}

TEST_F(SimulatorStateFile, MalformedFilesAreRefusedAndChangeNothing) {
    const auto good = dir_ / "good.state";
    {
        SimulatedProgrammer source({.programmerVersion = 0x0102});
        std::string error;
        ASSERT_TRUE(source.SaveState(good, error)) << error;
    }
    std::vector<char> bytes(std::filesystem::file_size(good));
    std::ifstream(good, std::ios::binary)
        .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    struct Case {
        const char* what;
        std::vector<char> content;
        const char* mentions;
    };
    auto with = [&](std::size_t at, char value) {
        auto copy = bytes;
        copy[at] = value;
        return copy;
    };
    std::vector<Case> cases = {
        {"empty", {}, "not a simulator state file"},
        {"wrong magic", with(0, 'X'), "not a simulator state file"},
        {"later format", with(4, 2), "format 2"},
        {"other storage size", with(18, 0x10), "sizes"},
        {"truncated", std::vector<char>(bytes.begin(), bytes.end() - 1), "expected"},
        {"trailing bytes", bytes, "expected"},
        {"firmware word differs from flash", with(12, 0x55), "firmware word"},
    };
    cases[5].content.push_back(0);

    for (const Case& c : cases) {
        const auto file = dir_ / "bad.state";
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(c.content.data(), static_cast<std::streamsize>(c.content.size()));
        SimulatedProgrammer sim;
        sim.Storage()[7] = 0x07;
        std::string error;
        EXPECT_FALSE(sim.LoadState(file, error)) << c.what;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.what << ": " << error;
        EXPECT_NE(error.find("bad.state"), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(sim.Storage()[7], 0x07) << c.what;
        EXPECT_EQ(sim.ProgrammerVersion(), 0x1002u) << c.what;
    }
}

// The simulated transport: what a HidDevice from SimulatedBackend does.

bool WriteRequest(HidDevice& device, Command command, std::uint32_t address, std::uint32_t length,
                  const std::vector<std::uint8_t>& data = {}) {
    const auto request = Request(command, address, length, data);
    return device.Write(request.data(), request.size());
}

TEST(SimulatedBackend, EnumeratesInOrderAndCountsHandles) {
    SimulatedBackend backend;
    backend.AddOtherDevice("sim:keyboard", 0x046D, 0xC31C);
    SimulatedProgrammer& programmer = backend.AddProgrammer();
    backend.AddOtherDevice("sim:inactive", 0x0484, 0x1001, false);
    SimulatedProgrammer& second = backend.AddProgrammer();  // same default path: renamed
    EXPECT_NE(second.config().path, programmer.config().path);

    const auto present = backend.Enumerate();
    ASSERT_EQ(present.size(), 4u);
    EXPECT_EQ(present[0].path, "sim:keyboard");
    EXPECT_FALSE(present[0].idsKnown);
    EXPECT_EQ(present[1].path, programmer.config().path);
    EXPECT_TRUE(present[1].idsKnown);
    EXPECT_EQ(present[1].vendorId, kProgrammerVendorId);
    EXPECT_FALSE(present[2].active);
    EXPECT_EQ(present[3].path, second.config().path);

    HidOpenError error;
    {
        auto a = backend.Open("sim:keyboard", error);
        auto b = backend.Open("sim:keyboard", error);
        ASSERT_TRUE(a && b) << error.reason;
        std::uint16_t vendor = 0, product = 0;
        ASSERT_TRUE(a->Attributes(vendor, product));
        EXPECT_EQ(vendor, 0x046D);
        EXPECT_EQ(product, 0xC31C);
        EXPECT_EQ(backend.OpenHandles("sim:keyboard"), 2);
    }
    EXPECT_EQ(backend.OpenHandles("sim:keyboard"), 0);
    EXPECT_EQ(backend.OpenCount("sim:keyboard"), 2);

    EXPECT_EQ(backend.Open("sim:nothing", error), nullptr);
    EXPECT_EQ(error.reason, "open('sim:nothing'): No such device");
    EXPECT_FALSE(error.accessDenied);
    backend.DenyOpen("sim:keyboard", "Permission denied");
    EXPECT_EQ(backend.Open("sim:keyboard", error), nullptr);
    EXPECT_EQ(error.reason, "open('sim:keyboard'): Permission denied");
    EXPECT_TRUE(error.accessDenied);
    EXPECT_EQ(backend.OpenCount("sim:keyboard"), 2);

    backend.Unplug(programmer.config().path);
    EXPECT_EQ(backend.Enumerate().size(), 3u);
    EXPECT_EQ(backend.Open(programmer.config().path, error), nullptr);
}

TEST(SimulatedBackend, HandlesDieWithTheirPlugging) {
    SimulatedBackend backend;
    std::vector<DeviceEvent> events;
    backend.SetEventSink([&](const DeviceEvent& e) { events.push_back(e); });
    SimulatedProgrammer& programmer = backend.AddProgrammer({.path = "sim:p"});
    HidOpenError error;
    auto device = backend.Open("sim:p", error);
    ASSERT_TRUE(device) << error.reason;

    HidReport report;
    ASSERT_TRUE(WriteRequest(*device, Command::QueryVersion, 0, 0));
    ASSERT_EQ(device->Read(report.bytes.data(), kReportSize, 1000), HidReadStatus::Ok);
    EXPECT_EQ(report.AnswerWord(), programmer.ProgrammerVersion());
    EXPECT_TRUE(device->LastError().empty());

    backend.Unplug("sim:p");
    backend.Unplug("sim:p");  // already gone: no second event
    backend.Plug("sim:p");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, DeviceEvent::Kind::Arrival);  // added while the sink was set
    EXPECT_EQ(events[1].kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(events[1].path, "sim:p");
    EXPECT_EQ(events[2].kind, DeviceEvent::Kind::Arrival);

    // The old handle stays dead although the device is back; a new one works.
    EXPECT_FALSE(WriteRequest(*device, Command::QueryVersion, 0, 0));
    EXPECT_EQ(device->LastError(), "device removed");
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, 1000), HidReadStatus::Failed);
    std::uint16_t vendor = 0, product = 0;
    EXPECT_FALSE(device->Attributes(vendor, product));
    EXPECT_EQ(programmer.Requests().size(), 1u);  // the dead handle reached nothing

    auto fresh = backend.Open("sim:p", error);
    ASSERT_TRUE(fresh) << error.reason;
    EXPECT_TRUE(WriteRequest(*fresh, Command::QueryVersion, 0, 0));
    EXPECT_EQ(fresh->Read(report.bytes.data(), kReportSize, 1000), HidReadStatus::Ok);
}

TEST(SimulatedBackend, FaultsReachTheTransport) {
    SimulatedBackend backend;
    std::vector<DeviceEvent> events;
    SimulatedProgrammer& programmer = backend.AddProgrammer({.path = "sim:p"});
    backend.SetEventSink([&](const DeviceEvent& e) { events.push_back(e); });
    programmer.AddFault({Command::WriteStorage, FaultKind::Read, 1});
    programmer.AddFault({Command::ReadStorage, FaultKind::Write, 1});
    programmer.AddFault({Command::ReadStorage, FaultKind::Hang, 2});
    programmer.AddFault({Command::StorageCrc, FaultKind::Unplug, 1});
    HidOpenError error;
    auto device = backend.Open("sim:p", error);
    ASSERT_TRUE(device) << error.reason;
    HidReport report;

    // A lost answer: the write was carried out all the same.
    ASSERT_TRUE(WriteRequest(*device, Command::WriteStorage, 0, 1, Bytes({0x5A})));
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, 1000), HidReadStatus::Failed);
    EXPECT_FALSE(device->LastError().empty());
    EXPECT_EQ(programmer.Storage()[0], 0x5A);

    EXPECT_FALSE(WriteRequest(*device, Command::ReadStorage, 0, 4));
    EXPECT_FALSE(device->LastError().empty());

    ASSERT_TRUE(WriteRequest(*device, Command::ReadStorage, 0, 4));
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, 20), HidReadStatus::TimedOut);
    EXPECT_EQ(device->LastError(), "no answer within 20 ms");
    // The hung answer never comes later either; the next request is answered again.
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, 20), HidReadStatus::TimedOut);
    ASSERT_TRUE(WriteRequest(*device, Command::ReadStorage, 0, 4));
    ASSERT_EQ(device->Read(report.bytes.data(), kReportSize, 1000), HidReadStatus::Ok);
    EXPECT_EQ(report.bytes[1], 0x5A);

    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(WriteRequest(*device, Command::StorageCrc, 0, 4));
    EXPECT_EQ(device->LastError(), "device removed");
    EXPECT_FALSE(backend.IsPlugged("sim:p"));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, DeviceEvent::Kind::Removal);
    EXPECT_EQ(events[0].path, "sim:p");
    EXPECT_EQ(backend.RequestCount("sim:p"), 5u);
}

TEST(SimulatedBackend, UnplugEndsAReadThatWaitsForAnAnswer) {
    SimulatedBackend backend;
    SimulatedProgrammer& programmer = backend.AddProgrammer({.path = "sim:p"});
    programmer.AddFault({Command::QueryVersion, FaultKind::Hang, 1});
    HidOpenError error;
    auto device = backend.Open("sim:p", error);
    ASSERT_TRUE(device) << error.reason;
    ASSERT_TRUE(WriteRequest(*device, Command::QueryVersion, 0, 0));

    // Waiting without limit: only the unplug can end this read.
    std::thread owner([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        backend.Unplug("sim:p");
    });
    HidReport report;
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, -1), HidReadStatus::Failed);
    EXPECT_EQ(device->LastError(), "device removed");
    owner.join();
}

TEST(SimulatedBackend, OtherDevicesNeverAnswer) {
    SimulatedBackend backend;
    backend.AddOtherDevice("sim:mouse", 0x1234, 0x5678);
    HidOpenError error;
    auto device = backend.Open("sim:mouse", error);
    ASSERT_TRUE(device) << error.reason;
    EXPECT_TRUE(WriteRequest(*device, Command::QueryVersion, 0, 0));
    HidReport report;
    EXPECT_EQ(device->Read(report.bytes.data(), kReportSize, 10), HidReadStatus::TimedOut);
}

}  // namespace
