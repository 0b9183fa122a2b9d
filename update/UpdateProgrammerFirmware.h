#pragma once
#include <cstdint>
#include <string_view>

#include "common/Translation.h"
#include "link/ProgrammerLink.h"
#include "update/ProgrammerFirmware.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// What UpdateProgrammerFirmware needs of its face.
class FirmwareUpdatePort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;
    // The "Frimware:%x.%02x" line after a successful update.
    virtual void ShowFirmwareVersion(std::uint32_t firmwareVersion) = 0;
};

// The system's texts of the firmware update.
inline constexpr const char* kFirmwareQuestionCaption = N_("提示");
inline constexpr const char* kMsgFirmwareUpToDate = N_("固件已经是最新版本,是否继续更新固件?");
inline constexpr const char* kMsgFirmwareUpdated = N_("固件更新完成");
inline constexpr const char* kMsgFirmwareUpdateFailed[] = {
    N_("固件更新失败 错误码:01"),  // writing the EraseFirmware request
    N_("固件更新失败 错误码:02"),  // reading its answer
    N_("固件更新失败 错误码:03"),  // its status not 0
    N_("固件更新失败 错误码:04"),  // writing a WriteFirmware request
    N_("固件更新失败 错误码:05"),  // reading its answer
    N_("固件更新失败 错误码:06"),  // its status not 0
    N_("固件更新失败 错误码:07"),  // writing the FirmwareCrc request
    N_("固件更新失败 错误码:08"),  // reading its answer
    N_("固件更新失败 错误码:09"),  // the programmer's checksum differs from the image's
};

// Refusals before anything is sent.
inline constexpr const char* kMsgPlaceholderFirmware =
    N_("This build carries only a placeholder of the programmer firmware: on a real programmer "
       "it would leave the programmer unusable until it is flashed again over SWD. Nothing was "
       "sent. Give the real firmware image: build with -DMARRO_PROGRAMMER_FIRMWARE=FILE, or "
       "choose the file (marrowdyne-cli update-firmware --file FILE, or the \"Файл...\" button "
       "of the firmware dialog).");
inline constexpr const char* kMsgFirmwareFormRefused =
    "This programmer firmware cannot be installed; nothing was sent: ";  // + the problem

inline constexpr std::size_t kFirmwareBlockSize = 32;
// Installed versions above this belong to firmware the question does not judge.
inline constexpr std::uint32_t kFirmwareQuestionLimit = 0x1000;

// Installs `firmware` (the carried one, or one the user chose): refuses an image without
// the programmer's form and the placeholder on anything but the simulated programmer,
// asks when the programmer already has this version or a newer one (up to 0x1000),
// erases the firmware area, writes the image in 32-byte blocks and compares the
// programmer's checksum with the image's. The update button is disabled for the run and
// enabled at every end. Holds the link for the whole sequence, the question included, so
// the programmer judged is the one written. Never throws.
WorkerOutcome UpdateProgrammerFirmware(FirmwareUpdatePort& port,
                                       const ProgrammerFirmware& firmware);
