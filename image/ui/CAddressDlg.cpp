#include "image/ui/CAddressDlg.h"

#include <QLabel>
#include <QPushButton>

#include "ui/DialogUnits.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/NumberText.h"
#include "common/TextFormat.h"
#include "image/FileLoading.h"
#include "image/ui/CHexEdit.h"

CAddressDlg::CAddressDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAddressDlg"));
    setWindowTitle(Tr(kAddressDlgCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(186, 43));

    auto* label = new QLabel(Tr(kAddressDlgLabel), this);
    label->setObjectName(QStringLiteral("addressLabel"));
    PlaceInUnits(label, du, 8, 5, 82, 10);

    addressEdit = new CHexEdit(this);
    addressEdit->setObjectName(QStringLiteral("id1014"));
    PlaceInUnits(addressEdit, du, 7, 18, 90, 12);

    auto* ok = new QPushButton(Tr(kAddressDlgOk), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setDefault(true);
    PlaceInUnits(ok, du, 129, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CAddressDlg::accept);

    auto* cancel = new QPushButton(Tr(kAddressDlgCancel), this);
    cancel->setObjectName(QStringLiteral("id2"));
    PlaceInUnits(cancel, du, 129, 24, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CAddressDlg::reject);

    setTabOrder(addressEdit, ok);
    setTabOrder(ok, cancel);
}

void CAddressDlg::showEvent(QShowEvent* event) {
    // The caller may set startAddress between construction and showing.
    if (!initialised_) {
        initialised_ = true;
        addressEdit->setText(QString::fromStdString(Format("%08X", startAddress)));
        // Focused and selected, as the dialog manager leaves a first edit: typing replaces.
        addressEdit->setFocus();
        addressEdit->selectAll();
    }
    QDialog::showEvent(event);
}

void CAddressDlg::accept() {
    const StartAddressEntry entry =
        ReadStartAddressEntry(addressEdit->text().toStdString(), startAddress);
    if (entry.refused) {
        ShowSystemMessage(this, MessageIcon::Exclamation, QString::fromUtf8(Tr(kMsgAddressRange)));
        return;
    }
    startAddress = entry.address;
    QDialog::accept();
}
