#pragma once

// The Q-Q plot of zygomet-test --qq, drawn from the numbers it writes
// (cli/QqPlot.h): one panel per test and kind of locus, each with its points,
// the line where observed equals expected, the 95% band and where the points
// would lie if the null were uniform.

#include <string>

namespace zyg {

// Reads the numbers' CSV and draws every panel into FILE.png or FILE.svg
// without a window; empty, else what went wrong.
std::string plotQqFile(const std::string& numbers, const std::string& file);

}  // namespace zyg
