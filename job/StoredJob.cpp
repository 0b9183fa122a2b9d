#include "job/StoredJob.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "image/FileLoading.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "job/UploadJob.h"
#include "link/HidReport.h"
#include "job/IdentifyProgrammer.h"

std::optional<JobHeader> StoredHeader(const ProgrammerLink& link) {
    const StoredJob stored = link.storedJob();
    if (stored.header.size() != kJobHeaderSize || stored.header[0] != kJobMarker)
        return std::nullopt;
    return JobHeader::Decode(stored.header.data());
}

JobImageFacts JobImageOfImage(const FirmwareImage& image) {
    JobImageFacts facts;
    facts.start = image.imageStart;
    facts.length = (image.imageLength + 3u) & ~3u;
    facts.crc = WordCrc32Padded(image.imageBuffer, image.imageLength);
    return facts;
}

JobImageFacts JobImageOfRecord(const std::uint8_t* record) {
    JobImageFacts facts;
    facts.start = ReadLe32(record + kRecordStartOffset);
    facts.length = ReadLe32(record + kRecordLengthOffset);
    facts.crc = WordCrc32(record + kRecordImageOffset, facts.length / 4);
    return facts;
}

std::string DifferencesText(const JobComparison& comparison) {
    switch (comparison.state) {
        case StoredJobState::None:
            return "the programmer holds no job";
        case StoredJobState::Damaged:
            return "the programmer's job header is damaged";
        case StoredJobState::Stored:
            break;
    }
    const JobImageFacts& file = comparison.file;
    const JobImageFacts& stored = comparison.stored;
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (!text.empty()) text += "; ";
        text += part;
    };
    if (comparison.startDiffers) {
        add(Format("start: the programmer's 0x%08X, the file's 0x%08X", stored.start, file.start));
    }
    if (comparison.lengthDiffers) {
        add(Format("length: the programmer's %u bytes, the file's %u", stored.length, file.length));
    }
    if (comparison.contentDiffers) {
        add(
            Format("content: the programmer's checksum 0x%08X over %u bytes, the file's 0x%08X "
                   "over %u",
                   stored.crc, stored.length, file.crc, file.length));
    }
    return text;
}

namespace {

// The exchanges both workers make; the first failure shows its message and ends the
// worker with `outcome`.
class StoredJobReader {
public:
    StoredJobReader(WorkerSinks& sinks, ProgrammerLink::Session& session)
        : sinks_(sinks), session_(session) {}

    WorkerOutcome outcome;
    std::array<std::uint8_t, kJobHeaderSize> header{};
    std::uint32_t jobAddress = kJobAreaAddress;
    JobHeader job;
    std::string why;  // why the header is not a stored job

    // Sends the request as it stands and reads its answer.
    bool Exchange(HidReport& report) {
        const std::uint8_t command = report.CommandCode();
        const std::uint32_t address = report.Address();
        const std::uint32_t length = report.Length();
        const ExchangeResult result = session_.Exchange(report);
        if (result == ExchangeResult::Ok) return true;
        const char* name = CommandName(command);
        const std::string request =
            Format("%s 0x%06X+%u: ", name != nullptr ? name : "?", address, length);
        if (result == ExchangeResult::WriteFailed) {
            Finish(OutcomeKind::WriteFailed, 1, kStoredJobReadFailed01,
                   request + session_.LastError());
        } else {
            Finish(OutcomeKind::ReadFailed, 2, kStoredJobReadFailed02,
                   request + session_.LastError());
        }
        return false;
    }

    // The header where identification finds it: the job area, else the second place.
    bool ReadHeader(HidReport& report) {
        for (const std::uint32_t address : {kJobAreaAddress, kJobFallbackAddress}) {
            report.SetRequest(Command::ReadStorage, address, kJobHeaderSize);
            if (!Exchange(report)) return false;
            std::memcpy(header.data(), report.Answer(), kJobHeaderSize);
            jobAddress = address;
            if (header[0] == kJobMarker) break;
        }
        job = JobHeader::Decode(header.data());
        return true;
    }

    // What the header read holds.
    StoredJobState Judge() {
        if (job.marker != kJobMarker) {
            why = Format("no job header at 0x%06X or 0x%06X", kJobAreaAddress, kJobFallbackAddress);
            return StoredJobState::None;
        }
        // Uploads store whole words below the job area, and only images that end within
        // the address space.
        if (job.jobLength % 4 != 0 || job.jobLength > kMaxJobImageLength ||
            !EndsWithinAddressSpace(job.jobStart, job.jobLength)) {
            why = Format(
                "the header at 0x%06X places %u bytes at 0x%08X: not whole words below "
                "the job area at 0x%06X within the address space",
                jobAddress, job.jobLength, job.jobStart, kJobAreaAddress);
            return StoredJobState::Damaged;
        }
        return StoredJobState::Stored;
    }

    // The programmer's checksum of the stored image.
    bool StoredCrc(HidReport& report, std::uint32_t length, std::uint32_t& crc) {
        report.SetRequest(Command::StorageCrc, 0, length);
        if (!Exchange(report)) return false;
        crc = report.AnswerWord();
        return true;
    }

    WorkerOutcome Finish(OutcomeKind kind, int code, std::string_view msgid, std::string detail) {
        outcome = WorkerOutcome{kind, code, Tr(msgid), std::move(detail)};
        const std::string& message = outcome.message;
        // Refusals of input carry the notice icon, as success does.
        const bool notice = kind == OutcomeKind::Success || kind == OutcomeKind::InputRefused;
        sinks_.ShowMessage(notice ? MessageIcon::Exclamation : MessageIcon::Error, message);
        return outcome;
    }

private:
    WorkerSinks& sinks_;
    ProgrammerLink::Session& session_;
};

std::string_view NotStoredText(StoredJobState state) {
    return state == StoredJobState::Damaged ? kStoredJobDamagedText : kNoStoredJobText;
}

}  // namespace

WorkerOutcome VerifyJob(VerifyPort& port) {
    ImageWorkspace& workspace = port.Workspace();
    const ImageWorkspace::ImageUse use(workspace);
    ProgrammerLink::Session session = port.Link().Acquire();
    StoredJobReader reader(port, session);

    JobComparison comparison;
    if (UploadKindOf(workspace.fileName) == UploadKind::RemoteJob) {
        std::string detail;
        if (!RecordCarriesItsImage(workspace.image, detail)) {
            return reader.Finish(OutcomeKind::InputRefused, 0, kRecordLengthBadText, detail);
        }
        comparison.file = JobImageOfRecord(workspace.image.imageBuffer);
    } else {
        comparison.file = JobImageOfImage(workspace.image);
    }

    HidReport report;  // zeroed once; each request sets only its own fields
    if (!reader.ReadHeader(report)) return reader.outcome;
    comparison.state = reader.Judge();
    if (comparison.state != StoredJobState::Stored) {
        port.ShowJobComparison(comparison);
        return reader.Finish(OutcomeKind::VerifyMismatch, 0, NotStoredText(comparison.state),
                             reader.why);
    }
    comparison.stored.start = reader.job.jobStart;
    comparison.stored.length = reader.job.jobLength;
    if (!reader.StoredCrc(report, comparison.stored.length, comparison.stored.crc)) {
        return reader.outcome;
    }
    comparison.startDiffers = comparison.stored.start != comparison.file.start;
    comparison.lengthDiffers = comparison.stored.length != comparison.file.length;
    comparison.contentDiffers = comparison.stored.crc != comparison.file.crc;
    port.ShowJobComparison(comparison);
    if (!comparison.Held()) {
        return reader.Finish(OutcomeKind::VerifyMismatch, 0, kVerifyMismatchText,
                             DifferencesText(comparison));
    }
    return reader.Finish(OutcomeKind::Success, 0, kJobHeldText,
                         Format("%u bytes at 0x%08X, checksum 0x%08X", comparison.file.length,
                                comparison.file.start, comparison.file.crc));
}

WorkerOutcome ReadStoredJob(ReadBackPort& port) {
    ImageWorkspace& workspace = port.Workspace();
    ProgrammerLink::Session session = port.Link().Acquire();
    StoredJobReader reader(port, session);
    // The job read back replaces the loaded image, which a running worker may still read.
    if (workspace.InUse()) {
        return reader.Finish(OutcomeKind::InputRefused, 0, kMsgImageBusy,
                             "another worker reads the loaded image");
    }
    const ImageWorkspace::ImageUse use(workspace);

    HidReport report;
    if (!reader.ReadHeader(report)) return reader.outcome;
    const StoredJobState state = reader.Judge();
    if (state != StoredJobState::Stored) {
        return reader.Finish(OutcomeKind::NoStoredJob, 0, NotStoredText(state), reader.why);
    }
    const std::uint32_t start = reader.job.jobStart;
    const std::uint32_t length = reader.job.jobLength;

    // The marker read back doubles as the name length, as in identification: 64.
    report.SetRequest(Command::ReadStorage, reader.jobAddress + kJobNameOffset, kNameAreaSize);
    if (!reader.Exchange(report)) return reader.outcome;
    const std::string name = JobNameFromStored(report.Answer(), kNameAreaSize);

    FirmwareImage& staging = workspace.Staging();
    std::uint8_t* record = staging.imageBuffer;
    std::uint8_t* image = record + kRecordImageOffset;
    port.SetProgressRange(length);
    port.SetProgressPosition(0);
    for (std::uint32_t offset = 0; offset < length; offset += kMaxReadData) {
        const std::uint32_t count = std::min<std::uint32_t>(kMaxReadData, length - offset);
        report.SetRequest(Command::ReadStorage, offset, count);
        if (!reader.Exchange(report)) return reader.outcome;
        std::memcpy(image + offset, report.Answer(), count);
        port.SetProgressPosition(offset + count);
    }

    std::uint32_t stored = 0;
    if (!reader.StoredCrc(report, length, stored)) return reader.outcome;
    const std::uint32_t readBack = WordCrc32(image, length / 4);
    if (readBack != stored) {
        return reader.Finish(OutcomeKind::VerifyMismatch, 0, kVerifyMismatchText,
                             Format("the programmer's checksum 0x%08X, the %u bytes read back "
                                    "0x%08X",
                                    stored, length, readBack));
    }

    std::memset(record, 0, kRecordImageOffset);
    std::memcpy(record + kRecordHeaderOffset, reader.header.data() + 2, kJobHeaderSize - 2);
    staging.imageLength = static_cast<std::uint32_t>(kRecordImageOffset) + length;
    staging.imageStart = start;
    workspace.CommitStaging({}, name);

    port.ShowJobDescription(
        DescribeJob(name, reader.header.data(), port.Link().programmerVersion()));
    return reader.Finish(OutcomeKind::Success, 0, kJobReadText,
                         Format("%u bytes at 0x%08X, checksum 0x%08X", length, start, stored));
}
