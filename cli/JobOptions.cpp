#include "cli/JobOptions.h"

#include <algorithm>
#include <cctype>

#include "cli/Arguments.h"
#include "cli/ExitCodes.h"
#include "link/VersionText.h"
#include "job/JobHeader.h"

int SeriesIndexOf(std::string_view name) {
    for (int i = 0; i < kSeriesCount; ++i) {
        const std::string_view candidate = kSeriesNames[i];
        if (candidate.size() == name.size() &&
            std::equal(candidate.begin(), candidate.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            })) {
            return i;
        }
    }
    return -1;
}

void JobOptions::Register(CLI::App& command) {
    std::string names;
    for (int i = 0; i < kSeriesCount; ++i) names += (i ? ", " : "") + std::string(kSeriesNames[i]);
    seriesOption_ = command
                        .add_option("--series", series_,
                                    "Target series: " + names +
                                        " (program: default the series of the job the "
                                        "programmer holds; make-remote: STM32F0XX)")
                        ->type_name("NAME")
                        ->check([](const std::string& value) -> std::string {
                            return SeriesIndexOf(value) < 0 ? "unknown series " + value : "";
                        });
    options_.push_back(seriesOption_);
    CLI::Option* readProtect =
        command.add_flag("--read-protect", readProtect_, "Read protection of the target");
    options_.push_back(readProtect);
    options_.push_back(command.add_flag("--no-verify", noVerify_,
                                        "The programmer does not verify the target (the "
                                        "upload's own check always runs)"));
    options_.push_back(
        command.add_flag("--run-after", runAfter_, "Reset and run the target after programming"));
    options_.push_back(command.add_flag(
        "--full-erase", fullErase_, "Erase the whole chip (default: only the sectors written)"));
    countLimitOption_ =
        command
            .add_option("--count-limit", countLimit_, "Limit the number of programming runs to N")
            ->type_name("N")
            ->check(CLI::NonNegativeNumber);
    options_.push_back(countLimitOption_);
    // The dialog clears one box when the other is ticked; here they exclude each other.
    options_.push_back(
        command.add_flag("--lock-chip", lockChip_, "Lock the target chip (cannot be undone)")
            ->excludes(readProtect));
    options_.push_back(command.add_flag("--shift", shift_,
                                        "Code shift: write a counter into every programmed part"));
    shiftAddressOption_ = command
                              .add_option("--shift-address", shiftAddress_,
                                          "Code-shift target address, hexadecimal, a multiple "
                                          "of 4 (default 08004000)")
                              ->type_name("HEX");
    shiftStartOption_ =
        command.add_option("--shift-start", shiftStart_, "Code-shift start value (default 0)")
            ->type_name("N");
    shiftStepOption_ =
        command.add_option("--shift-step", shiftStep_, "Code-shift step (default 1)")
            ->type_name("N");
    shiftWidthOption_ = command
                            .add_option("--shift-width", shiftWidth_,
                                        "Code-shift value width in bytes, 1 to 4 (default 4)")
                            ->type_name("1..4")
                            ->check(CLI::Range(1, 4));
    shiftOrderOption_ = command
                            .add_option("--shift-order", shiftOrder_,
                                        "Code-shift byte order: low or high (default low)")
                            ->type_name("low|high")
                            ->check(CLI::IsMember({"low", "high"}, CLI::ignore_case));
    for (CLI::Option* option : {shiftAddressOption_, shiftStartOption_, shiftStepOption_,
                                shiftWidthOption_, shiftOrderOption_}) {
        options_.push_back(option);
    }
}

JobSettings JobOptions::Build() const {
    JobSettings settings;
    settings.seriesIndex = series_.empty() ? 0 : SeriesIndexOf(series_);
    settings.readProtect = readProtect_;
    settings.verify = !noVerify_;
    settings.runAfter = runAfter_;
    settings.fullErase = fullErase_;
    settings.countLimit = countLimit_.has_value();
    settings.countLimitText = std::to_string(countLimit_.value_or(0));
    settings.lockChip = lockChip_;

    CodeShift& shift = settings.shift;
    shift.shiftEnabled = shift_ ? 1 : 0;
    if (shiftAddress_) {
        // The window's edit takes hexadecimal digits only; here anything else is out of range too.
        const std::optional<std::uint32_t> address = ParseHexDigits(*shiftAddress_);
        const ShiftAddressCheck check = address ? CheckShiftAddress(shiftAddress_->size(), *address)
                                                : ShiftAddressCheck::OutOfRange;
        if (check == ShiftAddressCheck::OutOfRange) {
            throw CliFailure(ExitCode::Usage, Tr(kMsgShiftAddressRange),
                             "--shift-address takes 1 to 8 hexadecimal digits");
        }
        if (check == ShiftAddressCheck::Unaligned) {
            throw CliFailure(ExitCode::Usage, Tr(kMsgShiftAddressAlign),
                             "--shift-address must be a multiple of 4");
        }
        shift.shiftAddress = *address;
    }
    shift.shiftStart = shiftStart_;
    shift.shiftStep = shiftStep_;
    std::string order = shiftOrder_;
    std::transform(order.begin(), order.end(), order.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    shift.shiftFormat = static_cast<std::uint8_t>((shiftWidth_ - 1) + (order == "high" ? 4 : 0));
    return settings;
}

std::optional<int> JobOptions::ExplicitSeries() const {
    if (seriesOption_ == nullptr || seriesOption_->count() == 0) return std::nullopt;
    return SeriesIndexOf(series_);
}

bool JobOptions::AnyGiven() const {
    return std::any_of(options_.begin(), options_.end(),
                       [](const CLI::Option* option) { return option->count() > 0; });
}

GivenShift JobOptions::GivenCodeShift() const {
    const CodeShift built = Build().shift;
    GivenShift given;
    if (shiftAddressOption_->count() > 0) given.address = built.shiftAddress;
    if (shiftStartOption_->count() > 0) given.start = built.shiftStart;
    if (shiftStepOption_->count() > 0) given.step = built.shiftStep;
    if (shiftWidthOption_->count() > 0 || shiftOrderOption_->count() > 0)
        given.format = built.shiftFormat;
    return given;
}
