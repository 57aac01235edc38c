#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "core/Errors.h"
#include "engine/Random.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"
#include "power/PowerStudy.h"
#include "report/ResultLine.h"
#include "support/CommaLocale.h"

using namespace zyg;

namespace {

StudyRequest inbreedingGrid() {
    StudyRequest g;
    g.model = GenotypeModel::Inbreeding;
    g.p = {0.3, 0.6};
    g.f = {0.05, 0.1};
    g.n = {20, 75, 300};
    g.tests = {HweTest::X2, HweTest::G, HweTest::Exact};
    g.levels = {0.05, 0.01};
    return g;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("zygomet-power-study-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

}  // namespace

TEST(Request, CrossesOnlyTheListsTheModelReads) {
    StudyRequest r;
    r.model = GenotypeModel::HardyWeinberg;
    r.p = {0.2, 0.4};
    r.var = {0.01, 0.02};  // not read by Hardy-Weinberg
    EXPECT_EQ(modelSettings(r).size(), 2u);
    EXPECT_EQ(modelSettings(r)[0].var, 0);
    EXPECT_TRUE(checkStudy(r).empty());

    r.model = GenotypeModel::Selection;
    r.w11 = {0.5, 1};
    r.w22 = {1, 2, 3};
    const auto s = modelSettings(r);
    ASSERT_EQ(s.size(), 12u);
    EXPECT_EQ(s[0].p, 0.2);
    EXPECT_EQ(s[0].w22, 1);
    EXPECT_EQ(s[1].w22, 2);  // w22 fastest, p slowest
    EXPECT_EQ(s[11].p, 0.4);
    EXPECT_EQ(s[11].w11, 1);
    EXPECT_EQ(studyPoints(r), 12.0 * 1 * 2 * 2);
}

TEST(Request, EachProblemNamesItsInputItsValueAndWhy) {
    struct Case {
        const char* what;
        std::function<void(StudyRequest&)> spoil;
        StudyInput input;
        ProblemKind kind;
        double value;
    };
    const Case cases[] = {
        {"p below its range",
         [](StudyRequest& r) {
             r.p = {0.3, 0.005};
         },
         StudyInput::P, ProblemKind::OutOfRange, 0.005},
        {"var above p*q at the second p",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Wahlund;
             r.p = {0.5, 0.1};
             r.var = {0.05, 0.1};
         },
         StudyInput::Var, ProblemKind::OutOfBound, 0.1},
        {"negative var",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Wahlund;
             r.var = {-0.01};
         },
         StudyInput::Var, ProblemKind::OutOfBound, -0.01},
        {"f above 1",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Inbreeding;
             r.f = {1.5};
         },
         StudyInput::F, ProblemKind::OutOfBound, 1.5},
        {"f below the bound of the second p",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Inbreeding;
             r.p = {0.5, 0.2};
             r.f = {-0.5};  // allowed at p 0.5 (down to -1), not at 0.2 (down to -0.25)
         },
         StudyInput::F, ProblemKind::OutOfBound, -0.5},
        {"a fitness above 10",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Selection;
             r.w12 = {10.5};
         },
         StudyInput::W12, ProblemKind::OutOfRange, 10.5},
        {"every fitness list holds a 0",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Selection;
             r.w11 = {0, 1};
             r.w12 = {0};
             r.w22 = {0, 2};
         },
         StudyInput::W11, ProblemKind::AllZero, 0},
        {"n of 0",
         [](StudyRequest& r) {
             r.n = {10, 0};
         },
         StudyInput::N, ProblemKind::OutOfRange, 0},
        {"n beyond the engine",
         [](StudyRequest& r) { r.n = {maxSampleSize(PowerMethod::Exact) + 1}; }, StudyInput::N,
         ProblemKind::OutOfRange, maxSampleSize(PowerMethod::Exact) + 1.0},
        {"no test", [](StudyRequest& r) { r.tests.clear(); }, StudyInput::Tests,
         ProblemKind::Missing, 0},
        {"level above 0.5",
         [](StudyRequest& r) {
             r.levels = {0.05, 0.6};
         },
         StudyInput::Levels, ProblemKind::OutOfRange, 0.6},
        {"level 0", [](StudyRequest& r) { r.levels = {0}; }, StudyInput::Levels,
         ProblemKind::OutOfRange, 0},
        {"no level", [](StudyRequest& r) { r.levels.clear(); }, StudyInput::Levels,
         ProblemKind::Missing, 0},
        {"no replicates",
         [](StudyRequest& r) {
             r.method = PowerMethod::Simulate;
             r.replicates = 0;
         },
         StudyInput::Replicates, ProblemKind::OutOfRange, 0},
        {"target 0", [](StudyRequest& r) { r.target = 0; }, StudyInput::Target,
         ProblemKind::OutOfRange, 0},
        {"too much work",
         [](StudyRequest& r) {
             r.p = std::vector<double>(1000, 0.5);
             r.n = std::vector<std::uint32_t>(1001, 10);
         },
         // Each point counts its n plus kPointWork.
         StudyInput::Points, ProblemKind::TooMany, 2.0 * 1000 * 2 * 1001 * (10 + kPointWork)},
        {"miscall rate above 1",
         [](StudyRequest& r) {
             r.model = GenotypeModel::Error;
             r.hetMiscall = {0.1, 1.01};
         },
         StudyInput::HetMiscall, ProblemKind::OutOfRange, 1.01},
        {"null allele at 0.995",
         [](StudyRequest& r) {
             r.model = GenotypeModel::NullAllele;
             r.nullFrequency = {0.995};
         },
         StudyInput::Null, ProblemKind::OutOfRange, 0.995},
        {"exact n above a million", [](StudyRequest& r) { r.n = {1000001}; }, StudyInput::N,
         ProblemKind::OutOfRange, 1000001},
    };
    for (const Case& c : cases) {
        StudyRequest r;
        c.spoil(r);
        const std::vector<StudyProblem> problems = checkStudy(r);
        ASSERT_EQ(problems.size(), 1u) << c.what;
        EXPECT_EQ(problems[0].input, c.input) << c.what;
        EXPECT_EQ(problems[0].kind, c.kind) << c.what;
        EXPECT_EQ(problems[0].value, c.value) << c.what;
    }
}

// The study's own wording names no option or field: the value, the rule
// with its bounds as numbers, and where a bound moves, the p it holds at.
TEST(Request, ProblemsInWordsOfNoFrontEnd) {
    const auto firstProblem = [](auto change) {
        StudyRequest r;
        change(r);
        const auto problems = checkStudy(r);
        return problems.empty() ? std::string() : studyProblemText(problems.front());
    };
    const std::pair<std::function<void(StudyRequest&)>, std::string> cases[] = {
        {[](StudyRequest& r) {
             r.model = GenotypeModel::Inbreeding;
             r.f = {1.5};
         },
         "f must lie from -1 to 1 at p 0.5 (not 1.5)"},
        {[](StudyRequest& r) { r.p = {1.5}; }, "p must lie from 0.01 to 0.99 (not 1.5)"},
        {[](StudyRequest& r) { r.p = {std::nan("")}; }, "p must lie from 0.01 to 0.99 (not NaN)"},
        {[](StudyRequest& r) { r.n = {0}; }, "sample sizes must lie from 1 to 1000000 (not 0)"},
        {[](StudyRequest& r) { r.levels = {0}; },
         "levels must lie above 0 and at most 0.5 (not 0)"},
        {[](StudyRequest& r) { r.n = {}; }, "no value is given for sample sizes"},
        {[](StudyRequest& r) {
             r.model = GenotypeModel::Selection;
             r.w11 = r.w12 = r.w22 = {0};
         },
         "the three fitnesses must not all be 0"},
    };
    for (const auto& [change, text] : cases) EXPECT_EQ(firstProblem(change), text);
}

// A range holds from, from + step, ... and to when the step lands on it,
// without overflow at the largest n; an empty one holds nothing.
TEST(Request, SampleRangesHoldTheirSizes) {
    const struct {
        SampleRange range;
        std::vector<std::uint32_t> sizes;
    } cases[] = {
        {{10, 90, 40}, {10, 50, 90}},
        {{10, 100, 40}, {10, 50, 90}},
        {{5, 5, 3}, {5}},
        {{4294967290u, 4294967295u, 4}, {4294967290u, 4294967294u}},
        {{9, 8, 1}, {}},
        {{1, 8, 0}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.range.sizes(), c.sizes) << c.range.from << ".." << c.range.to;
        EXPECT_EQ(c.range.count(), c.sizes.size());
    }
    // Bounds of a solve stand in for a grid in the checks: a bound beyond the
    // method's largest n is refused as an n would be.
    StudyRequest r;
    r.n.clear();
    r.solveBounds = SampleBounds{1, maxSampleSize(r.method) + 1};
    const auto problems = checkStudy(r);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].input, StudyInput::N);
    EXPECT_EQ(problems[0].value, maxSampleSize(r.method) + 1.0);
}

TEST(Request, BoundsAreThoseOfTheModelAndTheMethod) {
    StudyRequest r;
    r.model = GenotypeModel::Wahlund;
    r.p = {0.5, 0.1};
    r.var = {0.1};
    const auto var = checkStudy(r);
    ASSERT_EQ(var.size(), 1u);
    EXPECT_NEAR(var[0].range.high, 0.1 * 0.9, 1e-15);  // the bound at the p where it is passed
    EXPECT_EQ(var[0].at, 0.1);
    r.p = {0.5};
    r.var = {0.25};  // var at its maximum p*q
    EXPECT_TRUE(checkStudy(r).empty());

    // Negative f down to the value where one homozygote has frequency 0.
    StudyRequest excess;
    excess.model = GenotypeModel::Inbreeding;
    excess.p = {0.3, 0.7};
    excess.f = {-0.3 / 0.7};
    EXPECT_TRUE(checkStudy(excess).empty());
    EXPECT_EQ(fRange(0.5).low, -1);
    // The bounds typed to their last digit, or computed, are inside.
    for (const auto& [p, f] : std::vector<std::pair<double, double>>{
             {0.4, -0.6666666666666666}, {0.4, -0.4 / 0.6}, {0.75, -1.0 / 3}, {0.5, -1}}) {
        excess.p = {p};
        excess.f = {f};
        EXPECT_TRUE(checkStudy(excess).empty()) << p << " " << f;
    }
    excess.p = {0.4};
    excess.f = {-0.67};
    ASSERT_EQ(checkStudy(excess).size(), 1u);
    EXPECT_EQ(checkStudy(excess)[0].range.low, -0.4 / 0.6);
    excess.p = {0.5};
    excess.f = {-1.001};
    EXPECT_EQ(checkStudy(excess).size(), 1u);
    StudyRequest typed;
    typed.model = GenotypeModel::Wahlund;
    typed.p = {0.4};
    typed.var = {0.24};  // p*q as typed, a rounding above 0.4 * 0.6
    EXPECT_TRUE(checkStudy(typed).empty());
    EXPECT_EQ(fRange(0.25).low, fRange(0.75).low);

    // The simulation draws samples of at most the window's size.
    StudyRequest s;
    s.n = {kMaxSampleSize};
    s.method = PowerMethod::Simulate;
    EXPECT_TRUE(checkStudy(s).empty());
    s.n = {kMaxSampleSize + 1};
    ASSERT_EQ(checkStudy(s).size(), 1u);
    EXPECT_EQ(checkStudy(s)[0].range.high, kMaxSampleSize);
    s.target = 1;  // a target of 1 is a power that can be reached
    s.n = {10};
    EXPECT_TRUE(checkStudy(s).empty());

    // Every input with a problem is named once, in the order of the inputs.
    StudyRequest many;
    many.p = {0, 2};
    many.n = {0};
    many.tests.clear();
    const auto all = checkStudy(many);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].input, StudyInput::P);
    EXPECT_EQ(all[0].value, 0);
    EXPECT_EQ(all[1].input, StudyInput::N);
    EXPECT_EQ(all[2].input, StudyInput::Tests);
}

TEST(Study, ExactPointsInGridOrderFromEveryThreadCount) {
    StudyRequest g = inbreedingGrid();
    StudyControl one;
    one.threads = 1;
    const auto single = runStudy(g, one);
    StudyControl three;
    three.threads = 3;
    const auto parallel = runStudy(g, three);
    ASSERT_EQ(single.size(), 2u * 2 * 3 * 3 * 2);
    ASSERT_EQ(parallel.size(), single.size());
    std::size_t i = 0;
    for (double p : g.p)
        for (double f : g.f)
            for (std::uint32_t n : g.n) {
                ModelSetting m{GenotypeModel::Inbreeding, p};
                m.f = f;
                const std::vector<TestLevel> tl{{HweTest::X2, 0.05},    {HweTest::X2, 0.01},
                                                {HweTest::G, 0.05},     {HweTest::G, 0.01},
                                                {HweTest::Exact, 0.05}, {HweTest::Exact, 0.01}};
                const auto exact = exactPower(m, n, tl);
                for (std::size_t k = 0; k < tl.size(); ++k, ++i) {
                    EXPECT_EQ(single[i].model.p, p);
                    EXPECT_EQ(single[i].model.f, f);
                    EXPECT_EQ(single[i].n, n);
                    EXPECT_EQ(single[i].test, tl[k].test);
                    EXPECT_EQ(single[i].level, tl[k].level);
                    EXPECT_EQ(single[i].power, exact[k].power);
                    EXPECT_EQ(parallel[i].power, exact[k].power);
                    EXPECT_EQ(parallel[i].testable, exact[k].testable);
                    EXPECT_FALSE(single[i].se);
                }
            }
}

TEST(Study, ReportsProgressAndStopsWhenCancelled) {
    StudyRequest g = inbreedingGrid();
    std::vector<std::size_t> seen;
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, 12u);
        seen.push_back(done);
    };
    runStudy(g, control);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 12u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    std::atomic<bool> cancel{true};
    StudyControl cancelled;
    cancelled.cancel = &cancel;
    EXPECT_THROW(runStudy(g, cancelled), StudyCancelled);
    g.method = PowerMethod::Simulate;
    g.replicates = 100;
    g.seed = 1;
    EXPECT_THROW(runStudy(g, cancelled), StudyCancelled);

    // Cancelled from the progress report of a simulation.
    std::atomic<bool> later{false};
    StudyControl midway;
    midway.cancel = &later;
    midway.progress = [&](std::size_t, std::size_t) { later = true; };
    EXPECT_THROW(runStudy(g, midway), StudyCancelled);
}

TEST(Simulation, UsesTheWindowsEngineAndItsSamplesForEveryTest) {
    ModelSetting m{GenotypeModel::Wahlund, 0.3};
    m.var = 0.03;
    const std::uint32_t replicates = 2000, seed = 49530250;
    setRandomSeed(777);
    const auto points =
        simulatePoint(m, 40, {HweTest::X2, HweTest::GWindow, HweTest::X2cc, HweTest::Exact},
                      {0.05, 0.01}, replicates, seed);
    EXPECT_EQ(randomSeed(), 777u);  // the program-wide seed is left as it was
    ASSERT_EQ(points.size(), 8u);

    // The window's own run from the same seed.
    auto state = std::make_unique<SimulationState>();
    state->frequencies = frequenciesOf(m);
    setRandomSeed(seed);
    const RunResult result = runSimulation({40, 2000, true, true}, *state, ".");
    EXPECT_EQ(points[0].windowTested, result.x2.ok);
    EXPECT_EQ(points[0].windowAbove05, result.x2.counts.above05);
    EXPECT_EQ(points[1].windowAbove01, result.x2.counts.above01);
    EXPECT_EQ(points[2].windowAbove05, result.g.counts.above05);
    EXPECT_EQ(points[2].windowTested, result.g.ok);
    EXPECT_EQ(points[2].testedCount, result.g.ok);

    // The same samples drawn again decide X2 exactly as the window's tables
    // did, and give the corrected X2 and the exact test their counts.
    std::uint32_t at = seed;
    const GenotypeFrequencies fr = frequenciesOf(m);
    std::uint32_t x2Tested = 0, x2Rejected = 0, exactTested = 0, exactRejected = 0;
    for (int r = 0; r < 2000; ++r) {
        const GenotypeCounts c = referenceSampler(at, fr.f11, fr.f11 + fr.f12, 40);
        if (const auto d = rejects(HweTest::X2, c, 0.05)) {
            ++x2Tested;
            x2Rejected += *d;
        }
        if (const auto d = rejects(HweTest::Exact, c, 0.01)) {
            ++exactTested;
            exactRejected += *d;
        }
    }
    EXPECT_EQ(points[0].testedCount, x2Tested);
    EXPECT_EQ(points[0].rejectedCount, x2Rejected);
    EXPECT_EQ(points[0].rejectedCount, result.x2.counts.above05);
    EXPECT_EQ(points[7].testedCount, exactTested);
    EXPECT_EQ(points[7].rejectedCount, exactRejected);

    // Each simulated power lies within 4 standard errors of the exact one.
    const std::vector<TestLevel> tl{{HweTest::X2, 0.05},      {HweTest::X2, 0.01},
                                    {HweTest::GWindow, 0.05}, {HweTest::GWindow, 0.01},
                                    {HweTest::X2cc, 0.05},    {HweTest::X2cc, 0.01},
                                    {HweTest::Exact, 0.05},   {HweTest::Exact, 0.01}};
    const auto exact = exactPower(m, 40, tl);
    for (std::size_t k = 0; k < tl.size(); ++k) {
        const PowerPoint& p = points[k];
        EXPECT_EQ(p.method, PowerMethod::Simulate);
        EXPECT_EQ(p.seed, std::optional<std::uint32_t>(seed));
        EXPECT_EQ(p.nrep, 2000u);
        const double se = std::sqrt(exact[k].power * (1 - exact[k].power) / 2000);
        EXPECT_NEAR(p.power, exact[k].power, 4 * se + 1e-9) << k;
        ASSERT_TRUE(p.se && p.low95 && p.high95);
        EXPECT_LE(*p.low95, p.power);
        EXPECT_GE(*p.high95, p.power);
    }
}

TEST(Simulation, GAndGWindowAgreeWithTheirExactPowerAndShareTheWindowsCounts) {
    // Samples with a zero count carry much of the weight at p 0.1, n 30.
    ModelSetting m{GenotypeModel::Inbreeding, 0.1};
    m.f = 0.2;
    const std::vector<HweTest> tests{HweTest::G, HweTest::GWindow};
    const auto points = simulatePoint(m, 30, tests, {0.05}, 4000, 11);
    const std::vector<TestLevel> tl{{HweTest::G, 0.05}, {HweTest::GWindow, 0.05}};
    const auto exact = exactPower(m, 30, tl);
    for (std::size_t k = 0; k < tl.size(); ++k)
        for (const auto& [simulated, truth] : {std::pair{points[k].testable, exact[k].testable},
                                               std::pair{points[k].power, exact[k].power}})
            EXPECT_NEAR(simulated, truth, 4 * std::sqrt(truth * (1 - truth) / 4000) + 1e-9)
                << hweTestName(tl[k].test);
    EXPECT_GT(exact[0].testable, exact[1].testable + 0.1);
    // Both carry the window's G counts, which the results file holds.
    EXPECT_EQ(points[0].windowTested, points[1].windowTested);
    EXPECT_EQ(points[0].windowAbove05, points[1].windowAbove05);
    EXPECT_EQ(points[1].testedCount, points[1].windowTested);
}

TEST(Simulation, IntervalsStaySoundAtZeroPower) {
    // Under selection against the heterozygote with w12 = 0 there are no
    // heterozygotes: the window's G is never testable and X2 always rejects
    // at n 30.
    ModelSetting m{GenotypeModel::Selection, 0.5};
    m.w12 = 0;
    const auto points = simulatePoint(m, 30, {HweTest::X2, HweTest::GWindow}, {0.05}, 500, 3);
    EXPECT_EQ(points[0].power, 1);
    EXPECT_EQ(points[1].testable, 0);
    EXPECT_EQ(points[1].power, 0);
    EXPECT_TRUE(std::isnan(points[1].conditionalPower));
    EXPECT_EQ(*points[1].low95, 0);
    EXPECT_GT(*points[1].high95, 0);  // zero successes in 500 still leave room
    EXPECT_LT(*points[1].high95, 0.01);
    EXPECT_EQ(*points[0].high95, 1);
    EXPECT_LT(*points[0].low95, 1);
}

TEST(Crossings, FirstReachingAndStayingAboveDiffer) {
    std::vector<PowerPoint> points;
    const double powers[] = {0.5, 0.81, 0.79, 0.85, 0.9};
    for (int i = 0; i < 5; ++i) {
        PowerPoint p;
        p.n = static_cast<std::uint32_t>(50 - 10 * i);  // given in decreasing n
        p.power = powers[4 - i];
        points.push_back(p);
        PowerPoint g = p;
        g.test = HweTest::G;
        g.power = i == 0 ? 0.7 : 0.1;  // reached nowhere
        points.push_back(g);
    }
    const auto c = targetCrossings(points, 0.8);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].firstReaching, std::optional<std::uint32_t>(20));
    EXPECT_EQ(c[0].staysFrom, std::optional<std::uint32_t>(40));
    EXPECT_FALSE(c[1].firstReaching);
    EXPECT_FALSE(c[1].staysFrom);

    // Reached early but not at the largest n: it never stays.
    points[0].power = 0.7;
    const auto d = targetCrossings(points, 0.8);
    EXPECT_EQ(d[0].firstReaching, std::optional<std::uint32_t>(20));
    EXPECT_FALSE(d[0].staysFrom);
}

TEST(Csv, ColumnsAndFullPrecisionWhateverTheLocale) {
    PowerPoint x;
    x.model = {GenotypeModel::Inbreeding, 0.4};
    x.model.f = 0.05;
    x.n = 100;
    x.test = HweTest::Exact;
    x.level = 0.01;
    x.testable = 1;
    x.power = 1.0 / 3;
    x.conditionalPower = 1.0 / 3;
    x.massLeftOut = 1.5e-15;
    zyg::testing::ScopedCommaLocale comma;
    const std::string header =
        "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se,"
        "low95,high95,nrep,seed,mass_left_out,allele_count,het_miscall,hom_miscall,null,locus,"
        "males,"
        "p_male\n";
    EXPECT_EQ(studyCsv({x}),
              header +
                  "inbreeding,0.4,0,0.05,1,1,1,100,exact,0.01,exact,1,0.3333333333333333,"
                  "0.3333333333333333,,,,,,1.5e-15,,,,,,,\n");
    x.method = PowerMethod::Simulate;
    x.testable = 0;
    x.power = 0;
    x.conditionalPower = std::nan("");
    x.se = 0;
    x.low95 = 0;
    x.high95 = 0.25;
    x.nrep = 10;
    x.seed = 42;
    EXPECT_EQ(
        studyCsv({x}),
        header +
            "inbreeding,0.4,0,0.05,1,1,1,100,exact,0.01,simulate,0,0,,0,0,0.25,10,42,,,,,,,,\n");
    // The error model's rates fill their columns; the null column stays empty.
    x.model = {GenotypeModel::Error, 0.2};
    x.model.hetMiscall = 0.05;
    EXPECT_EQ(studyCsv({x}), header +
                                 "error,0.2,0,0,1,1,1,100,exact,0.01,simulate,0,0,,0,0,0.25,"
                                 "10,42,,,0.05,0,,,,\n");
}

TEST(ResultsFile, SimulatedRunsAppendTheWindowsLines) {
    PowerPoint x2;
    x2.model = {GenotypeModel::HardyWeinberg, 0.4};
    x2.n = 100;
    x2.method = PowerMethod::Simulate;
    x2.nrep = 1000;
    x2.windowTested = 1000;
    x2.windowAbove05 = 52;
    x2.windowAbove01 = 9;
    PowerPoint g = x2;
    g.test = HweTest::G;
    g.windowTested = 998;
    g.windowAbove05 = 55;
    g.windowAbove01 = 12;
    PowerPoint level10 = g;
    level10.level = 0.1;
    PowerPoint exact = x2;
    exact.method = PowerMethod::Exact;
    exact.n = 200;  // exact points have no window line

    const auto lines = resultLines({x2, g, level10, exact});
    ASSERT_EQ(lines.size(), 1u);
    ResultLineValues v;
    v.modelIndex = 0;
    v.p = 0.4;
    v.nText = "100";
    v.nrepText = "1000";
    v.nrep = 1000;
    v.x2On = v.gOn = true;
    v.x2At05 = 0.052;
    v.x2At01 = 0.009;
    v.gAt05 = 0.0551;  // 55 / 998 = 0.05511 as the field shows it
    v.gAt01 = 0.012;
    v.x2Ok = 1000;
    v.gOk = 998;
    EXPECT_EQ(lines[0], resultLine(v));
    EXPECT_EQ(lines[0].substr(lines[0].size() - 18), "  100.00   99.80\r\n");

    const std::string path = tempPath("runs.txt");
    std::filesystem::remove(path);
    appendResultLines(path, lines);
    EXPECT_EQ(readFile(path), headerLine() + lines[0]);
    appendResultLines(path, lines);
    EXPECT_EQ(readFile(path), headerLine() + lines[0] + lines[0]);
    appendResultLines(path, {});
    EXPECT_EQ(readFile(path), headerLine() + lines[0] + lines[0]);
    std::filesystem::remove(path);
    EXPECT_THROW(appendResultLines(tempPath("missing/runs.txt"), lines), CommandError);
}

TEST(Simulation, EveryTestAgreesWithItsExactPowerAtAnyLevel) {
    // An excess of heterozygotes, so that one-sided tests of both sides are
    // met: the excess tests find it, the deficit tests must not.
    ModelSetting m{GenotypeModel::Inbreeding, 0.35};
    m.f = -0.3;
    std::vector<HweTest> tests;
    for (HweTest t : kHweTests)
        if (appliesTo(t, LocusKind::Autosomal)) tests.push_back(t);
    const std::vector<double> levels{0.05, 1e-4};
    const auto points = simulatePoint(m, 120, tests, levels, 4000, 2024);
    ASSERT_EQ(points.size(), tests.size() * levels.size());
    for (const PowerPoint& p : points) {
        const TestLevel asked[] = {{p.test, p.level}};
        const ExactPower exact = exactPower(m, 120, asked)[0];
        const double se = std::sqrt(exact.power * (1 - exact.power) / 4000);
        EXPECT_NEAR(p.power, exact.power, 4 * se + 1e-3)
            << hweTestName(p.test) << " at " << p.level;
        EXPECT_GT(p.testedCount, 3900u) << hweTestName(p.test);
    }
}
