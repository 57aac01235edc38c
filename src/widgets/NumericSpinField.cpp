#include "widgets/NumericSpinField.h"

#include <qdrawutil.h>

#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "core/NumberText.h"
#include "platform/ErrorBoundary.h"
#include "platform/Locale.h"
#include "platform/Services.h"

namespace zyg {

namespace {

constexpr int kArrowWidth = 15;
// A held arrow steps first after this delay, then at this interval.
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 100;

}  // namespace

// One arrow button inside the field's right edge. A press with the left
// button moves the focus into the field and starts the repeat; releasing it
// over the arrow steps once; while it is held over the arrow the field steps
// after 400 ms and then every 100 ms.
class SpinArrow : public QWidget {
public:
    SpinArrow(NumericSpinField* field, bool up) : QWidget(field), field_(field), up_(up) {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { repeat(); });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
        const bool sunken = held_ && over_;
        qDrawShadePanel(&painter, rect(), palette(), sunken, 1,
                        &palette().brush(group, QPalette::Button));
        // A small filled triangle in the middle.
        const QPointF centre = QRectF(rect()).center() + (sunken ? QPointF(1, 1) : QPointF());
        const double half = std::max(2.0, std::min(width(), height() * 2) / 4.0 - 0.5);
        const double rise = half / 2.0 + 0.5;
        QPolygonF triangle;
        if (up_) {
            triangle << QPointF(centre.x() - half, centre.y() + rise / 2)
                     << QPointF(centre.x() + half, centre.y() + rise / 2)
                     << QPointF(centre.x(), centre.y() - rise);
        } else {
            triangle << QPointF(centre.x() - half, centre.y() - rise / 2)
                     << QPointF(centre.x() + half, centre.y() - rise / 2)
                     << QPointF(centre.x(), centre.y() + rise);
        }
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(group, QPalette::ButtonText));
        painter.drawPolygon(triangle);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        held_ = over_ = true;
        update();
        const int boxes = messageBoxesShown();
        field_->arrowPressed();
        if (messageBoxesShown() != boxes) cancel();
        // Moving the focus may have shown a message box and cancelled the press.
        if (held_) timer_.start(kRepeatDelayMs);
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (!held_) return;
        const bool over = rect().contains(event->position().toPoint());
        if (over != over_) {
            over_ = over;
            update();
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !held_) return;
        const bool over = rect().contains(event->position().toPoint());
        cancel();
        if (over) field_->arrowStep(up_);
    }

    bool event(QEvent* event) override {
        switch (event->type()) {
            // A window that comes up in between (a message box) takes the
            // mouse: the release would never come here.
            case QEvent::WindowDeactivate:
            case QEvent::Hide: cancel(); break;
            case QEvent::EnabledChange:
                if (!isEnabled()) cancel();
                break;
            default: break;
        }
        return QWidget::event(event);
    }

private:
    void repeat() {
        if (!held_) return;
        // A box is open, or a step brought one up: stop rather than report
        // the same error again and again behind it.
        if (messageBoxOpen()) {
            cancel();
            return;
        }
        const int boxes = messageBoxesShown();
        if (over_ && (!field_->arrowStep(up_) || messageBoxesShown() != boxes)) {
            cancel();
            return;
        }
        if (held_) timer_.start(kRepeatIntervalMs);
    }

    void cancel() {
        timer_.stop();
        if (held_) {
            held_ = over_ = false;
            update();
        }
    }

    NumericSpinField* field_;
    bool up_;
    bool held_ = false;  // the left button went down here and is not released
    bool over_ = false;  // ... and the pointer is over the arrow
    QTimer timer_;
};

NumericSpinField::NumericSpinField(QWidget* parent)
    : QLineEdit(parent),
      changes_(
          QStringLiteral("0"), [this] { return text(); }, OnChange),
      up_(new SpinArrow(this, true)),
      down_(new SpinArrow(this, false)) {
    QLineEdit::setText(QStringLiteral("0"));
    setTextMargins(0, 0, kArrowWidth, 0);
    changes_.watch(this);
    placeArrows();
}

NumericSpinField::~NumericSpinField() = default;

QWidget* NumericSpinField::upArrow() const { return up_; }
QWidget* NumericSpinField::downArrow() const { return down_; }

void NumericSpinField::setText(const QString& text) {
    if (text == this->text()) return;
    changes_.programWrite([&] { QLineEdit::setText(text); });
}

double NumericSpinField::FloatValue() const {
    const auto value = parseDecimal(fields::utf8(text()), fields::utf8(localeSeparators().decimal));
    return value ? *value : static_cast<double>(minValue_);
}

void NumericSpinField::setFloatValue(double value) { writeValue(value); }

void NumericSpinField::setPrecision(int precision) { precision_ = std::max(precision, 0); }

void NumericSpinField::writeValue(Extended value) {
    if (minFloat_ != maxFloat_) {
        if (value < minFloat_) {
            value = minFloat_;
        } else if (value > maxFloat_) {
            value = maxFloat_;
        }
    }
    setText(QString::fromStdString(formatFixed(value, std::min(precision_, fields::kMaxDecimals),
                                               15, fields::utf8(localeSeparators().decimal))));
}

void NumericSpinField::step(double delta) {
    const QString before = text();
    const int cursor = cursorPosition();
    const int start = selectionStart();
    const int length = selectedText().size();
    const bool wholeText = start == 0 && length == before.size() && length > 0;

    writeValue(static_cast<Extended>(FloatValue()) + static_cast<Extended>(delta));

    const int size = text().size();
    if (wholeText) {
        selectAll();
    } else if (start >= 0 && length > 0) {
        const int from = std::min(start, size);
        const int to = std::min(start + length, size);
        // The caret goes back to the end of the selection where it stood.
        if (cursor == start) {
            setSelection(to, from - to);
        } else {
            setSelection(from, to - from);
        }
    } else {
        setCursorPosition(std::min(cursor, size));
    }
}

void NumericSpinField::arrowPressed() {
    // Qt has already given the focus to the field for this press if the field
    // did not have it; a field that had it keeps its selection.
    const bool entering = enteredByMouse_ || !hasFocus();
    enteredByMouse_ = false;
    if (!entering) return;
    if (!hasFocus()) setFocus(Qt::OtherFocusReason);
    // Entering by an arrow selects the whole text, as entering by Tab does.
    if (hasFocus()) selectAll();
}

bool NumericSpinField::arrowStep(bool up) {
    return changes_.userAction([&] { step(up ? increment_ : -increment_); });
}

void NumericSpinField::keyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (const auto callback = OnKeyDown) callback(key, modifiers);
}

bool NumericSpinField::event(QEvent* event) {
    // The field handles Enter and Esc itself, before any shortcut.
    if (fields::overridesShortcut(event, fields::EscapeKey::Field)) return true;
    return QLineEdit::event(event);
}

void NumericSpinField::keyPressEvent(QKeyEvent* event) {
    changes_.userAction([&] {
        const int key = event->key();
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        switch (key) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown: {
                event->accept();
                const double increment =
                    key == Qt::Key_Up || key == Qt::Key_Down ? increment_ : pageIncrement_;
                step(key == Qt::Key_Up || key == Qt::Key_PageUp ? increment : -increment);
                // The window sees the key after the value has changed.
                keyDown(key, modifiers);
                return;
            }
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Escape:
                // Kept here: they never reach the window's buttons, and Enter
                // enters no character.
                event->accept();
                keyDown(key, modifiers);
                return;
            default: break;
        }
        keyDown(key, modifiers);
        if (fields::insertsText(*event)) {
            typeText(*event);
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
    });
}

std::optional<QString> NumericSpinField::acceptTyped(QChar c) const {
    const LocaleSeparators& separators = localeSeparators();
    QString typed(c);
    // A thousands separator enters the decimal separator.
    if (typed == separators.thousands) typed = separators.decimal;
    const bool separator = typed == separators.decimal;
    const bool digit = c >= u'0' && c <= u'9';
    if (!digit && !separator && c != u'+' && c != u'-') return std::nullopt;

    const QString current = text();
    const qsizetype at = separators.decimal.isEmpty() ? -1 : current.indexOf(separators.decimal);
    // One decimal separator at most, even if the one there is selected.
    if (separator && (at >= 0 || precision_ <= 0)) return std::nullopt;
    // No more decimals than Precision when typing at their end.
    if (at >= 0 && !hasSelectedText() && cursorPosition() > at &&
        current.size() - (at + separators.decimal.size()) >= precision_) {
        return std::nullopt;
    }
    return typed;
}

void NumericSpinField::typeText(const QKeyEvent& event) {
    const QString text = event.text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character outside the basic plane is refused as one character.
        if (text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()) continue;
        const std::optional<QString> typed = acceptTyped(text[i]);
        if (!typed) {
            services().beeper->beep();
            continue;
        }
        QKeyEvent single(event.type(), event.key(), event.modifiers(), *typed,
                         event.isAutoRepeat());
        QLineEdit::keyPressEvent(&single);
    }
}

void NumericSpinField::inputMethodEvent(QInputMethodEvent* event) {
    // A plain commit from an input method is typing, and filtered like it.
    if (event->commitString().isEmpty() || !event->preeditString().isEmpty() ||
        event->replacementLength() != 0) {
        changes_.userAction([&] { QLineEdit::inputMethodEvent(event); });
        return;
    }
    changes_.userAction([&] {
        for (const QChar c : event->commitString()) {
            if (c.isLowSurrogate()) continue;
            if (const std::optional<QString> typed = acceptTyped(c)) {
                insert(*typed);
            } else {
                services().beeper->beep();
            }
        }
        event->accept();
    });
}

void NumericSpinField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // A mouse press that brings the focus is delivered right after this; an
    // arrow that gets it selects the text.
    enteredByMouse_ = event->reason() == Qt::MouseFocusReason;
}

void NumericSpinField::mousePressEvent(QMouseEvent* event) {
    enteredByMouse_ = false;
    QLineEdit::mousePressEvent(event);
}

void NumericSpinField::focusOutEvent(QFocusEvent* event) {
    enteredByMouse_ = false;
    QLineEdit::focusOutEvent(event);
    if (!fields::leavesField(event->reason())) return;
    changes_.userAction([&] {
        if (const auto callback = OnExit) callback();
        // A value outside the limits is written back, which limits it; one
        // inside them stays exactly as typed.
        const double value = FloatValue();
        if (minFloat_ != maxFloat_ && (value < minFloat_ || value > maxFloat_)) writeValue(value);
    });
}

void NumericSpinField::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeArrows();
}

void NumericSpinField::placeArrows() {
    const int frame =
        hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
    const int inner = std::max(height() - 2 * frame, 2);
    const int upper = inner / 2;
    const int x = width() - frame - kArrowWidth;
    up_->setGeometry(x, frame, kArrowWidth, upper);
    down_->setGeometry(x, frame + upper, kArrowWidth, inner - upper);
}

}  // namespace zyg
