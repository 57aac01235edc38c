#pragma once

// Running a checked study request: every point exactly or by simulation on
// all cores, the sample sizes at which power reaches a target, and the
// outputs (a table for people, CSV for programs, the table the window copies,
// lines of the window's results file). No Qt: the command line and the study
// windows share it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ExactPower.h"
#include "engine/XLinked.h"
#include "power/StudyRequest.h"

namespace zyg {

// One test at one level at one point of the grid.
struct PowerPoint {
    ModelSetting model;
    std::uint32_t n = 0;
    std::optional<std::uint32_t> alleleCount;  // power among the samples with these copies of A1
    HweTest test = HweTest::X2;
    double level = 0.05;
    PowerMethod method = PowerMethod::Exact;
    double testable = 0;          // P(testable), or the share of replicates tested
    double power = 0;             // P(testable and rejected), or the share rejected
    double conditionalPower = 0;  // power / testable (what the window shows); NaN when 0 / 0
    // Simulated points: the standard error of `power` and its 95% Wilson
    // score interval.
    std::optional<double> se, low95, high95;
    std::uint32_t nrep = 0;             // simulated points, else 0
    std::optional<std::uint32_t> seed;  // simulated points
    double massLeftOut = 0;             // exact points: probability not enumerated
    // Simulated points: the replicates tested and rejected.
    std::uint32_t testedCount = 0, rejectedCount = 0;
    // Simulated X2 and G: the window's own counts of the run (tested, and
    // significant at 0.05 and 0.01), which its results line is made from.
    std::uint32_t windowTested = 0, windowAbove05 = 0, windowAbove01 = 0;
};

// A study and the points it gave.
struct StudyResult {
    StudyRequest request;
    std::vector<PowerPoint> points;
};

// Progress and cancellation of a study run. `progress` is called with the
// points done and the points in all, from the thread that called runStudy,
// at most about a hundred times; `cancel` may be set from any thread and
// ends the run early with StudyCancelled.
struct StudyControl {
    std::function<void(std::size_t done, std::size_t total)> progress;
    const std::atomic<bool>* cancel = nullptr;
    unsigned threads = 0;  // exact points: 0 means one per core
};

class StudyCancelled : public std::runtime_error {
public:
    StudyCancelled() : std::runtime_error("cancelled") {}
};

// Every point of a request that checkStudy accepts, in its order: model
// settings, then n, then allele counts when given, then tests in the given
// order, then levels. Exact points
// run on all cores; simulated points run one after another through the
// window's engine (which uses all cores itself), X2 and G from its
// statistics, the other tests from the same samples drawn again from the
// same seed. Nothing is checked here.
std::vector<PowerPoint> runStudy(const StudyRequest& request, const StudyControl& control = {});

// One simulated point set: every test and level at one model and n, tests
// outer, `replicates` samples from `seed`. The window's engine serializes it
// with every other run in the process and leaves the program-wide seed as it
// was.
std::vector<PowerPoint> simulatePoint(const ModelSetting& model, std::uint32_t n,
                                      const std::vector<HweTest>& tests,
                                      const std::vector<double>& levels, std::uint32_t replicates,
                                      std::uint32_t seed);

// The same on chromosome X (the setting's locus): females drawn from their
// model, males from their allele frequency, each test decided as its exact
// power decides it; from a generator of its own seeded with `seed`.
std::vector<PowerPoint> simulateXPoint(const ModelSetting& model, std::uint32_t n,
                                       const std::vector<HweTest>& tests,
                                       const std::vector<double>& levels, std::uint32_t replicates,
                                       std::uint32_t seed);
// A simulated point of one test at one level, before its counts.
PowerPoint simulatedPoint(const ModelSetting& model, std::uint32_t n, HweTest test, double level,
                          std::uint32_t nrep, std::uint32_t seed);
// A simulated point's figures from its counts of tested and rejected
// replicates: the shares, the standard error and the Wilson interval.
void fillSimulatedPoint(PowerPoint& point, std::uint32_t tested, std::uint32_t rejected,
                        std::uint32_t nrep);

// The numbers of females and males among n people of whom the share `males`
// is male: nm = n x males rounded, nf = n - nm.
XSampleSize xSampleSize(std::uint32_t n, double males);

// The exact power at one setting and n: exactPower on an autosome; on X the
// tests that count the males from xExactPower and the autosomal tests on the
// females alone (femaleOnlyPower), at the numbers of xSampleSize.
std::vector<ExactPower> settingPower(const ModelSetting& setting, std::uint32_t n,
                                     std::span<const TestLevel> tests);

// Where power reaches a target along n, for one model setting, test and
// level. Power is saw-toothed in n for these discrete tests, so the first n
// that reaches the target can be followed by smaller ones that do not.
struct TargetCrossing {
    ModelSetting model;
    HweTest test = HweTest::X2;
    double level = 0.05;
    std::optional<std::uint32_t> alleleCount;
    std::optional<std::uint32_t> firstReaching;  // the smallest n of the grid with power >= target
    std::optional<std::uint32_t> staysFrom;      // the smallest n from which every larger n of the
                                                 // grid has power >= target
};
std::vector<TargetCrossing> targetCrossings(const std::vector<PowerPoint>& points, double target);

// The points as CSV: a header row, then one row per point. The columns, in
// order: model,p,var,f,w11,w12,w22,n,test,level,method,testable,power,
// conditional_power,se,low95,high95,nrep,seed,mass_left_out,allele_count. Numbers are the
// shortest texts that read back to the same double, with "."; a value a row
// does not have is empty.
std::string studyCsv(const std::vector<PowerPoint>& points);

// The points as the window copies them to the clipboard: tab-separated, a
// header line, numbers with "."; X-linked points end each row with the
// locus, nf, nm and the males' p.
std::string studyTabText(const std::vector<PowerPoint>& points);

// An aligned table for people, one line per point, and the target lines.
std::string powerTable(const std::vector<PowerPoint>& points);
std::string targetTable(const std::vector<TargetCrossing>& crossings, double target);

// The window's result lines for simulated points with X2 or G: one line per
// model setting and n, X2 and G at 0.05 and 0.01 as the window would have
// shown and saved them after a run from the same seed.
std::vector<std::string> resultLines(const std::vector<PowerPoint>& points);
// Appends them to a results file, creating it with the header when it does
// not exist. Either every line is added or the file is left as it was.
void appendResultLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace zyg
