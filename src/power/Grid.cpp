#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/NumberText.h"
#include "power/PowerStudy.h"

namespace zyg {

namespace {

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

[[noreturn]] void refuse(std::string_view option, std::string_view value, const std::string& why) {
    throw UsageError(std::string(option) + " " + quoted(value) + ": " + why);
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The decimals a number text is written with: "0.25" 2, "5e-3" 3, "10" 0.
int decimalsOf(std::string_view text) {
    int decimals = 0, exponent = 0;
    const auto e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    if (const auto dot = mantissa.find('.'); dot != std::string_view::npos)
        decimals = static_cast<int>(mantissa.size() - dot - 1);
    if (e != std::string_view::npos) {
        std::string_view ex = text.substr(e + 1);
        if (!ex.empty() && ex.front() == '+') ex.remove_prefix(1);
        std::from_chars(ex.data(), ex.data() + ex.size(), exponent);
    }
    return std::clamp(decimals - exponent, 0, 17);
}

double number(std::string_view option, std::string_view whole, std::string_view text) {
    const std::string_view t = trimmed(text);
    const auto value = parseDecimal(t, ".");
    if (t.empty() || !value || !std::isfinite(*value))
        refuse(option, whole,
               "expected a number, a list like 0.1,0.2 or a range from:to:step like 10:1000:10");
    return *value;
}

// from + k * step rounded to the decimals the texts were written with, so
// that 0.1:0.5:0.1 gives 0.3 and not 0.30000000000000004.
double rangeValue(double from, double step, std::size_t k, int decimals) {
    const double raw = from + static_cast<double>(k) * step;
    char buffer[64];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, raw, std::chars_format::fixed, decimals);
    double value = raw;
    if (written.ec == std::errc()) std::from_chars(buffer, written.ptr, value);
    return value;
}

}  // namespace

std::vector<double> parseAxis(std::string_view option, std::string_view text) {
    std::vector<double> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos) {
            values.push_back(number(option, text, item));
        } else {
            const auto second = item.find(':', colon + 1);
            if (second == std::string_view::npos ||
                item.find(':', second + 1) != std::string_view::npos)
                refuse(option, text, "a range is from:to:step, three numbers");
            const std::string_view fromText = trimmed(item.substr(0, colon));
            const std::string_view toText = trimmed(item.substr(colon + 1, second - colon - 1));
            const std::string_view stepText = trimmed(item.substr(second + 1));
            const double from = number(option, text, fromText);
            const double to = number(option, text, toText);
            const double step = number(option, text, stepText);
            if (!(step > 0)) refuse(option, text, "the step of a range must be above 0");
            if (to < from) refuse(option, text, "a range must not run backwards (from above to)");
            const double span = (to - from) / step;
            if (span + 1 > static_cast<double>(kMaxAxisValues))
                refuse(option, text,
                       "the range has more than " + std::to_string(kMaxAxisValues) + " values");
            // The last step counts when it lands on `to` up to rounding.
            const auto count = static_cast<std::size_t>(std::floor(span + 1e-9)) + 1;
            const int decimals = std::max({decimalsOf(fromText), decimalsOf(stepText)});
            for (std::size_t k = 0; k < count; ++k) {
                double v = rangeValue(from, step, k, decimals);
                if (v > to) v = to;
                values.push_back(v);
            }
        }
        if (values.size() > kMaxAxisValues)
            refuse(option, text, "more than " + std::to_string(kMaxAxisValues) + " values");
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

std::vector<std::uint32_t> parseSampleSizes(std::string_view option, std::string_view text) {
    std::vector<std::uint32_t> sizes;
    for (double v : parseAxis(option, text)) {
        if (!(v >= 1 && v <= kMaxPowerSampleSize) || v != std::floor(v))
            refuse(option, text,
                   "sample sizes are whole numbers from 1 to " +
                       std::to_string(kMaxPowerSampleSize) + " (not " + shortestText(v) + ")");
        sizes.push_back(static_cast<std::uint32_t>(v));
    }
    return sizes;
}

std::string_view modelKey(GenotypeModel model) {
    switch (model) {
        case GenotypeModel::HardyWeinberg: return "hw";
        case GenotypeModel::Wahlund: return "wahlund";
        case GenotypeModel::Inbreeding: return "inbreeding";
        case GenotypeModel::Selection: return "selection";
    }
    return "";
}

std::optional<GenotypeModel> parseModelKey(std::string_view key) {
    for (GenotypeModel m : {GenotypeModel::HardyWeinberg, GenotypeModel::Wahlund,
                            GenotypeModel::Inbreeding, GenotypeModel::Selection})
        if (modelKey(m) == key) return m;
    return std::nullopt;
}

std::string_view methodName(PowerMethod method) {
    return method == PowerMethod::Exact ? "exact" : "simulate";
}

std::vector<ModelSetting> modelSettings(const PowerGrid& grid) {
    const bool wahlund = grid.model == GenotypeModel::Wahlund;
    const bool inbreeding = grid.model == GenotypeModel::Inbreeding;
    const bool selection = grid.model == GenotypeModel::Selection;
    const std::vector<double> zero{0}, one{1};
    const auto& vars = wahlund ? grid.var : zero;
    const auto& fs = inbreeding ? grid.f : zero;
    const auto& w11s = selection ? grid.w11 : one;
    const auto& w12s = selection ? grid.w12 : one;
    const auto& w22s = selection ? grid.w22 : one;
    std::vector<ModelSetting> out;
    for (double p : grid.p)
        for (double var : vars)
            for (double f : fs)
                for (double w11 : w11s)
                    for (double w12 : w12s)
                        for (double w22 : w22s) {
                            ModelSetting s;
                            s.model = grid.model;
                            s.p = p;
                            s.var = var;
                            s.f = f;
                            s.w11 = w11;
                            s.w12 = w12;
                            s.w22 = w22;
                            out.push_back(s);
                            if (out.size() > kMaxGridPoints)
                                throw UsageError("the grid has more than " +
                                                 std::to_string(kMaxGridPoints) +
                                                 " model settings");
                        }
    return out;
}

void checkGrid(const PowerGrid& grid) {
    auto nonEmpty = [](const char* option, std::size_t size) {
        if (size == 0) throw UsageError(std::string(option) + ": no value given");
    };
    nonEmpty("--p", grid.p.size());
    nonEmpty("--n", grid.n.size());
    nonEmpty("--test", grid.tests.size());
    nonEmpty("--level", grid.levels.size());
    for (double p : grid.p)
        if (!(p >= 0.01 && p <= 0.99))
            refuse("--p", shortestText(p), "p must lie from 0.01 to 0.99");
    for (std::uint32_t n : grid.n)
        if (n < 1 || n > kMaxPowerSampleSize)
            refuse(
                "--n", std::to_string(n),
                "sample sizes are whole numbers from 1 to " + std::to_string(kMaxPowerSampleSize));
    for (double level : grid.levels)
        if (!(level > 0 && level <= 0.5))
            refuse("--level", shortestText(level), "levels must lie above 0 and at most 0.5");
    switch (grid.model) {
        case GenotypeModel::Wahlund:
            nonEmpty("--var", grid.var.size());
            for (double var : grid.var)
                for (double p : grid.p) {
                    ModelSetting s{GenotypeModel::Wahlund, p};
                    s.var = var;
                    if (!checkModel(s).empty())
                        refuse("--var", shortestText(var),
                               "var must lie from 0 to p*q (" + boundText(p * (1 - p)) + " at p " +
                                   shortestText(p) + ")");
                }
            break;
        case GenotypeModel::Inbreeding:
            nonEmpty("--f", grid.f.size());
            for (double f : grid.f)
                if (!(f >= 0 && f <= 1)) refuse("--f", shortestText(f), "f must lie from 0 to 1");
            break;
        case GenotypeModel::Selection: {
            nonEmpty("--w11", grid.w11.size());
            nonEmpty("--w12", grid.w12.size());
            nonEmpty("--w22", grid.w22.size());
            const std::pair<const char*, const std::vector<double>*> axes[] = {
                {"--w11", &grid.w11}, {"--w12", &grid.w12}, {"--w22", &grid.w22}};
            for (const auto& [option, values] : axes)
                for (double w : *values)
                    if (!(w >= 0 && w <= 10))
                        refuse(option, shortestText(w), "fitnesses must lie from 0 to 10");
            const auto hasZero = [](const std::vector<double>& v) {
                return std::find(v.begin(), v.end(), 0.0) != v.end();
            };
            if (hasZero(grid.w11) && hasZero(grid.w12) && hasZero(grid.w22))
                throw UsageError("--w11 0 --w12 0 --w22 0: the three fitnesses must not all be 0");
            break;
        }
        case GenotypeModel::HardyWeinberg: break;
    }
    const std::vector<ModelSetting> settings = modelSettings(grid);
    for (const ModelSetting& s : settings)
        if (const std::string problem = checkModel(s); !problem.empty()) throw UsageError(problem);
    const double points = static_cast<double>(settings.size()) * grid.n.size() * grid.tests.size() *
                          grid.levels.size();
    if (points > static_cast<double>(kMaxGridPoints))
        throw UsageError("the grid has " + shortestText(points) + " points; at most " +
                         std::to_string(kMaxGridPoints) + " are allowed");
}

}  // namespace zyg
