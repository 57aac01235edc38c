#pragma once

// The zygomet-test command: tests of Hardy-Weinberg proportions on observed
// samples. The program's main only hands it the arguments and the streams, so
// tests run the whole command in-process.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace zyg {

struct SampleStreams {
    std::istream& in;  // read by --file -
    std::ostream& out;
    std::ostream& err;
    unsigned threads = 1;       // computing threads for long inputs
    std::size_t batch = 65536;  // samples read, tested and written at a time
};

// Runs the command with its arguments (without the program name).
int runSampleCommand(const std::vector<std::string>& args, const SampleStreams& streams);

// The text of --help.
std::string sampleHelpText();

// "zygomet-test VERSION".
std::string sampleVersionText();

}  // namespace zyg
