#pragma once

// What the program's edit fields share in handling Qt's events: which focus
// moves count as leaving a field, and the one-report-per-change bookkeeping
// of the change callbacks.

#include <QKeyEvent>
#include <QString>
#include <functional>
#include <string>

namespace zyg::fields {


bool isEnterKey(int key);

// Whether a key event inserts its text into a line edit, as opposed to
// editing, moving or being a shortcut.
bool insertsText(const QKeyEvent& event);

// A focus loss that leaves the field for another control. Menus, popups and
// the activation of another window (a message box, say) take the keyboard
// only for a while and do not count.
bool leavesField(Qt::FocusReason reason);

std::string utf8(const QString& text);

// Reports a change of a field's text to its change callback once: when the
// text differs from the one reported last. While an action of the field runs
// (busy), Qt's own change signals are left to that action, which reports at
// its end.
class ChangeReporter {
public:
    explicit ChangeReporter(const QString& initial) : reported_(initial) {}

    // Calls onChange, letting its exceptions through, if `current` differs
    // from the text reported last.
    void report(const QString& current, const std::function<void()>& onChange) {
        if (current == reported_) return;
        reported_ = current;
        // A copy, so that the callback may replace itself.
        if (const std::function<void()> callback = onChange) callback();
    }

    bool busy() const { return depth_ > 0; }

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
    QString reported_;
    int depth_ = 0;
};

}  // namespace zyg::fields
