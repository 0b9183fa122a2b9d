#include "link/ProgrammerLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/LittleEndian.h"
#include "link/SimulatedBackend.h"

namespace {

// Wires the backend's plug and unplug to the link, as the faces' watchers do.
void Follow(SimulatedBackend& backend, ProgrammerLink& link) {
    backend.SetEventSink([&link](const DeviceEvent& event) {
        if (event.kind == DeviceEvent::Kind::Arrival) {
            link.OnArrival();
        } else {
            link.OnRemoval(event.path);
        }
    });
}

// Connection codes 1, 2, 3, ... so each opening is told apart.
void CountCodes(ProgrammerLink& link) {
    auto next = std::make_shared<std::uint32_t>(0);
    link.SetConnectionCodeSource([next] { return ++*next; });
}

ExchangeResult Read(ProgrammerLink::Session& session, std::uint32_t address, std::uint32_t length,
                    HidReport& report) {
    report.SetRequest(Command::ReadStorage, address, length);
    return session.Exchange(report);
}

TEST(FindProgrammer, OnlyTheProgrammerStaysOpen) {
    SimulatedBackend backend;
    backend.AddOtherDevice("sim:keyboard", 0x046D, 0xC31C);
    backend.AddOtherDevice("sim:same-vendor", kProgrammerVendorId, 0x1002);
    backend.AddOtherDevice("sim:same-product", 0x0483, kProgrammerProductId);
    backend.AddProgrammer({.path = "sim:p"});
    backend.AddOtherDevice("sim:after", 0x1234, 0x5678);

    FindResult found = FindProgrammer(backend);
    ASSERT_TRUE(found.device);
    EXPECT_EQ(found.path, "sim:p");
    EXPECT_TRUE(found.refusedPath.empty());
    EXPECT_EQ(backend.OpenHandles("sim:p"), 1);
    for (const char* other : {"sim:keyboard", "sim:same-vendor", "sim:same-product"}) {
        EXPECT_EQ(backend.OpenCount(other), 1) << other;  // opened to learn its ids
        EXPECT_EQ(backend.OpenHandles(other), 0) << other;
    }
    EXPECT_EQ(backend.OpenCount("sim:after"), 0);  // the search ended at the first match
    found.device.reset();
    EXPECT_EQ(backend.OpenHandles("sim:p"), 0);
}

TEST(FindProgrammer, SkipsInactiveInterfacesAndFindsNothingWithoutAProgrammer) {
    SimulatedBackend backend;
    backend.AddOtherDevice("sim:inactive", kProgrammerVendorId, kProgrammerProductId, false);
    backend.AddOtherDevice("sim:mouse", 0x1234, 0x5678);
    FindResult found = FindProgrammer(backend);
    EXPECT_FALSE(found.device);
    EXPECT_TRUE(found.path.empty());
    EXPECT_EQ(backend.OpenCount("sim:inactive"), 0);
    EXPECT_EQ(backend.OpenCount("sim:mouse"), 1);
    EXPECT_EQ(backend.OpenHandles("sim:mouse"), 0);

    backend.AddProgrammer({.path = "sim:p"});
    found = FindProgrammer(backend);
    ASSERT_TRUE(found.device);
    EXPECT_EQ(found.path, "sim:p");
    EXPECT_EQ(backend.OpenCount("sim:inactive"), 0);
}

TEST(FindProgrammer, ReportsAProgrammerItCannotUse) {
    SimulatedBackend backend;
    backend.AddProgrammer({.path = "sim:denied"});
    backend.AddProgrammer({.path = "sim:long", .outputReportLength = 66});
    backend.DenyOpen("sim:denied", "Permission denied");

    ProgrammerLink link(backend);
    FindResult result;
    EXPECT_FALSE(link.Open(&result));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 0u);
    EXPECT_EQ(result.refusedPath, "sim:denied");  // the first refusal is the one reported
    EXPECT_EQ(result.refusal, Refusal::AccessDenied);
    EXPECT_EQ(result.refusedReason, "open('sim:denied'): Permission denied");
    EXPECT_EQ(backend.OpenHandles("sim:long"), 0);  // opened, measured, closed again

    SimulatedBackend other;
    other.AddProgrammer({.path = "sim:long", .outputReportLength = 66});
    other.AddProgrammer({.path = "sim:fits", .outputReportLength = 65});
    FindResult found = FindProgrammer(other);
    ASSERT_TRUE(found.device);
    EXPECT_EQ(found.path, "sim:fits");
    EXPECT_EQ(found.refusedPath, "sim:long");
    EXPECT_EQ(found.refusal, Refusal::Unsuitable);
    EXPECT_NE(found.refusedReason.find("66"), std::string::npos) << found.refusedReason;
    EXPECT_EQ(other.OpenHandles("sim:long"), 0);
}

TEST(ProgrammerLinkEvents, TwoProgrammersFirstWinsUntilRemoved) {
    SimulatedBackend backend;
    backend.AddProgrammer({.path = "sim:first"});
    backend.AddProgrammer({.path = "sim:second"});
    ProgrammerLink link(backend);
    CountCodes(link);
    Follow(backend, link);

    ASSERT_TRUE(link.Open());
    EXPECT_EQ(link.DevicePath(), "sim:first");
    EXPECT_EQ(link.connectionCode(), 1u);
    EXPECT_EQ(backend.OpenHandles("sim:second"), 0);

    // Removing the other one changes nothing.
    backend.Unplug("sim:second");
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 1u);
    backend.Plug("sim:second");  // an arrival while open is ignored
    EXPECT_EQ(link.DevicePath(), "sim:first");
    EXPECT_EQ(backend.OpenCount("sim:second"), 0);

    // Removing the open one leaves the link closed, though another is attached...
    link.SetProgrammerVersion(0x1002);
    link.SetFirmwareVersion(0x0220);
    backend.Unplug("sim:first");
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 0u);
    EXPECT_EQ(link.programmerVersion(), 0u);
    EXPECT_EQ(link.firmwareVersion(), 0x0220u);  // kept until the next identification
    EXPECT_EQ(link.DevicePath(), "sim:first");
    EXPECT_EQ(backend.OpenHandles("sim:first"), 0);

    // ...until the next arrival of any HID interface, which opens it with a new code.
    backend.AddOtherDevice("sim:mouse", 0x1234, 0x5678);
    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(link.DevicePath(), "sim:second");
    EXPECT_EQ(link.connectionCode(), 2u);

    // Plugged in again later: still the open one stays.
    backend.Plug("sim:first");
    EXPECT_EQ(link.DevicePath(), "sim:second");
    backend.Unplug("sim:second");
    backend.Plug("sim:second");
    EXPECT_EQ(link.DevicePath(), "sim:first");
    EXPECT_EQ(link.connectionCode(), 3u);
}

TEST(ProgrammerLinkEvents, ArrivalAndRemovalOfOtherDevices) {
    SimulatedBackend backend;
    ProgrammerLink link(backend);
    CountCodes(link);

    // An unrelated device arrives while none is open: a full search, nothing changes.
    backend.AddOtherDevice("sim:keyboard", 0x046D, 0xC31C);
    backend.AddOtherDevice("sim:mouse", 0x1234, 0x5678);
    EXPECT_FALSE(link.OnArrival());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 0u);
    EXPECT_EQ(backend.OpenCount("sim:keyboard"), 1);
    EXPECT_EQ(backend.OpenCount("sim:mouse"), 1);
    EXPECT_FALSE(link.OnRemoval("sim:keyboard"));  // none open

    backend.AddProgrammer({.path = "\\\\?\\hid#vid_0484&pid_1001#7&1a2b"});
    ASSERT_TRUE(link.OnArrival());
    EXPECT_EQ(link.connectionCode(), 1u);
    EXPECT_FALSE(link.OnArrival());                   // already open
    EXPECT_EQ(backend.OpenCount("sim:keyboard"), 2);  // only the opening search ran
    EXPECT_EQ(link.connectionCode(), 1u);

    EXPECT_FALSE(link.OnRemoval("sim:mouse"));
    EXPECT_FALSE(link.OnRemoval("\\\\?\\hid#vid_0484&pid_1001#7&1a2"));  // a prefix only
    EXPECT_TRUE(link.IsOpen());
    // The same path in other letter case is the programmer.
    EXPECT_TRUE(link.OnRemoval("\\\\?\\HID#VID_0484&PID_1001#7&1A2B"));
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.connectionCode(), 0u);
    EXPECT_FALSE(link.OnRemoval("\\\\?\\hid#vid_0484&pid_1001#7&1a2b"));  // already closed

    ASSERT_TRUE(link.Open());  // reopened: a new code again
    EXPECT_EQ(link.connectionCode(), 2u);
    link.Close();
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(backend.OpenHandles("\\\\?\\hid#vid_0484&pid_1001#7&1a2b"), 0);
}

TEST(ProgrammerLinkSession, ExchangesWholeReportsAndTracesThem) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p", .outputReportLength = 33});
    ProgrammerLink link(backend);
    std::vector<std::pair<char, std::size_t>> traced;
    link.SetTrace([&](char direction, const std::uint8_t*, std::size_t size) {
        traced.emplace_back(direction, size);
    });
    ASSERT_TRUE(link.Open());
    HidReport report;
    report.SetRequest(Command::QueryVersion, 0, 0);
    report.bytes[0] = 0x7F;  // the report ID is always sent as 0
    auto session = link.Acquire();
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok) << session.LastError();
    EXPECT_EQ(report.AnswerWord(), sim.ProgrammerVersion());
    ASSERT_EQ(sim.Requests().size(), 1u);
    EXPECT_EQ(sim.Requests()[0].size(), 33u);  // the output report length, both ways
    EXPECT_EQ(sim.Requests()[0][0], 0);
    EXPECT_EQ(traced, (std::vector<std::pair<char, std::size_t>>{{'>', 33}, {'<', 33}}));
}

TEST(ProgrammerLinkSession, TwoWorkersAreSerialised) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p"});
    for (std::uint32_t i = 0; i < 0x200; ++i) sim.Storage()[i] = static_cast<std::uint8_t>(i >> 4);
    ProgrammerLink link(backend);
    ASSERT_TRUE(link.Open());

    constexpr int kExchanges = 40;
    std::atomic<int> answersWrong{0};
    std::atomic<int> ready{0};
    auto worker = [&](std::uint32_t base) {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();  // both ask at the same moment
        auto session = link.Acquire();
        HidReport report;
        for (int i = 0; i < kExchanges; ++i) {
            if (Read(session, base, 16, report) != ExchangeResult::Ok ||
                report.bytes[1] != static_cast<std::uint8_t>(base >> 4)) {
                ++answersWrong;
            }
            // Gives the other worker every chance to cut in.
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    };
    std::thread a(worker, 0x100);
    std::thread b(worker, 0x1F0);
    a.join();
    b.join();

    EXPECT_EQ(answersWrong.load(), 0);
    const auto& requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u * kExchanges);
    // One worker's whole sequence, then the other's: the address changes exactly once.
    int changes = 0;
    for (std::size_t i = 1; i < requests.size(); ++i) {
        if (ReadLe32(&requests[i][2]) != ReadLe32(&requests[i - 1][2])) ++changes;
    }
    EXPECT_EQ(changes, 1);
}

TEST(ProgrammerLinkSession, RemovalMidSequenceFailsTheNextExchange) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p"});
    sim.AddFault({Command::ReadStorage, FaultKind::Unplug, 3});
    ProgrammerLink link(backend);
    Follow(backend, link);
    ASSERT_TRUE(link.Open());

    auto session = link.Acquire();
    HidReport report;
    EXPECT_EQ(Read(session, 0, 4, report), ExchangeResult::Ok);
    EXPECT_EQ(Read(session, 4, 4, report), ExchangeResult::Ok);
    EXPECT_EQ(Read(session, 8, 4, report), ExchangeResult::WriteFailed);
    EXPECT_EQ(session.LastError(), "write: device removed");
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(Read(session, 12, 4, report), ExchangeResult::WriteFailed);
    EXPECT_EQ(session.LastError(), "write: no programmer is open");
    EXPECT_EQ(sim.Requests().size(), 3u);
    EXPECT_EQ(backend.OpenHandles("sim:p"), 0);
}

TEST(ProgrammerLinkSession, AnOldSessionNeverReachesTheNextProgrammer) {
    SimulatedBackend backend;
    SimulatedProgrammer& first = backend.AddProgrammer({.path = "sim:first"});
    SimulatedProgrammer& second = backend.AddProgrammer({.path = "sim:second"});
    ProgrammerLink link(backend);
    Follow(backend, link);
    ASSERT_TRUE(link.Open());

    std::mutex m;
    std::condition_variable cv;
    int stage = 0;
    auto advance = [&](int to) {
        std::lock_guard lock(m);
        stage = to;
        cv.notify_all();
    };
    auto await = [&](int at) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return stage >= at; });
    };
    std::vector<ExchangeResult> results;
    std::thread worker([&] {
        auto session = link.Acquire();
        HidReport report;
        results.push_back(Read(session, 0, 4, report));
        advance(1);
        await(2);
        results.push_back(Read(session, 0, 4, report));
    });
    await(1);
    backend.Unplug("sim:first");  // the link closes, then the arrival opens the second
    backend.AddOtherDevice("sim:hub", 0x1111, 0x2222);
    EXPECT_EQ(link.DevicePath(), "sim:second");
    advance(2);
    worker.join();

    EXPECT_EQ(results,
              (std::vector<ExchangeResult>{ExchangeResult::Ok, ExchangeResult::WriteFailed}));
    EXPECT_EQ(first.Requests().size(), 1u);
    EXPECT_TRUE(second.Requests().empty());
    EXPECT_EQ(backend.OpenHandles("sim:first"), 0);
}

// An answer may take longer the more an erase or a checksum has to do: a programmer
// that is slow but at work is never cut off, one that never answers still ends the
// worker, after the bound its request's length gives.
TEST(ProgrammerLinkSession, TimeoutsGrowWithTheLengthOfErasesAndChecksums) {
    struct Case {
        const char* what;
        Command command;
        std::uint32_t length;
        bool hangs;
        std::string error;  // empty: answered
    };
    // Any answer may take 40 ms, an erase 2 ms more per KiB, a checksum 1 ms. The
    // programmer answers after 5 ms and erases 1 ms per KiB, checksums 0.5 ms per KiB:
    // 133 ms for the large ones, far beyond 40 ms and within 296 ms.
    const Case cases[] = {
        {"hung read", Command::ReadStorage, 4, true, "read: no answer within 40 ms"},
        {"hung small erase", Command::EraseStorage, 4, true, "read: no answer within 41 ms"},
        {"slow large erase", Command::EraseStorage, 128 * 1024, false, ""},
        {"hung large erase", Command::EraseStorage, 128 * 1024, true,
         "read: no answer within 296 ms"},
        {"slow large checksum", Command::StorageCrc, 256 * 1024, false, ""},
        {"hung large checksum", Command::StorageCrc, 256 * 1024, true,
         "read: no answer within 296 ms"},
    };
    for (const Case& c : cases) {
        SimulatedBackend backend;
        SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p",
                                                          .exchangeLatencyUs = 5000,
                                                          .eraseUsPerKiB = 1000,
                                                          .checksumUsPerKiB = 500});
        if (c.hangs) sim.AddFault({c.command, FaultKind::Hang, 1});
        ProgrammerLink link(backend);
        link.SetTimeouts({.answerMs = 40, .eraseMsPerKiB = 2, .checksumMsPerKiB = 1});
        ASSERT_TRUE(link.Open());
        auto session = link.Acquire();
        HidReport report;
        report.SetRequest(c.command, 0, c.length);
        const ExchangeResult result = session.Exchange(report);
        if (c.error.empty()) {
            EXPECT_EQ(result, ExchangeResult::Ok) << c.what << ": " << session.LastError();
            continue;
        }
        EXPECT_EQ(result, ExchangeResult::ReadFailed) << c.what;
        EXPECT_EQ(session.LastError(), c.error) << c.what;
        // The link stays open and the programmer answers the next request.
        EXPECT_TRUE(link.IsOpen()) << c.what;
        sim.Storage()[0] = 0x42;
        EXPECT_EQ(Read(session, 0, 4, report), ExchangeResult::Ok) << c.what;
        EXPECT_EQ(report.bytes[1], 0x42) << c.what;
    }
}

TEST(ProgrammerLinkSession, UnplugEndsAHungExchangeAtOnce) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p"});
    sim.AddFault({Command::QueryVersion, FaultKind::Hang, 1});
    ProgrammerLink link(backend);
    Follow(backend, link);
    link.SetTimeouts({.answerMs = 20000});  // far longer than the test runs
    ASSERT_TRUE(link.Open());

    std::thread owner([&] {
        while (backend.RequestCount("sim:p") == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the read begin waiting
        backend.Unplug("sim:p");
    });
    auto session = link.Acquire();
    HidReport report;
    report.SetRequest(Command::QueryVersion, 0, 0);
    const ExchangeResult result = session.Exchange(report);
    owner.join();
    EXPECT_EQ(result, ExchangeResult::ReadFailed);
    // Removed while waiting, or just before the wait began; never a time-out.
    EXPECT_TRUE(session.LastError() == "read: device removed" ||
                session.LastError() == "read: the programmer was removed")
        << session.LastError();
    EXPECT_FALSE(link.IsOpen());
}

}  // namespace

// A programmer whose first answer comes only after the reader gave up on it.
class LateAnswerBackend : public HidBackend {
public:
    class Device : public HidDevice {
    public:
        explicit Device(LateAnswerBackend& owner) : owner_(owner) {}
        bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
            vendorId = kProgrammerVendorId;
            productId = kProgrammerProductId;
            return true;
        }
        std::size_t OutputReportLength() const override { return kReportSize; }
        bool Write(const std::uint8_t* report, std::size_t) override {
            ++owner_.requests;
            lastCommand_ = report[1];
            if (owner_.requests > 1) Answer(lastCommand_);
            return true;
        }
        HidReadStatus Read(std::uint8_t* report, std::size_t length, int) override {
            if (queue_.empty()) {
                if (owner_.requests == 1 && !lateSent_) {
                    lateSent_ = true;
                    Answer(lastCommand_);  // arrives just after the time-out
                }
                return HidReadStatus::TimedOut;
            }
            std::copy_n(queue_.front().begin(), length, report);
            queue_.erase(queue_.begin());
            return HidReadStatus::Ok;
        }
        const std::string& LastError() const override { return error_; }

    private:
        // The answer names the request it belongs to in byte 1.
        void Answer(std::uint8_t command) {
            std::array<std::uint8_t, kReportSize> answer{};
            answer[1] = command;
            queue_.push_back(answer);
        }
        LateAnswerBackend& owner_;
        std::vector<std::array<std::uint8_t, kReportSize>> queue_;
        std::uint8_t lastCommand_ = 0;
        bool lateSent_ = false;
        std::string error_;
    };

    std::vector<HidDeviceInfo> Enumerate() override {
        HidDeviceInfo info;
        info.path = "late";
        return {info};
    }
    std::unique_ptr<HidDevice> Open(const std::string&, HidOpenError&) override {
        return std::make_unique<Device>(*this);
    }
    int requests = 0;
};

TEST(ProgrammerLinkSession, AnAnswerArrivingAfterItsTimeOutIsNotTakenForTheNextOne) {
    LateAnswerBackend backend;
    ProgrammerLink link(backend);
    ASSERT_TRUE(link.Open());
    {
        auto session = link.Acquire();
        HidReport report;
        report.SetRequest(Command::QueryVersion, 0, 0);
        EXPECT_EQ(session.Exchange(report), ExchangeResult::ReadFailed);
    }
    auto session = link.Acquire();
    HidReport report;
    report.SetRequest(Command::ReadStorage, 0x1FE000, 45);
    ASSERT_EQ(session.Exchange(report), ExchangeResult::Ok);
    EXPECT_EQ(report.bytes[1], static_cast<std::uint8_t>(Command::ReadStorage));
}
