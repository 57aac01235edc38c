#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/SampleCommand.h"
#include "core/NumberText.h"

namespace zyg {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    const int status = runSampleCommand(args, {in, out, err, 2, 4});
    return {status, out.str(), err.str()};
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> f;
    std::stringstream s(line);
    for (std::string x; std::getline(s, x, ',');) f.push_back(x);
    return f;
}

class GenotypeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("zygomet-genotypes-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return path(name);
    }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    std::string bgzipped(const std::string& name, const std::string& text) {
        BGZF* out = bgzf_open(path(name).c_str(), "w");
        EXPECT_EQ(bgzf_write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        bgzf_close(out);
        return path(name);
    }
    fs::path folder_;
};

const char* kHeader =
    "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"G\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\te\tf\n";

// Six people's calls at a marker of chromosome 1.
std::string record(int pos, const std::string& calls) {
    return "1\t" + std::to_string(pos) + "\tm" + std::to_string(pos) + "\tA\tG\t.\t.\t.\tGT\t" +
           calls + "\n";
}

TEST_F(GenotypeCommand, PValuesEqualThoseOfTheCountLines) {
    std::string vcf = kHeader;
    const char* calls[] = {"0/0\t0/1\t1/1\t0/0\t0/0\t./.", "0|1\t1|0\t0|1\t0/1\t1/1\t0/0",
                           "1/1\t1/1\t1/1\t0/0\t0/0\t0/0", "./.\t.\t./.\t./.\t./.\t./.",
                           "0/0\t0/0\t0/0\t0/0\t0/0\t0/1"};
    for (int m = 0; m < 5; ++m) vcf += record(10 * (m + 1), calls[m]);
    const std::string path = bgzipped("in.vcf.gz", vcf);
    const Outcome genotypes = run({"--file", path, "--csv", "-"});
    ASSERT_EQ(genotypes.status, 0) << genotypes.err;
    std::istringstream rows(genotypes.out);
    std::string line, counts;
    std::getline(rows, line);
    const std::vector<std::string> header = fields(line);
    ASSERT_EQ(header[5], "marker");
    EXPECT_EQ(header.back(), "male_het");
    std::vector<std::vector<std::string>> tested;
    while (std::getline(rows, line)) {
        auto f = fields(line + ",");
        tested.emplace_back(f.begin() + 5, f.end() - 2);  // the count-line columns
        if (tested.back()[1] != "0" || tested.back()[2] != "0" || tested.back()[3] != "0")
            counts += tested.back()[0] + " " + tested.back()[1] + " " + tested.back()[2] + " " +
                      tested.back()[3] + "\n";
    }
    ASSERT_EQ(tested.size(), 5u);
    // The marker with no called genotype is a row with n 0 and no p-values.
    EXPECT_EQ(tested[3][4], "0");
    EXPECT_EQ(tested[3].back(), "");
    // A count line of three zeros is such a row too, not bad input.
    const Outcome lines = run({"--file", file("counts.txt", counts + "m40 0 0 0\n"), "--csv", "-"});
    std::istringstream expected(lines.out);
    std::getline(expected, line);
    for (std::size_t m = 0; m < tested.size(); ++m) {
        if (m == 3) continue;
        ASSERT_TRUE(std::getline(expected, line));
        EXPECT_EQ(fields(line + ","), tested[m]) << m;
    }
    ASSERT_TRUE(std::getline(expected, line));
    tested[3][0] = "m40";
    EXPECT_EQ(fields(line + ","), tested[3]);
    EXPECT_EQ(lines.status, 0);
    EXPECT_NE(lines.err.find("1 sample has no genotype called and no p-values (line 5)"),
              std::string::npos);
    // The table reads the same file.
    const Outcome table = run({"--file", path});
    EXPECT_EQ(table.status, 0);
    EXPECT_NE(table.out.find("not tested: no called genotype"), std::string::npos);
}

TEST_F(GenotypeCommand, LevelsGiveFailColumnsAndASummary) {
    std::string vcf = kHeader;
    for (int m = 0; m < 8; ++m)
        vcf +=
            record(m + 1, m % 2 ? "0/0\t0/0\t0/0\t1/1\t1/1\t1/1" : "0/1\t0/1\t0/0\t0/0\t1/1\t0/1");
    vcf += "chrY\t5\ty\tA\tG\t.\t.\t.\tGT\t0\t0\t1\t.\t.\t.\n";
    const std::string in = file("in.vcf", vcf), summary = path("summary.csv");
    const Outcome r = run({"--file", in, "--test", "exact", "--level", "0.05,1e-6", "--csv", "-",
                           "--summary", summary});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(",fail_exact_0.05,fail_exact_1e-06\n"), std::string::npos);
    std::ifstream s(summary);
    std::stringstream text;
    text << s.rdbuf();
    // Four markers of all homozygotes fail at 0.05 (p 20/924), none at 1e-6.
    // Under Hardy-Weinberg a marker of n 6 with 6 copies of A1 is rejected at
    // 0.05 with probability P(no heterozygote) = 20/924; one with 7 copies
    // never (its least probable count has 120/792), nor any at 1e-6.
    const std::string expected = shortestText(static_cast<double>(4 * (20.0L / 924)));
    for (const std::string& row : std::vector<std::string>{
             "read,,,,9,\n", "tested,,,,8,\n", "skipped: on chromosome Y,,,,1,\n",
             "failing,exact,0.05,all,4," + expected + "\n",
             "failing,exact,0.05,0.2-0.5,4," + expected + "\n",
             std::string("failing,exact,1e-06,all,0,0\n")})
        EXPECT_NE(text.str().find(row), std::string::npos) << row << text.str();
}

TEST_F(GenotypeCommand, GroupsGiveARowEachAndTheSmallestP) {
    const std::string in =
        file("in.vcf", std::string(kHeader) + record(1, "0/0\t1/1\t0/0\t1/1\t0/1\t0/1"));
    const std::string groups = file("groups.txt", "a G1\nb G1\nc G1\nd G1\ne G2\nf G2\n");
    const Outcome r =
        run({"--file", in, "--groups", groups, "--test", "exact", "--level", "0.5", "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    // G1: 2 AA, 2 BB (p 6/70); G2: 2 AB (p 1); one group fails at 0.5.
    EXPECT_EQ(r.out,
              "chrom,pos,id,ref,alt,group,marker,AA,AB,BB,n,p,F,p_exact,n_missing,male_het,"
              "fail_exact_0.5\n"
              "1,1,m1,A,G,G1,m1,2,0,2,4,0.5,1,0.08571428571428572,0,0,1\n"
              "1,1,m1,A,G,G2,m1,0,2,0,2,0.5,-1,1,0,0,0\n"
              "1,1,m1,A,G,(smallest),m1,,,,,,,0.08571428571428572,,,1\n");
}

TEST_F(GenotypeCommand, AnnotatesAndKeepsThePassingMarkers) {
    const std::string vcf = std::string(kHeader) + record(1, "0/0\t0/0\t0/0\t1/1\t1/1\t1/1") +
                            record(2, "0/1\t0/1\t0/0\t0/0\t1/1\t0/1") +
                            "MT\t3\tmt\tA\tG\t.\t.\t.\tGT\t0\t0\t1\t.\t.\t.\n";
    const std::string in = file("in.vcf", vcf), out = path("out.vcf"), ids = path("ids.txt");
    const Outcome r = run({"--file", in, "--test", "exact,exact-midp", "--annotate", out,
                           "--keep-passing", "0.05", "--out-passing", ids});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream annotated(out), list(ids);
    std::stringstream text, names;
    text << annotated.rdbuf();
    names << list.rdbuf();
    EXPECT_NE(text.str().find("##INFO=<ID=HWE_MIDP,Number=A,Type=Float"), std::string::npos);
    EXPECT_EQ(text.str().find("\tm1\t"), std::string::npos);  // rejected: p 0.0216
    EXPECT_NE(text.str().find("\tm2\tA\tG\t.\t.\tHWE_EXACT=1;HWE_MIDP="), std::string::npos);
    EXPECT_NE(text.str().find("\tmt\t"), std::string::npos);  // not tested, not rejected
    EXPECT_EQ(names.str(), "m2\nmt\n");
    // Bad input leaves neither file.
    fs::remove(out);
    fs::remove(ids);
    const Outcome bad = run(
        {"--file", file("bad.vcf", vcf + "1\t9\tx\tA\n"), "--annotate", out, "--out-passing", ids});
    EXPECT_EQ(bad.status, 2);
    EXPECT_FALSE(fs::exists(out) || fs::exists(ids));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);
}

TEST_F(GenotypeCommand, BadInputNamesFileAndRecordAndWritesNothing) {
    const std::string good = std::string(kHeader) + record(1, "0/0\t0/1\t1/1\t0/0\t0/0\t0/0");
    const std::string fam = "f a 0 0 1 -9\nf b 0 0 2 -9\nf c 0 0 0 -9\n";
    const std::string bim = "1\tr1\t0\t100\tG\tA\nX\tr2\t0\t5000000\tG\tA\n";
    const std::string bed = std::string("\x6c\x1b\x01\x00\x00", 5);
    file("set.fam", fam);
    file("set.bim", bim);
    file("short.fam", fam);
    file("short.bim", bim);
    file("short.bed", bed.substr(0, 4));
    // Several compressed blocks, so that a cut one follows whole ones.
    std::string many = good;
    for (int m = 2; m < 3000; ++m)
        many += record(m, m % 3 ? "0/0\t0/1\t1/1\t0/0\t0/0\t0/0" : "0/1\t0/0\t0/0\t0/0\t1/1\t0/0");
    const std::string gz = bgzipped("whole.vcf.gz", many);
    const std::string whole = [&] {
        std::ifstream f(gz, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--file", file("cut.vcf.gz", whole.substr(0, whole.size() * 3 / 4))},
         "damaged or truncated VCF"},
        {{"--file", file("bad.vcf", good + "1\t2\tm2\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\n")},
         "record 2: \"1\\t2\\tm2"},
        {{"--file", file("set.bed", bed)}, "no sex, which markers on chromosome X need (c)"},
        {{"--file", path("short.bed")}, "4 bytes, but the 2 markers"},
        {{"--file", file("im.bed", std::string("\x6c\x1b\x00", 3))}, "individual-major"},
        {{"--file", bgzipped("counts.gz", "m1 1 2 3\n")}, "file that holds no VCF header"},
        {{"--file", file("s.vcf", good), "--sex", file("sex.txt", "a M\nb 7\n")},
         "--sex \"" + path("sex.txt") + "\", line 2: \"b 7\": the sex \"7\" is none of"},
        {{"--file", file("g.vcf", good), "--groups", file("groups.txt", "a EUR\nb\n")},
         "line 2: \"b\": expected a sample ID and a group"},
        {{"--file", file("r.vcf", good), "--region", "1:1-10"}, "--region reads only"},
        {{"--file", file("c.txt", "m1 1 2 3\n"), "--par", "b37"},
         "--par: only for a genotype file"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--csv", path("out.csv")});
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(path("out.csv"))) << c.message;
    }
    // --skip-bad goes on after a malformed record, saying so.
    const Outcome skip = run({"--file", path("bad.vcf"), "--skip-bad", "--csv", path("out.csv")});
    EXPECT_EQ(skip.status, 0) << skip.err;
    EXPECT_NE(skip.err.find("record 2"), std::string::npos);
    EXPECT_TRUE(fs::exists(path("out.csv")));
}

}  // namespace
}  // namespace zyg
