#include "remote/RemoteJobFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "common/FileReading.h"
#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "job/JobDescription.h"
#include "job/UploadJob.h"
#include "link/SimulatedBackend.h"
#include "remote/GenerateRemoteJobFile.h"
#include "remote/RemoteScramble.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// ---- the tables, from their definitions ----------------------------------------------

std::uint8_t GfMultiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b != 0) {
        if (b & 1) product ^= a;
        const bool carry = a & 0x80;
        a = static_cast<std::uint8_t>(a << 1);
        if (carry) a ^= 0x1B;  // x^8 = x^4 + x^3 + x + 1
        b >>= 1;
    }
    return product;
}

std::uint8_t GfInverse(std::uint8_t a) {
    if (a == 0) return 0;
    for (int x = 1; x < 256; ++x) {
        if (GfMultiply(a, static_cast<std::uint8_t>(x)) == 1) return static_cast<std::uint8_t>(x);
    }
    return 0;
}

std::uint8_t RotateLeft(std::uint8_t v, int n) {
    return static_cast<std::uint8_t>((v << n) | (v >> (8 - n)));
}

std::array<std::uint8_t, 256> ComputedSbox() {
    std::array<std::uint8_t, 256> box{};
    for (int a = 0; a < 256; ++a) {
        const std::uint8_t b = GfInverse(static_cast<std::uint8_t>(a));
        box[a] = static_cast<std::uint8_t>(b ^ RotateLeft(b, 1) ^ RotateLeft(b, 2) ^
                                           RotateLeft(b, 3) ^ RotateLeft(b, 4) ^ 0x63);
    }
    return box;
}

TEST(RemoteScrambleTables, AreTheFirstHalvesOfTheComputedSboxes) {
    const auto sbox = ComputedSbox();
    std::array<std::uint8_t, 256> inverse{};
    for (int a = 0; a < 256; ++a) inverse[sbox[a]] = static_cast<std::uint8_t>(a);
    ASSERT_EQ(sbox[0x53], 0xED);  // the worked example of the standard
    for (std::size_t j = 0; j < kScrambleTableSize; ++j) {
        EXPECT_EQ(ScrambleSbox[j], sbox[j]) << "entry " << j;
        EXPECT_EQ(ScrambleInvSbox[j], inverse[j]) << "entry " << j;
    }
}

TEST(RemoteScrambleTables, AddendIsHalfOfItsRecordedPermutation) {
    std::set<std::uint8_t> distinct(ScrambleAddend.begin(), ScrambleAddend.end());
    EXPECT_EQ(distinct.size(), kScrambleTableSize);

    // Files already written depend on the values: re-derive them from their recorded
    // generator so an edit of the table shows up here.
    std::array<std::uint8_t, 256> permutation{};
    for (int i = 0; i < 256; ++i) permutation[i] = static_cast<std::uint8_t>(i);
    std::uint32_t x = 0x4D41524F;
    for (int i = 255; i > 0; --i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        std::swap(permutation[i], permutation[x % static_cast<std::uint32_t>(i + 1)]);
    }
    EXPECT_TRUE(std::equal(ScrambleAddend.begin(), ScrambleAddend.end(), permutation.begin()));
}

TEST(RemoteScramble, DescrambleUndoesScrambleAcrossTableWraps) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> plain(300);
    for (auto& b : plain) b = static_cast<std::uint8_t>(random());
    for (std::uint8_t key : {0x00, 0x5A, 0xFF}) {
        plain[0] = key;
        std::vector<std::uint8_t> bytes = plain;
        ScrambleRemoteRecord(bytes.data(), bytes.size());
        EXPECT_NE(bytes, plain);
        std::vector<std::uint8_t> copy(bytes.size());
        DescrambleRemoteRecord(bytes.data(), copy.data(), bytes.size());
        EXPECT_EQ(copy, plain);
        DescrambleRemoteRecord(bytes.data(), bytes.size());
        EXPECT_EQ(bytes, plain);
    }
}

TEST(RemoteScramble, FollowsTheByteTransform) {
    // Byte 5 of a record with key 0x34: XOR with the key, then the tables at index 5;
    // byte 130 uses index 2; byte 1 is not XORed.
    std::vector<std::uint8_t> record(131, 0x00);
    record[0] = 0x34;
    record[1] = 0x77;
    record[5] = 0x10;
    record[130] = 0xC3;
    std::vector<std::uint8_t> scrambled = record;
    ScrambleRemoteRecord(scrambled.data(), scrambled.size());
    auto transform = [](std::uint8_t b, std::size_t j) {
        return static_cast<std::uint8_t>(((ScrambleSbox[j] ^ b) + ScrambleAddend[j]) ^
                                         ScrambleInvSbox[j]);
    };
    EXPECT_EQ(scrambled[1], transform(0x77, 1));
    EXPECT_EQ(scrambled[5], transform(0x10 ^ 0x34, 5));
    EXPECT_EQ(scrambled[130], transform(0xC3 ^ 0x34, 2));
}

// ---- generation and loading -----------------------------------------------------------

const LocalTimeFields kClock{2026, 12, 7, 10, 21, 34};

// A loaded image of `length` bytes: byte i is i * 7 + 3.
void LoadImage(RecordingPort& port, std::uint32_t length, std::uint32_t start = 0x08000000,
               const std::string& name = "firmware.hex") {
    FirmwareImage& staging = port.Workspace().Staging();
    for (std::uint32_t i = 0; i < length; ++i) {
        staging.imageBuffer[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    staging.imageLength = length;
    staging.imageStart = start;
    port.Workspace().CommitStaging(fs::path("/somewhere") / name, name);
}

// A remote job file made by hand from a plain record, with a correct checksum.
std::vector<std::uint8_t> FileOfRecord(std::vector<std::uint8_t> record) {
    ScrambleRemoteRecord(record.data(), record.size());
    const std::uint32_t crc = WordCrc32(record.data(), record.size() / 4);
    record.resize(record.size() + 4);
    WriteLe32(&record[record.size() - 4], crc);
    return record;
}

std::vector<std::pair<std::string, std::string>> Rows(const JobDescription& description) {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& row : description) rows.emplace_back(row.label, row.value);
    return rows;
}

class RemoteJobFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_.outputDirectories = {dir_};
        port_.onSettings = [this] { imageInUseWhileAsked_ = port_.Workspace().InUse(); };
    }

    WorkerOutcome Generate() {
        return GenerateRemoteJobFile(port_, [this] { return clock_; });
    }

    const TempFolder folder_{"marro-remote"};
    const fs::path dir_ = folder_.Path();
    RecordingPort port_;
    bool imageInUseWhileAsked_ = false;
    LocalTimeFields clock_ = kClock;
};

TEST_F(RemoteJobFileTest, PadsTheImageAndRoundTripsTheRecord) {
    LoadImage(port_, 1001, 0x08004000);
    port_.settings.seriesIndex = 4;
    port_.settings.readProtect = true;
    port_.settings.countLimit = true;
    port_.settings.countLimitText = "  -12abc";
    port_.settings.shift.shiftEnabled = 1;
    port_.settings.shift.shiftStart = 100;
    port_.settings.shift.shiftStep = -3;

    const WorkerOutcome outcome = Generate();
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_TRUE(imageInUseWhileAsked_);
    EXPECT_FALSE(port_.Workspace().InUse());

    // The padding stays with the loaded image.
    EXPECT_EQ(port_.Workspace().image.imageLength, 1004u);
    for (int i = 1001; i < 1004; ++i) EXPECT_EQ(port_.Workspace().image.imageBuffer[i], 0xFF);

    const fs::path file = dir_ / "firmware.qvz";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 1072u);
    ASSERT_EQ(port_.messages.size(), 1u);
    EXPECT_EQ(port_.icons[0], MessageIcon::Exclamation);
    EXPECT_EQ(port_.messages[0], "远程文件生成成功 " + Utf8OfPath(file));

    // Loading it leaves the plain record in the staging image, and only there.
    std::vector<std::uint8_t> before(port_.Workspace().image.imageBuffer,
                                     port_.Workspace().image.imageBuffer + 1004);
    port_.Workspace().image.imageStart = 0x12340000;
    std::string detail;
    ASSERT_EQ(LoadRemoteJobFile(file, port_.Workspace(), detail), RemoteLoadResult::Loaded)
        << detail;
    const FirmwareImage& staging = port_.Workspace().Staging();
    EXPECT_EQ(staging.imageLength, 1068u);
    EXPECT_EQ(staging.imageStart, 0x12340000u);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), port_.Workspace().image.imageBuffer));

    const std::uint8_t* record = staging.imageBuffer;
    EXPECT_EQ(ReadLe32(record), 0x1A2B3C4Du);
    const auto expected = BuildJobHeader(port_.settings, 0x08004000, 1004, 0, kClock).Encode();
    EXPECT_TRUE(std::equal(expected.begin() + 2, expected.end(), record + 4));
    EXPECT_EQ(record[4], 4);     // series
    EXPECT_EQ(record[5], 0x13);  // read protect, verify, count limit
    EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(record + 6)), -12);
    EXPECT_EQ(ReadLe32(record + 14), 0x08004000u);
    EXPECT_EQ(ReadLe32(record + 18), 1004u);
    EXPECT_EQ(record[22], 26);
    EXPECT_EQ(record[27], 34);
    EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(record + 38)), 100);  // shiftValue = start
    for (int i = 47; i < 64; ++i) EXPECT_EQ(record[i], 0) << "reserved byte " << i;
    EXPECT_TRUE(std::equal(before.begin(), before.end(), record + 64));
}

TEST_F(RemoteJobFileTest, LoadedFileUploadsTheJobItCarries) {
    LoadImage(port_, 1001, 0x08004000);
    port_.settings.seriesIndex = 2;
    port_.settings.fullErase = true;
    ASSERT_TRUE(Generate().ok());
    const std::vector<std::uint8_t> image(port_.Workspace().image.imageBuffer,
                                          port_.Workspace().image.imageBuffer + 1004);

    // Loaded into a fresh tool, as on the PC next to the programmer.
    ImageWorkspace workspace;
    std::string detail;
    const fs::path file = dir_ / "firmware.qvz";
    ASSERT_EQ(LoadRemoteJobFile(file, workspace, detail), RemoteLoadResult::Loaded) << detail;
    workspace.CommitStaging(file, "firmware.qvz");

    SimulatedBackend backend;
    SimulatedProgrammer& programmer = backend.AddProgrammer();
    ProgrammerLink link(backend);
    ASSERT_TRUE(link.Open());
    RecordingPort upload(link, workspace);
    upload.settings.seriesIndex = 7;  // a remote upload must not read these
    upload.settings.lockChip = true;
    const WorkerOutcome outcome = UploadRemoteJob(upload);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;

    const std::uint8_t* storage = programmer.Storage();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), storage));
    const std::uint8_t* header = storage + kJobAreaAddress;
    const auto expected = BuildJobHeader(port_.settings, 0x08004000, 1004, 0, kClock).Encode();
    EXPECT_EQ(header[0], 0xAA);
    EXPECT_EQ(header[1], 13);  // "firmware.qvz" and its NUL
    EXPECT_TRUE(std::equal(expected.begin() + 2, expected.end(), header + 2));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(storage + kJobNameAddress)),
              "firmware.qvz");
}

TEST_F(RemoteJobFileTest, AlignedImageIsUnchangedAndTheFileIs68BytesLonger) {
    LoadImage(port_, 2048);
    ASSERT_TRUE(Generate().ok());
    EXPECT_EQ(port_.Workspace().image.imageLength, 2048u);
    EXPECT_EQ(fs::file_size(dir_ / "firmware.qvz"), 2048u + 68u);
}

TEST_F(RemoteJobFileTest, ShowsTheDescriptionOfTheRecordReadBack) {
    LoadImage(port_, 64, 0x08000000, "board.v2.hex");
    port_.programmerVersion = 0x0F00;
    ASSERT_TRUE(Generate().ok());
    EXPECT_TRUE(fs::exists(dir_ / "board.v2.qvz"));

    // The list is emptied once the file is written, then filled from the record.
    ASSERT_EQ(port_.descriptions.size(), 2u);
    EXPECT_TRUE(port_.descriptions[0].empty());
    auto header = BuildJobHeader(port_.settings, 0x08000000, 64, 0, kClock).Encode();
    EXPECT_EQ(Rows(port_.descriptions[1]),
              Rows(DescribeJob("board.v2.qvz", header.data(), 0x0F00)));
    EXPECT_EQ(port_.descriptions[1].size(), 8u);  // no code-shift row below 0x1000
}

TEST(RemoteJobFileName, CutsBeforeTheLastDot) {
    EXPECT_EQ(RemoteJobFileName("board.v2.hex"), "board.v2.qvz");
    EXPECT_EQ(RemoteJobFileName("firmware.bin"), "firmware.qvz");
    EXPECT_EQ(RemoteJobFileName("firmware"), "firmware.qvz");
    EXPECT_EQ(RemoteJobFileName("прошивка.HEX"), "прошивка.qvz");
}

TEST_F(RemoteJobFileTest, FilesOfOneJobDifferOnlyWhereTheyShould) {
    LoadImage(port_, 500);
    ASSERT_TRUE(Generate().ok());
    const auto first = ReadBytes(dir_ / "firmware.qvz");

    clock_.second = 35;
    clock_.day = 8;
    ASSERT_TRUE(Generate().ok());
    const auto later = ReadBytes(dir_ / "firmware.qvz");

    clock_ = kClock;
    port_.remoteCode = 0xFFFFFF4D;  // same low byte as 0x1A2B3C4D
    ASSERT_TRUE(Generate().ok());
    const auto otherCode = ReadBytes(dir_ / "firmware.qvz");

    ASSERT_EQ(first.size(), 568u);
    ASSERT_EQ(later.size(), first.size());
    ASSERT_EQ(otherCode.size(), first.size());
    const std::size_t checksum = first.size() - 4;
    for (std::size_t i = 0; i < first.size(); ++i) {
        const bool codeByte = i >= 1 && i < 4;
        if (i < checksum) {
            EXPECT_EQ(first[i] != later[i], i == 24 || i == 27) << "byte " << i;
            EXPECT_EQ(first[i] != otherCode[i], codeByte) << "byte " << i;
        }
    }
    EXPECT_FALSE(std::equal(first.begin() + checksum, first.end(), later.begin() + checksum));
    EXPECT_FALSE(std::equal(first.begin() + checksum, first.end(), otherCode.begin() + checksum));
}

TEST_F(RemoteJobFileTest, AnySingleChangedByteIsDamage) {
    LoadImage(port_, 8);
    ASSERT_TRUE(Generate().ok());
    const fs::path file = dir_ / "firmware.qvz";
    const auto good = ReadBytes(file);
    ASSERT_EQ(good.size(), 76u);

    LoadImage(port_, 40, 0x08001000, "kept.hex");
    const std::vector<std::uint8_t> kept(port_.Workspace().image.imageBuffer,
                                         port_.Workspace().image.imageBuffer + 40);
    std::string detail;
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto bad = good;
            bad[i] ^= flip;
            ASSERT_EQ(LoadRemoteJobBytes(bad.data(), bad.size(), port_.Workspace(), detail),
                      RemoteLoadResult::Damaged)
                << "byte " << i << " flipped by " << int(flip);
        }
    }
    EXPECT_EQ(port_.Workspace().image.imageLength, 40u);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), port_.Workspace().image.imageBuffer));
    EXPECT_EQ(LoadRemoteJobBytes(good.data(), good.size(), port_.Workspace(), detail),
              RemoteLoadResult::Loaded);
}

TEST_F(RemoteJobFileTest, FallsBackToTheNextDirectory) {
    // A directory under a regular file cannot be created into, even by root.
    const fs::path blocker = dir_ / "not-a-directory";
    WriteBytes(blocker, std::vector<std::uint8_t>{1, 2, 3});
    const fs::path fallback = dir_ / "beside-the-loaded-file";
    fs::create_directories(fallback);
    port_.outputDirectories = {blocker / "program", fallback};
    LoadImage(port_, 16);

    const WorkerOutcome outcome = Generate();
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_TRUE(fs::exists(fallback / "firmware.qvz"));
    EXPECT_EQ(port_.messages.back(), "远程文件生成成功 " + Utf8OfPath(fallback / "firmware.qvz"));
}

TEST_F(RemoteJobFileTest, NoWritableDirectoryIsCode01) {
    const fs::path blocker = dir_ / "not-a-directory";
    WriteBytes(blocker, std::vector<std::uint8_t>{1});
    port_.outputDirectories = {blocker / "a", blocker / "b"};
    LoadImage(port_, 1001);

    const WorkerOutcome outcome = Generate();
    EXPECT_EQ(outcome.kind, OutcomeKind::FileFailed);
    EXPECT_EQ(outcome.code, 1);
    ASSERT_EQ(port_.messages.size(), 1u);
    EXPECT_EQ(port_.icons[0], MessageIcon::Error);
    EXPECT_EQ(port_.messages[0], "生成文件失败 错误码:01");
    EXPECT_TRUE(port_.descriptions.empty());  // the list is left as it was
    EXPECT_EQ(port_.Workspace().image.imageLength, 1004u);
    EXPECT_FALSE(port_.Workspace().InUse());
}

TEST_F(RemoteJobFileTest, RefusesAnImageBeyondTheJobStorageBeforeWriting) {
    LoadImage(port_, 0);
    port_.Workspace().image.imageLength = 0x1FE001;  // pads to 0x1FE004
    const WorkerOutcome outcome = Generate();
    EXPECT_EQ(outcome.kind, OutcomeKind::InputRefused);
    EXPECT_EQ(outcome.message, kMsgRemoteImageTooLarge);
    EXPECT_EQ(port_.Workspace().image.imageLength, 0x1FE001u);
    EXPECT_TRUE(fs::is_empty(dir_));

    // The largest image that fits is taken.
    port_.Workspace().image.imageLength = 0x1FE000;
    EXPECT_TRUE(Generate().ok());
    EXPECT_EQ(fs::file_size(dir_ / "firmware.qvz"), 0x1FE000u + 68u);
}

TEST_F(RemoteJobFileTest, RefusesMalformedFilesLeavingBuffersAlone) {
    LoadImage(port_, 12, 0x08002000, "kept.hex");
    FirmwareImage& staging = port_.Workspace().Staging();
    std::memset(staging.imageBuffer, 0x5C, 256);
    auto untouched = [&] {
        const FirmwareImage& image = port_.Workspace().image;
        bool same = image.imageLength == 12 && image.imageStart == 0x08002000;
        for (int i = 0; i < 12; ++i) same = same && image.imageBuffer[i] == std::uint8_t(i * 7 + 3);
        for (int i = 0; i < 256; ++i) same = same && staging.imageBuffer[i] == 0x5C;
        return same;
    };

    // A record whose length field says 8 while it carries 12 image bytes.
    std::vector<std::uint8_t> record(64 + 12, 0x00);
    WriteLe32(&record[0], 0x11223344);
    WriteLe32(&record[18], 8);
    std::string detail;
    auto file = FileOfRecord(record);
    EXPECT_EQ(LoadRemoteJobBytes(file.data(), file.size(), port_.Workspace(), detail),
              RemoteLoadResult::BadLength);
    EXPECT_FALSE(detail.empty());

    // A length that agrees but is not a whole number of words.
    record.resize(64 + 10);
    WriteLe32(&record[18], 10);
    file = FileOfRecord(record);
    EXPECT_EQ(LoadRemoteJobBytes(file.data(), file.size(), port_.Workspace(), detail),
              RemoteLoadResult::BadLength);

    const fs::path path = dir_ / "bad.qvz";
    WriteBytes(path, std::vector<std::uint8_t>(67, 0x00));
    EXPECT_EQ(LoadRemoteJobFile(path, port_.Workspace(), detail), RemoteLoadResult::TooShort);
    WriteBytes(path, std::vector<std::uint8_t>{});
    EXPECT_EQ(LoadRemoteJobFile(path, port_.Workspace(), detail), RemoteLoadResult::TooShort);
    WriteBytes(path, std::vector<std::uint8_t>(kImageStorageSize + 1, 0x00));
    EXPECT_EQ(LoadRemoteJobFile(path, port_.Workspace(), detail), RemoteLoadResult::TooLarge);
    EXPECT_EQ(LoadRemoteJobFile(dir_ / "missing.qvz", port_.Workspace(), detail),
              RemoteLoadResult::CannotOpen);
    EXPECT_EQ(LoadRemoteJobFile(dir_, port_.Workspace(), detail), RemoteLoadResult::CannotOpen);
    EXPECT_TRUE(untouched());

    // An image that fills the buffer but would run into the programmer's job area.
    record.assign(kImageStorageSize - 4, 0x00);
    WriteLe32(&record[18], kImageStorageSize - 68);
    file = FileOfRecord(record);
    EXPECT_EQ(LoadRemoteJobBytes(file.data(), file.size(), port_.Workspace(), detail),
              RemoteLoadResult::TooLarge);
    EXPECT_TRUE(untouched());
}

}  // namespace
