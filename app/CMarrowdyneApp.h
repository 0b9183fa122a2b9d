#pragma once
#include <QApplication>

// Names the settings key; nothing is ever read or written under it.
inline const QString kSettingsKey = QStringLiteral("应用程序向导生成的本地应用程序");

// The desktop program: runs the main dialog modally, and the process ends when it closes.
class CMarrowdyneApp : public QApplication {
public:
    CMarrowdyneApp(int& argc, char** argv);

    // Runs the program and returns the process's exit code: 0 once the main dialog has
    // closed, 2 for a command line it cannot use, 1 when the simulated programmer's
    // memory cannot be loaded.
    int InitInstance();
};
