#include "tests/support/RecordingPort.h"

#include <cstdlib>

RecordingPort::RecordingPort(Mode mode)
    : own_(std::make_unique<ImageWorkspace>()), workspace_(own_.get()), mode_(mode) {}

RecordingPort::RecordingPort(ProgrammerLink& link, Mode mode)
    : link_(&link), own_(std::make_unique<ImageWorkspace>()), workspace_(own_.get()), mode_(mode) {}

RecordingPort::RecordingPort(ProgrammerLink& link, ImageWorkspace& workspace, Mode mode)
    : link_(&link), workspace_(&workspace), mode_(mode) {}

RecordingPort::~RecordingPort() = default;

ProgrammerLink& RecordingPort::Link() {
    if (link_ == nullptr) std::abort();
    return *link_;
}

JobSettings RecordingPort::CurrentJobSettings() {
    ++settingsReads;
    if (onSettings) onSettings();
    return settings;
}

bool RecordingPort::AskYesNo(std::string_view caption, std::string_view text) {
    if (mode_ == Mode::Record) questions.emplace_back(std::string(caption), std::string(text));
    return answer;
}

void RecordingPort::SetProgressRange(std::uint32_t maximum) {
    if (mode_ == Mode::Record) ranges.push_back(maximum);
}

void RecordingPort::SetProgressPosition(std::uint32_t position) {
    lastPosition = position;
    if (mode_ == Mode::Record) positions.push_back(position);
    if (onProgress) onProgress(position);
}

void RecordingPort::ShowMessage(MessageIcon icon, std::string_view text) {
    if (mode_ == Mode::Quiet) return;
    icons.push_back(icon);
    messages.emplace_back(text);
}

void RecordingPort::ShowJobDescription(const JobDescription& rows) {
    if (mode_ == Mode::Record) descriptions.push_back(rows);
}

void RecordingPort::ShowJobComparison(const JobComparison& comparison) {
    if (mode_ == Mode::Record) comparisons.push_back(comparison);
}

void RecordingPort::SetSeriesList(bool enabled, int selectedIndex) {
    if (mode_ == Mode::Record) seriesLists.emplace_back(enabled, selectedIndex);
}

void RecordingPort::SetProgramEnabled(bool enabled) {
    if (mode_ == Mode::Record) programStates.push_back(enabled);
}

void RecordingPort::SetUpdateEnabled(bool enabled) {
    if (mode_ == Mode::Record) updateStates.push_back(enabled);
}

void RecordingPort::ShowFirmwareVersion(std::uint32_t firmwareVersion) {
    if (mode_ == Mode::Record) versionsShown.push_back(firmwareVersion);
}
