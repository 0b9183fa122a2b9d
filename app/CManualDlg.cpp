#include "app/CManualDlg.h"

#include <QGroupBox>
#include <QLabel>
#include <QPixmap>

#include "ui/DialogUnits.h"
#include "ui/QtTranslations.h"

// The resources live in a static library: without an explicit reference the linker
// would leave them out of the program. Outside any namespace, as the resource macro needs.
static void InitDialogResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(dialogs);
        return true;
    }();
    (void)done;
}

namespace {

QLabel* AddLabel(QWidget* parent, const DialogUnits& du, const QString& text, const char* name,
                 int x, int y, int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);  // as a plain static text wraps
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceInUnits(label, du, x, y, width, height);
    return label;
}

}  // namespace

CManualDlg::CManualDlg(QWidget* parent) : QDialog(parent) {
    InitDialogResources();
    setObjectName(QStringLiteral("CManualDlg"));
    setWindowTitle(Tr(kManualCaption));
    setFont(TemplateFont());
    const DialogUnits du(font());
    setFixedSize(du.Size(186, 165));

    auto* pinoutGroup = new QGroupBox(Tr(kManualPinoutGroup), this);
    pinoutGroup->setObjectName(QStringLiteral("pinoutGroup"));
    PlaceInUnits(pinoutGroup, du, 7, 7, 172, 79);
    AddLabel(this, du, kManualPinout, "pinoutLabel", 13, 17, 127, 10);

    // The frame becomes the picture; like a bitmap static it takes the bitmap's size.
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("id1015"));
    PlaceInUnits(picture, du, 42, 38, 101, 36);
    const QPixmap connector(kConnectorPicture);
    if (!connector.isNull()) {
        picture->setPixmap(connector);
        picture->resize(connector.size());
    }

    auto* ledGroup = new QGroupBox(Tr(kManualLedGroup), this);
    ledGroup->setObjectName(QStringLiteral("ledGroup"));
    PlaceInUnits(ledGroup, du, 7, 89, 172, 72);
    static constexpr int kLedRows[5][4] = {{12, 100, 127, 10},
                                           {12, 111, 127, 10},
                                           {12, 122, 127, 10},
                                           {12, 132, 127, 10},
                                           {12, 143, 170, 18}};
    static constexpr const char* kLedNames[5] = {"ledLabel1", "ledLabel2", "ledLabel3", "ledLabel4",
                                                 "ledLabel5"};
    for (std::size_t i = 0; i < kManualLedLines.size(); ++i) {
        const int* r = kLedRows[i];
        AddLabel(this, du, Tr(kManualLedLines[i]), kLedNames[i], r[0], r[1], r[2], r[3]);
    }

    // Below the bottom edge: kept as the template has them, never shown.
    AddLabel(this, du, Tr(kManualSupportLine), "id1033", 14, 172, 158, 8);
    auto* supportGroup = new QGroupBox(Tr(kManualSupportGroup), this);
    supportGroup->setObjectName(QStringLiteral("supportGroup"));
    PlaceInUnits(supportGroup, du, 9, 169, 172, 12);
    update();
}
