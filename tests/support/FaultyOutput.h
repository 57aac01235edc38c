#pragma once

// Output operations that fail where a test says: the real POSIX operations,
// except that the chosen step reports the chosen errno value. A full disk is
// a write, a sync or a close that fails with ENOSPC.

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <limits>
#include <string>

#include "report/ResultsFile.h"
#include "report/WholeFile.h"

namespace zyg::testing {

class FaultyOutput final : public OutputOperations {
public:
    enum class Step { None, Create, Write, Sync, Close, Rename };

    Step failing = Step::None;
    int error = ENOSPC;
    std::size_t room = 0;          // with Step::Write: the bytes written before the failure
    std::size_t longestWrite = 0;  // when not 0, every write takes at most this many bytes
    bool readOnly = false;         // existing files are taken for ones this process may not write

    int inspect(const std::string& path, PathInfo& info) override {
        const int result = real().inspect(path, info);
        if (readOnly) info.writable = false;
        return result;
    }
    int resolve(const std::string& path, std::string& resolved) override {
        return real().resolve(path, resolved);
    }
    int createNew(const std::string& path, int& fd) override {
        if (failing == Step::Create) return error;
        return real().createNew(path, fd);
    }
    int openExisting(const std::string& path, int& fd) override {
        if (failing == Step::Create) return error;
        return real().openExisting(path, fd);
    }
    int duplicate(int fd, int& copy) override { return real().duplicate(fd, copy); }
    int write(int fd, const char* data, std::size_t size, std::size_t& written) override {
        written = 0;
        if (longestWrite != 0 && size > longestWrite) size = longestWrite;
        if (failing == Step::Write) {
            if (room == 0) return error;
            if (size > room) size = room;
        }
        const int result = real().write(fd, data, size, written);
        if (failing == Step::Write) room -= written;
        return result;
    }
    int sync(int fd) override { return failing == Step::Sync ? error : real().sync(fd); }
    int setMode(int fd, unsigned mode) override { return real().setMode(fd, mode); }
    int close(int fd) override {
        const int result = real().close(fd);
        return failing == Step::Close ? error : result;
    }
    int rename(const std::string& from, const std::string& to) override {
        return failing == Step::Rename ? error : real().rename(from, to);
    }
    int remove(const std::string& path) override { return real().remove(path); }

private:
    static OutputOperations& real() { return posixOutputOperations(); }
};

// Real files, with faults injected on request: a failing open, a disk that
// fills after a number of bytes, a failing sync, truncate or close.
class FaultyFileOperations : public FileOperations {
public:
    int openError = 0;
    std::size_t room = std::numeric_limits<std::size_t>::max();      // bytes until the disk is full
    std::size_t maxChunk = std::numeric_limits<std::size_t>::max();  // longest single write
    int fullError = ENOSPC;
    int syncError = 0;
    int truncateError = 0;
    int closeError = 0;
    int opened = 0;
    int closed = 0;

    int open(const std::string& path, OpenMode mode, int& fd) override {
        if (openError != 0) return openError;
        const int error = real().open(path, mode, fd);
        if (error == 0) ++opened;
        return error;
    }
    int write(int fd, const char* data, std::size_t size, std::size_t& written) override {
        written = 0;
        if (room == 0) return fullError;
        const std::size_t take = std::min({size, room, maxChunk});
        const int error = real().write(fd, data, take, written);
        room -= written;
        return error;
    }
    int stat(int fd, FileInfo& info) override { return real().stat(fd, info); }
    int truncate(int fd, std::uint64_t length) override {
        return truncateError != 0 ? truncateError : real().truncate(fd, length);
    }
    int sync(int fd) override { return syncError != 0 ? syncError : real().sync(fd); }
    int close(int fd) override {
        ++closed;
        const int error = real().close(fd);
        return closeError != 0 ? closeError : error;
    }
    int remove(const std::string& path) override { return real().remove(path); }

private:
    static FileOperations& real() { return posixFileOperations(); }
};

}  // namespace zyg::testing
