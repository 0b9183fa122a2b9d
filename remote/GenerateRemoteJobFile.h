#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "common/LocalTime.h"
#include "common/Translation.h"
#include "image/FirmwareImage.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// What GenerateRemoteJobFile needs of its face.
class RemoteGenerationPort : public virtual WorkerSinks, public JobSettingsSource {
public:
    virtual ImageWorkspace& Workspace() = 0;
    virtual std::uint32_t RemoteCode() = 0;         // the code the file is addressed to
    virtual std::uint32_t ProgrammerVersion() = 0;  // decides the code-shift row
    // Where the file goes: the program's own directory; when that cannot be written,
    // the loaded file's directory.
    virtual std::vector<std::filesystem::path> OutputDirectories() = 0;
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// The system's texts of remote job file generation.
inline constexpr const char* kMsgGenerateFailed01 =
    N_("生成文件失败 错误码:01");  // cannot create or write
inline constexpr const char* kMsgGenerateFailed02 =
    N_("生成文件失败 错误码:02");  // cannot read back
inline constexpr const char* kMsgGenerateFailed03 =
    N_("生成文件失败 错误码:03");                                              // read-back checksum
inline constexpr const char* kMsgRemoteGenerated = N_("远程文件生成成功 %s");  // the full path
// A device ID that is not exactly eight characters.
inline constexpr const char* kMsgBadDeviceId = N_("请输入正确的设备ID");
// The device-ID dialog's OK on its edit's text (UTF-8): nullopt (kMsgBadDeviceId) unless it
// is exactly eight characters; else the code as "%x" reads it.
std::optional<std::uint32_t> RemoteCodeOfEntry(std::string_view text);
// The image does not fit a remote job file or the programmer's job storage.
inline constexpr const char* kMsgRemoteImageTooLarge = N_("镜像太大,不可以生成远程文件!");

// Packs the loaded image and the settings as they stand now into a scrambled remote job
// file addressed to port.RemoteCode(), writes it into the first of port.OutputDirectories()
// that takes it, reads it back to check it and shows its job description. An earlier file
// of the same name is replaced only by one that passed that check. Pads the loaded
// image to a whole number of words, which stays. Holds an ImageUse for its whole run;
// every outcome is also shown through the port. Never throws.
WorkerOutcome GenerateRemoteJobFile(RemoteGenerationPort& port);

// The same with the clock the job time is taken from.
WorkerOutcome GenerateRemoteJobFile(RemoteGenerationPort& port,
                                    const std::function<LocalTimeFields()>& clock);
