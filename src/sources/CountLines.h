#pragma once

// The count-line format: one sample per line, an optional marker name and
// the three genotype counts AA AB BB, separated by spaces, tabs or commas.
// Blank lines and lines whose first non-blank character is '#' are skipped,
// and so is the first remaining line when none of its three count fields is a
// number (a header). A final line without a line feed counts; "\r\n" ends a
// line as "\n" does; a byte-order mark before the first line is skipped. No Qt.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "sources/SampleSource.h"

namespace zyg {

// The longest line read; a longer one (a comment aside) is a bad line, and
// the reader never holds more than this and one read's worth of input.
inline constexpr std::size_t kMaxCountLineBytes = 65536;

class CountLineSource : public SampleSource {
public:
    // Batches of about `batchRecords` samples and bad lines.
    // The layout of the lines: `locus` X reads three counts as females with no
    // males and five (AA AB BB A B) as females and males; without it the
    // first sample line decides (five counts: X), and on an autosome a line of
    // five counts is a bad line.
    explicit CountLineSource(ByteInput& input, std::size_t batchRecords = 65536,
                             std::optional<LocusKind> locus = std::nullopt);
    bool next(SampleBatch& batch) override;

private:
    void readLine(std::string_view line, std::size_t number, SampleBatch& batch);
    void tooLong(std::string_view start, std::size_t number, SampleBatch& batch);

    ByteInput& input_;
    std::size_t batchRecords_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;  // the bytes not yet read as lines
    std::size_t lines_ = 0;            // lines begun so far
    bool ended_ = false;
    bool draining_ = false;  // inside a line too long to hold, up to its end
    bool headerPossible_ = true;
    std::optional<LocusKind> layout_;
};

struct ParsedInput {
    std::vector<InputSample> samples;
    std::vector<BadLine> bad;  // in line order
};

// Every line of a text, as CountLineSource reads it with this layout: on an
// autosome five counts are a bad line; on X three counts are females with no
// males and five are females and males.
ParsedInput parseSampleLines(std::string_view text, LocusKind layout = LocusKind::Autosomal);

// The fields of one sample given on the command line: three counts, or five
// (an X-linked sample); three are females with no males when `locus` is X.
// Nothing and `why` set when they are no sample.
std::optional<SampleCounts> parseSampleFields(const std::vector<std::string_view>& counts,
                                              std::string& why,
                                              LocusKind locus = LocusKind::Autosomal);

}  // namespace zyg
