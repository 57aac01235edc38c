#pragma once

// An editable combo box: a line edit with a drop-down list of items kept
// sorted as text. Typing changes the text; choosing an item puts it into the
// text; both are reported through OnChange when the text changes. A program
// write through setText that changes the text calls OnChange inside the
// write and lets its exceptions through. The typed text is never completed
// or replaced, and nothing typed is ever added to the list. Enter reaches
// OnKeyDown and stops there; Esc reaches OnKeyDown and then goes on to the
// window, unless it closes the open list.

#include <QComboBox>
#include <QStringList>
#include <functional>

#include "widgets/FieldEvents.h"

namespace zyg {

class EditableComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit EditableComboBox(QWidget* parent = nullptr);

    QString Text() const { return currentText(); }
    void setText(const QString& text);

    // Replaces the list by `items`, sorted; the text stays.
    void setItems(const QStringList& items);
    // Adds one item at its place in the sorted list.
    void addItem(const QString& item);

    std::function<void()> OnChange;
    std::function<void(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    fields::ChangeReporter changes_;
};

}  // namespace zyg
