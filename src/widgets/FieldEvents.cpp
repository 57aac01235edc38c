#include "widgets/FieldEvents.h"

namespace zyg::fields {

bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

bool overridesShortcut(QEvent* event, EscapeKey escape) {
    if (event->type() != QEvent::ShortcutOverride) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape && escape == EscapeKey::Window) {
        event->ignore();
        return true;
    }
    if (isEnterKey(key) || (key == Qt::Key_Escape && escape == EscapeKey::Field)) {
        event->accept();
        return true;
    }
    return false;
}

bool insertsText(const QKeyEvent& event) {
    const QString text = event.text();
    if (text.isEmpty() || !text.front().isPrint()) return false;
    // Control with or without Shift makes a shortcut, not a character.
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    return modifiers != Qt::ControlModifier &&
           modifiers != (Qt::ControlModifier | Qt::ShiftModifier);
}

bool leavesField(Qt::FocusReason reason) {
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
           reason != Qt::MenuBarFocusReason;
}

std::string utf8(const QString& text) { return text.toStdString(); }

}  // namespace zyg::fields
