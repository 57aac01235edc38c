#pragma once

// A one-line edit box with a column of two arrow buttons in its right edge,
// holding one floating-point value with a fixed number of decimals between a
// lower and an upper limit. The text is the only store of the value: reading
// FloatValue parses the text, writing it rewrites the text.
//
// The window learns of changes, exits and keys through plain callbacks. A
// program write (setFloatValue, setText) that changes the text calls OnChange
// inside the write and lets its exceptions through to the writer. Everything
// the user does (typing, pasting, stepping, leaving the field) runs as one
// action inside the error boundary, so that an error ends that action.

#include <QLineEdit>
#include <functional>
#include <optional>

#include "core/Types.h"
#include "widgets/FieldEvents.h"

namespace zyg {

class SpinArrow;

class NumericSpinField : public QLineEdit {
    Q_OBJECT

public:
    explicit NumericSpinField(QWidget* parent = nullptr);
    ~NumericSpinField() override;

    QString Text() const { return text(); }
    // Shows `text` as it is; calls OnChange if the shown text changes.
    void setText(const QString& text);

    // The number in the text, or MinValue when the text is no number.
    double FloatValue() const;
    // Limits the value, shows it with Precision decimals and calls OnChange
    // if the shown text changes.
    void setFloatValue(double value);

    int Precision() const { return precision_; }
    void setPrecision(int precision);
    // Writing a limit only stores it: the text is checked against it at the
    // next step, exit or write.
    double MinFloatValue() const { return minFloat_; }
    void setMinFloatValue(double value) { minFloat_ = value; }
    double MaxFloatValue() const { return maxFloat_; }
    void setMaxFloatValue(double value) { maxFloat_ = value; }
    int MinValue() const { return minValue_; }
    void setMinValue(int value) { minValue_ = value; }
    double IncrementFloat() const { return increment_; }
    void setIncrementFloat(double value) { increment_ = value; }
    double IncrementFloatPage() const { return pageIncrement_; }
    void setIncrementFloatPage(double value) { pageIncrement_ = value; }

    std::function<void()> OnChange;
    std::function<void()> OnExit;
    std::function<void(int key, Qt::KeyboardModifiers modifiers)> OnKeyDown;

    // The arrow buttons, up above down.
    QWidget* upArrow() const;
    QWidget* downArrow() const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class SpinArrow;

    void writeValue(Extended value);
    // Adds `delta` to the value and puts the caret and selection back.
    void step(double delta);
    // The arrow buttons: a press moves the focus in, each step is an action.
    void arrowPressed();
    bool arrowStep(bool up);
    // The text a typed character enters, or nothing when it is refused.
    std::optional<QString> acceptTyped(QChar c) const;
    void typeText(const QKeyEvent& event);
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void placeArrows();

    int precision_ = 0;
    double minFloat_ = 0;
    double maxFloat_ = 100;
    int minValue_ = 0;
    double increment_ = 0.1;
    double pageIncrement_ = 1;

    fields::ChangeReporter changes_;
    bool enteredByMouse_ = false;  // the focus came with a mouse press not yet delivered
    SpinArrow* up_;
    SpinArrow* down_;
};

}  // namespace zyg
