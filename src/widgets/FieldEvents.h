#pragma once

// What the program's edit fields share in handling Qt's events: which focus
// moves count as leaving a field, and the one-report-per-change bookkeeping
// of the change callbacks.

#include <QKeyEvent>
#include <QLineEdit>
#include <QString>
#include <functional>
#include <string>
#include <utility>

#include "platform/ErrorBoundary.h"

namespace zyg::fields {

// The numeric fields format at most this many decimals.
inline constexpr int kMaxDecimals = 18;

bool isEnterKey(int key);

// Where Esc goes when a field is asked whether it overrides a shortcut.
enum class EscapeKey {
    Window,    // to the window's own Esc handling, past every shortcut
    Field,     // to the field, before any shortcut
    Shortcut,  // to the shortcuts, as Qt would
};

// A field's answer to a ShortcutOverride event: Enter is the field's own, Esc
// goes where `escape` says. True when the event was answered here.
bool overridesShortcut(QEvent* event, EscapeKey escape);

// A key press of a field that takes Enter itself: the key callback first,
// then Enter is accepted, Esc goes to `escape` and any other key to `other`.
template <class Callback, class Escape, class Other>
void pressKey(QKeyEvent* event, const Callback& onKeyDown, const Escape& escape,
              const Other& other) {
    const int key = event->key();
    if (const auto callback = onKeyDown) callback(key, event->modifiers());
    if (isEnterKey(key))
        event->accept();
    else if (key == Qt::Key_Escape)
        escape();
    else
        other();
}

// Whether a key event inserts its text into a line edit, as opposed to
// editing, moving or being a shortcut.
bool insertsText(const QKeyEvent& event);

// A focus loss that leaves the field for another control. Menus, popups and
// the activation of another window (a message box, say) take the keyboard
// only for a while and do not count.
bool leavesField(Qt::FocusReason reason);

std::string utf8(const QString& text);

// Routes the changes of a field's text to its change callback, once per
// change: when the text differs from the one reported last. A program write
// reports inside the write and lets the callback's exceptions through; a user
// action runs as one command inside the error boundary and reports at its
// end; changes that no action of the field sees coming (a context menu's
// paste or undo, a drop, a middle-button paste) come through the edit's
// textChanged signal.
class ChangeReporter {
public:
    // `text` reads the shown text; `onChange` is the field's OnChange member.
    ChangeReporter(QString initial, std::function<QString()> text,
                   const std::function<void()>& onChange)
        : reported_(std::move(initial)), text_(std::move(text)), onChange_(onChange) {}

    // Reports, from the error boundary, what changes `edit` outside the
    // field's own actions.
    void watch(QLineEdit* edit) {
        QObject::connect(edit, &QLineEdit::textChanged, edit, [this] {
            if (depth_ == 0) guarded([this] { report(); });
        });
    }

    template <class Write>
    void programWrite(Write&& write) {
        {
            const Busy busy(*this);
            write();
        }
        report();
    }

    // A write that shows the same value in another form: nothing changed, so
    // nothing is reported.
    template <class Write>
    void quietWrite(Write&& write) {
        {
            const Busy busy(*this);
            write();
        }
        reported_ = text_();
    }

    // Whether the action completed without an error.
    template <class Work>
    bool userAction(Work&& work) {
        bool completed = false;
        guarded([&] {
            programWrite(std::forward<Work>(work));
            completed = true;
        });
        return completed;
    }

    // Keeps Qt's change signals quiet while the field rearranges itself.
    class Busy {
    public:
        explicit Busy(ChangeReporter& reporter) : reporter_(reporter) { ++reporter_.depth_; }
        ~Busy() { --reporter_.depth_; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        ChangeReporter& reporter_;
    };

private:
    void report() {
        const QString current = text_();
        if (current == reported_) return;
        reported_ = current;
        // A copy, so that the callback may replace itself.
        if (const std::function<void()> callback = onChange_) callback();
    }

    QString reported_;
    std::function<QString()> text_;
    const std::function<void()>& onChange_;
    int depth_ = 0;
};

}  // namespace zyg::fields
