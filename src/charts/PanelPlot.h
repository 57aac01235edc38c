#pragma once

// The trade-off chart of zygomet-power --panel: expected false flags (log
// axis) against catch rate, one line per test, the chosen levels marked.

#include <string>
#include <vector>

#include "power/Panel.h"

namespace zyg {

// Draws the curves into FILE.png or FILE.svg without a window; returns the
// empty text or what went wrong.
std::string plotTradeOff(const std::vector<TradeOffCurve>& curves, const std::string& file);

}  // namespace zyg
