#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "link/ProgrammerLink.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// What UploadJob and UploadRemoteJob need of their face.
class UploadPort : public virtual WorkerSinks, public JobSettingsSource {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;
    virtual void SetProgramEnabled(bool enabled) = 0;
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// Texts of the upload, shown in message boxes and shared by every face.
// Codes 01..17: a request of the store sequence could not be sent, answered or was
// refused. Four blanks stand before the colon.
inline constexpr std::array<std::string_view, 17> kUploadFailedTexts = {
    N_("Ошибка    :01"), N_("Ошибка    :02"), N_("Ошибка    :03"), N_("Ошибка    :04"),
    N_("Ошибка    :05"), N_("Ошибка    :06"), N_("Ошибка    :07"), N_("Ошибка    :08"),
    N_("Ошибка    :09"), N_("Ошибка    :10"), N_("Ошибка    :11"), N_("Ошибка    :12"),
    N_("Ошибка    :13"), N_("Ошибка    :14"), N_("Ошибка    :15"), N_("Ошибка    :16"),
    N_("Ошибка    :17")};
// Codes 18..21: the job was stored and verified, but could not be read back.
inline constexpr std::array<std::string_view, 4> kReadBackFailedTexts = {
    N_("数据上传失败 错误码:18"), N_("数据上传失败 错误码:19"), N_("数据上传失败 错误码:20"),
    N_("数据上传失败 错误码:21")};
inline constexpr std::string_view kVerifyMismatchText = N_("数据校验错误");
inline constexpr std::string_view kUploadDoneText = N_("Успешно\u2000");
// Refusals before anything is sent: the image would reach into the job area, or a
// remote record states more image bytes than it carries.
inline constexpr std::string_view kImageTooLargeText = N_("Образ слишком велик");
inline constexpr std::string_view kRecordLengthBadText = N_("Неверная длина образа в файле");

// The text of step code 1..21; empty for any other code.
std::string_view UploadMessageText(int code);

inline constexpr std::uint32_t kUploadBlockSize = 32;
// Where the image and the header fields lie in a loaded remote job record.
inline constexpr std::size_t kRecordHeaderOffset = 4;   // header bytes 2..44 from here
inline constexpr std::size_t kRecordStartOffset = 14;   // its start address
inline constexpr std::size_t kRecordLengthOffset = 18;  // its image length
inline constexpr std::size_t kRecordImageOffset = 64;
// The name write of a remote job always carries the whole name field.
inline constexpr std::uint32_t kRemoteNameWriteLength = 55;

// Whether a loaded remote job record is at least its prefix long and carries the image
// bytes it states; says why not. Never throws.
bool RecordCarriesItsImage(const FirmwareImage& record, std::string& detail);

// What the Program button does for a loaded file, by its extension (the text after the
// last '.', or the whole name without one, in any letter case).
enum class UploadKind { Job, RemoteJob, None };
UploadKind UploadKindOf(std::string_view fileName);

// Stores the loaded ".hex" or ".bin" image as a job: pads it to whole words with 0xFF,
// erases, writes header, name and image, verifies the programmer's checksum and reads
// the job back into the job description. Holds the link and the image for its whole
// run. Shows exactly one message and returns how it ended; never throws.
WorkerOutcome UploadJob(UploadPort& port);

// The same for a loaded remote job record: its own header fields and image length.
WorkerOutcome UploadRemoteJob(UploadPort& port);
