#pragma once

// The power chart of a command-line study, drawn into a picture file with the
// window's chart code and no window.

#include <optional>
#include <string>
#include <vector>

#include "power/PowerStudy.h"

namespace zyg {

// Draws power against n for the points of one model setting and one level
// into FILE.png or FILE.svg, with the target line (0.8 when none is given)
// and the smallest n that reaches it for each test. Starts an offscreen
// application when none is running, so no display is needed. Returns the
// empty text, or what went wrong.
std::string plotPowerPoints(const std::vector<PowerPoint>& points, std::optional<double> target,
                            const std::string& file);

}  // namespace zyg
