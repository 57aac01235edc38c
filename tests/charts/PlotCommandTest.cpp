// zygomet-power --plot: the command line draws the window's chart into a
// file, and refuses what a chart cannot show.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <sstream>

#include "charts/PlotFile.h"
#include "cli/PowerCommand.h"

namespace zyg {
namespace {

struct CommandRun {
    int status = -1;
    std::string out, err;
};

CommandRun command(std::vector<std::string> args) {
    std::ostringstream out, err;
    CommandRun r;
    r.status = runPowerCommand(args, {out, err, false}, plotPowerPoints);
    r.out = out.str();
    r.err = err.str();
    return r;
}

TEST(PlotCommand, DrawsPngAndSvgOfOneModelAtOneLevel) {
    QTemporaryDir dir;
    const std::string png = dir.filePath("curve.png").toStdString();
    const std::string svg = dir.filePath("curve.svg").toStdString();
    const std::vector<std::string> study = {
        "--model",   "inbreeding", "--p",      "0.4",     "--f",  "0.1",      "--n",
        "20:200:20", "--test",     "x2,exact", "--level", "0.01", "--target", "0.5"};
    auto with = [&](const std::string& file) {
        std::vector<std::string> args = study;
        args.push_back("--plot");
        args.push_back(file);
        return args;
    };
    const CommandRun a = command(with(png));
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(900, 600));
    EXPECT_NE(a.out.find("exact"), std::string::npos);  // the table is still printed
    const CommandRun b = command(with(svg));
    EXPECT_EQ(b.status, 0) << b.err;
    QSvgRenderer renderer(QString::fromStdString(svg));
    EXPECT_TRUE(renderer.isValid());
    QFile file(QString::fromStdString(svg));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("Inbreeding, p = 0.4, f = 0.1; level 1%; exact")) << "the title";
}

TEST(PlotCommand, RefusesWhatOneChartCannotShowWithStatus2AndWritesNothing) {
    QTemporaryDir dir;
    const std::string png = dir.filePath("curve.png").toStdString();
    const std::vector<std::vector<std::string>> refused = {
        {"--model", "hw", "--p", "0.3", "--n", "50", "--plot", dir.filePath("c.pdf").toStdString()},
        {"--model", "hw", "--p", "0.3,0.4", "--n", "50", "--level", "0.05", "--plot", png},
        {"--model", "hw", "--p", "0.3", "--n", "50", "--plot", png},  // two default levels
    };
    for (const auto& args : refused) {
        const CommandRun r = command(args);
        EXPECT_EQ(r.status, 2) << args[3];
        EXPECT_NE(r.err.find("--plot"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty()) << "nothing computed: " << r.out;
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(png)));
}

TEST(PlotCommand, AFileThatCannotBeWrittenEndsWithStatus1) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("no/such/folder/c.svg").toStdString();
    const CommandRun r =
        command({"--model", "hw", "--p", "0.3", "--n", "50", "--level", "0.05", "--plot", missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
}

TEST(PlotCommand, WithoutADrawerTheOptionIsRefused) {
    std::ostringstream out, err;
    const int status = runPowerCommand(
        {"--model", "hw", "--p", "0.3", "--n", "50", "--level", "0.05", "--plot", "c.svg"},
        {out, err, false});
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.str().find("cannot draw"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace zyg
