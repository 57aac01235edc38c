// The one writer of whole output files: a regular file is replaced only when
// every byte is stored, a failure anywhere leaves the earlier file and no
// temporary one, and pipes, devices and the process's own descriptors are
// written through, never replaced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "report/WholeFile.h"
#include "support/FaultyOutput.h"

using namespace zyg;
using zyg::testing::FaultyOutput;
namespace fs = std::filesystem;

namespace {

// A scratch folder of its own per test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        path_ = fs::temp_directory_path() / ("zygomet-wholefile-" + std::to_string(::getpid()) +
                                             "-" + std::to_string(++count_));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(path_))
            out.push_back(entry.path().filename().string());
        return out;
    }

private:
    static inline int count_ = 0;
    fs::path path_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A CSV-like text of many lines, written in pieces of one line.
std::vector<std::string> manyLines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) lines.push_back("row," + std::to_string(i) + ",0.125\n");
    return lines;
}

std::string joined(const std::vector<std::string>& pieces) {
    std::string all;
    for (const std::string& p : pieces) all += p;
    return all;
}

// Reads a descriptor to its end on a thread of its own.
class Drain {
public:
    explicit Drain(int fd)
        : thread_([this, fd] {
              char chunk[4096];
              for (;;) {
                  const ssize_t got = ::read(fd, chunk, sizeof chunk);
                  if (got <= 0) break;
                  text_.append(chunk, static_cast<std::size_t>(got));
              }
              ::close(fd);
          }) {}
    std::string finish() {
        thread_.join();
        return text_;
    }

private:
    std::string text_;
    std::thread thread_;
};

}  // namespace

TEST(WholeFile, ARegularFileIsReplacedWholeInPiecesKeepingItsPermissions) {
    ScratchFolder folder;
    const std::string path = folder.file("points.csv");
    writeFile(path, "the earlier file\n");
    ::chmod(path.c_str(), 0640);
    const std::vector<std::string> lines = manyLines(200000);  // several buffers' worth

    WholeFileWriter writer(path);
    EXPECT_FALSE(writer.writesThrough());
    for (const std::string& line : lines) ASSERT_TRUE(writer.write(line));
    // Until the commit the earlier file is untouched.
    EXPECT_EQ(readFile(path), "the earlier file\n");
    EXPECT_EQ(writer.commit(), "");

    EXPECT_EQ(readFile(path), joined(lines));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"points.csv"}) << "no temporary file left";
    // A piece larger than the buffer, after short writes, arrives whole too.
    FaultyOutput shortWrites;
    shortWrites.longestWrite = 1000;
    const std::string big(300000, 'x');
    EXPECT_EQ(writeWholeFile(path, big, shortWrites), "");
    EXPECT_EQ(readFile(path), big);
}

TEST(WholeFile, AFailedWriteSyncCloseOrRenameLeavesTheEarlierFileAndSaysWhy) {
    struct Case {
        FaultyOutput::Step step;
        int error;
        std::size_t room;
        const char* message;
    };
    const Case cases[] = {
        {FaultyOutput::Step::Write, ENOSPC, 0, "Disk full"},
        {FaultyOutput::Step::Write, ENOSPC, 100000, "Disk full"},  // after part of the file
        {FaultyOutput::Step::Write, EDQUOT, 7, "Disk full"},
        {FaultyOutput::Step::Sync, ENOSPC, 0, "Disk full"},  // found only when storing
        {FaultyOutput::Step::Sync, EIO, 0, "I/O error 5 (Input/output error)"},
        {FaultyOutput::Step::Close, EIO, 0, "I/O error 5 (Input/output error)"},
        {FaultyOutput::Step::Rename, EACCES, 0, "File access denied"},
        {FaultyOutput::Step::Create, EACCES, 0, "File access denied"},
    };
    const std::vector<std::string> lines = manyLines(20000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + std::string(" room ") + std::to_string(c.room));
        for (const bool earlier : {true, false}) {
            ScratchFolder folder;
            const std::string path = folder.file("out.csv");
            if (earlier) writeFile(path, "earlier,content\n1,2\n");
            FaultyOutput ops;
            ops.failing = c.step;
            ops.error = c.error;
            ops.room = c.room;
            std::string message;
            {
                WholeFileWriter writer(path, ops);
                for (const std::string& line : lines) writer.write(line);
                message = writer.commit();
            }
            EXPECT_EQ(message, c.message);
            if (earlier) {
                EXPECT_EQ(readFile(path), "earlier,content\n1,2\n");
                EXPECT_EQ(folder.names(), std::vector<std::string>{"out.csv"});
            } else {
                EXPECT_TRUE(folder.names().empty()) << "neither the file nor a temporary one";
            }
        }
    }
}

TEST(WholeFile, AWriterGivenUpWithoutCommitLeavesNothing) {
    ScratchFolder folder;
    {
        WholeFileWriter writer(folder.file("never.csv"));
        writer.write(std::string(200000, 'y'));
    }
    EXPECT_TRUE(folder.names().empty());
}

TEST(WholeFile, NamesThatCannotBeWrittenSayWhy) {
    ScratchFolder folder;
    EXPECT_EQ(writeWholeFile(folder.file("no/such/folder/a.csv"), "x"), "File not found");
    EXPECT_EQ(writeWholeFile(folder.file(""), "x"), "File access denied");  // the folder itself
    EXPECT_EQ(writeWholeFile("", "x"), "Invalid filename");
    EXPECT_TRUE(folder.names().empty());
    // A file the user may not write stays, though its folder would allow
    // replacing it.
    const std::string locked = folder.file("locked.csv");
    writeFile(locked, "keep");
    FaultyOutput readOnly;
    readOnly.readOnly = true;
    EXPECT_EQ(writeWholeFile(locked, "x", readOnly), "File access denied");
    EXPECT_EQ(readFile(locked), "keep");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"locked.csv"});
    // A full device is written through and its failure reported.
    EXPECT_EQ(writeWholeFile("/dev/full", "x"), "Disk full");
}

TEST(WholeFile, ASymbolicLinkStaysALinkAndItsFileIsReplaced) {
    ScratchFolder folder;
    const std::string real = folder.file("real.csv"), link = folder.file("link.csv");
    writeFile(real, "old");
    fs::create_symlink(real, link);
    EXPECT_EQ(writeWholeFile(link, "new"), "");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "new");
}

TEST(WholeFile, ANamedPipeWithAReaderGetsEverythingAndStaysAPipe) {
    ScratchFolder folder;
    const std::string fifo = folder.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::string> lines = manyLines(100000);  // far beyond a pipe's buffer
    // The reader opens on its own thread: opening waits for the writer.
    std::string received;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        if (fd >= 0) received = Drain(fd).finish();
    });
    WholeFileWriter writer(fifo);
    EXPECT_TRUE(writer.writesThrough());
    for (const std::string& line : lines) writer.write(line);
    EXPECT_EQ(writer.commit(), "");
    reader.join();
    EXPECT_EQ(received, joined(lines));
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"pipe"});
}

// A pipe nobody reads is given up after a short wait with its own reason,
// and nothing is written into it; a reader that opens only a moment after
// the writer still gets every byte, even far more than a pipe holds.
TEST(WholeFile, ANamedPipeWithoutAReaderIsGivenUpAndALateReaderGetsEverything) {
    ScratchFolder folder;
    const std::string fifo = folder.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const int readerDelayMs : {-1, 300}) {
        const std::vector<std::string> lines = manyLines(100000);
        std::string received;
        std::thread reader;
        if (readerDelayMs >= 0)
            reader = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(readerDelayMs));
                const int fd = ::open(fifo.c_str(), O_RDONLY);
                if (fd >= 0) received = Drain(fd).finish();
            });
        auto write = std::async(std::launch::async, [&] {
            WholeFileWriter writer(fifo);
            for (const std::string& line : lines) writer.write(line);
            return writer.commit();
        });
        if (write.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            // Frees the writer so that the test can end.
            const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            ADD_FAILURE() << "the writer waited for a reader for a minute";
            write.wait();
            ::close(fd);
        }
        if (readerDelayMs < 0) {
            EXPECT_EQ(write.get(), kNoPipeReader);
        } else {
            EXPECT_EQ(write.get(), "");
            reader.join();
            EXPECT_EQ(received, joined(lines));
        }
        EXPECT_EQ(folder.names(), std::vector<std::string>{"pipe"});
    }
}

TEST(WholeFile, TheProcesssOwnDescriptorsAreWrittenThroughInOrder) {
    // A process substitution: /dev/fd/N of a pipe.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    Drain drain(ends[0]);
    const std::vector<std::string> lines = manyLines(50000);
    for (const std::string& name :
         {"/dev/fd/" + std::to_string(ends[1]), "/proc/self/fd/" + std::to_string(ends[1])}) {
        WholeFileWriter writer(name);
        EXPECT_TRUE(writer.writesThrough()) << name;
        for (const std::string& line : lines) writer.write(line);
        EXPECT_EQ(writer.commit(), "") << name;
    }
    ::close(ends[1]);
    EXPECT_EQ(drain.finish(), joined(lines) + joined(lines));

    // Standard output redirected to a file: what was printed before stays
    // and the output follows it, as `--csv /dev/stdout > file` expects.
    ScratchFolder folder;
    const std::string file = folder.file("stdout.txt");
    const int target = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(target, 0);
    ASSERT_EQ(::write(target, "table\n", 6), 6);
    EXPECT_EQ(writeWholeFile("/dev/fd/" + std::to_string(target), "csv\n"), "");
    ::close(target);
    EXPECT_EQ(readFile(file), "table\ncsv\n");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"stdout.txt"});
}

TEST(WholeFile, APipeWhoseReaderHasGoneIsAFailureNotTheEndOfTheProgram) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    EXPECT_EQ(writeWholeFile("/dev/fd/" + std::to_string(ends[1]), "lost"),
              "I/O error 32 (Broken pipe)");
    ::close(ends[1]);
    EXPECT_EQ(writeWholeFile("/dev/fd/" + std::to_string(ends[1]), "x"),
              "I/O error 9 (Bad file descriptor)");
}
