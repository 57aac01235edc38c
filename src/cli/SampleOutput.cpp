#include "cli/SampleOutput.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "core/NumberText.h"

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

void appendCsvRow(std::string& out, const InputSample& s, std::span<const HweTest> tests) {
    if (noGenotypes(s.counts)) {
        appendCsvField(out, s.marker);
        out += ",0,0,0,0,,";
        for (HweTest t : tests) out += hasStatistic(t) ? ",," : ",";
        out += '\n';
        return;
    }
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
// `threads` threads and rethrows the first error.
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
    std::vector<std::thread> pool;
    for (std::size_t part = 1; part < parts && part < threads; ++part) {
        pool.emplace_back([&, part] {
            for (std::size_t p = part; p < parts; p += threads) runPart(p);
        });
    }
    for (std::size_t p = 0; p < parts; p += std::max(1u, threads)) runPart(p);
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

}  // namespace

bool noGenotypes(const SampleCounts& c) { return c.aa + c.ab + c.bb + c.maleA + c.maleB == 0; }

std::string monomorphicNote(const SampleCounts& c) {
    if (noGenotypes(c)) return "no called genotype";
    if (c.ab > 0 || (c.aa > 0 && c.bb > 0)) return {};
    return c.aa > 0 ? "only A1 occurs" : "only A2 occurs";
}

std::string sampleCsvHeader(std::span<const HweTest> tests) {
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

SampleTable::SampleTable(std::span<const HweTest> tests) : tests_(tests.begin(), tests.end()) {}

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
                        rows[i] = {s.marker.empty() ? "-" : s.marker, "0", "0", "0", "0"};
                        rows[i].resize(10 + tests.size());
                        for (HweTest t : tests)
                            if (hasStatistic(t)) rows[i].emplace_back();
                        rows[i].emplace_back("not tested: no called genotype");
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

}  // namespace zyg
