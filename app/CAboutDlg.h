#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>
#include <string>

#include "common/Translation.h"

inline const QString kAboutCaption = QStringLiteral(N_("Устройство"));
inline const QString kAboutSnLabel = QStringLiteral("SN:");
inline const QString kAboutOk = QStringLiteral(N_("Определить"));
// The one-line note under the device ID: what the ID is for.
inline const QString kAboutNote = QStringLiteral(N_("SN нужен для файлов .qvz"));

// Beside the USB line, which names the programmer when several are attached.
inline const QString kAboutUsbLabel = QStringLiteral("USB:");

// The connected programmer's version word and its device ID, the code a remote job file
// is addressed to. The values are the ones the main dialog held when it opened. When
// several programmers are attached, `programmerIdentity` says which one this is, on a
// line of its own; empty, there is no such line.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    CAboutDlg(std::uint32_t programmerVersion, std::uint32_t connectionCode, QWidget* parent,
              const QString& programmerIdentity = QString());
};

// "Version:10.02" for 0x1002.
QString AboutVersionLine(std::uint32_t programmerVersion);
// Eight upper-case hexadecimal digits; empty when no programmer is open (code 0).
QString DeviceIdText(std::uint32_t connectionCode);
// One programmer among several: its USB serial number, where it names one, and its path
// ("0002  /dev/hidraw1"). The device ID is no identity: programmers opened within the same
// second get the same one.
QString ProgrammerIdentityText(const std::string& path, const std::string& serial);
