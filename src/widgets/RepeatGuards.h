#pragma once

// One action, one message box: what repeats by itself (a held key, a held
// scroll-bar arrow) stops repeating once a step has brought up a box, so that
// a refresh that fails at every step cannot pile up boxes behind the first.

#include <QObject>
#include <QScrollBar>

namespace zyg {

// An application-wide event filter: the auto-repeated presses of a held key
// are dropped once a message box has come up since the key went down. The
// next real press of the key acts again.
class HeldKeyGuard final : public QObject {
public:
    explicit HeldKeyGuard(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int key_ = 0;
    quint64 pressedAt_ = 0;
    int boxesAtPress_ = 0;
};

// A scroll bar whose held arrow or page area stops repeating when a step has
// brought up a message box, and while one is open: the box takes the mouse, so
// the release that would end the repeat never reaches the bar.
class ScrollBar final : public QScrollBar {
public:
    ScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {}

    // Ends a press in progress as a release would, without a step.
    void stopRepeating();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool event(QEvent* event) override;
};

}  // namespace zyg
