#include "widgets/EditableComboBox.h"

#include <QAbstractItemView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "platform/ErrorBoundary.h"

namespace zyg {

namespace {

bool sortsBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

}  // namespace

EditableComboBox::EditableComboBox(QWidget* parent)
    : QComboBox(parent),
      changes_(
          QString(), [this] { return currentText(); }, OnChange) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    // Typing, and choosing an item from the list (which sets the text from a
    // slot of the combo box), are reported through the line edit's signal
    // unless an action of ours runs and reports at its end.
    changes_.watch(lineEdit());
}

void EditableComboBox::setText(const QString& text) {
    if (text == currentText()) return;
    changes_.programWrite([&] { lineEdit()->setText(text); });
}

void EditableComboBox::setItems(const QStringList& items) {
    QStringList sorted = items;
    std::stable_sort(sorted.begin(), sorted.end(), sortsBefore);
    const fields::ChangeReporter::Busy busy(changes_);
    const QString text = currentText();
    clear();
    QComboBox::addItems(sorted);
    // Filling the list selects its first item; the text is kept.
    lineEdit()->setText(text);
}

void EditableComboBox::addItem(const QString& item) {
    int at = 0;
    while (at < count() && !sortsBefore(item, itemText(at))) ++at;
    const fields::ChangeReporter::Busy busy(changes_);
    const QString text = currentText();
    insertItem(at, item);
    lineEdit()->setText(text);
}

bool EditableComboBox::event(QEvent* event) {
    if (fields::overridesShortcut(event, fields::EscapeKey::Shortcut)) return true;
    return QComboBox::event(event);
}

void EditableComboBox::keyPressEvent(QKeyEvent* event) {
    changes_.userAction([&] {
        fields::pressKey(
            event, OnKeyDown,
            [&] {
                // Esc closes an open list; otherwise it goes on to the window.
                if (view()->isVisible()) {
                    hidePopup();
                    event->accept();
                } else {
                    event->ignore();
                }
            },
            [&] { QComboBox::keyPressEvent(event); });
    });
}

void EditableComboBox::inputMethodEvent(QInputMethodEvent* event) {
    changes_.userAction([&] { QComboBox::inputMethodEvent(event); });
}

}  // namespace zyg
