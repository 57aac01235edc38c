#pragma once

// Writing an output file whole: the CSV and picture exports of the study
// windows and the files of the command lines. The output arrives complete or
// the caller learns why it did not:
// - a regular file, or a name that does not exist yet, is written to a
//   temporary file beside it, which is renamed over the name only once every
//   write, the flush to the disk and the close have succeeded; on any failure
//   the temporary file is removed and an earlier file of that name is left
//   as it was, byte for byte;
// - anything else (a named pipe, a character device such as /dev/null,
//   standard output as /dev/stdout, a process substitution /dev/fd/N) is
//   written through directly, in order, and never replaced. A named pipe
//   is given a short while to find its reader (one started alongside the
//   program, as `cat pipe &` is); with none it is not written and the
//   reason is kNoPipeReader, so nothing ever waits for ever in open(2).
//   Once open, writes wait for a slow reader, so it gets everything.
// The names /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N name the process's own descriptors and are written through
// them (sharing their position), so that `--csv /dev/stdout > file` appends
// after what the program printed instead of overwriting it. The name "-" is
// an ordinary file name here: the command lines map it to standard output.
//
// Errors are sticky: after the first failure every further write is ignored
// and commit() returns the reason. No exceptions: callers in window code
// show the text, command lines print it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zyg {

// The file operations of whole-file output, on paths and descriptors. Each
// returns 0 on success or the errno value of the failure. The real ones are
// POSIX; tests put in a layer that injects faults.
class OutputOperations {
public:
    struct PathInfo {
        bool exists = false;
        bool regular = false;
        bool directory = false;
        bool pipe = false;      // a named pipe (FIFO)
        bool writable = false;  // whether this process may write the existing file
        unsigned mode = 0;      // the permission bits of an existing file
    };

    virtual ~OutputOperations() = default;
    // What the name is, following symbolic links. A name that does not exist
    // is not an error: exists is false.
    virtual int inspect(const std::string& path, PathInfo& info) = 0;
    // The file a name finally designates, symbolic links resolved; ENOENT
    // when the name or a link's target does not exist.
    virtual int resolve(const std::string& path, std::string& resolved) = 0;
    // Creates a new file for writing; EEXIST when the name is taken.
    virtual int createNew(const std::string& path, int& fd) = 0;
    // Opens an existing file that is not a regular file for writing, without
    // waiting for ever: a named pipe with no reader is ENXIO after
    // kPipeReaderWait. The descriptor it gives blocks on writes.
    virtual int openExisting(const std::string& path, int& fd) = 0;
    // A new descriptor for an open one, so that closing it leaves the
    // original open.
    virtual int duplicate(int fd, int& copy) = 0;
    // One write that may take fewer bytes than offered (a short write).
    virtual int write(int fd, const char* data, std::size_t size, std::size_t& written) = 0;
    // Stores the written data on the disk: a full disk or quota found only
    // then is reported here, before the file takes the name.
    virtual int sync(int fd) = 0;
    virtual int setMode(int fd, unsigned mode) = 0;
    // Releases the descriptor even when it reports a failure.
    virtual int close(int fd) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    virtual int remove(const std::string& path) = 0;
};

// How long the opening of a named pipe waits for a program to read it.
inline constexpr int kPipeReaderWaitMilliseconds = 2000;

// Why a named pipe was not written: nothing opened it for reading.
inline constexpr const char* kNoPipeReader = "no program is reading this pipe";

// open(2), write(2), fsync(2), rename(2) and the rest, retried when a signal
// interrupts them. A write to a pipe whose reader has gone fails with EPIPE
// instead of ending the process with SIGPIPE.
OutputOperations& posixOutputOperations();

// The operations whole-file output uses by default: the POSIX ones, or what
// a ScopedOutputOperations put in.
OutputOperations& outputOperations();

// Puts other operations in for its lifetime (tests), then the earlier ones
// back.
class ScopedOutputOperations {
public:
    explicit ScopedOutputOperations(OutputOperations& ops);
    ~ScopedOutputOperations();
    ScopedOutputOperations(const ScopedOutputOperations&) = delete;
    ScopedOutputOperations& operator=(const ScopedOutputOperations&) = delete;

private:
    OutputOperations* previous_;
};

// The reason for a failed output operation with the given errno value: the
// results file's messages ("Disk full", "File access denied", ...), and for
// any other cause "I/O error <number> (<the system's description>)".
std::string outputErrorMessage(int error);

// One whole output file. The constructor opens it (a named pipe waits a
// short while for its reader there); write() adds pieces, buffered; commit() completes it. A
// writer destroyed without a successful commit removes its temporary file.
class WholeFileWriter {
public:
    explicit WholeFileWriter(const std::string& path, OutputOperations& ops = outputOperations());
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // Adds a piece. False once anything has failed (the piece is dropped).
    bool write(std::string_view piece);

    // Writes what is buffered, stores it, closes the file and, for a regular
    // file, renames the temporary file over the name. Returns the empty text
    // on success, else why the output is not there. Once only.
    [[nodiscard]] std::string commit();

    bool failed() const { return error_ != 0 || !message_.empty(); }
    // Whether the output is written through directly rather than replaced.
    bool writesThrough() const { return through_; }

private:
    void open(const std::string& path);
    bool writeAll(std::string_view bytes);
    bool flushBuffer();
    bool fail(int error);
    void abandon();

    OutputOperations* ops_;
    int fd_ = -1;
    bool through_ = false;
    bool committed_ = false;
    bool keepMode_ = false;
    unsigned mode_ = 0;
    int error_ = 0;
    std::string message_;  // a fault found before any file operation
    std::string target_;   // the name the finished file takes
    std::string temporary_;
    std::string buffer_;
};

// The whole output in one piece: the empty text on success, else why not.
std::string writeWholeFile(const std::string& path, std::string_view bytes,
                           OutputOperations& ops = outputOperations());

}  // namespace zyg
