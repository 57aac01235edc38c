#include "sources/CountLines.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "core/NumberText.h"

namespace zyg {

namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

// The fields of a line: at most six are kept, `count` tells how many there
// were.
struct Fields {
    std::array<std::string_view, 6> field;
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

// A field as a message quotes it, escaped: it may hold any byte. Appended
// rather than `"\"" + std::string(...)`: GCC 12 at -O3 warns falsely
// (-Wrestrict) on a literal plus a temporary string (GCC bug 105329).
std::string quoted(std::string_view text) {
    std::string out = "\"";
    out += shownText(text);
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

// Three counts AA AB BB, or on X three or five (AA AB BB A B). All counts 0
// is a marker with no genotype called: a sample of a file, reported without
// p-values, but no sample to test on its own.
std::optional<SampleCounts> parseCounts(const std::string_view* fields, std::size_t count,
                                        LocusKind locus, std::string& why,
                                        bool noneCalledIsASample) {
    std::uint64_t value[5] = {0, 0, 0, 0, 0};
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = parseCount(fields[i], why);
        if (!v) return std::nullopt;
        value[i] = *v;
        sum += *v;
    }
    // Five zeros stay refused: an X-linked line must count someone.
    if (sum == 0 && (!noneCalledIsASample || count == 5)) {
        why = count == 5 ? "all five counts are 0" : "all three counts are 0";
        return std::nullopt;
    }
    return SampleCounts{value[0], value[1], value[2], value[3], value[4], locus};
}

constexpr const char* kFiveCountsOnAnAutosome =
    "five counts are an X-linked sample (AA AB BB A B) in a file of autosomal samples; give "
    "--locus x";

bool isBlankOrComment(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t\r,");
    return first == std::string_view::npos || line[first] == '#';
}

// How much one read asks for.
constexpr std::size_t kReadBytes = std::size_t{1} << 18;
// How much of a line too long to hold its bad line keeps.
constexpr std::size_t kKeptOfLongLine = 256;

}  // namespace

CountLineSource::CountLineSource(ByteInput& input, std::size_t batchRecords,
                                 std::optional<LocusKind> locus)
    : input_(input),
      batchRecords_(std::max<std::size_t>(batchRecords, 1)),
      buffer_(kMaxCountLineBytes + 1 + kReadBytes),
      layout_(locus) {}

void CountLineSource::readLine(std::string_view line, std::size_t number, SampleBatch& batch) {
    // A byte-order mark some editors put before the first line.
    if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (line.size() > kMaxCountLineBytes) {
        tooLong(line, number, batch);
        return;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (isBlankOrComment(line)) return;
    const Fields f = splitFields(line);
    const bool firstContent = headerPossible_;
    headerPossible_ = false;

    const auto bad = [&](std::string why) {
        batch.bad.push_back({number, std::string(line), std::move(why)});
    };
    if (f.count < 3) return bad("fewer than three counts (AA AB BB)");
    const bool five = f.count == 5 || f.count == 6;
    if (f.count > 6 || (five && layout_ == LocusKind::Autosomal))
        return bad("expected an optional marker name and three counts (AA AB BB), found " +
                   std::to_string(f.count) + " fields" +
                   (five ? std::string("; ") + kFiveCountsOnAnAutosome : std::string()));
    const std::size_t last = f.count - 3;
    if (firstContent && !isNumber(f.field[last]) && !isNumber(f.field[last + 1]) &&
        !isNumber(f.field[last + 2]))
        return;  // a header
    // The first sample line fixes the layout when no locus was given.
    if (!layout_) layout_ = five ? LocusKind::XLinked : LocusKind::Autosomal;
    const std::size_t counts = five ? 5 : 3;
    const std::size_t first = f.count - counts;
    std::string why;
    const auto parsed = parseCounts(&f.field[first], counts, *layout_, why, true);
    if (!parsed) return bad(why);
    InputSample& sample = batch.samples.emplace_back();
    sample.line = number;
    if (first == 1) sample.marker = std::string(f.field[0]);
    sample.counts = *parsed;
}

// A line longer than the reader holds: a comment is skipped as any comment
// is; anything else is a bad line quoting its beginning.
void CountLineSource::tooLong(std::string_view start, std::size_t number, SampleBatch& batch) {
    const std::size_t first = start.find_first_not_of(" \t\r,");
    if (first != std::string_view::npos && start[first] == '#') return;
    headerPossible_ = false;
    batch.bad.push_back(
        {number, std::string(start.substr(0, kKeptOfLongLine)),
         "the line is longer than " + std::to_string(kMaxCountLineBytes) + " bytes"});
}

bool CountLineSource::next(SampleBatch& batch) {
    batch.clear();
    while (batch.samples.size() + batch.bad.size() < batchRecords_) {
        const char* from = buffer_.data() + begin_;
        const auto* newline = static_cast<const char*>(std::memchr(from, '\n', end_ - begin_));
        if (newline) {
            const std::string_view line(from, static_cast<std::size_t>(newline - from));
            begin_ += line.size() + 1;
            if (draining_)
                draining_ = false;  // the end of a line already reported
            else
                readLine(line, ++lines_, batch);
            continue;
        }
        // No line end among the bytes held: drop the rest of a line too long
        // to hold, report one that has just grown too long, keep the rest.
        if (draining_) {
            begin_ = end_;
        } else if (end_ - begin_ > kMaxCountLineBytes) {
            const std::size_t bad = batch.bad.size();
            tooLong(std::string_view(from, end_ - begin_), ++lines_, batch);
            draining_ = true;
            begin_ = end_;
            // Said now: the rest of the line may never end (/dev/zero).
            if (batch.bad.size() > bad) return true;
        }
        if (ended_) {
            // A final line without a line feed.
            if (begin_ < end_) readLine(std::string_view(from, end_ - begin_), ++lines_, batch);
            begin_ = end_;
            break;
        }
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        const std::size_t got = input_.read(buffer_.data() + end_, buffer_.size() - end_);
        if (got == 0) ended_ = true;
        end_ += got;
    }
    return !batch.empty();
}

ParsedInput parseSampleLines(std::string_view text, LocusKind layout) {
    const auto input = textInput(text);
    CountLineSource source(*input, 65536, layout);
    ParsedInput parsed;
    SampleBatch batch;
    while (source.next(batch)) {
        parsed.samples.insert(parsed.samples.end(), std::make_move_iterator(batch.samples.begin()),
                              std::make_move_iterator(batch.samples.end()));
        parsed.bad.insert(parsed.bad.end(), std::make_move_iterator(batch.bad.begin()),
                          std::make_move_iterator(batch.bad.end()));
    }
    return parsed;
}

std::optional<SampleCounts> parseSampleFields(const std::vector<std::string_view>& counts,
                                              std::string& why, LocusKind locus) {
    if (counts.size() < 3) {
        why = "fewer than three counts (AA AB BB)";
        return std::nullopt;
    }
    if (counts.size() != 3 && counts.size() != 5) {
        why = "more than three counts (AA AB BB)";
        if (counts.size() > 5) why = "more than five counts (AA AB BB A B)";
        return std::nullopt;
    }
    return parseCounts(counts.data(), counts.size(),
                       counts.size() == 5 ? LocusKind::XLinked : locus, why, false);
}

}  // namespace zyg
