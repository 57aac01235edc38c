#pragma once

// A read-only one-line box that the program fills with an integer or a
// fixed-decimal number. Whatever is set into it is shown as a number: a text
// that is no number becomes "0", and a decimal text is shown again with the
// field's decimals. A disabled field keeps the look of an ordinary box: its
// background is DisabledColor and its text black.

#include <QColor>
#include <QLineEdit>
#include <cstdint>

namespace zyg {

enum EditType { etNumeric, etFloat };

class NumericDisplayField : public QLineEdit {
    Q_OBJECT

public:
    explicit NumericDisplayField(QWidget* parent = nullptr);

    QString Text() const { return text(); }
    // Empty blanks the field; other texts are shown as numbers (see above).
    void setText(const QString& text);

    zyg::EditType EditType() const { return editType_; }
    void setEditType(zyg::EditType type) { editType_ = type; }
    int Precision() const { return precision_; }
    void setPrecision(int precision) { precision_ = precision; }
    QColor DisabledColor() const { return disabledColor_; }
    void setDisabledColor(const QColor& color);

    // Shows x with Precision decimals (etFloat fields).
    void showFloat(double x);
    // Shows n in plain decimal digits.
    void showInteger(std::int32_t n);
    // The number shown, 0 when the field is blank or shows no number.
    double readFloat() const;

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    int decimals() const;

    zyg::EditType editType_ = etFloat;
    int precision_ = 0;
    QColor disabledColor_;
};

}  // namespace zyg
