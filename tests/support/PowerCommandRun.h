#pragma once

// zygomet-power run in-process, with what it printed and its exit status.

#include <sstream>
#include <string>
#include <vector>

#include "cli/PowerCommand.h"

namespace zyg::testing {

struct Outcome {
    int status = -1;
    std::string out, err;
};

inline Outcome runPower(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    Outcome o;
    o.status = runPowerCommand(args, {out, err, false});
    o.out = out.str();
    o.err = err.str();
    return o;
}

}  // namespace zyg::testing
