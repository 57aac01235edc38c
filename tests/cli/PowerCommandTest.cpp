#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/PowerCommand.h"
#include "core/Clock.h"
#include "core/Version.h"
#include "engine/Random.h"
#include "engine/Simulation.h"
#include "power/PowerStudy.h"
#include "report/ResultLine.h"
#include "support/CommaLocale.h"
#include "support/PowerCommandRun.h"

using namespace zyg;

using zyg::testing::Outcome;
using zyg::testing::runPower;

namespace {

Outcome run(const std::vector<std::string>& args) { return runPower(args); }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto comma = line.find(',', start);
        out.push_back(line.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

double number(const std::string& text) {
    double value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("zygomet-power-cli-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(CommandLine, HelpListsEveryOptionAndItsExamples) {
    const Outcome o = run({"--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    for (const std::string& option : powerOptionNames())
        EXPECT_NE(o.out.find("  " + option + " "), std::string::npos) << option;
    // The default bounds of --solve n are the exact engine's sample sizes.
    EXPECT_NE(o.out.find("default 1 to " + std::to_string(kMaxPowerSampleSize) + ")"),
              std::string::npos);
    EXPECT_NE(o.out.find("saw-toothed"), std::string::npos);
    std::size_t examples = 0;
    for (std::size_t at = 0; (at = o.out.find("    zygomet-power ", at)) != std::string::npos; ++at)
        ++examples;
    EXPECT_EQ(examples, 5u);
    EXPECT_EQ(run({}).status, 2);
}

// A value given twice is one point of the grid, for every parameter of every
// model, and --solve keeps settings apart that differ in any other parameter.
TEST(CommandLine, EveryModelParameterCountsARepeatedValueOnce) {
    for (const ModelParameter& q : modelParameters()) {
        const std::string option = "--" + std::string(q.name);
        std::vector<std::string> args{"--model", q.model ? std::string(modelKey(*q.model)) : "hw"};
        if (q.input != StudyInput::P) args.insert(args.end(), {"--p", "0.3"});
        if (!q.loci.contains(LocusKind::Autosomal)) args.insert(args.end(), {"--locus", "x"});
        args.insert(args.end(), {option, q.input == StudyInput::P ? "0.3,0.3" : "0.02,0.02", "--n",
                                 "50", "--test", "x2", "--level", "0.05", "--csv", "-"});
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 0) << option << ": " << o.err;
        EXPECT_EQ(lines(o.out).size(), 2u) << option << "\n" << o.out;
    }
    const Outcome solved = run({"--model", "error", "--p", "0.3", "--het-miscall", "0.01",
                                "--hom-miscall", "0.01,0.02", "--n", "100", "--test", "x2",
                                "--level", "0.05", "--solve", "het-miscall", "--csv", "-"});
    EXPECT_EQ(solved.status, 0) << solved.err;
    EXPECT_EQ(lines(solved.out).size(), 3u) << solved.out;
}

TEST(CommandLine, BadInputIsOneLineWithStatusTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--p", "1.5", "--n", "10"}, "--p \"1.5\": p must lie from 0.01 to 0.99"},
        // A decimal comma makes a list; the line quotes the text as given,
        // not only the item that is out of range.
        {{"--p", "0,3", "--n", "10"}, "--p \"0,3\": p must lie from 0.01 to 0.99 (not 0)"},
        {{"--model", "inbreeding", "--p", "0.3", "--f", "0,05", "--n", "10"},
         "--f \"0,05\": f must lie from -min(p,q)/max(p,q) to 1 (-0.428571428571 at p 0.3; not 5)"},
        {{"--model", "inbreeding", "--p", "0.5,0.2", "--f", "-0.5", "--n", "10"},
         "--f \"-0.5\": f must lie from -min(p,q)/max(p,q) to 1 (-0.25 at p 0.2; not -0.5)"},
        {{"--p", "0.3", "--n", "10", "--level", "0,05"},
         "--level \"0,05\": levels must lie above 0 and at most 0.5 (not 0)"},
        {{"--model", "selection", "--p", "0.3", "--w12", "1,25", "--n", "10"},
         "--w12 \"1,25\": fitnesses must lie from 0 to 10 (not 25)"},
        {{"--p", "abc", "--n", "10"}, "--p \"abc\": expected a number"},
        {{"--p", "0.5", "--n", "0"}, "--n \"0\": sample sizes are whole numbers from 1 to 1000000"},
        {{"--p", "0.5", "--n", "1000001"},
         "--n \"1000001\": sample sizes are whole numbers from 1 to 1000000"},
        {{"--p", "0.5", "--n", "20000", "--method", "simulate"},
         "--n \"20000\": sample sizes are whole numbers from 1 to 10000"},
        // The limit is on work, not on points: 1000 sizes up to 10^6 pass
        // with a few tests, not with every test at four levels.
        {{"--p", "0.5", "--n", "1000:1000000:1000", "--test",
          "x2,g,x2cc,exact,exact-midp,exact-dost,exact-deficit,exact-excess,exact-deficit-midp,"
          "exact-excess-midp",
          "--level", "0.05,0.01,0.001,1e-6"},
         "the study asks for 2.042e+10 units of work"},
        {{"--model", "error", "--p", "0.3", "--het-miscall", "1.5", "--n", "10"},
         "--het-miscall \"1.5\": miscall rates must lie from 0 to 1 (not 1.5)"},
        {{"--model", "error", "--p", "0.3", "--hom-miscall", "-0.1", "--n", "10"},
         "--hom-miscall \"-0.1\": miscall rates must lie from 0 to 1 (not -0.1)"},
        {{"--model", "null", "--p", "0.3", "--null", "0.995", "--n", "10"},
         "--null \"0.995\": the null allele's frequency must lie from 0 to 0.99 (not 0.995)"},
        {{"--model", "null", "--p", "0.3", "--n", "10"}, "--null: required with --model null"},
        {{"--p", "0.3", "--het-miscall", "0.1", "--n", "10"},
         "--het-miscall: not a parameter of the model hw (it belongs to --model error)"},
        {{"--model", "error", "--p", "0.3", "--null", "0.1", "--n", "10"},
         "--null: not a parameter of the model error (it belongs to --model null)"},
        // The results file's model column knows the window's four models only.
        {{"--model", "null", "--p", "0.4", "--null", "0.1", "--n", "10", "--method", "simulate",
          "--results", "x.txt"},
         "--results: the results file holds the window's models only"},
        {{"--p", "0.5", "--n", "100:10:10"}, "--n \"100:10:10\": a range must not run backwards"},
        {{"--p", "0.5", "--n", "10:100:0"},
         "--n \"10:100:0\": the step of a range must be above 0"},
        {{"--p", "0.5", "--n", "10:100"}, "--n \"10:100\": a range is from:to:step"},
        {{"--model", "island", "--p", "0.5", "--n", "10"}, "--model \"island\": the models are"},
        {{"--p", "0.5", "--n", "10", "--test", "x2,chi"}, "--test \"x2,chi\": the tests are"},
        {{"--p", "0.5", "--n", "10", "--level", "0.7"}, "--level \"0.7\": levels must lie above 0"},
        {{"--model", "selection", "--p", "0.5", "--n", "10", "--w11", "0", "--w12", "0", "--w22",
          "0"},
         "the three fitnesses must not all be 0"},
        {{"--model", "wahlund", "--p", "0.4", "--var", "0.3", "--n", "10"},
         "--var \"0.3\": var must lie from 0 to p*q (0.24 at p 0.4)"},
        {{"--model", "wahlund", "--p", "0.1,0.5", "--var", "0.2", "--n", "10"},
         "--var \"0.2\": var must lie from 0 to p*q (0.09 at p 0.1)"},
        {{"--model", "wahlund", "--p", "0.4", "--n", "10"}, "--var: required with --model wahlund"},
        {{"--p", "0.4", "--f", "0.1", "--n", "10"}, "--f: not a parameter of the model hw"},
        {{"--p", "0.4", "--n", "10", "--nrep", "100"}, "--nrep: only with --method simulate"},
        {{"--p", "0.4", "--n", "10", "--method", "simulate", "--nrep", "50001"},
         "--nrep \"50001\": the number of replicates is a whole number from 1 to 50000"},
        {{"--p", "0.4", "--n", "10", "--method", "simulate", "--seed", "-1"}, "--seed \"-1\""},
        {{"--p", "0.4", "--n", "10", "--method", "guess"}, "--method \"guess\""},
        {{"--p", "0.4", "--n", "10", "--target", "1.5"}, "--target \"1.5\""},
        {{"--p", "0.4", "--n", "10", "--results", "x.txt"}, "--results: only with --method"},
        // The results file has columns for X2 and G only: a run of other
        // tests would append nothing while reporting success.
        {{"--p", "0.4", "--n", "10", "--method", "simulate", "--test", "exact,x2cc", "--results",
          "x.txt"},
         "--results: the results file holds X2 and G"},
        {{"--p", "0.4", "--n", "10", "--frobnicate", "1"}, "--frobnicate: unknown option"},
        {{"--p", "0.4", "--n"}, "--n: needs a value"},
        {{"--p", "0.4", "--p", "0.5", "--n", "10"}, "--p: given twice"},
        {{"--p", "0.4", "--n", "10", "extra"}, "\"extra\": unexpected argument"},
        {{"--n", "10"}, "--p: required"},
        {{"--p", "0.4", "--n", ""}, "--n \"\": expected a number"},
        {{"--p", "0.4", "--n", "10", "--test", ""}, "--test \"\": the tests are"},
        {{"--p", "0.4", "--n", "10", "--level", "0.05,"}, "--level \"0.05,\": expected a number"},
        {{"--p", "0.4", "--n", "50,10", "--allele-count", "20,30"},
         "--allele-count \"20,30\": allele counts are whole numbers from 0 to 2n (20 at n 10; not "
         "30)"},
        {{"--p", "0.4", "--n", "10", "--allele-count", "2.5"},
         "--allele-count \"2.5\": allele counts are whole numbers from 0 to 2n (not 2.5)"},
        {{"--p", "0.4", "--n", "10", "--allele-count", "5", "--method", "simulate"},
         "--allele-count: only with --method exact"},
    };
    for (const auto& [args, expected] : cases) {
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 2) << expected;
        EXPECT_EQ(o.out, "") << expected;
        EXPECT_EQ(o.err.rfind("zygomet-power: ", 0), 0u) << o.err;
        EXPECT_NE(o.err.find(expected), std::string::npos) << o.err;
        EXPECT_EQ(lines(o.err).size(), 1u) << o.err;
    }
}

TEST(CommandLine, CsvOnStandardOutputHasOneRowPerGridPoint) {
    zyg::testing::ScopedCommaLocale comma;
    const Outcome o =
        run({"--model", "inbreeding", "--p", "0.2,0.4", "--f=0:0.1:0.05", "--n", "10:30:10",
             "--test", "x2,exact", "--level", "0.05", "--csv", "-", "--target", "0.5"});
    ASSERT_EQ(o.status, 0) << o.err;
    // Standard output holds the CSV alone; the target table goes to standard error.
    EXPECT_NE(o.err.find("first n with power >= 0.5"), std::string::npos);
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 1u + 2 * 3 * 3 * 2);
    EXPECT_EQ(rows[0] + "\n", studyCsv({}));
    const auto first = fields(rows[1]);
    ASSERT_EQ(first.size(), 27u);
    EXPECT_EQ(first[0], "inbreeding");
    EXPECT_EQ(first[1], "0.2");
    EXPECT_EQ(first[3], "0");
    EXPECT_EQ(first[7], "10");
    EXPECT_EQ(first[8], "x2");
    EXPECT_EQ(first[10], "exact");
    EXPECT_EQ(first[14], "");  // no standard error for exact rows
    const auto last = fields(rows.back());
    EXPECT_EQ(last[1], "0.4");
    EXPECT_EQ(last[3], "0.1");
    EXPECT_EQ(last[7], "30");
    EXPECT_EQ(last[8], "exact");
    // Full precision: the power reads back as the engine's double.
    ModelSetting m{GenotypeModel::Inbreeding, 0.4};
    m.f = 0.1;
    const std::vector<TestLevel> tl{{HweTest::Exact, 0.05}};
    EXPECT_EQ(number(last[12]), exactPower(m, 30, tl)[0].power);
    for (const auto& row : rows) EXPECT_EQ(fields(row).size(), 27u) << row;
}

TEST(CommandLine, TableAndTargetOnStandardOutputCsvToAFile) {
    const std::string csv = tempPath("points.csv");
    const Outcome o = run({"--model", "inbreeding", "--p", "0.4", "--f", "0.2", "--n", "50:400:50",
                           "--level", "0.05", "--target", "0.8", "--csv", csv});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_NE(o.out.find("model       p    parameter    n  test  level"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("first n with power >= 0.8"), std::string::npos);
    EXPECT_EQ(lines(readFile(csv)).size(), 1u + 8 * 2);
    std::filesystem::remove(csv);

    const Outcome bad = run({"--p", "0.4", "--n", "10", "--csv", "/nonexistent-dir/x.csv"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("--csv \"/nonexistent-dir/x.csv\""), std::string::npos);
    std::ostringstream closed, err;
    closed.setstate(std::ios::badbit);
    EXPECT_EQ(runPowerCommand({"--p", "0.4", "--n", "10", "--csv", "-"}, {closed, err, false}), 1);
    EXPECT_EQ(err.str(), "zygomet-power: standard output cannot be written\n");
    // A device that is full: the failure is reported, not taken for success.
    const Outcome full = run({"--p", "0.4", "--n", "10", "--csv", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot be written"), std::string::npos);
}

TEST(CommandLine, SimulatedRunsGoToTheResultsFileAsTheWindowSavesThem) {
    const std::string path = tempPath("results.txt");
    std::filesystem::remove(path);
    const Outcome o = run({"--model", "wahlund", "--p", "0.3", "--var", "0.02", "--n", "60",
                           "--method", "simulate", "--nrep", "500", "--seed", "4242", "--results",
                           path, "--test", "x2,g,exact"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("from seed 4242\n"), std::string::npos) << o.out;

    // The window's run from the same seed, saved as the window saves it.
    auto state = std::make_unique<SimulationState>();
    ModelSetting m{GenotypeModel::Wahlund, 0.3};
    m.var = 0.02;
    state->frequencies = frequenciesOf(m);
    RunOptions options;
    options.seed = 4242;
    const RunResult r = runSimulation({60, 500, true, true}, *state, ".", nullptr, options);
    auto shown = [](std::uint16_t above, std::uint16_t ok) {
        return std::round(static_cast<double>(above) / ok * 10000) / 10000;
    };
    ResultLineValues v;
    v.modelIndex = 1;
    v.p = 0.3;
    v.var = 0.02;
    v.nText = "60";
    v.nrepText = "500";
    v.nrep = 500;
    v.x2On = v.gOn = true;
    v.x2At05 = shown(r.x2.counts.above05, r.x2.ok);
    v.x2At01 = shown(r.x2.counts.above01, r.x2.ok);
    v.gAt05 = shown(r.g.counts.above05, r.g.ok);
    v.gAt01 = shown(r.g.counts.above01, r.g.ok);
    v.x2Ok = r.x2.ok;
    v.gOk = r.g.ok;
    EXPECT_EQ(readFile(path), headerLine() + resultLine(v));

    // A second run appends; the seed from the clock is printed.
    class Noon final : public Clock {
        TimeOfDay utcTimeOfDay() const override { return {12, 0, 0, 5}; }
    } noon;
    setClock(&noon);
    const Outcome again = run({"--model", "wahlund", "--p", "0.3", "--var", "0.02", "--n", "60",
                               "--method", "simulate", "--nrep", "500", "--results", path});
    setClock(nullptr);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("from seed 43200005 (from the clock)"), std::string::npos)
        << again.out;
    EXPECT_EQ(lines(readFile(path)).size(), 3u);
    std::filesystem::remove(path);
}

TEST(CommandLine, VersionAndTheEndOfTheOptions) {
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("zygomet-power ") + kZygometVersion + "\n");
    EXPECT_NE(std::string(kZygometVersion).find('.'), std::string::npos);
    // After "--" nothing is an option, and the command takes no operands.
    const Outcome after = run({"--p", "0.4", "--n", "10", "--", "--csv", "-"});
    EXPECT_EQ(after.status, 2);
    EXPECT_EQ(after.err, "zygomet-power: \"--csv\": unexpected argument; options start with --\n");
    // "--version" as the value of an option is that option's value.
    const std::string csv = tempPath("--version");
    const Outcome value = run({"--p", "0.4", "--n", "10", "--csv", csv});
    EXPECT_EQ(value.status, 0);
    EXPECT_EQ(value.out.find("zygomet-power 1"), std::string::npos);
    std::filesystem::remove(csv);
    EXPECT_EQ(run({"--p", "0.4", "--n", "10", "--test", "--version"}).status, 2);
}

TEST(CommandLine, PowerGivenTheAlleleCountHasItsColumnAndRows) {
    const Outcome o =
        run({"--model", "inbreeding", "--p", "0.3", "--f", "-0.2", "--n", "40", "--allele-count",
             "10,24", "--test", "exact-excess,x2", "--level", "0.05", "--csv", "-"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 1u + 2 * 2);
    const auto header = fields(rows[0]);
    EXPECT_EQ(header[20], "allele_count");
    ModelSetting m{GenotypeModel::Inbreeding, 0.3};
    m.f = -0.2;
    const std::vector<TestLevel> asked{{HweTest::ExactExcess, 0.05}, {HweTest::X2, 0.05}};
    for (std::size_t a = 0; a < 2; ++a) {
        const std::uint32_t count = a == 0 ? 10 : 24;
        const auto given = exactPowerGivenAlleleCount(m, 40, count, asked);
        for (std::size_t t = 0; t < 2; ++t) {
            const auto row = fields(rows[1 + 2 * a + t]);
            EXPECT_EQ(row[20], std::to_string(count));
            EXPECT_EQ(row[8], t == 0 ? "exact-excess" : "x2");
            EXPECT_EQ(number(row[12]), given[t].power);
        }
    }
    // Unconditional rows leave the column empty.
    const Outcome plain =
        run({"--p", "0.3", "--n", "40", "--test", "x2", "--level", "0.05", "--csv", "-"});
    EXPECT_EQ(fields(lines(plain.out)[1]).back(), "");
    const Outcome table = run({"--p", "0.3", "--n", "40", "--allele-count", "24"});
    EXPECT_NE(table.out.find("  n   a  test"), std::string::npos) << table.out;
}

TEST(CommandLine, QualityControlModelsHaveTheirColumnsAndTableParameter) {
    const Outcome o = run({"--model", "error", "--p", "0.2", "--het-miscall", "0.02,0.05",
                           "--hom-miscall", "0.001", "--n", "5000", "--test", "exact,exact-deficit",
                           "--level", "1e-6", "--csv", "-"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 1u + 2 * 2);
    EXPECT_NE(rows[0].find(",het_miscall,hom_miscall,null"), std::string::npos);
    const auto first = fields(rows[1]);
    ASSERT_EQ(first.size(), 27u);
    EXPECT_EQ(first[0], "error");
    EXPECT_EQ(first[21], "0.02");
    EXPECT_EQ(first[22], "0.001");
    EXPECT_EQ(first[23], "");
    EXPECT_EQ(fields(rows.back())[21], "0.05");
    // The CSV's power is the engine's at the observed genotype frequencies.
    ModelSetting m{GenotypeModel::Error, 0.2};
    m.hetMiscall = 0.05;
    m.homMiscall = 0.001;
    const std::vector<TestLevel> tl{{HweTest::ExactDeficit, 1e-6}};
    EXPECT_EQ(number(fields(rows.back())[12]), exactPower(m, 5000, tl)[0].power);

    const Outcome null = run({"--model", "null", "--p", "0.3", "--null", "0.05", "--n", "200",
                              "--test", "exact", "--level", "0.05"});
    ASSERT_EQ(null.status, 0) << null.err;
    EXPECT_NE(null.out.find("null=0.05"), std::string::npos) << null.out;
    const Outcome hwCsv = run({"--p", "0.3", "--n", "20", "--test", "x2", "--csv", "-"});
    const auto hwRow = fields(lines(hwCsv.out)[1]);
    EXPECT_EQ(hwRow[21] + hwRow[22] + hwRow[23], "");
}

namespace zyg {
namespace {

TEST(CommandLine, XLinkedStudiesStateTheSexesAndRefuseWhatXLacks) {
    const Outcome o =
        run({"--locus", "x", "--model", "inbreeding", "--p", "0.3", "--f", "0.05", "--p-male",
             "0.35", "--n", "2000", "--test", "x-exact,exact", "--level", "0.05"});
    ASSERT_EQ(o.status, 0) << o.err;
    const auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[0].find("nf    nm  p-male"), std::string::npos) << rows[0];
    EXPECT_NE(rows[1].find("2000  1000  1000    0.35  x-exact"), std::string::npos) << rows[1];
    EXPECT_NE(rows[1].find("0.819732"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find("0.338422"), std::string::npos) << rows[2];

    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"--locus", "x", "--males", "1.5"}, "--males \"1.5\": the share of males must lie"},
        {{"--locus", "x", "--model", "wahlund", "--var", "0.01"}, "--locus x: the model has no"},
        {{"--p-male", "0.4"}, "--p-male: only with --locus x"},
        {{"--test", "x-g"}, "give --locus x"},
        {{"--locus", "y"}, "--locus \"y\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--p", "0.3", "--n", "100"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome bad = run(args);
        EXPECT_EQ(bad.status, 2) << c.message;
        EXPECT_NE(bad.err.find(c.message), std::string::npos) << bad.err;
    }
}

}  // namespace
}  // namespace zyg
