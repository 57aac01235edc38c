#pragma once

// The sections of zygomet-bench. Each section is a function in its own
// source file that registers itself with ZYG_BENCH_SECTION(order, name); main
// runs them in increasing order and ends with the largest-run line that the
// engine section fills in. A section that measures the window (the whole Run
// command, offscreen) is one more file with its own registration, linked
// against the window's library in bench/CMakeLists.txt.

#include <string>
#include <vector>

namespace zyg::bench {

struct Section {
    int order;
    const char* name;
    void (*run)();
};

std::vector<Section>& sections();

struct Registrar {
    Registrar(int order, const char* name, void (*run)()) {
        sections().push_back({order, name, run});
    }
};

// The figures of the final line, set by the engine section.
struct LargestRun {
    bool measured = false;
    double referenceMs = 0;
    double fastMs = 0;
};
LargestRun& largestRun();

// Wall-clock milliseconds of one call.
template <class F>
double timeMs(F&& f);

// A short description of the processor: model name and cores.
std::string machineDescription();

}  // namespace zyg::bench

#define ZYG_BENCH_SECTION(order, name, function) \
    static ::zyg::bench::Registrar zygBenchRegistrar_##function(order, name, function)

#include <chrono>

template <class F>
double zyg::bench::timeMs(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}
