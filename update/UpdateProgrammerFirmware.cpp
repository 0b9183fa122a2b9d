#include "update/UpdateProgrammerFirmware.h"

#include <algorithm>
#include <cstring>

#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "link/HidReport.h"
#include "update/FirmwareForm.h"
#include "update/ProgrammerFirmware.h"

namespace {

// Codes 01..09: three per command, for its request, its answer and its result.
enum Step { EraseStep = 1, WriteStep = 4, CrcStep = 7 };

WorkerOutcome Fail(FirmwareUpdatePort& port, OutcomeKind kind, int code, std::string detail) {
    const char* message = Tr(kMsgFirmwareUpdateFailed[code - 1]);
    port.ShowMessage(MessageIcon::Error, message);
    port.SetUpdateEnabled(true);
    return WorkerOutcome{kind, code, message, std::move(detail)};
}

// A failed exchange, with the code of its request or its answer.
WorkerOutcome FailExchange(FirmwareUpdatePort& port, ExchangeResult result, int step,
                           const ProgrammerLink::Session& session, std::uint32_t address) {
    const bool write = result == ExchangeResult::WriteFailed;
    return Fail(port, write ? OutcomeKind::WriteFailed : OutcomeKind::ReadFailed,
                write ? step : step + 1,
                Format("0x%08x: %s", address, session.LastError().c_str()));
}

// Ends the update before anything was sent, with a message of this tool's own.
WorkerOutcome Refuse(FirmwareUpdatePort& port, std::string message, std::string detail) {
    port.ShowMessage(MessageIcon::Error, message);
    port.SetUpdateEnabled(true);
    return WorkerOutcome{OutcomeKind::InputRefused, 0, std::move(message), std::move(detail)};
}

}  // namespace

WorkerOutcome UpdateProgrammerFirmware(FirmwareUpdatePort& port,
                                       const ProgrammerFirmware& firmware) {
    const std::span<const std::uint8_t> image = firmware.image;
    const auto size = static_cast<std::uint32_t>(image.size());
    const std::uint32_t version = firmware.VersionWord();

    HidReport report;  // zeroed once; later requests set only their own fields
    port.SetUpdateEnabled(false);

    if (const FirmwareCheck form = CheckFirmwareForm(image); !form.ok()) {
        return Refuse(port, kMsgFirmwareFormRefused + form.problem, form.problem);
    }

    ProgrammerLink& link = port.Link();
    ProgrammerLink::Session session = link.Acquire();
    if (firmware.placeholder && session.ReachesHardware()) {
        return Refuse(port, Tr(kMsgPlaceholderFirmware),
                      "the carried firmware is a placeholder; " + link.DevicePath() +
                          " is not the simulated programmer");
    }

    const std::uint32_t installed = link.firmwareVersion();
    if (version <= installed && installed <= kFirmwareQuestionLimit &&
        !port.AskYesNo(Tr(kFirmwareQuestionCaption), Tr(kMsgFirmwareUpToDate))) {
        port.SetUpdateEnabled(true);
        return WorkerOutcome{OutcomeKind::Declined, 0, {}, {}};
    }

    port.SetProgressRange(size);
    port.SetProgressPosition(0);

    report.SetRequest(Command::EraseFirmware, kProgrammerFirmwareAddress, size);
    if (const ExchangeResult r = session.Exchange(report); r != ExchangeResult::Ok) {
        return FailExchange(port, r, EraseStep, session, kProgrammerFirmwareAddress);
    }
    if (report.Status() != 0) {
        return Fail(port, OutcomeKind::Refused, EraseStep + 2,
                    Format("EraseFirmware 0x%08x, %u bytes: status %u", kProgrammerFirmwareAddress,
                           size, report.Status()));
    }

    for (std::uint32_t offset = 0; offset < size; offset += kFirmwareBlockSize) {
        const std::uint32_t address = kProgrammerFirmwareAddress + offset;
        // The last block still says 32; the data bytes after the image's end keep what
        // the previous answer left.
        const std::uint32_t count = std::min<std::uint32_t>(kFirmwareBlockSize, size - offset);
        report.SetRequest(Command::WriteFirmware, address, kFirmwareBlockSize);
        std::memcpy(report.Data(), image.data() + offset, count);
        if (const ExchangeResult r = session.Exchange(report); r != ExchangeResult::Ok) {
            return FailExchange(port, r, WriteStep, session, address);
        }
        if (report.Status() != 0) {
            return Fail(port, OutcomeKind::Refused, WriteStep + 2,
                        Format("WriteFirmware 0x%08x: status %u", address, report.Status()));
        }
        port.SetProgressPosition(offset);
    }

    report.SetRequest(Command::FirmwareCrc, kProgrammerFirmwareAddress, size);
    if (const ExchangeResult r = session.Exchange(report); r != ExchangeResult::Ok) {
        return FailExchange(port, r, CrcStep, session, kProgrammerFirmwareAddress);
    }
    const std::uint32_t expected = WordCrc32(image.data(), size / 4);
    const std::uint32_t answered = report.AnswerWord();
    if (answered != expected) {
        return Fail(
            port, OutcomeKind::VerifyMismatch, CrcStep + 2,
            Format("the programmer answered 0x%08x, the image gives 0x%08x", answered, expected));
    }

    link.SetFirmwareVersion(version);
    port.ShowFirmwareVersion(version);
    port.ShowMessage(MessageIcon::Exclamation, Tr(kMsgFirmwareUpdated));
    port.SetUpdateEnabled(true);
    return WorkerOutcome{OutcomeKind::Success, 0, Tr(kMsgFirmwareUpdated), {}};
}
