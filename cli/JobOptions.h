#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "job/JobHeader.h"

// The code-shift settings given on the command line, each only when it was given.
struct GivenShift {
    std::optional<std::uint32_t> address;
    std::optional<std::int32_t> start;
    std::optional<std::int32_t> step;
    std::optional<std::uint8_t> format;  // width and order: either given makes it given
};

// The job settings of the main dialog as options, with the dialog's defaults: the
// series, the five option boxes, the run limit and the code shift.
class JobOptions {
public:
    void Register(CLI::App& command);

    // The settings as the dialog would hold them. Throws CliFailure (usage) with the
    // options dialog's message for a bad code-shift address.
    JobSettings Build() const;

    // The series given with --series, when given.
    std::optional<int> ExplicitSeries() const;
    // Whether any setting was given (a remote job file brings its own).
    bool AnyGiven() const;
    // The code-shift settings given (a product of the serial ledger keeps the others).
    GivenShift GivenCodeShift() const;
    // Whether --count-limit was given (a leased block sets the run limit itself).
    bool CountLimitGiven() const {
        return countLimitOption_ != nullptr && countLimitOption_->count() > 0;
    }

private:
    std::string series_;
    bool readProtect_ = false;
    bool noVerify_ = false;
    bool runAfter_ = false;
    bool fullErase_ = false;
    std::optional<std::int32_t> countLimit_;
    bool lockChip_ = false;
    bool shift_ = false;
    std::optional<std::string> shiftAddress_;
    std::int32_t shiftStart_ = 0;
    std::int32_t shiftStep_ = 1;
    int shiftWidth_ = 4;
    std::string shiftOrder_ = "low";
    std::vector<CLI::Option*> options_;
    CLI::Option* seriesOption_ = nullptr;
    CLI::Option* countLimitOption_ = nullptr;
    CLI::Option* shiftAddressOption_ = nullptr;
    CLI::Option* shiftStartOption_ = nullptr;
    CLI::Option* shiftStepOption_ = nullptr;
    CLI::Option* shiftWidthOption_ = nullptr;
    CLI::Option* shiftOrderOption_ = nullptr;
};

// The series index of a name of the series list (any letter case); -1 when unknown.
int SeriesIndexOf(std::string_view name);
