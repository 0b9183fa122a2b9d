#include "cli/DeviceSession.h"

#include "cli/ExitCodes.h"
#include "link/DevicePaths.h"
#include "cli/SerialLeases.h"
#include "job/IdentifyProgrammer.h"

namespace {

// The programmer is there, but this user may not open it: say how to grant access.
std::string AccessRemedy() {
#ifdef _WIN32
    return "Close other programs that use the programmer and try again.";
#else
    return "Install the udev rule that gives users access to the programmer:\n"
           "  sudo cp packaging/60-marrowdyne.rules /etc/udev/rules.d/ && "
           "sudo udevadm control --reload && sudo udevadm trigger\n"
           "then unplug the programmer and plug it in again.";
#endif
}

// The backend of the command's own programmer, once it is clear which one that is: a
// command that talks to one never guesses among several.
HidBackend& OneProgrammer(Environment& environment) {
    const std::vector<std::string>& devices = environment.options().devices;
    if (devices.size() > 1) {
        throw CliFailure(ExitCode::Usage, "'" + environment.Operation() +
                                              "' talks to one programmer: give --device once.");
    }
    HidBackend& backend = environment.Backend();
    if (!devices.empty()) return backend;
    const std::vector<HidDeviceInfo> attached = AttachedProgrammers(backend);
    if (attached.size() > 1) {
        nlohmann::json listed = nlohmann::json::array();
        std::string lines;
        for (const HidDeviceInfo& info : attached) {
            listed.push_back({{"path", info.path}, {"serial", info.serial}});
            lines += (lines.empty() ? "  " : "\n  ") + info.path;
            if (!info.serial.empty()) lines += "\tserial " + info.serial;
        }
        environment.Output().JsonField("programmers", listed);
        throw CliFailure(ExitCode::Usage, kMsgSeveralAttached, lines);
    }
    return backend;
}

}  // namespace

DeviceSession::DeviceSession(Environment& environment, ConsolePort& port)
    : environment_(environment),
      port_(port),
      record_(environment.Record()),
      link_(OneProgrammer(environment)) {
    const std::vector<std::string>& devices = environment.options().devices;
    Open(environment, devices.empty() ? std::string() : devices.front());
    // Nothing of the operation is reported before the log has it.
    if (environment.Logging()) port_.Output().DeferUntilFinish();
}

DeviceSession::DeviceSession(Environment& environment, ConsolePort& port, const std::string& path,
                             OperationRecord& record)
    : environment_(environment),
      port_(port),
      record_(record),
      only_(OnlyDevicePaths(environment.Backend(), {path})),
      link_(*only_) {
    Open(environment, path);
}

void DeviceSession::Open(Environment& environment, const std::string& wanted) {
    environment.OpenLog();
    FindResult found;
    if (!link_.Open(&found)) {
        // A programmer that was chosen is logged, also when it fails to open.
        if (record_.path.empty())
            record_.path = found.refusedPath.empty() ? wanted : found.refusedPath;
        switch (found.refusal) {
            case Refusal::None:
                break;
            case Refusal::Unsuitable:
                throw CliFailure(
                    ExitCode::Unsuitable,
                    "The device at " + found.refusedPath +
                        " is not a programmer this tool can talk to: " + found.refusedReason);
            case Refusal::InUse:
                // Nothing was sent: what the other program stores stays whole.
                throw CliFailure(ExitCode::InUse, Tr(kProgrammerInUseText), found.refusedReason);
            case Refusal::AccessDenied:
            case Refusal::OpenFailed:
                // Only a refusal by the access rights is mended by the udev rule.
                throw CliFailure(ExitCode::NotAccessible,
                                 "The programmer at " + found.refusedPath +
                                     " cannot be opened: " + found.refusedReason,
                                 found.refusal == Refusal::AccessDenied ? AccessRemedy() : "");
        }
        throw CliFailure(ExitCode::NoProgrammer,
                         wanted.empty() ? "No programmer found (USB HID 0484:1001)."
                                        : "No programmer found at " + wanted + ".",
                         "Connect the programmer, or see 'marrowdyne-cli list'.");
    }
    environment.ConfigureLink(link_);
    record_.Take(link_, false);
    port_.AttachLink(&link_);
    // Every result names the programmer it concerns; the device ID does not tell two
    // programmers apart.
    ConsoleOutput& output = port_.Output();
    output.Field("path", record_.path, record_.path);
    if (record_.serial.empty()) {
        output.JsonField("serial", nullptr);
    } else {
        output.Field("serial", record_.serial, record_.serial);
    }
}

DeviceSession::~DeviceSession() {
    port_.AttachLink(nullptr);
    link_.Close();
}

void DeviceSession::Identify() {
    const WorkerOutcome outcome = IdentifyProgrammer(port_);
    if (outcome.ok()) record_.Take(link_, true);
    ThrowIfFailed(port_.Output(), outcome);
    ReconcileStoredJob(environment_, port_.Output(), link_, record_);
}

std::optional<int> DeviceSession::FixedSeries() const {
    const std::optional<SeriesListState>& list = port_.SeriesList();
    if (!list || list->enabled) return std::nullopt;
    return list->selectedIndex;
}

void ThrowIfFailed(ConsoleOutput& output, const WorkerOutcome& outcome) {
    output.Outcome(outcome);
    if (outcome.ok()) return;
    throw CliFailure(ExitCodeOf(outcome.kind), outcome.message, {}, true);
}
