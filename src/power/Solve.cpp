#include "power/Solve.h"

#include "core/Version.h"
#include "power/Parallel.h"

// Solving for n. Exact power is saw-toothed in n: the rejection regions of
// these discrete tests move in steps, so power rises on the whole but falls
// back by a little ("a tooth") here and there. The smallest n that reaches
// the target and the n from which power stays there are found with few exact
// computations:
//  1. a bracket: power at the lower bound, then at doubling n until one
//     reaches the target (or the upper bound is passed);
//  2. a search between the last n below and the first n at or above the
//     target (interpolation in sqrt(n), with halving as its safeguard), which
//     gives one crossing;
//  3. a scan of every n on both sides of that crossing. Going up, the scan
//     ends once kQuietRun consecutive n all lie above the target by the
//     deepest tooth seen in the whole scanned run (the largest fall from an
//     earlier n to a later one); going down, once kQuietRun consecutive n all
//     lie below the target by as much. Near power 1 (or 0) the clearance is
//     at most half the room left, where the teeth are no deeper. The quiet
//     run is longer than the widest tooth (the teeth of these tests span up
//     to about 20 n at n in the thousands, a few n at n 500000), the teeth
//     shrink as n grows and power's rise over a tooth's width is larger than
//     its depth, so no n
//     beyond the scanned run comes back across the target: the answers are
//     the first n at or above the target and the n after the last one below
//     it in the scanned run. Power at doubling n beyond the run, and at the
//     upper bound, checks this: an n there below the target is scanned from
//     as in step 3 and gives the answer instead.
// A range of at most kFullScan sample sizes is scanned whole instead, so the
// answers there are those of a complete scan.
//
// Solving for a parameter. At a fixed n every rejection region is fixed and
// power is a smooth function of the genotype frequencies, so of the
// parameter. Power is computed on kGrid equal steps from the value without a
// departure to the end of the range on the searched side; the first step
// that reaches the target is refined by bisection, and the answer is the
// value of 4 significant digits nearest to no departure whose power reaches
// the target. Any fall of power between steps on the way is reported: some
// tests are biased and reject less often under a small departure than under
// none.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "core/Csv.h"
#include "core/NumberText.h"

namespace zyg {

namespace {

constexpr std::uint32_t kFullScan = 400;
constexpr std::uint32_t kQuietRun = 32;
// Brackets this narrow are halved rather than interpolated.
constexpr std::uint32_t kHalvingWidth = 64;
constexpr int kGrid = 100;
// A fall of power smaller than this is rounding, not a fall.
constexpr double kFallTolerance = 1e-9;

// The model parameters of two settings are equal, `ignored` aside.
bool sameParameters(const ModelSetting& a, const ModelSetting& b,
                    const SolvableParameter* ignored = nullptr) {
    for (const ModelParameter& q : modelParameters())
        if (&q != ignored && q.get(a) != q.get(b)) return false;
    return true;
}

}  // namespace

const std::vector<const SolvableParameter*>& solvableParameters() {
    static const std::vector<const SolvableParameter*> list = [] {
        std::vector<const SolvableParameter*> out;
        for (const ModelParameter& q : modelParameters())
            if (q.solvable) out.push_back(&q);
        return out;
    }();
    return list;
}

const SolvableParameter* findSolvableParameter(std::string_view name) {
    const ModelParameter* q = findModelParameter(name);
    return q && q->solvable ? q : nullptr;
}

namespace {

// Exact power of one test at one level, each n or value computed once.
template <class Key>
class PowerMemo {
public:
    PowerMemo(TestLevel test, const std::atomic<bool>* cancel) : test_(test), cancel_(cancel) {}
    template <class Compute>
    const ExactPower& at(Key key, Compute compute) {
        auto it = memo_.find(key);
        if (it != memo_.end()) return it->second;
        if (cancel_ && cancel_->load()) throw StudyCancelled();
        return memo_.emplace(key, compute(key, std::span<const TestLevel>(&test_, 1))[0])
            .first->second;
    }
    // Computes the keys not yet known on `threads` threads at once.
    template <class Compute>
    void prefetch(const std::vector<Key>& keys, unsigned threads, Compute compute) {
        std::vector<Key> missing;
        for (Key k : keys)
            if (!memo_.count(k)) missing.push_back(k);
        if (missing.size() < 2 || threads < 2) return;
        if (cancel_ && cancel_->load()) throw StudyCancelled();
        std::vector<std::optional<ExactPower>> found(missing.size());
        std::vector<std::exception_ptr> failures(missing.size());
        std::vector<std::thread> pool;
        for (unsigned t = 0; t < std::min<std::size_t>(threads, missing.size()); ++t)
            pool.emplace_back([&, t] {
                for (std::size_t i = t; i < missing.size(); i += threads) try {
                        found[i] = compute(missing[i], std::span<const TestLevel>(&test_, 1))[0];
                    } catch (...) {
                        failures[i] = std::current_exception();
                    }
            });
        for (std::thread& t : pool) t.join();
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (failures[i]) std::rethrow_exception(failures[i]);
            memo_.emplace(missing[i], *found[i]);
        }
    }
    const std::map<Key, ExactPower>& values() const { return memo_; }

private:
    TestLevel test_;
    const std::atomic<bool>* cancel_;
    std::map<Key, ExactPower> memo_;
};

// The largest fall of power from an n to a later n of a run of consecutive n.
double deepestTooth(const std::map<std::uint32_t, ExactPower>& values, std::uint32_t from,
                    std::uint32_t to) {
    double highest = -1, deepest = 0;
    for (auto it = values.lower_bound(from); it != values.end() && it->first <= to; ++it) {
        highest = std::max(highest, it->second.power);
        deepest = std::max(deepest, highest - it->second.power);
    }
    return deepest;
}

// k 10^e as the double nearest to that decimal.
double decimalValue(long long k, int e) {
    return parseDecimal(std::to_string(k) + "e" + std::to_string(e), ".").value_or(0);
}

// x to 4 significant digits, rounded up (towards +infinity) or down.
double fourDigits(double x, bool up) {
    if (x == 0) return 0;
    const int e = static_cast<int>(std::floor(std::log10(std::fabs(x)))) - 3;
    double q = x / std::pow(10.0, e);
    if (std::fabs(q - std::round(q)) < 1e-7) q = std::round(q);
    return decimalValue(static_cast<long long>(up ? std::ceil(q) : std::floor(q)), e);
}

// How far power must lie from the target to count as clear of it: the
// deepest tooth, but at most half the room between the target and 1 (or 0),
// where power cannot go and where the teeth shrink with the room left. Every
// n of a quiet run lies that far clear, so its highest lies clear by the
// deepest tooth and the run's own tooth: an n beyond it back across the
// target would need a fall of about twice the deepest seen.
double clearance(double tooth, double room) { return std::min(tooth, room / 2); }

// Whether some n of the run reaches the target.
bool answerReached(const std::map<std::uint32_t, ExactPower>& values, std::uint32_t from,
                   std::uint32_t to, double target) {
    for (auto it = values.lower_bound(from); it != values.end() && it->first <= to; ++it)
        if (it->second.power >= target) return true;
    return false;
}

}  // namespace

SolveAnswer solveSampleSize(const ModelSetting& model, TestLevel test, double target,
                            std::uint32_t low, std::uint32_t high, const std::atomic<bool>* cancel,
                            unsigned threads) {
    SolveAnswer answer;
    answer.model = model;
    answer.test = test.test;
    answer.level = test.level;
    answer.low = low;
    answer.high = high;
    PowerMemo<std::uint32_t> memo(test, cancel);
    const auto compute = [&](std::uint32_t k, std::span<const TestLevel> t) {
        return settingPower(model, k, t);
    };
    auto power = [&](std::uint32_t n) { return memo.at(n, compute).power; };
    // The scans go one n at a time; the next n on their way are computed
    // ahead, one per thread.
    auto ahead = [&](std::uint32_t from, int step) {
        std::vector<std::uint32_t> next;
        for (unsigned i = 0; i < threads; ++i) {
            const std::int64_t n = std::int64_t{from} + step * std::int64_t{i};
            if (n < low || n > high) break;
            next.push_back(static_cast<std::uint32_t>(n));
        }
        memo.prefetch(next, threads, compute);
    };

    // The run of consecutive n scanned: [runLow, runHigh]; a run found
    // beyond it by the checks starts at lateRun.
    std::uint32_t runLow = low, runHigh = high;
    std::optional<std::uint32_t> lateRun;
    if (high - low < kFullScan) {
        for (std::uint32_t n = low; n <= high; ++n) {
            ahead(n, 1);
            power(n);
        }
    } else {
        std::optional<std::uint32_t> below, above;
        for (std::uint32_t n = low;;) {
            if (power(n) >= target) {
                above = n;
                break;
            }
            below = n;
            if (n == high) break;
            n = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(high, std::max<std::uint64_t>(n + 1, 2ull * n)));
        }
        // Power rises roughly as a smooth function of sqrt(n): the next n is
        // where the line through the bracket's ends, against sqrt(n), meets
        // the target, with the end that stayed twice in a row drawn halfway
        // to the target (the Illinois rule, which keeps one end from
        // sticking). Two steps that together did not halve the bracket are
        // followed by a halving, so it never takes more than twice the steps
        // of halving alone; close to the crossing the saw-tooth outweighs the
        // rise, so there it halves.
        if (below && above) {
            double lowGap = power(*below) - target, highGap = power(*above) - target;
            int kept = 0;  // which end the last step kept: -1 below, +1 above
            // The bracket's width one and two steps ago.
            std::uint32_t last = std::numeric_limits<std::uint32_t>::max(), beforeLast = last;
            while (*above - *below > 1) {
                const std::uint32_t width = *above - *below;
                std::uint32_t next = *below + width / 2;
                if (width > beforeLast / 2 || width <= kHalvingWidth) {
                    beforeLast = last = std::numeric_limits<std::uint32_t>::max();
                } else {
                    const double xb = std::sqrt(static_cast<double>(*below));
                    const double xa = std::sqrt(static_cast<double>(*above));
                    const double x = xb + (xa - xb) * (-lowGap / (highGap - lowGap));
                    next = static_cast<std::uint32_t>(
                        std::clamp<double>(std::round(x * x), *below + 1.0, *above - 1.0));
                    beforeLast = last;
                    last = width;
                }
                const double gap = power(next) - target;
                if (gap >= 0) {
                    above = next;
                    highGap = gap;
                    if (kept == -1) lowGap /= 2;
                    kept = -1;
                } else {
                    below = next;
                    lowGap = gap;
                    if (kept == 1) highGap /= 2;
                    kept = 1;
                }
            }
        }
        const std::uint32_t centre = above ? *above : high;
        runLow = runHigh = centre;
        power(centre);
        // Upwards from runHigh: until kQuietRun n lie clear above the target,
        // with the teeth measured from `from`.
        auto scanUp = [&](std::uint32_t from) {
            for (std::uint32_t quiet = 0; runHigh < high && quiet < kQuietRun;) {
                ahead(runHigh + 1, 1);
                const double p = power(++runHigh);
                const double tooth = deepestTooth(memo.values(), from, runHigh);
                quiet = p >= target + clearance(tooth, 1 - target) ? quiet + 1 : 0;
            }
        };
        scanUp(centre);
        // Downwards: until kQuietRun n lie clear below it.
        for (std::uint32_t quiet = 0; runLow > low && quiet < kQuietRun;) {
            ahead(runLow - 1, -1);
            const double p = power(--runLow);
            const double tooth = deepestTooth(memo.values(), runLow, runHigh);
            quiet = p < target - clearance(tooth, target) ? quiet + 1 : 0;
        }
        // A check of the argument above: power at doubling n beyond the run
        // and at the upper bound, computed together, one per thread. An n
        // there below the target starts a new run from it, scanned upwards
        // as before and checked in turn, and the answer comes from that run.
        auto probesAfter = [&](std::uint32_t n) {
            std::vector<std::uint32_t> probes;
            for (std::uint64_t probe = 2ull * n;
                 n < high && (probes.empty() || probes.back() < high); probe *= 2)
                probes.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(probe, high)));
            return probes;
        };
        for (bool moved = answerReached(memo.values(), runLow, runHigh, target); moved;) {
            moved = false;
            const std::vector<std::uint32_t> probes = probesAfter(runHigh);
            memo.prefetch(probes, threads, compute);
            for (std::uint32_t n : probes)
                if (power(n) < target) {
                    lateRun = runHigh = n;
                    scanUp(n);
                    moved = true;
                    break;
                }
        }
    }

    const auto& values = memo.values();
    for (auto it = values.lower_bound(runLow); it != values.end() && it->first <= runHigh; ++it)
        if (it->second.power >= target) {
            answer.firstN = it->first;
            break;
        }
    std::optional<std::uint32_t> lastBelow;
    for (auto it = values.lower_bound(runLow); it != values.end() && it->first <= runHigh; ++it)
        if (it->second.power < target) lastBelow = it->first;
    for (const auto& [n, exact] : values)
        if (exact.power > answer.bestPower || answer.bestN == 0) {
            answer.bestPower = exact.power;
            answer.bestN = n;
        }
    if (answer.firstN) {
        answer.reached = true;
        answer.power = values.at(*answer.firstN);
        if (lateRun) {
            lastBelow.reset();
            for (auto it = values.lower_bound(*lateRun); it != values.end(); ++it)
                if (it->second.power < target) lastBelow = it->first;
        }
        if (!lastBelow)
            answer.staysN = runLow;
        else if (*lastBelow < high)
            answer.staysN = *lastBelow + 1;
    }
    answer.evaluations = static_cast<std::uint32_t>(values.size());
    return answer;
}

SolveAnswer solveParameter(const ModelSetting& model, const SolvableParameter& parameter,
                           std::uint32_t n, TestLevel test, double target,
                           const std::atomic<bool>* cancel) {
    SolveAnswer answer;
    answer.model = model;
    answer.test = test.test;
    answer.level = test.level;
    answer.n = n;
    answer.low = answer.high = n;
    const double none = parameter.noneAt(model);
    const bool up = parameter.get(model) >= none;
    const std::optional<double> end = parameter.farEnd(model, up);
    answer.rangeEnd = end.value_or(none);

    PowerMemo<double> memo(test, cancel);
    auto exactAt = [&](double value) -> const ExactPower& {
        return memo.at(value, [&](double v, std::span<const TestLevel> t) {
            ModelSetting m = model;
            parameter.set(m, v);
            return settingPower(m, n, t);
        });
    };
    auto power = [&](double value) { return exactAt(value).power; };

    const double span = answer.rangeEnd - none;
    std::optional<int> crossing;
    double previous = 0;
    for (int i = 0; i <= kGrid; ++i) {
        const double x = i == kGrid ? answer.rangeEnd : none + span * i / kGrid;
        const double p = power(x);
        answer.bestPower = std::max(answer.bestPower, p);
        if (i > 0 && previous - p > kFallTolerance &&
            (answer.monotone || previous - p > answer.fallFromPower - answer.fallToPower)) {
            answer.monotone = false;
            answer.fallFrom = i == 1 ? none : none + span * (i - 1) / kGrid;
            answer.fallTo = x;
            answer.fallFromPower = previous;
            answer.fallToPower = p;
        }
        previous = p;
        if (p >= target) {
            crossing = i;
            break;
        }
        if (span == 0) break;
    }
    if (crossing) {
        answer.reached = true;
        double value = none;
        if (*crossing > 0) {
            double below = none + span * (*crossing - 1) / kGrid;
            double above = *crossing == kGrid ? answer.rangeEnd : none + span * *crossing / kGrid;
            for (int i = 0; i < 200 && std::fabs(above - below) > 1e-9 * std::fabs(above); ++i) {
                const double middle = below + (above - below) / 2;
                if (middle == below || middle == above) break;
                (power(middle) >= target ? above : below) = middle;
            }
            // The 4-digit value at or beyond `above`, within the range; then
            // nearer 4-digit values while they still reach the target.
            value = fourDigits(above, up);
            if (up ? value > answer.rangeEnd : value < answer.rangeEnd) value = answer.rangeEnd;
            for (int i = 0; i < 20 && power(value) < target && value != answer.rangeEnd; ++i) {
                value = fourDigits(up ? value * (1 + 1e-12) + 1e-300 : value * (1 - 1e-12), up);
                if (up ? value > answer.rangeEnd : value < answer.rangeEnd) value = answer.rangeEnd;
            }
            for (int i = 0; i < 20; ++i) {
                const double nearer =
                    fourDigits(value - (up ? 1 : -1) * std::fabs(value) * 1e-9, !up);
                if ((up ? nearer <= none : nearer >= none) || power(nearer) < target) break;
                value = nearer;
            }
        }
        parameter.set(answer.model, value);
        answer.value = value;
        answer.power = exactAt(value);
    }
    answer.evaluations = static_cast<std::uint32_t>(memo.values().size());
    return answer;
}

std::vector<SolveAnswer> solveStudy(const StudyRequest& request, const SolveAim& aim,
                                    const StudyControl& control) {
    struct Task {
        ModelSetting model;
        std::uint32_t n = 0;
        TestLevel test;
    };
    std::vector<TestLevel> tests;
    for (HweTest t : request.tests)
        for (double level : request.levels) tests.push_back({t, level});
    std::vector<Task> tasks;
    std::vector<ModelSetting> settings;
    for (const ModelSetting& s : modelSettings(request)) {
        if (aim.parameter) {
            // Only the side of the solved parameter's value matters.
            ModelSetting side = s;
            const SolvableParameter& q = *aim.parameter;
            const double none = q.noneAt(s);
            q.set(side, q.get(s) >= none ? none + 1 : none - 1);
            const bool seen = std::any_of(settings.begin(), settings.end(),
                                          [&](const auto& t) { return sameParameters(t, side); });
            if (seen) continue;
            settings.push_back(side);
            q.set(side, q.get(s) >= none ? none : std::nextafter(none, -1e300));
            for (std::uint32_t n : request.n)
                for (const TestLevel& t : tests) tasks.push_back({side, n, t});
        } else {
            settings.push_back(s);
            for (const TestLevel& t : tests) tasks.push_back({s, 0, t});
        }
    }
    const SampleBounds bounds =
        request.solveBounds.value_or(SampleBounds{1, maxSampleSize(request.method)});
    const std::uint32_t low = bounds.low, high = bounds.high;

    std::vector<SolveAnswer> answers(tasks.size());
    const std::size_t total = tasks.size();
    unsigned threads = control.threads ? control.threads : std::thread::hardware_concurrency();
    threads = std::max(threads, 1u);
    // Fewer answers than threads: each answer's scans use the rest.
    const unsigned inner =
        std::max<unsigned>(1, threads / static_cast<unsigned>(std::max<std::size_t>(total, 1)));
    forEachInParallel(
        total, threads,
        [&](std::size_t i) {
            const Task& t = tasks[i];
            answers[i] = aim.parameter ? solveParameter(t.model, *aim.parameter, t.n, t.test,
                                                        aim.target, control.cancel)
                                       : solveSampleSize(t.model, t.test, aim.target, low, high,
                                                         control.cancel, inner);
        },
        [&](std::size_t done) {
            if (control.progress) control.progress(done, total);
        },
        control.cancel);
    return answers;
}

namespace {

bool sameSetting(const ModelSetting& a, const ModelSetting& b, const SolvableParameter* ignored) {
    return a.model == b.model && sameParameters(a, b, ignored);
}

// "inbreeding, p 0.3, f 0.05": the model and the parameters it reads, the
// solved one left out.
std::string settingText(const ModelSetting& m, const SolvableParameter* solved) {
    std::string text = std::string(modelKey(m.model)) + ", p " + shortestText(m.p);
    for (const SolvableParameter* q : solvableParameters())
        if (q->model == m.model && q != solved)
            text += ", " + std::string(q->name) + " " + shortestText(q->get(m));
    if (m.locus != LocusKind::Autosomal) {
        text +=
            ", " + std::string(locusKindEntry(m.locus).label) + ", males " + shortestText(m.males);
        for (const SolvableParameter* q : solvableParameters())
            if (!q->loci.contains(LocusKind::Autosomal) && q != solved)
                text += ", " + std::string(q->name) + " " + shortestText(q->get(m));
    }
    return text;
}

std::string answerLine(const SolveAnswer& a, const SolveAim& aim) {
    const std::string target = targetText(aim.target);
    std::string line =
        "  " + std::string(hweTestName(a.test)) + ", level " + shortestText(a.level) + ": ";
    if (!aim.parameter) {
        if (!a.firstN)
            return line + "power does not reach " + target + " for n from " +
                   std::to_string(a.low) + " to " + std::to_string(a.high) + " (at most " +
                   fixedText(a.bestPower, 6) + ")\n";
        line += "n = " + std::to_string(*a.firstN) + " reaches " + target + " (power " +
                fixedText(a.power.power, 6) + "); ";
        if (a.staysN)
            line += "power stays at or above " + target + " from n = " + std::to_string(*a.staysN);
        else
            line += "power falls below " + target + " again by n = " + std::to_string(a.high);
        return line + "\n";
    }
    const std::string name(aim.parameter->name);
    if (a.value)
        line += name + " = " + fixedSignificantText(*a.value, 4) + " reaches " + target +
                " (power " + fixedText(a.power.power, 6) + ")";
    else
        line += "power does not reach " + target + " for " + name + " from " +
                shortestText(aim.parameter->noneAt(a.model)) + " to " + boundText(a.rangeEnd) +
                " (at most " + fixedText(a.bestPower, 6) + ")";
    if (!a.monotone)
        line += "; power is not monotone on the way: " + fixedText(a.fallFromPower, 6) + " at " +
                name + " " + boundText(a.fallFrom) + ", " + fixedText(a.fallToPower, 6) + " at " +
                name + " " + boundText(a.fallTo);
    return line + "\n";
}

}  // namespace

std::string solveTable(const std::vector<SolveAnswer>& answers, const SolveAim& aim) {
    std::string out;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        const SolveAnswer& a = answers[i];
        const bool newGroup = i == 0 || answers[i - 1].n != a.n ||
                              !sameSetting(answers[i - 1].model, a.model, aim.parameter);
        if (newGroup) {
            out += settingText(a.model, aim.parameter);
            if (aim.parameter)
                out += ", n " + std::to_string(a.n) + ", " + std::string(aim.parameter->name) +
                       (a.rangeEnd >= aim.parameter->noneAt(a.model) ? " upwards" : " downwards") +
                       ":\n";
            else
                out +=
                    ", n from " + std::to_string(a.low) + " to " + std::to_string(a.high) + ":\n";
        }
        out += answerLine(a, aim);
    }
    return out;
}

std::string solveCsv(const std::vector<SolveAnswer>& answers, const SolveAim& aim) {
    const std::string header = studyCsv({});
    std::vector<std::string> columns;
    for (std::size_t start = 0;;) {
        const std::size_t comma = header.find_first_of(",\n", start);
        if (comma == std::string::npos) break;
        columns.push_back(header.substr(start, comma - start));
        start = comma + 1;
    }
    const std::string solved = aim.parameter ? std::string(aim.parameter->column) : "n";
    std::vector<bool> blank(columns.size(), false);
    for (std::size_t c = 0; c < columns.size(); ++c)
        blank[c] = columns[c] == solved || columns[c] == "testable" || columns[c] == "power" ||
                   columns[c] == "conditional_power" || columns[c] == "mass_left_out";

    std::string out =
        header.substr(0, header.size() - 1) + (aim.parameter ? ",monotone\n" : ",stays_n\n");
    for (const SolveAnswer& a : answers) {
        PowerPoint point;
        point.model = a.model;
        point.n = aim.parameter ? a.n : a.firstN.value_or(0);
        point.test = a.test;
        point.level = a.level;
        point.method = PowerMethod::Exact;
        point.testable = a.power.testable;
        point.power = a.power.power;
        point.conditionalPower = a.power.conditionalPower;
        point.massLeftOut = a.power.massLeftOut;
        std::string row = studyCsv({point});
        row = row.substr(header.size());
        row.pop_back();
        if (!a.reached) {
            std::string kept;
            std::size_t c = 0, start = 0;
            for (;; ++c) {
                const std::size_t comma = row.find(',', start);
                const std::string field = row.substr(start, comma - start);
                if (c > 0) kept += ",";
                if (c >= blank.size() || !blank[c]) kept += field;
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            row = kept;
        }
        CsvLine tail;
        if (aim.parameter)
            tail.text(a.monotone ? "yes" : "no");
        else
            tail.whole(a.staysN ? std::optional<std::uint64_t>(*a.staysN) : std::nullopt);
        out += row + "," + tail.str();
    }
    return out;
}

std::string solveSummary(const std::vector<SolveAnswer>& answers, const SolveAim& aim,
                         std::string_view program) {
    std::string text;
    const std::string target = targetText(aim.target);
    for (const SolveAnswer& a : answers) {
        const std::string test = "the " + testLabel(a.test) +
                                 " test of Hardy-Weinberg proportions at level " +
                                 shortestText(a.level);
        const std::string model =
            "genotypes follow the " + settingText(a.model, aim.parameter) + " model";
        if (!text.empty()) text += ' ';
        if (!aim.parameter) {
            text += "For " + test + " to reach power " + target + " when " + model + ", ";
            if (a.firstN) {
                text += "the smallest sample size is n = " + std::to_string(*a.firstN) +
                        " (power " + fixedText(a.power.power, 6) + ")";
                text += a.staysN ? "; power stays at or above " + target +
                                       " from n = " + std::to_string(*a.staysN) + "."
                                 : "; power falls below " + target +
                                       " again by n = " + std::to_string(a.high) + ".";
            } else {
                text += "no sample size from " + std::to_string(a.low) + " to " +
                        std::to_string(a.high) + " suffices: power is at most " +
                        fixedText(a.bestPower, 6) + " (at n = " + std::to_string(a.bestN) + ").";
            }
        } else {
            const std::string name(aim.parameter->name);
            text += "At n = " + std::to_string(a.n) + ", for " + test + " to reach power " +
                    target + " when " + model + ", ";
            text += a.value
                        ? "the smallest departure is " + name + " = " +
                              fixedSignificantText(*a.value, 4) + " (power " +
                              fixedText(a.power.power, 6) + ")."
                        : "no " + name + " from " + shortestText(aim.parameter->noneAt(a.model)) +
                              " to " + boundText(a.rangeEnd) + " suffices: power is at most " +
                              fixedText(a.bestPower, 6) + ".";
        }
    }
    text +=
        " Power was computed exactly, by enumerating every possible sample of n genotypes, "
        "with Zygomet " +
        std::string(kZygometVersion) + " (" + std::string(program) + ").";
    return text + "\n";
}

}  // namespace zyg
