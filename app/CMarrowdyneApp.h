#pragma once
#include <QApplication>

#include "session/LaunchOptions.h"

// Names the settings key; nothing is ever read or written under it.
inline const QString kSettingsKey = QStringLiteral("应用程序向导生成的本地应用程序");

// The desktop program: runs the main dialog modally, and the process ends when it closes.
class CMarrowdyneApp : public QApplication {
public:
    CMarrowdyneApp(int& argc, char** argv);

    // Runs the program with the parsed command line and returns the process's exit code:
    // 0 once the main dialog has closed, 1 when the simulated programmer's memory cannot
    // be loaded or saved or a picture cannot be written.
    int InitInstance(const LaunchOptions& options);
};
