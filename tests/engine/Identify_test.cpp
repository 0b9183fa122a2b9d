#include "job/IdentifyProgrammer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/LittleEndian.h"
#include "job/JobHeader.h"
#include "link/SimulatedBackend.h"
#include "tests/support/RecordingPort.h"

namespace {

// What the identification left in the lists: the last series list and job description.
std::optional<std::pair<bool, int>> Series(const RecordingPort& port) {
    if (port.seriesLists.empty()) return std::nullopt;
    return port.seriesLists.back();
}
std::optional<JobDescription> Description(const RecordingPort& port) {
    if (port.descriptions.empty()) return std::nullopt;
    return port.descriptions.back();
}

std::string JobNameShown(const RecordingPort& port) {
    const auto description = Description(port);
    return description && !description->empty() ? description->front().value : "<no description>";
}

// The identification shows no progress, and only errors.
void ExpectNoProgressAndOnlyErrors(const RecordingPort& port) {
    EXPECT_TRUE(port.ranges.empty() && port.positions.empty()) << "identification has no progress";
    for (MessageIcon icon : port.icons) EXPECT_EQ(icon, MessageIcon::Error);
}

// Puts a job into the programmer's storage as an upload would have left it.
void StoreJob(SimulatedProgrammer& sim, std::uint32_t address, std::uint8_t series,
              std::string_view name) {
    JobHeader header;
    header.series = series;
    header.nameSize = static_cast<std::uint8_t>(name.size() + 1);
    header.jobStart = 0x08000000;
    header.jobLength = 1024;
    const auto bytes = header.Encode();
    std::memcpy(sim.Storage() + address, bytes.data(), bytes.size());
    std::memcpy(sim.Storage() + address + kJobNameOffset, name.data(), name.size());
    sim.Storage()[address + kJobNameOffset + name.size()] = 0;
}

struct Sent {
    std::uint8_t command;
    std::uint32_t address;
    std::uint32_t length;
};

std::vector<Sent> SentRequests(const SimulatedProgrammer& sim) {
    std::vector<Sent> sent;
    for (const auto& r : sim.Requests()) {
        EXPECT_EQ(r.size(), kReportSize);
        EXPECT_EQ(r[0], 0);  // report ID
        sent.push_back({r[1], ReadLe32(&r[2]), ReadLe32(&r[6])});
    }
    return sent;
}

void ExpectSent(const SimulatedProgrammer& sim, const std::vector<Sent>& expected) {
    const auto sent = SentRequests(sim);
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].command, expected[i].command) << "request " << i;
        EXPECT_EQ(sent[i].address, expected[i].address) << "request " << i;
        EXPECT_EQ(sent[i].length, expected[i].length) << "request " << i;
    }
}

constexpr std::uint8_t kQuery = 0x20;
constexpr std::uint8_t kWord = 0x33;
constexpr std::uint8_t kRead = 0x13;

class Identify : public ::testing::Test {
protected:
    SimulatedProgrammer& Attach(SimulatorConfig config) {
        config.path = "sim:p";
        SimulatedProgrammer& sim = backend_.AddProgrammer(config);
        link_.SetTimeouts({.answerMs = 100});
        EXPECT_TRUE(link_.Open());
        return sim;
    }

    void TearDown() override { ExpectNoProgressAndOnlyErrors(port_); }

    SimulatedBackend backend_;
    ProgrammerLink link_{backend_};
    RecordingPort port_{link_};
};

TEST_F(Identify, OlderKindHasNoFirmwareWordAndItsOwnSeries) {
    SimulatedProgrammer& sim = Attach({.programmerVersion = 0x0102});
    StoreJob(sim, kJobAreaAddress, 5, "fw.hex");
    link_.SetFirmwareVersion(0x0220);  // left from an earlier programmer

    const WorkerOutcome outcome = IdentifyProgrammer(port_);
    EXPECT_TRUE(outcome.ok()) << outcome.detail;
    EXPECT_TRUE(port_.messages.empty());
    ExpectSent(sim, {{kQuery, 0, 0}, {kRead, kJobAreaAddress, 45}, {kRead, kJobNameAddress, 64}});
    EXPECT_EQ(link_.programmerVersion(), 0x0102u);
    EXPECT_EQ(link_.firmwareVersion(), 0u);
    EXPECT_TRUE(port_.lockChipHidden);
    // Fixed at STM32F1XX whatever series the stored job names.
    EXPECT_EQ(Series(port_), std::make_pair(false, 1));
    ASSERT_TRUE(Description(port_));
    EXPECT_EQ(JobNameShown(port_), "fw.hex");
    EXPECT_EQ(Description(port_)->size(), 8u);  // no code-shift row for the older kind
}

TEST_F(Identify, VersionBoundaryBetweenTheKinds) {
    {
        SimulatedProgrammer& sim = Attach({.programmerVersion = 0x0FFF});
        StoreJob(sim, kJobAreaAddress, 2, "a.bin");
        EXPECT_TRUE(IdentifyProgrammer(port_).ok());
        EXPECT_EQ(SentRequests(sim).size(), 3u);
        EXPECT_EQ(Series(port_), std::make_pair(false, -1));  // series 15 does not exist
    }
    backend_.Unplug("sim:p");
    ASSERT_TRUE(link_.OnRemoval("sim:p"));
    backend_.AddProgrammer(
        {.programmerVersion = 0x1000, .firmwareVersion = 0x0215, .path = "sim:q"});
    ASSERT_TRUE(link_.OnArrival());
    RecordingPort port(link_);
    EXPECT_TRUE(IdentifyProgrammer(port).ok());
    EXPECT_EQ(link_.programmerVersion(), 0x1000u);
    EXPECT_EQ(link_.firmwareVersion(), 0x0215u);
    // Nothing is stored: the erased fall-back place holds series 255, which has no entry.
    EXPECT_EQ(Series(port), std::make_pair(true, -1));
    ASSERT_TRUE(Description(port));
    EXPECT_EQ(Description(port)->size(), 1u);  // no job, not a job of 0xFF fields
}

TEST_F(Identify, NewerKindReadsTheFirmwareWordAndFreesTheList) {
    SimulatedProgrammer& sim = Attach({.programmerVersion = 0x1002, .firmwareVersion = 0x0220});
    StoreJob(sim, kJobAreaAddress, 3, "board.hex");
    EXPECT_TRUE(IdentifyProgrammer(port_).ok());
    ExpectSent(sim, {{kQuery, 0, 0},
                     {kWord, kFirmwareVersionAddress, 4},
                     {kRead, kJobAreaAddress, 45},
                     {kRead, kJobNameAddress, 64}});
    EXPECT_EQ(link_.firmwareVersion(), 0x0220u);
    EXPECT_EQ(Series(port_), std::make_pair(true, 3));
    EXPECT_EQ(JobNameShown(port_), "board.hex");
}

TEST_F(Identify, RequestsAreFramedInOneReportZeroedOnce) {
    SimulatedProgrammer& sim = Attach({});
    StoreJob(sim, kJobAreaAddress, 1, "x.hex");
    ASSERT_TRUE(IdentifyProgrammer(port_).ok());
    const auto& requests = sim.Requests();
    ASSERT_EQ(requests.size(), 4u);
    // The first request: command 0x20, address 0 and length 0, every other byte zero.
    std::vector<std::uint8_t> query(kReportSize, 0);
    query[1] = 0x20;
    EXPECT_EQ(requests[0], query);
    // Later requests set only their own fields; the rest is what the last answer left:
    // the name request still carries header bytes 9..44 from the header read.
    const std::uint8_t* header = sim.Storage() + kJobAreaAddress;
    for (std::size_t i = 10; i <= kJobHeaderSize; ++i) {
        EXPECT_EQ(requests[3][i], header[i - 1]) << "byte " << i;
    }
}

TEST_F(Identify, StoredJobPlaceAndNameLength) {
    struct Case {
        const char* what;
        bool atFirstPlace;
        std::uint8_t fallbackByte0;  // when nothing valid is stored at either place
        std::uint32_t nameAddress;
        std::uint32_t nameLength;
        std::string name;
    };
    const std::string stored = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const Case cases[] = {
        {"header at the first place", true, 0, kJobNameAddress, 64, "job-one.hex"},
        {"header only at the second place", false, kJobMarker, kJobFallbackAddress + 64, 64,
         "job-two.hex"},
        {"nothing valid, marker byte 10", false, 10, kJobFallbackAddress + 64, 10, "ABCDEFGHIJ"},
        {"nothing valid, marker byte 0", false, 0, kJobFallbackAddress + 64, 0, ""},
        {"nothing valid, erased", false, 0xFF, kJobFallbackAddress + 64, 64, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedBackend backend;
        SimulatedProgrammer& sim = backend.AddProgrammer({});
        if (c.atFirstPlace) {
            StoreJob(sim, kJobAreaAddress, 4, c.name);
            StoreJob(sim, kJobFallbackAddress, 6, "other.hex");  // must not be consulted
        } else if (c.fallbackByte0 == kJobMarker) {
            StoreJob(sim, kJobFallbackAddress, 4, c.name);
        } else {
            sim.Storage()[kJobFallbackAddress] = c.fallbackByte0;
            if (c.fallbackByte0 != 0xFF) {
                std::memcpy(sim.Storage() + kJobFallbackAddress + 64, stored.data(), stored.size());
            } else {
                std::memset(sim.Storage() + kJobFallbackAddress + 64, 0, 64);
            }
        }
        ProgrammerLink link(backend);
        ASSERT_TRUE(link.Open());
        RecordingPort port(link);
        EXPECT_TRUE(IdentifyProgrammer(port).ok());

        std::vector<Sent> expected = {
            {kQuery, 0, 0}, {kWord, kFirmwareVersionAddress, 4}, {kRead, kJobAreaAddress, 45}};
        if (!c.atFirstPlace) expected.push_back({kRead, kJobFallbackAddress, 45});
        expected.push_back({kRead, c.nameAddress, c.nameLength});
        ExpectSent(sim, expected);
        if (c.atFirstPlace || c.fallbackByte0 == kJobMarker) {
            EXPECT_EQ(JobNameShown(port), c.name);
        } else {
            // No valid header at either place is no job, whatever the bytes read hold.
            ASSERT_TRUE(Description(port).has_value());
            ASSERT_EQ(Description(port)->size(), 1u);
            EXPECT_EQ(Description(port)->front().label, kNoStoredJobText);
        }
    }
}

TEST_F(Identify, NameFillingTheWholeAreaIsTakenWhole) {
    SimulatedProgrammer& sim = Attach({});
    StoreJob(sim, kJobAreaAddress, 0, "");
    const std::string full(64, 'N');
    std::memcpy(sim.Storage() + kJobNameAddress, full.data(), full.size());
    std::memset(sim.Storage() + kJobNameAddress + 64, 'X', 32);  // not part of the name
    EXPECT_TRUE(IdentifyProgrammer(port_).ok());
    EXPECT_EQ(JobNameShown(port_), full);
}

TEST_F(Identify, EachFailedStepShowsItsCodeAndKeepsWhatWasSet) {
    struct Case {
        const char* fault;
        std::string_view message;
        OutcomeKind kind;
        int code;
        std::size_t requests;         // sent before stopping, the failed one included
        std::uint32_t versionAfter;   // programmerVersion after the failure
        std::uint32_t firmwareAfter;  // firmwareVersion after the failure
        bool lockHidden;
    };
    const Case cases[] = {
        {"QueryVersion:write", kVersionReadFailed01, OutcomeKind::WriteFailed, 1, 1, 0, 0x77,
         false},
        {"QueryVersion:read", kVersionReadFailed02, OutcomeKind::ReadFailed, 2, 1, 0, 0x77, false},
        {"QueryVersion:hang", kVersionReadFailed02, OutcomeKind::ReadFailed, 2, 1, 0, 0x77, false},
        {"ReadProgrammerWord:write", kVersionReadFailed03, OutcomeKind::WriteFailed, 3, 2, 0x1002,
         0x77, false},
        {"ReadProgrammerWord:read", kVersionReadFailed04, OutcomeKind::ReadFailed, 4, 2, 0x1002,
         0x77, false},
        {"ReadStorage:write", kStoredJobReadFailed01, OutcomeKind::WriteFailed, 1, 3, 0x1002,
         0x0210, true},
        {"ReadStorage:read", kStoredJobReadFailed02, OutcomeKind::ReadFailed, 2, 3, 0x1002, 0x0210,
         true},
        {"ReadStorage:write@2", kStoredJobReadFailed01, OutcomeKind::WriteFailed, 1, 4, 0x1002,
         0x0210, true},  // the second header read
        {"ReadStorage:read@3", kStoredJobReadFailed02, OutcomeKind::ReadFailed, 2, 5, 0x1002,
         0x0210, true},  // the name read
        {"ReadStorage:unplug@3", kStoredJobReadFailed01, OutcomeKind::WriteFailed, 1, 5, 0, 0x0210,
         true},  // removal: the link forgets the version
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SimulatedBackend backend;
        SimulatedProgrammer& sim = backend.AddProgrammer({.path = "sim:p"});
        std::string error;
        const auto fault = ParseFault(c.fault, error);
        ASSERT_TRUE(fault) << error;
        sim.AddFault(*fault);
        ProgrammerLink link(backend);
        backend.SetEventSink([&](const DeviceEvent& e) {
            if (e.kind == DeviceEvent::Kind::Removal) link.OnRemoval(e.path);
        });
        link.SetTimeouts({.answerMs = 30});
        ASSERT_TRUE(link.Open());
        link.SetFirmwareVersion(0x77);
        RecordingPort port(link);

        const WorkerOutcome outcome = IdentifyProgrammer(port);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_FALSE(outcome.detail.empty());
        ASSERT_EQ(port.messages.size(), 1u);
        EXPECT_EQ(port.messages[0], c.message);
        EXPECT_EQ(sim.Requests().size(), c.requests);
        EXPECT_EQ(link.programmerVersion(), c.versionAfter);
        EXPECT_EQ(link.firmwareVersion(), c.firmwareAfter);
        EXPECT_EQ(port.lockChipHidden, c.lockHidden);
        EXPECT_FALSE(Series(port));  // the series and job lists stay as they were
        EXPECT_FALSE(Description(port));
        ExpectNoProgressAndOnlyErrors(port);
    }
}

TEST_F(Identify, WithoutAProgrammerTheFirstSendFails) {
    ProgrammerLink link(backend_);
    RecordingPort port(link);
    const WorkerOutcome outcome = IdentifyProgrammer(port);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(port.messages, std::vector<std::string>{std::string(kVersionReadFailed01)});
}

TEST_F(Identify, TwoAtOnceDoNotInterleave) {
    SimulatedProgrammer& sim = Attach({});
    StoreJob(sim, kJobAreaAddress, 2, "one.hex");
    RecordingPort other(link_);
    std::thread first([&] { EXPECT_TRUE(IdentifyProgrammer(port_).ok()); });
    std::thread second([&] { EXPECT_TRUE(IdentifyProgrammer(other).ok()); });
    first.join();
    second.join();
    const auto sent = SentRequests(sim);
    ASSERT_EQ(sent.size(), 8u);
    for (std::size_t run = 0; run < 2; ++run) {
        EXPECT_EQ(sent[4 * run].command, kQuery);
        EXPECT_EQ(sent[4 * run + 1].command, kWord);
        EXPECT_EQ(sent[4 * run + 3].address, kJobNameAddress);
    }
    EXPECT_EQ(JobNameShown(port_), "one.hex");
    EXPECT_EQ(JobNameShown(other), "one.hex");
}

TEST(SeriesSelection, ByKindAndIndex) {
    SimulatedBackend backend;
    ProgrammerLink link(backend);
    RecordingPort port(link);
    struct Case {
        std::uint32_t version;
        std::uint8_t stored;
        std::pair<bool, int> expected;
    };
    for (const Case& c :
         {Case{0x0000, 6, {false, 0}}, Case{0x0702, 0, {false, 7}}, Case{0x0802, 0, {false, -1}},
          Case{0x1702, 0, {true, 0}}, Case{0x1000, 7, {true, 7}}, Case{0x1000, 8, {true, -1}},
          Case{0xFFFFFFFF, 255, {true, -1}}}) {
        ApplySeriesSelection(port, c.version, c.stored);
        EXPECT_EQ(Series(port), c.expected) << std::hex << c.version << " " << int{c.stored};
    }
}

}  // namespace
