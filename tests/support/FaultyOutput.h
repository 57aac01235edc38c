#pragma once

// Output operations that fail where a test says: the real POSIX operations,
// except that the chosen step reports the chosen errno value. A full disk is
// a write, a sync or a close that fails with ENOSPC.

#include <cerrno>
#include <cstddef>
#include <string>

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

}  // namespace zyg::testing
