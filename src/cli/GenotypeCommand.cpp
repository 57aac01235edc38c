#include "cli/GenotypeCommand.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <ostream>

#include "cli/HeldOutput.h"
#include "cli/Options.h"
#include "cli/QqPlot.h"
#include "cli/SampleOutput.h"
#include "core/NumberText.h"
#include "engine/NullSize.h"
#include "engine/ObservedSample.h"
#include "report/WholeFile.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-test";
constexpr std::size_t kListed = 20;
constexpr std::size_t kGenotypeBatch = 8192;
// The group column of the row that sums up a marker's groups.
constexpr const char* kSmallestGroup = "(smallest)";

// The minor-allele-frequency bins of the summary.
constexpr std::array<double, 4> kMafUpper = {0.01, 0.05, 0.2, 0.5};
constexpr std::array<const char*, 4> kMafBin = {"0-0.01", "0.01-0.05", "0.05-0.2", "0.2-0.5"};

std::string failColumn(HweTest test, double level) {
    std::string_view column = testEntry(test).pValueColumn;
    if (column.substr(0, 2) == "p_") column.remove_prefix(2);
    std::string name = "fail_";
    name += column;
    name += '_';
    return name + levelText(level);
}

bool noCall(const SampleCounts& c) { return c.aa + c.ab + c.bb + c.maleA + c.maleB == 0; }

// The counts the columns of count lines describe: on X the females'
// genotypes, which the autosomal tests see there.
SampleCounts countColumns(const SampleCounts& c) {
    if (c.locus != LocusKind::XLinked) return c;
    return SampleCounts{c.aa, c.ab, c.bb};
}

// The frequency of the rarer allele among everyone's alleles.
double minorFrequency(const SampleCounts& c) {
    const double a = 2.0 * static_cast<double>(c.aa) + static_cast<double>(c.ab + c.maleA);
    const double all =
        2.0 * static_cast<double>(c.aa + c.ab + c.bb) + static_cast<double>(c.maleA + c.maleB);
    if (all == 0) return 0;
    return std::min(a / all, 1 - a / all);
}

using PValues = std::vector<std::optional<Extended>>;

// A table aligned once every row is in: text columns to the left, numbers to
// the right, the last (the note) as it is.
class Aligner {
public:
    explicit Aligner(std::vector<bool> left) : left_(std::move(left)) {}
    std::string line(const std::vector<std::string>& cells) {
        if (width_.size() < cells.size()) width_.resize(cells.size(), 0);
        std::string out;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            width_[c] = std::max(width_[c], cells[c].size());
            if (c) out += '\t';
            out += cells[c];
        }
        return out + "\n";
    }
    std::string aligned(std::string_view cells) const {
        std::string out;
        std::size_t start = 0;
        for (std::size_t c = 0; c < width_.size(); ++c) {
            const std::size_t tab = std::min(cells.find('\t', start), cells.size());
            const std::size_t from = std::min(start, cells.size());
            const std::string_view cell = cells.substr(from, tab - from);
            start = tab + 1;
            if (c + 1 == width_.size()) {
                out += cell;
                break;
            }
            const std::string pad(width_[c] - std::min(width_[c], cell.size()), ' ');
            const bool left = c < left_.size() && left_[c];
            if (!left) out += pad;
            out += cell;
            if (left) out += pad;
            out += "  ";
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out + "\n";
    }

private:
    std::vector<bool> left_;
    std::vector<std::size_t> width_;
};

std::vector<std::string> splitTabs(std::string_view line) {
    std::vector<std::string> cells;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        cells.emplace_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    return cells;
}

// What the summary counts.
struct Tallies {
    std::size_t records = 0, rows = 0, tested = 0, noCall = 0, monomorphic = 0, bad = 0;
    std::vector<std::pair<std::string, std::size_t>> skipped;  // by reason, first seen first
    // [test][level][0: all, 1..4: MAF bins]
    std::vector<std::vector<std::array<std::size_t, 5>>> failing;
    // The number expected to fail if every marker were in Hardy-Weinberg
    // proportions: the sum of the tests' sizes given each marker's n and
    // allele count; likewise.
    std::vector<std::vector<std::array<long double, 5>>> expected;
    void skip(const std::string& reason) {
        for (auto& [r, n] : skipped)
            if (r == reason) {
                ++n;
                return;
            }
        skipped.emplace_back(reason, 1);
    }
};

// A reader's message as the command says it: one that names its own file or
// option (a .fam, --keep) as it is, any other after the file read.
std::string fileMessage(const std::string& file, const std::string& what) {
    if (what.rfind("--", 0) == 0 || what.rfind("\"", 0) == 0) return what;
    std::string message = "--file \"";
    message += file;
    return message + "\": " + what;
}

class GenotypeTester {
public:
    GenotypeTester(const GenotypeRun& run, const SampleStreams& io, GenotypeSource& source)
        : run_(run), io_(io), source_(source), table_(autosomalTests(run.tests)) {
        grouped_ = !source.groups().empty();
        tallies_.failing.assign(run.tests.size(),
                                std::vector<std::array<std::size_t, 5>>(run.levels.size()));
        tallies_.expected.assign(run.tests.size(),
                                 std::vector<std::array<long double, 5>>(run.levels.size()));
        // Each test's place among the tests of its columns: those of count
        // lines, which every marker gets, or those that count the males.
        for (HweTest t : run.tests) {
            const bool male = !appliesTo(t, LocusKind::Autosomal);
            std::vector<HweTest>& list = male ? maleTests_ : autoTests_;
            slot_.push_back({male, list.size()});
            list.push_back(t);
        }
        std::vector<TestLevel> requests;
        for (HweTest t : autoTests_)
            for (double level : run.levels) requests.push_back({t, level});
        sizes_ = std::make_unique<NullSizeCache>(requests);
        for (HweTest t : maleTests_)
            for (double level : run.levels)
                xRequests_.push_back({*parseXTest(hweTestName(t)), level});
        // A marker kept or dropped by --keep-passing is decided by the first
        // test asked that applies to it: on X every test does (those of
        // count lines on the females).
        for (std::size_t t = 0; t < run.tests.size() && !autoDecider_; ++t)
            if (!slot_[t].male) autoDecider_ = t;
        if (run.qq) qq_ = std::make_unique<QqCollector>(run.tests);
    }

    int run() {
        for (const std::string& w : source_.warnings())
            io_.err << kProgram << ": warning: " << w << "\n";
        RowsOutput output(run_.csv);
        emit_ = [&](std::string_view piece) { output.emit(piece); };
        emitHeader();
        if (run_.annotate) {
            AnnotationRequest request{*run_.annotate, {}, {}};
            for (HweTest t : run_.tests) {
                request.tags.push_back(annotationTag(t));
                std::string description = "p-value of the test of Hardy-Weinberg proportions ";
                description += testEntry(t).name;
                request.descriptions.push_back(description + " (zygomet-test)");
            }
            try {
                source_.beginAnnotation(request);
            } catch (const SourceError& e) {
                throw UsageError(e.what());
            }
        }
        if (run_.outPassing) passingWriter_ = std::make_unique<WholeFileWriter>(*run_.outPassing);
        SampleBatch batch, ahead;
        std::size_t notesListed = 0;
        // The next batch is read while this one is tested and written, unless
        // the annotated copy needs the source's records of this one.
        const bool readAhead = !run_.annotate && io_.threads > 1;
        std::future<bool> reading;
        const auto nextBatch = [&] {
            if (!readAhead) return source_.next(batch);
            bool more = reading.valid() ? reading.get() : source_.next(ahead);
            std::swap(batch, ahead);
            if (more) reading = std::async(std::launch::async, [&] { return source_.next(ahead); });
            return more;
        };
        try {
            while (nextBatch()) {
                for (const BadLine& b : batch.bad) {
                    ++tallies_.bad;
                    tallies_.records = std::max(tallies_.records, b.line);
                    if (run_.skipBad || tallies_.bad <= kListed) {
                        io_.err << kProgram << ": " << where(b.line) << ": ";
                        if (!b.text.empty()) io_.err << "\"" << shownText(b.text) << "\": ";
                        io_.err << b.why << "\n";
                    }
                }
                for (const RecordNote& n : batch.notes) {
                    tallies_.records = std::max(tallies_.records, n.line);
                    if (n.skipped) tallies_.skip(n.reason);
                    if (++notesListed <= kListed)
                        io_.err << kProgram << ": " << where(n.line) << " ("
                                << shownText(n.marker, 40)
                                << "): " << (n.skipped ? "skipped: " : "note: ") << n.reason
                                << "\n";
                }
                if ((tallies_.bad > 0 && !run_.skipBad) || output.failed()) continue;
                rows(batch.samples);
                passing(batch);
            }
        } catch (const SourceError& e) {
            if (reading.valid()) reading.wait();
            throw UsageError(fileMessage(run_.file, e.what()));
        } catch (...) {
            if (reading.valid()) reading.wait();
            throw;
        }
        if (notesListed > kListed)
            io_.err << kProgram << ": and " << notesListed - kListed << " more notes\n";
        if (tallies_.bad > 0 && !run_.skipBad) {
            if (tallies_.bad > kListed)
                io_.err << kProgram << ": and " << tallies_.bad - kListed << " more bad records\n";
            return kExitUsage;
        }

        if (const std::string fault = output.finish(
                io_.out, [&](std::string_view line) { return aligner_.aligned(line); });
            !fault.empty()) {
            io_.err << kProgram << ": " << fault << "\n";
            return kExitFailure;
        }
        if (run_.annotate) {
            if (const std::string fault = source_.endAnnotation(); !fault.empty()) {
                io_.err << kProgram << ": --annotate \"" << *run_.annotate
                        << "\": the file cannot be written (" << fault << ")\n";
                return kExitFailure;
            }
        }
        if (passingWriter_) {
            if (const std::string fault = passingWriter_->commit(); !fault.empty()) {
                io_.err << kProgram << ": --out-passing \"" << *run_.outPassing
                        << "\": the file cannot be written (" << fault << ")\n";
                return kExitFailure;
            }
        }
        if (tallies_.bad > 0)
            io_.err << kProgram << ": " << tallies_.bad
                    << (tallies_.bad == 1 ? " bad record" : " bad records") << " skipped\n";
        if (const int status = writeSummary(); status != kExitDone) return status;
        if (qq_) {
            if (const std::string fault = writeQqFile(*run_.qq, qq_->panels()); !fault.empty()) {
                io_.err << kProgram << ": --qq \"" << *run_.qq << "\": " << fault << "\n";
                return kExitFailure;
            }
        }
        io_.out.flush();
        if (!io_.out) {
            io_.err << kProgram << ": standard output cannot be written\n";
            return kExitFailure;
        }
        return kExitDone;
    }

private:
    // Where a test of the run has its columns.
    struct Slot {
        bool male = false;      // among the tests that count the males
        std::size_t index = 0;  // its place among the tests of its columns
    };

    static std::vector<HweTest> autosomalTests(const std::vector<HweTest>& tests) {
        std::vector<HweTest> out;
        for (HweTest t : tests)
            if (appliesTo(t, LocusKind::Autosomal)) out.push_back(t);
        return out;
    }

    std::string where(std::size_t record) const {
        return run_.file + ", record " + std::to_string(record);
    }

    std::vector<std::string> siteHeader() const {
        std::vector<std::string> cells = {"chrom", "pos", "id", "ref", "alt"};
        if (grouped_) cells.emplace_back("group");
        return cells;
    }
    std::vector<std::string> siteCells(const InputSample& s) const {
        std::vector<std::string> cells = {s.site.chrom, std::to_string(s.site.pos), s.site.id,
                                          s.site.ref, s.site.alt};
        if (grouped_) cells.push_back(s.site.group);
        return cells;
    }
    // After the columns of count lines: what was not counted, the fail
    // columns, and the columns of the tests that count the males.
    std::vector<std::string> trailHeader() const {
        std::vector<std::string> cells = {"n_missing", "male_het"};
        for (HweTest t : run_.tests)
            for (double level : run_.levels) cells.push_back(failColumn(t, level));
        if (!maleTests_.empty())
            for (std::string& c : maleColumns(maleTests_)) cells.push_back(std::move(c));
        return cells;
    }
    std::vector<std::string> trailCells(const InputSample& s, const PValues& p,
                                        std::vector<std::string>& male) const {
        std::vector<std::string> cells = {std::to_string(s.site.missing),
                                          std::to_string(s.site.maleHet)};
        for (std::size_t t = 0; t < run_.tests.size(); ++t)
            for (double level : run_.levels)
                cells.emplace_back(!p[t] ? "" : *p[t] <= level ? "1" : "0");
        for (std::string& c : male) cells.push_back(std::move(c));
        return cells;
    }

    static void appendField(std::string& out, std::string_view c) {
        if (c.find_first_of(",\"\n") == std::string_view::npos) {
            out += c;
        } else {
            out += '"';
            for (char ch : c) {
                if (ch == '"') out += '"';
                out += ch;
            }
            out += '"';
        }
        out += ',';
    }
    static void appendCsv(std::string& out, const std::vector<std::string>& cells) {
        for (const std::string& c : cells) appendField(out, c);
    }
    static void appendNumber(std::string& out, std::uint64_t value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out.append(digits, end);
    }

    // A CSV row without building its cells one by one: the file's hot path.
    void appendCsvRow(std::string& out, const InputSample& s, std::string_view countPart,
                      const PValues& p, const std::vector<std::string>& male) const {
        appendField(out, s.site.chrom);
        appendNumber(out, s.site.pos);
        out += ',';
        appendField(out, s.site.id);
        appendField(out, s.site.ref);
        appendField(out, s.site.alt);
        if (grouped_) appendField(out, s.site.group);
        out += countPart;
        out += ',';
        appendNumber(out, s.site.missing);
        out += ',';
        appendNumber(out, s.site.maleHet);
        for (std::size_t t = 0; t < run_.tests.size(); ++t)
            for (double level : run_.levels) {
                out += ',';
                if (p[t]) out += *p[t] <= level ? '1' : '0';
            }
        for (const std::string& c : male) (out += ',') += c;
        out += '\n';
    }

    // Where each test's p-value lies: among the count-line columns, or among
    // the columns of the tests that count the males.
    void findPColumns(const std::vector<std::string>& columns) {
        const std::vector<std::string> male = maleColumns(maleTests_);
        for (HweTest t : run_.tests) {
            const std::vector<std::string>& among =
                appliesTo(t, LocusKind::Autosomal) ? columns : male;
            pColumn_.push_back(static_cast<std::size_t>(
                std::find(among.begin(), among.end(), testEntry(t).pValueColumn) - among.begin()));
        }
    }
    static std::vector<std::string> splitCsv(const std::string& line) {
        std::vector<std::string> cells;
        for (std::size_t start = 0;;) {
            const std::size_t comma = line.find(',', start);
            cells.push_back(line.substr(start, comma - start));
            if (comma == std::string::npos) return cells;
            start = comma + 1;
        }
    }

    void emitHeader() {
        if (run_.csv) {
            std::string base = sampleCsvHeader(autoTests_);
            base.pop_back();
            findPColumns(splitCsv(base));
            countFields_ = static_cast<std::size_t>(std::count(base.begin(), base.end(), ',')) + 1;
            std::string line;
            appendCsv(line, siteHeader());
            line += base;
            for (const std::string& c : trailHeader()) (line += ',') += c;
            emit_(line + "\n");
            return;
        }
        std::string base = table_.headerCells();
        base.pop_back();
        std::vector<std::string> count = splitTabs(base);
        findPColumns(count);
        countFields_ = count.size() - 1;  // the note last
        std::vector<std::string> cells = siteHeader();
        const std::size_t lead = cells.size();
        cells.insert(cells.end(), count.begin(), count.end() - 1);
        for (const std::string& c : trailHeader()) cells.push_back(c);
        cells.emplace_back("note");
        std::vector<bool> left(cells.size(), false);
        for (std::size_t c = 0; c <= lead; ++c) left[c] = c != 1;  // the site, then the marker
        aligner_ = Aligner(left);
        emit_(aligner_.line(cells));
    }

    // Whether a marker's p-values are wanted beyond its row's text.
    bool wantsPValues() const {
        return !run_.levels.empty() || run_.annotate || passingWriter_ || qq_;
    }

    // The p-values of the tests asked, in their order: those of count lines
    // on the counts those columns show, the others from the male cells.
    PValues pValues(const InputSample& s, const MaleCells& male) const {
        PValues p(run_.tests.size());
        const SampleCounts c = countColumns(s.counts);
        std::vector<SampleTestValue> values;
        if (!noCall(c) && !autoTests_.empty()) values = testSample(c, autoTests_);
        for (std::size_t t = 0; t < run_.tests.size(); ++t) {
            const Slot& slot = slot_[t];
            if (slot.male) {
                if (slot.index < male.pValues.size()) p[t] = male.pValues[slot.index];
            } else if (!values.empty() && values[slot.index].pValue) {
                p[t] = *values[slot.index].pValue;
            }
        }
        return p;
    }

    void rows(const std::vector<InputSample>& samples) {
        // The samples as the columns of count lines take them, copied only
        // when some must change.
        bool asTheyAre = true;
        for (const InputSample& s : samples)
            if (noCall(s.counts) || s.counts.locus != LocusKind::Autosomal) asTheyAre = false;
        std::vector<InputSample> counted;
        // The count-line columns read only the line, the marker and the counts.
        if (!asTheyAre) {
            counted.reserve(samples.size());
            for (const InputSample& s : samples)
                if (!noCall(s.counts))
                    counted.push_back({s.line, s.marker, countColumns(s.counts), {}});
        }
        const std::span<const InputSample> given = asTheyAre
                                                       ? std::span<const InputSample>(samples)
                                                       : std::span<const InputSample>(counted);
        const std::string text = run_.csv ? sampleCsvRows(given, autoTests_, io_.threads)
                                          : table_.rowCells(given, io_.threads);
        const bool wanted = wantsPValues();
        batchP_.clear();
        std::string out;
        out.reserve(text.size() +
                    samples.size() * (48 + 8 * run_.tests.size() * (1 + run_.levels.size())));
        std::size_t at = 0;
        for (const InputSample& s : samples) {
            ++tallies_.rows;
            tallies_.records = std::max(tallies_.records, s.line);
            MaleCells male;
            if (!maleTests_.empty()) male = maleCells(s.counts, maleTests_, run_.csv.has_value());
            const PValues p = wanted ? pValues(s, male) : PValues(run_.tests.size());
            std::string_view countPart;
            std::string empty;
            if (noCall(s.counts)) {
                ++tallies_.noCall;
                empty = s.marker;
                const char separator = run_.csv ? ',' : '\t';
                for (const char* c : {"0", "0", "0", "0"}) (empty += separator) += c;
                for (std::size_t f = 5; f < countFields_; ++f) empty += separator;
                if (!run_.csv) empty += "\tnot tested: no called genotype";
                countPart = empty;
            } else {
                const std::size_t end = text.find('\n', at);
                countPart = std::string_view(text).substr(at, end - at);
                at = end + 1;
                // On X the tests that count the males see everyone's alleles.
                const SampleCounts& c = s.counts;
                const bool everyone = !maleTests_.empty() && c.locus != LocusKind::Autosomal;
                if (!monomorphicNote(everyone ? c : SampleCounts{c.aa, c.ab, c.bb}).empty())
                    ++tallies_.monomorphic;
                else
                    ++tallies_.tested;
            }
            count(s, p);
            if (run_.csv) {
                appendCsvRow(out, s, countPart, p, male.cells);
            } else {
                std::vector<std::string> cellsIn = splitTabs(countPart);
                std::vector<std::string> cells = siteCells(s);
                cells.insert(cells.end(), cellsIn.begin(), cellsIn.end() - 1);
                for (std::string& c : trailCells(s, p, male.cells)) cells.push_back(std::move(c));
                // The count-line columns see no female; the males were called.
                if (s.counts.locus != LocusKind::Autosomal &&
                    s.counts.aa + s.counts.ab + s.counts.bb == 0)
                    cellsIn.back() = "females: no called genotype";
                cells.push_back(cellsIn.back());
                out += aligner_.line(cells);
            }
            if (grouped_ && !run_.levels.empty())
                groupSummary(s, p,
                             &s + 1 == samples.data() + samples.size() || (&s)[1].line != s.line ||
                                 (&s)[1].site.id != s.site.id,
                             out);
            if (run_.annotate || passingWriter_) batchP_.push_back(p);
        }
        emit_(out);
    }

    // With groups and levels: after a marker's rows, one with the smallest
    // p-value of each test over the groups and, in the fail columns, the
    // number of groups that fail.
    void groupSummary(const InputSample& s, const PValues& p, bool last, std::string& out) {
        if (smallest_.empty()) {
            smallest_.assign(run_.tests.size(), std::nullopt);
            groupsFailing_.assign(run_.tests.size() * run_.levels.size(), 0);
        }
        for (std::size_t t = 0; t < run_.tests.size(); ++t) {
            if (p[t] && (!smallest_[t] || *p[t] < *smallest_[t])) smallest_[t] = p[t];
            for (std::size_t l = 0; l < run_.levels.size(); ++l)
                if (p[t] && *p[t] <= run_.levels[l]) ++groupsFailing_[t * run_.levels.size() + l];
        }
        if (!last) return;
        std::vector<std::string> cells = siteCells(s);
        cells.back() = kSmallestGroup;
        std::vector<std::string> counts(countFields_);
        std::vector<std::string> male(maleTests_.empty() ? 0 : maleColumns(maleTests_).size());
        counts[0] = s.marker;
        for (std::size_t t = 0; t < run_.tests.size(); ++t)
            if (smallest_[t])
                (slot_[t].male ? male : counts)[pColumn_[t]] =
                    pValueText(*smallest_[t], run_.csv.has_value());
        cells.insert(cells.end(), counts.begin(), counts.end());
        cells.emplace_back("");
        cells.emplace_back("");
        for (std::size_t f : groupsFailing_) cells.push_back(std::to_string(f));
        cells.insert(cells.end(), male.begin(), male.end());
        if (run_.csv) {
            appendCsv(out, cells);
            out.back() = '\n';
        } else {
            cells.emplace_back("smallest p over the groups; fail columns: groups failing");
            out += aligner_.line(cells);
        }
        smallest_.clear();
    }

    // The annotated copy and the list of passing markers, batch by batch.
    void passing(const SampleBatch& batch) {
        if (!run_.annotate && !passingWriter_) return;
        std::vector<std::vector<std::optional<double>>> values;
        std::vector<char> keep;
        std::string ids;
        for (std::size_t i = 0; i < batch.samples.size(); ++i) {
            const InputSample& s = batch.samples[i];
            const PValues& p = batchP_[i];
            std::vector<std::optional<double>>& v = values.emplace_back(p.size());
            // Tags are floats: a p-value below the double range is at least
            // the smallest double, never 0.
            for (std::size_t t = 0; t < p.size(); ++t)
                if (p[t])
                    v[t] = std::max(static_cast<double>(*p[t]), std::numeric_limits<double>::min());
            const std::optional<std::size_t> decider = s.counts.locus == LocusKind::Autosomal
                                                           ? autoDecider_
                                                           : std::optional<std::size_t>(0);
            const std::optional<Extended> deciding =
                decider ? p[*decider] : std::optional<Extended>();
            keep.push_back(!(run_.keepPassing && deciding && *deciding <= *run_.keepPassing));
            if (keep.back()) (ids += s.site.id) += '\n';
        }
        for (const RecordNote& n : batch.notes)
            if (n.skipped) (ids += n.marker) += '\n';
        if (run_.annotate) source_.annotate(values, keep);
        if (passingWriter_) passingWriter_->write(ids);
    }

    void count(const InputSample& s, const PValues& p) {
        const SampleCounts& c = s.counts;
        const SampleCounts females{c.aa, c.ab, c.bb};
        if (qq_)
            for (std::size_t t = 0; t < run_.tests.size(); ++t)
                if (p[t]) qq_->add(t, c.locus, slot_[t].male ? c : females, *p[t]);
        if (run_.levels.empty()) return;
        const double maf = minorFrequency(c);
        std::size_t bin = 0;
        while (bin + 1 < kMafUpper.size() && maf >= kMafUpper[bin]) ++bin;
        for (std::size_t t = 0; t < run_.tests.size(); ++t)
            for (std::size_t l = 0; l < run_.levels.size(); ++l)
                if (p[t] && *p[t] <= run_.levels[l]) {
                    ++tallies_.failing[t][l][0];
                    ++tallies_.failing[t][l][1 + bin];
                }
        const std::size_t levels = run_.levels.size();
        const auto add = [&](std::size_t t, const std::vector<Extended>& sizes, std::size_t first) {
            for (std::size_t l = 0; l < levels; ++l) {
                const Extended size = sizes[first + l];
                tallies_.expected[t][l][0] += size;
                tallies_.expected[t][l][1 + bin] += size;
            }
        };
        // The tests of count lines see the females alone on X.
        const std::uint64_t n = c.aa + c.ab + c.bb;
        const std::vector<Extended>* sizes = nullptr;
        if (n > 0 && n <= kMaxNullSizeSample && !autoTests_.empty())
            sizes = sizes_->sizes(static_cast<std::uint32_t>(n),
                                  static_cast<std::uint32_t>(2 * c.aa + c.ab));
        const std::vector<Extended>* xSizes =
            c.locus != LocusKind::Autosomal && !maleTests_.empty() ? maleSizes(c) : nullptr;
        for (std::size_t t = 0; t < run_.tests.size(); ++t) {
            const Slot& slot = slot_[t];
            if (!slot.male && sizes) add(t, *sizes, slot.index * levels);
            if (slot.male && xSizes) add(t, *xSizes, slot.index * levels);
        }
    }

    // The null sizes of the tests that count the males, by nf, nm and nA.
    const std::vector<Extended>* maleSizes(const SampleCounts& c) {
        const std::uint64_t nf = c.aa + c.ab + c.bb, nm = c.maleA + c.maleB;
        if (nf > UINT32_MAX || nm > UINT32_MAX) return nullptr;
        const std::array<std::uint64_t, 3> key = {nf, nm, 2 * c.aa + c.ab + c.maleA};
        auto found = xSizes_.find(key);
        if (found == xSizes_.end())
            found = xSizes_
                        .emplace(key, xNullSizes({static_cast<std::uint32_t>(nf),
                                                  static_cast<std::uint32_t>(nm)},
                                                 key[2], xRequests_))
                        .first;
        return found->second ? &*found->second : nullptr;
    }

    int writeSummary() {
        if (run_.levels.empty() && !run_.summary) return kExitDone;
        const Tallies& t = tallies_;
        std::string csv = "what,test,level,maf,markers,expected\n";
        const auto row = [&](const std::string& what, const std::string& test,
                             const std::string& level, const std::string& maf, std::size_t n,
                             std::optional<long double> expected = std::nullopt) {
            std::string line;
            appendCsv(line, {what, test, level, maf});
            line += std::to_string(n);
            line += ',';
            if (expected) line += shortestText(static_cast<double>(*expected));
            csv += line + "\n";
        };
        row("read", "", "", "", t.records);
        row(grouped_ ? "rows" : "markers", "", "", "", t.rows);
        row("tested", "", "", "", t.tested);
        row("not tested: no called genotype", "", "", "", t.noCall);
        row("not tested: one allele only", "", "", "", t.monomorphic);
        for (const auto& [reason, n] : t.skipped) row("skipped: " + reason, "", "", "", n);
        if (t.bad > 0) row("skipped: bad record", "", "", "", t.bad);
        for (std::size_t k = 0; k < run_.tests.size(); ++k)
            for (std::size_t l = 0; l < run_.levels.size(); ++l) {
                const std::string test(testEntry(run_.tests[k]).name);
                const std::string level = levelText(run_.levels[l]);
                row("failing", test, level, "all", t.failing[k][l][0], t.expected[k][l][0]);
                for (std::size_t b = 0; b < kMafBin.size(); ++b)
                    row("failing", test, level, kMafBin[b], t.failing[k][l][1 + b],
                        t.expected[k][l][1 + b]);
            }
        if (run_.summary) {
            const std::string fault = writeWholeFile(*run_.summary, csv);
            if (!fault.empty()) {
                io_.err << kProgram << ": --summary \"" << *run_.summary
                        << "\": the file cannot be written (" << fault << ")\n";
                return kExitFailure;
            }
            return kExitDone;
        }
        // On standard error, for a reader.
        std::ostream& e = io_.err;
        const auto plural = [](std::size_t k) { return k == 1 ? "" : "s"; };
        e << kProgram << ": summary: " << t.records << " record" << plural(t.records) << " read, "
          << t.rows << (grouped_ ? " row" : " marker") << plural(t.rows)
          << (grouped_ ? " (marker and group), " : ", ") << t.tested << " tested";
        if (t.noCall) e << ", " << t.noCall << " with no called genotype";
        if (t.monomorphic) e << ", " << t.monomorphic << " with one allele only";
        for (const auto& [reason, n] : t.skipped) e << ", " << n << " skipped (" << reason << ")";
        if (t.bad) e << ", " << t.bad << " bad record" << plural(t.bad) << " skipped";
        e << "\n";
        for (std::size_t k = 0; k < run_.tests.size(); ++k)
            for (std::size_t l = 0; l < run_.levels.size(); ++l) {
                e << kProgram << ": summary: " << testEntry(run_.tests[k]).name << " at "
                  << levelText(run_.levels[l]) << ": " << t.failing[k][l][0]
                  << " failing, expected under Hardy-Weinberg "
                  << significantText(static_cast<double>(t.expected[k][l][0]), 3) << " (MAF";
                for (std::size_t b = 0; b < kMafBin.size(); ++b)
                    e << (b ? ", " : " ") << kMafBin[b] << ": " << t.failing[k][l][1 + b] << " vs "
                      << significantText(static_cast<double>(t.expected[k][l][1 + b]), 3);
                e << ")\n";
            }
        return kExitDone;
    }

    const GenotypeRun& run_;
    const SampleStreams& io_;
    GenotypeSource& source_;
    SampleTable table_;
    Aligner aligner_{{}};
    std::function<void(std::string_view)> emit_;
    std::unique_ptr<WholeFileWriter> passingWriter_;
    std::vector<HweTest> autoTests_;  // the tests of the count-line columns
    std::vector<HweTest> maleTests_;  // the tests that count the males
    std::vector<Slot> slot_;          // each test's place among those
    std::optional<std::size_t> autoDecider_;
    std::unique_ptr<NullSizeCache> sizes_;
    std::vector<XTestLevel> xRequests_;
    std::map<std::array<std::uint64_t, 3>, std::optional<std::vector<Extended>>> xSizes_;
    std::unique_ptr<QqCollector> qq_;
    std::vector<PValues> batchP_;  // the last batch's, for the annotated copy and the list
    std::vector<std::size_t> pColumn_;
    PValues smallest_;  // over the groups of the marker so far
    std::vector<std::size_t> groupsFailing_;
    std::size_t countFields_ = 0;
    bool grouped_ = false;
    Tallies tallies_;
};

}  // namespace

std::string levelText(double level) { return shortestText(level); }

std::string genotypeHelpText() {
    return "A FILE may also be a genotype file, recognised from its content: a VCF or\n"
           "BCF (plain or bgzipped) or a PLINK .bed in SNP-major mode with its .bim and\n"
           ".fam (or the fileset's prefix). Each marker's counts come from its GT calls:\n"
           "AA, AB, BB are homozygous REF (a .bim's A2), heterozygous and homozygous\n"
           "ALT. Missing calls are counted in n_missing; on X outside the --par regions\n"
           "males' calls are hemizygotes and their heterozygous calls are missing,\n"
           "counted in male_het; Y and mitochondrial markers and multi-allelic sites are\n"
           "skipped with a note. The output starts with chrom,pos,id,ref,alt (and group\n"
           "with --groups); a bad record ends the command with its record number.\n"
           "Autosomal and X markers share one layout: on X the count-line columns show\n"
           "the females and their tests are on the females alone; when a test that\n"
           "counts the males is asked (by default every test is) the rows end in\n"
           "A,B,nm,p_male,p_all and those tests' columns, empty on autosomal markers.\n"
           "--qq draws each test's p-values against the discrete null given each\n"
           "marker's n and allele count (with zygomet-plot-qq; .csv: the numbers).\n"
           "  zygomet-test --file study.vcf.gz --sex study.sex --test exact,exact-midp\n"
           "      --level 1e-6 --summary summary.csv --csv results.csv\n"
           "  zygomet-test --file study.bed --test exact --keep-passing 1e-6\n"
           "      --out-passing passing.txt --csv results.csv\n"
           "\n";
}

std::string annotationTag(HweTest test) {
    std::string name = "HWE_";
    for (char c : testEntry(test).name)
        name += c == '-' ? '_' : static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    // The exact family by its variant alone: HWE_MIDP, HWE_DOST, ...
    for (const char* prefix : {"HWE_EXACT_", "HWE_X_EXACT_"})
        if (name.rfind(prefix, 0) == 0 && name.size() > std::strlen(prefix))
            name.erase(name.find("EXACT_"), 6);
    return name;
}

int testGenotypeFile(const GenotypeRun& run, const SampleStreams& io) {
    std::unique_ptr<GenotypeSource> source;
    try {
        // An annotated copy holds each batch's records until they are written.
        // Markers carry their site: smaller batches than count lines' keep
        // the memory low.
        source =
            openGenotypeFile(run.input, run.source,
                             std::min<std::size_t>(io.batch, run.annotate ? 1024 : kGenotypeBatch));
    } catch (const SourceError& e) {
        throw UsageError(fileMessage(run.file, e.what()));
    }
    GenotypeTester tester(run, io, *source);
    return tester.run();
}

}  // namespace zyg
