#include "cli/ConsolePort.h"

#include <stdexcept>
#include <string>

#include "cli/Terminal.h"
#include "common/StreamText.h"
#include "common/TextFormat.h"
#include "link/VersionText.h"

ProgressBar::ProgressBar(std::FILE* stream)
    : stream_(stream), enabled_(stream != nullptr && IsTerminal(stream)) {}

ProgressBar::~ProgressBar() { Close(); }

void ProgressBar::SetRange(std::uint32_t maximum) {
    maximum_ = maximum;
    position_ = 0;
    lastPermille_ = -1;
    Draw();
}

void ProgressBar::SetPosition(std::uint32_t position) {
    position_ = position;
    Draw();
}

void ProgressBar::Draw() {
    if (!enabled_) return;
    const int permille = maximum_ == 0 ? 1000
                                       : static_cast<int>(std::min<std::uint64_t>(
                                             1000, std::uint64_t{position_} * 1000 / maximum_));
    // A 1 MiB image moves the bar 32,768 times; redraw only when it visibly moves.
    if (permille == lastPermille_) return;
    lastPermille_ = permille;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    std::fprintf(stream_, "\r[%s] %3d%% %u/%u", bar.c_str(), permille / 10, position_, maximum_);
    std::fflush(stream_);
    drawn_ = true;
}

void ProgressBar::Close() {
    if (!drawn_) return;
    std::fputc('\n', stream_);
    std::fflush(stream_);
    drawn_ = false;
    lastPermille_ = -1;
}

ConsolePort::ConsolePort(ConsoleOutput& output, ImageWorkspace& workspace)
    : output_(output), workspace_(workspace), progress_(output.err()) {}

void ConsolePort::SetProgressRange(std::uint32_t maximum) { progress_.SetRange(maximum); }

void ConsolePort::SetProgressPosition(std::uint32_t position) { progress_.SetPosition(position); }

void ConsolePort::ShowMessage(MessageIcon icon, std::string_view text) {
    progress_.Close();
    output_.Message(icon, text);
}

ProgrammerLink& ConsolePort::Link() {
    if (link_ == nullptr) throw std::logic_error("a worker asked for the link, but none is open");
    return *link_;
}

void ConsolePort::ShowJobDescription(const JobDescription& rows) {
    lastDescription_ = rows;
    if (!echoDescriptions_) return;
    progress_.Close();
    output_.Description(rows);
    descriptionShown_ = true;
}

void ConsolePort::SetSeriesList(bool enabled, int selectedIndex) {
    seriesList_ = SeriesListState{enabled, selectedIndex};
}

bool ConsolePort::AskYesNo(std::string_view caption, std::string_view text) {
    progress_.Close();
    if (assumeYes_) {
        output_.Note(std::string(caption) + ": " + std::string(text) + " yes (--yes)");
        return true;
    }
    if (!IsTerminal(stdin)) {
        // Nobody can answer: do not guess, and let the command say why nothing happened.
        questionRefused_ = true;
        return false;
    }
    WriteStreamText(output_.err(), std::string(caption) + ": " + std::string(text) + " [y/N] ");
    std::fflush(output_.err());
    std::string answer;
    if (!ReadAnswerLine(answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void ConsolePort::ShowFirmwareVersion(std::uint32_t firmwareVersion) {
    updatedFirmware_ = firmwareVersion;
    output_.LineField("firmwareVersion", firmwareVersion, FirmwareVersionText(firmwareVersion));
}

namespace {

nlohmann::json FactsJson(const JobImageFacts& facts) {
    return {{"start", facts.start}, {"length", facts.length}, {"crc", facts.crc}};
}

std::string FactsText(const JobImageFacts& facts) {
    return Format("start 0x%08x, length %u, crc 0x%08x", facts.start, facts.length, facts.crc);
}

}  // namespace

void ConsolePort::ShowJobComparison(const JobComparison& comparison) {
    progress_.Close();
    output_.Field("file", FactsJson(comparison.file), FactsText(comparison.file));
    switch (comparison.state) {
        case StoredJobState::Stored:
            output_.Field("programmer", FactsJson(comparison.stored), FactsText(comparison.stored));
            break;
        case StoredJobState::None:
            output_.Field("programmer", nullptr, "no job");
            break;
        case StoredJobState::Damaged:
            output_.Field("programmer", nullptr, "damaged job header");
            break;
    }
    nlohmann::json differs = nlohmann::json::array();
    if (comparison.startDiffers) differs.push_back("start");
    if (comparison.lengthDiffers) differs.push_back("length");
    if (comparison.contentDiffers) differs.push_back("content");
    output_.JsonField("differs", differs);
    output_.JsonField("held", comparison.Held());
}
