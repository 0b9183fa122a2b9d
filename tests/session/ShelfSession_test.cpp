// The shelf's rules without a window: four simulated programmers set up as the programs
// set them up, the shelf over the main dialog's session, and views that record.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/session/SessionRecorders.h"
#include "job/JobHeader.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "link/SimulatorSetup.h"
#include "session/ShelfSession.h"

namespace {

class RecordingShelfView : public ShelfView {
public:
    void ShowShelf(bool on) override { shown = on; }
    void ShowTiles(const std::vector<ShelfTile>& all) override { tiles = all; }
    void ShowTile(std::size_t index, const ShelfTile& tile) override {
        ASSERT_LT(index, tiles.size());
        tiles[index] = tile;
    }
    void ShowCounters(const ShelfCounters& shown) override { counters = shown; }
    void AddLogLine(const ShelfLogLine& line) override { log.push_back(line); }
    void SetShelfRunning(bool on) override { running = on; }
    void ShowText(MessageIcon, const SessionText& text) override { said.push_back(text.msgid); }

    bool shown = false;
    bool running = false;
    std::vector<ShelfTile> tiles;
    ShelfCounters counters;
    std::vector<ShelfLogLine> log;
    std::vector<std::string> said;
};

std::vector<std::string> FileLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ShelfTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("marro-shelf-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        shelf_.reset();
        main_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    // `count` programmers "sim:programmer-K", with the faults given as --sim-fault takes them.
    void Start(std::size_t count, const std::vector<std::string>& faults = {},
               std::uint32_t latencyUs = 0) {
        SimulatorRequest request;
        request.count = count;
        request.latencyUs = latencyUs;
        for (const std::string& text : faults) {
            std::string error;
            const std::optional<AimedFault> fault = ParseAimedFault(text, count, error);
            ASSERT_TRUE(fault) << error;
            request.faults.push_back(*fault);
        }
        SimulatorSetupError error;
        auto shelf = SetUpSimulator(request, error);
        ASSERT_TRUE(shelf) << error.message;
        sim_ = std::move(*shelf);
        main_ = std::make_unique<MainDialogSession>(*sim_.backend, mainView_, dispatcher_);
        shelf_ = std::make_unique<ShelfSession>(*sim_.backend, *main_, view_, dispatcher_);
        shelf_->Start();
        Settle();
    }
    void Settle() {
        ASSERT_TRUE(shelf_->FinishWorkers(30000));
        ASSERT_TRUE(main_->FinishWorkers(30000));
        dispatcher_.ServePending(0);
    }
    void LoadBinary(const std::string& name, std::size_t size) {
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << std::string(size, '\x5A');
        main_->OpenFile(ChosenFile{path, path.string(), name, false});
        mainView_.series = 1;
    }
    std::vector<TileState> States() const {
        std::vector<TileState> states;
        for (const ShelfTile& tile : view_.tiles) states.push_back(tile.state);
        return states;
    }
    std::vector<std::string> Results() const {
        std::vector<std::string> results;
        for (const ShelfLogLine& line : view_.log)
            results.push_back(line.serial + " " + line.result);
        std::sort(results.begin(), results.end());
        return results;
    }

    std::filesystem::path folder_;
    SimulatedShelf sim_;
    QueueDispatcher dispatcher_;
    RecordingView mainView_;
    RecordingShelfView view_;
    std::unique_ptr<MainDialogSession> main_;
    std::unique_ptr<ShelfSession> shelf_;
};

TEST_F(ShelfTest, StoreIntoAllFailsTheAimedProgrammerAloneThenVerifyAll) {
    // The 5th write of programmer 2 (its third image block) is refused.
    Start(4, {"2:WriteStorage:status@5"});
    ASSERT_TRUE(view_.shown);
    ASSERT_TRUE(main_->ProgrammersLent());
    EXPECT_FALSE(main_->Link().IsOpen());
    ASSERT_EQ(view_.tiles.size(), 4u);
    EXPECT_EQ(view_.tiles[3].serial, "SIM0003");
    const auto log = folder_ / "production.log";
    ASSERT_TRUE(shelf_->ChooseLogFile(log, log.string()));

    LoadBinary("blink.bin", 4096);
    shelf_->StoreIntoAll();
    EXPECT_TRUE(view_.running);
    // The file under a running store stays; closing asks, and Escape alone does not close.
    EXPECT_FALSE(main_->EscapeCloses());
    mainView_.answer = false;
    EXPECT_FALSE(main_->MayClose());
    EXPECT_EQ(mainView_.said.back().text, kMsgCloseWhileStoring);
    Settle();
    EXPECT_FALSE(view_.running);

    const std::vector<TileState> stored = {TileState::HoldsJob, TileState::HoldsJob,
                                           TileState::Failed, TileState::HoldsJob};
    EXPECT_EQ(States(), stored);
    EXPECT_EQ(view_.tiles[2].message, std::string(kUploadFailedTexts[14]));
    const std::uint32_t crc = JobImageOfImage(main_->Workspace().image).crc;
    for (std::size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(view_.tiles[i].jobName, "blink.bin") << i;
        EXPECT_EQ(view_.tiles[i].series, "STM32F1XX") << i;
        EXPECT_EQ(view_.tiles[i].imageCrc, crc) << i;
        EXPECT_EQ(sim_.programmers[i]->Storage()[4095], 0x5A) << i;
    }
    EXPECT_FALSE(view_.tiles[2].imageCrc);
    EXPECT_EQ(view_.counters.stored, 3u);
    EXPECT_EQ(view_.counters.failed, 1u);
    EXPECT_EQ(Results(), (std::vector<std::string>{"SIM0000 Success", "SIM0001 Success",
                                                   "SIM0002 CommandRefused", "SIM0003 Success"}));

    shelf_->VerifyAll();
    Settle();
    const std::vector<TileState> verified = {TileState::HoldsJob, TileState::HoldsJob,
                                             TileState::Differs, TileState::HoldsJob};
    EXPECT_EQ(States(), verified);
    EXPECT_EQ(view_.counters.verified, 3u);
    EXPECT_EQ(view_.counters.failed, 2u);

    // Back up one programmer's job; a remote job file of it is for that programmer.
    const auto backup = folder_ / "backup.hex";
    shelf_->BackUp(1, backup, backup.string());
    Settle();
    EXPECT_TRUE(std::filesystem::file_size(backup) > 4096u);
    EXPECT_EQ(view_.tiles[1].state, TileState::HoldsJob);

    // Nine lines, one per programmer per action, in the pane and the file alike.
    ASSERT_EQ(view_.log.size(), 9u);
    std::vector<std::string> pane;
    for (const ShelfLogLine& line : view_.log) {
        pane.push_back(line.record);
        EXPECT_NE(line.record.find("\"time\":\"" + line.time + "\""), std::string::npos);
    }
    EXPECT_EQ(FileLines(log), pane);
    // A store's record names the job as the command line's does: its name, start, length
    // and checksum, and the programmer by its path, serial and device ID.
    const std::string& first = pane.front();
    EXPECT_NE(first.find("\"operation\":\"program\""), std::string::npos) << first;
    EXPECT_NE(first.find("\"jobName\":\"blink.bin\",\"start\":134217728,\"length\":4096,"
                         "\"wordCrc32\":" +
                         std::to_string(crc)),
              std::string::npos)
        << first;
    EXPECT_EQ(first.find("\"deviceId\":null"), std::string::npos) << first;
    EXPECT_NE(first.find("\"programmerVersion\":4098"), std::string::npos) << first;
    EXPECT_NE(pane.back().find("\"operation\":\"read-job\""), std::string::npos);
    EXPECT_NE(pane.back().find("\"path\":\"sim:programmer-1\""), std::string::npos);
    EXPECT_TRUE(view_.said.empty());
}

TEST_F(ShelfTest, RemovalMidStoreMarksThatTileOnly) {
    Start(4, {}, 200);
    LoadBinary("long.bin", 24 * 1024);
    shelf_->StoreIntoAll();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (view_.tiles[1].progress == 0 && std::chrono::steady_clock::now() < deadline) {
        dispatcher_.ServePending(5);
    }
    ASSERT_GT(view_.tiles[1].progress, 0u);
    sim_.backend->Unplug("sim:programmer-1");
    shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Removal, "sim:programmer-1"});
    EXPECT_EQ(view_.tiles[1].state, TileState::Removed);
    Settle();
    const std::vector<TileState> states = {TileState::HoldsJob, TileState::Removed,
                                           TileState::HoldsJob, TileState::HoldsJob};
    EXPECT_EQ(States(), states);
    EXPECT_EQ(view_.tiles[1].message.rfind("Ошибка", 0), 0u) << view_.tiles[1].message;
    EXPECT_EQ(view_.counters.stored, 3u);
    EXPECT_EQ(view_.counters.failed, 1u);
    EXPECT_EQ(Results(), (std::vector<std::string>{"SIM0000 Success", "SIM0001 LinkFailed",
                                                   "SIM0002 Success", "SIM0003 Success"}));

    // Plugged in again it is identified anew; the next action takes it again.
    sim_.backend->Plug("sim:programmer-1");
    shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Arrival, "sim:programmer-1"});
    Settle();
    EXPECT_EQ(view_.tiles[1].state, TileState::Idle);
    shelf_->VerifyAll();
    Settle();
    EXPECT_EQ(view_.tiles[1].state, TileState::Differs);
    EXPECT_EQ(view_.counters.verified, 3u);
}

TEST_F(ShelfTest, EachProgrammerGetsABlockOfItsOwnAndItsUseIsSeenAtConnection) {
#if !MARRO_SERIAL_LEDGER
    GTEST_SKIP() << "this build has no serial ledger stores";
#endif
    Start(3);
    main_->shift.shiftEnabled = 1;
    main_->shift.shiftStart = 1000;
    main_->serials.product = "board-s";
    main_->serials.ledger = (folder_ / "serials.sqlite").string();
    LoadBinary("leased.bin", 256);
    mainView_.countText = "100";
    shelf_->StoreIntoAll();
    Settle();
    ASSERT_EQ(States(), std::vector<TileState>(3, TileState::HoldsJob));
    std::set<std::int32_t> starts;
    for (std::size_t i = 0; i < 3; ++i) {
        const JobHeader header =
            JobHeader::Decode(sim_.programmers[i]->Storage() + kJobAreaAddress);
        starts.insert(header.shiftStart);
        const std::string block = "(" + std::to_string(header.shiftStart) + "–" +
                                  std::to_string(header.shiftStart + 99) + ", 已用0)";
        EXPECT_TRUE(view_.tiles[i].codeShift.ends_with(block)) << view_.tiles[i].codeShift;
    }
    EXPECT_EQ(starts, (std::set<std::int32_t>{1000, 1100, 1200}));

    // Plugged in again, one has used 37 values of its block and another shows a block the
    // ledger never handed out: the first tile shows the use, the second the conflict.
    const struct {
        std::size_t programmer;
        std::int32_t start;  // 0: its own block's
        std::int32_t used;
    } connections[] = {{0, 0, 37}, {1, 5000, 0}};
    for (const auto& c : connections) {
        std::uint8_t* stored = sim_.programmers[c.programmer]->Storage() + kJobAreaAddress;
        JobHeader header = JobHeader::Decode(stored);
        if (c.start != 0) header.shiftStart = c.start;
        header.shiftValue = header.shiftStart + c.used;
        const auto bytes = header.Encode();
        std::memcpy(stored, bytes.data(), bytes.size());
        const std::string path = "sim:programmer-" + std::to_string(c.programmer);
        sim_.backend->Unplug(path);
        shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Removal, path});
        sim_.backend->Plug(path);
        shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Arrival, path});
    }
    Settle();
    EXPECT_TRUE(view_.tiles[0].codeShift.ends_with(", 已用37)")) << view_.tiles[0].codeShift;
    EXPECT_TRUE(view_.tiles[0].message.empty()) << view_.tiles[0].message;
    EXPECT_EQ(view_.tiles[1].message.rfind(std::string(kMsgSerialConflict) + "\n", 0), 0u)
        << view_.tiles[1].message;
    EXPECT_EQ(view_.tiles[1].codeShift.find("已用"), std::string::npos);
}

TEST_F(ShelfTest, RefusalsBeforeAnythingIsSent) {
    Start(2);
    struct Case {
        const char* name;
        int series;
        std::uint16_t shift;
        std::string product;
        std::string count;
        const char* said;
    } cases[] = {
        {"no series", -1, 0, "", "0", kMsgSeriesNotSelected},
        {"shared serials", 1, 1, "", "0", kMsgShelfSharedSerials},
        {"no block size", 1, 1, "board", "0", kMsgSerialCountNeeded},
    };
    LoadBinary("image.bin", 256);
    for (const Case& c : cases) {
        view_.said.clear();
        mainView_.series = c.series;
        mainView_.countText = c.count;
        main_->shift.shiftEnabled = c.shift;
        main_->serials.product = c.product;
        for (SimulatedProgrammer* programmer : sim_.programmers) programmer->ClearRequests();
        shelf_->StoreIntoAll();
        Settle();
        EXPECT_EQ(view_.said, std::vector<std::string>{c.said}) << c.name;
        for (SimulatedProgrammer* programmer : sim_.programmers)
            EXPECT_TRUE(programmer->Requests().empty()) << c.name;
    }
    EXPECT_TRUE(view_.log.empty());
}

TEST_F(ShelfTest, OpensForASecondProgrammerAndGivesThemBack) {
    Start(2);
    shelf_->Leave();
    Settle();
    EXPECT_FALSE(view_.shown);
    EXPECT_TRUE(main_->Link().IsOpen());
    // Left by the operator, it stays closed while both stay attached.
    sim_.backend->Unplug("sim:programmer-1");
    shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Removal, "sim:programmer-1"});
    Settle();
    EXPECT_FALSE(view_.shown);
    // A second programmer arriving at a single programmer's window opens the shelf.
    sim_.backend->Plug("sim:programmer-1");
    shelf_->DeviceChanged(DeviceEvent{DeviceEvent::Kind::Arrival, "sim:programmer-1"});
    Settle();
    EXPECT_TRUE(view_.shown);
    EXPECT_TRUE(main_->ProgrammersLent());
    EXPECT_FALSE(main_->Link().IsOpen());
    ASSERT_EQ(view_.tiles.size(), 2u);
    EXPECT_EQ(States(), (std::vector<TileState>{TileState::Idle, TileState::Idle}));
    // The shelf stores a file loaded now; the dialog's Program is not offered.
    LoadBinary("image.bin", 64);
    EXPECT_FALSE(mainView_.enabled[DialogControl::Program]);
}

}  // namespace
