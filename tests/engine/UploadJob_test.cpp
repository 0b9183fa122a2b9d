#include "job/UploadJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "job/JobHeader.h"
#include "link/SimulatedBackend.h"
#include "tests/support/RecordingPort.h"

namespace {

constexpr std::uint8_t kErase = 0x11;
constexpr std::uint8_t kWrite = 0x12;
constexpr std::uint8_t kRead = 0x13;
constexpr std::uint8_t kCrc = 0x14;

// One programmer on a link, an image workspace and a port over both.
struct Rig {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer();
    ProgrammerLink link{backend};
    ImageWorkspace workspace;
    RecordingPort port{link, workspace};

    explicit Rig(bool open = true) {
        if (open) {
            EXPECT_TRUE(link.Open());
            link.SetProgrammerVersion(sim.ProgrammerVersion());
        }
    }

    const std::vector<std::vector<std::uint8_t>>& Requests() const { return sim.Requests(); }
};

std::uint8_t ImageByte(std::size_t i, std::uint8_t salt = 0) {
    return static_cast<std::uint8_t>(i * 37 + 11 + salt);
}

// Fills the image with a pattern and what follows it with 0xEE, so that bytes sent from
// beyond the image are caught.
void LoadImage(ImageWorkspace& workspace, std::uint32_t length, const std::string& name,
               std::uint8_t salt = 0) {
    std::uint8_t* buffer = workspace.image.imageBuffer;
    for (std::uint32_t i = 0; i < length; ++i) buffer[i] = ImageByte(i, salt);
    std::memset(buffer + length, 0xEE, std::min<std::size_t>(128, kImageStorageSize - length));
    workspace.image.imageLength = length;
    workspace.image.imageStart = 0x08000000;
    workspace.fileName = name;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& r, std::size_t at) { return ReadLe32(&r[at]); }

void ExpectRequest(const std::vector<std::uint8_t>& r, std::uint8_t command, std::uint32_t address,
                   std::uint32_t length, const std::string& what) {
    ASSERT_EQ(r.size(), kReportSize) << what;
    EXPECT_EQ(r[0], 0) << what;
    EXPECT_EQ(r[1], command) << what;
    EXPECT_EQ(Le32(r, 2), address) << what;
    EXPECT_EQ(Le32(r, 6), length) << what;
}

TEST(UploadKind, ByExtensionInAnyCase) {
    EXPECT_EQ(UploadKindOf("fw.hex"), UploadKind::Job);
    EXPECT_EQ(UploadKindOf("FW.HEX"), UploadKind::Job);
    EXPECT_EQ(UploadKindOf("image.Bin"), UploadKind::Job);
    EXPECT_EQ(UploadKindOf("job.QvZ"), UploadKind::RemoteJob);
    EXPECT_EQ(UploadKindOf("fw.SREC"), UploadKind::Job);  // every loadable kind, however long
    EXPECT_EQ(UploadKindOf("fw.axf"), UploadKind::Job);
    EXPECT_EQ(UploadKindOf("fw.txt"), UploadKind::None);
    EXPECT_EQ(UploadKindOf("fw.hex.txt"), UploadKind::None);  // only the last extension
    EXPECT_EQ(UploadKindOf("fw.txt.hex"), UploadKind::Job);
    EXPECT_EQ(UploadKindOf("fw.hexx"), UploadKind::None);
    EXPECT_EQ(UploadKindOf("fw."), UploadKind::None);
    EXPECT_EQ(UploadKindOf(""), UploadKind::None);
    EXPECT_EQ(UploadKindOf("bin"), UploadKind::Job);  // no dot: the whole name counts
    EXPECT_EQ(UploadKindOf("прошивка.hex"), UploadKind::Job);
}

TEST(UploadTexts, StepCodesAndTheirBytes) {
    for (int code = 1; code <= 17; ++code) {
        EXPECT_EQ(UploadMessageText(code), Format("Ошибка    :%02d", code)) << code;
    }
    for (int code = 18; code <= 21; ++code) {
        EXPECT_EQ(UploadMessageText(code), Format("数据上传失败 错误码:%d", code)) << code;
    }
    EXPECT_EQ(UploadMessageText(0), "");
    EXPECT_EQ(UploadMessageText(22), "");
    EXPECT_EQ(kUploadDoneText, "Успешно\xE2\x80\x80");  // the word and one EN QUAD
}

TEST(UploadJob, StoresA1001ByteImageByteExactly) {
    Rig rig;
    LoadImage(rig.workspace, 1001, "fw.bin");
    rig.port.settings.seriesIndex = 4;
    rig.port.settings.countLimitText = "25";
    std::size_t requestsAtSettings = 0;
    rig.port.onSettings = [&] { requestsAtSettings = rig.Requests().size(); };
    // Every report in both directions, to see which bytes each request leaves alone.
    std::vector<std::vector<std::uint8_t>> answers;
    rig.link.SetTrace([&](char direction, const std::uint8_t* bytes, std::size_t size) {
        if (direction == '<') answers.emplace_back(bytes, bytes + size);
    });

    const LocalTimeFields before = LocalTimeNow();
    const WorkerOutcome outcome = UploadJob(rig.port);
    const LocalTimeFields after = LocalTimeNow();

    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_EQ(outcome.message, kUploadDoneText);
    EXPECT_EQ(rig.port.messages, std::vector<std::string>{std::string(kUploadDoneText)});
    EXPECT_EQ(rig.port.icons, std::vector<MessageIcon>{MessageIcon::Exclamation});
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(rig.workspace.image.imageLength, 1001u);  // only the upload's copy grows
    // The settings count as the header is built: after the image and the name.
    EXPECT_EQ(requestsAtSettings, 36u);

    // The image is stored and checked before the name and the header make it a job.
    const auto& requests = rig.Requests();
    ASSERT_EQ(requests.size(), 4u + 32u + 3u);
    ASSERT_EQ(answers.size(), requests.size());
    ExpectRequest(requests[0], kErase, 0x1FE000, 0x2000, "job area erase");
    ExpectRequest(requests[1], kErase, 0, 1004, "image erase");

    for (std::uint32_t block = 0; block < 32; ++block) {
        const auto& r = requests[2 + block];
        const std::uint32_t offset = block * 32;
        ExpectRequest(r, kWrite, offset, 32, Format("block at %u", offset));
        const std::uint32_t carried = block == 31 ? 12 : 32;
        for (std::uint32_t i = 0; i < carried; ++i) {
            const std::uint8_t expected = offset + i < 1001 ? ImageByte(offset + i) : 0xFF;
            ASSERT_EQ(r[10 + i], expected) << "block at " << offset << " byte " << i;
        }
    }
    ExpectRequest(requests[34], kCrc, 0, 1004, "checksum");

    ExpectRequest(requests[35], kWrite, 0x1FE040, 7, "name");
    EXPECT_EQ(std::memcmp(&requests[35][10], "fw.bin", 7), 0);
    EXPECT_EQ(requests[35][64], 0);

    ExpectRequest(requests[36], kWrite, 0x1FE000, 45, "header");
    const JobHeader header = JobHeader::Decode(&requests[36][10]);
    EXPECT_EQ(header.marker, 0xAA);
    EXPECT_EQ(header.nameSize, 7);
    EXPECT_EQ(header.series, 4);
    EXPECT_EQ(header.options, OptVerify);
    EXPECT_EQ(header.countLimit, 25);
    EXPECT_EQ(header.jobStart, 0x08000000u);
    EXPECT_EQ(header.jobLength, 1004u);
    EXPECT_EQ(header.shiftAddress, 0x08004000u);
    EXPECT_EQ(header.shiftFormat, 3);
    EXPECT_TRUE(header.jobTime == JobTimeOf(before) || header.jobTime == JobTimeOf(after));

    ExpectRequest(requests[37], kRead, 0x1FE000, 45, "header read-back");
    ExpectRequest(requests[38], kRead, 0x1FE040, 64, "name read-back");

    // Zeroed once; afterwards each request changes only its own fields and data.
    for (std::size_t i = 10; i < kReportSize; ++i) ASSERT_EQ(requests[0][i], 0) << i;
    for (std::size_t n = 1; n < requests.size(); ++n) {
        std::size_t firstKept = 10;
        if (n >= 2 && n < 33) firstKept = 10 + 32;
        if (n == 33) firstKept = 10 + 12;
        if (n == 35) firstKept = 10 + 7;
        if (n == 36) firstKept = 10 + 45;
        for (std::size_t i = firstKept; i < kReportSize; ++i) {
            if (n == 35 && i == 64) continue;  // the name's last byte is always sent as 0
            ASSERT_EQ(requests[n][i], answers[n - 1][i]) << "request " << n << " byte " << i;
        }
    }

    // The CRC covered 251 words; the stored image is the padded one.
    std::vector<std::uint8_t> padded(rig.workspace.image.imageBuffer,
                                     rig.workspace.image.imageBuffer + 1004);
    EXPECT_EQ(padded[1001], 0xFF);
    EXPECT_EQ(padded[1003], 0xFF);
    EXPECT_EQ(std::memcmp(rig.sim.Storage(), padded.data(), 1004), 0);
    EXPECT_EQ(ReadLe32(&answers[34][1]), WordCrc32(padded.data(), 251));

    std::vector<std::uint32_t> positions{0};
    for (std::uint32_t offset = 0; offset <= 992; offset += 32) positions.push_back(offset);
    positions.push_back(1004);
    EXPECT_EQ(rig.port.ranges, std::vector<std::uint32_t>{1004});
    EXPECT_EQ(rig.port.positions, positions);

    ASSERT_EQ(rig.port.descriptions.size(), 1u);
    const JobDescription& rows = rig.port.descriptions[0];
    ASSERT_EQ(rows.size(), 9u);  // the simulated programmer is of the newer kind
    EXPECT_EQ(rows[0].value, "fw.bin");
    EXPECT_EQ(rows[1].value, "STM32F4XX");
    EXPECT_EQ(rows[6].value, "1004");
    EXPECT_EQ(rows[8].value, "---");
}

TEST(UploadJob, SixtyFourBytesGoInTwoFullBlocks) {
    Rig rig;
    LoadImage(rig.workspace, 64, "sixty-four.hex");
    ASSERT_TRUE(UploadJob(rig.port).ok());
    const auto& requests = rig.Requests();
    ASSERT_EQ(requests.size(), 4u + 2u + 3u);
    ExpectRequest(requests[1], kErase, 0, 64, "image erase");
    ExpectRequest(requests[2], kWrite, 0, 32, "first block");
    ExpectRequest(requests[3], kWrite, 32, 32, "second block");
    for (std::uint32_t i = 0; i < 32; ++i) {
        EXPECT_EQ(requests[2][10 + i], ImageByte(i));
        EXPECT_EQ(requests[3][10 + i], ImageByte(32 + i));
    }
    ExpectRequest(requests[4], kCrc, 0, 64, "checksum");
    EXPECT_EQ(rig.port.positions, (std::vector<std::uint32_t>{0, 0, 32, 64}));
}

TEST(UploadJob, AnEmptyImageStillSendsOneBlock) {
    Rig rig;
    LoadImage(rig.workspace, 0, "empty.bin");
    const WorkerOutcome outcome = UploadJob(rig.port);
    ASSERT_TRUE(outcome.ok()) << outcome.detail;
    const auto& requests = rig.Requests();
    ASSERT_EQ(requests.size(), 8u);
    ExpectRequest(requests[1], kErase, 0, 0, "image erase");
    ExpectRequest(requests[2], kWrite, 0, 32, "the one block");
    ExpectRequest(requests[3], kCrc, 0, 0, "checksum");
    EXPECT_EQ(rig.port.descriptions.at(0).at(6).value, "0");
}

TEST(UploadJob, LongNamesAreWrittenCutWithTheirNul) {
    Rig rig;
    const std::string name = std::string(56, 'n') + ".hex";  // 60 characters
    LoadImage(rig.workspace, 8, name);
    ASSERT_TRUE(UploadJob(rig.port).ok());
    const auto& r = rig.Requests()[4];  // after the one block and the checksum
    ExpectRequest(r, kWrite, 0x1FE040, 55, "name");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r[10]), 54), name.substr(0, 54));
    EXPECT_EQ(r[64], 0);
    EXPECT_EQ(rig.Requests()[5][10 + 1], 55);  // nameSize
    EXPECT_EQ(rig.port.descriptions.at(0).at(0).value, name.substr(0, 54));
}

struct FaultCase {
    Command command;
    FaultKind kind;
    int occurrence;
    int code;
    std::size_t failingRequest;  // its place in the sequence of a 1001-byte upload
};

TEST(UploadJob, EveryStepFailsWithItsOwnCode) {
    const FaultCase cases[] = {
        {Command::EraseStorage, FaultKind::Write, 1, 1, 0},
        {Command::EraseStorage, FaultKind::Read, 1, 2, 0},
        {Command::EraseStorage, FaultKind::Status, 1, 3, 0},
        {Command::EraseStorage, FaultKind::Write, 2, 4, 1},
        {Command::EraseStorage, FaultKind::Read, 2, 5, 1},
        {Command::EraseStorage, FaultKind::Status, 2, 6, 1},
        {Command::WriteStorage, FaultKind::Write, 1, 13, 2},     // first block
        {Command::WriteStorage, FaultKind::Read, 18, 14, 19},    // a middle block
        {Command::WriteStorage, FaultKind::Status, 32, 15, 33},  // the last block
        {Command::StorageCrc, FaultKind::Write, 1, 16, 34},
        {Command::StorageCrc, FaultKind::Read, 1, 17, 34},
        {Command::WriteStorage, FaultKind::Write, 33, 10, 35},  // the name
        {Command::WriteStorage, FaultKind::Read, 33, 11, 35},
        {Command::WriteStorage, FaultKind::Status, 33, 12, 35},
        {Command::WriteStorage, FaultKind::Write, 34, 7, 36},  // the header
        {Command::WriteStorage, FaultKind::Read, 34, 8, 36},
        {Command::WriteStorage, FaultKind::Status, 34, 9, 36},
        {Command::ReadStorage, FaultKind::Write, 1, 18, 37},
        {Command::ReadStorage, FaultKind::Read, 1, 19, 37},
        {Command::ReadStorage, FaultKind::Write, 2, 20, 38},
        {Command::ReadStorage, FaultKind::Read, 2, 21, 38},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(Format("code %02d", c.code));
        Rig rig;
        LoadImage(rig.workspace, 1001, "fw.hex");
        rig.sim.AddFault({c.command, c.kind, c.occurrence});
        const WorkerOutcome outcome = UploadJob(rig.port);

        EXPECT_EQ(outcome.code, c.code);
        // Failed after the job area's erase and before the header was stored, the
        // programmer holds no job and the message says so below the step's text; a
        // header whose answer was lost (08) may stand.
        const bool headerStored = c.code == 8 || c.code >= 18;
        const bool noJob = c.code >= 4 && !headerStored;
        EXPECT_EQ(rig.sim.Storage()[0x1FE000], headerStored ? 0xAA : 0xFF);
        EXPECT_EQ(outcome.message, UploadMessageText(c.code));
        const std::string shown =
            outcome.message + (noJob ? "\n" + std::string(kNoStoredJobText) : "");
        EXPECT_EQ(rig.port.messages, std::vector<std::string>{shown});
        EXPECT_EQ(rig.port.icons, std::vector<MessageIcon>{MessageIcon::Error});
        EXPECT_EQ(rig.Requests().size(), c.failingRequest + 1);  // nothing after the failure
        EXPECT_TRUE(rig.port.descriptions.empty());
        OutcomeKind kind = c.kind == FaultKind::Write  ? OutcomeKind::WriteFailed
                           : c.kind == FaultKind::Read ? OutcomeKind::ReadFailed
                                                       : OutcomeKind::Refused;
        if (c.code >= 18) {
            kind = OutcomeKind::ReadBackFailed;
            // The store was complete and verified: the button stays disabled.
            EXPECT_EQ(rig.port.programStates, std::vector<bool>{false});
            EXPECT_EQ(rig.port.positions.back(), 1004u);
        } else {
            EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
        }
        EXPECT_EQ(outcome.kind, kind);
        EXPECT_FALSE(outcome.detail.empty());
    }
}

TEST(UploadJob, ADifferentChecksumIsAVerificationError) {
    Rig rig;
    LoadImage(rig.workspace, 100, "fw.hex");
    rig.sim.AddFault({Command::StorageCrc, FaultKind::Crc, 1});
    const WorkerOutcome outcome = UploadJob(rig.port);
    EXPECT_EQ(outcome.kind, OutcomeKind::VerifyMismatch);
    EXPECT_EQ(outcome.message, kVerifyMismatchText);
    EXPECT_EQ(rig.port.icons, std::vector<MessageIcon>{MessageIcon::Error});
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
    EXPECT_EQ(rig.Requests().size(), 2u + 4u + 1u);  // neither name, header nor read-back
    EXPECT_TRUE(rig.port.descriptions.empty());
    // An image that did not check out never became a job.
    EXPECT_EQ(rig.sim.Storage()[0x1FE000], 0xFF);
    EXPECT_EQ(rig.sim.Storage()[0x1FE040], 0xFF);
}

TEST(UploadJob, WithoutAProgrammerTheFirstSendFails) {
    Rig rig(false);
    LoadImage(rig.workspace, 100, "fw.hex");
    const WorkerOutcome outcome = UploadJob(rig.port);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.message, "Ошибка    :01");
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
}

TEST(UploadJob, UnpluggedDuringABlock) {
    Rig rig;
    rig.backend.SetEventSink([&](const DeviceEvent& event) {
        if (event.kind == DeviceEvent::Kind::Removal) rig.link.OnRemoval(event.path);
    });
    LoadImage(rig.workspace, 1001, "fw.hex");
    rig.sim.AddFault({Command::WriteStorage, FaultKind::Unplug, 10});
    const WorkerOutcome outcome = UploadJob(rig.port);
    EXPECT_EQ(outcome.code, 13);
    EXPECT_EQ(outcome.kind, OutcomeKind::WriteFailed);
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
}

TEST(UploadJob, RemovedFromAnotherThreadMidUpload) {
    Rig rig;
    const std::string path = rig.link.DevicePath();
    rig.backend.SetEventSink([&](const DeviceEvent& event) {
        if (event.kind == DeviceEvent::Kind::Removal) rig.link.OnRemoval(event.path);
    });
    LoadImage(rig.workspace, 64 * 1024, "big.bin");

    // The worker stops after the good reply of block 100 until the removal is done.
    std::promise<void> reached;
    std::promise<void> removed;
    std::shared_future<void> removedFuture = removed.get_future().share();
    int blocksSeen = 0;
    rig.port.onProgress = [&](std::uint32_t) {
        if (++blocksSeen == 1 + 101) {  // the 0 of the start, then blocks 0..100
            reached.set_value();
            removedFuture.wait();
        }
    };
    std::future<WorkerOutcome> worker =
        std::async(std::launch::async, [&] { return UploadJob(rig.port); });
    reached.get_future().wait();
    rig.backend.Unplug(path);
    removed.set_value();
    const WorkerOutcome outcome = worker.get();

    EXPECT_EQ(outcome.code, 13);
    EXPECT_EQ(outcome.message, "Ошибка    :13");
    EXPECT_EQ(rig.Requests().size(), 2u + 101u);  // the next block never went out
    EXPECT_FALSE(rig.link.IsOpen());
    EXPECT_EQ(rig.link.programmerVersion(), 0u);
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
}

TEST(UploadJob, AHungProgrammerEndsTheStepByTimeOut) {
    // 40 ms for an answer, and the default allowance per KiB: the 8 KiB job area's erase
    // 320 ms more, the checksum of 256 bytes 1 ms.
    const struct {
        Command command;
        int occurrence;
        int code;
        const char* bound;
    } hangs[] = {{Command::EraseStorage, 1, 2, "within 360 ms"},
                 {Command::WriteStorage, 5, 14, "within 40 ms"},
                 {Command::StorageCrc, 1, 17, "within 41 ms"},
                 {Command::ReadStorage, 2, 21, "within 40 ms"}};
    for (const auto& hang : hangs) {
        SCOPED_TRACE(Format("code %02d", hang.code));
        Rig rig;
        rig.link.SetTimeouts({.answerMs = 40});
        LoadImage(rig.workspace, 256, "fw.hex");
        rig.sim.AddFault({hang.command, FaultKind::Hang, hang.occurrence});
        const WorkerOutcome outcome = UploadJob(rig.port);
        EXPECT_EQ(outcome.code, hang.code);
        EXPECT_NE(outcome.detail.find(hang.bound), std::string::npos) << outcome.detail;
    }
}

TEST(UploadJob, TwoWorkersTakeTheLinkInTurn) {
    SimulatedBackend backend;
    SimulatedProgrammer& sim = backend.AddProgrammer();
    ProgrammerLink link(backend);
    ASSERT_TRUE(link.Open());
    ImageWorkspace firstImage;
    ImageWorkspace secondImage;
    RecordingPort first(link, firstImage);
    RecordingPort second(link, secondImage);
    LoadImage(firstImage, 2048, "first.bin", 1);
    LoadImage(secondImage, 2048, "second.hex", 2);

    // The second worker starts while the first holds the link in the middle of its run.
    std::future<WorkerOutcome> secondWorker;
    first.onSettings = [&] {
        secondWorker = std::async(std::launch::async, [&] { return UploadJob(second); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    std::future<WorkerOutcome> firstWorker =
        std::async(std::launch::async, [&] { return UploadJob(first); });
    const WorkerOutcome a = firstWorker.get();
    const WorkerOutcome b = secondWorker.get();
    ASSERT_TRUE(a.ok()) << a.message << " " << a.detail;
    ASSERT_TRUE(b.ok()) << b.message << " " << b.detail;
    EXPECT_EQ(first.descriptions.at(0).at(0).value, "first.bin");
    EXPECT_EQ(second.descriptions.at(0).at(0).value, "second.hex");

    // Each worker's whole sequence, one after the other.
    const auto& requests = sim.Requests();
    const std::size_t perUpload = 4 + 64 + 3;
    ASSERT_EQ(requests.size(), 2 * perUpload);
    for (int worker = 0; worker < 2; ++worker) {
        const std::size_t base = worker * perUpload;
        const std::uint8_t salt = static_cast<std::uint8_t>(worker + 1);
        SCOPED_TRACE(worker);
        EXPECT_EQ(requests[base][1], kErase);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&requests[base + 2 + 64 + 1][10])),
                  worker == 0 ? "first.bin" : "second.hex");
        for (std::size_t block = 0; block < 64; ++block) {
            const auto& r = requests[base + 2 + block];
            ASSERT_EQ(r[1], kWrite);
            ASSERT_EQ(Le32(r, 2), block * 32);
            ASSERT_EQ(r[10], ImageByte(block * 32, salt)) << block;
        }
        EXPECT_EQ(requests[base + perUpload - 1][1], kRead);
    }
    EXPECT_EQ(sim.Storage()[5], ImageByte(5, 2));
}

// A plain remote record as the file reader leaves it: 64-byte prefix, then the image.
void LoadRecord(ImageWorkspace& workspace, const JobHeader& fields, std::uint32_t imageBytes,
                const std::string& name) {
    std::uint8_t* record = workspace.image.imageBuffer;
    std::memset(record, 0, 64);
    WriteLe32(record, 0x12345678);  // target code
    const auto header = fields.Encode();
    std::memcpy(record + 4, &header[2], 43);
    for (std::uint32_t i = 0; i < imageBytes; ++i) record[64 + i] = ImageByte(i, 9);
    std::memset(record + 64 + imageBytes, 0xEE,
                std::min<std::size_t>(64, kImageStorageSize - 64 - imageBytes));
    workspace.image.imageLength = 64 + imageBytes;
    workspace.fileName = name;
}

JobHeader RemoteFields(std::uint32_t jobLength) {
    JobHeader fields;
    fields.series = 3;
    fields.options = OptVerify | OptCountLimit | OptRunAfter;
    fields.countLimit = 9;
    fields.jobStart = 0x08002000;
    fields.jobLength = jobLength;
    fields.jobTime = {25, 3, 14, 9, 26, 53};
    fields.shiftEnabled = 1;
    fields.shiftAddress = 0x0800F000;
    fields.shiftStart = 100;
    fields.shiftValue = 100;
    fields.shiftStep = 2;
    fields.shiftFormat = 5;
    return fields;
}

TEST(UploadRemoteJob, SendsTheRecordsOwnHeaderAndTheWholeNameField) {
    Rig rig;
    LoadRecord(rig.workspace, RemoteFields(100), 100, "remote-job.qvz");
    const WorkerOutcome outcome = UploadRemoteJob(rig.port);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_EQ(rig.port.settingsReads, 0);  // the dialog's controls play no part

    const auto& requests = rig.Requests();
    ASSERT_EQ(requests.size(), 4u + 4u + 3u);
    ExpectRequest(requests[0], kErase, 0x1FE000, 0x2000, "job area erase");
    ExpectRequest(requests[1], kErase, 0, 100, "image erase");
    for (std::uint32_t block = 0; block < 4; ++block) {
        ExpectRequest(requests[2 + block], kWrite, block * 32, 32, Format("block %u", block));
    }
    EXPECT_EQ(requests[5][10 + 3], ImageByte(99, 9));
    EXPECT_EQ(requests[5][10 + 4], 0);  // what the previous answer left, not the 0xEE after
    ExpectRequest(requests[6], kCrc, 0, 100, "checksum");

    ExpectRequest(requests[7], kWrite, 0x1FE040, 55, "name");
    EXPECT_EQ(std::memcmp(&requests[7][10], "remote-job.qvz", 15), 0);
    for (std::size_t i = 10 + 15; i < kReportSize; ++i) EXPECT_EQ(requests[7][i], 0) << i;

    ExpectRequest(requests[8], kWrite, 0x1FE000, 45, "header");
    EXPECT_EQ(requests[8][10], 0xAA);
    EXPECT_EQ(requests[8][11], 15);  // "remote-job.qvz" and its NUL
    EXPECT_EQ(std::memcmp(&requests[8][12], rig.workspace.image.imageBuffer + 4, 43), 0);

    for (std::uint32_t i = 0; i < 100; ++i) ASSERT_EQ(rig.sim.Storage()[i], ImageByte(i, 9)) << i;
    const JobDescription& rows = rig.port.descriptions.at(0);
    EXPECT_EQ(rows[0].value, "remote-job.qvz");
    EXPECT_EQ(rows[1].value, "STM32F3XX");
    EXPECT_EQ(rows[2].value, "|校验数据|重启运行|擦除扇区|编程次数");
    EXPECT_EQ(rows[3].value, "9");
    EXPECT_EQ(rows[5].value, "0x08002000");
    EXPECT_EQ(rows[6].value, "100");
    EXPECT_EQ(rows[7].value, "2025/03/14 09:26:53");
    EXPECT_EQ(rows[8].value, "地址:0x800f000 起始:100 数值:100 步进:2");
}

TEST(UploadRemoteJob, FailsWithTheSameStepCodes) {
    Rig rig;
    LoadRecord(rig.workspace, RemoteFields(64), 64, "r.qvz");
    rig.sim.AddFault({Command::WriteStorage, FaultKind::Status, 4});  // after two blocks, the name
    const WorkerOutcome outcome = UploadRemoteJob(rig.port);
    EXPECT_EQ(outcome.code, 9);
    EXPECT_EQ(rig.port.programStates, (std::vector<bool>{false, true}));
}

// Refusals happen before anything is sent and leave the button usable.
void ExpectRefused(const Rig& rig, const WorkerOutcome& outcome, std::string_view text) {
    EXPECT_EQ(outcome.kind, OutcomeKind::InputRefused);
    EXPECT_EQ(outcome.message, text);
    EXPECT_EQ(rig.port.messages, std::vector<std::string>{std::string(text)});
    EXPECT_EQ(rig.port.icons, std::vector<MessageIcon>{MessageIcon::Exclamation});
    EXPECT_EQ(rig.port.programStates, std::vector<bool>{true});
    EXPECT_TRUE(rig.Requests().empty());
    EXPECT_TRUE(rig.port.ranges.empty());
}

TEST(UploadRemoteJob, RefusesARecordStatingMoreThanItCarries) {
    {
        Rig rig;
        LoadRecord(rig.workspace, RemoteFields(101), 100, "r.qvz");
        ExpectRefused(rig, UploadRemoteJob(rig.port), kRecordLengthBadText);
    }
    {
        Rig rig;  // carries enough, but would reach into the job area
        const std::uint32_t carried = kImageStorageSize - 64;
        LoadRecord(rig.workspace, RemoteFields(0x1FE004), carried, "r.qvz");
        ExpectRefused(rig, UploadRemoteJob(rig.port), kRecordLengthBadText);
    }
    {
        Rig rig;  // shorter than the prefix itself
        LoadRecord(rig.workspace, RemoteFields(0), 0, "r.qvz");
        rig.workspace.image.imageLength = 63;
        ExpectRefused(rig, UploadRemoteJob(rig.port), kRecordLengthBadText);
    }
}

TEST(UploadJob, RefusesAnImageThatWouldReachTheJobArea) {
    Rig rig;
    LoadImage(rig.workspace, 0x1FE001, "huge.bin");
    std::uint8_t* after = rig.workspace.image.imageBuffer + 0x1FE001;
    const WorkerOutcome outcome = UploadJob(rig.port);
    ExpectRefused(rig, outcome, kImageTooLargeText);
    EXPECT_EQ(after[0], 0xEE);  // not padded either
    EXPECT_EQ(rig.workspace.image.imageLength, 0x1FE001u);
}

TEST(UploadJob, AnImageEndingExactlyAtTheJobAreaIsStored) {
    Rig rig;
    LoadImage(rig.workspace, kMaxJobImageLength - 3, "full.bin");
    const WorkerOutcome outcome = UploadJob(rig.port);
    ASSERT_TRUE(outcome.ok()) << outcome.message << " " << outcome.detail;
    EXPECT_EQ(rig.Requests()[1][6], 0x00);
    EXPECT_EQ(Le32(rig.Requests()[1], 6), kMaxJobImageLength);
    EXPECT_EQ(rig.sim.Storage()[kMaxJobImageLength - 1], 0xFF);  // padding
    EXPECT_EQ(rig.sim.Storage()[kJobAreaAddress], 0xAA);         // header intact
}

}  // namespace
