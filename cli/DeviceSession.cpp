#include "cli/DeviceSession.h"

#include "cli/DeviceFilter.h"
#include "cli/ExitCodes.h"
#include "link/IdentifyProgrammer.h"

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

}  // namespace

DeviceSession::DeviceSession(Environment& environment, ConsolePort& port, const std::string& path)
    : port_(port),
      only_(path.empty() ? nullptr : OnlyDevicePath(environment.Backend(), path)),
      link_(only_ ? *only_ : environment.Backend()) {
    environment.ConfigureLink(link_);
    FindResult found;
    if (!link_.Open(&found)) {
        switch (found.refusal) {
            case Refusal::None: break;
            case Refusal::Unsuitable:
                throw CliFailure(ExitCode::Unsuitable,
                                 "The device at " + found.refusedPath +
                                     " is not a programmer this tool can talk to: " +
                                     found.refusedReason);
            case Refusal::AccessDenied:
            case Refusal::OpenFailed:
                // Only a refusal by the access rights is mended by the udev rule.
                throw CliFailure(ExitCode::NotAccessible,
                                 "The programmer at " + found.refusedPath +
                                     " cannot be opened: " + found.refusedReason,
                                 found.refusal == Refusal::AccessDenied ? AccessRemedy() : "");
        }
        const std::string& only = path.empty() ? environment.options().device : path;
        throw CliFailure(ExitCode::NoProgrammer,
                         only.empty() ? "No programmer found (USB HID 0484:1001)."
                                      : "No programmer found at " + only + ".",
                         "Connect the programmer, or see 'marrowdyne-cli list'.");
    }
    port_.AttachLink(&link_);
}

DeviceSession::~DeviceSession() {
    port_.AttachLink(nullptr);
    link_.Close();
}

void DeviceSession::Identify() {
    const WorkerOutcome outcome = IdentifyProgrammer(port_);
    ThrowIfFailed(port_.Output(), outcome);
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
