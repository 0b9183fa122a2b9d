#include "app/CMarrowdyneApp.h"

#include <QFile>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/CMarrowdyneDlg.h"
#include "ui/FilePath.h"
#include "ui/QtTranslations.h"
#include "app/Screenshots.h"
#include "common/Translation.h"
#ifdef Q_OS_WIN
#include "link/WindowsHidBackend.h"
#else
#include "link/HidapiBackend.h"
#endif
#include "link/SimulatedBackend.h"

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

    std::unique_ptr<SimulatedBackend> simulator;
    std::unique_ptr<HidBackend> hardware;
    SimulatedProgrammer* programmer = nullptr;
    HidBackend* backend = nullptr;
    if (launch.simulate) {
        simulator = std::make_unique<SimulatedBackend>();
        programmer = &simulator->AddProgrammer(launch.simulator);
        for (const Fault& fault : launch.faults) programmer->AddFault(fault);
        if (!launch.simStateFile.isEmpty()) {
            std::string reason;
            bool inUse = false;
            if (!programmer->LoadState(ToFsPath(launch.simStateFile), reason, &inUse)) {
                if (inUse) std::fprintf(stderr, "marrowdyne: %s\n", Tr(kProgrammerInUseText));
                std::fprintf(stderr, "marrowdyne: %s\n", reason.c_str());
                return 1;
            }
        }
        backend = simulator.get();
    } else {
#ifdef Q_OS_WIN
        hardware = std::make_unique<WindowsHidBackend>();
#else
        hardware = std::make_unique<HidapiBackend>();
#endif
        backend = hardware.get();
    }

    if (!launch.screenshotDir.isEmpty()) {
        return RenderScreenshots(*simulator, launch.simulator.path, launch.screenshotDir);
    }

    MainDialogOptions dialogOptions;
    // The simulator reports its own plug and unplug; the platform's watcher serves the
    // real programmer.
    dialogOptions.watchDevices = !launch.simulate;
    dialogOptions.simulator = simulator.get();
    dialogOptions.demoProgrammerPath = launch.simulator.path;
    auto dialog = std::make_unique<CMarrowdyneDlg>(*backend, dialogOptions);
    dialog->exec();
    if (!dialog->FinishWorkers(0)) {
        // A worker still waits for an answer of a programmer that does not respond; the
        // window is gone and nothing it would report is shown, so the process ends now.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    dialog.reset();

    if (programmer && !launch.simStateFile.isEmpty()) {
        std::string reason;
        if (!programmer->SaveState(ToFsPath(launch.simStateFile), reason)) {
            std::fprintf(stderr, "marrowdyne: %s\n", reason.c_str());
            return 1;
        }
    }
    return 0;
}
