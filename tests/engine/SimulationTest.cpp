#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "core/Errors.h"
#include "engine/Models.h"
#include "engine/Random.h"
#include "engine/Sampling.h"
#include "engine/Simulation.h"

using namespace zyg;

namespace {

// Records what a run does to the window: the last text of every field, the
// visibility of every control, and the sequence of repaints and progress.
class RecordingDisplay final : public RunDisplay {
public:
    std::map<RunControl, std::string> text;
    std::map<RunControl, bool> visible;
    std::vector<std::string> events;
    std::string message = "old message";
    bool saveEnabled = false;
    int writes = 0;

    void showInteger(RunControl f, std::int32_t v) override { set(f, std::to_string(v)); }
    void showFloat(RunControl f, double v) override { set(f, formatted(v)); }
    void blank(RunControl f) override { set(f, ""); }
    void repaint(RunControl c) override { events.push_back("repaint " + name(c)); }
    void setProgressPosition(int p) override { events.push_back("progress " + std::to_string(p)); }
    void setVisible(RunControl c, bool v) override { visible[c] = v; }
    void setMessage(const std::string& m) override { message = m; }
    void enableSaveCommands() override { saveEnabled = true; }

    static std::string formatted(double v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.4f", v);
        return b;
    }
    static std::string name(RunControl c) { return std::to_string(static_cast<int>(c)); }

private:
    void set(RunControl f, std::string s) {
        text[f] = std::move(s);
        ++writes;
    }
};

struct TestRun {
    SimulationSettings settings;
    std::unique_ptr<SimulationState> state = std::make_unique<SimulationState>();
    RecordingDisplay display;

    TestRun(std::uint32_t n, std::uint32_t nrep, bool x2, bool g, GenotypeFrequencies f,
            std::uint32_t seed = 49530250) {
        settings = {n, nrep, x2, g};
        state->frequencies = f;
        state->expected = expectedCounts(f, static_cast<std::uint16_t>(n));
        setRandomSeed(seed);
    }
    void go() { runSimulation(settings, *state, display, "."); }
};

const GenotypeFrequencies kHW04{0.16L, 0.48L, 0.36L};

}  // namespace

TEST(Simulation, CriticalValuesCountStrictly) {
    EXPECT_EQ(kCritical05, 3.841459L);
    Significance s;
    countSignificance(kCritical05, s);
    EXPECT_EQ(s.above05, 0);
    countSignificance(std::nextafter(kCritical05, 100.0L), s);
    EXPECT_EQ(s.above05, 1);
    EXPECT_EQ(s.above01, 0);
    countSignificance(std::nextafter(kCritical01, 100.0L), s);
    EXPECT_EQ(s.above05, 2);
    EXPECT_EQ(s.above01, 1);
    countSignificance(kNotComputable, s);
    countSignificance(kCritical01, s);
    EXPECT_EQ(s.above01, 1);
    EXPECT_EQ(kCritical01, 6.634907L);
}

TEST(Simulation, ReplicatesAreConsecutiveStretchesOfOneSequence) {
    TestRun run(10, 3, true, true, kHW04);
    run.go();
    // Replicate 1 is the worked example from the clock seed 49530250.
    EXPECT_NEAR(static_cast<double>(run.state->x2Table[1]), 0.0226757, 5e-8);
    EXPECT_NEAR(static_cast<double>(run.state->gTable[1]), 0.0224268, 5e-8);
    // Replicate 3 continues the same generator after 20 draws.
    std::uint32_t seed = 49530250;
    GenotypeCounts last;
    for (int i = 0; i < 3; ++i) last = referenceSampler(seed, 0.16L, 0.64L, 10);
    EXPECT_EQ(run.state->lastSample, last);
    EXPECT_EQ(randomSeed(), seed);
    EXPECT_EQ(run.state->x2Table[3], pearsonX2(last, sampleExpectedCounts(last, 10)));
    // After the run the e-fields show the last sample's own expectation.
    const ExpectedCounts e = sampleExpectedCounts(last, 10);
    EXPECT_EQ(run.display.text[RunControl::e11AdvEdit], RecordingDisplay::formatted(double(e.e11)));
    EXPECT_EQ(run.display.text[RunControl::o22AdvEdit], std::to_string(last.o22));
}

TEST(Simulation, SmallRunsRepaintTheX2FieldsLargeRunsShowProgress) {
    TestRun small(20, 100, true, false, kHW04);
    small.go();
    EXPECT_FALSE(small.display.visible.count(RunControl::ProgressBar1) &&
                 small.display.visible[RunControl::ProgressBar1]);
    ASSERT_EQ(small.display.events.size(), 400u);
    EXPECT_EQ(small.display.events[0], "progress 1");
    EXPECT_EQ(small.display.events[1], "repaint " + RecordingDisplay::name(RunControl::X2AdvEdit));
    EXPECT_EQ(small.display.events[3],
              "repaint " + RecordingDisplay::name(RunControl::X2_01AdvEdit));

    TestRun large(20, 101, true, false, kHW04);
    large.go();
    // The progress bar moves in steps, up to nrep; no field is repainted.
    ASSERT_FALSE(large.display.events.empty());
    EXPECT_LE(large.display.events.size(), 101u);
    for (const std::string& event : large.display.events)
        EXPECT_EQ(event.rfind("progress ", 0), 0u) << event;
    EXPECT_EQ(large.display.events.back(), "progress 101");
    EXPECT_FALSE(large.display.visible[RunControl::ProgressBar1]);  // hidden again at the end
    EXPECT_TRUE(large.display.visible[RunControl::AbsolutePanel]);
    EXPECT_TRUE(large.display.visible[RunControl::ResultsGroupBox]);
    EXPECT_TRUE(large.display.visible[RunControl::MessageLabel]);
    EXPECT_TRUE(large.display.saveEnabled);
}

TEST(Simulation, OnlyOneTestShowsOnlyItsRow) {
    TestRun x2(50, 200, true, false, kHW04);
    x2.go();
    EXPECT_EQ(x2.state->gOk, 0);
    EXPECT_EQ(x2.state->x2Ok, 200);
    EXPECT_TRUE(x2.display.visible[RunControl::X2RTFLabel]);
    EXPECT_TRUE(x2.display.visible[RunControl::X2_01AdvEdit]);
    for (RunControl c : {RunControl::GLabel, RunControl::GAdvEdit, RunControl::G_05AdvEdit,
                         RunControl::G_01AdvEdit})
        EXPECT_FALSE(x2.display.visible[c]);
    EXPECT_FALSE(x2.display.text.count(RunControl::GAdvEdit));
    EXPECT_EQ(x2.display.message, "");  // every replicate testable: the old text goes

    TestRun g(50, 200, false, true, kHW04);
    g.go();
    EXPECT_EQ(g.state->x2Ok, 0);
    EXPECT_FALSE(g.display.visible[RunControl::X2AdvEdit]);
    EXPECT_TRUE(g.display.visible[RunControl::GLabel]);
}

TEST(Simulation, ProportionsAreSignificantOverTested) {
    // Inbred population, f = 1: only homozygotes, X2 = n each time, G never.
    const GenotypeFrequencies inbred{0.4L, 0, 0.6L};
    TestRun run(30, 80, true, true, inbred);
    run.go();
    EXPECT_EQ(run.state->gOk, 0);
    EXPECT_GT(run.state->x2Ok, 0);
    EXPECT_EQ(run.display.text[RunControl::X2_05AdvEdit], "1.0000");
    EXPECT_EQ(run.display.text[RunControl::GAdvEdit], "");
    // G proportions are never written while nothing could be tested.
    EXPECT_FALSE(run.display.text.count(RunControl::G_05AdvEdit));
    EXPECT_EQ(run.state->x2Ok, 80);
    EXPECT_EQ(run.display.message, "G could not be computed for any replicates");
}

TEST(Simulation, ZeroReplicatesStillEndTheRun) {
    TestRun run(100, 0, true, true, kHW04);
    run.state->x2Ok = 7;
    run.go();
    EXPECT_EQ(run.display.writes, 3);  // the three e-fields only
    EXPECT_EQ(run.display.text[RunControl::e12AdvEdit], "48.0000");
    EXPECT_EQ(run.state->x2Ok, 0);
    EXPECT_EQ(run.display.message, "");
    EXPECT_TRUE(run.display.saveEnabled);
    EXPECT_TRUE(run.display.visible[RunControl::ResultsGroupBox]);
}

TEST(Simulation, EmptySamplesEndTheRunWithTheFloatingPointError) {
    TestRun run(0, 1000, true, true, kHW04);
    try {
        run.go();
        FAIL() << "expected an error";
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Invalid floating point operation");
    }
    EXPECT_EQ(run.display.text[RunControl::o11AdvEdit], "0");
    EXPECT_EQ(run.display.text[RunControl::o22AdvEdit], "0");
    EXPECT_TRUE(run.display.visible[RunControl::ProgressBar1]);
    EXPECT_FALSE(run.display.visible.count(RunControl::ResultsGroupBox));
    EXPECT_EQ(run.display.message, "old message");
    EXPECT_FALSE(run.display.saveEnabled);
}

TEST(Simulation, OversizedSettingsFailTheirRangeChecks) {
    TestRun tooLarge(10, 70000, true, false, kHW04);
    EXPECT_THROW(tooLarge.go(), CommandError);
    // 50001 replicates pass the narrowing but not the table index.
    TestRun beyondTable(1, 50001, true, false, kHW04);
    try {
        beyondTable.go();
        FAIL();
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
    EXPECT_EQ(beyondTable.display.events.back(), "progress 50000");
}

TEST(Simulation, CompletionMessageTexts) {
    SimulationSettings s{10, 1000, true, true};
    auto state = std::make_unique<SimulationState>();
    state->x2Ok = 950;
    state->gOk = 999;
    EXPECT_EQ(completionMessage(s, *state, "."),
              "X2 could only be computed for 950 out of 1000 replicates (95 %)\r"
              "G could only be computed for 999 out of 1000 replicates (99.9 %)");
    EXPECT_EQ(completionMessage(s, *state, ","),
              "X2 could only be computed for 950 out of 1000 replicates (95 %)\r"
              "G could only be computed for 999 out of 1000 replicates (99,9 %)");
    state->x2Ok = 1000;
    state->gOk = 0;
    EXPECT_EQ(completionMessage(s, *state, "."), "G could not be computed for any replicates");
    s = {10, 3, true, false};
    state->x2Ok = 1;
    EXPECT_EQ(completionMessage(s, *state, "."),
              "X2 could only be computed for 1 out of 3 replicates (33.3333333333333 %)");
    state->x2Ok = 2;
    EXPECT_EQ(completionMessage(s, *state, "."),
              "X2 could only be computed for 2 out of 3 replicates (66.6666666666667 %)");
    s = {10, 50000, false, true};
    state->gOk = 1;
    EXPECT_EQ(completionMessage(s, *state, "."),
              "G could only be computed for 1 out of 50000 replicates (0.002 %)");
    state->x2Ok = 0;  // X2 off: never reported
    state->gOk = 50000;
    EXPECT_EQ(completionMessage(s, *state, "."), "");
}
