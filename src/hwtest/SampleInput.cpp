#include "hwtest/SampleInput.h"

#include <array>
#include <charconv>

#include "core/NumberText.h"

namespace zyg {

namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// The fields of a line: at most five are kept, `count` tells how many there
// were.
struct Fields {
    std::array<std::string_view, 5> field;
    std::size_t count = 0;
};

Fields splitFields(std::string_view line) {
    Fields f;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isSeparator(line[i])) ++i;
        if (i == line.size()) break;
        const std::size_t start = i;
        while (i < line.size() && !isSeparator(line[i])) ++i;
        if (f.count < f.field.size()) f.field[f.count] = line.substr(start, i - start);
        ++f.count;
    }
    return f;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// One count: decimal digits only, at most kMaxSampleGenotypeCount.
std::optional<std::uint64_t> parseCount(std::string_view text, std::string& why) {
    bool digits = !text.empty();
    for (char c : text)
        if (c < '0' || c > '9') digits = false;
    if (!digits) {
        const auto number = parseDecimal(text, ".");
        if (number && *number < 0)
            why = "the count " + quoted(text) + " is negative";
        else
            why = "the count " + quoted(text) + " is not a whole number";
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() ||
        value > kMaxSampleGenotypeCount) {
        why = "the count " + quoted(text) + " is above " + std::to_string(kMaxSampleGenotypeCount) +
              ", the largest allowed";
        return std::nullopt;
    }
    return value;
}

bool isNumber(std::string_view text) { return parseDecimal(text, ".").has_value(); }

}  // namespace

std::optional<SampleCounts> parseSampleFields(const std::vector<std::string_view>& counts,
                                              std::string& why) {
    if (counts.size() < 3) {
        why = "fewer than three counts (AA AB BB)";
        return std::nullopt;
    }
    if (counts.size() > 3) {
        why = "more than three counts (AA AB BB)";
        return std::nullopt;
    }
    std::uint64_t value[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        const auto v = parseCount(counts[static_cast<std::size_t>(i)], why);
        if (!v) return std::nullopt;
        value[i] = *v;
    }
    if (value[0] + value[1] + value[2] == 0) {
        why = "all three counts are 0";
        return std::nullopt;
    }
    return SampleCounts{value[0], value[1], value[2]};
}

ParsedInput parseSampleLines(std::string_view text) {
    ParsedInput input;
    // A byte-order mark some editors put before the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t lineNumber = 0, start = 0;
    bool headerPossible = true;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const Fields f = splitFields(line);
        if (f.count == 0) continue;
        if (const std::size_t hash = line.find_first_not_of(" \t");
            hash != std::string_view::npos && line[hash] == '#')
            continue;
        const bool firstContent = headerPossible;
        headerPossible = false;

        const auto bad = [&](std::string why) {
            input.bad.push_back({lineNumber, std::string(line), std::move(why)});
        };
        if (f.count < 3) {
            bad("fewer than three counts (AA AB BB)");
            continue;
        }
        if (f.count > 4) {
            bad("expected an optional marker name and three counts (AA AB BB), found " +
                std::to_string(f.count) + " fields");
            continue;
        }
        const std::size_t first = f.count - 3;
        if (firstContent && !isNumber(f.field[first]) && !isNumber(f.field[first + 1]) &&
            !isNumber(f.field[first + 2]))
            continue;  // a header
        std::string why;
        const auto counts =
            parseSampleFields({f.field[first], f.field[first + 1], f.field[first + 2]}, why);
        if (!counts) {
            bad(why);
            continue;
        }
        InputSample sample;
        sample.line = lineNumber;
        if (f.count == 4) sample.marker = std::string(f.field[0]);
        sample.counts = *counts;
        input.samples.push_back(std::move(sample));
    }
    return input;
}

}  // namespace zyg
