#include "image/ui/CHexEdit.h"

#include <QKeyEvent>

#include "image/FileLoading.h"

namespace {

// Keys that reach an edit without typing a character, or that belong to the dialog.
bool IsNonCharacterKey(int key) {
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return true;
        default:
            return false;
    }
}

}  // namespace

CHexEdit::CHexEdit(QWidget* parent) : QLineEdit(parent) {
    // Composed input would bypass the key filter.
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

bool CHexEdit::PassesFilter(QChar character) { return PassesHexFilter(character.unicode()); }

void CHexEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const QString text = event->text();
    const bool withControl = event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier);
    const bool characterKey =
        !text.isEmpty() || (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde);
    if (key == Qt::Key_Backspace || IsNonCharacterKey(key) || !characterKey) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // With Control a character key types a control character (Ctrl+V is 0x16): dropped,
    // which is what keeps the clipboard shortcuts out.
    if (withControl || text.size() != 1 || !PassesFilter(text.front())) {
        event->accept();
        return;
    }
    QKeyEvent upper(event->type(), key, event->modifiers(), text.toUpper(), event->isAutoRepeat(),
                    static_cast<quint16>(event->count()));
    QLineEdit::keyPressEvent(&upper);
    event->setAccepted(upper.isAccepted());
}
