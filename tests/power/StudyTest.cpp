#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
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

std::string usageMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "no error";
}

PowerGrid inbreedingGrid() {
    PowerGrid g;
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

TEST(Axis, ValuesListsAndRanges) {
    EXPECT_EQ(parseAxis("--p", "0.1"), (std::vector<double>{0.1}));
    EXPECT_EQ(parseAxis("--p", "0.1,0.25"), (std::vector<double>{0.1, 0.25}));
    // Range values are the decimals the user wrote, not accumulated steps.
    EXPECT_EQ(parseAxis("--p", "0.1:0.5:0.1"), (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
    const auto hundred = parseAxis("--n", "10:1000:10");
    ASSERT_EQ(hundred.size(), 100u);
    EXPECT_EQ(hundred.front(), 10);
    EXPECT_EQ(hundred.back(), 1000);
    // The end is included only when a step lands on it.
    EXPECT_EQ(parseAxis("--f", "0:1:0.3"), (std::vector<double>{0, 0.3, 0.6, 0.9}));
    EXPECT_EQ(parseAxis("--f", "0.5:0.5:1"), (std::vector<double>{0.5}));
    EXPECT_EQ(parseAxis("--n", "1,5:7:1"), (std::vector<double>{1, 5, 6, 7}));
    EXPECT_EQ(parseAxis("--level", "5e-3"), (std::vector<double>{0.005}));
}

TEST(Axis, MalformedTextNamesTheOptionAndTheValue) {
    for (const char* bad :
         {"", "abc", "0.1,", ",0.1", "1,,2", "1:2", "1:2:3:4", "1:x:1", "nan", "inf", "0,1"}) {
        if (std::string(bad) == "0,1") continue;  // a list of two values, not a decimal comma
        const std::string m = usageMessage([&] { parseAxis("--p", bad); });
        EXPECT_EQ(m.rfind("--p \"" + std::string(bad) + "\": ", 0), 0u) << m;
    }
    EXPECT_NE(usageMessage([] { parseAxis("--n", "5:1:1"); }).find("backwards"), std::string::npos);
    EXPECT_NE(usageMessage([] { parseAxis("--n", "1:5:0"); }).find("step"), std::string::npos);
    EXPECT_NE(usageMessage([] { parseAxis("--n", "1:5:-1"); }).find("step"), std::string::npos);
    EXPECT_NE(usageMessage([] { parseAxis("--f", "0:1:1e-9"); }).find("more than"),
              std::string::npos);
}

TEST(Axis, SampleSizesAreWholeNumbersWithinTheWindowsRange) {
    EXPECT_EQ(parseSampleSizes("--n", "10:30:10"), (std::vector<std::uint32_t>{10, 20, 30}));
    EXPECT_EQ(parseSampleSizes("--n", "1,10000"), (std::vector<std::uint32_t>{1, 10000}));
    for (const char* bad : {"0", "10001", "2.5", "-3", "9990:10010:10"}) {
        const std::string m = usageMessage([&] { parseSampleSizes("--n", bad); });
        EXPECT_NE(m.find("whole numbers from 1 to 10000"), std::string::npos) << bad << ": " << m;
    }
}

TEST(Grid, CrossesOnlyTheAxesTheModelReads) {
    PowerGrid g;
    g.model = GenotypeModel::HardyWeinberg;
    g.p = {0.2, 0.4};
    g.var = {0.01, 0.02};  // not read by Hardy-Weinberg
    EXPECT_EQ(modelSettings(g).size(), 2u);
    EXPECT_EQ(modelSettings(g)[0].var, 0);

    g.model = GenotypeModel::Selection;
    g.w11 = {0.5, 1};
    g.w22 = {1, 2, 3};
    const auto s = modelSettings(g);
    ASSERT_EQ(s.size(), 12u);
    EXPECT_EQ(s[0].p, 0.2);
    EXPECT_EQ(s[0].w22, 1);
    EXPECT_EQ(s[1].w22, 2);  // w22 fastest, p slowest
    EXPECT_EQ(s[11].p, 0.4);
    EXPECT_EQ(s[11].w11, 1);
}

TEST(Grid, RefusesSettingsTheWindowWouldNot) {
    PowerGrid g;
    g.model = GenotypeModel::Wahlund;
    g.p = {0.5, 0.1};
    g.var = {0.05};  // below p*q at both: 0.25 and 0.09
    EXPECT_NO_THROW(checkGrid(g));
    g.var = {0.1};  // above 0.09 at p 0.1
    EXPECT_NE(usageMessage([&] { checkGrid(g); }).find("--var \"0.1\": var must lie from 0 to p*q"),
              std::string::npos);
    g.var = {0.25};
    g.p = {0.5};
    EXPECT_NO_THROW(checkGrid(g));  // var at its maximum p*q

    PowerGrid s;
    s.model = GenotypeModel::Selection;
    s.w11 = {0, 1};
    s.w12 = {0};
    s.w22 = {0, 2};
    EXPECT_NE(usageMessage([&] { checkGrid(s); }).find("must not all be 0"), std::string::npos);
    s.w22 = {2};
    EXPECT_NO_THROW(checkGrid(s));
    s.w12 = {10.5};
    EXPECT_NE(usageMessage([&] { checkGrid(s); }).find("--w12 \"10.5\""), std::string::npos);

    PowerGrid l;
    l.levels = {0.05, 0.6};
    EXPECT_NE(usageMessage([&] { checkGrid(l); }).find("--level \"0.6\""), std::string::npos);
    l.levels = {0};
    EXPECT_NE(usageMessage([&] { checkGrid(l); }).find("--level \"0\""), std::string::npos);
    l.levels = {};
    EXPECT_NE(usageMessage([&] { checkGrid(l); }).find("--level: no value"), std::string::npos);
    PowerGrid p;
    p.p = {0.005};
    EXPECT_NE(usageMessage([&] { checkGrid(p); }).find("--p \"0.005\""), std::string::npos);
}

TEST(Study, ExactPointsInGridOrderFromEveryThreadCount) {
    const PowerGrid g = inbreedingGrid();
    StudyControl one;
    one.threads = 1;
    const auto single = runStudy(g, PowerMethod::Exact, {}, one);
    StudyControl three;
    three.threads = 3;
    const auto parallel = runStudy(g, PowerMethod::Exact, {}, three);
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
    const PowerGrid g = inbreedingGrid();
    std::vector<std::size_t> seen;
    StudyControl control;
    control.progress = [&](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, 12u);
        seen.push_back(done);
    };
    runStudy(g, PowerMethod::Exact, {}, control);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 12u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    std::atomic<bool> cancel{true};
    StudyControl cancelled;
    cancelled.cancel = &cancel;
    EXPECT_THROW(runStudy(g, PowerMethod::Exact, {}, cancelled), StudyCancelled);
    EXPECT_THROW(runStudy(g, PowerMethod::Simulate, {100, 1}, cancelled), StudyCancelled);

    // Cancelled from the progress report of a simulation.
    std::atomic<bool> later{false};
    StudyControl midway;
    midway.cancel = &later;
    midway.progress = [&](std::size_t, std::size_t) { later = true; };
    EXPECT_THROW(runStudy(g, PowerMethod::Simulate, {100, 1}, midway), StudyCancelled);
}

TEST(Simulation, UsesTheWindowsEngineAndItsSamplesForEveryTest) {
    ModelSetting m{GenotypeModel::Wahlund, 0.3};
    m.var = 0.03;
    const SimulationPlan plan{2000, 49530250};
    setRandomSeed(777);
    const auto points = simulatePoint(
        m, 40, {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact}, {0.05, 0.01}, plan);
    EXPECT_EQ(randomSeed(), 777u);  // the program-wide seed is left as it was
    ASSERT_EQ(points.size(), 8u);

    // The window's own run from the same seed.
    auto state = std::make_unique<SimulationState>();
    state->frequencies = frequenciesOf(m);
    setRandomSeed(plan.seed);
    const RunResult result = runSimulation({40, 2000, true, true}, *state, ".");
    EXPECT_EQ(points[0].windowTested, result.x2.ok);
    EXPECT_EQ(points[0].windowAbove05, result.x2.counts.above05);
    EXPECT_EQ(points[1].windowAbove01, result.x2.counts.above01);
    EXPECT_EQ(points[2].windowAbove05, result.g.counts.above05);
    EXPECT_EQ(points[2].windowTested, result.g.ok);
    EXPECT_EQ(points[2].testedCount, result.g.ok);

    // The same samples drawn again decide X2 exactly as the window's tables
    // did, and give the corrected X2 and the exact test their counts.
    std::uint32_t seed = plan.seed;
    const GenotypeFrequencies fr = frequenciesOf(m);
    std::uint32_t x2Tested = 0, x2Rejected = 0, exactTested = 0, exactRejected = 0;
    for (int r = 0; r < 2000; ++r) {
        const GenotypeCounts c = referenceSampler(seed, fr.f11, fr.f11 + fr.f12, 40);
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
    const std::vector<TestLevel> tl{{HweTest::X2, 0.05},    {HweTest::X2, 0.01},
                                    {HweTest::G, 0.05},     {HweTest::G, 0.01},
                                    {HweTest::X2cc, 0.05},  {HweTest::X2cc, 0.01},
                                    {HweTest::Exact, 0.05}, {HweTest::Exact, 0.01}};
    const auto exact = exactPower(m, 40, tl);
    for (std::size_t k = 0; k < tl.size(); ++k) {
        const PowerPoint& p = points[k];
        EXPECT_EQ(p.method, PowerMethod::Simulate);
        EXPECT_EQ(p.seed, std::optional<std::uint32_t>(plan.seed));
        EXPECT_EQ(p.nrep, 2000u);
        const double se = std::sqrt(exact[k].power * (1 - exact[k].power) / 2000);
        EXPECT_NEAR(p.power, exact[k].power, 4 * se + 1e-9) << k;
        ASSERT_TRUE(p.se && p.low95 && p.high95);
        EXPECT_LE(*p.low95, p.power);
        EXPECT_GE(*p.high95, p.power);
    }
}

TEST(Simulation, IntervalsStaySoundAtZeroPower) {
    // Under selection against the heterozygote with w12 = 0 there are no
    // heterozygotes: G is never testable and X2 always rejects at n 30.
    ModelSetting m{GenotypeModel::Selection, 0.5};
    m.w12 = 0;
    const auto points = simulatePoint(m, 30, {HweTest::X2, HweTest::G}, {0.05}, {500, 3});
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
    EXPECT_EQ(csvHeader(),
              "model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,conditional_power,se,"
              "low95,high95,nrep,seed,mass_left_out\n");
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
    EXPECT_EQ(csvRow(x),
              "inbreeding,0.4,0,0.05,1,1,1,100,exact,0.01,exact,1,0.3333333333333333,"
              "0.3333333333333333,,,,,,1.5e-15\n");
    x.method = PowerMethod::Simulate;
    x.testable = 0;
    x.power = 0;
    x.conditionalPower = std::nan("");
    x.se = 0;
    x.low95 = 0;
    x.high95 = 0.25;
    x.nrep = 10;
    x.seed = 42;
    EXPECT_EQ(csvRow(x),
              "inbreeding,0.4,0,0.05,1,1,1,100,exact,0.01,simulate,0,0,,0,0,0.25,10,42,\n");
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
