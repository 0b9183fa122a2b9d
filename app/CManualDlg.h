#pragma once
#include <QDialog>
#include <QString>
#include <array>

inline const QString kManualCaption = QStringLiteral("Руководство");
inline const QString kManualPinoutGroup = QStringLiteral("Распиновка разъема");
inline const QString kManualPinout = QStringLiteral("1:3.3V 2:GND 3:SWCLK 4:SWDIO");
inline const QString kManualLedGroup = QStringLiteral("Светодиодная индикация");
inline const std::array<QString, 5> kManualLedLines = {
    QStringLiteral("1:Синий миг: Устройство подключено"),
    QStringLiteral("2:Красный миг: Идет загрузка данных"),
    QStringLiteral("3:Синий горит: Загрузка завершена"),
    QStringLiteral("4:Красный горит: Загрузка не удалась"),
    QStringLiteral("5:Красный и синий мигающий: Большой размер загружаемого файла")};
inline const QString kManualSupportGroup = QStringLiteral("技术支持");
inline const QString kManualLinkTemplate = QStringLiteral("Link:");
// The support-contact line; it lies below the dialog's bottom edge and is not seen.
inline const QString kManualSupportLine = QStringLiteral("Link: обратитесь к поставщику");
// The connector picture, 153 x 66 pixels.
inline const QString kConnectorPicture = QStringLiteral(":/dialogs/connector.png");

// The target connector's pinout with its picture, and what the programmer's LEDs mean.
// It has no buttons: it closes with the close box or Escape.
class CManualDlg : public QDialog {
    Q_OBJECT

public:
    explicit CManualDlg(QWidget* parent);
};
