#include <gtest/gtest.h>

#include <cmath>

#include "power/PowerStudy.h"
#include "power/Solve.h"

using namespace zyg;

namespace {

// The planner's case: n 2000, half males, p 0.3, f 0.05 in females, males at 0.35.
StudyRequest plannerCase() {
    StudyRequest r;
    r.locus = LocusKind::XLinked;
    r.model = GenotypeModel::Inbreeding;
    r.p = {0.3};
    r.f = {0.05};
    r.pMale = {0.35};
    r.n = {2000};
    r.tests = {HweTest::XExact, HweTest::Exact};
    r.levels = {0.05};
    return r;
}

}  // namespace

TEST(XStudy, ProblemsOfTheLocus) {
    struct Case {
        const char* what;
        void (*change)(StudyRequest&);
        StudyInput input;
        ProblemKind kind;
    };
    const Case cases[] = {
        {"no X form", [](StudyRequest& r) { r.model = GenotypeModel::Wahlund, r.var = {0.01}; },
         StudyInput::Locus, ProblemKind::NoXForm},
        {"share above 1", [](StudyRequest& r) { r.males = 1.5; }, StudyInput::Males,
         ProblemKind::OutOfRange},
        {"male frequency 0", [](StudyRequest& r) { r.pMale = {0}; }, StudyInput::PMale,
         ProblemKind::OutOfRange},
        {"allele counts", [](StudyRequest& r) { r.alleleCounts = {10}; }, StudyInput::AlleleCounts,
         ProblemKind::WrongLocus},
        {"window's G", [](StudyRequest& r) { r.tests = {HweTest::GWindow}; }, StudyInput::Tests,
         ProblemKind::WrongLocus},
        {"X test on an autosome", [](StudyRequest& r) { r.locus = LocusKind::Autosomal; },
         StudyInput::Tests, ProblemKind::WrongLocus},
    };
    EXPECT_TRUE(checkStudy(plannerCase()).empty());
    for (const Case& c : cases) {
        StudyRequest r = plannerCase();
        c.change(r);
        const auto problems = checkStudy(r);
        ASSERT_EQ(problems.size(), 1u) << c.what;
        EXPECT_EQ(problems[0].input, c.input) << c.what;
        EXPECT_EQ(problems[0].kind, c.kind) << c.what;
        EXPECT_FALSE(studyProblemText(problems[0]).empty());
    }
}

TEST(XStudy, PowerSplitsTheSexesAndTheTestsOnFemalesAreAutosomalOnes) {
    const std::vector<PowerPoint> points = runStudy(plannerCase());
    ASSERT_EQ(points.size(), 2u);
    EXPECT_NEAR(points[0].power, 0.819732, 5e-7);
    EXPECT_NEAR(points[1].power, 0.338422, 5e-7);
    ModelSetting females{GenotypeModel::Inbreeding, 0.3};
    females.f = 0.05;
    const TestLevel exact[] = {{HweTest::Exact, 0.05}};
    EXPECT_EQ(points[1].power, exactPower(females, 1000, exact)[0].power);
    // The locus columns close the CSV row.
    const std::string csv = studyCsv(points);
    EXPECT_NE(csv.find(",locus,males,p_male\n"), std::string::npos);
    EXPECT_NE(csv.find(",x,0.5,0.35\n"), std::string::npos) << csv;

    // nm is n x share rounded and nf the rest, so the sexes always add up to n.
    EXPECT_EQ(xSampleSize(3, 0.5).females + xSampleSize(3, 0.5).males, 3u);
    EXPECT_EQ(xSampleSize(2000, 0.3).males, 600u);
    EXPECT_EQ(xSampleSize(7, 1).females, 0u);
}

TEST(XStudy, WithoutMalesTheExactTestsAreTheAutosomalOnesAndPMaleFollowsP) {
    StudyRequest r = plannerCase();
    r.males = 0;
    r.pMale.clear();
    r.p = {0.2, 0.4};
    r.n = {60};
    r.tests = {HweTest::XExact, HweTest::Exact, HweTest::XExactMidP, HweTest::ExactMidP};
    const std::vector<PowerPoint> points = runStudy(r);
    ASSERT_EQ(points.size(), 8u);
    for (std::size_t i = 0; i < points.size(); i += 2) {
        EXPECT_EQ(points[i].model.pMale, points[i].model.p);
        EXPECT_NEAR(points[i].power, points[i + 1].power, 1e-11) << i;
    }
}

TEST(XStudy, SimulationAgreesWithExactPowerForEveryTest) {
    StudyRequest r = plannerCase();
    r.model = GenotypeModel::Error;
    r.hetMiscall = {0.05};
    r.n = {300};
    r.tests.clear();
    for (HweTest t : kHweTests)
        if (appliesTo(t, LocusKind::XLinked)) r.tests.push_back(t);
    const std::vector<PowerPoint> exact = runStudy(r);
    r.method = PowerMethod::Simulate;
    r.replicates = 3000;
    r.seed = 7;
    const std::vector<PowerPoint> simulated = runStudy(r);
    ASSERT_EQ(exact.size(), simulated.size());
    for (std::size_t i = 0; i < exact.size(); ++i) {
        const double se = std::sqrt(exact[i].power * (1 - exact[i].power) / 3000);
        EXPECT_NEAR(simulated[i].power, exact[i].power, 4 * se + 1e-3)
            << hweTestName(exact[i].test);
        EXPECT_NEAR(simulated[i].testable, exact[i].testable, 0.01) << hweTestName(exact[i].test);
    }
}

TEST(XStudy, SolvesNWithTheShareHeldAndTheMalesFrequency) {
    StudyRequest r = plannerCase();
    r.tests = {HweTest::XExact};
    r.pMale = {0.5};
    const SolveAim forN{nullptr, 0.8};
    r.n.clear();
    r.solveBounds = SampleBounds{50, 2000};
    const SolveAnswer n = solveStudy(r, forN)[0];
    ASSERT_TRUE(n.firstN);
    EXPECT_LT(*n.firstN, 500u);
    EXPECT_GE(n.power.power, 0.8);
    r.n = {*n.firstN - 1};
    r.solveBounds.reset();
    EXPECT_LT(runStudy(r)[0].power, 0.8);

    r.n = {400};
    r.pMale.clear();
    const SolveAim forPMale{findSolvableParameter("p-male"), 0.8};
    ASSERT_NE(forPMale.parameter, nullptr);
    const SolveAnswer p = solveStudy(r, forPMale)[0];
    ASSERT_TRUE(p.value);
    EXPECT_GT(*p.value, 0.3);
    EXPECT_LT(*p.value, 0.5);
    EXPECT_NE(solveTable({p}, forPMale).find("X-linked, males 0.5"), std::string::npos);
}
