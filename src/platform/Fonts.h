#pragma once

#include <QFont>

namespace zyg {

// The font of the program's windows: 11 pixels high, with the metrics of the
// classic 8-point dialog font, so that every caption fits the fixed layouts.
QFont windowFont();

}  // namespace zyg
