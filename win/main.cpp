// marrowdyne.exe: the desktop program on Windows. Its command line is the Qt program's
// (the simulator's options and --lang); help and refusals are shown in a message box,
// as a program without a console has nowhere else to say them.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Translation.h"
#include "common/WideText.h"
#include "link/HidBackend.h"
#include "link/SimulatorSetup.h"
#include "link/WindowsHidBackend.h"
#include "session/LaunchOptions.h"
#include "session/MainDialogTexts.h"
#include "win/CMarrowdyneDlg.h"
#include "win/WinText.h"

namespace {

std::vector<std::string> CommandLineArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    // The command line as the system holds it, in UTF-16, not in the ANSI page of argv.
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void Say(const std::string& text, UINT icon) {
    MessageBoxW(nullptr, Wide(text).c_str(), Wide(kTextApplicationTitle).c_str(), MB_OK | icon);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string error;
    const std::optional<LaunchOptions> launch = ParseLaunchOptions(CommandLineArguments(), error);
    if (!launch) {
        Say("marrowdyne: " + error + "\n\n" + LaunchOptionsHelp(), MB_ICONERROR);
        return 2;
    }
    if (launch->showHelp) {
        Say(LaunchOptionsHelp(), MB_ICONINFORMATION);
        return 0;
    }
    std::string languageProblem;
    if (!ChooseLanguage(launch->language, languageProblem)) {
        std::fprintf(stderr, "marrowdyne: %s\n", languageProblem.c_str());
    }

    INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
    InitCommonControlsEx(&controls);

    // The demonstration runs against simulated programmers, set up as the command line
    // sets up its own.
    std::optional<SimulatedShelf> simulated;
    std::unique_ptr<HidBackend> hardware;
    HidBackend* backend = nullptr;
    if (launch->simulate) {
        SimulatorSetupError setupError;
        simulated = SetUpSimulator(launch->simulator, setupError);
        if (!simulated) {
            std::string text = setupError.message;
            if (setupError.inUse) text = std::string(Tr(kProgrammerInUseText)) + "\n" + text;
            Say(text, MB_ICONERROR);
            return 1;
        }
        backend = simulated->backend.get();
    } else {
        hardware = std::make_unique<WindowsHidBackend>();
        backend = hardware.get();
    }

    MainDialogOptions options;
    if (simulated) {
        options.simulator = simulated->backend.get();
        options.demoProgrammerPath = simulated->programmers.front()->config().path;
        for (const SimulatedProgrammer* programmer : simulated->programmers)
            options.demoShelfPaths.push_back(programmer->config().path);
    }
    auto dialog = std::make_unique<CMarrowdyneDlg>(*backend, options);
    dialog->DoModal(instance);
    if (!dialog->FinishWorkers(0)) {
        // A worker still waits for an answer of a programmer that does not respond; the
        // window is gone and nothing it would report is shown, so the process ends now.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    dialog.reset();

    std::string reason;
    if (simulated && !SaveSimulatorState(*simulated, launch->simulator, reason)) {
        Say(reason, MB_ICONERROR);
        return 1;
    }
    return 0;
}
