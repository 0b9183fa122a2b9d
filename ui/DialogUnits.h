#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

// Every dialog template of the system is laid out in dialog units with Arial 9 (or its
// metric twin Liberation Sans). A horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
QFont TemplateFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font = TemplateFont());
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

private:
    double baseX_;
    double baseY_;
};

// Places `child` at a rectangle given in dialog units.
void PlaceInUnits(QWidget* child, const DialogUnits& units, int x, int y, int width, int height);
