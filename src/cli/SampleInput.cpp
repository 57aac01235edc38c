#include "cli/SampleInput.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <thread>

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

// Appended rather than `"\"" + std::string(text)`: GCC 12 at -O3 warns
// falsely (-Wrestrict) on a literal plus a temporary string.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += text;
    return out + "\"";
}

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

namespace {

std::optional<SampleCounts> parseCounts(std::string_view aa, std::string_view ab,
                                        std::string_view bb, std::string& why) {
    std::uint64_t value[3] = {0, 0, 0};
    const std::string_view fields[3] = {aa, ab, bb};
    for (int i = 0; i < 3; ++i) {
        const auto v = parseCount(fields[i], why);
        if (!v) return std::nullopt;
        value[i] = *v;
    }
    if (value[0] + value[1] + value[2] == 0) {
        why = "all three counts are 0";
        return std::nullopt;
    }
    return SampleCounts{value[0], value[1], value[2]};
}

bool isBlankOrComment(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r,");
    return first == std::string_view::npos || line[first] == '#';
}

// Reads the lines of text[begin, end), the first of them numbered
// `lineNumber`; the first line with content may be a header when
// `headerPossible`.
void parseLines(std::string_view text, std::size_t lineNumber, bool headerPossible,
                ParsedInput& input) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t number = lineNumber++;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (isBlankOrComment(line)) continue;
        const Fields f = splitFields(line);
        const bool firstContent = headerPossible;
        headerPossible = false;

        const auto bad = [&](std::string why) {
            input.bad.push_back({number, std::string(line), std::move(why)});
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
            parseCounts(f.field[first], f.field[first + 1], f.field[first + 2], why);
        if (!counts) {
            bad(why);
            continue;
        }
        InputSample& sample = input.samples.emplace_back();
        sample.line = number;
        if (f.count == 4) sample.marker = std::string(f.field[0]);
        sample.counts = *counts;
    }
}

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
    return parseCounts(counts[0], counts[1], counts[2], why);
}

ParsedInput parseSampleLines(std::string_view text, unsigned threads) {
    ParsedInput input;
    // A byte-order mark some editors put before the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    // The lines up to the first with content, which may be a header, are
    // read first; the rest is read in parts on up to `threads` threads.
    std::size_t head = 0, lines = 0;
    while (head < text.size()) {
        std::size_t end = text.find('\n', head);
        if (end == std::string_view::npos) end = text.size();
        const bool content = !isBlankOrComment(text.substr(head, end - head));
        head = std::min(end + 1, text.size());
        ++lines;
        if (content) break;
    }
    parseLines(text.substr(0, head), 1, true, input);
    const std::string_view rest = text.substr(head);
    const std::size_t parts =
        threads > 1 && rest.size() >= (std::size_t{1} << 20) ? std::size_t{threads} : 1;
    std::vector<std::size_t> bounds = {0};
    for (std::size_t i = 1; i < parts; ++i) {
        const std::size_t at = rest.find('\n', rest.size() * i / parts);
        bounds.push_back(
            std::max(bounds.back(), at == std::string_view::npos ? rest.size() : at + 1));
    }
    bounds.push_back(rest.size());
    std::vector<ParsedInput> pieces(parts);
    std::vector<std::size_t> firstLine(parts, lines + 1);
    for (std::size_t i = 1; i < parts; ++i)
        firstLine[i] =
            firstLine[i - 1] + static_cast<std::size_t>(std::count(
                                   rest.begin() + static_cast<std::ptrdiff_t>(bounds[i - 1]),
                                   rest.begin() + static_cast<std::ptrdiff_t>(bounds[i]), '\n'));
    const auto parse = [&](std::size_t i) {
        pieces[i].samples.reserve((bounds[i + 1] - bounds[i]) / 16);
        parseLines(rest.substr(bounds[i], bounds[i + 1] - bounds[i]), firstLine[i], false,
                   pieces[i]);
    };
    std::vector<std::thread> workers;
    for (std::size_t i = 1; i < parts; ++i) workers.emplace_back(parse, i);
    parse(0);
    for (std::thread& t : workers) t.join();
    for (ParsedInput& piece : pieces) {
        if (input.samples.empty()) input.samples.reserve(piece.samples.size() * parts + 1);
        input.samples.insert(input.samples.end(), std::make_move_iterator(piece.samples.begin()),
                             std::make_move_iterator(piece.samples.end()));
        input.bad.insert(input.bad.end(), std::make_move_iterator(piece.bad.begin()),
                         std::make_move_iterator(piece.bad.end()));
    }
    return input;
}

}  // namespace zyg
