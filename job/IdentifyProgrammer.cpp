#include "job/IdentifyProgrammer.h"

#include <algorithm>
#include <array>
#include <string>

#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "link/HidReport.h"

namespace {

// One exchange of the sequence; on failure shows the step's message and fills `outcome`.
bool Step(IdentifyPort& port, ProgrammerLink::Session& session, HidReport& report,
          std::string_view stepName, std::string_view writeFailedText, int writeFailedCode,
          std::string_view readFailedText, int readFailedCode, WorkerOutcome& outcome) {
    const ExchangeResult result = session.Exchange(report);
    if (result == ExchangeResult::Ok) return true;
    const bool writeFailed = result == ExchangeResult::WriteFailed;
    outcome.kind = writeFailed ? OutcomeKind::WriteFailed : OutcomeKind::ReadFailed;
    outcome.code = writeFailed ? writeFailedCode : readFailedCode;
    outcome.message = Tr(writeFailed ? writeFailedText : readFailedText);
    outcome.detail = std::string(stepName) + ": " + session.LastError();
    port.ShowMessage(MessageIcon::Error, outcome.message);
    return false;
}

}  // namespace

void ApplySeriesSelection(IdentifyPort& port, std::uint32_t programmerVersion,
                          std::uint8_t storedSeries) {
    auto selectable = [](unsigned index) {
        return index < kSeriesCount ? static_cast<int>(index) : -1;
    };
    if (!IsNewerKind(programmerVersion)) {
        port.SetSeriesList(false, selectable((programmerVersion >> 8) & 0x0F));
    } else {
        port.SetSeriesList(true, selectable(storedSeries));
    }
}

WorkerOutcome IdentifyProgrammer(IdentifyPort& port) {
    ProgrammerLink& link = port.Link();
    WorkerOutcome outcome;
    HidReport report;  // zeroed once; each request sets only its own fields
    std::array<std::uint8_t, kNameAreaSize> nameArea{};
    std::uint32_t jobAddress = kJobAreaAddress;

    ProgrammerLink::Session session = link.Acquire();

    report.SetRequest(Command::QueryVersion, 0, 0);
    if (!Step(port, session, report, "QueryVersion", kVersionReadFailed01, 1, kVersionReadFailed02,
              2, outcome)) {
        return outcome;
    }
    const std::uint32_t programmerVersion = report.AnswerWord();
    link.SetProgrammerVersion(programmerVersion);

    if (!IsNewerKind(programmerVersion)) {
        link.SetFirmwareVersion(0);
    } else {
        report.SetRequest(Command::ReadProgrammerWord, kFirmwareVersionAddress, 4);
        if (!Step(port, session, report, "ReadProgrammerWord", kVersionReadFailed03, 3,
                  kVersionReadFailed04, 4, outcome)) {
            return outcome;
        }
        link.SetFirmwareVersion(report.AnswerWord());
    }

    port.HideLockChip();

    report.SetRequest(Command::ReadStorage, jobAddress, kJobHeaderSize);
    if (!Step(port, session, report, "ReadStorage header", kStoredJobReadFailed01, 1,
              kStoredJobReadFailed02, 2, outcome)) {
        return outcome;
    }
    if (report.bytes[1] != kJobMarker) {
        // The second place is used whatever it holds: no stored job shows as these bytes.
        jobAddress = kJobFallbackAddress;
        report.SetRequest(Command::ReadStorage, jobAddress, kJobHeaderSize);
        if (!Step(port, session, report, "ReadStorage header", kStoredJobReadFailed01, 1,
                  kStoredJobReadFailed02, 2, outcome)) {
            return outcome;
        }
    }
    const HidReport headerRecord = report;

    // The marker byte bounds the name read; a valid header therefore always asks 64.
    const std::uint32_t nameLength =
        std::min<std::uint32_t>(headerRecord.bytes[1], static_cast<std::uint32_t>(kNameAreaSize));
    report.SetRequest(Command::ReadStorage, jobAddress + kJobNameOffset, nameLength);
    if (!Step(port, session, report, "ReadStorage name", kStoredJobReadFailed01, 1,
              kStoredJobReadFailed02, 2, outcome)) {
        return outcome;
    }
    std::copy_n(report.Answer(), nameLength, nameArea.begin());
    const std::string jobName = JobNameFromStored(nameArea.data(), nameArea.size());

    link.SetStoredJob(StoredJob{
        std::vector<std::uint8_t>(headerRecord.Answer(), headerRecord.Answer() + kJobHeaderSize),
        jobName});
    ApplySeriesSelection(port, programmerVersion, headerRecord.bytes[3]);
    port.ShowJobDescription(DescribeJob(jobName, headerRecord.Answer(), programmerVersion));
    return outcome;
}
