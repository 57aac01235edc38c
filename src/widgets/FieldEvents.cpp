#include "widgets/FieldEvents.h"

namespace zyg::fields {

bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

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
