#pragma once

// The reader of a named pipe while the code under test writes to it on the
// test's own thread. The read end is opened at once without waiting, so a
// writer that opens the pipe finds its reader, and a program that never
// opens it (that replaces the pipe instead) leaves the reader empty rather
// than the test blocked.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace zyg::testing {

class FifoReader {
public:
    explicit FifoReader(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        if (fd_ >= 0) thread_ = std::thread([this] { run(); });
    }
    ~FifoReader() {
        if (thread_.joinable()) finish();
    }
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    bool opened() const { return fd_ >= 0; }

    // Call once the writer is done: everything it wrote.
    std::string finish() {
        writerDone_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return text_;
    }

private:
    void run() {
        char chunk[8192];
        for (;;) {
            // Read before looking at the flag: once the writer is done, the
            // pipe holds the rest of its output and then its end.
            const bool done = writerDone_;
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0) {
                text_.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            // Nothing now: no writer yet (0) or an empty pipe (EAGAIN).
            if (done) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int fd_;
    std::atomic<bool> writerDone_{false};
    std::string text_;
    std::thread thread_;
};

}  // namespace zyg::testing
