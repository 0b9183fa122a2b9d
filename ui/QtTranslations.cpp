#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include "common/Translation.h"

QString Tr(const QString& msgid) {
    if (ChosenLanguage() == TextLanguage::Original) return msgid;
    return QString::fromUtf8(Tr(msgid.toUtf8().constData()));
}

QLocale QtTextsLocale(const QLocale& system) {
    for (const QString& name : system.uiLanguages()) {
        const QLocale language(name);
        if (language.language() == QLocale::Russian || language.language() == QLocale::Chinese) {
            return language;
        }
    }
    return QLocale(QLocale::Russian, QLocale::Russia);
}

QTranslator* InstallQtTranslations(const QLocale& system, QString& error) {
    const QLocale locale = QtTextsLocale(system);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        error = QStringLiteral("no Qt translation qtbase_%1.qm in %2")
                    .arg(locale.name(), QDir::toNativeSeparators(folder));
        return nullptr;
    }
    return translator;
}
