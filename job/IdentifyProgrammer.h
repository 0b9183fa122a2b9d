#pragma once
#include <cstdint>
#include <string_view>

#include "common/Translation.h"
#include "job/JobDescription.h"
#include "link/ProgrammerLink.h"
#include "worker/WorkerOutcome.h"
#include "worker/WorkerPort.h"

// What IdentifyProgrammer needs of its face.
class IdentifyPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual void HideLockChip() = 0;
    // The series list: enabled or not, and its selection (-1: none).
    virtual void SetSeriesList(bool enabled, int selectedIndex) = 0;
    // Rewrites the job list; an empty description empties it.
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// Texts of the identification, shown in message boxes and shared by every face.
// Version query: 01 the request could not be sent, 02 no answer; firmware word: 03, 04.
inline constexpr std::string_view kVersionReadFailed01 = N_("版本信息读取失败 错误码:01");
inline constexpr std::string_view kVersionReadFailed02 = N_("版本信息读取失败 错误码:02");
inline constexpr std::string_view kVersionReadFailed03 = N_("版本信息读取失败 错误码:03");
inline constexpr std::string_view kVersionReadFailed04 = N_("版本信息读取失败 错误码:04");
// Reading the stored job (header or name) back: 01 a request not sent, 02 no answer.
inline constexpr std::string_view kStoredJobReadFailed01 = N_("数据上传失败 错误码:01");
inline constexpr std::string_view kStoredJobReadFailed02 = N_("数据上传失败 错误码:02");

inline constexpr std::size_t kNameAreaSize = 64;

// Runs once after every opening: reads the version words and the stored job, sets the
// series list and shows the job description. Holds the link for its whole sequence.
// Stops at the first failed exchange with that step's message; what earlier steps set
// stays set. Never throws.
WorkerOutcome IdentifyProgrammer(IdentifyPort& port);

// The series list after identification: fixed to the programmer's own series for the
// older kind, free at the stored series for the newer. An index outside the eight
// series leaves the list without a selection.
void ApplySeriesSelection(IdentifyPort& port, std::uint32_t programmerVersion,
                          std::uint8_t storedSeries);
