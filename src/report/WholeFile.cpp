#include "report/WholeFile.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "report/ResultsFile.h"

namespace zyg {

namespace {

template <class Call>
int retried(Call call) {
    int result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

class PosixOutputOperations final : public OutputOperations {
public:
    int inspect(const std::string& path, PathInfo& info) override {
        info = PathInfo{};
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        info.exists = true;
        info.regular = S_ISREG(st.st_mode);
        info.directory = S_ISDIR(st.st_mode);
        info.pipe = S_ISFIFO(st.st_mode);
        info.mode = static_cast<unsigned>(st.st_mode & 07777);
        info.writable = ::access(path.c_str(), W_OK) == 0;
        return 0;
    }

    int resolve(const std::string& path, std::string& resolved) override {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) return errno;
        resolved = real;
        std::free(real);
        return 0;
    }

    int createNew(const std::string& path, int& fd) override {
        fd = -1;
        return retried([&] {
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            return fd;
        });
    }

    int openExisting(const std::string& path, int& fd) override {
        fd = -1;
        // No O_CREAT: the name was found to be a pipe or a device, and if it
        // went away meanwhile nothing is created in its place. O_NONBLOCK:
        // opening a named pipe that nobody reads would otherwise wait in
        // open(2) for ever; without blocking it fails with ENXIO at once, and
        // is tried again until a reader comes or the wait is over.
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(kPipeReaderWaitMilliseconds);
        for (;;) {
            const int error = retried([&] {
                fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
                return fd;
            });
            if (error == 0) break;
            struct stat st {};
            const bool pipe = ::stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
            if (error != ENXIO || !pipe || std::chrono::steady_clock::now() >= deadline)
                return error;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Writes block again, so that a slow reader still gets every byte.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags == -1 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
            const int error = errno;
            ::close(fd);
            fd = -1;
            return error;
        }
        return 0;
    }

    int duplicate(int fd, int& copy) override {
        copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        return copy < 0 ? errno : 0;
    }

    int write(int fd, const char* data, std::size_t size, std::size_t& written) override {
        // A reader that has gone away must not end the program: SIGPIPE is
        // held back in this thread for the write, and the one it raised is
        // taken off again, so the write reports EPIPE instead.
        sigset_t pipeSignal, previous, pending;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
        sigpending(&pending);
        const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
        ssize_t result;
        do {
            result = ::write(fd, data, size);
        } while (result < 0 && errno == EINTR);
        const int error = result < 0 ? errno : 0;
        if (error == EPIPE && !alreadyPending) {
            const timespec noWait{};
            while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        written = result < 0 ? 0 : static_cast<std::size_t>(result);
        return error;
    }

    int sync(int fd) override {
        return retried([&] { return ::fsync(fd); });
    }

    int setMode(int fd, unsigned mode) override {
        return retried([&] { return ::fchmod(fd, static_cast<mode_t>(mode)); });
    }

    // Linux releases the descriptor even when close reports an error, so it
    // is never retried: a retry could close a descriptor opened meanwhile.
    int close(int fd) override { return ::close(fd) != 0 ? errno : 0; }

    int rename(const std::string& from, const std::string& to) override {
        return retried([&] { return ::rename(from.c_str(), to.c_str()); });
    }

    int remove(const std::string& path) override {
        return retried([&] { return ::unlink(path.c_str()); });
    }
};

OutputOperations* currentOperations = nullptr;

// The descriptor that a name of the process's own descriptors designates, or
// -1 for any other name.
int ownDescriptor(const std::string& path) {
    if (path == "/dev/stdin") return 0;
    if (path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* folder : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(folder);
        if (path.size() <= length || path.compare(0, length, folder) != 0) continue;
        long number = 0;
        for (std::size_t i = length; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9' || number > INT_MAX / 10) return -1;
            number = number * 10 + (path[i] - '0');
        }
        return number <= INT_MAX ? static_cast<int>(number) : -1;
    }
    return -1;
}

// A name beside `target` for its temporary file: hidden, and short enough
// for the file system whatever the target's length.
std::string temporaryName(const std::string& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.size() > 200) base.resize(200);
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    const unsigned long long mixed = ticks ^ (static_cast<unsigned long long>(::getpid()) << 32) ^
                                     (static_cast<unsigned long long>(counter++) << 20) ^ attempt;
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    unsigned long long rest = mixed;
    for (int i = 0; i < 8; ++i) {
        suffix += digits[rest % 36];
        rest /= 36;
    }
    return folder + "." + base + "." + suffix + ".tmp";
}

constexpr std::size_t kBufferSize = 1 << 16;

}  // namespace

OutputOperations& posixOutputOperations() {
    static PosixOutputOperations operations;
    return operations;
}

OutputOperations& outputOperations() {
    return currentOperations ? *currentOperations : posixOutputOperations();
}

ScopedOutputOperations::ScopedOutputOperations(OutputOperations& ops)
    : previous_(currentOperations) {
    currentOperations = &ops;
}

ScopedOutputOperations::~ScopedOutputOperations() { currentOperations = previous_; }

std::string outputErrorMessage(int error) {
    std::string message = fileErrorMessage(error);
    if (message.rfind("I/O error", 0) == 0) {
        char text[256] = "";
        // The GNU strerror_r returns its text, which may not be in the buffer.
        const char* description = strerror_r(error, text, sizeof text);
        if (description && *description) message += std::string(" (") + description + ")";
    }
    return message;
}

WholeFileWriter::WholeFileWriter(const std::string& path, OutputOperations& ops) : ops_(&ops) {
    buffer_.reserve(kBufferSize);
    open(path);
}

WholeFileWriter::~WholeFileWriter() {
    if (!committed_) abandon();
}

void WholeFileWriter::open(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        message_ = kInvalidFilename;
        return;
    }
    if (const int own = ownDescriptor(path); own >= 0) {
        through_ = true;
        if (const int error = ops_->duplicate(own, fd_)) fail(error);
        return;
    }
    OutputOperations::PathInfo info;
    if (const int error = ops_->inspect(path, info)) {
        fail(error);
        return;
    }
    if (info.directory) {
        fail(EISDIR);
        return;
    }
    // A file the user may not write is not replaced behind its back, though
    // its folder would allow the rename.
    if (info.exists && info.regular && !info.writable) {
        fail(EACCES);
        return;
    }
    if (info.exists && !info.regular) {
        through_ = true;
        if (const int error = ops_->openExisting(path, fd_)) {
            if (error == ENXIO && info.pipe)
                message_ = kNoPipeReader;
            else
                fail(error);
        }
        return;
    }
    // A symbolic link keeps pointing where it did: the file it designates is
    // the one replaced. A new name (or a link to nothing) is taken as given.
    target_ = path;
    if (info.exists) {
        std::string resolved;
        if (ops_->resolve(path, resolved) == 0) target_ = resolved;
        keepMode_ = true;
        mode_ = info.mode;
    }
    for (unsigned attempt = 0;; ++attempt) {
        temporary_ = temporaryName(target_, attempt);
        const int error = ops_->createNew(temporary_, fd_);
        if (error == 0) break;
        temporary_.clear();
        if (error != EEXIST || attempt >= 100) {
            fail(error);
            return;
        }
    }
    // The replaced file's permissions stay. A file system that keeps no
    // permissions refuses this, which is no reason to lose the output.
    if (keepMode_) ops_->setMode(fd_, mode_);
}

bool WholeFileWriter::fail(int error) {
    if (error_ == 0) error_ = error;
    return false;
}

bool WholeFileWriter::writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        std::size_t written = 0;
        int error = ops_->write(fd_, bytes.data(), bytes.size(), written);
        // A write that takes nothing of a non-empty text has found no room.
        if (error == 0 && written == 0) error = ENOSPC;
        if (error != 0) return fail(error);
        // After a short write the rest goes in the next one; if the disk is
        // full, that one reports it.
        bytes.remove_prefix(written < bytes.size() ? written : bytes.size());
    }
    return true;
}

bool WholeFileWriter::flushBuffer() {
    const bool done = writeAll(buffer_);
    buffer_.clear();
    return done;
}

bool WholeFileWriter::write(std::string_view piece) {
    if (failed() || committed_ || fd_ < 0) return false;
    if (buffer_.size() + piece.size() > kBufferSize && !flushBuffer()) return false;
    if (piece.size() >= kBufferSize) return writeAll(piece);
    buffer_.append(piece);
    return true;
}

std::string WholeFileWriter::commit() {
    if (committed_) return "the file was already completed";
    if (!failed() && fd_ >= 0 && flushBuffer()) {
        if (!through_)
            if (const int error = ops_->sync(fd_)) fail(error);
        const int fd = fd_;
        fd_ = -1;
        if (const int error = ops_->close(fd); error != 0 && !failed()) fail(error);
        if (!failed() && !through_) {
            if (const int error = ops_->rename(temporary_, target_)) fail(error);
        }
        if (!failed()) {
            committed_ = true;
            temporary_.clear();
            return {};
        }
    }
    abandon();
    committed_ = true;
    if (!message_.empty()) return message_;
    return outputErrorMessage(error_ != 0 ? error_ : EBADF);
}

void WholeFileWriter::abandon() {
    if (fd_ >= 0) ops_->close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ops_->remove(temporary_);
    temporary_.clear();
    buffer_.clear();
}

std::string writeWholeFile(const std::string& path, std::string_view bytes, OutputOperations& ops) {
    WholeFileWriter writer(path, ops);
    writer.write(bytes);
    return writer.commit();
}

}  // namespace zyg
