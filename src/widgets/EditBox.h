#pragma once

// A plain one-line edit box whose changes, exits and keys reach the window as
// plain callbacks. A program write through setText that changes the text
// calls OnChange inside the write and lets its exceptions through; what the
// user does runs as one action inside the error boundary. Enter reaches
// OnKeyDown and stops there; Esc reaches OnKeyDown and then goes on to the
// window.

#include <QLineEdit>
#include <functional>

#include "widgets/FieldEvents.h"

namespace zyg {

class EditBox : public QLineEdit {
    Q_OBJECT

public:
    explicit EditBox(QWidget* parent = nullptr);

    QString Text() const { return text(); }
    void setText(const QString& text);
    // Shows the same value written another way ("50" for "050"): OnChange is
    // not called, since nothing the window reads has changed.
    void rewriteText(const QString& text);

    std::function<void()> OnChange;
    std::function<void()> OnExit;
    std::function<void(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    fields::ChangeReporter changes_;
};

}  // namespace zyg
