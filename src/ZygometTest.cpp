// zygomet-test: tests of Hardy-Weinberg proportions on observed samples, on
// the command line. Links no Qt.

#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "cli/SampleCommand.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    return zyg::runSampleCommand(args, {std::cin, std::cout, std::cerr, threads});
}
