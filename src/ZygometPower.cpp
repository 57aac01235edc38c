// zygomet-power: exact or simulated power of the tests of Hardy-Weinberg
// proportions over grids of models and sample sizes, on the command line.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "charts/PanelPlot.h"
#include "charts/PlotFile.h"
#include "cli/PowerCommand.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return zyg::runPowerCommand(args, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1},
                                zyg::plotPowerPoints, zyg::plotTradeOff);
}
