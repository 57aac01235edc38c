#pragma once

// The samples zygomet-test reads: one per line, an optional marker name and
// the three genotype counts AA AB BB, separated by spaces, tabs or commas.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ObservedSample.h"

namespace zyg {

struct InputSample {
    std::size_t line = 0;  // 1-based; 0 for counts given as arguments
    std::string marker;    // empty when the line names none
    SampleCounts counts;
};

// A line that holds no sample: its number, its text as typed, and why.
struct BadLine {
    std::size_t line = 0;
    std::string text;
    std::string why;
};

struct ParsedInput {
    std::vector<InputSample> samples;
    std::vector<BadLine> bad;  // in line order
};

// Reads every line of a text. Blank lines and lines whose first non-blank
// character is '#' are skipped, and so is the first remaining line when none
// of its three count fields is a number (a header). A final line without a
// line feed counts; "\r\n" ends a line as "\n" does. Long texts are read in
// parts on up to `threads` threads, with the same result.
ParsedInput parseSampleLines(std::string_view text, unsigned threads = 1);

// The fields of one sample given on the command line (the three counts).
// Nothing and `why` set when they are no sample.
std::optional<SampleCounts> parseSampleFields(const std::vector<std::string_view>& counts,
                                              std::string& why);

}  // namespace zyg
