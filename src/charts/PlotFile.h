#pragma once

// The power chart of a command-line study, drawn into a picture file with the
// window's chart code and no window.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "power/PowerStudy.h"

class QApplication;

namespace zyg {

// An offscreen application for a command line that draws into a file, when
// none is running (otherwise nothing): the toolkit's notes below critical are
// not printed.
std::unique_ptr<QApplication> commandLineApplication();

// Draws power against n for the points of one model setting and one level
// into FILE.png or FILE.svg, with the target line (0.8 when none is given)
// and the smallest n that reaches it for each test. Starts an offscreen
// application when none is running, so no display is needed. Returns the
// empty text, or what went wrong.
std::string plotPowerPoints(const std::vector<PowerPoint>& points, std::optional<double> target,
                            const std::string& file);

}  // namespace zyg
