#include "app/CAboutDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "ui/DialogUnits.h"
#include "ui/QtTranslations.h"
#include "common/TextFormat.h"
#include "link/VersionText.h"
#include "session/DeviceInformation.h"

QString AboutVersionLine(std::uint32_t programmerVersion) {
    return QString::fromStdString(ProgrammerVersionText(programmerVersion));
}

QString DeviceIdText(std::uint32_t connectionCode) {
    return QString::fromStdString(DeviceIdOf(connectionCode));
}

QString ProgrammerIdentityText(const std::string& path, const std::string& serial) {
    return QString::fromStdString(ProgrammerIdentityOf(path, serial));
}

CAboutDlg::CAboutDlg(std::uint32_t programmerVersion, std::uint32_t connectionCode, QWidget* parent,
                     const QString& programmerIdentity)
    : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(Tr(kAboutCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    // The USB line below the template's last one.
    constexpr int kUsbLineY = 50;
    constexpr int kUsbLineHeight = 12;
    setFixedSize(du.Size(183, programmerIdentity.isEmpty() ? 57 : kUsbLineY + kUsbLineHeight + 5));

    auto* version = new QLabel(AboutVersionLine(programmerVersion), this);
    version->setObjectName(QStringLiteral("id1012"));
    PlaceInUnits(version, du, 5, 5, 119, 8);

    auto* snLabel = new QLabel(kAboutSnLabel, this);
    snLabel->setObjectName(QStringLiteral("snLabel"));
    PlaceInUnits(snLabel, du, 5, 22, 11, 8);
    // Liberation Sans runs a pixel wider than 11 units here; the gap before the edit
    // leaves room to show the colon whole.
    snLabel->resize(std::max(snLabel->width(), snLabel->sizeHint().width()), snLabel->height());

    // Not read-only: the user selects and copies the ID from here.
    auto* deviceId = new QLineEdit(DeviceIdText(connectionCode), this);
    deviceId->setObjectName(QStringLiteral("id1032"));
    PlaceInUnits(deviceId, du, 24, 22, 91, 12);
    snLabel->setBuddy(deviceId);

    auto* ok = new QPushButton(Tr(kAboutOk), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setDefault(true);
    PlaceInUnits(ok, du, 122, 20, 50, 16);
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);

    auto* note = new QLabel(Tr(kAboutNote), this);
    note->setObjectName(QStringLiteral("noteLabel"));
    PlaceInUnits(note, du, 5, 38, 115, 8);

    setTabOrder(deviceId, ok);

    if (programmerIdentity.isEmpty()) return;
    auto* usbLabel = new QLabel(kAboutUsbLabel, this);
    usbLabel->setObjectName(QStringLiteral("usbLabel"));
    PlaceInUnits(usbLabel, du, 5, kUsbLineY + 2, 18, 8);
    // Read-only, but a long path can be scrolled, selected and copied.
    auto* identity = new QLineEdit(programmerIdentity, this);
    identity->setObjectName(QStringLiteral("programmerIdentity"));
    identity->setReadOnly(true);
    identity->setCursorPosition(0);
    identity->setToolTip(programmerIdentity);
    PlaceInUnits(identity, du, 24, kUsbLineY, 148, kUsbLineHeight);
    usbLabel->setBuddy(identity);
    setTabOrder(ok, identity);
}
