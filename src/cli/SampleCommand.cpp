#include "cli/SampleCommand.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <stdexcept>

#include "cli/Options.h"
#include "cli/SampleOutput.h"
#include "core/NumberText.h"
#include "core/Version.h"
#include "engine/TestCatalogue.h"
#include "report/WholeFile.h"
#include "sources/CountLines.h"

namespace zyg {

namespace {

constexpr const char* kProgram = "zygomet-test";

std::vector<HweTest> samplesTests(LocusKind kind);

struct CommandOptions {
    std::optional<std::string> file;
    std::vector<HweTest> tests;      // none given: every test that applies
    std::optional<LocusKind> locus;  // --locus; none: the first sample decides
    std::optional<std::string> csv;
    bool skipBad = false;
    std::vector<std::string> counts;  // the counts given as arguments
    std::set<std::string> given;
};

// The tests observed samples of a kind of locus get by default: every one
// that applies.
std::vector<HweTest> samplesTests(LocusKind kind) {
    std::vector<HweTest> tests;
    for (HweTest t : observedSampleTests())
        if (appliesTo(t, kind)) tests.push_back(t);
    return tests;
}

std::string allTestNames(const char* separator) {
    return testNameList(observedSampleTests(), separator);
}

const std::vector<OptionEntry<CommandOptions>>& optionTable() {
    static const std::vector<OptionEntry<CommandOptions>> table = {
        fileOption("--file", "test one sample per line of FILE (- for standard input)",
                   "give a file name, or - for standard input", &CommandOptions::file),
        {"--test", "TESTS", "tests, comma-separated, in the order of the output (default all)",
         [](CommandOptions& o, const std::string& v) {
             o.tests.clear();
             std::size_t start = 0;
             for (;;) {
                 const auto comma = v.find(',', start);
                 const std::string name = v.substr(start, comma - start);
                 const auto t = parseHweTest(name);
                 if (!t || !testEntry(*t).observedSamples)
                     refuse("--test", v, "the tests are " + allTestNames(", "));
                 if (std::find(o.tests.begin(), o.tests.end(), *t) != o.tests.end())
                     refuse("--test", v, name + " is named twice");
                 o.tests.push_back(*t);
                 if (comma == std::string::npos) break;
                 start = comma + 1;
             }
         }},
        {"--locus", "KIND",
         "x: three counts are females with no males (default: five counts AA AB BB A B on the "
         "first sample line make the file X-linked)",
         [](CommandOptions& o, const std::string& v) {
             const auto k = parseLocusKind(v);
             if (!k) refuse("--locus", v, "the kinds of locus are autosomal and x");
             o.locus = *k;
         }},
        fileOption("--csv", "write CSV to FILE instead of the table (- for standard output)",
                   "give a file name, or - for standard output", &CommandOptions::csv),
        {"--skip-bad", nullptr, "report bad lines on standard error and test the others",
         [](CommandOptions& o, const std::string&) { o.skipBad = true; }},
        {"--version", nullptr, "print the version and stop",
         [](CommandOptions&, const std::string&) {}},
    };
    return table;
}

CommandOptions parseOptions(const std::vector<std::string>& args) {
    CommandOptions o;
    // The operands are the counts; a negative count is an operand too, and
    // refused as a count, not as an unknown option.
    o.counts = parseArguments(args, optionTable(), o, o.given, kProgram, true);
    if (o.file && !o.counts.empty())
        throw UsageError("give either --file or the three counts AA AB BB, not both");
    if (!o.file && o.skipBad) throw UsageError("--skip-bad: only with --file");
    return o;
}

std::string where(const std::string& file, std::size_t line) {
    return (file == "-" ? std::string("standard input") : file) + ", line " + std::to_string(line);
}

// The lines listed one by one before the rest is only counted.
constexpr std::size_t kLinesListed = 20;

// Output held back until the whole input has been read, so that bad input
// leaves nothing written: in memory up to kHeldInMemory, beyond that in an
// unnamed temporary file.
class HeldOutput {
public:
    HeldOutput() = default;
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    ~HeldOutput() {
        if (file_) std::fclose(file_);
    }

    void add(std::string_view piece) {
        if (error_) return;
        if (!file_ && memory_.size() + piece.size() <= kHeldInMemory) {
            memory_.append(piece);
            return;
        }
        if (!file_) {
            file_ = std::tmpfile();
            if (!file_ || !put(memory_)) return fail();
            std::string().swap(memory_);
        }
        if (!put(piece)) fail();
    }

    // Hands the held output to `sink` in pieces, in order; false, with
    // `why` set, when the temporary file failed.
    template <class Sink>
    bool replay(Sink sink, std::string& why) {
        if (!error_ && !file_) {
            sink(std::string_view(memory_));
            return true;
        }
        if (!error_ && (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)) fail();
        std::vector<char> buffer(std::size_t{1} << 16);
        while (!error_) {
            const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file_);
            if (got > 0) sink(std::string_view(buffer.data(), got));
            if (got < buffer.size()) {
                if (std::ferror(file_)) fail();
                break;
            }
        }
        if (error_) why = outputErrorMessage(error_);
        return error_ == 0;
    }

private:
    static constexpr std::size_t kHeldInMemory = std::size_t{16} << 20;
    bool put(std::string_view bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    void fail() { error_ = errno ? errno : EIO; }

    std::string memory_;
    std::FILE* file_ = nullptr;
    int error_ = 0;
};

// The one sample given as arguments, as a source.
class ArgumentSample : public SampleSource {
public:
    explicit ArgumentSample(const SampleCounts& counts) : counts_(counts) {}
    bool next(SampleBatch& batch) override {
        batch.clear();
        if (given_) return false;
        given_ = true;
        batch.samples.push_back({0, {}, counts_});
        return true;
    }

private:
    SampleCounts counts_;
    bool given_ = false;
};

// Reads the source batch by batch and writes each batch's rows as they are
// tested: to the --csv file's temporary file directly, or held until the
// input is whole (standard output, a file written through such as a pipe),
// so that a bad line or an input that fails leaves no output anywhere.
int testSamples(const CommandOptions& o, const SampleStreams& io, SampleSource& source) {
    const bool csvToFile = o.csv && *o.csv != "-";
    std::unique_ptr<WholeFileWriter> writer;
    if (csvToFile) writer = std::make_unique<WholeFileWriter>(*o.csv);
    const bool direct = writer && !writer->writesThrough();
    HeldOutput held;
    const auto emit = [&](std::string_view piece) {
        if (direct)
            writer->write(piece);
        else
            held.add(piece);
    };
    // The header waits for the first sample, whose kind of locus sets the
    // columns (a file is of one kind).
    std::vector<HweTest> tests;
    std::optional<SampleTable> table;
    const auto start = [&](LocusKind locus) {
        if (table) return;
        tests = o.tests.empty() ? samplesTests(locus) : o.tests;
        for (HweTest t : tests)
            if (!appliesTo(t, locus))
                throw UsageError("--test " + std::string(hweTestName(t)) +
                                 ": a test of X-linked samples; give --locus x or five counts "
                                 "AA AB BB A B");
        table.emplace(tests, locus);
        emit(o.csv ? sampleCsvHeader(tests, locus) : table->headerCells());
    };
    if (o.locus) start(*o.locus);

    std::size_t bad = 0, samples = 0, monomorphic = 0;
    std::vector<std::size_t> monomorphicLines;
    SampleBatch batch;
    try {
        while (source.next(batch)) {
            for (const BadLine& b : batch.bad) {
                ++bad;
                if (o.skipBad || bad <= kLinesListed)
                    io.err << kProgram << ": " << where(*o.file, b.line) << ": \""
                           << shownText(b.text) << "\": " << b.why << "\n";
            }
            // Bad input ends the command: the rest is only read for its bad
            // lines, and nothing is tested once the output has failed.
            if ((bad > 0 && !o.skipBad) || (writer && writer->failed())) continue;
            if (!batch.samples.empty()) start(batch.samples.front().counts.locus);
            samples += batch.samples.size();
            if (o.csv)
                for (const InputSample& s : batch.samples)
                    if (!monomorphicNote(s.counts).empty() && ++monomorphic <= kLinesListed)
                        monomorphicLines.push_back(s.line);
            emit(o.csv ? sampleCsvRows(batch.samples, tests, io.threads)
                       : table->rowCells(batch.samples, io.threads));
        }
    } catch (const SourceError& e) {
        refuse("--file", *o.file, e.what());
    }
    start(LocusKind::Autosomal);  // no sample: the autosomal header
    if (bad > 0 && !o.skipBad) {
        if (bad > kLinesListed)
            io.err << kProgram << ": and " << bad - kLinesListed << " more bad lines\n";
        return kExitUsage;
    }

    std::string why;
    bool heldOk = true;
    if (csvToFile) {
        if (!direct) heldOk = held.replay([&](std::string_view p) { writer->write(p); }, why);
        std::string fault = writer->commit();
        if (!heldOk) fault = why;
        if (!fault.empty()) {
            io.err << kProgram << ": --csv \"" << *o.csv << "\": the file cannot be written ("
                   << fault << ")\n";
            return kExitFailure;
        }
    } else if (o.csv) {
        heldOk = held.replay([&](std::string_view p) { io.out << p; }, why);
    } else {
        // The held cells, line by line, aligned now that every width is known.
        std::string carry;
        heldOk = held.replay(
            [&](std::string_view p) {
                for (std::size_t end; (end = p.find('\n')) != std::string_view::npos;) {
                    carry.append(p.substr(0, end));
                    io.out << table->aligned(carry);
                    carry.clear();
                    p.remove_prefix(end + 1);
                }
                carry.append(p);
            },
            why);
    }
    if (!heldOk) {
        io.err << kProgram << ": the output cannot be held until the input is read (" << why
               << ")\n";
        return kExitFailure;
    }

    // Notes go to standard error; a table carries its own for monomorphic
    // samples.
    if (monomorphic > 0) {
        io.err << kProgram << ": " << monomorphic
               << (monomorphic == 1 ? " sample has" : " samples have")
               << " only one allele and no p-values";
        if (o.file) {
            io.err << " (line";
            if (monomorphic > 1) io.err << "s";
            for (std::size_t i = 0; i < monomorphicLines.size() && i < kLinesListed; ++i)
                io.err << (i ? ", " : " ") << monomorphicLines[i];
            if (monomorphic > kLinesListed) io.err << ", ...";
            io.err << ")";
        }
        io.err << "\n";
    }
    if (bad > 0)
        io.err << kProgram << ": " << bad << (bad == 1 ? " bad line" : " bad lines")
               << " skipped\n";
    if (samples == 0) io.err << kProgram << ": no samples to test\n";

    io.out.flush();
    if (!io.out) {
        io.err << kProgram << ": standard output cannot be written\n";
        return kExitFailure;
    }
    return kExitDone;
}

int execute(const CommandOptions& o, const SampleStreams& io) {
    if (o.file) {
        std::unique_ptr<ByteInput> input;
        try {
            input = *o.file == "-" ? streamInput(io.in) : fileInput(*o.file);
        } catch (const SourceError& e) {
            refuse("--file", *o.file, e.what());
        }
        CountLineSource source(*input, io.batch, o.locus);
        return testSamples(o, io, source);
    }
    if (o.counts.empty()) {
        io.err << sampleHelpText();
        return kExitUsage;
    }
    std::vector<std::string_view> fields(o.counts.begin(), o.counts.end());
    std::string why;
    const auto counts = parseSampleFields(fields, why, o.locus.value_or(LocusKind::Autosomal));
    std::string typed;
    for (const std::string& c : o.counts) typed += (typed.empty() ? "" : " ") + c;
    if (!counts) throw UsageError("the counts \"" + typed + "\": " + why);
    ArgumentSample source(*counts);
    return testSamples(o, io, source);
}

}  // namespace

std::string sampleVersionText() { return std::string(kProgram) + " " + kZygometVersion + "\n"; }

std::string sampleHelpText() {
    std::string text =
        "Usage: zygomet-test [options] AA AB BB\n"
        "       zygomet-test [options] --file FILE\n"
        "\n"
        "Tests of Hardy-Weinberg proportions on observed samples at one biallelic\n"
        "locus. For each sample of genotype counts AA AB BB it reports n, the\n"
        "frequency p of allele A1, the expected counts n p^2, 2npq and n q^2, the\n"
        "inbreeding coefficient F = 1 - observed/expected heterozygotes and, for\n"
        "each test, its p-value (and the statistic of x2, g and x2cc).\n"
        "\n"
        "A FILE holds one sample per line: an optional marker name, then the counts\n"
        "AA AB BB, separated by spaces, tabs or commas. Blank lines and lines that\n"
        "start with # are skipped, and so is a first line whose count fields are not\n"
        "numbers (a header). Counts are whole numbers from 0 to 1000000000. A line\n"
        "of more than " +
        std::to_string(kMaxCountLineBytes) +
        " bytes is a bad line (a comment may be longer).\n"
        "\n"
        "Options:\n";
    text += optionLines(optionTable());
    text +=
        "  --help              this text\n"
        "  --                  the arguments after it are counts, not options\n"
        "\n"
        "Tests (all of them by default, in this order):\n";
    text += testHelpLines(observedSampleTests());
    text +=
        "The exact tests condition on the allele count; counts whose probabilities\n"
        "differ by less than a relative 1e-7 are equally probable. Their p-values\n"
        "hold a relative accuracy of 1e-11 for any n wherever they are at least\n"
        "1e-300. G is computed for samples with a zero count; the main window, which\n"
        "keeps its own rule, does not test such a sample with G.\n"
        "\n"
        "A sample in which one allele is absent (monomorphic) has no p-values: its\n"
        "fields are empty and a note says so. Bad input (a count that is not a whole\n"
        "number, negative or above 1000000000, all counts 0, fewer than three\n"
        "counts) ends the command with its line and text, and with --csv FILE no\n"
        "file is written; --skip-bad lists such lines and tests the others.\n"
        "\n"
        "CSV columns: marker,AA,AB,BB,n,p,F, then for each test in the order given\n"
        "x2,p_x2, g,p_g, x2cc,p_x2cc, p_exact, p_exact_midp, ... at full precision\n"
        "(the shortest text that reads back to the same number, always with \".\").\n"
        "\n"
        "Exit status: 0 done, 1 an output could not be written, 2 bad input.\n"
        "\n"
        "Examples:\n"
        "  Test one sample of 21 AA, 61 AB and 18 BB with every test:\n"
        "    zygomet-test 21 61 18\n"
        "  The exact and mid-p tests of every marker of a file, as CSV:\n"
        "    zygomet-test --file counts.txt --test exact,exact-midp --csv results.csv\n"
        "  Read standard input, skip the bad lines, CSV on standard output:\n"
        "    zygomet-test --file - --skip-bad --csv - < counts.txt\n";
    return text;
}

int runSampleCommand(const std::vector<std::string>& args, const SampleStreams& io) {
    return exitStatusOf(kProgram, io.err, [&] {
        if (asksFor(args, optionTable(), {"--help", "-h"})) {
            io.out << sampleHelpText();
            return kExitDone;
        }
        if (asksFor(args, optionTable(), {"--version"})) {
            io.out << sampleVersionText();
            return kExitDone;
        }
        if (args.empty()) {
            io.err << sampleHelpText();
            return kExitUsage;
        }
        return execute(parseOptions(args), io);
    });
}

}  // namespace zyg
