#include "widgets/NumericDisplayField.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>

#include "core/NumberText.h"
#include "platform/Locale.h"
#include "widgets/FieldEvents.h"

namespace zyg {

namespace {

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Digits and at most one minus sign.
bool isIntegerShape(const QString& s) {
    int minus = 0;
    for (const QChar c : s) {
        if (c == u'-') {
            ++minus;
        } else if (!isDigit(c)) {
            return false;
        }
    }
    return minus <= 1;
}

// Digits, separators and at most one minus sign, one decimal separator, and
// thousands separators neither first nor closer than three characters to the
// one before.
bool isNumberShape(const QString& s, const LocaleSeparators& separators) {
    const QString& decimal = separators.decimal;
    const QString& thousands = separators.thousands;
    int minus = 0, decimals = 0;
    qsizetype lastThousands = -1;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (isDigit(c)) continue;
        if (c == u'-') {
            if (++minus > 1) return false;
            continue;
        }
        const QString one(c);
        if (one == decimal) {
            if (++decimals > 1) return false;
        } else if (one == thousands) {
            if (i == 0 || (lastThousands >= 0 && i - lastThousands <= 3)) return false;
            lastThousands = i;
        } else if (c != u',' && c != u'.') {
            return false;
        }
    }
    return true;
}

// The number in a text: thousands separators are dropped; 0 when it is no
// number.
double readNumber(const QString& text) {
    if (text.isEmpty()) return 0;
    const LocaleSeparators& separators = localeSeparators();
    QString plain = text;
    if (!separators.thousands.isEmpty()) plain.remove(separators.thousands);
    const auto value = parseDecimal(fields::utf8(plain), fields::utf8(separators.decimal));
    return value ? *value : 0.0;
}

}  // namespace

NumericDisplayField::NumericDisplayField(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setDisabledColor(palette().color(QPalette::Active, QPalette::Window));
}

void NumericDisplayField::setDisabledColor(const QColor& color) {
    disabledColor_ = color;
    QPalette look = palette();
    look.setColor(QPalette::Disabled, QPalette::Base, color);
    look.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
    setPalette(look);
}

int NumericDisplayField::decimals() const {
    return std::clamp(precision_, 0, fields::kMaxDecimals);
}

void NumericDisplayField::setText(const QString& text) {
    QString shown = text;
    if (text.isEmpty()) {
        // Blank.
    } else if (editType_ == etNumeric) {
        if (!isIntegerShape(text)) shown = QStringLiteral("0");
    } else if (!isNumberShape(text, localeSeparators())) {
        shown = QStringLiteral("0");
    } else if (precision_ > 0) {
        shown = QString::fromStdString(formatFixed(readNumber(text), decimals(), 18,
                                                   fields::utf8(localeSeparators().decimal)));
    }
    if (shown != this->text()) QLineEdit::setText(shown);
}

void NumericDisplayField::showFloat(double x) {
    setText(QString::fromStdString(
        formatFixed(x, decimals(), 18, fields::utf8(localeSeparators().decimal))));
}

void NumericDisplayField::showInteger(std::int32_t n) { setText(QString::number(n)); }

double NumericDisplayField::readFloat() const { return readNumber(text()); }

void NumericDisplayField::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (!fields::leavesField(event->reason()) || editType_ != etFloat) return;
    // A blank field shows 0 with its decimals; any other text is shown again
    // as the number it reads as.
    if (text().isEmpty() || precision_ > 0) showFloat(readFloat());
}

}  // namespace zyg
