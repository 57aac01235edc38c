#pragma once

// The zygomet-power command: options, the study request they describe, and
// its outputs. The program's main only hands it the arguments and the streams,
// so tests run the whole command in-process.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "power/PowerStudy.h"

namespace zyg {

struct CommandStreams {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // a progress bar goes to err when the work takes over a second
};

// Draws --plot: the points, the --target, the file; returns the empty text or
// what went wrong.
using PlotDrawer = std::function<std::string(const std::vector<PowerPoint>&, std::optional<double>,
                                             const std::string&)>;

// Draws the --panel --plot trade-off chart into a file; returns the empty
// text or what went wrong.
struct TradeOffCurve;
using TradeOffDrawer =
    std::function<std::string(const std::vector<TradeOffCurve>&, const std::string&)>;

// Runs the command with its arguments (without the program name).
// Without a drawer --plot is refused.
int runPowerCommand(const std::vector<std::string>& args, const CommandStreams& streams,
                    const PlotDrawer& plot = {}, const TradeOffDrawer& panelPlot = {});

// The text of --help.
std::string powerHelpText();

// The names of the command's options, in the order --help lists them.
std::vector<std::string> powerOptionNames();

}  // namespace zyg
