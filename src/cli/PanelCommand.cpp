#include "cli/PanelCommand.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <map>
#include <ostream>
#include <set>

#include "cli/Options.h"
#include "core/Csv.h"
#include "core/NumberText.h"
#include "engine/NullSize.h"
#include "engine/XLinked.h"
#include "power/Panel.h"
#include "power/StudyRequest.h"
#include "report/WholeFile.h"
#include "sources/CountLines.h"
#include "sources/GenotypeFiles.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-power";

// The levels of --levels-scan when no range is given.
constexpr double kScanLow = 1e-30, kScanHigh = 0.05;
constexpr std::size_t kScanLevels = 29;
constexpr double kSmallestLevel = 1e-300;

struct PanelOptions {
    std::optional<std::string> panel;
    GenotypeModel model = GenotypeModel::HardyWeinberg;
    ModelSetting effect;
    std::set<StudyInput> effectGiven;
    std::vector<HweTest> tests{HweTest::Exact};
    std::vector<double> levels{1e-6};
    std::optional<std::pair<double, double>> levelRange;  // FROM:TO on a log scale
    bool scan = false;
    std::vector<double> bins = kDefaultBinEdges;
    bool solve = false;
    double falseFlags = 1;
    std::optional<double> target;
    std::optional<std::string> csv;
    std::optional<std::string> plot;
    GenotypeOptions genotypes;  // how a genotype file is read
    std::set<std::string> given;
};

// The options that only genotype files take.
constexpr const char* kGenotypeOnly[] = {"--par",  "--multiallelic", "--sex",
                                         "--keep", "--remove",       "--region"};

double positiveNumber(const char* option, const std::string& v, const std::string& rule) {
    const auto x = parseDecimal(v, ".");
    if (!x || !std::isfinite(*x)) refuse(option, v, rule);
    return *x;
}

bool validLevel(double l) { return l >= kSmallestLevel && l <= 0.5; }

const std::vector<OptionEntry<PanelOptions>>& panelOptions() {
    static const std::vector<OptionEntry<PanelOptions>> table = [] {
        std::vector<OptionEntry<PanelOptions>> t = {
            fileOption("--panel",
                       "the panel: count lines, a zygomet-test CSV, a VCF or BCF, or a PLINK "
                       ".bed fileset",
                       "give a file name", &PanelOptions::panel),
            {"--model", "MODEL",
             "the effect the filter should catch: error, inbreeding, null, ... (default hw: "
             "none)",
             [](PanelOptions& o, const std::string& v) {
                 const auto m = parseModelKey(v);
                 if (!m) refuse("--model", v, "the models are " + modelKeys());
                 o.model = *m;
             }},
            {"--test", "TESTS", "tests, comma-separated (default exact)",
             [](PanelOptions& o, const std::string& v) {
                 o.tests.clear();
                 for (HweTest t : parseTestList(v, kHweTests, ", "))
                     if (std::find(o.tests.begin(), o.tests.end(), t) == o.tests.end())
                         o.tests.push_back(t);
             }},
            {"--level", "VALUES",
             "levels from 1e-300 to 0.5 (default 1e-6), or FROM:TO for levels on a log scale",
             [](PanelOptions& o, const std::string& v) {
                 const std::string rule = "levels lie from 1e-300 to 0.5";
                 if (const auto colon = v.find(':');
                     colon != std::string::npos && v.find(':', colon + 1) == std::string::npos) {
                     const double a = positiveNumber("--level", v.substr(0, colon), rule);
                     const double b = positiveNumber("--level", v.substr(colon + 1), rule);
                     if (!validLevel(a) || !validLevel(b) || !(a < b))
                         refuse("--level", v, "a range FROM:TO has 1e-300 <= FROM < TO <= 0.5");
                     o.levelRange = std::make_pair(a, b);
                     return;
                 }
                 o.levels = parseList("--level", v, 1000);
                 for (const double l : o.levels)
                     if (!validLevel(l)) refuse("--level", v, rule);
             }},
            {"--levels-scan", nullptr,
             "the trade-off: false flags and catch rate at 29 levels from 1e-30 to 0.05 (or "
             "over --level FROM:TO)",
             [](PanelOptions& o, const std::string&) { o.scan = true; }},
            {"--bins", "EDGES",
             "minor-allele-frequency bins, rising edges from 0 to 0.5 (default "
             "0,0.01,0.05,0.2,0.5)",
             [](PanelOptions& o, const std::string& v) {
                 o.bins = parseList("--bins", v, 100);
                 const bool rising = std::adjacent_find(o.bins.begin(), o.bins.end(),
                                                        std::greater_equal<>()) == o.bins.end();
                 if (o.bins.size() < 2 || o.bins.front() != 0 || o.bins.back() != 0.5 || !rising)
                     refuse("--bins", v, "the edges rise from 0 to 0.5, at least two of them");
             }},
            {"--solve", "level",
             "the largest level whose expected false flags stay at most --false-flags (with "
             "--target: the smallest level whose catch rate reaches it)",
             [](PanelOptions& o, const std::string& v) {
                 if (v != "level") refuse("--solve", v, "with --panel, --solve level");
                 o.solve = true;
             }},
            {"--false-flags", "K", "--solve level: the false flags allowed (default 1)",
             [](PanelOptions& o, const std::string& v) {
                 o.falseFlags = positiveNumber("--false-flags", v, "give a number of 0 or more");
                 if (o.falseFlags < 0) refuse("--false-flags", v, "give a number of 0 or more");
             }},
            {"--target", "RATE", "--solve level: the catch rate to reach (above 0, at most 1)",
             [](PanelOptions& o, const std::string& v) {
                 const double t =
                     positiveNumber("--target", v, "the target lies above 0, at most 1");
                 if (!(t > 0 && t <= 1))
                     refuse("--target", v, "the target lies above 0, at most 1");
                 o.target = t;
             }},
            fileOption("--csv", "write one row per test, level and bin as CSV to FILE",
                       "give a file name, or - for standard output", &PanelOptions::csv),
            {"--plot", "FILE",
             "draw false flags against catch rate into FILE.svg or FILE.png (needs an effect)",
             [](PanelOptions& o, const std::string& v) {
                 std::string end = v.size() > 4 ? v.substr(v.size() - 4) : "";
                 for (char& c : end)
                     c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                 if (end != ".svg" && end != ".png")
                     refuse("--plot", v, "the file name must end in .svg or .png");
                 o.plot = v;
             }},
        };
        // After --panel, how a genotype file is read.
        const auto reading = genotypeFileOptions(&PanelOptions::genotypes);
        t.insert(t.begin() + 1, reading.begin(), reading.end());
        // The effect's size: one value of each of the model's parameters.
        for (const ModelParameter& q : modelParameters()) {
            if (q.input == StudyInput::P) continue;
            t.push_back({"--" + std::string(q.name), "VALUE",
                         std::string(q.meaning) + " (" + q.rangeText() + ")",
                         [&q](PanelOptions& o, const std::string& v) {
                             const double x = positiveNumber(
                                 ("--" + std::string(q.name)).c_str(), v,
                                 std::string(q.subject) + " lie from " + q.rangeText());
                             if (!q.range(0.5).contains(x))
                                 refuse("--" + std::string(q.name), v,
                                        std::string(q.subject) + " lie from " + q.rangeText());
                             q.set(o.effect, x);
                             o.effectGiven.insert(q.input);
                         }});
        }
        return t;
    }();
    return table;
}

// A marker's counts as the panel takes them; on X with its males. Counts
// beyond the largest sample the sizes take are refused, so that no marker is
// silently counted as never flagged.
PanelMarker markerOf(const SampleCounts& c, const std::string& path) {
    const std::uint64_t n = c.aa + c.ab + c.bb, people = n + c.maleA + c.maleB;
    if (people > kMaxNullSizeSample)
        throw UsageError("--panel \"" + path + "\": a marker has " + std::to_string(people) +
                         " people called; the panel's sizes are exact up to " +
                         std::to_string(kMaxNullSizeSample));
    PanelMarker m{static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(2 * c.aa + c.ab)};
    if (c.locus == LocusKind::XLinked) {
        m.locus = LocusKind::XLinked;
        m.males = static_cast<std::uint32_t>(c.maleA + c.maleB);
        m.maleA = static_cast<std::uint32_t>(c.maleA);
    }
    return m;
}

struct PanelInput {
    std::vector<PanelMarker> markers;
    std::vector<std::string> warnings;  // from a genotype file's reader
    std::size_t skipped = 0;            // records a genotype file's reader skipped
};

// A genotype file's markers, counted as zygomet-test counts them.
PanelInput readGenotypePanel(const std::string& path, const RecognisedInput& input,
                             const GenotypeOptions& options) {
    PanelInput out;
    const auto fault = [&](const std::string& what) {
        // A reader's message that names its own file or option stands as it is.
        if (what.rfind("--", 0) == 0 || what.rfind("\"", 0) == 0) return UsageError(what);
        return UsageError("--panel \"" + path + "\": " + what);
    };
    try {
        const auto source = openGenotypeFile(input, options, 8192);
        out.warnings = source->warnings();
        SampleBatch batch;
        while (source->next(batch)) {
            if (!batch.bad.empty()) {
                const BadLine& b = batch.bad.front();
                throw fault("record " + std::to_string(b.line) + ": " + b.why);
            }
            for (const RecordNote& n : batch.notes) out.skipped += n.skipped ? 1 : 0;
            for (const InputSample& sample : batch.samples)
                out.markers.push_back(markerOf(sample.counts, path));
        }
    } catch (const SourceError& e) {
        throw fault(e.what());
    }
    return out;
}

// Reads the panel: a genotype file, count lines, or a zygomet-test CSV found
// by its header (the columns AA, AB and BB by name, wherever they stand; a
// row with counts in the columns A and B too is an X-linked marker).
PanelInput readPanel(const std::string& path, const GenotypeOptions& options,
                     const std::vector<std::string>& genotypeOptions) {
    RecognisedInput recognised;
    try {
        recognised = recogniseInput(path);
    } catch (const SourceError& e) {
        throw UsageError("--panel \"" + path + "\": " + e.what());
    }
    if (!recognised.unreadable.empty())
        throw UsageError("--panel \"" + path + "\": " + recognised.unreadable +
                         "; a panel is count lines, a zygomet-test CSV, a VCF or BCF, or a "
                         "PLINK .bed fileset");
    if (recognised.format != InputFormat::CountLines)
        return readGenotypePanel(path, recognised, options);
    if (!genotypeOptions.empty())
        throw UsageError(genotypeOptions.front() +
                         ": only for a genotype file (VCF, BCF or PLINK .bed)");
    std::unique_ptr<ByteInput> input;
    try {
        input = fileInput(path);
    } catch (const SourceError& e) {
        throw UsageError("--panel \"" + path + "\": " + e.what());
    }
    std::string text;
    char buffer[1 << 16];
    try {
        for (std::size_t got; (got = input->read(buffer, sizeof buffer)) > 0;)
            text.append(buffer, got);
    } catch (const SourceError& e) {
        throw UsageError("--panel \"" + path + "\": " + e.what());
    }
    PanelInput out;
    std::vector<PanelMarker>& markers = out.markers;
    const auto add = [&](const SampleCounts& c) { markers.push_back(markerOf(c, path)); };
    if (text.rfind("marker,", 0) == 0 || text.rfind("chrom,", 0) == 0) {
        std::size_t lineStart = 0, lineNumber = 0;
        std::vector<std::string> header;
        int aa = -1, ab = -1, bb = -1, maleA = -1, maleB = -1;
        while (lineStart < text.size()) {
            std::size_t end = text.find('\n', lineStart);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(lineStart, end - lineStart);
            lineStart = end + 1;
            ++lineNumber;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            // Fields split on commas outside quotes.
            std::vector<std::string> fields(1);
            bool quoted = false;
            for (const char ch : line) {
                if (ch == '"')
                    quoted = !quoted;
                else if (ch == ',' && !quoted)
                    fields.emplace_back();
                else
                    fields.back() += ch;
            }
            if (lineNumber == 1) {
                for (std::size_t i = 0; i < fields.size(); ++i) {
                    const int column = static_cast<int>(i);
                    if (fields[i] == "AA") aa = column;
                    if (fields[i] == "AB") ab = column;
                    if (fields[i] == "BB") bb = column;
                    if (fields[i] == "A") maleA = column;
                    if (fields[i] == "B") maleB = column;
                }
                if (aa < 0 || ab < 0 || bb < 0)
                    throw UsageError("--panel \"" + path +
                                     "\": line 1: a CSV panel needs the columns AA, AB and BB");
                continue;
            }
            const auto count = [&](int column) -> std::uint64_t {
                const std::string& f =
                    static_cast<std::size_t>(column) < fields.size() ? fields[column] : "";
                if (f.empty()) return 0;  // a marker without counts
                const auto v = parseDecimal(f, ".");
                if (!v || *v < 0 || *v != std::floor(*v) || *v > 1e9)
                    throw UsageError("--panel \"" + path + "\": line " +
                                     std::to_string(lineNumber) + ": \"" + shownText(f) +
                                     "\" is no genotype count");
                return static_cast<std::uint64_t>(*v);
            };
            // A genotype file's CSV has the males' columns on every row,
            // empty on its autosomal markers.
            const auto given = [&](int column) {
                return column >= 0 && static_cast<std::size_t>(column) < fields.size() &&
                       !fields[static_cast<std::size_t>(column)].empty();
            };
            SampleCounts c{count(aa), count(ab), count(bb)};
            if (given(maleA) && given(maleB)) {
                c.maleA = count(maleA);
                c.maleB = count(maleB);
                c.locus = LocusKind::XLinked;
            }
            add(c);
        }
        return out;
    }
    // The first sample line decides the layout: five counts make X-linked
    // markers, as zygomet-test reads them.
    ParsedInput parsed;
    {
        const auto lines = textInput(text);
        CountLineSource source(*lines);
        SampleBatch batch;
        while (source.next(batch)) {
            parsed.samples.insert(parsed.samples.end(), batch.samples.begin(), batch.samples.end());
            parsed.bad.insert(parsed.bad.end(), batch.bad.begin(), batch.bad.end());
        }
    }
    // A marker without a single call ("m1 0 0 0") is part of a panel, not an
    // error: it is never flagged and stays out of the counts.
    const auto noCalls = [](const std::string& line) {
        std::vector<std::string> fields;
        std::string field;
        for (const char ch : line + " ") {
            if (ch == ' ' || ch == '\t' || ch == ',' || ch == '\r') {
                if (!field.empty()) fields.push_back(field);
                field.clear();
            } else {
                field += ch;
            }
        }
        return fields.size() >= 3 &&
               std::all_of(fields.end() - 3, fields.end(), [](const std::string& f) {
                   return f.find_first_not_of('0') == std::string::npos;
               });
    };
    for (const BadLine& b : parsed.bad) {
        if (noCalls(b.text)) continue;
        throw UsageError("--panel \"" + path + "\": line " + std::to_string(b.line) + ": " + b.why +
                         " (\"" + shownText(b.text) + "\")");
    }
    for (const InputSample& s : parsed.samples) add(s.counts);
    return out;
}

class Progress {
public:
    Progress(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~Progress() { finish(); }
    void update(std::size_t done, std::size_t total) {
        if (!enabled_) return;
        if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
        shown_ = true;
        const std::size_t width = 40,
                          filled = total ? std::min(width, done * width / total) : width;
        err_ << "\r[" << std::string(filled, '#') << std::string(width - filled, ' ') << "] "
             << done << "/" << total << std::flush;
    }
    void finish() {
        if (shown_) err_ << "\r" << std::string(70, ' ') << "\r" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_, shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// A number as the table and the sentences show it: `digits` significant
// digits, in fixed notation from 0.001 up, as "5.3e-6" below.
std::string figure(double x, int digits = 2) {
    if (x == 0 || !std::isfinite(x)) return shortestText(x);
    const int exponent = static_cast<int>(std::floor(std::log10(x)));
    const double scale = std::pow(10.0, digits - 1 - exponent);
    const double rounded = std::round(x * scale) / scale;
    if (rounded >= 1e-3) {
        if (rounded >= std::pow(10.0, digits - 1)) return fixedText(rounded, 0);
        return shortestText(rounded);
    }
    double mantissa = rounded / std::pow(10.0, exponent);
    int e = exponent;
    if (mantissa >= 9.9999999) mantissa /= 10, ++e;
    std::string text = shortestText(std::round(mantissa * std::pow(10.0, digits - 1)) /
                                    std::pow(10.0, digits - 1));
    (text += "e") += std::to_string(e);
    return text;
}

// "autosomal", "x", or "all" for the whole panel.
std::string groupText(const PanelGroup& group) {
    return group ? std::string(locusKindEntry(*group).name) : "all";
}

bool panelHasX(const Panel& panel) {
    return panel.markersIn(LocusKind::XLinked, panel.binCount()) > 0;
}

std::string binText(const Panel& panel, std::size_t bin) {
    if (bin == panel.binCount()) return "all";
    std::string text = shortestText(panel.binEdges()[bin]);
    (text += "-") += shortestText(panel.binEdges()[bin + 1]);
    return text;
}

// "het-miscall 0.02": the effect's parameters as given.
std::string effectText(const PanelOptions& o) {
    std::string text;
    for (const ModelParameter& q : modelParameters()) {
        if (!o.effectGiven.count(q.input)) continue;
        if (!text.empty()) text += ", ";
        (text += q.name) += " ";
        text += shortestText(q.get(o.effect));
    }
    return text.empty() ? "the model " + std::string(modelKey(o.model)) : text;
}

std::string percent(double share) { return figure(100 * share) + "%"; }

// "the exact test", "the X2 test".
std::string testWords(HweTest test) {
    std::string label = testLabel(test);
    if (label.size() > 1 && std::islower(static_cast<unsigned char>(label[1])))
        label[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(label[0])));
    return "the " + label + " test";
}

std::string panelCsv(const PanelOptions& o, const Panel& panel,
                     const std::vector<PanelCell>& cells) {
    std::string out = "model";
    for (const ModelParameter& q : modelParameters())
        if (!q.trailingColumn) (out += ",") += q.column;
    out += ",test,level";
    for (const ModelParameter& q : modelParameters())
        if (q.trailingColumn) (out += ",") += q.column;
    out +=
        ",locus,bin,markers,false_flags,false_flags_sd,false_flags_low95,false_flags_high95,"
        "catch_rate\n";
    for (const PanelCell& c : cells) {
        CsvLine row;
        row.text(modelKey(o.model));
        for (const ModelParameter& q : modelParameters())
            if (!q.trailingColumn) {
                if (q.input == StudyInput::P)
                    row.empty();  // each marker's own
                else
                    row.number(q.readBy(o.model) ? q.get(o.effect) : q.none);
            }
        row.text(hweTestName(c.test)).number(c.level);
        for (const ModelParameter& q : modelParameters())
            if (q.trailingColumn)
                row.number(q.readBy(o.model) ? std::optional<double>(q.get(o.effect))
                                             : std::nullopt);
        row.text(groupText(c.group)).text(binText(panel, c.bin));
        row.whole(c.markers).number(c.falseFlags.mean);
        row.number(c.falseFlags.sd).whole(c.falseFlags.low).whole(c.falseFlags.high);
        row.number(c.catchRate);
        out += row.str();
    }
    return out;
}

// A paragraph broken into lines of at most 79 characters at spaces.
std::string wrapped(const std::string& paragraph) {
    std::string out, line;
    std::size_t start = 0;
    while (start < paragraph.size()) {
        std::size_t end = paragraph.find(' ', start);
        if (end == std::string::npos) end = paragraph.size();
        const std::string word = paragraph.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > 79) {
            out += line + "\n";
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
        start = end + 1;
    }
    return out + line + "\n";
}

// The table, after a sentence per test and level unless `sentences` is false.
std::string panelTable(const PanelOptions& o, const Panel& panel,
                       const std::vector<PanelCell>& cells, bool sentences = true) {
    std::string out;
    const bool effect = o.model != GenotypeModel::HardyWeinberg;
    const std::size_t bins = panel.binCount();
    const bool x = panelHasX(panel);
    for (std::size_t i = 0; sentences && i < cells.size(); ++i) {
        const PanelCell& all = cells[i];
        if (!coversTest(panel, all)) continue;
        const std::string markers = !x          ? " markers of this panel"
                                    : all.group ? " of the panel's X-linked markers"
                                                : " markers of this panel";
        std::string sentence = "At level " + figure(all.level, 3) + " " + testWords(all.test) +
                               " flags " + figure(all.falseFlags.mean) + markers +
                               " by chance (95% interval " + std::to_string(all.falseFlags.low) +
                               " to " + std::to_string(all.falseFlags.high) + ")";
        if (effect && all.catchRate) {
            sentence +=
                " and catches " + percent(*all.catchRate) + " of markers with " + effectText(o);
            const PanelCell& top = cells[i - 1];  // the group's highest bin
            if (top.catchRate && top.markers > 0)
                sentence += "; " + percent(*top.catchRate) +
                            " of those with a minor allele frequency above " +
                            shortestText(panel.binEdges()[bins - 1]);
        }
        out += wrapped(sentence + ".");
    }
    if (sentences) out += "\n";
    // The locus column only where the panel holds X markers.
    const std::size_t textColumns = x ? 4 : 3;
    std::vector<std::vector<std::string>> rows = {
        {"test", "level", "maf bin", "markers", "false flags", "sd", "95% interval"}};
    if (x) rows[0].insert(rows[0].begin() + 2, "locus");
    if (effect) rows[0].push_back("catch rate");
    for (const PanelCell& c : cells) {
        std::vector<std::string> r = {
            std::string(hweTestName(c.test)),
            figure(c.level, 3),
            binText(panel, c.bin),
            std::to_string(c.markers),
            figure(c.falseFlags.mean, 3),
            figure(c.falseFlags.sd, 2),
            std::to_string(c.falseFlags.low) + "-" + std::to_string(c.falseFlags.high)};
        if (effect) r.push_back(c.catchRate ? percent(*c.catchRate) : "");
        if (x) r.insert(r.begin() + 2, groupText(c.group));
        rows.push_back(r);
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& r : rows)
        for (std::size_t i = 0; i < r.size(); ++i) widths[i] = std::max(widths[i], r[i].size());
    for (const auto& r : rows) {
        std::string line;
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (i) line += "  ";
            line += i < textColumns ? r[i] + std::string(widths[i] - r[i].size(), ' ')
                                    : std::string(widths[i] - r[i].size(), ' ') + r[i];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

int executePanel(PanelOptions& o, const CommandStreams& io, const TradeOffDrawer& plot) {
    if (!o.panel) throw UsageError("--panel: required");
    // The males' own allele frequency is an effect on X markers.
    const bool pMaleGiven = o.effectGiven.count(StudyInput::PMale) > 0;
    const bool effect = o.model != GenotypeModel::HardyWeinberg || pMaleGiven;
    const std::optional<double> pMale =
        pMaleGiven ? std::optional<double>(o.effect.pMale) : std::nullopt;
    if (o.plot && !plot) refuse("--plot", *o.plot, "this build of the program cannot draw");
    if (o.plot && !effect)
        refuse("--plot", *o.plot,
               "the chart shows the catch rate of an effect; give --model and its parameters");
    for (const ModelParameter& q : modelParameters())
        if (o.effectGiven.count(q.input) && !q.readBy(o.model))
            throw UsageError("--" + std::string(q.name) + ": not a parameter of the model " +
                             std::string(modelKey(o.model)));
    if (o.target && !o.solve) throw UsageError("--target: only with --solve level");
    if (o.given.count("--false-flags") && !o.solve)
        throw UsageError("--false-flags: only with --solve level");
    if (o.solve && o.target && !effect)
        throw UsageError(
            "--solve level --target: the catch rate needs an effect (--model and its "
            "parameters, e.g. --model error --het-miscall 0.02)");
    o.effect.model = o.model;
    // A range's levels, evenly on a log scale, to 3 significant digits.
    const auto range = [](double low, double high, std::size_t count) {
        std::vector<double> levels = logLevels(low, high, count);
        for (std::size_t i = 1; i + 1 < levels.size(); ++i)
            levels[i] = *parseDecimal(figure(levels[i], 3), ".");
        return levels;
    };
    if (o.levelRange) o.levels = range(o.levelRange->first, o.levelRange->second, 10);
    if (o.scan)
        o.levels = o.levelRange ? range(o.levelRange->first, o.levelRange->second, kScanLevels)
                                : range(kScanLow, kScanHigh, kScanLevels);

    Progress bar(io.err, io.errIsTerminal);
    std::vector<std::string> genotypeOptions;
    for (const char* name : kGenotypeOnly)
        if (o.given.count(name)) genotypeOptions.emplace_back(name);
    const PanelInput input = readPanel(*o.panel, o.genotypes, genotypeOptions);
    for (const std::string& w : input.warnings) io.err << kProgram << ": warning: " << w << "\n";
    const Panel panel(input.markers, o.bins);
    if (panel.markers() == 0)
        throw UsageError("--panel \"" + *o.panel + "\": the panel holds no marker with a call");
    if (panel.testable() == 0)
        throw UsageError("--panel \"" + *o.panel +
                         "\": no marker of the panel can be tested (each lacks an allele)");
    const bool x = panelHasX(panel);
    for (const HweTest t : o.tests) {
        if (appliesTo(t, LocusKind::Autosomal)) continue;
        if (!x)
            refuse("--test", std::string(hweTestName(t)),
                   "the tests that count the males need X-linked markers, and the panel holds "
                   "none");
        // The X sizes visit every outcome of a marker; a larger one would
        // silently count as never flagged.
        for (const Panel::Pair& p : panel.pairs())
            if (p.locus == LocusKind::XLinked &&
                2 * std::uint64_t{p.n} + p.males > kMaxXNullSizeAlleles)
                throw UsageError("--panel \"" + *o.panel + "\": an X-linked marker has " +
                                 std::to_string(2 * std::uint64_t{p.n} + p.males) +
                                 " alleles; the sizes of the tests that count the males are "
                                 "exact up to " +
                                 std::to_string(kMaxXNullSizeAlleles));
    }
    if (x && effect && !hasXForm(o.model))
        throw UsageError("--model " + std::string(modelKey(o.model)) +
                         ": the panel holds X-linked markers, and the models with an X-linked "
                         "form are " +
                         xModelKeys());
    const auto showProgress = [&](std::size_t done, std::size_t total) { bar.update(done, total); };

    std::string text;
    std::vector<PanelCell> cells;
    std::vector<TradeOffCurve> curves;
    if (o.solve) {
        for (const HweTest test : o.tests) {
            std::optional<double> level;
            if (o.target) {
                level = levelForCatchRate(panel, test, o.effect, *o.target, pMale, showProgress);
                bar.finish();
                if (!level) {
                    text += hweTestName(test);
                    text += ": no level up to 0.5 catches " + percent(*o.target) +
                            " of markers with " + effectText(o) + ".\n";
                    continue;
                }
            } else {
                level = levelForFalseFlags(panel, test, o.falseFlags, showProgress);
                bar.finish();
                if (!level) {
                    text += hweTestName(test);
                    text += ": even level 1e-300 flags more than " + shortestText(o.falseFlags) +
                            " markers by chance.\n";
                    continue;
                }
            }
            PanelRequest at{{test}, {*level}, o.bins, std::nullopt, pMale};
            if (effect) at.effect = o.effect;
            const std::vector<PanelCell> there = evaluatePanel(panel, at);
            const PanelCell& all = there.back();
            std::string answer(hweTestName(test));
            if (o.target) {
                answer += ": the smallest level whose catch rate reaches " + percent(*o.target) +
                          " is " + figure(*level, 3) + "; there it flags " +
                          figure(all.falseFlags.mean) + " markers by chance.";
            } else {
                answer += ": the largest level at which the expected false flags stay at most " +
                          shortestText(o.falseFlags) + " is " + figure(*level, 3) + " (" +
                          figure(all.falseFlags.mean) + " expected)";
                if (all.catchRate)
                    answer += "; there it catches " + percent(*all.catchRate) +
                              " of markers with " + effectText(o);
                answer += ".";
            }
            text += wrapped(answer);
            cells.insert(cells.end(), there.begin(), there.end());
        }
        text += "\n";
        text += panelTable(o, panel, cells, false);
        if (o.plot) {
            // The curves over the scan's levels, each test's answer marked.
            std::vector<double> levels =
                o.levelRange ? logLevels(o.levelRange->first, o.levelRange->second, kScanLevels)
                             : logLevels(kScanLow, kScanHigh, kScanLevels);
            for (const PanelCell& c : cells) levels.push_back(c.level);
            std::sort(levels.begin(), levels.end());
            levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
            curves = tradeOffCurves(
                panel,
                evaluatePanel(panel, {o.tests, levels, o.bins, o.effect, pMale}, showProgress));
            bar.finish();
            for (TradeOffCurve& k : curves)
                for (const PanelCell& c : cells)
                    if (c.test == k.test && coversTest(panel, c) && c.catchRate)
                        k.chosen = TradeOffCurve::Point{c.level, c.falseFlags.mean, *c.catchRate};
        }
    } else {
        PanelRequest request{o.tests, o.levels, o.bins, std::nullopt, pMale};
        if (effect) request.effect = o.effect;
        cells = evaluatePanel(panel, request, showProgress);
        bar.finish();
        text = panelTable(o, panel, cells);
        if (o.plot) curves = tradeOffCurves(panel, cells);
    }
    const auto counted = [](std::size_t k, const char* one, const char* many) {
        return std::to_string(k) + " " + (k == 1 ? one : many);
    };
    std::string head = "Panel \"" + *o.panel + "\": ";
    head += counted(panel.markers(), "marker", "markers");
    head += " with calls (" + std::to_string(panel.testable()) + " testable), ";
    head += counted(panel.distinctPairs(), "distinct pair", "distinct pairs");
    head += " of n and allele count";
    if (x) {
        const std::size_t onX = panel.markersIn(LocusKind::XLinked, panel.binCount());
        head += "; " + counted(onX, "of the markers is", "of the markers are") + " X-linked";
    }
    if (input.skipped > 0)
        head += "; " + counted(input.skipped, "record", "records") + " of the file " +
                (input.skipped == 1 ? "was" : "were") +
                " skipped (chromosome Y or MT, multi-allelic sites)";
    head += ".";
    head = wrapped(head) + "\n";
    const std::string csv = panelCsv(o, panel, cells);
    const bool csvToOut = o.csv && *o.csv == "-";
    if (csvToOut)
        io.out << csv;
    else
        io.out << head << text;
    io.out.flush();
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    if (o.csv && !csvToOut)
        if (const std::string fault = writeWholeFile(*o.csv, csv); !fault.empty()) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": cannot be written: " << fault
                   << "\n";
            return kExitFailure;
        }
    if (o.plot)
        if (const std::string fault = plot(curves, *o.plot); !fault.empty()) {
            io.err << kProgram << ": --plot \"" << *o.plot << "\": " << fault << "\n";
            return kExitFailure;
        }
    return kExitDone;
}

}  // namespace

bool asksForPanel(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--panel" || a.rfind("--panel=", 0) == 0) return true;
    }
    return false;
}

std::string panelHelpText() {
    std::string text =
        "Usage: zygomet-power --panel FILE [options]\n"
        "\n"
        "The threshold of a Hardy-Weinberg filter for a panel of markers. Each marker\n"
        "(count lines AA AB BB or AA AB BB A B, a zygomet-test CSV, a VCF or BCF, or a\n"
        "PLINK .bed fileset, read as zygomet-test reads it) contributes its n and allele\n"
        "count. For each test and level: the expected number of markers flagged by\n"
        "chance if every marker were in Hardy-Weinberg proportions (the sum of the\n"
        "exact sizes given each marker's n and allele count), with its standard\n"
        "deviation and 95% interval; with an effect (--model and its parameters) the\n"
        "catch rate, the share of markers with that defect the filter drops. Overall\n"
        "and by minor-allele-frequency bin, at any n up to 10^6 people.\n"
        "\n"
        "X-linked markers have rows of their own (locus x): the tests that count the\n"
        "males (x-exact, x-exact-midp, x-x2, x-g) see them alone, with each marker's\n"
        "females, males and allele count; the autosomal tests see their females, and\n"
        "give rows for the autosomal markers, the X markers and the whole panel (locus\n"
        "all). The catch rate on X uses the marker's share of males; --p-male sets the\n"
        "males' allele frequency (an effect of its own), else it is the marker's.\n"
        "\n"
        "Options:\n";
    text += optionLines(panelOptions());
    text +=
        "\n"
        "Examples:\n"
        "  zygomet-power --panel panel.txt --test exact,x2 --level 1e-6,1e-10 \\\n"
        "    --model error --het-miscall 0.02\n"
        "  zygomet-power --panel panel.txt --test exact --solve level --false-flags 1\n";
    return text;
}

int runPanelCommand(const std::vector<std::string>& args, const CommandStreams& io,
                    const TradeOffDrawer& plot) {
    return exitStatusOf(kProgram, io.err, [&] {
        // "--panel --help" asks for help too, though --panel takes a value.
        if (asksFor(args, panelOptions(), {"--help", "-h"}) ||
            std::find(args.begin(), args.end(), "--help") != args.end()) {
            io.out << panelHelpText();
            return kExitDone;
        }
        PanelOptions o;
        parseArguments(args, panelOptions(), o, o.given, kProgram, false);
        return executePanel(o, io, plot);
    });
}

}  // namespace zyg
