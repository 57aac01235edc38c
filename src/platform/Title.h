#pragma once

#include <QString>

namespace zyg {

// The application title: the caption of the application error box and the
// name the desktop shows for the program.
inline const QString kApplicationTitle = QStringLiteral("Q9 Zygomet");

}  // namespace zyg
