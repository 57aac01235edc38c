#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
    EXPECT_EQ(
        x.out.substr(0, x.out.find('\n')),
        "model,p,var,f,w11,w12,w22,test,level,het_miscall,hom_miscall,null,p_male,bin,markers,"
        "false_flags,false_flags_sd,false_flags_low95,false_flags_high95,catch_rate");
    EXPECT_EQ(std::count(x.out.begin(), x.out.end(), '\n'), 1 + 2 * 2 * 5);
}

TEST(PanelCommand, BadInputIsStatusTwoAndWritesNothing) {
    const std::string empty = writeFile("empty.txt", "# nothing\n");
    const std::string mono = writeFile("mono.txt", "m1 100 0 0\nm2 0 0 40\n");
    const std::string bad = writeFile("bad.txt", "m1 1 2 3\nm2 1 x 3\n");
    const std::string good = writeFile("good.txt", "m1 30 50 20\n");
    const std::string huge = writeFile("huge.txt", "m1 30000 40000 30000\n");
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
        {{"--panel", huge}, "exact up to 65535"},
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
