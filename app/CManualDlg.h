#pragma once
#include <QDialog>
#include <QString>
#include <array>

#include "common/Translation.h"

inline const QString kManualCaption = QStringLiteral(N_("Руководство"));
inline const QString kManualPinoutGroup = QStringLiteral(N_("Распиновка разъема"));
inline const QString kManualPinout = QStringLiteral("1:3.3V 2:GND 3:SWCLK 4:SWDIO");
inline const QString kManualLedGroup = QStringLiteral(N_("Светодиодная индикация"));
inline const std::array<QString, 5> kManualLedLines = {
    QStringLiteral(N_("1:Синий миг: Устройство подключено")),
    QStringLiteral(N_("2:Красный миг: Идет загрузка данных")),
    QStringLiteral(N_("3:Синий горит: Загрузка завершена")),
    QStringLiteral(N_("4:Красный горит: Загрузка не удалась")),
    QStringLiteral(N_("5:Красный и синий мигающий: Большой размер загружаемого файла"))};
inline const QString kManualSupportGroup = QStringLiteral(N_("技术支持"));
inline const QString kManualLinkTemplate = QStringLiteral("Link:");
// The support-contact line; it lies below the dialog's bottom edge and is not seen.
inline const QString kManualSupportLine = QStringLiteral(N_("Link: обратитесь к поставщику"));
// The connector picture, 153 x 66 pixels.
inline const QString kConnectorPicture = QStringLiteral(":/dialogs/connector.png");

// The target connector's pinout with its picture, and what the programmer's LEDs mean.
// It has no buttons: it closes with the close box or Escape.
class CManualDlg : public QDialog {
    Q_OBJECT

public:
    explicit CManualDlg(QWidget* parent);
};
