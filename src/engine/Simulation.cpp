#include "engine/Simulation.h"

#include "engine/Checked.h"
#include "engine/NumberText.h"
#include "engine/Sampling.h"

namespace zyg {

namespace {

struct TestFields {
    RunControl value, p05, p01, label;
};

constexpr TestFields kX2Fields{RunControl::X2AdvEdit, RunControl::X2_05AdvEdit,
                               RunControl::X2_01AdvEdit, RunControl::X2RTFLabel};
constexpr TestFields kGFields{RunControl::GAdvEdit, RunControl::G_05AdvEdit,
                              RunControl::G_01AdvEdit, RunControl::GLabel};

// Stores the statistic of replicate i, shows it when positive, counts it as
// tested when it is 0 or more, and hands back what the table holds.
void storeStatistic(ReplicateTable& table, std::uint32_t i, Extended statistic,
                    std::uint16_t& okCount, RunControl field, RunDisplay& display) {
    table[i] = statistic;
    const Extended stored = table[i];
    if (stored > 0)
        display.showFloat(field, toDouble(stored));
    else
        display.blank(field);
    if (stored >= 0) checkedIncrement(okCount);
}

void showProportions(const Significance& s, std::uint16_t okCount, const TestFields& fields,
                     RunDisplay& display) {
    if (okCount == 0) return;
    display.showFloat(fields.p05,
                      toDouble(static_cast<Extended>(s.above05) / static_cast<Extended>(okCount)));
    display.showFloat(fields.p01,
                      toDouble(static_cast<Extended>(s.above01) / static_cast<Extended>(okCount)));
}

void showTestRow(const TestFields& fields, bool on, RunDisplay& display) {
    for (RunControl control : {fields.label, fields.value, fields.p05, fields.p01})
        display.setVisible(control, on);
}

std::string messagePart(const char* test, std::uint16_t okCount, std::uint32_t nrep,
                        std::string_view decimalSeparator) {
    if (okCount == 0) return std::string(test) + " could not be computed for any replicates";
    const Extended percent =
        (static_cast<Extended>(okCount) / static_cast<Extended>(nrep)) * 100;
    return std::string(test) + " could only be computed for " + std::to_string(okCount) +
           " out of " + std::to_string(nrep) + " replicates (" +
           formatGeneral(percent, 15, decimalSeparator) + " %)";
}

}  // namespace

void countSignificance(Extended statistic, Significance& counts) {
    if (statistic > kCritical05) checkedIncrement(counts.above05);
    if (statistic > kCritical01) checkedIncrement(counts.above01);
}

void runSimulation(const SimulationSettings& settings, SimulationState& state,
                   RunDisplay& display, std::string_view decimalSeparator) {
    if (settings.nrep > kProgressThreshold) display.setVisible(RunControl::ProgressBar1, true);

    Significance x2, g;
    state.x2Ok = 0;
    state.gOk = 0;

    const std::uint16_t nrep = narrowToU16(settings.nrep);
    for (std::uint32_t i = 1; i <= nrep; ++i) {
        const std::uint16_t n = narrowToU16(settings.n);
        state.lastSample = drawSample(state.frequencies, n);
        display.showInteger(RunControl::o11AdvEdit, state.lastSample.o11);
        display.showInteger(RunControl::o12AdvEdit, state.lastSample.o12);
        display.showInteger(RunControl::o22AdvEdit, state.lastSample.o22);
        state.expected = sampleExpectedCounts(state.lastSample, n);

        if (settings.x2On)
            storeStatistic(state.x2Table, i, pearsonX2(state.lastSample, state.expected),
                           state.x2Ok, RunControl::X2AdvEdit, display);
        if (settings.gOn)
            storeStatistic(state.gTable, i, likelihoodRatioG(state.lastSample, state.expected),
                           state.gOk, RunControl::GAdvEdit, display);

        if (settings.x2On) countSignificance(state.x2Table[i], x2);
        if (settings.gOn) countSignificance(state.gTable[i], g);

        if (settings.x2On) showProportions(x2, state.x2Ok, kX2Fields, display);
        if (settings.gOn) showProportions(g, state.gOk, kGFields, display);

        display.setProgressPosition(static_cast<int>(i));
        if (nrep <= kProgressThreshold) {
            display.repaint(RunControl::X2AdvEdit);
            display.repaint(RunControl::X2_05AdvEdit);
            display.repaint(RunControl::X2_01AdvEdit);
        }
    }

    display.showFloat(RunControl::e11AdvEdit, toDouble(state.expected.e11));
    display.showFloat(RunControl::e12AdvEdit, toDouble(state.expected.e12));
    display.showFloat(RunControl::e22AdvEdit, toDouble(state.expected.e22));
    display.setVisible(RunControl::AbsolutePanel, true);
    display.setVisible(RunControl::ResultsGroupBox, true);
    display.setVisible(RunControl::MessageLabel, true);
    display.setVisible(RunControl::ProgressBar1, false);
    showTestRow(kX2Fields, settings.x2On, display);
    showTestRow(kGFields, settings.gOn, display);
    display.setMessage(completionMessage(settings, state, decimalSeparator));
    display.enableSaveCommands();
}

std::string completionMessage(const SimulationSettings& settings, const SimulationState& state,
                              std::string_view decimalSeparator) {
    std::string x2Part, gPart;
    if (settings.x2On && state.x2Ok < settings.nrep)
        x2Part = messagePart("X2", state.x2Ok, settings.nrep, decimalSeparator);
    if (settings.gOn && state.gOk < settings.nrep)
        gPart = messagePart("G", state.gOk, settings.nrep, decimalSeparator);
    if (!x2Part.empty() && !gPart.empty()) return x2Part + "\r" + gPart;
    return x2Part + gPart;
}

}  // namespace zyg
