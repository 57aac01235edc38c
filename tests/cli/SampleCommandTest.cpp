#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

#include "cli/SampleCommand.h"
#include "core/NumberText.h"
#include "core/Version.h"
#include "engine/ObservedSample.h"

namespace zyg {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args, const std::string& input = "",
            unsigned threads = 2, std::size_t batch = 65536) {
    std::istringstream in(input);
    std::ostringstream out, err;
    const int status = runSampleCommand(args, {in, out, err, threads, batch});
    return {status, out.str(), err.str()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) result.push_back(line);
    return result;
}

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class SampleCommand : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("zygomet-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string file(const std::string& name, const std::string& text) {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    fs::path folder_;
};

TEST_F(SampleCommand, OneSampleFromTheArgumentsAsATable) {
    const Outcome r = run({"21", "61", "18"});
    ASSERT_EQ(r.status, kExitDone) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].rfind("marker  AA  AB  BB    n      p     E_AA    E_AB     E_BB", 0), 0u)
        << out[0];
    EXPECT_NE(out[0].find("p_exact_excess_midp  note"), std::string::npos);
    EXPECT_NE(out[1].find("0.515  26.5225  49.955  23.5225  -0.221099  4.88848  0.0270365"),
              std::string::npos)
        << out[1];
    EXPECT_NE(out[1].find("0.0444057"), std::string::npos);  // the exact p-value
    EXPECT_TRUE(r.err.empty());
}

TEST_F(SampleCommand, CsvColumnsFollowTheTestsInTheirOrderAtFullPrecision) {
    const Outcome r = run({"--test", "exact-midp,x2cc,exact", "--csv", "-", "2", "17", "81"});
    ASSERT_EQ(r.status, kExitDone) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "marker,AA,AB,BB,n,p,F,p_exact_midp,x2cc,p_x2cc,p_exact");
    const HweTest tests[] = {HweTest::ExactMidP, HweTest::X2cc, HweTest::Exact};
    const auto v = testSample({2, 17, 81}, tests);
    const SampleSummary s = summarizeSample({2, 17, 81});
    EXPECT_EQ(out[1], ",2,17,81,100,0.105," + shortestText(*s.f) + "," +
                          shortestText(*v[0].pValue) + "," + shortestText(*v[1].statistic) + "," +
                          shortestText(*v[1].pValue) + "," + shortestText(*v[2].pValue));
    EXPECT_EQ(out[1].substr(out[1].rfind(',') + 1), "0.2840415004433676");
}

TEST_F(SampleCommand, ReadsNamesSeparatorsCommentsHeadersAndBlankLines) {
    const std::string input =
        "\xEF\xBB\xBFmarker,AA,AB,BB\r\n"
        "# a comment\n"
        "\n"
        "   \t \n"
        "rs1, 21, 61, 18\r\n"
        "rs2\t2\t17\t81\n"
        "  # an indented comment\n"
        "30 40 30\n"
        "rs\"4 1,,2,  3";  // no final line feed
    const Outcome r = run({"--file", file("in.txt", input), "--test", "exact", "--csv", "-"});
    ASSERT_EQ(r.status, kExitDone) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 5u) << r.out;
    EXPECT_EQ(out[1].substr(0, 14), "rs1,21,61,18,1");
    EXPECT_EQ(out[2].substr(0, 13), "rs2,2,17,81,1");
    EXPECT_EQ(out[3].substr(0, 13), ",30,40,30,100");
    EXPECT_EQ(out[4].substr(0, 14), "\"rs\"\"4\",1,2,3,");  // a quote in a name is doubled
}

TEST_F(SampleCommand, AHeaderIsOnlyTheFirstLine) {
    const Outcome r = run({"--file", "-"}, "1 2 3\nAA AB BB\n");
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_NE(r.err.find("standard input, line 2: \"AA AB BB\": the count \"AA\" is not a whole "
                         "number"),
              std::string::npos)
        << r.err;
}

TEST_F(SampleCommand, BadInputNamesItsLineAndTextAndWritesNothing) {
    struct Case {
        const char* line;
        const char* why;
    };
    const Case cases[] = {
        {"rs9 12 1.5 40", "the count \"1.5\" is not a whole number"},
        {"rs9 12 -3 40", "the count \"-3\" is negative"},
        {"rs9 12 x 40", "the count \"x\" is not a whole number"},
        {"rs9 0 0 0", "all three counts are 0"},
        {"rs9 12 40", "the count \"rs9\" is not a whole number"},
        {"12 40", "fewer than three counts"},
        {"rs9 1 2 3 4", "found 5 fields"},
        {"rs9 1000000001 2 3", "\"1000000001\" is above 1000000000"},
        {"rs9 99999999999999999999999 2 3", "is above 1000000000"},
    };
    const std::string csv = (folder_ / "out.csv").string();
    std::ofstream(csv) << "old results\n";
    for (const Case& c : cases) {
        const std::string input = "marker AA AB BB\nrs1 21 61 18\n" + std::string(c.line) + "\n";
        const std::string path = file("bad.txt", input);
        // Read one line at a time, the good line before the bad one is
        // tested first and still reaches neither the file nor standard output.
        const Outcome r = run({"--file", path, "--csv", csv}, "", 2, 1);
        EXPECT_EQ(r.status, kExitUsage) << c.line;
        EXPECT_EQ(r.err.rfind("zygomet-test: " + path + ", line 3: \"" + c.line + "\": ", 0), 0u)
            << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(slurp(csv), "old results\n") << c.line;
        EXPECT_EQ(run({"--file", path, "--csv", "-"}, "", 2, 1).out, "");
        EXPECT_EQ(run({"--file", path}, "", 2, 1).out, "");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2)
        << "a temporary file was left behind";
    // A bad line is quoted with its control characters and escape codes
    // shown as escapes, and cut to a readable length.
    const Outcome escaped =
        run({"--file", "-"}, "rs9 \x1b[2J\x07 2 3\n" + std::string(300, 'z') + " 1 x 3\n");
    EXPECT_EQ(escaped.err,
              "zygomet-test: standard input, line 1: \"rs9 \\x1b[2J\\x07 2 3\": the count "
              "\"\\x1b[2J\\x07\" is not a whole number\n"
              "zygomet-test: standard input, line 2: \"" +
                  std::string(80, 'z') + "...\": the count \"x\" is not a whole number\n");
    // The same checks hold for the counts given as arguments.
    const Outcome args = run({"--", "12", "-3", "40"});
    EXPECT_EQ(args.status, kExitUsage);
    EXPECT_EQ(args.err, "zygomet-test: the counts \"12 -3 40\": the count \"-3\" is negative\n");
    EXPECT_EQ(run({"12", "40"}).status, kExitUsage);
    EXPECT_EQ(run({"0", "0", "0"}).status, kExitUsage);
}

TEST_F(SampleCommand, SkipBadReportsEveryBadLineAndTestsTheRest) {
    const Outcome r = run({"--file", "-", "--skip-bad", "--csv", "-", "--test", "x2"},
                          "a 1 2 3\nb 1 x 3\nc 4 5 6\nd\n");
    ASSERT_EQ(r.status, kExitDone);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[1].substr(0, 2), "a,");
    EXPECT_EQ(out[2].substr(0, 2), "c,");
    EXPECT_NE(r.err.find("line 2: \"b 1 x 3\""), std::string::npos);
    EXPECT_NE(r.err.find("line 4: \"d\": fewer than three counts"), std::string::npos);
    EXPECT_NE(r.err.find("2 bad lines skipped"), std::string::npos);
}

TEST_F(SampleCommand, CsvToAFileEqualsCsvToStandardOutput) {
    std::string input;
    for (int i = 0; i < 3000; ++i) {
        // "m" appended on its own: GCC 12 at -O3 warns falsely (-Wrestrict)
        // on a literal plus a temporary string (GCC bug 105329).
        input += "m";
        input += std::to_string(i) + " " + std::to_string(i % 37) + " " + std::to_string(i % 101) +
                 " " + std::to_string(i % 53 + 1) + "\n";
    }
    const std::string in = file("in.txt", input), csv = (folder_ / "out.csv").string();
    const Outcome toFile = run({"--file", in, "--csv", csv});
    ASSERT_EQ(toFile.status, kExitDone) << toFile.err;
    EXPECT_TRUE(toFile.out.empty());
    // The text does not depend on how many threads computed it nor on how
    // many samples were read at a time; the table's columns are as wide as
    // their widest cell over the whole input.
    const Outcome toOut = run({"--file", in, "--csv", "-"}, "", 1);
    EXPECT_EQ(slurp(csv), toOut.out);
    EXPECT_EQ(lines(toOut.out).size(), 3001u);
    const Outcome table = run({"--file", in}, "", 1);
    for (unsigned threads : {1u, 3u})
        for (std::size_t batch : {1u, 7u, 2000u}) {
            EXPECT_EQ(run({"--file", in, "--csv", "-"}, "", threads, batch).out, toOut.out);
            EXPECT_EQ(run({"--file", in}, "", threads, batch).out, table.out);
        }
    struct stat info {};
    ASSERT_EQ(::stat(csv.c_str(), &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(SampleCommand, AnUnwritableCsvIsAFailure) {
    const Outcome r = run({"--csv", (folder_ / "missing" / "out.csv").string(), "1", "2", "3"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("the file cannot be written"), std::string::npos);
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::istringstream in;
    std::ostringstream err;
    EXPECT_EQ(runSampleCommand({"1", "2", "3"}, {in, out, err, 1}), kExitFailure);
}

TEST_F(SampleCommand, MonomorphicSamplesHaveEmptyPValuesAndANote) {
    const Outcome csv =
        run({"--file", "-", "--csv", "-", "--test", "x2,exact"}, "a 0 0 9\nb 9 0 0\n");
    ASSERT_EQ(csv.status, kExitDone);
    const auto out = lines(csv.out);
    EXPECT_EQ(out[1], "a,0,0,9,9,0,,,,");
    EXPECT_EQ(out[2], "b,9,0,0,9,1,,,,");
    EXPECT_EQ(csv.err,
              "zygomet-test: 2 samples have only one allele and no p-values (lines 1, 2)\n");
    const Outcome table = run({"0", "0", "9", "--test", "exact"});
    ASSERT_EQ(table.status, kExitDone);
    EXPECT_NE(table.out.find("not tested: only A2 occurs"), std::string::npos) << table.out;
}

TEST_F(SampleCommand, OptionsAndTheirMistakes) {
    EXPECT_EQ(run({"--version"}).out, std::string("zygomet-test ") + kZygometVersion + "\n");
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, kExitDone);
    for (const char* option : {"--file", "--test", "--csv", "--skip-bad", "--version", "--help"})
        EXPECT_NE(help.out.find(std::string("  ") + option), std::string::npos) << option;
    EXPECT_NE(help.out.find("does not test such a sample with G"), std::string::npos);
    EXPECT_NE(help.out.find("A line\nof more than 65536 bytes is a bad line"), std::string::npos);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } mistakes[] = {
        {{}, "Usage:"},
        {{"--test", "exact,fisher", "1", "2", "3"}, "--test \"exact,fisher\": the tests are x2"},
        {{"--test", "x2,x2", "1", "2", "3"}, "x2 is named twice"},
        {{"--bogus", "1", "2", "3"}, "--bogus: unknown option"},
        {{"--file"}, "--file: needs a value (FILE)"},
        {{"--file", "a", "1", "2", "3"}, "not both"},
        {{"--skip-bad", "1", "2", "3"}, "--skip-bad: only with --file"},
        {{"--csv", "-", "--csv", "-", "1", "2", "3"}, "--csv: given twice"},
        {{"--file", (fs::temp_directory_path() / "no-such-zygomet-input").string()},
         "cannot be read"},
    };
    for (const auto& m : mistakes) {
        const Outcome r = run(m.args);
        EXPECT_EQ(r.status, kExitUsage) << m.message;
        EXPECT_NE(r.err.find(m.message), std::string::npos) << r.err;
    }
    // --test=..., --csv=...: the value may follow an equals sign.
    EXPECT_EQ(run({"--test=g", "--csv=-", "1", "2", "3"}).out.substr(0, 26),
              "marker,AA,AB,BB,n,p,F,g,p_");
}

// A reader's locale: decimal comma, points between thousands.
struct GermanNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(SampleCommand, WritesPointsWhateverTheLocale) {
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new GermanNumbers));
    const Outcome r = run({"--csv", "-", "--test", "x2", "2100", "6100", "1800"});
    std::locale::global(previous);
    EXPECT_EQ(lines(r.out).at(1).substr(0, 27), ",2100,6100,1800,10000,0.515") << r.out;
}

}  // namespace
}  // namespace zyg

namespace zyg {
namespace {

TEST_F(SampleCommand, XLinkedSamplesCountTheMalesAndTestTheFemalesAlone) {
    const Outcome r = run({"--file", "-", "--test", "x-exact,x-exact-midp,exact", "--csv", "-"},
                          "marker AA AB BB A B\nm1 30 40 30 45 55\n10 0 0 0 20\n");
    ASSERT_EQ(r.status, kExitDone) << r.err;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0],
              "marker,AA,AB,BB,A,B,nf,nm,p_female,p_male,p,F_female,p_x_exact,p_x_exact_midp,"
              "p_exact_females");
    EXPECT_EQ(
        out[1].rfind("m1,30,40,30,45,55,100,100,0.5,0.45,0.48333333333333334,0.2,0.08877677731", 0),
        0u)
        << out[1];
    EXPECT_NE(out[1].find(",0.08808517238"), std::string::npos) << out[1];
    // Females monomorphic, males not: the X tests apply, the females' do not.
    EXPECT_EQ(out[2].substr(out[2].size() - 1), ",") << out[2];

    // --locus x: three counts are females with no males, where x-exact is the
    // autosomal exact test.
    const Outcome females =
        run({"--locus", "x", "--test", "x-exact,exact", "--csv", "-", "30", "40", "30"});
    ASSERT_EQ(females.status, kExitDone) << females.err;
    EXPECT_NE(lines(females.out)[1].find(",0.2,0.04685521181"), std::string::npos) << females.out;
    EXPECT_NE(lines(females.out)[1].find(",0.0468552118134"), std::string::npos) << females.out;
}

TEST_F(SampleCommand, BadXLinkedInputIsRefusedWithItsTextAndWritesNothing) {
    struct Case {
        std::string text, why;
    };
    const Case cases[] = {
        {"m1 1 2 3\nm2 1 2 3 4 5\n", "give --locus x"},
        {"1 2 3 -1 5\n", "\"-1\" is negative"},
        {"1 2 3 1.5 2\n", "\"1.5\" is not a whole number"},
        {"0 0 0 0 0\n", "all five counts are 0"},
        {"m 1 2 3 4 5 6\n", "found 7 fields"},
    };
    for (const Case& c : cases) {
        const std::string csv = (folder_ / "out.csv").string();
        const Outcome r = run({"--file", "-", "--csv", csv}, c.text);
        EXPECT_EQ(r.status, kExitUsage) << c.text;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(csv)) << c.text;
    }
    const Outcome autosomal = run({"--test", "x-exact", "21", "61", "18"});
    EXPECT_EQ(autosomal.status, kExitUsage);
    EXPECT_NE(autosomal.err.find("give --locus x"), std::string::npos) << autosomal.err;
}

}  // namespace
}  // namespace zyg
