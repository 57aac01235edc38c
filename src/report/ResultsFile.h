#pragma once

// Checked writing of a results file. A results file is a regular file:
// anything else (a pipe, a device, a socket, a directory) is refused when it
// is opened, so a save never waits for a reader. Every file operation is
// checked and a failure ends the save with a CommandError carrying the message
// the user sees. A save either completes or leaves the file as it found it: a write
// that fails part-way puts the file back to the length it had when the save
// opened it, so no partial line is ever left behind; a file the save
// created itself is removed instead, so a failed save leaves no empty file
// behind. The file is closed on every path.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zyg {

inline constexpr const char* kFileNotFound = "File not found";
inline constexpr const char* kFileAccessDenied = "File access denied";
inline constexpr const char* kInvalidFilename = "Invalid filename";
inline constexpr const char* kTooManyOpenFiles = "Too many open files";
inline constexpr const char* kDiskFull = "Disk full";

// The message for a failed file operation with the given errno value:
// "File not found", "File access denied", "Invalid filename", "Too many open
// files", "Disk full", or "I/O error <number>" for any other cause.
std::string fileErrorMessage(int error);

// The file operations the results file needs, on file descriptors. Each
// returns 0 on success or the errno value of the failure. The real ones are
// POSIX; tests put in a layer that injects faults.
class FileOperations {
public:
    enum class OpenMode {
        Append,          // an existing file, every write at its end; never creates one
        CreateTruncate,  // creates the file, or empties an existing one
        CreateNew,       // creates the file; EEXIST when the name is taken
    };

    struct FileInfo {
        bool regular = false;    // a regular file, whose length can be put back
        std::uint64_t size = 0;  // its length in bytes
    };

    virtual ~FileOperations() = default;
    virtual int open(const std::string& path, OpenMode mode, int& fd) = 0;
    // One write that may take fewer bytes than offered (a short write).
    virtual int write(int fd, const char* data, std::size_t size, std::size_t& written) = 0;
    virtual int stat(int fd, FileInfo& info) = 0;
    virtual int truncate(int fd, std::uint64_t length) = 0;
    // Makes the written data durable, so that a deferred failure (a full disk
    // or quota found only when the data is stored) is seen while the file can
    // still be put back.
    virtual int sync(int fd) = 0;
    // Releases the descriptor even when it reports a failure.
    virtual int close(int fd) = 0;
    // Removes a file this program created (unlink(2)).
    virtual int remove(const std::string& path) = 0;
};

// open(2), write(2), fstat(2), ftruncate(2), fsync(2), close(2) and
// unlink(2), retried
// when a signal interrupts them.
FileOperations& posixFileOperations();

// The operations results files use by default: the POSIX ones, or what a
// ScopedFileOperations put in.
FileOperations& fileOperations();

// Puts other operations in for its lifetime (tests), then the earlier ones
// back.
class ScopedFileOperations {
public:
    explicit ScopedFileOperations(FileOperations& ops);
    ~ScopedFileOperations();
    ScopedFileOperations(const ScopedFileOperations&) = delete;
    ScopedFileOperations& operator=(const ScopedFileOperations&) = delete;

private:
    FileOperations* previous_;
};

// A results file open within one save. Opening remembers the file's length;
// a failed write or sync truncates the file back to it, or removes the file
// when this save created it. The destructor closes
// a file that is still open and ignores the outcome, so an error that is
// already on its way is the one reported.
class ResultsFile {
public:
    // Opens an existing file for appending. A missing file is "File not
    // found"; it is never created here.
    [[nodiscard]] static ResultsFile openForAppend(const std::string& path,
                                                   FileOperations& ops = fileOperations());
    // Creates the file, or truncates an existing one to empty; only a file
    // that did not exist before is removed when the save fails.
    [[nodiscard]] static ResultsFile create(const std::string& path,
                                            FileOperations& ops = fileOperations());

    ResultsFile(ResultsFile&& other) noexcept;
    ResultsFile& operator=(ResultsFile&&) = delete;
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;
    ~ResultsFile();

    // Writes all of text. On failure the file is put back to the length it
    // had when it was opened, and the failure is thrown.
    void write(std::string_view text);

    // Makes the text durable and closes the file; the descriptor is released
    // even when this throws. A failure to store the data puts the file back
    // like a failed write.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    // Whether the file had no bytes when it was opened.
    bool wasEmpty() const { return originalSize_ == 0; }
    // Whether this save created the file.
    bool created() const { return !createdPath_.empty(); }

private:
    ResultsFile(FileOperations& ops, int fd, const FileOperations::FileInfo& info);
    static ResultsFile open(const std::string& path, FileOperations::OpenMode mode,
                            FileOperations& ops);
    // Takes an open descriptor if it is a regular file, else closes it and throws.
    static ResultsFile adopt(FileOperations& ops, int fd);
    [[noreturn]] void restoreAndThrow(int error);
    void removeCreated();

    FileOperations* ops_;
    int fd_;
    bool restorable_;             // a regular file, whose length can be put back
    std::uint64_t originalSize_;  // its length when opened
    std::string createdPath_;     // the name of the file this save created, else empty
};

// Save to the current results file: opens it for appending (it must exist),
// writes the line, preceded by the header when the file is empty, and closes
// it. Either all of it is added or the file is left as it was, and a
// CommandError reports why.
void appendResult(const std::string& path, std::string_view header, std::string_view line,
                  FileOperations& ops = fileOperations());

// Save to a newly chosen results file: creates it or truncates it, writes the
// header and the line and closes it. On failure a file that did not exist is
// removed again, an existing one is left empty, and a CommandError reports
// why.
void createResultsFile(const std::string& path, std::string_view header, std::string_view line,
                       FileOperations& ops = fileOperations());

}  // namespace zyg
