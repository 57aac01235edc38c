#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/SampleCommand.h"
#include "support/PowerCommandRun.h"

namespace zyg {
namespace {

using testing::runPower;

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("zyg-panel-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = tempPath(name);
    std::ofstream(path) << text;
    return path;
}

// Count lines and zygomet-test's CSV of the same markers give the same panel.
TEST(PanelCommand, CountLinesAndTestCsvGiveTheSameAnswer) {
    const std::string lines =
        writeFile("lines.txt", "m1 30 50 20\nm2 0 3 97\nm3 0 0 0\nm4 60 0 40\n");
    const std::string csv = writeFile(
        "test.csv",
        "marker,AA,AB,BB,n,p,F,p_exact\nm1,30,50,20,100,0.55,0,1\n\"m,2\",0,3,97,100,0.015,0,1\n"
        "m4,60,0,40,100,0.6,1,0\n");
    const std::vector<std::string> rest = {"--test",  "exact,x2", "--level",       "1e-3,1e-6",
                                           "--model", "error",    "--het-miscall", "0.05",
                                           "--csv",   "-"};
    std::vector<std::string> a = {"--panel", lines}, b = {"--panel", csv};
    a.insert(a.end(), rest.begin(), rest.end());
    b.insert(b.end(), rest.begin(), rest.end());
    const auto x = runPower(a), y = runPower(b);
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(x.out, y.out);
    EXPECT_EQ(x.out.substr(0, x.out.find('\n')),
              "model,p,var,f,w11,w12,w22,test,level,het_miscall,hom_miscall,null,p_male,locus,bin,"
              "markers,"
              "false_flags,false_flags_sd,false_flags_low95,false_flags_high95,catch_rate");
    EXPECT_EQ(std::count(x.out.begin(), x.out.end(), '\n'), 1 + 2 * 2 * 5);
}

constexpr const char* kVcfHeader =
    "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=X>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\tS1\tS2\tS3\tS4\tS5\tS6\n";

// The rows of one kind of locus ("autosomal", "x") of a panel CSV.
std::string rowsOf(const std::string& csv, const std::string& locus) {
    std::string out;
    std::istringstream in(csv);
    for (std::string line; std::getline(in, line);)
        if (line.find("," + locus + ",") != std::string::npos) out += line + "\n";
    return out;
}

// A VCF's markers, autosomal and X-linked, give the rows of the same markers
// as count lines.
TEST(PanelCommand, GenotypeFileGivesTheRowsOfItsCountLines) {
    const std::string vcf =
        writeFile("panel.vcf", std::string(kVcfHeader) +
                                   "1\t100\tm1\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0/1\t0/0\t./.\n"
                                   "1\t200\tm2\tA\tG\t.\t.\t.\tGT\t0/0\t0/0\t0/0\t0/1\t0/0\t0/0\n"
                                   "X\t5000000\tx1\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0\t1\t0\n");
    const std::string sex = writeFile("sex.txt", "S1 2\nS2 2\nS3 2\nS4 1\nS5 1\nS6 1\n");
    const std::string autosomal = writeFile("auto.txt", "m1 2 2 1\nm2 5 1 0\n");
    const std::string x = writeFile("x.txt", "x1 1 1 1 2 1\n");
    const std::vector<std::string> rest = {"--test",  "exact,g", "--level",       "0.2,1e-3",
                                           "--model", "error",   "--het-miscall", "0.1",
                                           "--csv",   "-"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), rest.begin(), rest.end());
        return runPower(args);
    };
    const auto fromVcf = run({"--panel", vcf, "--sex", sex});
    const auto fromAuto = run({"--panel", autosomal}), fromX = run({"--panel", x});
    ASSERT_EQ(fromVcf.status, 0) << fromVcf.err;
    EXPECT_EQ(rowsOf(fromVcf.out, "autosomal"), rowsOf(fromAuto.out, "autosomal"));
    EXPECT_EQ(rowsOf(fromVcf.out, "x"), rowsOf(fromX.out, "x"));
    EXPECT_EQ(std::count(fromVcf.out.begin(), fromVcf.out.end(), '\n'), 1 + 2 * 2 * 3 * 5);
    // zygomet-test's CSV of the file is the same panel, though its autosomal
    // rows leave the males' columns empty.
    const std::string tested = tempPath("tested.csv");
    std::istringstream none;
    std::ostringstream out, err;
    ASSERT_EQ(runSampleCommand({"--file", vcf, "--sex", sex, "--csv", tested}, {none, out, err}), 0)
        << err.str();
    EXPECT_EQ(run({"--panel", tested}).out, fromVcf.out);
}

TEST(PanelCommand, BadInputIsStatusTwoAndWritesNothing) {
    const std::string empty = writeFile("empty.txt", "# nothing\n");
    const std::string mono = writeFile("mono.txt", "m1 100 0 0\nm2 0 0 40\n");
    const std::string bad = writeFile("bad.txt", "m1 1 2 3\nm2 1 x 3\n");
    const std::string good = writeFile("good.txt", "m1 30 50 20\n");
    const std::string huge = writeFile("huge.txt", "m1 400000 400000 400000\n");
    const std::string noMarkers = writeFile("none.vcf", std::string(kVcfHeader));
    const std::string out = tempPath("out.csv");
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--panel", empty}, "holds no marker"},
        {{"--panel", mono}, "no marker of the panel can be tested"},
        {{"--panel", bad}, "line 2"},
        {{"--panel", good, "--solve", "level", "--target", "0.5"}, "needs an effect"},
        {{"--panel", tempPath("missing.txt")}, "--panel"},
        {{"--panel", good, "--level", "0"}, "--level"},
        {{"--panel", good, "--bins", "0,0.3,0.2,0.5"}, "--bins"},
        {{"--panel", good, "--plot", tempPath("chart.png")}, "--plot"},
        {{"--panel", huge}, "exact up to 1000000"},
        {{"--panel", noMarkers}, "holds no marker"},
        {{"--panel", good, "--test", "x-exact"}, "need X-linked markers"},
        {{"--panel", good, "--sex", good}, "only for a genotype file"},
        {{"--panel", noMarkers, "--par", "b99"}, "give b37, b38 or none"},
        {{"--panel", noMarkers, "--multiallelic", "all"}, "give skip or split"},
        {{"--panel", noMarkers, "--keep", ""}, "give a file name"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--csv", out});
        const auto r = runPower(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
    }
}

}  // namespace
}  // namespace zyg
