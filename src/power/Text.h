#pragma once

// Number texts of the power study: always "." and never the C library's
// locale, so that files and tables read the same everywhere.

#include <string>

namespace zyg {

// The shortest text that reads back to the same double ("0.1", "1e-05").
std::string shortestText(double value);

// Fixed notation with `decimals` decimals ("0.800000").
std::string fixedText(double value, int decimals);

}  // namespace zyg
