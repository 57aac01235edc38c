#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/PowerCommand.h"
#include "core/Version.h"
#include "power/Solve.h"
#include "support/PowerCommandRun.h"

using namespace zyg;

using zyg::testing::Outcome;
using zyg::testing::runPower;

namespace {

ModelSetting setting(GenotypeModel model, double p) {
    ModelSetting m;
    m.model = model;
    m.p = p;
    return m;
}

double powerAt(const ModelSetting& m, std::uint32_t n, TestLevel t) {
    return exactPower(m, n, std::span<const TestLevel>(&t, 1))[0].power;
}

struct Scan {
    std::optional<std::uint32_t> first, stays;
};

// Every n from low to high.
Scan bruteForce(const ModelSetting& m, TestLevel t, double target, std::uint32_t low,
                std::uint32_t high) {
    Scan s;
    bool above = false;
    for (std::uint32_t n = low; n <= high; ++n) {
        const bool reaches = powerAt(m, n, t) >= target;
        if (reaches && !s.first) s.first = n;
        if (reaches && !above) s.stays = n;
        if (!reaches) s.stays.reset();
        above = reaches;
    }
    return s;
}

Outcome run(const std::vector<std::string>& args) { return runPower(args); }

}  // namespace

// The bracket, the search for a crossing and the saw-tooth scan give what a
// scan of every n gives, with large teeth (small n), small ones (n in the
// thousands), wide ones, a target reached at the lower bound and one never
// reached.
TEST(SolveSampleSize, AgreesWithAScanOfEveryN) {
    struct Case {
        ModelSetting model;
        TestLevel test;
        double target;
        std::uint32_t low, high;
    };
    ModelSetting inbred = setting(GenotypeModel::Inbreeding, 0.5);
    inbred.f = 0.35;
    ModelSetting weak = setting(GenotypeModel::Inbreeding, 0.3);
    weak.f = 0.1;
    ModelSetting selected = setting(GenotypeModel::Selection, 0.4);
    selected.w12 = 0.8;
    ModelSetting wahlund = setting(GenotypeModel::Wahlund, 0.2);
    wahlund.var = 0.02;
    // Near p 0.5 the exact test's teeth span about 20 n at a time.
    ModelSetting nullAllele = setting(GenotypeModel::NullAllele, 0.503);
    nullAllele.nullFrequency = 0.0544;
    ModelSetting even = setting(GenotypeModel::Wahlund, 0.484);
    even.var = 0.0352;
    const Case cases[] = {
        {inbred, {HweTest::Exact, 0.05}, 0.8, 1, 1500},
        {inbred, {HweTest::G, 0.05}, 0.9, 1, 1500},
        {inbred, {HweTest::X2cc, 0.01}, 0.95, 20, 1500},
        {weak, {HweTest::Exact, 0.05}, 0.8, 1, 2500},
        {selected, {HweTest::X2, 0.01}, 0.8, 1, 2500},
        {wahlund, {HweTest::ExactMidP, 0.05}, 0.9, 1, 2000},
        {inbred, {HweTest::Exact, 0.05}, 0.5, 60, 1000},       // reached at the lower bound
        {inbred, {HweTest::ExactExcess, 0.05}, 0.8, 1, 1000},  // the wrong side: never
        {inbred, {HweTest::Exact, 0.05}, 0.8, 40, 300},        // a short range, scanned whole
        {inbred, {HweTest::Exact, 0.05}, 0.8, 1, 66},          // ends on a tooth below
        {inbred, {HweTest::Exact, 0.05}, 0.995, 1, 1500},      // near 1, where the teeth shrink
        {nullAllele, {HweTest::Exact, 1e-6}, 0.6, 1, 3000},    // first 2486, stays from 2508
        {even, {HweTest::Exact, 0.05}, 0.909, 1, 1500},        // first 546, stays from 564
    };
    for (const Case& c : cases) {
        const SolveAnswer a = solveSampleSize(c.model, c.test, c.target, c.low, c.high);
        const Scan s = bruteForce(c.model, c.test, c.target, c.low, c.high);
        const std::string name = std::string(hweTestName(c.test.test)) + " to " +
                                 std::to_string(c.high) + " target " + std::to_string(c.target);
        EXPECT_EQ(a.firstN, s.first) << name;
        EXPECT_EQ(a.staysN, s.stays) << name;
        EXPECT_EQ(a.reached, s.first.has_value()) << name;
        if (a.firstN) {
            EXPECT_EQ(a.power.power, powerAt(c.model, *a.firstN, c.test)) << name;
            // Few exact computations: no scan of the whole range.
            if (c.high - c.low > 500) {
                EXPECT_LT(a.evaluations, 400u) << name;
            }
        }
    }
}

// The value is on the 4-digit grid, reaches the target, and no value of a
// fine scan nearer to no departure does; on the searched side only.
TEST(SolveParameter, AgreesWithAFineScan) {
    struct Case {
        ModelSetting model;
        const char* parameter;
        std::uint32_t n;
        TestLevel test;
    };
    ModelSetting inbred = setting(GenotypeModel::Inbreeding, 0.5);
    inbred.f = 0.1;
    ModelSetting excess = setting(GenotypeModel::Inbreeding, 0.4);
    excess.f = -0.1;
    ModelSetting disadvantage = setting(GenotypeModel::Selection, 0.4);
    disadvantage.w12 = 0.9;
    ModelSetting wahlund = setting(GenotypeModel::Wahlund, 0.2);
    wahlund.var = 0.01;
    ModelSetting miscalls = setting(GenotypeModel::Error, 0.3);
    miscalls.hetMiscall = 0.02;
    ModelSetting excessCalls = setting(GenotypeModel::Error, 0.3);
    excessCalls.homMiscall = 0.02;
    ModelSetting nullAllele = setting(GenotypeModel::NullAllele, 0.3);
    nullAllele.nullFrequency = 0.05;
    const Case cases[] = {
        {miscalls, "het-miscall", 2000, {HweTest::Exact, 1e-3}},
        {excessCalls, "hom-miscall", 1000, {HweTest::ExactExcess, 0.05}},
        {nullAllele, "null", 800, {HweTest::ExactDeficit, 0.01}},
        {inbred, "f", 200, {HweTest::Exact, 0.05}},
        {excess, "f", 300, {HweTest::ExactExcess, 0.05}},
        {disadvantage, "w12", 500, {HweTest::G, 0.05}},
        {wahlund, "var", 400, {HweTest::X2, 0.01}},
    };
    for (const Case& c : cases) {
        const SolvableParameter& q = *findSolvableParameter(c.parameter);
        const SolveAnswer a = solveParameter(c.model, q, c.n, c.test, 0.8);
        ASSERT_TRUE(a.value) << c.parameter;
        const double v = *a.value;
        const bool up = q.get(c.model) > q.none;
        EXPECT_EQ(up, v > q.none) << c.parameter;
        const double exponent = std::floor(std::log10(std::fabs(v))) - 3;
        const double digits = v / std::pow(10.0, exponent);
        EXPECT_NEAR(digits, std::round(digits), 1e-6) << v;
        auto powerOf = [&](double x) {
            ModelSetting m = c.model;
            q.set(m, x);
            return powerAt(m, c.n, c.test);
        };
        EXPECT_GE(powerOf(v), 0.8) << v;
        EXPECT_EQ(a.power.power, powerOf(v));
        const double unit = std::pow(10.0, exponent);
        EXPECT_LT(powerOf(up ? v - unit : v + unit), 0.8) << v;
        for (int i = 0; i < 400; ++i) {
            const double x = q.none + (v - q.none) * i / 400.0;
            if (std::fabs(x - v) > unit) {
                EXPECT_LT(powerOf(x), 0.8) << c.parameter << " " << x;
            }
        }
        EXPECT_TRUE(a.monotone) << c.parameter;
    }
}

// X2 and G are biased against a small Wahlund effect at n 50: they reject
// less often than with no departure, and the answer says so.
TEST(SolveParameter, SaysWhenPowerFallsOnTheWay) {
    ModelSetting m = setting(GenotypeModel::Wahlund, 0.5);
    const SolvableParameter& var = *findSolvableParameter("var");
    for (HweTest test : {HweTest::X2, HweTest::G}) {
        const SolveAnswer a = solveParameter(m, var, 50, {test, 0.05}, 0.8);
        EXPECT_FALSE(a.monotone);
        EXPECT_LT(a.fallToPower, a.fallFromPower);
        EXPECT_LT(powerAt(
                      [&] {
                          ModelSetting w = m;
                          w.var = 0.005;
                          return w;
                      }(),
                      50, {test, 0.05}),
                  powerAt(m, 50, {test, 0.05}));
    }
    // Not reached within the range: no value, the highest power seen.
    const SolveAnswer none = solveParameter(m, var, 10, {HweTest::Exact, 0.01}, 0.99);
    EXPECT_FALSE(none.reached);
    EXPECT_FALSE(none.value);
    EXPECT_DOUBLE_EQ(none.rangeEnd, 0.25);
    EXPECT_LT(none.bestPower, 0.99);
}

TEST(SolveStudy, AnswersEverySettingTestAndLevelAndCancels) {
    StudyRequest r;
    r.model = GenotypeModel::Inbreeding;
    r.p = {0.5};
    r.f = {0.2, 0.35};
    r.solveBounds = SampleBounds{1, 2000};
    r.tests = {HweTest::X2, HweTest::Exact};
    r.levels = {0.05};
    const std::vector<SolveAnswer> answers = solveStudy(r, {});
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[0].model.f, 0.2);
    EXPECT_EQ(answers[1].test, HweTest::Exact);
    EXPECT_EQ(answers[2].model.f, 0.35);
    // A larger effect needs fewer genotypes.
    EXPECT_LT(*answers[2].firstN, *answers[0].firstN);

    // Solving f: the values of one side are one setting.
    SolveAim aim;
    aim.parameter = findSolvableParameter("f");
    r.n = {100};
    EXPECT_EQ(solveStudy(r, aim).size(), 2u);

    std::atomic<bool> cancel{true};
    StudyControl control;
    control.cancel = &cancel;
    EXPECT_THROW(solveStudy(r, aim, control), StudyCancelled);
}

// The parameter solved for needs no value: without one the search goes up
// from no departure, as with the value of no departure given.
TEST(SolveCommand, AParameterWithoutAValueSearchesFromNoDeparture) {
    for (const char* name : {"f", "var", "null"}) {
        const std::string model = name == std::string("f")     ? "inbreeding"
                                  : name == std::string("var") ? "wahlund"
                                                               : "null";
        const std::vector<std::string> common{"--model", model, "--p",     "0.3",  "--n",     "300",
                                              "--test",  "x2",  "--level", "0.05", "--solve", name};
        const Outcome bare = run(common);
        std::vector<std::string> given = common;
        given.insert(given.end(), {std::string("--") + name, "0"});
        const Outcome zero = run(given);
        EXPECT_EQ(bare.status, 0) << name << ": " << bare.err;
        EXPECT_EQ(bare.out, zero.out) << name;
    }
}

// The methods paragraph of --summary holds the answers of the table above it,
// the test, level, model, how power was computed and the program's version.
TEST(SolveCommand, SummaryHoldsTheAnswersAndHowTheyWereComputed) {
    const Outcome o = run({"--model", "wahlund", "--p", "0.4", "--var", "0.01", "--test",
                           "x2,exact", "--level", "0.05", "--solve", "n", "--summary"});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::size_t gap = o.out.find("\n\n");
    ASSERT_NE(gap, std::string::npos);
    const std::string table = o.out.substr(0, gap), summary = o.out.substr(gap + 2);
    for (const char* n : {"n = 4551 ", "n = 4571 "}) {
        EXPECT_NE(table.find(n), std::string::npos) << table;
        EXPECT_NE(summary.find(n), std::string::npos) << summary;
    }
    for (const std::string& said : std::vector<std::string>{
             "wahlund, p 0.4, var 0.01", "level 0.05", "power 0.80", "computed exactly",
             std::string("Zygomet ") + kZygometVersion, "zygomet-power"})
        EXPECT_NE(summary.find(said), std::string::npos) << said << " in " << summary;
    EXPECT_EQ(run({"--model", "hw", "--p", "0.4", "--n", "10", "--summary"}).status, 2);
}

TEST(SolveCommand, WordsTheAnswersAndWritesOneCsvRowEach) {
    const Outcome o = run({"--model", "inbreeding", "--p", "0.5", "--f", "0.35", "--test", "exact",
                           "--level", "0.05", "--n", "1,1000", "--solve", "n"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "inbreeding, p 0.5, f 0.35, n from 1 to 1000:\n"
              "  exact, level 0.05: n = 64 reaches 0.80 (power 0.801579); power stays at or "
              "above 0.80 from n = 71\n");

    const Outcome csv =
        run({"--model", "selection", "--p", "0.4", "--w12", "0.9", "--test", "g,exact-excess",
             "--level", "0.05", "--n", "300", "--solve", "w12", "--csv", "-"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    std::istringstream lines(csv.out);
    std::string header, g, excess;
    std::getline(lines, header);
    std::getline(lines, g);
    std::getline(lines, excess);
    EXPECT_EQ(header.substr(header.size() - 32), "null,locus,males,p_male,monotone");
    EXPECT_EQ(g.rfind("selection,0.4,0,0,1,0.", 0), 0u) << g;
    EXPECT_NE(g.find(",300,g,0.05,exact,"), std::string::npos) << g;
    // The excess test does not reach 0.8 against a deficit: the answer is empty.
    EXPECT_EQ(excess.rfind("selection,0.4,0,0,1,,1,300,exact-excess,0.05,exact,,,,", 0), 0u)
        << excess;

    EXPECT_NE(run({"--p", "0.5", "--n", "10", "--solve", "f"})
                  .err.find("not a parameter of the model hw"),
              std::string::npos);
    EXPECT_EQ(run({"--p", "0.5", "--solve", "n", "--method", "simulate"}).status, 2);
}

TEST(PowerCommandFixes, DecimalCommaWarnsAndRepeatedValuesGiveOneRow) {
    const Outcome o = run({"--model", "inbreeding", "--p", "0.5", "--f", "0,1", "--n", "62,62",
                           "--test", "x2,x2", "--level", "0.05,0.05"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err,
              "zygomet-power: warning: --f \"0,1\": read as the values 0 and 1; a decimal number "
              "is written with a point (0.1)\n");
    // A header and one row for each f.
    EXPECT_EQ(std::count(o.out.begin(), o.out.end(), '\n'), 3);
    // Lists of whole numbers or of decimals do not warn.
    EXPECT_EQ(run({"--p", "0.2,0.5", "--n", "10,20", "--level", "0.05,0.01"}).err, "");
}

TEST(PowerCommandFixes, MessagesQuoteWhatWasTyped) {
    Outcome o = run({"--p", "0.5", "--n", "10", "--level", "0.05,1e-400"});
    EXPECT_EQ(o.err,
              "zygomet-power: --level \"0.05,1e-400\": levels must lie above 0 and at most 0.5 "
              "(not 1e-400)\n");
    o = run({"--p", "0.5", "--n", "10", "--target", "0"});
    EXPECT_NE(o.err.find("above 0 and at most 1 (not 0)"), std::string::npos);
    o = run({"--model", "inbreeding", "--p", "0.1:0.9:0.01", "--f", "0:0.5:0.01", "--n",
             "1000:1000000:1000", "--test", "x2,g"});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("(--p 81 x --f 51 x --n 1000 x --test 2 x --level 2 points, each "
                         "counting its n + 10000)"),
              std::string::npos)
        << o.err;
}

TEST(PowerCommandFixes, AnOutputThatCannotBeWrittenIsFoundBeforeTheWork) {
    // (--plot needs the program's drawer and is checked the same way.)
    const std::string missing = "/nonexistent-folder/points.csv";
    const Outcome o = run({"--p", "0.5", "--n", "10", "--level", "0.05", "--csv", missing});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");  // nothing computed, no table
    EXPECT_EQ(o.err.rfind("zygomet-power: --csv \"" + missing + "\": cannot be written", 0), 0u)
        << o.err;
    const Outcome folder = run({"--p", "0.5", "--n", "10", "--method", "simulate", "--nrep", "10",
                                "--seed", "1", "--results", "/tmp"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.out, "");
}
