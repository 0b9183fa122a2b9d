#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobComparison.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "link/ProgrammerLink.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// What VerifyJob needs of its face.
class VerifyPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;  // the loaded file to compare with
    // What was compared; comes before the message that judges it.
    virtual void ShowJobComparison(const JobComparison& comparison) = 0;
};

// What ReadStoredJob needs of its face.
class ReadBackPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;  // receives the job read back
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// Texts of the workers that read the stored job without writing anything. A request
// that cannot be sent or gets no answer shows the read-back texts of identification
// ("数据上传失败 错误码:01" and ":02"); a checksum that differs shows "数据校验错误".
inline constexpr std::string_view kJobHeldText = N_("Задание совпадает");
inline constexpr std::string_view kJobReadText = N_("Задание прочитано");
inline constexpr std::string_view kStoredJobDamagedText = N_("Задание в программаторе повреждено");

// The header of the job the identification found stored; nullopt when it holds none.
std::optional<JobHeader> StoredHeader(const ProgrammerLink& link);

// The job an upload of the loaded image stores: the image padded with 0xFF to whole
// words at imageStart.
JobImageFacts JobImageOfImage(const FirmwareImage& image);
// The job of a plain remote job record: its own start, length and image. The record
// must carry the image bytes it states.
JobImageFacts JobImageOfRecord(const std::uint8_t* record);

// What differs, in the words of a log line ("start: the programmer's 0x08004000, the
// file's 0x08000000; ..."), or why nothing could be compared; empty when the job is held.
std::string DifferencesText(const JobComparison& comparison);

// Says whether the programmer holds the loaded file's job, writing nothing: compares the
// stored header's start and length with the file's, and the programmer's StorageCrc over
// the stored length with the file's WordCrc32 (a ".qvz" file is judged by its record, as
// its upload would store it). Shows the comparison, then kJobHeldText, or
// kVerifyMismatchText (kNoStoredJobText, kStoredJobDamagedText when there is nothing to
// compare with) as a VerifyMismatch whose detail says what differs. Holds the link and
// the image for its whole run. Never throws.
WorkerOutcome VerifyJob(VerifyPort& port);

// Reads the stored job back: its header (the second place when the first holds none),
// its name, and its image from storage address 0 in blocks of 64 bytes, the most that one
// answer carries, with progress; then checks the image against the programmer's own
// StorageCrc. Only a job that passed that check replaces the workspace's loaded image:
// it becomes a plain remote job record (target code 0, the stored header bytes 2..44,
// the image), and fileName the stored job name; store it elsewhere with UploadRemoteJob,
// whatever that name's extension. An erased programmer, or a header whose image cannot
// lie in the storage, ends as NoStoredJob with its message and leaves the workspace as
// it was. Never throws.
WorkerOutcome ReadStoredJob(ReadBackPort& port);
