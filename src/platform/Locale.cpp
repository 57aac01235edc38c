#include "platform/Locale.h"

#include <QLocale>
#include <optional>

namespace zyg {

namespace {

LocaleSeparators systemSeparators() {
    const QLocale locale = QLocale::system();
    LocaleSeparators s;
    if (!locale.decimalPoint().isEmpty()) s.decimal = locale.decimalPoint();
    if (!locale.groupSeparator().isEmpty()) s.thousands = locale.groupSeparator();
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
