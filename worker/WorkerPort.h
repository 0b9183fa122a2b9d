#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "image/FirmwareImage.h"
#include "job/JobComparison.h"
#include "job/JobDescription.h"
#include "job/JobHeader.h"
#include "link/ProgrammerLink.h"

// How the faces reach the workers and the workers reach the faces. Every worker takes
// the port it needs as its only argument. The main dialog implements these on the UI
// thread, the command line on the console, the tests with a recorder. Calls may come
// from a worker thread; an implementation that touches widgets must marshal them.

enum class MessageIcon { Error, Exclamation, Question };

// The sinks every worker reports through.
class WorkerSinks {
public:
    virtual ~WorkerSinks() = default;
    virtual void SetProgressRange(std::uint32_t maximum) = 0;  // range 0..maximum
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    // One of the system's fixed texts, in a message box captioned with two EN QUADs.
    virtual void ShowMessage(MessageIcon icon, std::string_view text) = 0;
};

// IdentifyProgrammer.
class IdentifyPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual void HideLockChip() = 0;
    // The series list: enabled or not, and its selection (-1: none).
    virtual void SetSeriesList(bool enabled, int selectedIndex) = 0;
    // Rewrites the job list; an empty description empties it.
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// UploadJob and UploadRemoteJob.
class UploadPort : public virtual WorkerSinks, public JobSettingsSource {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;
    virtual void SetProgramEnabled(bool enabled) = 0;
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// VerifyJob.
class VerifyPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;  // the loaded file to compare with
    // What was compared; comes before the message that judges it.
    virtual void ShowJobComparison(const JobComparison& comparison) = 0;
};

// ReadStoredJob.
class ReadBackPort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual ImageWorkspace& Workspace() = 0;  // receives the job read back
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// GenerateRemoteJobFile.
class RemoteGenerationPort : public virtual WorkerSinks, public JobSettingsSource {
public:
    virtual ImageWorkspace& Workspace() = 0;
    virtual std::uint32_t RemoteCode() = 0;          // the code the file is addressed to
    virtual std::uint32_t ProgrammerVersion() = 0;   // decides the code-shift row
    // Where the file goes: the program's own directory; when that cannot be written,
    // the loaded file's directory.
    virtual std::vector<std::filesystem::path> OutputDirectories() = 0;
    virtual void ShowJobDescription(const JobDescription& rows) = 0;
};

// UpdateProgrammerFirmware.
class FirmwareUpdatePort : public virtual WorkerSinks {
public:
    virtual ProgrammerLink& Link() = 0;
    virtual bool AskYesNo(std::string_view caption, std::string_view text) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;
    // The "Frimware:%x.%02x" line after a successful update.
    virtual void ShowFirmwareVersion(std::uint32_t firmwareVersion) = 0;
};
