#include "job/ProductionLog.h"

#include <chrono>
#include <ctime>

#include <nlohmann/json.hpp>

#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "job/JobHeader.h"
#include "job/UploadJob.h"

std::string ProductionLogTime() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm parts{};
#ifdef _WIN32
    if (gmtime_s(&parts, &seconds) != 0) return {};
#else
    if (gmtime_r(&seconds, &parts) == nullptr) return {};
#endif
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(millis));
}

namespace {

template <class T>
nlohmann::ordered_json OrNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

}  // namespace

void OperationRecord::Take(const ProgrammerLink& link, bool identified) {
    path = link.DevicePath();
    serial = link.SerialNumber();
    connectionCode = link.connectionCode();
    if (!identified) return;
    programmerVersion = link.programmerVersion();
    firmwareVersion = link.firmwareVersion();
}

std::optional<JobFacts> StoredJobFacts(const ProgrammerLink& link) {
    const StoredJob stored = link.storedJob();
    if (stored.header.size() != kJobHeaderSize || stored.header[0] != kJobMarker)
        return std::nullopt;
    const JobHeader header = JobHeader::Decode(stored.header.data());
    return JobFacts{stored.name, header.jobStart, header.jobLength, std::nullopt};
}

JobFacts LoadedJobFacts(const ImageWorkspace& workspace, FileKind kind) {
    const FirmwareImage& image = workspace.image;
    JobFacts job;
    job.name = workspace.fileName;
    const std::uint8_t* bytes = image.imageBuffer;
    std::uint32_t length = image.imageLength;
    job.start = image.imageStart;
    if (kind == FileKind::RemoteJob) {
        // A remote job file holds a record: the job's start and length are its own, and
        // the image follows the 64-byte prefix (the loader checked the length).
        job.start = ReadLe32(bytes + kRecordStartOffset);
        length = ReadLe32(bytes + kRecordLengthOffset);
        bytes += kRecordImageOffset;
    }
    job.wordCrc32 = WordCrc32Padded(bytes, length);
    job.length = (length + 3) & ~3u;
    return job;
}

std::string ProductionLogLine(const OperationRecord& record, ExitCode code,
                              std::string_view message, std::string_view detail) {
    return ProductionLogLine(record, code, message, detail, ProductionLogTime());
}

std::string ProductionLogLine(const OperationRecord& record, ExitCode code,
                              std::string_view message, std::string_view detail,
                              std::string_view utcTime) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["time"] = std::string(utcTime);
    line["operation"] = record.operation;
    line["path"] = record.path;
    line["serial"] = record.serial.empty() ? nlohmann::ordered_json(nullptr)
                                           : nlohmann::ordered_json(record.serial);
    line["deviceId"] = record.connectionCode
                           ? nlohmann::ordered_json(Format("%08X", *record.connectionCode))
                           : nlohmann::ordered_json(nullptr);
    line["programmerVersion"] = OrNull(record.programmerVersion);
    line["firmwareVersion"] = OrNull(record.firmwareVersion);
    if (record.job) {
        line["jobName"] = record.job->name;
        line["start"] = record.job->start;
        line["length"] = record.job->length;
        line["wordCrc32"] = OrNull(record.job->wordCrc32);
    } else {
        for (const char* key : {"jobName", "start", "length", "wordCrc32"}) line[key] = nullptr;
    }
    if (record.lease) {
        line["lease"] = {{"product", record.lease->product},
                         {"firstValue", record.lease->firstValue},
                         {"count", record.lease->count}};
    } else {
        line["lease"] = nullptr;
    }
    line["serialConflict"] = record.serialConflict.empty()
                                 ? nlohmann::ordered_json(nullptr)
                                 : nlohmann::ordered_json(record.serialConflict);
    line["result"] = ExitCodeName(code);
    line["message"] = std::string(message);
    line["detail"] = std::string(detail);
    line["exitCode"] = ToInt(code);
    // Names and answers need not be valid UTF-8; the line must still be whole.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool ProductionLogFile::Open(const std::filesystem::path& path, std::string& error) {
    open_ = file_.Open(path, error);
    return open_;
}

bool ProductionLogFile::Append(std::string_view line, std::string_view path) {
    if (!open_) return false;
    std::string error;
    if (file_.Append(line, error)) return true;
    std::lock_guard lock(mutex_);
    if (lost_.empty()) lost_ = "the line of " + std::string(path) + " is lost: " + error;
    return false;
}

std::string ProductionLogFile::Lost() const {
    std::lock_guard lock(mutex_);
    return lost_;
}
