#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>

inline const QString kAboutCaption = QStringLiteral("Устройство");
inline const QString kAboutSnLabel = QStringLiteral("SN:");
inline const QString kAboutOk = QStringLiteral("Определить");
// The one-line note under the device ID: what the ID is for.
inline const QString kAboutNote = QStringLiteral("SN нужен для файлов .qvz");

// The connected programmer's version word and its device ID, the code a remote job file
// is addressed to. The values are the ones the main dialog held when it opened.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    CAboutDlg(std::uint32_t programmerVersion, std::uint32_t connectionCode, QWidget* parent);
};

// "Version:10.02" for 0x1002.
QString AboutVersionLine(std::uint32_t programmerVersion);
// Eight upper-case hexadecimal digits; empty when no programmer is open (code 0).
QString DeviceIdText(std::uint32_t connectionCode);
