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
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            // The window's Esc handling gets it.
            event->ignore();
            return true;
        }
        if (fields::isEnterKey(key->key())) {
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void EditBox::keyPressEvent(QKeyEvent* event) {
    changes_.userAction([&] {
        const int key = event->key();
        if (const auto callback = OnKeyDown) callback(key, event->modifiers());
        if (fields::isEnterKey(key)) {
            event->accept();
        } else if (key == Qt::Key_Escape) {
            event->ignore();
        } else {
            QLineEdit::keyPressEvent(event);
        }
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
