#pragma once

// zygomet-power --panel: the false flags and catch rate of a Hardy-Weinberg
// filter on a panel of markers, and the level to choose (power/Panel.h).

#include <string>
#include <vector>

#include "cli/PowerCommand.h"
#include "power/Panel.h"

namespace zyg {

// Whether the arguments ask for the panel mode (--panel among the options).
bool asksForPanel(const std::vector<std::string>& args);

// Runs the panel mode with the command's arguments.
// Without a drawer --plot is refused.
int runPanelCommand(const std::vector<std::string>& args, const CommandStreams& streams,
                    const TradeOffDrawer& plot = {});

// The text of --panel --help.
std::string panelHelpText();

}  // namespace zyg
