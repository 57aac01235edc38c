#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "core/Errors.h"
#include "report/ResultsFile.h"
#include "support/FaultyOutput.h"

using namespace zyg;
using zyg::testing::FaultyFileOperations;
namespace fs = std::filesystem;

namespace {

const std::string kHeader = "     model  header\r\n";
const std::string kLine1 = "       H-W  0.4000  first\r\n";
const std::string kLine2 = "   Wahlund  0.3000  second\r\n";

class ResultsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zyg_report_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = (dir / "results.txt").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }

    static std::string contents(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void put(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    template <typename F>
    static std::string errorOf(F&& save) {
        try {
            save();
        } catch (const CommandError& e) {
            return e.what();
        }
        return "no error";
    }

    fs::path dir;
    std::string path;
};

}  // namespace

TEST_F(ResultsFileTest, CreateWritesHeaderAndLineThenAppendAddsOnlyTheLine) {
    createResultsFile(path, kHeader, kLine1);
    EXPECT_EQ(contents(path), kHeader + kLine1);
    appendResult(path, kHeader, kLine2);
    EXPECT_EQ(contents(path), kHeader + kLine1 + kLine2);
}

TEST_F(ResultsFileTest, CreateOverAnExistingFileStartsItAgain) {
    put(path, kHeader + kLine1 + kLine2 + kLine2);
    createResultsFile(path, kHeader, kLine1);
    EXPECT_EQ(contents(path), kHeader + kLine1);
}

TEST_F(ResultsFileTest, ShortWritesAreContinued) {
    FaultyFileOperations ops;
    ops.maxChunk = 3;
    createResultsFile(path, kHeader, kLine1, ops);
    appendResult(path, kHeader, kLine2, ops);
    EXPECT_EQ(contents(path), kHeader + kLine1 + kLine2);
    EXPECT_EQ(ops.closed, ops.opened);
}

TEST_F(ResultsFileTest, AppendingToAMissingFileIsFileNotFoundAndCreatesNothing) {
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine1); }), "File not found");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(errorOf([&] { appendResult((dir / "gone" / "r.txt").string(), kHeader, kLine1); }),
              "File not found");
}

TEST_F(ResultsFileTest, RefusedAccessIsFileAccessDenied) {
    // A directory where the file should be: refused even to root.
    fs::create_directory(dir / "folder.txt");
    EXPECT_EQ(errorOf([&] { createResultsFile((dir / "folder.txt").string(), kHeader, kLine1); }),
              "File access denied");
    EXPECT_EQ(errorOf([&] { appendResult((dir / "folder.txt").string(), kHeader, kLine1); }),
              "File access denied");

    put(path, kHeader + kLine1);
    FaultyFileOperations ops;
    ops.openError = EACCES;
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine2, ops); }), "File access denied");
    EXPECT_EQ(contents(path), kHeader + kLine1);
}

TEST_F(ResultsFileTest, ReadOnlyFileAndFolderAreFileAccessDenied) {
    using fs::perms;
    const perms readable = perms::owner_read | perms::group_read | perms::others_read;
    const perms searchable = perms::owner_exec | perms::group_exec | perms::others_exec;
    put(path, kHeader + kLine1);
    fs::permissions(path, readable);
    fs::permissions(dir, readable | searchable);
    const std::string fresh = (dir / "new.txt").string();
    // Permission bits do not stop root, so the saves run in a child process
    // that has become an ordinary user.
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(2);
            const bool denied =
                errorOf([&] { appendResult(path, kHeader, kLine2); }) == "File access denied" &&
                errorOf([&] { createResultsFile(path, kHeader, kLine2); }) ==
                    "File access denied" &&
                errorOf([&] { createResultsFile(fresh, kHeader, kLine1); }) == "File access denied";
            std::_Exit(denied ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(contents(path), kHeader + kLine1);
    EXPECT_FALSE(fs::exists(fresh));
    fs::permissions(dir, perms::owner_all);
}

TEST_F(ResultsFileTest, UnusableNamesAreInvalidFilename) {
    EXPECT_EQ(errorOf([&] { createResultsFile("", kHeader, kLine1); }), "Invalid filename");
    EXPECT_EQ(errorOf([&] { appendResult(std::string("a\0b", 3), kHeader, kLine1); }),
              "Invalid filename");
    const std::string tooLong = (dir / std::string(300, 'x')).string();
    EXPECT_EQ(errorOf([&] { createResultsFile(tooLong, kHeader, kLine1); }), "Invalid filename");
}

TEST_F(ResultsFileTest, AFullDiskLeavesTheFileExactlyAsItWas) {
    const std::string before = kHeader + kLine1;
    for (std::size_t room : {std::size_t{0}, std::size_t{1}, kLine2.size() - 1}) {
        put(path, before);
        FaultyFileOperations ops;
        ops.room = room;
        ops.maxChunk = 4;
        EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine2, ops); }), "Disk full");
        EXPECT_EQ(contents(path), before) << "room " << room;
        EXPECT_EQ(ops.closed, 1);
    }
}

TEST_F(ResultsFileTest, AFullDiskWhileCreatingLeavesAnEmptyFile) {
    for (std::size_t room : {std::size_t{5}, kHeader.size(), kHeader.size() + 3}) {
        put(path, kHeader + kLine2);
        FaultyFileOperations ops;
        ops.room = room;
        ops.fullError = EDQUOT;
        EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1, ops); }), "Disk full");
        EXPECT_EQ(contents(path), "") << "room " << room;
        EXPECT_EQ(ops.closed, 1);
    }
}

TEST_F(ResultsFileTest, AFailureFoundWhenStoringTheDataAlsoPutsTheFileBack) {
    put(path, kHeader + kLine1);
    FaultyFileOperations ops;
    ops.syncError = EIO;
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine2, ops); }), "I/O error 5");
    EXPECT_EQ(contents(path), kHeader + kLine1);
    EXPECT_EQ(ops.closed, 1);
}

TEST_F(ResultsFileTest, TheWriteErrorIsReportedEvenWhenTheFileCannotBePutBack) {
    put(path, kHeader + kLine1);
    FaultyFileOperations ops;
    ops.room = 3;
    ops.truncateError = EIO;
    ops.closeError = EBADF;
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine2, ops); }), "Disk full");
    EXPECT_EQ(ops.closed, 1);
}

TEST_F(ResultsFileTest, AFailingCloseIsReported) {
    FaultyFileOperations ops;
    ops.closeError = EIO;
    EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1, ops); }), "I/O error 5");
    EXPECT_EQ(ops.closed, 1);
}

// A device is no results file: even a writable one is refused before
// anything is written to it (a full disk is tested with injected faults).
TEST(ResultsFileDevice, DevFullIsRefusedAsNoRegularFile) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    try {
        appendResult("/dev/full", "header\r\n", "line\r\n");
        ADD_FAILURE() << "no error";
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "File access denied");
    }
}

// Saving into a named pipe would wait for a reader for ever; it is refused at
// once, by either kind of save, and nothing is written into it.
TEST_F(ResultsFileTest, APipeOrASocketIsRefusedWithoutWaiting) {
    const std::string pipe = (dir / "r.txt").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(errorOf([&] { appendResult(pipe, kHeader, kLine1); }), "File access denied");
    EXPECT_EQ(errorOf([&] { createResultsFile(pipe, kHeader, kLine1); }), "File access denied");
    EXPECT_TRUE(fs::is_fifo(pipe));

    const std::string socketPath = (dir / "s.txt").string();
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(errorOf([&] { appendResult(socketPath, kHeader, kLine1); }), "File access denied");
    close(s);
}

// Whatever the layer below says it opened: only a regular file takes a line.
TEST_F(ResultsFileTest, WhatIsNoRegularFileIsRefusedAndClosed) {
    struct NotAFile : FileOperations {
        int closed = 0;
        int writes = 0;
        int open(const std::string&, OpenMode, int& fd) override {
            fd = 42;
            return 0;
        }
        int write(int, const char*, std::size_t size, std::size_t& written) override {
            ++writes;
            written = size;
            return 0;
        }
        int stat(int, FileInfo& info) override {
            info.regular = false;
            return 0;
        }
        int truncate(int, std::uint64_t) override { return 0; }
        int sync(int) override { return 0; }
        int close(int) override {
            ++closed;
            return 0;
        }
        int remove(const std::string&) override { return 0; }
    } ops;
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine1, ops); }), "File access denied");
    EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1, ops); }),
              "File access denied");
    EXPECT_EQ(ops.writes, 0);
    EXPECT_EQ(ops.closed, 2);
}

// A creating save that fills the disk leaves an existing file empty; the next
// save to it, once there is room, starts the file with its header.
TEST_F(ResultsFileTest, TheSaveAfterAFailedCreateWritesTheHeaderFirst) {
    put(path, kLine2);
    FaultyFileOperations full;
    full.room = 0;
    EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1, full); }), "Disk full");
    ASSERT_TRUE(fs::exists(path));
    ASSERT_EQ(contents(path), "");

    appendResult(path, kHeader, kLine2);
    EXPECT_EQ(contents(path), kHeader + kLine2);
    appendResult(path, kHeader, kLine1);
    EXPECT_EQ(contents(path), kHeader + kLine2 + kLine1);

    // A header that does not fit either leaves the file empty again.
    put(path, "");
    FaultyFileOperations tight;
    tight.room = kHeader.size() + 2;
    EXPECT_EQ(errorOf([&] { appendResult(path, kHeader, kLine1, tight); }), "Disk full");
    EXPECT_EQ(contents(path), "");
}

// A file the creating save made itself and could not complete is removed,
// whichever step failed; nothing else of the folder is touched.
TEST_F(ResultsFileTest, AFileTheFailedSaveCreatedIsRemoved) {
    struct Case {
        std::size_t room;
        int syncError;
        int closeError;
        const char* message;
    };
    const std::size_t all = std::numeric_limits<std::size_t>::max();
    for (const Case& c : {Case{0, 0, 0, "Disk full"}, Case{kHeader.size() + 3, 0, 0, "Disk full"},
                          Case{all, EDQUOT, 0, "Disk full"}, Case{all, 0, EIO, "I/O error 5"}}) {
        FaultyFileOperations ops;
        ops.room = c.room;
        ops.syncError = c.syncError;
        ops.closeError = c.closeError;
        EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1, ops); }), c.message);
        EXPECT_FALSE(fs::exists(path)) << "room " << c.room << " sync " << c.syncError;
        EXPECT_EQ(ops.closed, ops.opened);
    }
    // The window's Save As and zygomet-power use the operations put in.
    FaultyFileOperations full;
    full.room = 0;
    const ScopedFileOperations scope(full);
    EXPECT_EQ(errorOf([&] { createResultsFile(path, kHeader, kLine1); }), "Disk full");
    EXPECT_TRUE(fs::is_empty(dir));
}
