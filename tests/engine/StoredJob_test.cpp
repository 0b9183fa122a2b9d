#include "job/StoredJob.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "job/JobHeader.h"
#include "job/UploadJob.h"
#include "link/SimulatedBackend.h"
#include "tests/support/RecordingPort.h"

namespace {

struct Rig {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer();
    ProgrammerLink link{backend};
    ImageWorkspace workspace;
    RecordingPort port{link, workspace};

    Rig() {
        EXPECT_TRUE(link.Open());
        // What a file loaded earlier left; a refused read-back must leave it.
        workspace.image.imageLength = 3;
        std::memcpy(workspace.image.imageBuffer, "abc", 3);
        workspace.fileName = "loaded.hex";
    }

    // A job as an upload leaves it, with its header at `jobAddress`.
    void Store(std::uint32_t jobAddress, const JobHeader& header,
               const std::vector<std::uint8_t>& image, const char* name) {
        std::memcpy(sim.Storage(), image.data(), image.size());
        const auto bytes = header.Encode();
        std::memcpy(sim.Storage() + jobAddress, bytes.data(), bytes.size());
        std::memcpy(sim.Storage() + jobAddress + kJobNameOffset, name, std::strlen(name) + 1);
    }

    // The requests sent, as command, address and length.
    std::vector<std::vector<std::uint32_t>> Requests() const {
        std::vector<std::vector<std::uint32_t>> requests;
        for (const auto& r : sim.Requests())
            requests.push_back({r[1], ReadLe32(&r[2]), ReadLe32(&r[6])});
        return requests;
    }
};

JobHeader HeaderFor(std::uint32_t start, std::uint32_t length) {
    JobHeader header;
    header.nameSize = 10;
    header.series = 4;
    header.options = OptVerify | OptCountLimit;
    header.countLimit = 5;
    header.programmedCount = 2;
    header.jobStart = start;
    header.jobLength = length;
    header.jobTime = {26, 12, 7, 10, 21, 34};
    header.shiftValue = 9;
    return header;
}

constexpr std::uint32_t kRead = 0x13;
constexpr std::uint32_t kCrc = 0x14;

TEST(ReadStoredJob, ReadsTheImageInWholeAnswersAndKeepsItAsARecord) {
    // 1000 bytes: fifteen full answers of 64 bytes and a last one of 40.
    std::vector<std::uint8_t> image(1000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 5);
    for (const std::uint32_t jobAddress : {kJobAreaAddress, kJobFallbackAddress}) {
        Rig rig;
        const JobHeader header = HeaderFor(0x08004000, 1000);
        rig.Store(jobAddress, header, image, "board.hex");

        const WorkerOutcome outcome = ReadStoredJob(rig.port);
        ASSERT_TRUE(outcome.ok()) << outcome.detail;
        EXPECT_EQ(rig.port.messages, std::vector<std::string>{std::string(kJobReadText)});

        std::vector<std::vector<std::uint32_t>> expected = {{kRead, kJobAreaAddress, 45}};
        if (jobAddress != kJobAreaAddress) expected.push_back({kRead, jobAddress, 45});
        expected.push_back({kRead, jobAddress + kJobNameOffset, 64});
        for (std::uint32_t offset = 0; offset < 960; offset += 64)
            expected.push_back({kRead, offset, 64});
        expected.push_back({kRead, 960, 40});
        expected.push_back({kCrc, 0, 1000});
        EXPECT_EQ(rig.Requests(), expected) << std::hex << jobAddress;
        EXPECT_EQ(rig.port.ranges, std::vector<std::uint32_t>{1000});
        ASSERT_FALSE(rig.port.positions.empty());
        EXPECT_EQ(rig.port.positions.back(), 1000u);

        // The loaded image is now the job as a remote record: the stored header bytes 2..44
        // from offset 4, the image from offset 64.
        const std::uint8_t* record = rig.workspace.image.imageBuffer;
        const auto stored = header.Encode();
        EXPECT_EQ(std::vector<std::uint8_t>(record, record + 4), std::vector<std::uint8_t>(4, 0));
        EXPECT_EQ(std::vector<std::uint8_t>(record + 4, record + 47),
                  std::vector<std::uint8_t>(stored.begin() + 2, stored.end()));
        EXPECT_EQ(std::vector<std::uint8_t>(record + 64, record + 1064), image);
        EXPECT_EQ(rig.workspace.image.imageLength, 1064u);
        EXPECT_EQ(rig.workspace.fileName, "board.hex");
        const JobImageFacts facts = JobImageOfRecord(record);
        EXPECT_EQ(facts.start, 0x08004000u);
        EXPECT_EQ(facts.length, 1000u);
        EXPECT_EQ(facts.crc, WordCrc32(image.data(), 250));
        ASSERT_EQ(rig.port.descriptions.size(), 1u);
        EXPECT_EQ(rig.port.descriptions[0][0].value, "board.hex");
    }
}

TEST(ReadStoredJob, WithoutAVerifiedJobTheLoadedImageStays) {
    const std::vector<std::uint8_t> image(64, 0x5A);
    struct Case {
        const char* what;
        std::uint32_t start;
        std::uint32_t length;
        std::uint8_t marker;
        std::vector<Fault> faults;
        OutcomeKind kind;
        std::string_view message;
    };
    const Case cases[] = {
        {"erased", 0x08000000, 64, 0xFF, {}, OutcomeKind::NoStoredJob, kNoStoredJobText},
        {"not whole words",
         0x08000000,
         62,
         kJobMarker,
         {},
         OutcomeKind::NoStoredJob,
         kStoredJobDamagedText},
        {"into the job area",
         0x08000000,
         kJobAreaAddress + 4,
         kJobMarker,
         {},
         OutcomeKind::NoStoredJob,
         kStoredJobDamagedText},
        {"beyond the address space",
         0xFFFFFFF0,
         64,
         kJobMarker,
         {},
         OutcomeKind::NoStoredJob,
         kStoredJobDamagedText},
        // The image's answer comes back changed (status byte in its first data byte).
        {"a corrupted answer",
         0x08000000,
         64,
         kJobMarker,
         {{Command::ReadStorage, FaultKind::Status, 3}},
         OutcomeKind::VerifyMismatch,
         kVerifyMismatchText},
        {"a wrong checksum",
         0x08000000,
         64,
         kJobMarker,
         {{Command::StorageCrc, FaultKind::Crc, 1}},
         OutcomeKind::VerifyMismatch,
         kVerifyMismatchText},
        {"a lost answer",
         0x08000000,
         64,
         kJobMarker,
         {{Command::ReadStorage, FaultKind::Read, 3}},
         OutcomeKind::ReadFailed,
         "数据上传失败 错误码:02"},
    };
    for (const Case& c : cases) {
        Rig rig;
        JobHeader header = HeaderFor(c.start, c.length);
        header.marker = c.marker;
        rig.Store(kJobAreaAddress, header, image, "board.hex");
        for (const Fault& fault : c.faults) rig.sim.AddFault(fault);

        const WorkerOutcome outcome = ReadStoredJob(rig.port);
        EXPECT_EQ(outcome.kind, c.kind) << c.what;
        EXPECT_EQ(rig.port.messages, std::vector<std::string>{std::string(c.message)}) << c.what;
        EXPECT_EQ(rig.workspace.fileName, "loaded.hex") << c.what;
        EXPECT_EQ(rig.workspace.image.imageLength, 3u) << c.what;
        EXPECT_EQ(std::memcmp(rig.workspace.image.imageBuffer, "abc", 3), 0) << c.what;
        EXPECT_TRUE(rig.port.descriptions.empty()) << c.what;
        if (c.kind == OutcomeKind::NoStoredJob) {
            // Nothing beyond the header places is asked of a programmer without a job.
            for (const auto& request : rig.Requests()) {
                EXPECT_EQ(request[0], kRead) << c.what;
                EXPECT_GE(request[1], kJobAreaAddress) << c.what;
            }
        }
    }
}

}  // namespace
