#include "ui/SystemMessage.h"

#include <utility>

namespace {

SystemMessageHook& Hook() {
    static SystemMessageHook hook;
    return hook;
}

QMessageBox::Icon IconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void SetSystemMessageHook(SystemMessageHook hook) { Hook() = std::move(hook); }

void ShowCaptionedMessage(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                          const QString& text) {
    if (Hook()) {
        Hook()(SystemMessage{owner, icon, caption, text, false});
        return;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void ShowSystemMessage(QWidget* owner, MessageIcon icon, const QString& text) {
    ShowCaptionedMessage(owner, IconOf(icon), kSystemCaption, text);
}

bool AskSystemQuestion(QWidget* owner, const QString& caption, const QString& text,
                       QMessageBox::StandardButton defaultButton) {
    if (Hook()) {
        return Hook()(
            SystemMessage{owner, QMessageBox::Question, caption, text, true, defaultButton});
    }
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    return box.exec() == QMessageBox::Yes;
}
