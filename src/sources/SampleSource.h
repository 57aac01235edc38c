#pragma once

// Where observed samples come from. A source reads its input as it comes and
// yields the samples batch by batch, in input order, with the records that
// hold no sample as data (their line and why), so that a reader of any size
// of input holds one batch at a time. Today's source is the count-line
// format (CountLines.h). No Qt.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ObservedSample.h"

namespace zyg {

// Where a marker of a genotype file lies, and the calls it holds that are
// not in its counts. Empty for count lines.
struct GenotypeSite {
    std::string chrom;
    std::uint64_t pos = 0;
    std::string id, ref, alt;
    std::string group;          // with groups of people: the group counted
    std::uint64_t missing = 0;  // calls not counted (missing, or not valid here)
    std::uint64_t maleHet = 0;  // males' heterozygous calls on X, among `missing`
};

struct InputSample {
    std::size_t line = 0;  // 1-based; 0 for counts given as arguments
    std::string marker;    // empty when the line names none
    SampleCounts counts;
    GenotypeSite site;
};

// A line that holds no sample: its number, its text as read (the beginning
// of a line too long to hold), and why.
struct BadLine {
    std::size_t line = 0;
    std::string text;
    std::string why;
};

// A record read that is not tested as it stands (skipped: a multi-allelic
// site, chromosome Y) or is tested with a remark (a haploid call on an
// autosome). `reason` is a fixed text, so that reasons can be tallied.
struct RecordNote {
    std::size_t line = 0;
    std::string marker;
    std::string reason;
    bool skipped = true;
};

// The samples, bad lines and notes of one stretch of input, each in line
// order.
struct SampleBatch {
    std::vector<InputSample> samples;
    std::vector<BadLine> bad;
    std::vector<RecordNote> notes;
    bool empty() const { return samples.empty() && bad.empty() && notes.empty(); }
    void clear() {
        samples.clear();
        bad.clear();
        notes.clear();
    }
};

// An input that cannot be read; what() says why ("cannot be read (...)").
class SourceError : public std::runtime_error {
public:
    explicit SourceError(const std::string& why) : std::runtime_error(why) {}
};

// The bytes a source reads.
class ByteInput {
public:
    virtual ~ByteInput() = default;
    // Up to `size` bytes into `data`: how many, 0 at the end of the input.
    // Throws SourceError when the input cannot be read.
    virtual std::size_t read(char* data, std::size_t size) = 0;
};

// A file by name (throws SourceError when it cannot be opened), a stream (a
// program's standard input), a text in memory.
std::unique_ptr<ByteInput> fileInput(const std::string& path);
std::unique_ptr<ByteInput> streamInput(std::istream& in);
std::unique_ptr<ByteInput> textInput(std::string_view text);

class SampleSource {
public:
    virtual ~SampleSource() = default;
    // Replaces `batch` with the next samples and bad lines; false, with an
    // empty batch, once the input is over. Throws SourceError.
    virtual bool next(SampleBatch& batch) = 0;
};

// A record's text as a message quotes it: control characters, terminal
// escape codes and bytes that are no UTF-8 shown as escapes (\t, \x1b,
// \u009b), and cut after `limit` characters with "..." so that one line of
// binary stays one readable line.
std::string shownText(std::string_view text, std::size_t limit = 80);

}  // namespace zyg
