#include "widgets/EditBox.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include "platform/ErrorBoundary.h"

namespace zyg {

EditBox::EditBox(QWidget* parent) : QLineEdit(parent), changes_(QString()) {
    // Changes that no override of ours sees coming (a context menu's paste
    // or undo, a drop, a middle-button paste) are reported from here.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (changes_.busy()) return;
        guarded([&] { changes_.report(text(), OnChange); });
    });
}

template <class Work>
void EditBox::userAction(Work&& work) {
    guarded([&] {
        {
            const fields::ChangeReporter::Busy busy(changes_);
            work();
        }
        changes_.report(text(), OnChange);
    });
}

void EditBox::setText(const QString& text) {
    if (text == this->text()) return;
    {
        const fields::ChangeReporter::Busy busy(changes_);
        QLineEdit::setText(text);
    }
    changes_.report(this->text(), OnChange);
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
    userAction([&] {
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
    userAction([&] { QLineEdit::inputMethodEvent(event); });
}

void EditBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!fields::leavesField(event->reason())) return;
    userAction([&] {
        if (const auto callback = OnExit) callback();
    });
}

}  // namespace zyg
