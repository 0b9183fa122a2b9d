#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>

#include "common/Translation.h"

class CHexEdit;
class QPushButton;

inline const QString kAddressDlgCaption = QStringLiteral(N_("Начальный адрес"));
inline const QString kAddressDlgLabel = QStringLiteral(N_("Начальный адрес:"));
inline const QString kAddressDlgOk = QStringLiteral(N_("Определить"));
inline const QString kAddressDlgCancel = QStringLiteral(N_("Отмена"));

// Asks for the target address at which a raw binary file is loaded. Made afresh for every
// file, so it always opens with 08000000.
class CAddressDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAddressDlg(QWidget* parent);

    std::uint32_t startAddress = 0x08000000;
    CHexEdit* addressEdit = nullptr;  // edit 1014

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool initialised_ = false;
};
