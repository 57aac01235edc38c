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

std::vector<HweTest> observedSampleTests(LocusKind kind) {
    std::vector<HweTest> tests;
    for (HweTest t : observedSampleTests())
        if (appliesTo(t, kind)) tests.push_back(t);
    return tests;
}

std::vector<HweTest> locusTests(LocusKind kind) {
    std::vector<HweTest> tests;
    for (const TestEntry& e : kTestCatalogue)
        if (e.loci.contains(kind)) tests.push_back(e.test);
    return tests;
}

std::string xLinkedColumn(HweTest test, std::string_view column) {
    std::string name(column);
    if (appliesTo(test, LocusKind::Autosomal)) name += "_females";
    return name;
}

std::vector<std::string> xLinkedSampleColumns(const std::vector<HweTest>& tests) {
    std::vector<std::string> names{"nf", "nm", "p_female", "p_male", "p", "F_female"};
    for (HweTest t : tests) {
        if (hasStatistic(t)) names.push_back(xLinkedColumn(t, testEntry(t).statisticColumn));
        names.push_back(xLinkedColumn(t, testEntry(t).pValueColumn));
    }
    return names;
}

}  // namespace zyg
