#pragma once
#include <QDialog>
#include <QString>
#include <string>

#include "common/Translation.h"
#include "job/CodeShiftForm.h"
#include "job/JobHeader.h"
#include "ledger/LeasedJob.h"

class CHexEdit;
class QCheckBox;
class QComboBox;
class QLineEdit;

inline const QString kOptionsCaption = QString::fromUtf8(kOptionsCaptionText);
inline const QString kOptionsGroup = QString::fromUtf8(kOptionsGroupText);
inline const QString kOptionsEnable = QString::fromUtf8(kOptionsEnableText);
inline const QString kOptionsAddressLabel = QString::fromUtf8(kOptionsAddressText);
inline const QString kOptionsStartLabel = QString::fromUtf8(kOptionsStartText);
inline const QString kOptionsStepLabel = QString::fromUtf8(kOptionsStepText);
inline const QString kOptionsWidthLabel = QString::fromUtf8(kOptionsWidthText);
inline const QString kOptionsTypeLabel = QString::fromUtf8(kOptionsTypeText);
inline const QString kOptionsOk = QString::fromUtf8(kOptionsOkText);
inline const QString kOptionsCancel = QString::fromUtf8(kOptionsCancelText);
inline const QString kOptionsSerialsGroup = QString::fromUtf8(kOptionsSerialsText);
inline const QString kOptionsProductLabel = QString::fromUtf8(kOptionsProductText);
inline const QString kOptionsLedgerLabel = QString::fromUtf8(kOptionsLedgerText);

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
