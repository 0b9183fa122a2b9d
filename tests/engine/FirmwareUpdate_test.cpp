#include "update/UpdateProgrammerFirmware.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "link/SimulatedProgrammer.h"
#include "update/ProgrammerFirmware.h"

namespace {

constexpr std::uint32_t kCarriedVersion = 0x0220;

class RecordingPort : public FirmwareUpdatePort {
public:
    explicit RecordingPort(ProgrammerLink& link) : link_(link) {}

    bool answer = true;
    std::vector<std::pair<std::string, std::string>> questions;  // caption, text
    std::vector<std::pair<MessageIcon, std::string>> messages;
    std::vector<bool> enabled;
    std::optional<std::uint32_t> range;
    std::vector<std::uint32_t> positions;
    std::vector<std::uint32_t> versionsShown;

    ProgrammerLink& Link() override { return link_; }
    bool AskYesNo(std::string_view caption, std::string_view text) override {
        questions.emplace_back(std::string(caption), std::string(text));
        return answer;
    }
    void SetUpdateEnabled(bool on) override { enabled.push_back(on); }
    void ShowFirmwareVersion(std::uint32_t version) override { versionsShown.push_back(version); }
    void SetProgressRange(std::uint32_t maximum) override { range = maximum; }
    void SetProgressPosition(std::uint32_t position) override { positions.push_back(position); }
    void ShowMessage(MessageIcon icon, std::string_view text) override {
        messages.emplace_back(icon, std::string(text));
    }

private:
    ProgrammerLink& link_;
};

class FirmwareUpdateTest : public ::testing::Test {
protected:
    FirmwareUpdateTest()
        : programmer_(backend_.AddProgrammer()), link_(backend_), port_(link_) {}

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
        EXPECT_EQ(port_.messages.back().first, MessageIcon::Error);
        EXPECT_EQ(port_.messages.back().second, Format("固件更新失败 错误码:%02d", code));
        EXPECT_EQ(port_.enabled, (std::vector<bool>{false, true}));
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
    std::ifstream file(MARRO_SOURCE_DIR "/update/firmware/programmer-firmware.bin", std::ios::binary);
    ASSERT_TRUE(file.good());
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    const auto image = ProgrammerFirmwareImage();
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.end()), bytes);
}

TEST_F(FirmwareUpdateTest, InstallsTheImageBlockByBlock) {
    const auto image = ProgrammerFirmwareImage();
    const auto n = static_cast<std::uint32_t>(image.size());
    const std::uint32_t blocks = (n + 31) / 32;

    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_);
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

    ASSERT_TRUE(port_.range.has_value());
    EXPECT_EQ(*port_.range, n);
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
    EXPECT_EQ(port_.messages[0].first, MessageIcon::Exclamation);
    EXPECT_EQ(port_.messages[0].second, "固件更新完成");
    EXPECT_EQ(port_.enabled, (std::vector<bool>{false, true}));
}

TEST_F(FirmwareUpdateTest, RefusedBlockStopsAtItsCode) {
    programmer_.AddFault({Command::WriteFirmware, FaultKind::Status, 100});
    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_);
    EXPECT_EQ(outcome.kind, OutcomeKind::Refused);
    ExpectFailure(outcome, 6);
    EXPECT_EQ(port_.positions.back(), 3136u);  // the 99th block's offset
    EXPECT_EQ(Count(Command::WriteFirmware), 100u);
    EXPECT_EQ(Count(Command::FirmwareCrc), 0u);
}

TEST_F(FirmwareUpdateTest, ChecksumMismatchKeepsTheVersion) {
    programmer_.AddFault({Command::FirmwareCrc, FaultKind::Crc, 1});
    const WorkerOutcome outcome = UpdateProgrammerFirmware(port_);
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
        const WorkerOutcome outcome = UpdateProgrammerFirmware(port);
        SCOPED_TRACE(c.code);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.kind, c.outcome);
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.messages[0].first, MessageIcon::Error);
        EXPECT_EQ(port.messages[0].second, kMsgFirmwareUpdateFailed[c.code - 1]);
        EXPECT_EQ(port.enabled, (std::vector<bool>{false, true}));
        EXPECT_EQ(link.firmwareVersion(), 0x0210u);
        // Nothing after the failed request was sent.
        EXPECT_EQ(programmer.Requests().back()[1], static_cast<std::uint8_t>(c.command));
    }
}

TEST_F(FirmwareUpdateTest, NoProgrammerFailsAtTheFirstRequest) {
    link_.Close();
    ExpectFailure(UpdateProgrammerFirmware(port_), 1);
    EXPECT_TRUE(programmer_.Requests().empty());
}

TEST_F(FirmwareUpdateTest, AsksOnlyWhenTheInstalledVersionIsCurrent) {
    // Installed 0x0220 as carried: asked; No sends nothing and enables the button again.
    link_.SetFirmwareVersion(0x0220);
    port_.answer = false;
    const WorkerOutcome declined = UpdateProgrammerFirmware(port_);
    EXPECT_EQ(declined.kind, OutcomeKind::Declined);
    ASSERT_EQ(port_.questions.size(), 1u);
    EXPECT_EQ(port_.questions[0].first, "提示");
    EXPECT_EQ(port_.questions[0].second, "固件已经是最新版本,是否继续更新固件?");
    EXPECT_TRUE(programmer_.Requests().empty());
    EXPECT_TRUE(port_.messages.empty());
    EXPECT_EQ(port_.enabled, (std::vector<bool>{false, true}));

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
        EXPECT_TRUE(UpdateProgrammerFirmware(port_).ok());
        EXPECT_EQ(port_.questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(programmer_.Requests().size(), (ProgrammerFirmwareImage().size() + 31) / 32 + 2);
    }
}

TEST_F(FirmwareUpdateTest, ProgrammerRefusesAnImageThatCannotStart) {
    // A test image whose reset vector lacks the Thumb bit, sent by hand.
    std::vector<std::uint8_t> image(ProgrammerFirmwareImage().begin(), ProgrammerFirmwareImage().end());
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
