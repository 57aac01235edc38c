#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/NumberText.h"

namespace zyg {

std::string testHelpLines(std::span<const HweTest> tests) {
    std::string text;
    for (HweTest t : tests) {
        std::string head = "  ";
        head += hweTestName(t);
        if (head.size() < 20) head += std::string(20 - head.size(), ' ');
        text += head;
        const std::string_view help = testEntry(t).help;
        for (std::size_t start = 0;;) {
            const std::size_t end = help.find('\n', start);
            (text += "  ") += help.substr(start, end - start);
            text += '\n';
            if (end == std::string_view::npos) break;
            start = end + 1;
            text += std::string(20, ' ');
        }
    }
    return text;
}

std::string testNameList(std::span<const HweTest> tests, const char* separator) {
    std::string names;
    for (std::size_t i = 0; i < tests.size(); ++i) {
        if (i > 0) names += separator ? separator : i + 1 == tests.size() ? " and " : ", ";
        names += hweTestName(tests[i]);
    }
    return names;
}

void refuse(std::string_view option, std::string_view text, const std::string& why) {
    throw UsageError(std::string(option) + " \"" + std::string(text) + "\": " + why);
}

LocusKind parseLocusOption(std::string_view text) {
    if (const auto k = parseLocusKind(text)) return *k;
    std::string kinds;
    const std::size_t n = std::size(kLocusKinds);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) kinds += i + 1 == n ? " and " : ", ";
        kinds += kLocusKinds[i].name;
    }
    refuse("--locus", text, "the kinds of locus are " + kinds);
}

std::vector<HweTest> parseTestList(std::string_view text, std::span<const HweTest> offered,
                                   const char* separator) {
    std::vector<HweTest> tests;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        const auto t = parseHweTest(text.substr(start, comma - start));
        if (!t || std::find(offered.begin(), offered.end(), *t) == offered.end())
            refuse("--test", text, "the tests are " + testNameList(offered, separator));
        tests.push_back(*t);
        if (comma == std::string_view::npos) return tests;
        start = comma + 1;
    }
}

namespace {

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

std::vector<double> parseList(std::string_view option, std::string_view text,
                              std::size_t maxValues) {
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
            if (span + 1 > static_cast<double>(maxValues))
                refuse(option, text,
                       "the range has more than " + std::to_string(maxValues) + " values");
            // The last step counts when it lands on `to` up to rounding.
            const auto count = static_cast<std::size_t>(std::floor(span + 1e-9)) + 1;
            const int decimals = std::max({decimalsOf(fromText), decimalsOf(stepText)});
            for (std::size_t k = 0; k < count; ++k) {
                double v = rangeValue(from, step, k, decimals);
                if (v > to) v = to;
                values.push_back(v);
            }
        }
        if (values.size() > maxValues)
            refuse(option, text, "more than " + std::to_string(maxValues) + " values");
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

std::uint64_t parseWhole(std::string_view option, std::string_view text, std::uint64_t low,
                         std::uint64_t high, const std::string& allowed) {
    std::uint64_t value = 0;
    bool ok = !text.empty() && text.size() <= 18;
    for (char c : text) {
        if (c < '0' || c > '9') ok = false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || value < low || value > high) refuse(option, text, allowed);
    return value;
}

}  // namespace zyg
