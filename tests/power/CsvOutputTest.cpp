// zygomet-power --csv writes its file whole or says why, and writes a pipe or
// standard output through, in order, without replacing it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/PowerCommand.h"
#include "support/FaultyOutput.h"
#include "support/FifoReader.h"
#include "support/PowerCommandRun.h"

using namespace zyg;
using zyg::testing::FaultyOutput;
using zyg::testing::FifoReader;
using zyg::testing::Outcome;
using zyg::testing::runPower;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kStudy = {"--model", "inbreeding", "--p",     "0.3,0.4",
                                         "--f",     "0.1",        "--n",     "20:200:20",
                                         "--test",  "x2,exact",   "--level", "0.05"};

Outcome run(const std::string& csv) {
    std::vector<std::string> args = kStudy;
    args.push_back("--csv");
    args.push_back(csv);
    return runPower(args);
}

// The CSV that --csv - prints: what every other output must hold.
const std::string& expectedCsv() {
    static const std::string text = run("-").out;
    return text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path scratchFolder(const std::string& name) {
    const fs::path folder =
        fs::temp_directory_path() / ("zygomet-csv-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

}  // namespace

TEST(CsvOutput, ANamedPipeWithAReaderGetsTheWholeCsvAndStaysAPipe) {
    ASSERT_EQ(std::count(expectedCsv().begin(), expectedCsv().end(), '\n'), 1 + 2 * 10 * 2);
    const fs::path folder = scratchFolder("fifo");
    const std::string fifo = (folder / "points.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    FifoReader reader(fifo);
    ASSERT_TRUE(reader.opened());
    const Outcome o = run(fifo);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(reader.finish(), expectedCsv());
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe was replaced";
    fs::remove_all(folder);
}

TEST(CsvOutput, DevStdoutFollowsWhatWasPrintedBefore) {
    // Standard output is a file that already holds the program's table.
    const fs::path folder = scratchFolder("stdout");
    const std::string file = (folder / "out.txt").string();
    const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(target, 0);
    ASSERT_EQ(::write(target, "table\n", 6), 6);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(target, STDOUT_FILENO);
    const Outcome o = run("/dev/stdout");
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(target);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(readFile(file), "table\n" + expectedCsv());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    fs::remove_all(folder);
}

TEST(CsvOutput, AFailedWriteOrSyncEndsWithStatus1AndLeavesTheEarlierFile) {
    for (const FaultyOutput::Step step : {FaultyOutput::Step::Write, FaultyOutput::Step::Sync}) {
        const fs::path folder = scratchFolder("full");
        const std::string csv = (folder / "points.csv").string();
        std::ofstream(csv) << "earlier\n";
        FaultyOutput full;
        full.failing = step;
        full.room = 100;
        const ScopedOutputOperations scope(full);
        const Outcome o = run(csv);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "zygomet-power: --csv \"" + csv + "\": cannot be written: Disk full\n");
        EXPECT_EQ(readFile(csv), "earlier\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
        fs::remove_all(folder);
    }
}
