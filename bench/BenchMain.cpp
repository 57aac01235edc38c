#include <algorithm>
#include <cstdio>
#include <fstream>
#include <thread>

#include "BenchSections.h"

namespace zyg::bench {

std::vector<Section>& sections() {
    static std::vector<Section> list;
    return list;
}

LargestRun& largestRun() {
    static LargestRun figures;
    return figures;
}

std::string machineDescription() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos) model = line.substr(colon + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores";
}

}  // namespace zyg::bench

// zygomet-bench runs every section; zygomet-bench WORD runs the sections whose
// name contains WORD.
int main(int argc, char** argv) {
    using namespace zyg::bench;
    std::printf("machine: %s\n", machineDescription().c_str());
    std::vector<Section> list = sections();
    if (argc > 1) {
        const std::string word = argv[1];
        std::erase_if(list, [&](const Section& s) {
            return std::string(s.name).find(word) == std::string::npos;
        });
        for (const Section& section : list) {
            std::printf("\n== %s ==\n", section.name);
            std::fflush(stdout);
            section.run();
        }
        return list.empty() ? 1 : 0;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Section& a, const Section& b) { return a.order < b.order; });
    for (const Section& section : list) {
        std::printf("\n== %s ==\n", section.name);
        std::fflush(stdout);
        section.run();
    }
    const LargestRun& largest = largestRun();
    if (!largest.measured) return 1;
    std::printf("\nlargest run: reference %.0f ms, fast %.1f ms, speedup %.0f x\n",
                largest.referenceMs, largest.fastMs, largest.referenceMs / largest.fastMs);
    return 0;
}
