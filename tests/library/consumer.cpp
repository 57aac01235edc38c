// Builds against the installed headers and libraries: a study checked and
// run, and observed samples read and tested.
#include <cstdio>

#include "engine/ObservedSample.h"
#include "power/PowerStudy.h"
#include "sources/CountLines.h"

int main() {
    zyg::StudyRequest request;
    request.p = {0.5};
    request.n = {50};
    request.tests = {zyg::HweTest::Exact};
    request.levels = {0.05};
    if (!zyg::checkStudy(request).empty()) return 1;
    const auto points = zyg::runStudy(request);
    if (points.size() != 1 || !(points[0].power > 0 && points[0].power < 0.06)) return 2;

    zyg::StudyRequest bad = request;
    bad.p = {1.5};
    const auto problems = zyg::checkStudy(bad);
    if (problems.empty()) return 3;
    std::printf("%s\n", zyg::studyProblemText(problems.front()).c_str());

    const zyg::ParsedInput input = zyg::parseSampleLines("rs1 21 61 18\n");
    if (input.samples.size() != 1) return 4;
    const zyg::HweTest exact[] = {zyg::HweTest::Exact};
    const auto values = zyg::testSample(input.samples[0].counts, exact);
    if (values.empty() || !values[0].pValue) return 5;
    std::printf("exact p %.6g\n", *values[0].pValue);
    return 0;
}
