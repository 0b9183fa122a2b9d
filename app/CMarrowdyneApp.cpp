#include "app/CMarrowdyneApp.h"

#include <QFile>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/CMarrowdyneDlg.h"
#include "session/LaunchOptions.h"
#include "ui/QtTranslations.h"
#include "app/Screenshots.h"
#include "common/Translation.h"
#ifdef Q_OS_WIN
#include "link/WindowsHidBackend.h"
#else
#include "link/HidapiBackend.h"
#endif
#include "link/SimulatedBackend.h"
#include "link/SimulatorSetup.h"

CMarrowdyneApp::CMarrowdyneApp(int& argc, char** argv) : QApplication(argc, argv) {}

int CMarrowdyneApp::InitInstance(const LaunchOptions& launch) {
    setOrganizationName(kSettingsKey);
    setApplicationName(QStringLiteral("marrowdyne"));
    setDesktopFileName(QStringLiteral("marrowdyne"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/marrowdyne.png")));
    // After QApplication set the locale from the environment, which would undo what
    // English needs of it.
    std::string languageProblem;
    if (!ChooseLanguage(launch.language, languageProblem)) {
        std::fprintf(stderr, "marrowdyne: %s\n", languageProblem.c_str());
    }
    QString missingTranslation;
    // In English Qt's own texts need no translation.
    if (ChosenLanguage() == TextLanguage::Original &&
        !InstallQtTranslations(QLocale::system(), missingTranslation)) {
        // Qt's buttons then speak English; the program works all the same.
        std::fprintf(stderr, "marrowdyne: %s\n", qPrintable(missingTranslation));
    }

    // The window's demonstration runs against simulated programmers, set up as the
    // command line sets up its own.
    const SimulatorRequest& request = launch.simulator;
    std::optional<SimulatedShelf> simulated;
    std::unique_ptr<HidBackend> hardware;
    HidBackend* backend = nullptr;
    if (launch.simulate) {
        SimulatorSetupError error;
        simulated = SetUpSimulator(request, error);
        if (!simulated) {
            if (error.inUse) std::fprintf(stderr, "marrowdyne: %s\n", Tr(kProgrammerInUseText));
            std::fprintf(stderr, "marrowdyne: %s\n", error.message.c_str());
            return 1;
        }
        backend = simulated->backend.get();
    } else {
#ifdef Q_OS_WIN
        hardware = std::make_unique<WindowsHidBackend>();
#else
        hardware = std::make_unique<HidapiBackend>();
#endif
        backend = hardware.get();
    }

    SimulatedBackend* simulator = simulated ? simulated->backend.get() : nullptr;
    const std::string demoPath =
        simulated ? simulated->programmers.front()->config().path : std::string();
    if (!launch.screenshotDir.empty()) {
        return RenderScreenshots(*simulator, demoPath,
                                 QString::fromStdString(launch.screenshotDir));
    }

    MainDialogOptions dialogOptions;
    // The simulator reports its own plug and unplug; the platform's watcher serves the
    // real programmer.
    dialogOptions.watchDevices = !launch.simulate;
    dialogOptions.simulator = simulator;
    dialogOptions.demoProgrammerPath = demoPath;
    if (simulated) {
        for (const SimulatedProgrammer* programmer : simulated->programmers)
            dialogOptions.demoShelfPaths.push_back(programmer->config().path);
    }
    auto dialog = std::make_unique<CMarrowdyneDlg>(*backend, dialogOptions);
    dialog->exec();
    if (!dialog->FinishWorkers(0)) {
        // A worker still waits for an answer of a programmer that does not respond; the
        // window is gone and nothing it would report is shown, so the process ends now.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    dialog.reset();

    std::string reason;
    if (simulated && !SaveSimulatorState(*simulated, request, reason)) {
        std::fprintf(stderr, "marrowdyne: %s\n", reason.c_str());
        return 1;
    }
    return 0;
}
