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

namespace {

// Whether the text holds a hexadecimal number as "%x" reads it: blanks, an optional sign,
// an optional 0x, then at least one digit.
bool HasHexNumber(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
    return i < text.size() && CHexEdit::PassesFilter(text[i]) && text[i] != u'\b';
}

}  // namespace

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
    const QString text = addressEdit->text();
    if (text.size() > 8) {
        ShowSystemMessage(this, MessageIcon::Exclamation, QString::fromUtf8(Tr(kMsgAddressRange)));
        return;
    }
    // A text without a number keeps the preset address.
    if (HasHexNumber(text)) startAddress = ParseHexNumber(text.toStdString());
    QDialog::accept();
}
