#pragma once
#include <QDialog>
#include <QString>
#include <cstdint>

#include "common/Translation.h"
#include "remote/GenerateRemoteJobFile.h"

class QLineEdit;

inline const QString kSerNumCaption = QStringLiteral(N_("SN Устройства"));
inline const QString kSerNumLabel = QStringLiteral("SN:");
inline const QString kSerNumOk = QStringLiteral(N_("Определить"));
inline const QString kSerNumCancel = QStringLiteral(N_("Отмена"));
inline const QString kSerNumRefusedMessage = QString::fromUtf8(kMsgBadDeviceId);
// Users send these files to other sites and may take them for protected; they are not.
inline const QString kSerNumProtectionNote = QStringLiteral(
    N_("Файл .qvz не защищает прошивку: образ лишь перемешан постоянной таблицей и ID "
       "устройства, и любой, у кого есть эта программа, прочтёт его (inspect --dump запишет "
       "чистый образ). Программатор ID не проверяет; контрольная сумма защищает от "
       "повреждения, а не от чтения или подмены."));

// Asks for the device ID (the eight hexadecimal digits the device information shows) of
// the programmer a remote job file is meant for.
class CSerNumDlg : public QDialog {
    Q_OBJECT

public:
    explicit CSerNumDlg(QWidget* parent);

    std::uint32_t code = 0;

    void accept() override;

private:
    QLineEdit* codeEdit_ = nullptr;  // 1032
};
