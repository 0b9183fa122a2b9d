#pragma once
#include <QLineEdit>

class QKeyEvent;

// An address field that takes hexadecimal digits only. Typed characters are filtered:
// backspace, 0-9, A-F and a-f pass, letters turned to upper case; everything else is
// dropped, the clipboard shortcuts included. Keys that type nothing (arrows, Home, End,
// Delete) and the dialog's own keys (Return, Escape, Tab) keep their usual meaning. A
// paste from the context menu is not filtered, so the dialogs still check the text.
class CHexEdit : public QLineEdit {
public:
    explicit CHexEdit(QWidget* parent = nullptr);

    // Whether a typed character passes the filter.
    static bool PassesFilter(QChar character);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
