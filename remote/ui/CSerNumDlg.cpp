#include "remote/ui/CSerNumDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/DialogUnits.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/NumberText.h"

CSerNumDlg::CSerNumDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CSerNumDlg"));
    setWindowTitle(Tr(kSerNumCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    // Laid out like the device information dialog, where the code is copied from.
    // Below the original controls, the note on what the file protects.
    setFixedSize(du.Size(180, 112));

    auto* label = new QLabel(kSerNumLabel, this);
    label->setObjectName(QStringLiteral("codeLabel"));
    PlaceInUnits(label, du, 7, 10, 14, 8);

    codeEdit_ = new QLineEdit(this);
    codeEdit_->setObjectName(QStringLiteral("id1032"));
    PlaceInUnits(codeEdit_, du, 24, 8, 91, 12);
    label->setBuddy(codeEdit_);

    auto* ok = new QPushButton(Tr(kSerNumOk), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setDefault(true);
    PlaceInUnits(ok, du, 123, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &CSerNumDlg::accept);

    auto* cancel = new QPushButton(Tr(kSerNumCancel), this);
    cancel->setObjectName(QStringLiteral("id2"));
    PlaceInUnits(cancel, du, 123, 24, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CSerNumDlg::reject);

    auto* note = new QLabel(Tr(kSerNumProtectionNote), this);
    note->setObjectName(QStringLiteral("protectionNote"));
    note->setWordWrap(true);
    PlaceInUnits(note, du, 7, 42, 166, 66);

    codeEdit_->setFocus();
}

void CSerNumDlg::accept() {
    const std::optional<std::uint32_t> entered = RemoteCodeOfEntry(codeEdit_->text().toStdString());
    if (!entered) {
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(kSerNumRefusedMessage));
        return;
    }
    code = *entered;
    QDialog::accept();
}
