#include "engine/TestCatalogue.h"

namespace zyg {

std::string testLabel(HweTest test) { return std::string(testEntry(test).label); }

std::optional<HweTest> parseHweTest(std::string_view name) {
    for (const TestEntry& e : kTestCatalogue)
        if (e.name == name) return e.test;
    return std::nullopt;
}

std::vector<HweTest> observedSampleTests() {
    std::vector<HweTest> tests;
    for (const TestEntry& e : kTestCatalogue)
        if (e.observedSamples) tests.push_back(e.test);
    return tests;
}

std::vector<HweTest> locusTests(LocusKind kind) {
    std::vector<HweTest> tests;
    for (const TestEntry& e : kTestCatalogue)
        if (e.loci.contains(kind)) tests.push_back(e.test);
    return tests;
}

}  // namespace zyg
