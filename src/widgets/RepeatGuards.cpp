#include "widgets/RepeatGuards.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "platform/Services.h"

namespace zyg {

bool HeldKeyGuard::eventFilter(QObject* /*watched*/, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!key->isAutoRepeat()) {
        // A press that no widget takes travels up to the parents as copies
        // with the same key and time: only its first delivery starts a press.
        if (key->key() != key_ || key->timestamp() != pressedAt_ || key->timestamp() == 0) {
            key_ = key->key();
            pressedAt_ = key->timestamp();
            boxesAtPress_ = messageBoxesShown();
        }
        return false;
    }
    if (key->key() == key_ && (messageBoxesShown() != boxesAtPress_ || messageBoxOpen())) {
        event->accept();
        return true;
    }
    return false;
}

void ScrollBar::stopRepeating() {
    setRepeatAction(QAbstractSlider::SliderNoAction);
    // The pressed arrow is drawn raised again; a dragged thumb is let go.
    const QPointF outside(-1, -1);
    QMouseEvent release(QEvent::MouseButtonRelease, outside, mapToGlobal(outside), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QScrollBar::mouseReleaseEvent(&release);
}

void ScrollBar::mousePressEvent(QMouseEvent* event) {
    const int before = messageBoxesShown();
    QScrollBar::mousePressEvent(event);
    if (messageBoxesShown() != before) stopRepeating();
}

void ScrollBar::timerEvent(QTimerEvent* event) {
    // The repeat's steps come from the slider's timer, which goes on firing
    // inside the event loop of an open box.
    if (messageBoxOpen()) stopRepeating();
    const int before = messageBoxesShown();
    QScrollBar::timerEvent(event);
    if (messageBoxesShown() != before) stopRepeating();
}

bool ScrollBar::event(QEvent* event) {
    // A window that comes up meanwhile (a message box) takes the mouse.
    if (event->type() == QEvent::WindowDeactivate) stopRepeating();
    return QScrollBar::event(event);
}

}  // namespace zyg
