#include "image/FileLoading.h"
#include "loading/LoadFirmwareFile.h"

#include <gtest/gtest.h>

#include "image/ElfReader.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/FileReading.h"
#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "remote/RemoteScramble.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// A small image as a toolchain writes it: 32 bytes at 0x08000000.
const char* const kGoodHex =
    ":020000040800F2\n"
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":10001000101112131415161718191A1B1C1D1E1F68\n"
    ":00000001FF\n";

std::vector<std::uint8_t> Counting(std::size_t size, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i * 7);
    return bytes;
}

// What a load must leave alone when it does not succeed.
struct WorkspaceState {
    const std::uint8_t* buffer;
    std::uint32_t start;
    std::uint32_t length;
    std::vector<std::uint8_t> bytes;
    fs::path path;
    std::string name;

    explicit WorkspaceState(const ImageWorkspace& workspace)
        : buffer(workspace.image.imageBuffer),
          start(workspace.image.imageStart),
          length(workspace.image.imageLength),
          bytes(workspace.image.imageBuffer, workspace.image.imageBuffer + kImageStorageSize),
          path(workspace.filePath),
          name(workspace.fileName) {}
};

void ExpectUnchanged(const WorkspaceState& before, const ImageWorkspace& workspace) {
    EXPECT_EQ(workspace.image.imageBuffer, before.buffer);
    EXPECT_EQ(workspace.image.imageStart, before.start);
    EXPECT_EQ(workspace.image.imageLength, before.length);
    EXPECT_EQ(workspace.filePath, before.path);
    EXPECT_EQ(workspace.fileName, before.name);
    EXPECT_TRUE(std::memcmp(workspace.image.imageBuffer, before.bytes.data(), kImageStorageSize) ==
                0)
        << "image bytes changed";
}

class FileLoadingTest : public ::testing::Test {
protected:
    fs::path Write(const std::string& name, const std::string& text) {
        return WriteBytes(dir_ / name, text);
    }
    fs::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return WriteBytes(dir_ / name, bytes);
    }

    LoadOutcome Load(const fs::path& path, std::optional<std::uint32_t> start = std::nullopt) {
        LoadRequest request;
        request.path = path;
        request.fileName = FileNameOfPath(path.string());
        request.extension = ExtensionOfChosenFile(request.fileName);
        request.askStartAddress = [this, start] {
            ++questions_;
            return start;
        };
        return LoadFirmwareFile(workspace_, request);
    }

    // A good HEX load first, so that a later failure has something to leave alone.
    void LoadGoodHex() {
        const LoadOutcome outcome = Load(Write("good.hex", kGoodHex));
        ASSERT_EQ(outcome.status, LoadStatus::Loaded) << outcome.detail;
    }

    const TempFolder folder_{"marro-loading"};
    const fs::path dir_ = folder_.Path();
    ImageWorkspace workspace_;
    int questions_ = 0;
};

TEST(FileNames, NameIsAfterTheLastBackslashElseSlash) {
    EXPECT_EQ(FileNameOfPath("C:\\work\\fw.hex"), "fw.hex");
    EXPECT_EQ(FileNameOfPath("/home/u/fw.BIN"), "fw.BIN");
    EXPECT_EQ(FileNameOfPath("a/b\\c/d.hex"), "c/d.hex");  // the backslash decides first
    EXPECT_EQ(FileNameOfPath("fw.qvz"), "fw.qvz");
    EXPECT_EQ(FileNameOfPath("dir/"), "");
}

TEST(FileNames, ChosenAndDroppedExtensionsDifferOnlyWithoutAFullStop) {
    EXPECT_EQ(ExtensionOfChosenFile("fw.HEX"), "hex");
    EXPECT_EQ(ExtensionOfChosenFile("fw.v2.Bin"), "bin");
    EXPECT_EQ(ExtensionOfChosenFile("bin"), "");
    EXPECT_EQ(ExtensionOfChosenFile("fw."), "");
    EXPECT_EQ(ExtensionOfName("fw.QvZ"), "qvz");
    EXPECT_EQ(ExtensionOfName("bin"), "bin");  // a dropped file called "bin" is raw binary
    EXPECT_EQ(ExtensionOfName("HEX"), "hex");
}

TEST(FileNames, KindIsDecidedByExactLowerCaseExtension) {
    EXPECT_EQ(FileKindOf("hex"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("bin"), FileKind::RawBinary);
    EXPECT_EQ(FileKindOf("qvz"), FileKind::RemoteJob);
    for (const char* srec : {"srec", "s19", "s28", "s37", "mot"})
        EXPECT_EQ(FileKindOf(srec), FileKind::Srec) << srec;
    for (const char* elf : {"elf", "axf", "out"}) EXPECT_EQ(FileKindOf(elf), FileKind::Elf) << elf;
    for (const char* other : {"HEX", "txt", "", "hex ", "he", "hexx", "ihex", "s", "SREC"}) {
        EXPECT_EQ(FileKindOf(other), FileKind::Unsupported) << other;
    }
    // The same table names the formats to the user: the open dialog's type list (the
    // window's own bytes, EN QUADs and all) and the note beside a refusal.
    std::string filter;
    for (const OpenFileFilter& entry : OpenFileFilters())
        filter += (filter.empty() ? "" : ";;") + entry.name + "(" + entry.patterns + ")";
    EXPECT_EQ(
        filter,
        "All\u2000(*.*);;hex\u2000\u2000(*.hex);;bin\u2000\u2000(*.bin);;qvz\u2000\u2000(*.qvz);;"
        "elf\u2000\u2000(*.elf *.axf *.out);;srec\u2000(*.srec *.s19 *.s28 *.s37 *.mot)");
    EXPECT_EQ(AcceptedFormatsNote(),
              "accepted: .hex, .bin, .qvz, .elf .axf .out, .srec .s19 .s28 .s37 .mot");
}

TEST_F(FileLoadingTest, HexLoadCommitsImagePathAndName) {
    const fs::path path = Write("App.HEX", kGoodHex);
    const LoadOutcome outcome = Load(path);
    ASSERT_EQ(outcome.status, LoadStatus::Loaded) << outcome.detail;
    EXPECT_EQ(outcome.kind, FileKind::Hex);
    EXPECT_TRUE(outcome.message.empty());
    EXPECT_EQ(workspace_.image.imageStart, 0x08000000u);
    EXPECT_EQ(workspace_.image.imageLength, 32u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(workspace_.image.imageBuffer[i], i);
    EXPECT_EQ(workspace_.image.imageBuffer[32], 0xFF);
    EXPECT_EQ(workspace_.filePath, path);
    EXPECT_EQ(workspace_.fileName, "App.HEX");
    EXPECT_EQ(questions_, 0);
}

TEST_F(FileLoadingTest, FailedHexLoadsLeaveThePreviousLoadAlone) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);

    // Fails on its third record, after its first two were stored.
    const LoadOutcome bad = Load(
        Write("bad.hex", std::string(kGoodHex).substr(0, 60) +
                             ":10001000101112131415161718191A1B1C1D1E1F69\n" + ":00000001FF\n"));
    EXPECT_EQ(bad.status, LoadStatus::HexFailed);
    EXPECT_EQ(bad.hexResult, HexBadChecksum);
    EXPECT_EQ(bad.message, kMsgLoadFailed);
    EXPECT_NE(bad.detail.find("line 3"), std::string::npos) << bad.detail;
    ExpectUnchanged(before, workspace_);

    const LoadOutcome missing = Load(dir_ / "missing.hex");
    EXPECT_EQ(missing.status, LoadStatus::HexFailed);
    EXPECT_EQ(missing.hexResult, HexOpenFailed);
    EXPECT_EQ(missing.message, kMsgLoadFailed);
    EXPECT_NE(missing.detail.find("No such file"), std::string::npos) << missing.detail;
    ExpectUnchanged(before, workspace_);

    fs::create_directories(dir_ / "folder.hex");
    EXPECT_EQ(Load(dir_ / "folder.hex").hexResult, HexOpenFailed);
    EXPECT_EQ(Load(Write("empty.hex", "")).hexResult, HexBadFormat);
    EXPECT_EQ(Load(Write("noend.hex", std::string(kGoodHex).substr(0, 60))).hexResult,
              HexBadFormat);
    ExpectUnchanged(before, workspace_);

    // A span beyond the capacity names its addresses.
    const LoadOutcome wide = Load(Write("wide.hex",
                                        ":020000040800F2\n:0100000011EE\n"
                                        ":020000040810E2\n:0100000022DD\n:00000001FF\n"));
    EXPECT_EQ(wide.hexResult, HexTooLarge);
    EXPECT_NE(wide.detail.find("line 4"), std::string::npos) << wide.detail;
    EXPECT_NE(wide.detail.find("0x08000000-0x08100000"), std::string::npos) << wide.detail;
    // A text longer than any image within the capacity needs is refused unread.
    const fs::path huge = dir_ / "huge.hex";
    std::ofstream(huge).put(':');
    fs::resize_file(huge, kMaxHexTextSize + 1);
    const LoadOutcome tooLong = Load(huge);
    EXPECT_EQ(tooLong.hexResult, HexTooLarge);
    EXPECT_NE(tooLong.detail.find(std::to_string(kMaxHexTextSize + 1) + " bytes"),
              std::string::npos)
        << tooLong.detail;
    ExpectUnchanged(before, workspace_);
}

#ifndef _WIN32
// Opening a FIFO for reading waits for a writer; no load may wait so, whatever its kind.
TEST_F(FileLoadingTest, FifosAreRefusedWithoutWaitingForAWriter) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);
    for (const char* name : {"pipe.hex", "pipe.bin", "pipe.qvz", "pipe.srec", "pipe.elf"}) {
        const fs::path fifo = dir_ / name;
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
        std::future<LoadOutcome> load =
            std::async(std::launch::async, [&] { return Load(fifo, 0x08000000); });
        if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << name << ": the load waits for a writer";
            // A writer lets the waiting open go on, so that the test can end.
            while (load.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
                const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) close(writer);
            }
        }
        const LoadOutcome outcome = load.get();
        const bool read = outcome.kind == FileKind::Hex || outcome.kind == FileKind::Srec ||
                          outcome.kind == FileKind::Elf;
        EXPECT_EQ(outcome.status, read ? LoadStatus::HexFailed : LoadStatus::OpenFailed) << name;
        EXPECT_EQ(outcome.message, kMsgLoadFailed) << name;
        EXPECT_NE(outcome.detail.find("is a FIFO, not a regular file"), std::string::npos)
            << name << ": " << outcome.detail;
        ExpectUnchanged(before, workspace_);
    }
}
#endif

TEST_F(FileLoadingTest, RawBinaryLandsAtTheAnsweredAddress) {
    LoadGoodHex();
    const std::vector<std::uint8_t> bytes = Counting(1000, 3);
    const fs::path path = Write("fw.bin", bytes);
    const LoadOutcome outcome = Load(path, 0x08004000);
    ASSERT_EQ(outcome.status, LoadStatus::Loaded) << outcome.detail;
    EXPECT_EQ(outcome.kind, FileKind::RawBinary);
    EXPECT_EQ(questions_, 1);
    EXPECT_EQ(workspace_.image.imageStart, 0x08004000u);
    EXPECT_EQ(workspace_.image.imageLength, 1000u);
    EXPECT_TRUE(std::memcmp(workspace_.image.imageBuffer, bytes.data(), bytes.size()) == 0);
    EXPECT_EQ(workspace_.fileName, "fw.bin");
}

TEST_F(FileLoadingTest, RawBinaryMustFitTheStorageAndTheAddressSpace) {
    const std::vector<std::uint8_t> full = Counting(kImageStorageSize, 1);
    ASSERT_EQ(Load(Write("full.bin", full), 0).status, LoadStatus::Loaded);
    EXPECT_EQ(workspace_.image.imageLength, kImageStorageSize);
    EXPECT_TRUE(std::memcmp(workspace_.image.imageBuffer, full.data(), full.size()) == 0);

    // Neither the image nor the staging storage may be touched by a refused file.
    std::memset(workspace_.Staging().imageBuffer, 0x5C, kImageStorageSize);
    const WorkspaceState before(workspace_);
    for (std::size_t size : {std::size_t{kImageStorageSize} + 1, std::size_t{3} << 20}) {
        const LoadOutcome outcome = Load(Write("big.bin", Counting(size)), 0x08000000);
        EXPECT_EQ(outcome.status, LoadStatus::TooLarge);
        EXPECT_EQ(outcome.message, kMsgLoadFailed);
        EXPECT_NE(outcome.detail.find(std::to_string(size) + " bytes"), std::string::npos)
            << outcome.detail;
        ExpectUnchanged(before, workspace_);
        const std::uint8_t* staging = workspace_.Staging().imageBuffer;
        for (std::size_t i = 0; i < kImageStorageSize; i += 4093) ASSERT_EQ(staging[i], 0x5C) << i;
    }

    // An image must end within the 32-bit address space, also once the upload has padded
    // it to whole words.
    for (const auto& [size, start] :
         {std::pair<std::size_t, std::uint32_t>{32, 0xFFFFFFF0}, {14, 0xFFFFFFF2}}) {
        const LoadOutcome outcome = Load(Write("top.bin", Counting(size)), start);
        EXPECT_EQ(outcome.status, LoadStatus::TooLarge) << start;
        EXPECT_EQ(outcome.message, kMsgLoadFailed);
        EXPECT_NE(outcome.detail.find("beyond the 32-bit address space"), std::string::npos)
            << outcome.detail;
        ExpectUnchanged(before, workspace_);
        EXPECT_EQ(workspace_.Staging().imageBuffer[0], 0x5C);
    }
    ASSERT_EQ(Load(Write("top.bin", Counting(16)), 0xFFFFFFF0).status, LoadStatus::Loaded);
    EXPECT_EQ(workspace_.image.imageStart, 0xFFFFFFF0u);
}

TEST_F(FileLoadingTest, CancelledAddressQuestionChangesNothingAndSaysNothing) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);
    const LoadOutcome outcome = Load(Write("fw.bin", Counting(64)), std::nullopt);
    EXPECT_EQ(outcome.status, LoadStatus::Cancelled);
    EXPECT_TRUE(outcome.message.empty());
    EXPECT_EQ(questions_, 1);
    ExpectUnchanged(before, workspace_);

    // The question comes before the file is opened.
    EXPECT_EQ(Load(dir_ / "missing.bin", std::nullopt).status, LoadStatus::Cancelled);
    EXPECT_EQ(Load(dir_ / "missing.bin", 0x08000000).status, LoadStatus::OpenFailed);

    // A question that throws ends the load like a failure, not by an exception.
    LoadRequest throwing;
    throwing.path = dir_ / "fw.bin";
    throwing.fileName = "fw.bin";
    throwing.extension = "bin";
    throwing.askStartAddress = []() -> std::optional<std::uint32_t> { throw 42; };
    const LoadOutcome thrown = LoadFirmwareFile(workspace_, throwing);
    EXPECT_EQ(thrown.status, LoadStatus::ReadFailed);
    EXPECT_EQ(thrown.message, kMsgLoadFailed);
    ExpectUnchanged(before, workspace_);

    LoadRequest silent;
    silent.path = dir_ / "fw.bin";
    silent.fileName = "fw.bin";
    silent.extension = "bin";
    EXPECT_EQ(LoadFirmwareFile(workspace_, silent).status, LoadStatus::Cancelled);
    ExpectUnchanged(before, workspace_);
}

TEST_F(FileLoadingTest, UnsupportedExtensionIsRefusedWithItsText) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);
    const LoadOutcome outcome = Load(Write("notes.txt", kGoodHex));
    EXPECT_EQ(outcome.status, LoadStatus::Unsupported);
    EXPECT_EQ(outcome.message, kMsgUnsupportedType);
    EXPECT_NE(outcome.detail.find(AcceptedFormatsNote()), std::string::npos) << outcome.detail;
    ExpectUnchanged(before, workspace_);

    // A file called "hex" chosen in the Open dialog has no extension.
    EXPECT_EQ(Load(Write("hex", kGoodHex)).status, LoadStatus::Unsupported);
    EXPECT_EQ(questions_, 0);
    ExpectUnchanged(before, workspace_);
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The firmware built from tests/data/firmware: their ELF files and objcopy's S-records load
// to exactly the images objcopy's gap-filled binaries hold, with the initialised data where
// flash stores it, no zero fill, and neither the ELF headers inside a segment nor the
// padding between sections; damaged copies are refused and change nothing.
TEST_F(FileLoadingTest, BuiltFirmwareLoadsAsObjcopyImagesIt) {
    const fs::path firmware(MARRO_TEST_FIRMWARE_DIR);
    const auto text = [](const std::string& t) {
        return std::vector<std::uint8_t>(t.begin(), t.end());
    };
    const std::string srec = [&] {
        const std::vector<std::uint8_t> bytes = ReadBytes(firmware / "blink.srec");
        return std::string(bytes.begin(), bytes.end());
    }();
    // As srec_cat ends an image without a start address: the count record last, no S7.
    std::string counted = srec.substr(0, srec.rfind("S7"));
    std::uint32_t dataRecords = 0;
    for (std::size_t at = counted.find("\nS3"); at != std::string::npos;
         at = counted.find("\nS3", at + 1))
        ++dataRecords;
    ASSERT_LT(dataRecords, 0x100u);
    counted += Format("S50300%02X%02X\n\n", dataRecords, 0xFF - ((3 + dataRecords) & 0xFF));
    const std::vector<std::uint8_t> elf = ReadBytes(firmware / "blink.elf");
    const std::uint32_t tableOffset = ReadLe32(elf.data() + 28);    // e_phoff
    const std::uint32_t sectionOffset = ReadLe32(elf.data() + 32);  // e_shoff
    const std::uint16_t segments = ReadLe16(elf.data() + 44);       // e_phnum
    const std::uint16_t sections = ReadLe16(elf.data() + 48);       // e_shnum
    // Without a section table the image is made of the segments, which for this one
    // hold nothing besides the sections.
    std::vector<std::uint8_t> unsectioned = elf;
    WriteLe32(unsectioned.data() + 32, 0);
    WriteLe16(unsectioned.data() + 48, 0);
    WriteLe16(unsectioned.data() + 50, 0);
    struct Built {
        fs::path path;
        const char* image;  // objcopy's binary
        std::uint32_t start;
    };
    std::vector<Built> built = {
        {firmware / "blink.srec", "blink.bin", 0x08000000},
        {Write("counted.srec", text(counted)), "blink.bin", 0x08000000},
        {firmware / "offset.srec", "offset.bin", 0x08004200},
        {Write("trailing.srec", text(srec + "\r\n\nnot read\n")), "blink.bin", 0x08000000},
        {firmware / "blink.elf", "blink.bin", 0x08000000},
        {Write("blink.axf", elf), "blink.bin", 0x08000000},
        {Write("unsectioned.elf", unsectioned), "blink.bin", 0x08000000},
        {firmware / "offset.elf", "offset.bin", 0x08004200}};
    for (const Built& b : built) {
        const std::vector<std::uint8_t> expected = ReadBytes(firmware / b.image);
        ASSERT_GT(expected.size(), 256u) << b.image;
        const LoadOutcome outcome = Load(b.path);
        ASSERT_EQ(outcome.status, LoadStatus::Loaded) << b.path << ": " << outcome.detail;
        EXPECT_EQ(workspace_.image.imageStart, b.start) << b.path;
        ASSERT_EQ(workspace_.image.imageLength, expected.size()) << b.path;
        EXPECT_TRUE(std::memcmp(workspace_.image.imageBuffer, expected.data(), expected.size()) ==
                    0)
            << b.path;
    }

    const WorkspaceState before(workspace_);
    struct Refused {
        std::string name;
        std::vector<std::uint8_t> bytes;
        HexResult result;
        const char* reason;
    };
    std::vector<Refused> refused;
    std::string damaged = srec;
    const std::size_t digit = damaged.find_first_of("\r\n", damaged.find("S3")) - 1;
    damaged[digit] = damaged[digit] == '0' ? '1' : '0';
    refused.push_back({"checksum.srec", text(damaged), HexBadChecksum, "checksum"});
    refused.push_back(
        {"count.srec",
         text(srec.substr(0, srec.rfind("S7")) + "S5030001FB\n" + srec.substr(srec.rfind("S7"))),
         HexBadFormat, "record count"});
    refused.push_back({"noend.srec", text(srec.substr(0, srec.rfind("S7"))), HexBadFormat,
                       "without an end record"});
    // A count record with a data record after it ends nothing.
    const std::size_t firstData = srec.find("\nS3") + 1;
    refused.push_back(
        {"cut.srec",
         text(counted + srec.substr(firstData, srec.find('\n', firstData) + 1 - firstData)),
         HexBadFormat, "without an end record"});
    // Nothing after the end record is read, but a data record there would be lost: refused
    // at its line, after a blank one.
    const std::string afterEnd =
        Format("line %zu: a data record (S1, S2 or S3) follows the end record",
               static_cast<std::size_t>(std::count(srec.begin(), srec.end(), '\n')) + 2);
    refused.push_back(
        {"after.srec",
         text(srec + "\n" + srec.substr(firstData, srec.find('\n', firstData) + 1 - firstData)),
         HexBadFormat, afterEnd.c_str()});
    refused.push_back({"wide.s37",
                       text("S309080000001122334444\nS309081000005566778824\nS70500000000FA\n"),
                       HexTooLarge, "0x08000000-0x08100003"});
    std::vector<std::uint8_t> wide = elf;
    wide[4] = 2;  // ELFCLASS64
    refused.push_back({"wide.elf", wide, HexBadFormat, "64-bit"});
    std::vector<std::uint8_t> big = elf;
    big[5] = 2;  // ELFDATA2MSB
    refused.push_back({"big.elf", big, HexBadFormat, "big-endian"});
    std::vector<std::uint8_t> unloaded = elf;
    for (std::uint16_t i = 0; i < segments; ++i)
        WriteLe32(unloaded.data() + tableOffset + 32 * i, 0);
    refused.push_back({"unloaded.elf", unloaded, HexBadFormat, "no PT_LOAD segment"});
    std::vector<std::uint8_t> beyond = elf;
    WriteLe32(beyond.data() + tableOffset + 4,
              static_cast<std::uint32_t>(elf.size()) - 8);  // p_offset
    refused.push_back({"beyond.elf", beyond, HexBadFormat, "segment 1: the segment's contents"});
    std::vector<std::uint8_t> stored = elf;
    WriteLe32(stored.data() + tableOffset + 20, 4);  // p_memsz below p_filesz
    refused.push_back({"stored.elf", stored, HexBadFormat, "p_filesz > p_memsz"});
    std::vector<std::uint8_t> top = elf;
    WriteLe32(top.data() + tableOffset + 12, 0xFFFFFFF0);  // p_paddr
    refused.push_back({"top.elf", top, HexTooLarge, "beyond the 32-bit address space"});
    // Section 1 (.isr_vector): its sh_offset, then the flags of every section.
    std::vector<std::uint8_t> outside = elf;
    WriteLe32(outside.data() + sectionOffset + 40 + 16, static_cast<std::uint32_t>(elf.size()) - 8);
    refused.push_back({"outside.elf", outside, HexBadFormat, "section 1: the section's contents"});
    std::vector<std::uint8_t> unallocated = elf;
    for (std::uint16_t i = 0; i < sections; ++i)
        WriteLe32(unallocated.data() + sectionOffset + 40 * i + 8, 0);
    refused.push_back({"unallocated.elf", unallocated, HexBadFormat, "no allocated section"});
    refused.push_back({"text.elf", text(srec), HexBadFormat, "not an ELF file"});
    // Cut short within its section table: refused, not imaged from its segments alone.
    refused.push_back({"cut.elf",
                       {elf.begin(), elf.begin() + sectionOffset + 40 * sections - 1},
                       HexBadFormat,
                       "the section table cannot be read"});
    std::vector<std::uint8_t> entries = elf;
    WriteLe16(entries.data() + 42, 28);  // e_phentsize
    refused.push_back({"entries.elf", entries, HexBadFormat, "segment table cannot be read"});
    for (const Refused& r : refused) {
        const LoadOutcome outcome = Load(Write(r.name, r.bytes));
        EXPECT_EQ(outcome.status, LoadStatus::HexFailed) << r.name;
        EXPECT_EQ(outcome.hexResult, r.result) << r.name << ": " << outcome.detail;
        EXPECT_EQ(outcome.message, kMsgLoadFailed) << r.name;
        EXPECT_NE(outcome.detail.find(r.reason), std::string::npos)
            << r.name << ": " << outcome.detail;
        ExpectUnchanged(before, workspace_);
    }
}

TEST_F(FileLoadingTest, LoadsAreRefusedWhileAWorkerReadsTheImage) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);
    const fs::path hex = Write("other.hex", kGoodHex);
    const fs::path bin = Write("other.bin", Counting(16));
    {
        ImageWorkspace::ImageUse use(workspace_);
        for (const fs::path& path : {hex, bin, dir_ / "x.qvz", dir_ / "x.txt"}) {
            const LoadOutcome outcome = Load(path, 0x08000000);
            EXPECT_EQ(outcome.status, LoadStatus::Busy) << path;
            EXPECT_EQ(outcome.message, kMsgImageBusy);
        }
        EXPECT_EQ(RawBinaryLoad(workspace_, bin, 0).status, LoadStatus::Busy);
        EXPECT_EQ(questions_, 0);
        ExpectUnchanged(before, workspace_);
    }
    EXPECT_EQ(Load(bin, 0x08000000).status, LoadStatus::Loaded);
}

// A remote job file made from a plain record: 64-byte prefix stating the image length,
// the image, then the word checksum of the scrambled bytes.
std::vector<std::uint8_t> RemoteJobFileOf(const std::vector<std::uint8_t>& image,
                                          std::uint32_t jobStart = 0x08000000) {
    std::vector<std::uint8_t> record(64 + image.size(), 0);
    WriteLe32(&record[0], 0x12345678);
    WriteLe32(&record[14], jobStart);
    WriteLe32(&record[18], static_cast<std::uint32_t>(image.size()));
    std::memcpy(record.data() + 64, image.data(), image.size());
    ScrambleRemoteRecord(record.data(), record.size());
    const std::uint32_t crc = WordCrc32(record.data(), record.size() / 4);
    record.resize(record.size() + 4);
    WriteLe32(&record[record.size() - 4], crc);
    return record;
}

TEST_F(FileLoadingTest, RemoteJobFileOutcomes) {
    LoadGoodHex();
    const WorkspaceState before(workspace_);

    const LoadOutcome missing = Load(dir_ / "missing.qvz");
    EXPECT_EQ(missing.status, LoadStatus::OpenFailed);
    EXPECT_EQ(missing.message, kMsgLoadFailed);

    const LoadOutcome shortFile = Load(Write("short.qvz", Counting(10)));
    EXPECT_EQ(shortFile.status, LoadStatus::BadRecord);
    EXPECT_EQ(shortFile.message, kMsgFileDamaged);
    EXPECT_FALSE(shortFile.detail.empty());

    std::vector<std::uint8_t> damaged = RemoteJobFileOf(Counting(256));
    damaged[100] ^= 0x01;
    const LoadOutcome damagedFile = Load(Write("damaged.qvz", damaged));
    EXPECT_EQ(damagedFile.status, LoadStatus::Damaged);
    EXPECT_EQ(damagedFile.message, kMsgFileDamaged);

    const LoadOutcome large = Load(Write("large.qvz", Counting(std::size_t{3} << 20)));
    EXPECT_EQ(large.status, LoadStatus::TooLarge);
    EXPECT_EQ(large.message, kMsgLoadFailed);

    // A record whose image would end beyond the 32-bit address space at its own start.
    const LoadOutcome wrapping = Load(Write("top.qvz", RemoteJobFileOf(Counting(32), 0xFFFFFFF0)));
    EXPECT_EQ(wrapping.status, LoadStatus::BadRecord);
    EXPECT_EQ(wrapping.message, kMsgFileDamaged);
    EXPECT_NE(wrapping.detail.find("0xFFFFFFF0"), std::string::npos) << wrapping.detail;
    ExpectUnchanged(before, workspace_);
    EXPECT_EQ(questions_, 0);

    // A sound file is taken over with the start of the image loaded before it.
    const fs::path good = Write("job.qvz", RemoteJobFileOf(Counting(256, 9)));
    const LoadOutcome loaded = Load(good);
    ASSERT_EQ(loaded.status, LoadStatus::Loaded) << loaded.detail;
    EXPECT_EQ(loaded.kind, FileKind::RemoteJob);
    EXPECT_EQ(workspace_.image.imageLength, 64u + 256u);
    EXPECT_EQ(workspace_.image.imageStart, 0x08000000u);
    EXPECT_EQ(ReadLe32(workspace_.image.imageBuffer + 18), 256u);
    const std::vector<std::uint8_t> image = Counting(256, 9);
    EXPECT_TRUE(std::memcmp(workspace_.image.imageBuffer + 64, image.data(), image.size()) == 0);
    EXPECT_EQ(workspace_.fileName, "job.qvz");
}

TEST_F(FileLoadingTest, FileReadingRefusesBeforeWriting) {
    std::vector<std::uint8_t> buffer(64, 0xEE);
    std::size_t size = 12345;
    std::string detail;
    const fs::path path = Write("data.bin", Counting(65));
    EXPECT_EQ(ReadFileInto(path, buffer.data(), 64, size, detail), FileReadStatus::TooLarge);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0xEE));
    EXPECT_EQ(size, 12345u);
    EXPECT_NE(detail.find("65 bytes"), std::string::npos) << detail;

    EXPECT_EQ(ReadFileInto(dir_ / "none", buffer.data(), 64, size, detail),
              FileReadStatus::OpenFailed);
    EXPECT_EQ(detail.find("stat('"), 0u) << detail;

    const fs::path exact = Write("exact.bin", Counting(64));
    ASSERT_EQ(ReadFileInto(exact, buffer.data(), 64, size, detail), FileReadStatus::Ok);
    EXPECT_EQ(size, 64u);
    EXPECT_EQ(buffer, Counting(64));

    InputFile file;
    FileText text;
    ASSERT_EQ(file.Open(path, detail), FileReadStatus::Ok);
    EXPECT_EQ(file.Size(), 65u);
    ASSERT_EQ(file.ReadInto(text, detail), FileReadStatus::Ok);
    ASSERT_EQ(text.size(), 65u);
    EXPECT_TRUE(std::memcmp(text.data(), Counting(65).data(), 65) == 0);
    // A folder is not a regular file.
    EXPECT_EQ(file.Open(dir_, detail), FileReadStatus::NotRegularFile);
    EXPECT_NE(detail.find(dir_.filename().string()), std::string::npos) << detail;
    // Large texts take the huge-page way, which must hold the bytes just the same.
    const std::vector<std::uint8_t> large = Counting((std::size_t{5} << 20) + 17, 5);
    ASSERT_EQ(file.Open(Write("large.bin", large), detail), FileReadStatus::Ok);
    ASSERT_EQ(file.ReadInto(text, detail), FileReadStatus::Ok);
    ASSERT_EQ(text.size(), large.size());
    EXPECT_TRUE(std::memcmp(text.data(), large.data(), large.size()) == 0);
}

}  // namespace
