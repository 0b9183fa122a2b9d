#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/IdentifyProgrammer.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"
#include "remote/GenerateRemoteJobFile.h"
#include "update/UpdateProgrammerFirmware.h"
#include "worker/WorkerPort.h"

// Every worker's port at once, as the tests, fuzzers and benchmarks see the workers: it
// answers what a face would (the link, the loaded image, the dialog's settings, the
// remote code, a Yes or No) and records, in order, all that a worker shows. A quiet port
// keeps only the last progress position and allocates nothing, so a benchmark measures
// the worker and not the recording.
class RecordingPort : public IdentifyPort,
                      public UploadPort,
                      public VerifyPort,
                      public ReadBackPort,
                      public RemoteGenerationPort,
                      public FirmwareUpdatePort {
public:
    enum class Mode { Record, Quiet };

    // Without a workspace the port has one of its own; without a link a worker that
    // asks for one is a fault of the test, and the port aborts.
    explicit RecordingPort(Mode mode = Mode::Record);
    explicit RecordingPort(ProgrammerLink& link, Mode mode = Mode::Record);
    RecordingPort(ProgrammerLink& link, ImageWorkspace& workspace, Mode mode = Mode::Record);
    RecordingPort(const RecordingPort&) = delete;
    RecordingPort& operator=(const RecordingPort&) = delete;
    ~RecordingPort() override;

    // What the port answers.
    JobSettings settings;
    std::uint32_t remoteCode = 0x1A2B3C4D;
    std::uint32_t programmerVersion = 0x1002;
    std::vector<std::filesystem::path> outputDirectories;
    bool answer = true;                             // to every Yes/No question
    std::function<void()> onSettings;               // as the settings are read
    std::function<void(std::uint32_t)> onProgress;  // after each position

    // What the workers showed.
    int settingsReads = 0;
    std::vector<std::uint32_t> ranges;
    std::vector<std::uint32_t> positions;
    std::uint32_t lastPosition = 0;
    std::vector<MessageIcon> icons;
    std::vector<std::string> messages;
    std::vector<std::pair<std::string, std::string>> questions;  // caption, text
    std::vector<JobDescription> descriptions;
    std::vector<JobComparison> comparisons;
    std::vector<std::pair<bool, int>> seriesLists;  // enabled, selection
    bool lockChipHidden = false;
    std::vector<bool> programStates;
    std::vector<bool> updateStates;
    std::vector<std::uint32_t> versionsShown;

    ProgrammerLink& Link() override;
    ImageWorkspace& Workspace() override { return *workspace_; }
    JobSettings CurrentJobSettings() override;
    std::uint32_t RemoteCode() override { return remoteCode; }
    std::uint32_t ProgrammerVersion() override { return programmerVersion; }
    std::vector<std::filesystem::path> OutputDirectories() override { return outputDirectories; }
    bool AskYesNo(std::string_view caption, std::string_view text) override;

    void SetProgressRange(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void ShowMessage(MessageIcon icon, std::string_view text) override;
    void ShowJobDescription(const JobDescription& rows) override;
    void ShowJobComparison(const JobComparison& comparison) override;
    void HideLockChip() override { lockChipHidden = true; }
    void SetSeriesList(bool enabled, int selectedIndex) override;
    void SetProgramEnabled(bool enabled) override;
    void SetUpdateEnabled(bool enabled) override;
    void ShowFirmwareVersion(std::uint32_t firmwareVersion) override;

private:
    ProgrammerLink* link_ = nullptr;
    std::unique_ptr<ImageWorkspace> own_;
    ImageWorkspace* workspace_;
    Mode mode_ = Mode::Record;
};
