#pragma once

#include <QString>

namespace zyg {

// The separators of the user's number format. The numeric fields and the
// messages take them from here, so a test can set a comma locale without
// touching the process's C or Qt locale.
struct LocaleSeparators {
    QString decimal = ".";
    QString thousands = ",";
};

// The separators in use: the system locale's unless a test installed others.
const LocaleSeparators& localeSeparators();
void setLocaleSeparators(const LocaleSeparators& separators);
// Goes back to the system locale's separators.
void resetLocaleSeparators();

}  // namespace zyg
