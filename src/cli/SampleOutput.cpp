#include "cli/SampleOutput.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>

#include "core/NumberText.h"
#include "engine/XLinked.h"

namespace zyg {

namespace {

// A marker as a CSV field: quoted when it holds a quote.
void appendCsvField(std::string& out, const std::string& text) {
    if (text.find('"') == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// One X-linked sample's figures as cells: nf, nm, the allele frequencies in
// females, males and overall, F of the females, then each test's statistic
// (X2 and G) and p-value; the tests that count the males on all alleles, the
// others on the females alone. `text` writes a number.
// Each test's p-value goes to `pValues` too when it is given.
template <class Text>
std::vector<std::string> xCells(const SampleCounts& c, std::span<const HweTest> tests, Text text,
                                std::vector<std::optional<Extended>>* pValues = nullptr) {
    const XSampleCounts x{c.aa, c.ab, c.bb, c.maleA, c.maleB};
    const XSampleSummary summary = summarizeXSample(x);
    std::vector<XTest> male;
    std::vector<HweTest> female;
    for (HweTest t : tests) {
        if (const auto xt = parseXTest(hweTestName(t)))
            male.push_back(*xt);
        else
            female.push_back(t);
    }
    const std::vector<XTestValue> withMales = testXSample(x, male);
    std::vector<SampleTestValue> females(female.size());
    if (summary.females > 0) females = testSample(SampleCounts{c.aa, c.ab, c.bb}, female);
    const auto optional = [&](const auto& v) { return v ? text(static_cast<double>(*v)) : ""; };
    std::vector<std::string> cells = {std::to_string(summary.females),
                                      std::to_string(summary.males),
                                      optional(summary.pFemale),
                                      optional(summary.pMale),
                                      text(summary.p),
                                      optional(summary.fFemale)};
    std::size_t m = 0, f = 0;
    for (HweTest t : tests) {
        const bool counted = parseXTest(hweTestName(t)).has_value();
        std::optional<Extended> statistic, pValue;
        if (counted) {
            statistic = withMales[m].statistic;
            pValue = withMales[m++].pValue;
        } else {
            statistic = females[f].statistic;
            pValue = females[f++].pValue;
        }
        if (hasStatistic(t)) cells.push_back(optional(statistic));
        cells.push_back(pValue ? text(*pValue) : "");
        if (pValues) pValues->push_back(pValue);
    }
    return cells;
}

// A p-value of an X-linked sample may lie far below the double range: there
// it is written as its decimal mantissa, to `digits` significant digits, and
// exponent.
std::string tinyText(Extended v, int digits) {
    int exponent = static_cast<int>(std::floor(std::log10(v)));
    Extended mantissa = v / std::pow(10.0L, static_cast<Extended>(exponent));
    if (mantissa >= 10) mantissa /= 10, ++exponent;
    if (mantissa < 1) mantissa *= 10, --exponent;
    std::string text = significantText(static_cast<double>(mantissa), digits);
    // The letter of the texts beside it: "e" in CSV, "E" in the table.
    (text += digits > 6 ? "e" : "E") += std::to_string(exponent);
    return text;
}

bool belowDoubles(Extended v) {
    return v > 0 && v < static_cast<Extended>(std::numeric_limits<double>::min());
}

std::string extendedText(Extended v) {
    return belowDoubles(v) ? tinyText(v, 12) : shortestText(static_cast<double>(v));
}

std::string generalExtended(Extended v) {
    return belowDoubles(v) ? tinyText(v, 6) : significantText(static_cast<double>(v), 6);
}

void appendXCsvRow(std::string& out, const InputSample& s, std::span<const HweTest> tests) {
    appendCsvField(out, s.marker);
    for (std::uint64_t v : {s.counts.aa, s.counts.ab, s.counts.bb, s.counts.maleA, s.counts.maleB})
        (out += ',') += std::to_string(v);
    for (const std::string& cell : xCells(s.counts, tests, [](auto v) { return extendedText(v); }))
        (out += ',') += cell;
    out += '\n';
}

void appendCsvRow(std::string& out, const InputSample& s, std::span<const HweTest> tests) {
    if (noGenotypes(s.counts)) {
        // The counts and n (on X: nf and nm) are 0, everything else empty.
        const bool x = s.counts.locus != LocusKind::Autosomal;
        const std::string header = sampleCsvHeader(tests, s.counts.locus);
        const auto fields = static_cast<std::size_t>(std::count(header.begin(), header.end(), ','));
        appendCsvField(out, s.marker);
        const std::size_t zeros = x ? 7 : 4;
        for (std::size_t f = 0; f < fields; ++f) out += f < zeros ? ",0" : ",";
        out += '\n';
        return;
    }
    if (s.counts.locus != LocusKind::Autosomal) return appendXCsvRow(out, s, tests);
    const SampleSummary summary = summarizeSample(s.counts);
    const std::vector<SampleTestValue> values = testSample(s.counts, tests);
    appendCsvField(out, s.marker);
    out += ',';
    out += std::to_string(s.counts.aa);
    out += ',';
    out += std::to_string(s.counts.ab);
    out += ',';
    out += std::to_string(s.counts.bb);
    out += ',';
    out += std::to_string(summary.n);
    out += ',';
    out += shortestText(summary.p);
    out += ',';
    if (summary.f) out += shortestText(*summary.f);
    for (std::size_t i = 0; i < tests.size(); ++i) {
        if (hasStatistic(tests[i])) {
            out += ',';
            if (values[i].statistic) out += shortestText(*values[i].statistic);
        }
        out += ',';
        if (values[i].pValue) out += shortestText(*values[i].pValue);
    }
    out += '\n';
}

// Runs work(begin, end, part) over contiguous parts of [0, count) on up to
// `threads` threads and rethrows the first error. Each thread takes the next
// part not yet taken, so a thread slowed by other work (a reader running
// ahead) takes fewer; each part's output is its own, whoever computes it.
template <class Work>
void inParts(std::size_t count, unsigned threads, std::size_t parts, Work work) {
    const std::size_t size = (count + parts - 1) / std::max<std::size_t>(parts, 1);
    std::vector<std::exception_ptr> errors(parts);
    auto runPart = [&](std::size_t part) {
        try {
            const std::size_t begin = std::min(count, part * size);
            work(begin, std::min(count, begin + size), part);
        } catch (...) {
            errors[part] = std::current_exception();
        }
    };
    std::atomic<std::size_t> next{0};
    const auto take = [&] {
        for (std::size_t p; (p = next.fetch_add(1)) < parts;) runPart(p);
    };
    std::vector<std::thread> pool;
    for (std::size_t t = 1; t < parts && t < threads; ++t) pool.emplace_back(take);
    take();
    for (std::thread& t : pool) t.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

std::size_t partsFor(std::size_t count, unsigned threads) {
    // Small inputs stay on the calling thread.
    if (threads <= 1 || count < 2000) return 1;
    return std::min<std::size_t>(count / 1000, 8 * static_cast<std::size_t>(threads));
}

std::string general(double value) { return significantText(value, 6); }

std::vector<std::string> xRow(const InputSample& s, std::span<const HweTest> tests) {
    const SampleCounts& c = s.counts;
    std::vector<std::string> row = {s.marker.empty() ? "-" : s.marker,
                                    std::to_string(c.aa),
                                    std::to_string(c.ab),
                                    std::to_string(c.bb),
                                    std::to_string(c.maleA),
                                    std::to_string(c.maleB)};
    for (std::string& cell : xCells(c, tests, [](auto v) { return generalExtended(v); }))
        row.push_back(std::move(cell));
    const std::string note = monomorphicNote(c);
    row.push_back(note.empty() ? "" : "not tested: " + note);
    return row;
}

}  // namespace

bool noGenotypes(const SampleCounts& c) { return c.aa + c.ab + c.bb + c.maleA + c.maleB == 0; }

std::string monomorphicNote(const SampleCounts& c) {
    if (noGenotypes(c)) return "no called genotype";
    if (c.locus != LocusKind::Autosomal) {
        const bool a = 2 * c.aa + c.ab + c.maleA > 0, b = 2 * c.bb + c.ab + c.maleB > 0;
        if (a && b) return {};
        return a ? "only A1 occurs" : "only A2 occurs";
    }
    if (c.ab > 0 || (c.aa > 0 && c.bb > 0)) return {};
    return c.aa > 0 ? "only A1 occurs" : "only A2 occurs";
}

std::string sampleCsvHeader(std::span<const HweTest> tests, LocusKind locus) {
    if (locus != LocusKind::Autosomal) {
        std::string header = "marker,AA,AB,BB,A,B";
        for (const std::string& column : xLinkedSampleColumns({tests.begin(), tests.end()}))
            (header += ",") += column;
        return header + "\n";
    }
    std::string header = "marker,AA,AB,BB,n,p,F";
    for (HweTest t : tests) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
        // on a literal plus a temporary string (GCC bug 105329).
        if (hasStatistic(t)) (header += ",") += testEntry(t).statisticColumn;
        (header += ",") += testEntry(t).pValueColumn;
    }
    return header + "\n";
}

std::string sampleCsvRows(std::span<const InputSample> samples, std::span<const HweTest> tests,
                          unsigned threads) {
    const std::size_t parts = partsFor(samples.size(), threads);
    std::vector<std::string> texts(parts);
    inParts(samples.size(), threads, parts,
            [&](std::size_t begin, std::size_t end, std::size_t part) {
                std::string& out = texts[part];
                out.reserve((end - begin) * (40 + 24 * tests.size()));
                for (std::size_t i = begin; i < end; ++i) appendCsvRow(out, samples[i], tests);
            });
    if (parts == 1) return std::move(texts[0]);
    std::size_t total = 0;
    for (const std::string& t : texts) total += t.size();
    std::string text;
    text.reserve(total);
    for (const std::string& t : texts) text += t;
    return text;
}

SampleTable::SampleTable(std::span<const HweTest> tests, LocusKind locus)
    : tests_(tests.begin(), tests.end()), locus_(locus) {}

std::string SampleTable::cellLine(const std::vector<std::string>& cells) {
    if (width_.size() < cells.size()) width_.resize(cells.size(), 0);
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        width_[c] = std::max(width_[c], cells[c].size());
        if (c > 0) line += '\t';
        line += cells[c];
    }
    return line + "\n";
}

std::string SampleTable::headerCells() {
    if (locus_ != LocusKind::Autosomal) {
        std::vector<std::string> header = {"marker", "AA", "AB", "BB", "A", "B"};
        for (std::string& column : xLinkedSampleColumns(tests_))
            header.push_back(std::move(column));
        header.emplace_back("note");
        return cellLine(header);
    }
    std::vector<std::string> header = {"marker", "AA",   "AB",   "BB",   "n",
                                       "p",      "E_AA", "E_AB", "E_BB", "F"};
    for (HweTest t : tests_) {
        if (hasStatistic(t)) header.emplace_back(testEntry(t).statisticColumn);
        header.emplace_back(testEntry(t).pValueColumn);
    }
    header.emplace_back("note");
    return cellLine(header);
}

std::string SampleTable::rowCells(std::span<const InputSample> samples, unsigned threads) {
    const std::span<const HweTest> tests = tests_;
    std::vector<std::vector<std::string>> rows(samples.size());
    inParts(samples.size(), threads, partsFor(samples.size(), threads),
            [&](std::size_t begin, std::size_t end, std::size_t) {
                for (std::size_t i = begin; i < end; ++i) {
                    const InputSample& s = samples[i];
                    if (noGenotypes(s.counts)) {
                        // Counts and n 0, the other cells empty, as wide as
                        // the header.
                        const bool x = s.counts.locus != LocusKind::Autosomal;
                        rows[i] = {s.marker.empty() ? "-" : s.marker};
                        rows[i].resize(x ? 8 : 5, "0");
                        rows[i].resize(std::max(width_.size(), rows[i].size() + 1) - 1);
                        rows[i].emplace_back("not tested: no called genotype");
                        continue;
                    }
                    if (s.counts.locus != LocusKind::Autosomal) {
                        rows[i] = xRow(s, tests);
                        continue;
                    }
                    const SampleSummary summary = summarizeSample(s.counts);
                    const std::vector<SampleTestValue> values = testSample(s.counts, tests);
                    std::vector<std::string>& row = rows[i];
                    row = {s.marker.empty() ? "-" : s.marker, std::to_string(s.counts.aa),
                           std::to_string(s.counts.ab),       std::to_string(s.counts.bb),
                           std::to_string(summary.n),         general(summary.p),
                           general(summary.expectedAA),       general(summary.expectedAB),
                           general(summary.expectedBB),       summary.f ? general(*summary.f) : ""};
                    for (std::size_t t = 0; t < tests.size(); ++t) {
                        if (hasStatistic(tests[t]))
                            row.push_back(values[t].statistic ? general(*values[t].statistic) : "");
                        row.push_back(values[t].pValue ? general(*values[t].pValue) : "");
                    }
                    const std::string note = monomorphicNote(s.counts);
                    row.push_back(note.empty() ? "" : "not tested: " + note);
                }
            });
    std::string text;
    for (const auto& row : rows) text += cellLine(row);
    return text;
}

std::string SampleTable::aligned(std::string_view cells) const {
    // The marker and the note read left-aligned, the numbers right-aligned.
    std::string out;
    const std::size_t columns = width_.size();
    std::size_t start = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        const std::size_t tab = std::min(cells.find('\t', start), cells.size());
        const std::string_view cell =
            cells.substr(std::min(start, cells.size()), tab - std::min(start, cells.size()));
        start = tab + 1;
        if (c == columns - 1) {
            out += cell;
            break;
        }
        const std::string pad(width_[c] - cell.size(), ' ');
        if (c == 0) {
            out += cell;
            out += pad;
        } else {
            out += pad;
            out += cell;
        }
        out += "  ";
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + "\n";
}

std::vector<std::string> maleColumns(std::span<const HweTest> maleTests) {
    std::vector<std::string> columns = {"A", "B", "nm", "p_male", "p_all"};
    for (HweTest t : maleTests) {
        if (hasStatistic(t)) columns.emplace_back(testEntry(t).statisticColumn);
        columns.emplace_back(testEntry(t).pValueColumn);
    }
    return columns;
}

MaleCells maleCells(const SampleCounts& c, std::span<const HweTest> maleTests, bool csv) {
    MaleCells out;
    const std::size_t width = maleColumns(maleTests).size();
    out.pValues.assign(maleTests.size(), std::nullopt);
    if (c.locus == LocusKind::Autosomal || noGenotypes(c)) {
        // An X-linked marker with no call: no males either.
        if (c.locus != LocusKind::Autosomal) out.cells.assign(3, std::string(1, '0'));
        out.cells.resize(width);
        return out;
    }
    out.pValues.clear();
    std::vector<std::string> x =
        csv ? xCells(
                  c, maleTests, [](auto v) { return extendedText(v); }, &out.pValues)
            : xCells(
                  c, maleTests, [](auto v) { return generalExtended(v); }, &out.pValues);
    // xCells: nf, nm, p_female, p_male, p, F_female, then the tests.
    out.cells = {std::to_string(c.maleA), std::to_string(c.maleB), x[1], x[3], x[4]};
    out.cells.insert(out.cells.end(), x.begin() + 6, x.end());
    return out;
}

std::string pValueText(Extended v, bool csv) { return csv ? extendedText(v) : generalExtended(v); }

}  // namespace zyg
