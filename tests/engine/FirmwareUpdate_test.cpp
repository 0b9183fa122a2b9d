#include "update/UpdateProgrammerFirmware.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "link/SimulatedBackend.h"
#include "tests/engine/TestFirmware.h"
#include "tests/support/RecordingPort.h"
#include "tests/support/TempFolder.h"
#include "update/FirmwareForm.h"
#include "update/ProgrammerFirmware.h"

namespace {

constexpr std::uint32_t kCarriedVersion = 0x0220;

// The simulated programmer behind a backend that does not say it is simulated, as the
// hidapi and Windows backends do not: to the link it is hardware.
class HardwareLikeBackend : public HidBackend {
public:
    explicit HardwareLikeBackend(SimulatedBackend& inner) : inner_(inner) {}

    std::vector<HidDeviceInfo> Enumerate() override { return inner_.Enumerate(); }
    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override {
        std::unique_ptr<HidDevice> device = inner_.Open(path, error);
        if (!device) return nullptr;
        return std::make_unique<Device>(std::move(device));
    }

private:
    class Device : public HidDevice {
    public:
        explicit Device(std::unique_ptr<HidDevice> inner) : inner_(std::move(inner)) {}
        bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
            return inner_->Attributes(vendorId, productId);
        }
        std::size_t OutputReportLength() const override { return inner_->OutputReportLength(); }
        bool Write(const std::uint8_t* report, std::size_t length) override {
            return inner_->Write(report, length);
        }
        HidReadStatus Read(std::uint8_t* report, std::size_t length, int timeoutMs) override {
            return inner_->Read(report, length, timeoutMs);
        }
        const std::string& LastError() const override { return inner_->LastError(); }

    private:
        std::unique_ptr<HidDevice> inner_;
    };
    SimulatedBackend& inner_;
};

class FirmwareUpdateTest : public ::testing::Test {
protected:
    FirmwareUpdateTest() : programmer_(backend_.AddProgrammer()), link_(backend_), port_(link_) {}

    void SetUp() override {
        ASSERT_TRUE(link_.Open());
        link_.SetFirmwareVersion(0x0210);
        link_.SetTrace([this](char direction, const std::uint8_t* bytes, std::size_t size) {
            if (direction == '<') answers_.emplace_back(bytes, bytes + size);
        });
    }

    std::size_t Count(Command command) const {
        std::size_t n = 0;
        for (const auto& request : programmer_.Requests()) {
            n += request[1] == static_cast<std::uint8_t>(command);
        }
        return n;
    }

    void ExpectFailure(const WorkerOutcome& outcome, int code) {
        EXPECT_EQ(outcome.code, code);
        ASSERT_FALSE(port_.messages.empty());
        EXPECT_EQ(port_.icons.back(), MessageIcon::Error);
        EXPECT_EQ(port_.messages.back(), Format("固件更新失败 错误码:%02d", code));
        EXPECT_EQ(port_.updateStates, (std::vector<bool>{false, true}));
        EXPECT_EQ(link_.firmwareVersion(), 0x0210u);
        EXPECT_TRUE(port_.versionsShown.empty());
    }

    static std::string Format(const char* format, int code) {
        char text[64];
        std::snprintf(text, sizeof text, format, code);
        return text;
    }

    SimulatedBackend backend_;
    SimulatedProgrammer& programmer_;
    ProgrammerLink link_;
    RecordingPort port_;
    std::vector<std::vector<std::uint8_t>> answers_;
};

TEST(ProgrammerFirmwareImage, HasTheFormTheProgrammerStarts) {
    const auto image = ProgrammerFirmwareImage();
    ASSERT_GE(image.size(), 0x100u);
    EXPECT_EQ(image.size() % 4, 0u);
    EXPECT_EQ(ProgrammerFirmwareVersionWord(), kCarriedVersion);
    EXPECT_EQ(ReadLe32(image.data() + 0xEC), kCarriedVersion);

    const std::uint32_t stack = ReadLe32(image.data());
    EXPECT_GE(stack, 0x20000000u);
    EXPECT_LE(stack, 0x20010000u);
    auto inImage = [&](std::uint32_t vector) {
        const std::uint32_t entry = vector & ~1u;
        return (vector & 1u) != 0 && entry >= kProgrammerFirmwareAddress &&
               entry < kProgrammerFirmwareAddress + image.size();
    };
    const std::uint32_t reset = ReadLe32(image.data() + 4);
    EXPECT_TRUE(inImage(reset));
    for (std::size_t index = 2; index < 0xEC / 4; ++index) {
        const std::uint32_t vector = ReadLe32(image.data() + 4 * index);
        const bool reserved = (index >= 7 && index <= 10) || index == 13;
        if (reserved) {
            EXPECT_EQ(vector, 0u) << "vector " << index;
        } else {
            EXPECT_TRUE(inImage(vector)) << "vector " << index;
        }
    }
    // The reset handler ends in a branch back into itself (a Thumb B with a negative offset).
    const std::size_t handler = (reset & ~1u) - kProgrammerFirmwareAddress;
    bool loops = false;
    for (std::size_t at = handler; at < handler + 16; at += 2) {
        const std::uint16_t op = ReadLe16(image.data() + at);
        loops = loops || ((op & 0xF800) == 0xE000 && (op & 0x0400) != 0);
    }
    EXPECT_TRUE(loops);
}

TEST(ProgrammerFirmwareImage, IsTheCarriedDataFile) {
    std::ifstream file(MARRO_CARRIED_FIRMWARE, std::ios::binary);
    ASSERT_TRUE(file.good());
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    const auto image = ProgrammerFirmwareImage();
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.end()), bytes);
    // Only the repository's own file is the placeholder; a build given the real image
    // carries none.
    const bool repositoryFile =
        std::string(MARRO_CARRIED_FIRMWARE).ends_with("/update/firmware/programmer-firmware.bin");
    EXPECT_EQ(ProgrammerFirmwareIsPlaceholder(), repositoryFile);
    EXPECT_EQ(CarriedProgrammerFirmware().placeholder, repositoryFile);
}

TEST(ProgrammerFirmwareFile, RefusesWhatTheUpdateCannotInstall) {
    namespace fs = std::filesystem;
    const TempFolder dir("marro-firmware-file");
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        return WriteBytes(dir / name, bytes);
    };
    auto with = [](std::size_t offset, std::uint32_t word, std::size_t size = 0x400) {
        std::vector<std::uint8_t> image = MakeFirmwareImage(size, 0x0215);
        WriteLe32(&image[offset], word);
        return image;
    };
    std::vector<std::uint8_t> odd = MakeFirmwareImage(0x400, 0x0215);
    odd.push_back(0);
    fs::create_directory(dir / "folder.bin");

    struct Case {
        const char* what;
        fs::path file;
        FirmwareFault fault;
    };
    std::vector<Case> cases = {
        {"good", write("good.bin", MakeFirmwareImage(0x400, 0x0215)), FirmwareFault::None},
        {"the whole area", write("area.bin", MakeFirmwareImage(kFirmwareAreaSize, 0x0215)),
         FirmwareFault::None},
        {"stack at the top of SRAM", write("top.bin", with(0, 0x20010000)), FirmwareFault::None},
        {"empty", write("empty.bin", {}), FirmwareFault::Empty},
        {"bigger than the area", write("big.bin", MakeFirmwareImage(kFirmwareAreaSize + 4, 0x0215)),
         FirmwareFault::TooLarge},
        {"not whole words", write("odd.bin", odd), FirmwareFault::NotWholeWords},
        {"ends before the version word", write("short.bin", std::vector<std::uint8_t>(0xEC, 0x20)),
         FirmwareFault::TooShort},
        {"stack in flash", write("flash-stack.bin", with(0, 0x08010000)),
         FirmwareFault::StackOutsideSram},
        {"stack at the bottom of SRAM", write("bottom.bin", with(0, 0x20000000)),
         FirmwareFault::StackOutsideSram},
        {"stack above SRAM", write("above.bin", with(0, 0x20010004)),
         FirmwareFault::StackOutsideSram},
        {"reset without the Thumb bit", write("arm.bin", with(4, 0x08004100)),
         FirmwareFault::ResetOutsideImage},
        {"reset past the image", write("past.bin", with(4, 0x08004401)),
         FirmwareFault::ResetOutsideImage},
        {"reset into the vector table", write("table.bin", with(4, 0x08004011)),
         FirmwareFault::ResetOutsideImage},
        {"reset linked for 0x08000000", write("base.bin", with(4, 0x08000101)),
         FirmwareFault::ResetOutsideImage},
        {"version word 0", write("v0.bin", with(0xEC, 0)), FirmwareFault::BadVersionWord},
        {"version word erased", write("vff.bin", with(0xEC, 0xFFFFFFFF)),
         FirmwareFault::BadVersionWord},
        {"an interrupt vector at 0xEC", write("vector.bin", with(0xEC, 0x08004101)),
         FirmwareFault::BadVersionWord},
        {"a folder", dir / "folder.bin", FirmwareFault::NotRegularFile},
        {"missing", dir / "missing.bin", FirmwareFault::OpenFailed},
    };
#if !defined(_WIN32)
    // Opening a FIFO would wait for a writer that never comes.
    ASSERT_EQ(mkfifo((dir / "fifo.bin").c_str(), 0600), 0);
    cases.push_back({"a FIFO", dir / "fifo.bin", FirmwareFault::NotRegularFile});
    // A terabyte, sparse (NTFS would reserve it), and 0x400 bytes when the size is cut to
    // 32 bits: it must be refused by its size, since reading it first could not hold it.
    const fs::path huge = write("huge.bin", MakeFirmwareImage(0x400, 0x0215));
    fs::resize_file(huge, (std::uintmax_t{1} << 40) + 0x400);
    cases.push_back({"a terabyte", huge, FirmwareFault::TooLarge});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> image = {1, 2, 3};
        const FirmwareCheck check = ReadProgrammerFirmwareFile(c.file, image);
        EXPECT_EQ(check.fault, c.fault) << check.problem;
        if (c.fault == FirmwareFault::None) {
            EXPECT_EQ(image, ReadBytes(c.file));
        } else {
            EXPECT_TRUE(image.empty());
            EXPECT_NE(check.problem.find(c.file.filename().string()), std::string::npos)
                << check.problem;
        }
    }
}

TEST_F(FirmwareUpdateTest, InstallsTheImageBlockByBlock) {
    const auto image = ProgrammerFirmwareImage();
    const auto n = static_cast<std::uint32_t>(image.size());
    const std::uint32_t blocks = (n + 31) / 32;

    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware());
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_TRUE(port_.questions.empty());

    const auto& requests = programmer_.Requests();
    ASSERT_EQ(requests.size(), blocks + 2);
    ASSERT_EQ(answers_.size(), requests.size());
    for (const auto& request : requests) {
        ASSERT_EQ(request.size(), kReportSize);
        EXPECT_EQ(request[0], 0);
    }
    EXPECT_EQ(requests[0][1], 0x31);
    EXPECT_EQ(ReadLe32(&requests[0][2]), 0x08004000u);
    EXPECT_EQ(ReadLe32(&requests[0][6]), n);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const auto& request = requests[1 + b];
        const std::uint32_t offset = 32 * b;
        const std::uint32_t carried = std::min<std::uint32_t>(32, n - offset);
        ASSERT_EQ(request[1], 0x32) << "block " << b;
        EXPECT_EQ(ReadLe32(&request[2]), 0x08004000u + offset);
        EXPECT_EQ(ReadLe32(&request[6]), 32u);
        EXPECT_TRUE(std::equal(image.begin() + offset, image.begin() + offset + carried,
                               request.begin() + 10))
            << "block " << b;
        // Past the image's end the buffer still holds the previous answer.
        const auto& previous = answers_[b];
        for (std::size_t i = 10 + carried; i < kReportSize; ++i) {
            ASSERT_EQ(request[i], previous[i]) << "block " << b << " byte " << i;
        }
    }
    EXPECT_EQ(n % 32, 20u);  // so the last block above carried 20 bytes
    EXPECT_EQ(ReadLe32(&requests[blocks][2]), 0x08004000u + 32 * (blocks - 1));
    const auto& crc = requests.back();
    EXPECT_EQ(crc[1], 0x34);
    EXPECT_EQ(ReadLe32(&crc[2]), 0x08004000u);
    EXPECT_EQ(ReadLe32(&crc[6]), n);

    EXPECT_EQ(port_.ranges, std::vector<std::uint32_t>{n});
    ASSERT_EQ(port_.positions.size(), blocks + 1);
    EXPECT_EQ(port_.positions.front(), 0u);
    for (std::uint32_t b = 0; b < blocks; ++b) EXPECT_EQ(port_.positions[1 + b], 32 * b);

    // The programmer now runs the carried image.
    const std::uint8_t* area = programmer_.Flash() + (kFirmwareAreaAddress - kSimFlashAddress);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area));
    EXPECT_EQ(programmer_.FirmwareWord(), kCarriedVersion);
    EXPECT_EQ(link_.firmwareVersion(), kCarriedVersion);
    EXPECT_EQ(port_.versionsShown, std::vector<std::uint32_t>{kCarriedVersion});
    ASSERT_EQ(port_.messages.size(), 1u);
    EXPECT_EQ(port_.icons[0], MessageIcon::Exclamation);
    EXPECT_EQ(port_.messages[0], "固件更新完成");
    EXPECT_EQ(port_.updateStates, (std::vector<bool>{false, true}));
}

TEST_F(FirmwareUpdateTest, RefusedBlockStopsAtItsCode) {
    programmer_.AddFault({Command::WriteFirmware, FaultKind::Status, 100});
    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware());
    EXPECT_EQ(outcome.kind, OutcomeKind::Refused);
    ExpectFailure(outcome, 6);
    EXPECT_EQ(port_.positions.back(), 3136u);  // the 99th block's offset
    EXPECT_EQ(Count(Command::WriteFirmware), 100u);
    EXPECT_EQ(Count(Command::FirmwareCrc), 0u);
}

TEST_F(FirmwareUpdateTest, ChecksumMismatchKeepsTheVersion) {
    programmer_.AddFault({Command::FirmwareCrc, FaultKind::Crc, 1});
    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware());
    EXPECT_EQ(outcome.kind, OutcomeKind::VerifyMismatch);
    ExpectFailure(outcome, 9);
}

TEST_F(FirmwareUpdateTest, EveryFailedStepHasItsCode) {
    struct Case {
        Command command;
        FaultKind kind;
        int occurrence;
        int code;
        OutcomeKind outcome;
    };
    const Case cases[] = {
        {Command::EraseFirmware, FaultKind::Write, 1, 1, OutcomeKind::WriteFailed},
        {Command::EraseFirmware, FaultKind::Read, 1, 2, OutcomeKind::ReadFailed},
        {Command::EraseFirmware, FaultKind::Status, 1, 3, OutcomeKind::Refused},
        {Command::WriteFirmware, FaultKind::Write, 1, 4, OutcomeKind::WriteFailed},
        {Command::WriteFirmware, FaultKind::Read, 129, 5, OutcomeKind::ReadFailed},
        {Command::FirmwareCrc, FaultKind::Write, 1, 7, OutcomeKind::WriteFailed},
        {Command::FirmwareCrc, FaultKind::Read, 1, 8, OutcomeKind::ReadFailed},
    };
    for (const Case& c : cases) {
        SimulatedBackend backend;
        SimulatedProgrammer& programmer = backend.AddProgrammer();
        programmer.AddFault({c.command, c.kind, c.occurrence});
        ProgrammerLink link(backend);
        ASSERT_TRUE(link.Open());
        link.SetFirmwareVersion(0x0210);
        RecordingPort port(link);
        const WorkerOutcome outcome = UpdateProgrammerFirmware(port, CarriedProgrammerFirmware());
        SCOPED_TRACE(c.code);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.kind, c.outcome);
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.icons[0], MessageIcon::Error);
        EXPECT_EQ(port.messages[0], kMsgFirmwareUpdateFailed[c.code - 1]);
        EXPECT_EQ(port.updateStates, (std::vector<bool>{false, true}));
        EXPECT_EQ(link.firmwareVersion(), 0x0210u);
        // Nothing after the failed request was sent.
        EXPECT_EQ(programmer.Requests().back()[1], static_cast<std::uint8_t>(c.command));
    }
}

TEST_F(FirmwareUpdateTest, NoProgrammerFailsAtTheFirstRequest) {
    link_.Close();
    ExpectFailure(UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware()), 1);
    EXPECT_TRUE(programmer_.Requests().empty());
}

TEST_F(FirmwareUpdateTest, AsksOnlyWhenTheInstalledVersionIsCurrent) {
    // Installed 0x0220 as carried: asked; No sends nothing and enables the button again.
    link_.SetFirmwareVersion(0x0220);
    port_.answer = false;
    const WorkerOutcome declined = UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware());
    EXPECT_EQ(declined.kind, OutcomeKind::Declined);
    ASSERT_EQ(port_.questions.size(), 1u);
    EXPECT_EQ(port_.questions[0].first, "提示");
    EXPECT_EQ(port_.questions[0].second, "固件已经是最新版本,是否继续更新固件?");
    EXPECT_TRUE(programmer_.Requests().empty());
    EXPECT_TRUE(port_.messages.empty());
    EXPECT_EQ(port_.updateStates, (std::vector<bool>{false, true}));

    struct Case {
        std::uint32_t installed;
        bool asked;
    };
    for (const Case c : {Case{0x0220, true}, Case{0x1000, true}, Case{0x0210, false},
                         Case{0x1001, false}, Case{0xFFFFFFFF, false}}) {
        SCOPED_TRACE(c.installed);
        port_.questions.clear();
        programmer_.ClearRequests();
        port_.answer = true;
        link_.SetFirmwareVersion(c.installed);
        EXPECT_TRUE(UpdateProgrammerFirmware(port_, CarriedProgrammerFirmware()).ok());
        EXPECT_EQ(port_.questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(programmer_.Requests().size(), (ProgrammerFirmwareImage().size() + 31) / 32 + 2);
    }
}

TEST_F(FirmwareUpdateTest, RefusesBeforeAnythingIsSent) {
    const std::span<const std::uint8_t> carried = ProgrammerFirmwareImage();
    const ProgrammerFirmware placeholder{carried, true};
    std::vector<std::uint8_t> broken(carried.begin(), carried.end());
    WriteLe32(&broken[0], 0x08010000);  // its stack pointer in flash
    HardwareLikeBackend hardware(backend_);
    link_.Close();  // the programmer serves one link at a time

    struct Case {
        const char* what;
        bool onHardware;
        ProgrammerFirmware firmware;
        std::string message;
    };
    const Case cases[] = {
        {"the placeholder on hardware", true, placeholder, kMsgPlaceholderFirmware},
        {"an image without the programmer's form", false, ProgrammerFirmware{broken, false},
         kMsgFirmwareFormRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProgrammerLink link(c.onHardware ? static_cast<HidBackend&>(hardware) : backend_);
        ASSERT_TRUE(link.Open());
        link.SetFirmwareVersion(0x0220);  // the same version: the question would come first
        RecordingPort port(link);
        const WorkerOutcome outcome = UpdateProgrammerFirmware(port, c.firmware);
        EXPECT_EQ(outcome.kind, OutcomeKind::InputRefused);
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.icons[0], MessageIcon::Error);
        EXPECT_EQ(port.messages[0].rfind(c.message, 0), 0u) << port.messages[0];
        EXPECT_TRUE(port.questions.empty());
        EXPECT_EQ(port.updateStates, (std::vector<bool>{false, true}));
        EXPECT_TRUE(programmer_.Requests().empty());
        EXPECT_EQ(link.firmwareVersion(), 0x0220u);
    }

    // The same bytes that are not the placeholder do go to hardware, and the placeholder
    // does go to the simulated programmer.
    for (const bool onHardware : {true, false}) {
        SCOPED_TRACE(onHardware);
        ProgrammerLink link(onHardware ? static_cast<HidBackend&>(hardware) : backend_);
        ASSERT_TRUE(link.Open());
        RecordingPort port(link);
        const WorkerOutcome outcome =
            UpdateProgrammerFirmware(port, ProgrammerFirmware{carried, !onHardware});
        EXPECT_TRUE(outcome.ok()) << outcome.message;
        EXPECT_EQ(programmer_.FirmwareWord(), ReadLe32(&carried[0xEC]));
    }
}

TEST_F(FirmwareUpdateTest, ProgrammerRefusesAnImageThatCannotStart) {
    // A test image whose reset vector lacks the Thumb bit, sent by hand.
    std::vector<std::uint8_t> image(ProgrammerFirmwareImage().begin(),
                                    ProgrammerFirmwareImage().end());
    WriteLe32(&image[4], ReadLe32(&image[4]) & ~1u);

    ProgrammerLink::Session session = link_.Acquire();
    HidReport report;
    report.SetRequest(Command::EraseFirmware, kProgrammerFirmwareAddress,
                      static_cast<std::uint32_t>(image.size()));
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok);
    ASSERT_EQ(report.Status(), 0);
    report.SetRequest(Command::WriteFirmware, kProgrammerFirmwareAddress, 32);
    std::copy_n(image.begin(), 32, report.Data());
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok);
    EXPECT_NE(report.Status(), 0);

    // The same block with the bit set is taken.
    WriteLe32(&image[4], ReadLe32(&image[4]) | 1u);
    report.SetRequest(Command::WriteFirmware, kProgrammerFirmwareAddress, 32);
    std::copy_n(image.begin(), 32, report.Data());
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok);
    EXPECT_EQ(report.Status(), 0);
}

}  // namespace
