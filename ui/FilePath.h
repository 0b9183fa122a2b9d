#pragma once
#include <QFile>
#include <QString>
#include <filesystem>

// A path the user chose, as the engine opens it: wide on Windows, in the file system's
// own encoding elsewhere.
inline std::filesystem::path ToFsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}
