#include "ui/DialogUnits.h"

#include <QFontMetricsF>
#include <QWidget>
#include <cmath>

QFont TemplateFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    // The average width over the Latin letters, as the dialog manager measures it.
    baseX_ = metrics.horizontalAdvance(
                 QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
             52.0;
    baseY_ = metrics.height();
}

int DialogUnits::X(int units) const { return static_cast<int>(std::lround(units * baseX_ / 4.0)); }
int DialogUnits::Y(int units) const { return static_cast<int>(std::lround(units * baseY_ / 8.0)); }

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

void PlaceInUnits(QWidget* child, const DialogUnits& units, int x, int y, int width, int height) {
    child->setGeometry(units.Rect(x, y, width, height));
}
