#pragma once
#include <QDialog>
#include <QString>
#include <array>
#include <string>

#include "common/Translation.h"
#include "job/JobHeader.h"
#include "ledger/LeasedJob.h"

class CHexEdit;
class QCheckBox;
class QComboBox;
class QLineEdit;

inline const QString kOptionsCaption = QStringLiteral(N_("Опции"));
inline const QString kOptionsGroup = QStringLiteral(N_("Прошивка со сдвигом кода"));
inline const QString kOptionsEnable = QStringLiteral(N_("Включить"));
inline const QString kOptionsAddressLabel = QStringLiteral(N_("Адресс:"));
inline const QString kOptionsStartLabel = QStringLiteral(N_("Начальный адресс:"));
inline const QString kOptionsStepLabel = QStringLiteral(N_("Шаг:"));
inline const QString kOptionsWidthLabel = QStringLiteral(N_("Ширина:"));
inline const QString kOptionsTypeLabel = QStringLiteral(N_("Тип:"));
inline const QString kOptionsOk = QStringLiteral(N_("Применить"));
inline const QString kOptionsCancel = QStringLiteral(N_("Отмена"));
inline const std::array<QString, 4> kShiftWidthEntries = {
    QStringLiteral("1 Byte"), QStringLiteral("2 Byte"), QStringLiteral("3 Byte"),
    QStringLiteral("4 Byte")};
// The first type entry ends in one EN QUAD.
inline const std::array<QString, 2> kShiftTypeEntries = {QStringLiteral("Low\u2000"),
                                                         QStringLiteral("High")};
inline const QString kOptionsSerialsGroup = QStringLiteral(N_("Серийные номера из журнала"));
inline const QString kOptionsProductLabel = QStringLiteral(N_("Изделие:"));
inline const QString kOptionsLedgerLabel = QStringLiteral(N_("Журнал:"));
inline const QString kShiftAddressRangeMessage = QString::fromUtf8(kMsgShiftAddressRange);
inline const QString kShiftAddressAlignMessage = QString::fromUtf8(kMsgShiftAddressAlign);

// Edits the five code-shift members of the main dialog. They change only on OK, except
// shiftEnabled, which OK takes from the check box before it checks the address. Given a
// serial source, it is edited too, below them.
class COptionsDlg : public QDialog {
    Q_OBJECT

public:
    COptionsDlg(CodeShift& shift, QWidget* parent, SerialSource* serials = nullptr);

    void accept() override;

private:
    void ShowValues();
    void EnableValueControls(bool enabled);

    CodeShift& shift_;
    SerialSource* serials_ = nullptr;
    QLineEdit* productEdit_ = nullptr;
    QLineEdit* ledgerEdit_ = nullptr;
    QCheckBox* enableBox_ = nullptr;   // 1022
    CHexEdit* addressEdit_ = nullptr;  // 1024
    QLineEdit* startEdit_ = nullptr;   // 1025
    QLineEdit* stepEdit_ = nullptr;    // 1026
    QComboBox* widthList_ = nullptr;   // 1027
    QComboBox* typeList_ = nullptr;    // 1001
};
