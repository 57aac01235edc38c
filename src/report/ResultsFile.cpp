#include "report/ResultsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "core/Errors.h"

namespace zyg {

namespace {

class PosixFileOperations final : public FileOperations {
public:
    int open(const std::string& path, OpenMode mode, int& fd) override {
        fd = -1;
        // Only a regular file is opened at all: opening a pipe for writing
        // waits for a reader, and opening a device may act on it.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return S_ISDIR(st.st_mode) ? EISDIR : EACCES;
        // Without blocking, in case something else took the name meanwhile;
        // the caller checks what was opened.
        const int kinds[] = {O_WRONLY | O_APPEND, O_WRONLY | O_CREAT | O_TRUNC,
                             O_WRONLY | O_CREAT | O_EXCL};
        const int flags = kinds[static_cast<int>(mode)] | O_CLOEXEC | O_NONBLOCK;
        do {
            fd = ::open(path.c_str(), flags, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return errno;
        const int status = ::fcntl(fd, F_GETFL);
        if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
        return 0;
    }

    int write(int fd, const char* data, std::size_t size, std::size_t& written) override {
        ssize_t result;
        do {
            result = ::write(fd, data, size);
        } while (result < 0 && errno == EINTR);
        written = result < 0 ? 0 : static_cast<std::size_t>(result);
        return result < 0 ? errno : 0;
    }

    int stat(int fd, FileInfo& info) override {
        struct stat st {};
        if (::fstat(fd, &st) != 0) return errno;
        info.regular = S_ISREG(st.st_mode);
        info.size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
        return 0;
    }

    int truncate(int fd, std::uint64_t length) override {
        if (length > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return EFBIG;
        int result;
        do {
            result = ::ftruncate(fd, static_cast<off_t>(length));
        } while (result != 0 && errno == EINTR);
        return result != 0 ? errno : 0;
    }

    int sync(int fd) override {
        int result;
        do {
            result = ::fsync(fd);
        } while (result != 0 && errno == EINTR);
        return result != 0 ? errno : 0;
    }

    // Linux releases the descriptor even when close reports an error, so it
    // is never retried: a retry could close a descriptor opened meanwhile.
    int close(int fd) override { return ::close(fd) != 0 ? errno : 0; }

    int remove(const std::string& path) override {
        int result;
        do {
            result = ::unlink(path.c_str());
        } while (result != 0 && errno == EINTR);
        return result != 0 ? errno : 0;
    }
};

[[noreturn]] void throwFileError(int error) { throw CommandError(fileErrorMessage(error)); }

FileOperations* currentFileOperations = nullptr;

}  // namespace

std::string fileErrorMessage(int error) {
    switch (error) {
        case ENOENT: return kFileNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR: return kFileAccessDenied;
        case ENAMETOOLONG:
        case EINVAL:
        case EILSEQ: return kInvalidFilename;
        case EMFILE:
        case ENFILE: return kTooManyOpenFiles;
        case ENOSPC:
        case EDQUOT: return kDiskFull;
        default: return "I/O error " + std::to_string(error);
    }
}

FileOperations& posixFileOperations() {
    static PosixFileOperations operations;
    return operations;
}

FileOperations& fileOperations() {
    return currentFileOperations ? *currentFileOperations : posixFileOperations();
}

ScopedFileOperations::ScopedFileOperations(FileOperations& ops) : previous_(currentFileOperations) {
    currentFileOperations = &ops;
}

ScopedFileOperations::~ScopedFileOperations() { currentFileOperations = previous_; }

ResultsFile::ResultsFile(FileOperations& ops, int fd, const FileOperations::FileInfo& info)
    : ops_(&ops), fd_(fd), restorable_(info.regular), originalSize_(info.size) {}

ResultsFile::ResultsFile(ResultsFile&& other) noexcept
    : ops_(other.ops_),
      fd_(other.fd_),
      restorable_(other.restorable_),
      originalSize_(other.originalSize_),
      createdPath_(std::move(other.createdPath_)) {
    other.fd_ = -1;
    other.createdPath_.clear();
}

ResultsFile::~ResultsFile() {
    if (fd_ >= 0) ops_->close(fd_);
}

ResultsFile ResultsFile::openForAppend(const std::string& path, FileOperations& ops) {
    return open(path, FileOperations::OpenMode::Append, ops);
}

ResultsFile ResultsFile::create(const std::string& path, FileOperations& ops) {
    // Created new when the name is free, so that a failed save knows the
    // file is its own to remove; an existing file is emptied as before.
    if (path.empty() || path.find('\0') != std::string::npos) throw CommandError(kInvalidFilename);
    int fd = -1;
    int error = ops.open(path, FileOperations::OpenMode::CreateNew, fd);
    const bool created = error == 0;
    if (error == EEXIST) error = ops.open(path, FileOperations::OpenMode::CreateTruncate, fd);
    if (error != 0) throwFileError(error);
    ResultsFile file = adopt(ops, fd);
    if (created) file.createdPath_ = path;
    return file;
}

ResultsFile ResultsFile::open(const std::string& path, FileOperations::OpenMode mode,
                              FileOperations& ops) {
    // A name that the system cannot even be asked about.
    if (path.empty() || path.find('\0') != std::string::npos) throw CommandError(kInvalidFilename);
    int fd = -1;
    if (const int error = ops.open(path, mode, fd)) throwFileError(error);
    return adopt(ops, fd);
}

ResultsFile ResultsFile::adopt(FileOperations& ops, int fd) {
    FileOperations::FileInfo info;
    int error = ops.stat(fd, info);
    // A results file is a regular file; a pipe, a device or a socket is refused.
    if (error == 0 && !info.regular) error = EACCES;
    if (error != 0) {
        ops.close(fd);
        throwFileError(error);
    }
    return ResultsFile(ops, fd, info);
}

void ResultsFile::write(std::string_view text) {
    if (fd_ < 0) throw CommandError(fileErrorMessage(EBADF));
    while (!text.empty()) {
        std::size_t written = 0;
        int error = ops_->write(fd_, text.data(), text.size(), written);
        // A write that takes nothing of a non-empty text has found no room.
        if (error == 0 && written == 0) error = ENOSPC;
        if (error != 0) restoreAndThrow(error);
        // After a short write the rest goes in the next one; if the disk is
        // full, that one reports it.
        text.remove_prefix(std::min(written, text.size()));
    }
}

void ResultsFile::close() {
    if (fd_ < 0) return;
    // Only a regular file is synchronised: devices and pipes may refuse it.
    if (restorable_) {
        const int error = ops_->sync(fd_);
        if (error != 0 && error != EINVAL) restoreAndThrow(error);
    }
    const int fd = fd_;
    fd_ = -1;
    if (const int error = ops_->close(fd)) {
        removeCreated();
        throwFileError(error);
    }
}

void ResultsFile::restoreAndThrow(int error) {
    // The failure is reported even if the length cannot be put back.
    if (created()) {
        removeCreated();
    } else if (restorable_ && ops_->truncate(fd_, originalSize_) == 0) {
        ops_->sync(fd_);
    }
    throwFileError(error);
}

void ResultsFile::removeCreated() {
    if (fd_ >= 0) ops_->close(fd_);
    fd_ = -1;
    if (created()) ops_->remove(createdPath_);
    createdPath_.clear();
}

void appendResult(const std::string& path, std::string_view header, std::string_view line,
                  FileOperations& ops) {
    ResultsFile file = ResultsFile::openForAppend(path, ops);
    // A file whose creating save failed was left empty: it gets its header
    // before its first line.
    if (file.wasEmpty()) file.write(header);
    file.write(line);
    file.close();
}

void createResultsFile(const std::string& path, std::string_view header, std::string_view line,
                       FileOperations& ops) {
    ResultsFile file = ResultsFile::create(path, ops);
    file.write(header);
    file.write(line);
    file.close();
}

}  // namespace zyg
