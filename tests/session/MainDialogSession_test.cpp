// The main dialog's rules without a window: the session over the simulated programmer,
// a view that records what it is told and answers its questions, and a dispatcher whose
// UI thread is the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "job/JobHeader.h"
#include "job/UploadJob.h"
#include "link/SimulatedBackend.h"
#include "session/MainDialogSession.h"
#include "tests/session/SessionRecorders.h"
#include "tests/support/QueueDispatcher.h"
#include "tests/support/TempFolder.h"

namespace {

std::string Text(std::string_view text) { return std::string(text); }

class SessionTest : public ::testing::Test {
protected:
    void TearDown() override { session_.reset(); }
    SimulatedProgrammer& AddProgrammer(const std::string& path) {
        SimulatorConfig config;
        config.path = path;
        return backend_.AddProgrammer(config);
    }
    MainDialogSession& Start() {
        session_ = std::make_unique<MainDialogSession>(backend_, view_, dispatcher_);
        session_->Start();
        Settle();
        return *session_;
    }
    void Settle() {
        ASSERT_TRUE(session_->FinishWorkers(20000));
        dispatcher_.ServePending(0);
    }
    // A raw binary image of `size` bytes, loaded at the view's start address.
    void LoadBinary(const std::string& name, std::size_t size) {
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << std::string(size, '\x5A');
        session_->OpenFile(ChosenFile{path, path.string(), name, false});
    }

    TempFolder folder_{"marro-session"};
    SimulatedBackend backend_;
    QueueDispatcher dispatcher_;
    RecordingView view_;
    std::unique_ptr<MainDialogSession> session_;
};

TEST_F(SessionTest, CheckBoxRules) {
    Start();
    // Read protection and the lock exclude each other; the lock only on the user's word.
    struct Case {
        bool readProtectBefore;
        bool lockChecked;  // the lock's state after the click
        bool answer;
        bool asked;
        bool readProtectAfter;
        bool lockAfter;
    } cases[] = {
        {true, true, true, true, false, true},
        {true, true, false, true, true, false},
        {true, false, true, false, true, false},  // unchecking asks nothing
    };
    for (const Case& c : cases) {
        view_.said.clear();
        view_.checked[DialogControl::ReadProtect] = c.readProtectBefore;
        view_.checked[DialogControl::LockChip] = c.lockChecked;
        view_.answer = c.answer;
        session_->LockChipClicked(c.lockChecked);
        ASSERT_EQ(view_.said.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(view_.said[0].text, kMsgLockChipQuestion);
            EXPECT_EQ(view_.said[0].caption, QuestionCaption::Application);
            EXPECT_FALSE(view_.said[0].defaultNo);
        }
        EXPECT_EQ(view_.checked[DialogControl::ReadProtect], c.readProtectAfter);
        EXPECT_EQ(view_.checked[DialogControl::LockChip], c.lockAfter);
    }
    view_.checked[DialogControl::LockChip] = true;
    session_->ReadProtectClicked();
    EXPECT_FALSE(view_.checked[DialogControl::LockChip]);
    for (bool on : {true, false}) {
        session_->CountLimitClicked(on);
        EXPECT_EQ(view_.enabled[DialogControl::CountEdit], on);
    }
}

TEST_F(SessionTest, ProgramRefusesBeforeAnythingIsSent) {
    SimulatedProgrammer& programmer = AddProgrammer("sim:a");
    Start();
    // Nothing loaded: nothing to do, nothing said.
    session_->Program();
    EXPECT_TRUE(view_.said.empty());

    LoadBinary("image.bin", 256);
    EXPECT_EQ(view_.path, (folder_ / "image.bin").string());
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);
    EXPECT_TRUE(view_.enabled[DialogControl::RemoteFile]);
    ASSERT_EQ(view_.series, -1);  // the erased programmer selects none
    programmer.ClearRequests();
    session_->Program();
    Settle();
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{kMsgSeriesNotSelected});
    EXPECT_EQ(view_.said.back().icon, MessageIcon::Exclamation);
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);

    // With a product of the serial ledger, the count edit is the block's size.
    view_.said.clear();
    view_.series = 1;
    session_->serials.product = "board-a";
    for (const char* count : {"0", "-5", "abc"}) {
        view_.countText = count;
        session_->Program();
        Settle();
    }
    EXPECT_EQ(view_.Texts(), std::vector<std::string>(3, kMsgSerialCountNeeded));
    EXPECT_TRUE(programmer.Requests().empty());
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);

    // A ledger that cannot be had (a folder; any ledger on a build without the stores)
    // leases nothing, and nothing is sent.
    view_.said.clear();
    view_.countText = "5";
    session_->serials.ledger = folder_.Path().string();
    session_->Program();
    Settle();
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.said[0].text.rfind(std::string(kMsgSerialsNotLeased) + "\n", 0), 0u)
        << view_.said[0].text;
    EXPECT_EQ(view_.said[0].icon, MessageIcon::Error);
    EXPECT_TRUE(programmer.Requests().empty());
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);
}

TEST_F(SessionTest, EachStoreTakesABlockOfItsOwnFromTheSerialLedger) {
#if !MARRO_SERIAL_LEDGER
    GTEST_SKIP() << "this build has no serial ledger stores";
#endif
    SimulatedProgrammer& programmer = AddProgrammer("sim:a");
    Start();
    session_->shift.shiftEnabled = 1;
    session_->shift.shiftStart = 1000;
    session_->serials.product = "board-a";
    session_->serials.ledger = (folder_ / "serials.sqlite").string();
    LoadBinary("leased.bin", 256);
    view_.series = 1;
    view_.countText = "100";
    const auto storedHeader = [&] {
        return JobHeader::Decode(programmer.Storage() + kJobAreaAddress);
    };
    // The job list's options row ends with the block and what of it is used.
    const auto shownBlock = [&](const std::string& block) {
        for (const JobDescriptionRow& row : view_.job) {
            if (row.value.size() >= block.size() &&
                row.value.compare(row.value.size() - block.size(), block.size(), block) == 0) {
                return true;
            }
        }
        return false;
    };
    for (const std::int32_t first : {1000, 1100}) {
        view_.said.clear();
        session_->Program();
        Settle();
        EXPECT_EQ(view_.Texts(), std::vector<std::string>{Text(kUploadDoneText)});
        // Each store its own block, and the programmer stops at its end by itself.
        const JobHeader header = storedHeader();
        EXPECT_EQ(header.shiftEnabled, 1);
        EXPECT_EQ(header.shiftStart, first);
        EXPECT_EQ(header.shiftValue, first);
        EXPECT_EQ(header.countLimit, 100);
        EXPECT_TRUE(header.options & OptCountLimit);
        const std::string block =
            "(" + std::to_string(first) + "–" + std::to_string(first + 99) + ", 已用0)";
        EXPECT_TRUE(shownBlock(block)) << block;
    }

    // Both blocks recorded as stored, for the programmer that took them.
    {
        std::string error;
        const auto ledger = OpenSerialLedger(session_->serials.ledger, error);
        ASSERT_TRUE(ledger) << error;
        const auto leases = ledger->ListLeases("", error);
        ASSERT_TRUE(leases) << error;
        ASSERT_EQ(leases->size(), 2u);
        for (std::size_t i = 0; i < leases->size(); ++i) {
            EXPECT_EQ((*leases)[i].firstValue, 1000 + 100 * static_cast<std::int64_t>(i));
            EXPECT_EQ((*leases)[i].count, 100);
            EXPECT_EQ((*leases)[i].state, LeaseState::Stored);
            EXPECT_EQ((*leases)[i].holder.programmerPath, "sim:a");
        }
    }

    // Without a product the dialog's own code shift is stored, never the last block.
    session_->serials.product.clear();
    session_->Program();
    Settle();
    EXPECT_EQ(storedHeader().shiftStart, 1000);
    EXPECT_FALSE(shownBlock("已用0)"));
    session_->serials.product = "board-a";
    session_->Program();
    Settle();
    EXPECT_EQ(storedHeader().shiftStart, 1200);

    // At its next connection the programmer's use of its block is recorded and shown; a
    // block the ledger never handed out is a conflict, said at the connection.
    const struct {
        std::int32_t start;
        std::int32_t value;
        const char* block;  // shown, or none
        bool conflict;
    } connections[] = {
        {1200, 1237, "(1200–1299, 已用37)", false},
        {5000, 5000, nullptr, true},
    };
    for (const auto& c : connections) {
        JobHeader used = storedHeader();
        used.shiftStart = c.start;
        used.shiftValue = c.value;
        const auto bytes = used.Encode();
        std::memcpy(programmer.Storage() + kJobAreaAddress, bytes.data(), bytes.size());
        view_.said.clear();
        view_.job.clear();
        backend_.Unplug("sim:a");
        session_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Removal, "sim:a"});
        ASSERT_FALSE(session_->Link().IsOpen());
        backend_.Plug("sim:a");
        session_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Arrival, "sim:a"});
        Settle();
        if (c.block) {
            EXPECT_TRUE(shownBlock(c.block)) << c.block;
        }
        if (c.conflict) {
            ASSERT_EQ(view_.said.size(), 1u);
            EXPECT_EQ(view_.said[0].text.rfind(std::string(kMsgSerialConflict) + "\n", 0), 0u)
                << view_.said[0].text;
        } else {
            EXPECT_TRUE(view_.said.empty()) << view_.said[0].text;
        }
    }
}

TEST_F(SessionTest, UploadReportsThroughTheView) {
    AddProgrammer("sim:a");
    Start();
    EXPECT_EQ(view_.programmers.size(), 1u);
    EXPECT_EQ(view_.chosenProgrammer, 0);
    EXPECT_FALSE(view_.programmersNamed);
    LoadBinary("Blink.bin", 1000);
    view_.series = 2;
    view_.checked[DialogControl::CountLimit] = true;
    view_.countText = "7";
    session_->Program();
    EXPECT_FALSE(view_.enabled[DialogControl::Program]);
    EXPECT_FALSE(session_->EscapeCloses());
    Settle();
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{Text(kUploadDoneText)});
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);
    EXPECT_TRUE(session_->EscapeCloses());
    EXPECT_GT(view_.progressMaximum, 0u);
    EXPECT_EQ(view_.progress, view_.progressMaximum);
    // The job the worker stored is the one the view was told about.
    bool named = false;
    for (const JobDescriptionRow& row : view_.job) named |= row.value == "Blink.bin";
    EXPECT_TRUE(named);
}

TEST_F(SessionTest, RemovalLeavesTheChoiceToTheOperator) {
    AddProgrammer("sim:a");
    AddProgrammer("sim:b");
    Start();
    const std::string first = session_->Link().DevicePath();
    const std::string other = first == "sim:a" ? "sim:b" : "sim:a";
    ASSERT_EQ(view_.programmers.size(), 2u);
    EXPECT_TRUE(view_.programmersNamed);
    LoadBinary("image.bin", 64);
    ASSERT_TRUE(view_.enabled[DialogControl::Program]);

    // Never a silent switch: the other is listed, none chosen, Program waits.
    backend_.Unplug(first);
    session_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Removal, first});
    EXPECT_FALSE(session_->Link().IsOpen());
    ASSERT_EQ(view_.programmers.size(), 1u);
    EXPECT_EQ(view_.programmers[0].path, other);
    EXPECT_EQ(view_.chosenProgrammer, -1);
    EXPECT_FALSE(view_.enabled[DialogControl::Program]);
    // A file loaded meanwhile does not offer Program either.
    LoadBinary("again.bin", 64);
    EXPECT_FALSE(view_.enabled[DialogControl::Program]);

    // One that cannot be opened is said, and the choice stays open.
    session_->ChooseProgrammer("sim:gone");
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.said[0].text.rfind(kMsgChoiceNotOpened, 0), 0u) << view_.said[0].text;
    EXPECT_FALSE(view_.enabled[DialogControl::Program]);

    session_->ChooseProgrammer(other);
    Settle();
    EXPECT_EQ(session_->Link().DevicePath(), other);
    EXPECT_EQ(view_.chosenProgrammer, 0);
    EXPECT_TRUE(view_.enabled[DialogControl::Program]);
    EXPECT_NE(session_->Link().connectionCode(), 0u);
}

TEST_F(SessionTest, CloseRules) {
    SimulatedProgrammer& programmer = AddProgrammer("sim:a");
    // The 10th image block never gets its answer.
    programmer.AddFault(Fault{Command::WriteStorage, FaultKind::Hang, 10});
    Start();
    EXPECT_TRUE(session_->EscapeCloses());
    EXPECT_TRUE(session_->MayClose());
    EXPECT_TRUE(view_.said.empty());

    // The firmware dialog's store counts as much as an upload.
    view_.firmwareStoring = true;
    EXPECT_FALSE(session_->EscapeCloses());
    view_.answer = false;
    EXPECT_FALSE(session_->MayClose());
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.said[0].text, kMsgCloseWhileStoring);
    EXPECT_EQ(view_.said[0].caption, QuestionCaption::System);
    EXPECT_TRUE(view_.said[0].defaultNo);
    view_.firmwareStoring = false;

    LinkTimeouts timeouts;
    timeouts.answerMs = 300;
    session_->Link().SetTimeouts(timeouts);
    LoadBinary("hang.bin", 16 * 1024);
    view_.series = 1;
    session_->Program();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (view_.progress == 0 && std::chrono::steady_clock::now() < deadline) {
        dispatcher_.ServePending(10);
    }
    ASSERT_GT(view_.progress, 0u);
    view_.said.clear();
    view_.answer = true;
    ASSERT_TRUE(session_->MayClose());
    session_->Close();
    EXPECT_TRUE(session_->Closed());
    EXPECT_FALSE(session_->WorkersRunning());
    // The worker's own failure is not shown; the note says what the programmer holds.
    EXPECT_EQ(view_.Texts(), (std::vector<std::string>{kMsgCloseWhileStoring, kMsgJobIncomplete}));
}

TEST_F(SessionTest, ClosingDuringAFirmwareStoreSaysSo) {
    Start();
    view_.firmwareStoring = true;
    session_->Close();
    EXPECT_EQ(view_.Texts(), std::vector<std::string>{kMsgFirmwareIncomplete});
}

}  // namespace
