#pragma once
#include <QMessageBox>
#include <QString>
#include <functional>

#include "worker/WorkerPort.h"

class QWidget;

// The caption of every message box of the system: two EN QUADs.
inline const QString kSystemCaption = QStringLiteral("\u2000\u2000");

// One message box of the system as it was asked for; tests capture these instead of
// showing them.
struct SystemMessage {
    QWidget* owner = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString caption;
    QString text;
    bool question = false;  // Yes and No buttons
    // The button that Enter presses; NoButton leaves the choice to the message box.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// While set, message boxes are not shown: the hook receives them, and for questions its
// result is the answer (true = Yes). Set by tests; unset in the program.
using SystemMessageHook = std::function<bool(const SystemMessage&)>;
void SetSystemMessageHook(SystemMessageHook hook);

// A message box owned by `owner` with the system caption, an OK button and the icon.
void ShowSystemMessage(QWidget* owner, MessageIcon icon, const QString& text);
// The same with another caption (the few messages that carry the application's title).
void ShowCaptionedMessage(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                          const QString& text);
// A question with Yes and No and the question icon; returns true for Yes.
bool AskSystemQuestion(QWidget* owner, const QString& caption, const QString& text,
                       QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
