#include "job/ui/COptionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/DialogUnits.h"
#include "ui/QtTranslations.h"
#include "ui/SystemMessage.h"
#include "common/NumberText.h"
#include "common/TextFormat.h"
#include "image/ui/CHexEdit.h"
#include "ledger/SerialLedger.h"

namespace {

// A number edit: typed characters other than 0-9 are refused, control keys and the
// clipboard shortcuts work, and pasted text is not filtered (OK reads what is there).
class DigitsEdit : public QLineEdit {
public:
    explicit DigitsEdit(QWidget* parent) : QLineEdit(parent) {
        setAttribute(Qt::WA_InputMethodEnabled, false);
    }

protected:
    static bool IsRefused(QChar c) { return c.isPrint() && (c < u'0' || c > u'9'); }

    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        const bool withControl = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
        if (!withControl && !text.isEmpty() && (text.size() > 1 || IsRefused(text.front()))) {
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

// Label column and value column of the group box, in dialog units.
constexpr int kLabelX = 15;
constexpr int kLabelWidth = 72;
constexpr int kValueX = 92;
constexpr int kValueWidth = 90;
constexpr int kFirstRowY = 34;
constexpr int kRowPitch = 15;
constexpr int kSerialsGroupHeight = 44;

}  // namespace

COptionsDlg::COptionsDlg(CodeShift& shift, QWidget* parent, SerialSource* serials)
    : QDialog(parent), shift_(shift), serials_(serials) {
    setObjectName(QStringLiteral("COptionsDlg"));
    setWindowTitle(Tr(kOptionsCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    // The serial source's group goes below the template's, the buttons below it.
    const int extra = serials_ != nullptr ? kSerialsGroupHeight + 4 : 0;
    setFixedSize(du.Size(200, 140 + extra));

    auto* group = new QGroupBox(Tr(kOptionsGroup), this);
    group->setObjectName(QStringLiteral("shiftGroup"));
    PlaceInUnits(group, du, 7, 7, 186, 106);

    enableBox_ = new QCheckBox(Tr(kOptionsEnable), this);
    enableBox_->setObjectName(QStringLiteral("id1022"));
    PlaceInUnits(enableBox_, du, kLabelX, 19, 80, 10);
    connect(enableBox_, &QCheckBox::clicked, this,
            [this] { EnableValueControls(enableBox_->isChecked()); });

    const auto addRow = [&](int row, const QString& text, const char* labelName, QWidget* value,
                            int height) {
        const int y = kFirstRowY + row * kRowPitch;
        auto* label = new QLabel(text, this);
        label->setObjectName(QLatin1String(labelName));
        PlaceInUnits(label, du, kLabelX, y + 2, kLabelWidth, 8);
        label->setBuddy(value);
        PlaceInUnits(value, du, kValueX, y + (12 - height) / 2, kValueWidth, height);
    };

    addressEdit_ = new CHexEdit(this);
    addressEdit_->setObjectName(QStringLiteral("id1024"));
    addRow(0, Tr(kOptionsAddressLabel), "addressLabel", addressEdit_, 12);

    startEdit_ = new DigitsEdit(this);
    startEdit_->setObjectName(QStringLiteral("id1025"));
    addRow(1, Tr(kOptionsStartLabel), "startLabel", startEdit_, 12);

    stepEdit_ = new DigitsEdit(this);
    stepEdit_->setObjectName(QStringLiteral("id1026"));
    addRow(2, Tr(kOptionsStepLabel), "stepLabel", stepEdit_, 12);

    widthList_ = new QComboBox(this);
    widthList_->setObjectName(QStringLiteral("id1027"));
    addRow(3, Tr(kOptionsWidthLabel), "widthLabel", widthList_, 14);

    typeList_ = new QComboBox(this);
    typeList_->setObjectName(QStringLiteral("id1001"));
    addRow(4, Tr(kOptionsTypeLabel), "typeLabel", typeList_, 14);

    if (serials_ != nullptr) {
        auto* serialsGroup = new QGroupBox(Tr(kOptionsSerialsGroup), this);
        serialsGroup->setObjectName(QStringLiteral("serialsGroup"));
        PlaceInUnits(serialsGroup, du, 7, 117, 186, kSerialsGroupHeight);
        const auto addSerialRow = [&](int row, const QString& text, const char* name,
                                      QLineEdit* edit) {
            const int y = 129 + row * kRowPitch;
            auto* label = new QLabel(text, this);
            label->setObjectName(QLatin1String(name));
            PlaceInUnits(label, du, kLabelX, y + 2, 40, 8);
            label->setBuddy(edit);
            PlaceInUnits(edit, du, kLabelX + 42, y, 186 - kLabelX - 42, 12);
        };
        productEdit_ = new QLineEdit(QString::fromStdString(serials_->product), this);
        productEdit_->setObjectName(QStringLiteral("productEdit"));
        addSerialRow(0, Tr(kOptionsProductLabel), "productLabel", productEdit_);
        ledgerEdit_ = new QLineEdit(QString::fromStdString(serials_->ledger), this);
        ledgerEdit_->setObjectName(QStringLiteral("ledgerEdit"));
        ledgerEdit_->setPlaceholderText(QString::fromStdString(DefaultLedgerPath()));
        addSerialRow(1, Tr(kOptionsLedgerLabel), "ledgerLabel", ledgerEdit_);
    }

    auto* ok = new QPushButton(Tr(kOptionsOk), this);
    ok->setObjectName(QStringLiteral("id1"));
    ok->setDefault(true);
    PlaceInUnits(ok, du, 89, 119 + extra, 50, 14);
    connect(ok, &QPushButton::clicked, this, &COptionsDlg::accept);

    auto* cancel = new QPushButton(Tr(kOptionsCancel), this);
    cancel->setObjectName(QStringLiteral("id2"));
    PlaceInUnits(cancel, du, 143, 119 + extra, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &COptionsDlg::reject);

    for (const char* entry : kShiftWidthTexts) widthList_->addItem(QString::fromUtf8(entry));
    for (const char* entry : kShiftTypeTexts) typeList_->addItem(QString::fromUtf8(entry));
    ShowValues();
}

void COptionsDlg::ShowValues() {
    const CodeShiftFields fields = FieldsOfCodeShift(shift_);
    addressEdit_->setText(QString::fromStdString(fields.address));
    startEdit_->setText(QString::fromStdString(fields.start));
    stepEdit_->setText(QString::fromStdString(fields.step));
    widthList_->setCurrentIndex(fields.widthIndex);
    typeList_->setCurrentIndex(fields.typeIndex);
    enableBox_->setChecked(fields.enabled);
    EnableValueControls(fields.enabled);
}

void COptionsDlg::EnableValueControls(bool enabled) {
    for (QWidget* control : {static_cast<QWidget*>(addressEdit_), static_cast<QWidget*>(startEdit_),
                             static_cast<QWidget*>(stepEdit_), static_cast<QWidget*>(widthList_),
                             static_cast<QWidget*>(typeList_)}) {
        control->setEnabled(enabled);
    }
}

void COptionsDlg::accept() {
    CodeShiftFields fields;
    fields.enabled = enableBox_->isChecked();
    fields.address = addressEdit_->text().toStdString();
    fields.start = startEdit_->text().toStdString();
    fields.step = stepEdit_->text().toStdString();
    fields.widthIndex = widthList_->currentIndex();
    fields.typeIndex = typeList_->currentIndex();
    if (const char* refusal = ApplyCodeShiftFields(fields, shift_)) {
        ShowSystemMessage(this, MessageIcon::Exclamation, Tr(QString::fromUtf8(refusal)));
        return;
    }
    if (serials_ != nullptr) {
        serials_->product = productEdit_->text().trimmed().toStdString();
        serials_->ledger = ledgerEdit_->text().trimmed().toStdString();
    }
    QDialog::accept();
}
