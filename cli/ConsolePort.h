#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/ConsoleOutput.h"
#include "job/IdentifyProgrammer.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "remote/GenerateRemoteJobFile.h"
#include "update/UpdateProgrammerFirmware.h"
#include "worker/WorkerPort.h"

// A progress bar on standard error, drawn only when standard error is a terminal (a
// pipe or a log gets nothing: the final message says how it ended).
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* stream);
    ~ProgressBar();
    void SetRange(std::uint32_t maximum);
    void SetPosition(std::uint32_t position);
    // Ends the bar's line, so that the next message starts on a line of its own.
    void Close();

private:
    void Draw();
    std::FILE* stream_;
    bool enabled_;
    bool drawn_ = false;
    std::uint32_t maximum_ = 0;
    std::uint32_t position_ = 0;
    int lastPermille_ = -1;
};

// What the identification told the series list.
struct SeriesListState {
    bool enabled = true;
    int selectedIndex = 0;
};

// The engine's ports on the console: one object serves every worker of a command. The
// workers run on the command's own thread, so nothing here needs a lock.
class ConsolePort final : public IdentifyPort,
                          public UploadPort,
                          public RemoteGenerationPort,
                          public FirmwareUpdatePort,
                          public VerifyPort,
                          public ReadBackPort {
public:
    ConsolePort(ConsoleOutput& output, ImageWorkspace& workspace);

    ConsoleOutput& Output() { return output_; }

    // Ports of workers that talk to the programmer need the link.
    void AttachLink(ProgrammerLink* link) { link_ = link; }
    void SetJobSettings(const JobSettings& settings) { settings_ = settings; }
    void SetRemoteCode(std::uint32_t code) { remoteCode_ = code; }
    void SetProgrammerVersion(std::uint32_t version) { programmerVersion_ = version; }
    void SetOutputDirectories(std::vector<std::filesystem::path> directories) {
        outputDirectories_ = std::move(directories);
    }
    // Whether job descriptions are printed as they come (the stored job that a
    // connection reads back is of no interest while programming a new one).
    void SetEchoDescriptions(bool echo) { echoDescriptions_ = echo; }
    // Questions: answered yes without asking, or asked on the terminal. Without a
    // terminal a question is not asked and counts as No.
    void SetAssumeYes(bool yes) { assumeYes_ = yes; }

    // What the workers reported.
    const std::optional<SeriesListState>& SeriesList() const { return seriesList_; }
    const JobDescription& LastDescription() const { return lastDescription_; }
    bool DescriptionShown() const { return descriptionShown_; }
    bool QuestionRefused() const { return questionRefused_; }
    const std::optional<std::uint32_t>& UpdatedFirmwareVersion() const { return updatedFirmware_; }

    // WorkerSinks
    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;

    // Shared by several ports.
    ProgrammerLink& Link() override;
    ImageWorkspace& Workspace() override { return workspace_; }
    void ShowJobDescription(const JobDescription& rows) override;
    JobSettings CurrentJobSettings() override { return settings_; }

    // IdentifyPort
    void HideLockChip() override {}
    void SetSeriesList(bool enabled, int selectedIndex) override;

    // UploadPort
    void SetProgramEnabled(bool) override {}

    // RemoteGenerationPort
    std::uint32_t RemoteCode() override { return remoteCode_; }
    std::uint32_t ProgrammerVersion() override { return programmerVersion_; }
    std::vector<std::filesystem::path> OutputDirectories() override { return outputDirectories_; }

    // FirmwareUpdatePort
    bool AskYesNo(std::string_view caption, std::string_view text) override;
    void SetUpdateEnabled(bool) override {}
    void ShowFirmwareVersion(std::uint32_t firmwareVersion) override;

    // VerifyPort
    void ShowJobComparison(const JobComparison& comparison) override;

private:
    ConsoleOutput& output_;
    ImageWorkspace& workspace_;
    ProgressBar progress_;
    ProgrammerLink* link_ = nullptr;
    JobSettings settings_;
    std::uint32_t remoteCode_ = 0;
    std::uint32_t programmerVersion_ = 0;
    std::vector<std::filesystem::path> outputDirectories_;
    bool echoDescriptions_ = true;
    bool assumeYes_ = false;
    std::optional<SeriesListState> seriesList_;
    JobDescription lastDescription_;
    bool descriptionShown_ = false;
    bool questionRefused_ = false;
    std::optional<std::uint32_t> updatedFirmware_;
};
