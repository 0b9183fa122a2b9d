#include "job/UploadJob.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/LittleEndian.h"
#include "common/LocalTime.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "image/FileLoading.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"

std::string_view UploadMessageText(int code) {
    if (code >= 1 && code <= 17) return kUploadFailedTexts[static_cast<std::size_t>(code - 1)];
    if (code >= 18 && code <= 21) return kReadBackFailedTexts[static_cast<std::size_t>(code - 18)];
    return {};
}

UploadKind UploadKindOf(std::string_view fileName) {
    // Decided as a load decides the file's kind, so every file that loads has its kind.
    switch (FileKindOf(ExtensionOfName(fileName))) {
        case FileKind::Hex:
        case FileKind::RawBinary:
        case FileKind::Srec:
        case FileKind::Elf:
            return UploadKind::Job;
        case FileKind::RemoteJob:
            return UploadKind::RemoteJob;
        case FileKind::Unsupported:
            break;
    }
    return UploadKind::None;
}

bool RecordCarriesItsImage(const FirmwareImage& record, std::string& detail) {
    if (record.imageLength < kRecordImageOffset) {
        detail = Format("record of %u bytes is shorter than its %u-byte prefix", record.imageLength,
                        static_cast<unsigned>(kRecordImageOffset));
        return false;
    }
    const std::uint32_t stated = ReadLe32(record.imageBuffer + kRecordLengthOffset);
    const std::uint32_t carried =
        record.imageLength - static_cast<std::uint32_t>(kRecordImageOffset);
    if (stated > carried) {
        detail = Format("record states %u image bytes, carries %u", stated, carried);
        return false;
    }
    return true;
}

namespace {

// What the two uploads differ in.
struct UploadInput {
    const std::uint8_t* image = nullptr;  // `length` bytes, a whole number of words
    std::uint32_t length = 0;
    // Header bytes 2..44 ready-made (a remote record), or nullptr to build them from the
    // settings at the moment the header is written.
    const std::uint8_t* readyHeader = nullptr;
    std::uint32_t imageStart = 0;
    bool fullNameField = false;  // the name write carries all 55 bytes
};

// Failure codes of one request: sending it, reading its answer, a refusing status
// (0 for answers that carry no status).
struct StepCodes {
    int send;
    int read;
    int status;
};

constexpr StepCodes kHeaderStep{7, 8, 9};

class UploadSequence {
public:
    UploadSequence(UploadPort& port, ProgrammerLink::Session& session)
        : port_(port), session_(session) {}

    WorkerOutcome Run(const UploadInput& input, std::string_view fileName);

private:
    // Exchanges the report as it stands; on failure shows the step's message.
    bool Exchange(const StepCodes& codes);
    void Finish(OutcomeKind kind, int code, std::string_view message, std::string detail);

    UploadPort& port_;
    ProgrammerLink::Session& session_;
    HidReport report_;  // zeroed once; each request sets only its own fields
    WorkerOutcome outcome_;
    // From the job area's erase until the header is written the programmer holds no
    // job, and a failure says so.
    bool jobAreaErased_ = false;
};

void UploadSequence::Finish(OutcomeKind kind, int code, std::string_view msgid,
                            std::string detail) {
    outcome_.kind = kind;
    outcome_.code = code;
    outcome_.message = Tr(msgid);
    outcome_.detail = std::move(detail);
    // The step's text stays the outcome's one line; the box also says what is left.
    const std::string shown =
        jobAreaErased_ ? outcome_.message + "\n" + Tr(kNoStoredJobText) : outcome_.message;
    port_.ShowMessage(kind == OutcomeKind::Success ? MessageIcon::Exclamation : MessageIcon::Error,
                      shown);
    // After a complete, verified store a failed read-back leaves the button as it is.
    if (kind != OutcomeKind::ReadBackFailed) port_.SetProgramEnabled(true);
}

bool UploadSequence::Exchange(const StepCodes& codes) {
    // The request's fields go before the answer overwrites them.
    const std::uint8_t command = report_.CommandCode();
    const std::uint32_t address = report_.Address();
    const std::uint32_t length = report_.Length();
    const ExchangeResult result = session_.Exchange(report_);
    if (result == ExchangeResult::Ok && (codes.status == 0 || report_.Status() == 0)) return true;

    const char* name = CommandName(command);
    const std::string request =
        Format("%s 0x%06X+%u", name != nullptr ? name : "?", address, length);
    const bool readBack = codes.send >= 18;
    if (result == ExchangeResult::WriteFailed) {
        Finish(readBack ? OutcomeKind::ReadBackFailed : OutcomeKind::WriteFailed, codes.send,
               UploadMessageText(codes.send), request + ": " + session_.LastError());
    } else if (result == ExchangeResult::ReadFailed) {
        // A header whose answer was lost may have been stored: nothing is known then.
        if (codes.send == kHeaderStep.send) jobAreaErased_ = false;
        Finish(readBack ? OutcomeKind::ReadBackFailed : OutcomeKind::ReadFailed, codes.read,
               UploadMessageText(codes.read), request + ": " + session_.LastError());
    } else {
        Finish(OutcomeKind::Refused, codes.status, UploadMessageText(codes.status),
               Format("%s: status %u", request.c_str(), report_.Status()));
    }
    return false;
}

WorkerOutcome UploadSequence::Run(const UploadInput& input, std::string_view fileName) {
    const std::uint32_t length = input.length;
    port_.SetProgressRange(length);
    port_.SetProgressPosition(0);
    port_.SetProgramEnabled(false);

    report_.SetRequest(Command::EraseStorage, kJobAreaAddress, kJobAreaSize);
    if (!Exchange({1, 2, 3})) return outcome_;
    // The image goes first and is checked before anything marks it as a job: cut short
    // anywhere before the header, the job area stays erased and the programmer holds
    // no job, never a header over half an image.
    jobAreaErased_ = true;
    report_.SetRequest(Command::EraseStorage, 0, length);
    if (!Exchange({4, 5, 6})) return outcome_;

    for (std::uint32_t offset = 0;; offset += kUploadBlockSize) {
        const bool last = std::uint64_t{offset} + kUploadBlockSize >= length;
        // The last block still says 32 bytes; what follows the image's end in it is not
        // significant.
        const std::uint32_t carried = last ? length - offset : kUploadBlockSize;
        report_.SetRequest(Command::WriteStorage, offset, kUploadBlockSize);
        std::memcpy(report_.Data(), input.image + offset, carried);
        if (!Exchange({13, 14, 15})) return outcome_;
        port_.SetProgressPosition(offset);
        if (last) break;
    }
    port_.SetProgressPosition(length);

    report_.SetRequest(Command::StorageCrc, 0, length);
    if (!Exchange({16, 17, 0})) return outcome_;
    const std::uint32_t stored = report_.AnswerWord();
    const std::uint32_t expected = WordCrc32(input.image, length / 4);
    if (stored != expected) {
        Finish(OutcomeKind::VerifyMismatch, 0, kVerifyMismatchText,
               Format("programmer's checksum 0x%08X, image's 0x%08X over %u bytes", stored,
                      expected, length));
        return outcome_;
    }

    // The name before the header: a name alone in the erased job area is no job, so
    // the header's write is the one step that makes the stored image a job.
    const JobName name = MakeJobName(fileName);
    if (input.fullNameField) {
        report_.SetRequest(Command::WriteStorage, kJobNameAddress, kRemoteNameWriteLength);
        std::memcpy(report_.Data(), name.bytes.data(), kRemoteNameWriteLength);
    } else {
        report_.SetRequest(Command::WriteStorage, kJobNameAddress, name.nameSize);
        std::memcpy(report_.Data(), name.bytes.data(), name.nameSize);
    }
    report_.Data()[kMaxWriteData - 1] = 0;  // a name cut to 55 bytes still ends in a NUL
    if (!Exchange({10, 11, 12})) return outcome_;

    std::array<std::uint8_t, kJobHeaderSize> header;
    if (input.readyHeader != nullptr) {
        header[0] = kJobMarker;
        header[1] = name.nameSize;
        std::memcpy(&header[2], input.readyHeader, kJobHeaderSize - 2);
    } else {
        // The settings count as they stand now, after the image is stored.
        header = BuildJobHeader(port_.CurrentJobSettings(), input.imageStart, length, name.nameSize,
                                LocalTimeNow())
                     .Encode();
    }
    report_.SetRequest(Command::WriteStorage, kJobAreaAddress, kJobHeaderSize);
    std::memcpy(report_.Data(), header.data(), kJobHeaderSize);
    if (!Exchange(kHeaderStep)) return outcome_;
    jobAreaErased_ = false;

    report_.SetRequest(Command::ReadStorage, kJobAreaAddress, kJobHeaderSize);
    if (!Exchange({18, 19, 0})) return outcome_;
    std::array<std::uint8_t, kJobHeaderSize> readBack;
    std::memcpy(readBack.data(), report_.Answer(), kJobHeaderSize);

    // The marker read back doubles as the name length: 64 for a valid header.
    const std::uint32_t nameLength = std::min<std::uint32_t>(readBack[0], kMaxReadData);
    report_.SetRequest(Command::ReadStorage, kJobNameAddress, nameLength);
    if (!Exchange({20, 21, 0})) return outcome_;
    const std::string storedName = JobNameFromStored(report_.Answer(), nameLength);

    port_.ShowJobDescription(
        DescribeJob(storedName, readBack.data(), port_.Link().programmerVersion()));
    Finish(OutcomeKind::Success, 0, kUploadDoneText,
           Format("%u image bytes stored, checksum 0x%08X", length, expected));
    return outcome_;
}

WorkerOutcome Refuse(UploadPort& port, std::string_view msgid, std::string detail) {
    WorkerOutcome outcome;
    outcome.kind = OutcomeKind::InputRefused;
    outcome.message = Tr(msgid);
    outcome.detail = std::move(detail);
    port.ShowMessage(MessageIcon::Exclamation, outcome.message);
    port.SetProgramEnabled(true);
    return outcome;
}

}  // namespace

WorkerOutcome UploadJob(UploadPort& port) {
    ImageWorkspace& workspace = port.Workspace();
    const ImageWorkspace::ImageUse use(workspace);
    ProgrammerLink::Session session = port.Link().Acquire();

    FirmwareImage& image = workspace.image;
    // Padding happens in the buffer itself, so the image must leave room for it below
    // the job area (which also keeps it inside the buffer).
    const std::uint64_t padded = (std::uint64_t{image.imageLength} + 3) & ~std::uint64_t{3};
    if (padded > kMaxJobImageLength) {
        return Refuse(port, kImageTooLargeText,
                      Format("image of %u bytes, the storage below the job area holds %u",
                             image.imageLength, kMaxJobImageLength));
    }
    std::uint32_t length = image.imageLength;
    while (length % 4 != 0) image.imageBuffer[length++] = 0xFF;

    UploadInput input;
    input.image = image.imageBuffer;
    input.length = length;
    input.imageStart = image.imageStart;
    UploadSequence sequence(port, session);
    return sequence.Run(input, workspace.fileName);
}

WorkerOutcome UploadRemoteJob(UploadPort& port) {
    ImageWorkspace& workspace = port.Workspace();
    const ImageWorkspace::ImageUse use(workspace);
    ProgrammerLink::Session session = port.Link().Acquire();

    const FirmwareImage& record = workspace.image;
    std::string detail;
    if (!RecordCarriesItsImage(record, detail)) return Refuse(port, kRecordLengthBadText, detail);
    const std::uint32_t stated = ReadLe32(record.imageBuffer + kRecordLengthOffset);
    if (stated > kMaxJobImageLength) {
        return Refuse(port, kRecordLengthBadText,
                      Format("record states %u image bytes, the storage below the job area "
                             "holds %u",
                             stated, kMaxJobImageLength));
    }

    UploadInput input;
    input.image = record.imageBuffer + kRecordImageOffset;
    input.length = stated;
    input.readyHeader = record.imageBuffer + kRecordHeaderOffset;
    input.fullNameField = true;
    UploadSequence sequence(port, session);
    return sequence.Run(input, workspace.fileName);
}
