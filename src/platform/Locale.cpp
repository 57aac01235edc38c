#include "platform/Locale.h"

#include <QLocale>
#include <optional>

namespace zyg {

namespace {

// The first character of a format that is not a letter or a quote: the
// separator between its fields.
QString separatorIn(const QString& format, const QString& fallback) {
    for (const QChar c : format) {
        if (!c.isLetter() && c != u'\'' && !c.isSpace()) return QString(c);
    }
    return fallback;
}

LocaleSeparators systemSeparators() {
    const QLocale locale = QLocale::system();
    LocaleSeparators s;
    if (!locale.decimalPoint().isEmpty()) s.decimal = locale.decimalPoint();
    if (!locale.groupSeparator().isEmpty()) s.thousands = locale.groupSeparator();
    s.time = separatorIn(locale.timeFormat(QLocale::ShortFormat), ":");
    s.date = separatorIn(locale.dateFormat(QLocale::ShortFormat), "/");
    return s;
}

std::optional<LocaleSeparators>& installed() {
    static std::optional<LocaleSeparators> separators;
    return separators;
}

}  // namespace

const LocaleSeparators& localeSeparators() {
    auto& s = installed();
    if (!s) s = systemSeparators();
    return *s;
}

void setLocaleSeparators(const LocaleSeparators& separators) { installed() = separators; }

void resetLocaleSeparators() { installed().reset(); }

}  // namespace zyg
