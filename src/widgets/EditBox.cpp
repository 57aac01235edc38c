#include "widgets/EditBox.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include "platform/ErrorBoundary.h"

namespace zyg {

EditBox::EditBox(QWidget* parent)
    : QLineEdit(parent),
      changes_(
          QString(), [this] { return text(); }, OnChange) {
    changes_.watch(this);
}

void EditBox::setText(const QString& text) {
    if (text == this->text()) return;
    changes_.programWrite([&] { QLineEdit::setText(text); });
}

void EditBox::rewriteText(const QString& text) {
    if (text == this->text()) return;
    changes_.quietWrite([&] { QLineEdit::setText(text); });
}

bool EditBox::event(QEvent* event) {
    // Esc goes to the window's own Esc handling.
    if (fields::overridesShortcut(event, fields::EscapeKey::Window)) return true;
    return QLineEdit::event(event);
}

void EditBox::keyPressEvent(QKeyEvent* event) {
    changes_.userAction([&] {
        fields::pressKey(
            event, OnKeyDown, [&] { event->ignore(); }, [&] { QLineEdit::keyPressEvent(event); });
    });
}

void EditBox::inputMethodEvent(QInputMethodEvent* event) {
    changes_.userAction([&] { QLineEdit::inputMethodEvent(event); });
}

void EditBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!fields::leavesField(event->reason())) return;
    changes_.userAction([&] {
        if (const auto callback = OnExit) callback();
    });
}

}  // namespace zyg
