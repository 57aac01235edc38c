#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
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
    // The count-line columns end before n_missing and male_het.
    const auto missing = std::find(header.begin(), header.end(), "n_missing") - header.begin();
    ASSERT_EQ(header[missing + 1], "male_het");
    std::vector<std::vector<std::string>> tested;
    while (std::getline(rows, line)) {
        auto f = fields(line + ",");
        tested.emplace_back(f.begin() + 5, f.begin() + missing);  // the count-line columns
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
    // A record whose FORMAT holds no GT calls no genotype either: the same row.
    const Outcome dp = run(
        {"--file",
         file("dp.vcf", std::string(kHeader) + "1\t40\tm40\tA\tG\t.\t.\t.\tDP\t1\t2\t3\t4\t5\t6\n"),
         "--csv", "-"});
    ASSERT_EQ(dp.status, 0) << dp.err;
    std::istringstream all(genotypes.out);
    for (int m = 0; m < 5; ++m) std::getline(all, line);
    EXPECT_EQ(dp.out.substr(dp.out.find('\n') + 1), line + "\n");
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
    // m2's INFO tags are not declared: they keep their names in the copy.
    const std::string vcf = std::string(kHeader) + record(1, "0/0\t0/0\t0/0\t1/1\t1/1\t1/1") +
                            "1\t2\tm2\tA\tG\t.\t.\tAF=0.5;DP=9\tGT\t0/1\t0/1\t0/0\t0/0\t1/1\t0/1\n"
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
    EXPECT_NE(text.str().find("\tm2\tA\tG\t.\t.\tAF=0.5;DP=9;HWE_EXACT=1;HWE_MIDP="),
              std::string::npos);
    EXPECT_NE(text.str().find("\tmt\t"), std::string::npos);  // not tested, not rejected
    EXPECT_EQ(names.str(), "m2\nmt\n");
    // A BCF copy cannot hold the undeclared tags, and none is written.
    const Outcome bcf = run({"--file", in, "--annotate", path("out.bcf")});
    EXPECT_EQ(bcf.status, 1);
    EXPECT_NE(bcf.err.find("which a BCF cannot hold"), std::string::npos) << bcf.err;
    EXPECT_FALSE(fs::exists(path("out.bcf")));
    // Bad input leaves neither file.
    fs::remove(out);
    fs::remove(ids);
    const Outcome bad = run(
        {"--file", file("bad.vcf", vcf + "1\t9\tx\tA\n"), "--annotate", out, "--out-passing", ids});
    EXPECT_EQ(bad.status, 2);
    EXPECT_FALSE(fs::exists(out) || fs::exists(ids));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 2);
}

// The genotype calls of six people for the counts AA AB BB (the rest missing).
std::string callsOf(int aa, int ab, int bb) {
    std::string calls;
    for (int i = 0; i < 6; ++i) {
        if (i) calls += '\t';
        calls += i < aa ? "0/0" : i < aa + ab ? "0/1" : i < aa + ab + bb ? "1/1" : "./.";
    }
    return calls;
}

// A CSV row as columns by name.
std::map<std::string, std::string> byName(const std::string& header, const std::string& row) {
    const std::vector<std::string> names = fields(header), values = fields(row + ",");
    std::map<std::string, std::string> out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out[names[i]] = i < values.size() ? values[i] : "";
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(GenotypeCommand, XMarkersGetTheTestsThatCountTheMales) {
    // a, c, e are female; b, d, f male. x1: females 0/0 0/1 1/1, males A, B
    // (a diploid homozygous call) and a heterozygous call, counted missing.
    const std::string vcf = std::string(kHeader) + record(1, "0/0\t0/1\t1/1\t0/0\t0/1\t0/0") +
                            "X\t5000000\tx1\tA\tG\t.\t.\t.\tGT\t0/0\t0\t0/1\t1/1\t1/1\t0/1\n"
                            "X\t6000000\tx2\tA\tG\t.\t.\t.\tGT\t0/0\t0\t0/0\t0\t0/1\t1\n"
                            "X\t100000\tpar\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0/0\t0/1\t1/1\n";
    const std::string in = file("in.vcf", vcf),
                      sex = file("sex.txt", "a F\nb M\nc F\nd M\ne F\nf M\n");
    const Outcome all = run({"--file", in, "--sex", sex, "--csv", "-"});
    ASSERT_EQ(all.status, 0) << all.err;
    const std::vector<std::string> rows = lines(all.out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_NE(rows[0].find(",n_missing,male_het,A,B,nm,p_male,p_all,p_x_exact,p_x_exact_midp,x_x2,"
                           "p_x_x2,x_g,p_x_g"),
              std::string::npos);
    // The count-line path on the same counts: X rows as five counts, the
    // others as three.
    const Outcome x = run({"--file", file("x.txt", "x1 1 1 1 1 1\nx2 1 1 1 1 1\n"), "--csv", "-"});
    const Outcome five = run({"--file", file("x2.txt", "x2 2 1 0 2 1\n"), "--csv", "-"});
    const std::vector<std::string> xRows = lines(x.out), fiveRows = lines(five.out);
    const auto expectX = [&](const std::string& header, const std::string& row, std::size_t at) {
        const auto got = byName(rows[0], rows[at]), want = byName(header, row);
        for (const auto& [name, value] : want) {
            std::string column = name;
            if (const auto cut = column.rfind("_females"); cut != std::string::npos)
                column.erase(cut);
            else if (column == "p")
                column = "p_all";
            else if (column == "nf")
                column = "n";
            else if (column == "p_female")
                column = "p";
            else if (column == "F_female")
                column = "F";
            if (column != "marker") {
                EXPECT_EQ(got.at(column), value) << name << " row " << at;
            }
        }
    };
    expectX(xRows[0], xRows[1], 2);
    expectX(fiveRows[0], fiveRows[1], 3);
    EXPECT_EQ(byName(rows[0], rows[2])["male_het"], "1");
    // Autosomal and PAR markers: today's columns, the male ones empty.
    const std::string autosomal =
        "x2,g,x2cc,exact,exact-midp,exact-dost,exact-deficit,exact-excess,exact-deficit-midp,"
        "exact-excess-midp";
    const std::vector<std::string> before =
        lines(run({"--file", in, "--sex", sex, "--test", autosomal, "--csv", "-"}).out);
    for (std::size_t at : {1u, 4u}) {
        EXPECT_EQ(rows[at].substr(0, before[at].size()), before[at]) << at;
        EXPECT_EQ(rows[at].substr(before[at].size()), ",,,,,,,,,,,") << at;
    }
}

TEST_F(GenotypeCommand, XTestsInTheSummaryKeepPassingAndAnnotation) {
    // x1: one female AB, males A and B: nf 1, nm 2, nA 2 of 4 alleles. Given
    // nA the outcomes are (males A, female) = (0, AA), (1, AB), (2, BB) with
    // probabilities 1/6, 4/6, 1/6: x-exact rejects the two ends at 0.5 (p 1/3
    // each), so the expected count is 1/3; the observed outcome has p 1.
    // x3: females AA, AA, AB and males B, B, B.
    const std::string vcf = std::string(kHeader) + record(1, "0/0\t0/0\t0/0\t1/1\t1/1\t1/1") +
                            "X\t5000000\tx1\tA\tG\t.\t.\t.\tGT\t0/1\t0\t./.\t1\t./.\t.\n"
                            "X\t5000001\tx3\tA\tG\t.\t.\t.\tGT\t0/0\t1\t0/0\t1\t0/1\t1\n";
    const std::string in = file("in.vcf", vcf), out = path("out.vcf"), ids = path("ids.txt");
    const std::string sex = file("sex.txt", "a F\nb M\nc F\nd M\ne F\nf M\n");
    const std::string summary = path("summary.csv");
    const Outcome r = run({"--file", in, "--sex", sex, "--test", "x-exact,exact", "--level", "0.5",
                           "--summary", summary, "--annotate", out, "--keep-passing", "0.1",
                           "--out-passing", ids, "--csv", "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream a(out), list(ids);
    std::stringstream annotated, names;
    annotated << a.rdbuf();
    names << list.rdbuf();
    const std::vector<std::string> rows = lines(r.out);
    ASSERT_EQ(rows.size(), 4u);
    const double p3 = std::stod(byName(rows[0], rows[3]).at("p_x_exact"));
    EXPECT_LT(p3, 0.1);
    // m1 (all homozygous, exact p 0.0216) is decided by exact, x3 by
    // x-exact: both rejected at 0.1; x1 passes.
    EXPECT_EQ(names.str(), "x1\n");
    EXPECT_NE(annotated.str().find("\tx1\tA\tG\t.\t.\tHWE_X_EXACT=1;HWE_EXACT="), std::string::npos)
        << annotated.str();
    // The expected count of x1 alone.
    const Outcome one = run({"--file", file("one.vcf", std::string(kHeader) + lines(vcf)[4] + "\n"),
                             "--sex", sex, "--test", "x-exact", "--level", "0.5", "--summary",
                             summary, "--csv", path("one.csv")});
    ASSERT_EQ(one.status, 0) << one.err;
    std::ifstream s(summary);
    std::string line;
    while (std::getline(s, line) && line.rfind("failing,x-exact,0.5,all,", 0) != 0) {
    }
    ASSERT_FALSE(line.empty());
    EXPECT_NEAR(std::stod(line.substr(line.rfind(',') + 1)), 1.0 / 3, 1e-12) << line;
}

// The null distribution of the exact test's p-value at n genotypes with a
// copies of A1, enumerated from its definition: (p-value, probability).
std::vector<std::pair<double, double>> exactNull(int n, int a) {
    std::vector<std::pair<int, double>> cells;  // h and weight 2^h / (n11! h! n22!)
    double total = 0;
    for (int h = a % 2; h <= std::min(a, 2 * n - a); h += 2) {
        const double w = std::pow(2.0, h) / (std::tgamma((a - h) / 2 + 1) * std::tgamma(h + 1) *
                                             std::tgamma((2 * n - a - h) / 2 + 1));
        cells.push_back({h, w});
        total += w;
    }
    std::vector<std::pair<double, double>> out;
    for (const auto& [h, w] : cells) {
        double p = 0;
        for (const auto& [k, v] : cells)
            if (v <= w * (1 + 1e-7)) p += v / total;
        out.push_back({p, w / total});
    }
    return out;
}

TEST_F(GenotypeCommand, QqNumbersFollowTheDiscreteNull) {
    // Two markers of n 6 with 6 copies of A1 (p 20/924 and 1) and two with 7
    // (p 0.1515 and 1).
    const int counts[][3] = {{3, 0, 3}, {1, 4, 1}, {3, 1, 2}, {2, 3, 1}};
    std::string vcf = kHeader;
    for (int m = 0; m < 4; ++m)
        vcf += record(m + 1, callsOf(counts[m][0], counts[m][1], counts[m][2]));
    const std::string qq = path("qq.csv");
    const Outcome r = run(
        {"--file", file("in.vcf", vcf), "--test", "exact", "--qq", qq, "--csv", path("out.csv")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in(qq);
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<std::string> rows = lines(text.str());
    ASSERT_EQ(rows.size(), 5u) << text.str();
    EXPECT_EQ(rows[0], "test,locus,markers,rank,expected,observed,low,high,uniform");
    // F0(t): the mean over the markers of the null probability of p <= t;
    // its inverse, the smallest attainable t where F0 reaches q.
    std::vector<std::pair<double, double>> null;
    for (const auto& c : counts)
        for (const auto& cell : exactNull(6, 2 * c[0] + c[1])) null.push_back(cell);
    const auto inverse = [&](double q) {
        double best = 1;
        for (const auto& [t, _] : null) {
            double f = 0;
            for (const auto& [p, w] : null)
                if (p <= t * (1 + 1e-9)) f += w / 4;
            if (f >= q * (1 - 1e-12)) best = std::min(best, t);
        }
        return -std::log10(best);
    };
    const double observed[] = {-std::log10(20.0 / 924), -std::log10(5.0 / 33), 0, 0};
    for (int i = 1; i <= 4; ++i) {
        const auto f = byName(rows[0], rows[i]);
        EXPECT_EQ(f.at("locus"), "autosomal");
        EXPECT_EQ(f.at("rank"), std::to_string(i));
        EXPECT_NEAR(std::stod(f.at("observed")), observed[i - 1], 1e-12) << i;
        EXPECT_NEAR(std::stod(f.at("uniform")), -std::log10((i - 0.5) / 4), 1e-12);
        // Within 0.01 beyond p 0.49, where the levels are 0.01 apart.
        const double expected = inverse((i - 0.5) / 4);
        if (expected > 0.31) {
            EXPECT_NEAR(std::stod(f.at("expected")), expected, 0.01) << i;
        }
    }
    // The band at rank 1: Beta(1, 4) has its 2.5% point at 1 - 0.975^(1/4).
    EXPECT_NEAR(std::stod(byName(rows[0], rows[1]).at("high")), inverse(1 - std::pow(0.975, 0.25)),
                0.01);
    // A picture needs its program, which is not beside this test: nothing is
    // written and the status says so.
    const Outcome svg = run({"--file", path("in.vcf"), "--test", "exact", "--qq", path("qq.svg"),
                             "--csv", path("out.csv")});
    if (svg.status != 0) {
        EXPECT_EQ(svg.status, 1);
        EXPECT_FALSE(fs::exists(path("qq.svg")));
    }
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
        {{"--file", file("nf.vcf", good + "1\t2\tm2\tA\tG\t.\t.\t.\n")},
         "record 2: \"1\\t2\\tm2\\tA\\tG\\t.\\t.\\t.\": the record has no FORMAT and sample "
         "columns"},
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
        {{"--file", file("q.vcf", good), "--qq", path("qq.pdf")}, "ending in .png, .svg or .csv"},
        {{"--file", path("q.vcf"), "--par", "hg19"}, "give b37, b38 or none"},
        {{"--file", path("q.vcf"), "--region", ""}, "give CHR, CHR:FROM or CHR:FROM-TO"},
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
    // A cut file is read on one thread: the reader threads, stopped by the
    // cut block, once left the end-of-file check waiting for them forever.
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(run({"--file", path("cut.vcf.gz"), "--csv", path("out.csv")}).status, 2);
    // --skip-bad goes on after a malformed record, saying so.
    const Outcome skip = run({"--file", path("bad.vcf"), "--skip-bad", "--csv", path("out.csv")});
    EXPECT_EQ(skip.status, 0) << skip.err;
    EXPECT_NE(skip.err.find("record 2"), std::string::npos);
    EXPECT_TRUE(fs::exists(path("out.csv")));
}

}  // namespace
}  // namespace zyg
