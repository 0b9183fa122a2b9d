#pragma once
#include <QLocale>
#include <QString>

class QTranslator;

// A system text of the window in the chosen language (ChooseLanguage of
// common/Translation), through the one catalogue of all faces.
QString Tr(const QString& msgid);

// Qt's own texts (the standard buttons, the file dialog) in the window's language, so
// that a dialog speaks one language.

// The locale of Qt's texts: the first of the system's user-interface languages that the
// window speaks (Russian, Chinese), else Russian, the language of its controls.
QLocale QtTextsLocale(const QLocale& system);

// Loads Qt's translation for QtTextsLocale(system) from Qt's translation folder and
// installs it in the application. Returns the translator (owned by the application),
// or nullptr with `error` naming the file that was looked for.
QTranslator* InstallQtTranslations(const QLocale& system, QString& error);
