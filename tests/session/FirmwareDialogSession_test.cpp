// The firmware update dialog's rules without a window: the session over a simulated
// programmer, a view that records what it is told and answers its questions, and a
// dispatcher whose UI thread is the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/SimulatedBackend.h"
#include "tests/engine/TestFirmware.h"
#include "tests/support/QueueDispatcher.h"
#include "tests/support/TempFolder.h"
#include "update/FirmwareDialogSession.h"
#include "update/ProgrammerFirmware.h"

namespace {

constexpr int kWaitMs = 20000;

struct Said {
    MessageIcon icon = MessageIcon::Error;
    std::string text;
    bool question = false;
    std::string caption;         // of a question
    bool updateEnabled = false;  // the update button while it was up
};

// The dialog's controls as a window holds them, starting as the window's.
class RecordingView : public FirmwareDialogView {
public:
    void ShowVersionLine(const std::string& line) override { versionLine = line; }
    void SetUpdateEnabled(bool enabled) override { updateEnabled = enabled; }
    void SetFileChoiceEnabled(bool enabled) override { fileChoiceEnabled = enabled; }
    void ShowChosenFirmware(const std::string& shownPath, const std::string& versionLine) override {
        chosen.push_back(shownPath + " " + versionLine);
    }
    void SetProgressRange(std::uint32_t maximum) override { progressMaximum = maximum; }
    void SetProgressPosition(std::uint32_t position) override { progress = position; }
    void ShowMessage(MessageIcon icon, std::string_view text) override {
        said.push_back({icon, std::string(text), false, {}, updateEnabled});
    }
    bool AskYesNo(std::string_view caption, std::string_view text) override {
        said.push_back(
            {MessageIcon::Question, std::string(text), true, std::string(caption), updateEnabled});
        return answer;
    }
    void UpdateFinished(bool succeeded) override { finished.push_back(succeeded); }

    std::string versionLine;
    bool updateEnabled = true;
    bool fileChoiceEnabled = true;
    std::vector<std::string> chosen;  // path and version line of each file taken
    std::uint32_t progressMaximum = 0;
    std::uint32_t progress = 0;
    std::vector<Said> said;
    bool answer = false;
    std::vector<bool> finished;  // each end of an update, its result
};

// Ends the test program when the UI thread has not come back in time: a session that
// deadlocks on its worker would otherwise hang until ctest's own limit.
class Watchdog {
public:
    explicit Watchdog(const char* what)
        : thread_([this, what] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                                  [&] { return over_; })) {
                  std::fprintf(stderr, "deadlock: %s\n", what);
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;  // last: it uses the members above
};

class FirmwareSessionTest : public ::testing::Test {
protected:
    // A simulated programmer with this firmware installed, opened, and the session over it.
    void Start(std::uint32_t installed) {
        programmer_ = &backend_.AddProgrammer(SimulatorConfig{0x1002, installed});
        ASSERT_TRUE(link_.Open());
        link_.SetFirmwareVersion(installed);
        link_.SetTimeouts(LinkTimeouts{.answerMs = 300});
        session_ = std::make_unique<FirmwareDialogSession>(link_, view_, dispatcher_);
        session_->Start();
    }
    // Serves the worker's calls until `done` holds.
    void ServeUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            dispatcher_.ServePending(10);
        }
        ASSERT_TRUE(done()) << "the worker did not get there";
    }
    // Starts the update, waits for its end and returns its result.
    bool RunUpdate() {
        const std::size_t before = view_.finished.size();
        session_->Update();
        ServeUntil([&] { return view_.finished.size() > before; });
        return !view_.finished.empty() && view_.finished.back();
    }
    int CountOf(Command command) const {
        int count = 0;
        for (const auto& request : programmer_->Requests()) {
            count += request.size() > 1 && request[1] == static_cast<std::uint8_t>(command);
        }
        return count;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Said& s : view_.said) texts.push_back(s.text);
        return texts;
    }

    SimulatedBackend backend_;  // first: the link and the session use it to their end
    SimulatedProgrammer* programmer_ = nullptr;
    ProgrammerLink link_{backend_};
    QueueDispatcher dispatcher_;
    RecordingView view_;
    std::unique_ptr<FirmwareDialogSession> session_;
};

TEST(FirmwareSession, ShowsTheInstalledVersion) {
    const struct {
        std::uint32_t installed;
        const char* line;
    } cases[] = {
        {0x0220, "Frimware:2.20"},
        {0x1001, "Frimware:10.01"},
        {0xFFFFFFFF, "Frimware:ffffff.ff"},
    };
    for (const auto& c : cases) {
        SimulatedBackend backend;
        backend.AddProgrammer(SimulatorConfig{0x1002, c.installed});
        ProgrammerLink link(backend);
        ASSERT_TRUE(link.Open());
        link.SetFirmwareVersion(c.installed);
        QueueDispatcher dispatcher;
        RecordingView view;
        FirmwareDialogSession session(link, view, dispatcher);
        EXPECT_EQ(view.versionLine, "");  // not before the view's controls exist
        session.Start();
        EXPECT_EQ(view.versionLine, c.line);
        EXPECT_TRUE(view.updateEnabled);
        EXPECT_TRUE(session.MayClose());
    }
}

TEST_F(FirmwareSessionTest, AChosenFileIsCheckedAtOnceAndInstalled) {
    Start(0x0210);
    TempFolder folder("marro-firmware-session");
    std::vector<std::uint8_t> broken = MakeFirmwareImage(0x400, 0x0215);
    WriteLe32(&broken[0], 0x08010000);
    const auto brokenPath = WriteBytes(folder / "broken.bin", broken);
    const std::vector<std::uint8_t> image = MakeFirmwareImage(0x400, 0x0215);
    const auto goodPath = WriteBytes(folder / "fw.bin", image);

    // A file without the programmer's form is refused at once, with what is wrong.
    session_->ChooseFile(brokenPath, "shown/broken.bin");
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.said[0].icon, MessageIcon::Error);
    EXPECT_NE(view_.said[0].text.find("broken.bin"), std::string::npos) << view_.said[0].text;
    EXPECT_NE(view_.said[0].text.find("stack pointer"), std::string::npos) << view_.said[0].text;
    EXPECT_TRUE(view_.chosen.empty());

    session_->ChooseFile(goodPath, "shown/fw.bin");
    EXPECT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.chosen, std::vector<std::string>{"shown/fw.bin Frimware:2.15"});
    // A refusal after a good choice keeps that choice.
    session_->ChooseFile(brokenPath, "shown/broken.bin");
    EXPECT_EQ(view_.said.size(), 2u);
    EXPECT_EQ(view_.chosen.size(), 1u);
    EXPECT_TRUE(programmer_->Requests().empty());

    view_.said.clear();
    EXPECT_TRUE(RunUpdate());
    EXPECT_EQ(Texts(), std::vector<std::string>{kMsgFirmwareUpdated});
    EXPECT_EQ(view_.versionLine, "Frimware:2.15");
    const std::uint8_t* area = programmer_->Flash() + (kFirmwareAreaAddress - kSimFlashAddress);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), area));
    EXPECT_EQ(CountOf(Command::WriteFirmware), 0x400 / 32);
}

TEST_F(FirmwareSessionTest, SameVersionAsksAndNoSendsNothing) {
    Start(0x0220);
    EXPECT_FALSE(RunUpdate());
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_TRUE(view_.said[0].question);
    EXPECT_EQ(view_.said[0].caption, kFirmwareQuestionCaption);
    EXPECT_EQ(view_.said[0].text, kMsgFirmwareUpToDate);
    EXPECT_FALSE(view_.said[0].updateEnabled);  // disabled before asking
    EXPECT_TRUE(programmer_->Requests().empty());
    EXPECT_TRUE(view_.updateEnabled);
    EXPECT_TRUE(view_.fileChoiceEnabled);
    EXPECT_EQ(view_.versionLine, "Frimware:2.20");
    EXPECT_EQ(link_.firmwareVersion(), 0x0220u);
}

TEST_F(FirmwareSessionTest, OlderVersionUpdatesWithoutAsking) {
    Start(0x0210);
    EXPECT_EQ(view_.versionLine, "Frimware:2.10");
    EXPECT_TRUE(RunUpdate());
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_FALSE(view_.said[0].question);
    EXPECT_EQ(view_.said[0].text, kMsgFirmwareUpdated);
    EXPECT_EQ(view_.said[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(view_.said[0].updateEnabled);  // still disabled while the result shows
    EXPECT_TRUE(view_.updateEnabled);
    EXPECT_TRUE(view_.fileChoiceEnabled);

    EXPECT_EQ(view_.versionLine, "Frimware:2.20");
    EXPECT_EQ(link_.firmwareVersion(), 0x0220u);
    EXPECT_EQ(programmer_->FirmwareWord(), 0x0220u);
    const auto size = static_cast<std::uint32_t>(ProgrammerFirmwareImage().size());
    const int blocks = static_cast<int>((size + 31) / 32);
    EXPECT_EQ(view_.progressMaximum, size);
    EXPECT_EQ(view_.progress, static_cast<std::uint32_t>((blocks - 1) * 32));  // the last block
    EXPECT_EQ(CountOf(Command::WriteFirmware), blocks);
    EXPECT_EQ(CountOf(Command::EraseFirmware), 1);
    EXPECT_EQ(CountOf(Command::FirmwareCrc), 1);
}

TEST_F(FirmwareSessionTest, WriteRefusedAtTheHundredthBlock) {
    Start(0x0210);
    programmer_->AddFault(Fault{Command::WriteFirmware, FaultKind::Status, 100});
    EXPECT_FALSE(RunUpdate());
    ASSERT_EQ(view_.said.size(), 1u);
    EXPECT_EQ(view_.said[0].text, kMsgFirmwareUpdateFailed[5]);
    EXPECT_EQ(view_.said[0].icon, MessageIcon::Error);
    EXPECT_EQ(view_.progress, 98u * 32);  // the last block written
    EXPECT_EQ(view_.versionLine, "Frimware:2.10");
    EXPECT_EQ(link_.firmwareVersion(), 0x0210u);
    EXPECT_TRUE(view_.updateEnabled);
    EXPECT_TRUE(view_.fileChoiceEnabled);
    EXPECT_TRUE(session_->MayClose());
    // Nothing is rolled back and it can run again at once.
    view_.said.clear();
    EXPECT_TRUE(RunUpdate());
    EXPECT_EQ(Texts(), std::vector<std::string>{kMsgFirmwareUpdated});
}

TEST_F(FirmwareSessionTest, ASecondClickDoesNotStartASecondUpdate) {
    Start(0x0210);
    session_->Update();
    session_->Update();  // before the worker has disabled the button
    ServeUntil([&] { return !view_.finished.empty(); });
    // A second update would now ask, the version being the same, and end at once.
    dispatcher_.ServePending(300);
    EXPECT_EQ(view_.finished, std::vector<bool>{true});
    EXPECT_EQ(Texts(), std::vector<std::string>{kMsgFirmwareUpdated});
    EXPECT_EQ(CountOf(Command::EraseFirmware), 1);
}

TEST_F(FirmwareSessionTest, NoCloseNorNewChoiceWhileTheUpdateRuns) {
    Start(0x0210);
    TempFolder folder("marro-firmware-session");
    const auto other = WriteBytes(folder / "fw.bin", MakeFirmwareImage(0x400, 0x0215));
    // A write that never answers keeps the worker busy for the link's time-out.
    programmer_->AddFault(Fault{Command::WriteFirmware, FaultKind::Hang, 3});
    session_->Update();
    EXPECT_TRUE(session_->Updating());
    EXPECT_FALSE(session_->MayClose());
    EXPECT_FALSE(view_.fileChoiceEnabled);
    // The worker reads the image it was given until it ends.
    session_->ChooseFile(other, "fw.bin");
    EXPECT_TRUE(view_.chosen.empty());
    ServeUntil([&] { return view_.progress >= 32; });  // the second block written
    EXPECT_FALSE(session_->MayClose());

    ServeUntil([&] { return !view_.finished.empty(); });
    EXPECT_EQ(view_.finished, std::vector<bool>{false});
    EXPECT_EQ(Texts(), std::vector<std::string>{kMsgFirmwareUpdateFailed[4]});
    EXPECT_TRUE(session_->MayClose());
    EXPECT_FALSE(session_->Updating());
    EXPECT_TRUE(view_.fileChoiceEnabled);
}

TEST_F(FirmwareSessionTest, DestroyedWhileTheWorkerWaitsOnTheUiThread) {
    Start(0x0220);
    session_->Update();
    // The worker's calls (the button, then its question) wait for the UI thread, which
    // never gets to them: the session's end must release the worker, which then takes the
    // answer as No.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (dispatcher_.Waiting() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GT(dispatcher_.Waiting(), 0u);
    {
        Watchdog watchdog("the session's end waits on a worker that waits on the UI thread");
        session_.reset();
    }
    EXPECT_TRUE(view_.said.empty());
    EXPECT_TRUE(view_.finished.empty());
    EXPECT_TRUE(programmer_->Requests().empty());
}

TEST_F(FirmwareSessionTest, DestroyedInTheMiddleOfTheWrites) {
    Start(0x0210);
    // The 20th block never gets its answer: the worker waits on the link, not the view.
    programmer_->AddFault(Fault{Command::WriteFirmware, FaultKind::Hang, 20});
    session_->Update();
    ServeUntil([&] { return view_.progress >= 18 * 32; });
    {
        Watchdog watchdog("the session's end waits on a worker in the middle of its writes");
        session_.reset();
    }
    // The worker ran to its end (a read failure), unseen.
    EXPECT_TRUE(view_.said.empty());
    EXPECT_TRUE(view_.finished.empty());
    EXPECT_EQ(CountOf(Command::WriteFirmware), 20);
    EXPECT_EQ(CountOf(Command::FirmwareCrc), 0);
    EXPECT_EQ(link_.firmwareVersion(), 0x0210u);
}

}  // namespace
