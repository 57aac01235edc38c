#include "hwtest/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zyg {

namespace {

std::string systemError(int error) { return std::strerror(error); }

// Writes every byte to an open descriptor; the empty text or the error.
std::string writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return systemError(errno);
        }
        done += static_cast<std::size_t>(written);
    }
    return {};
}

}  // namespace

std::string writeWholeFile(const std::string& given, const std::string& text) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A link is followed: the file it names is replaced, not the link.
    std::string path = given;
    if (fs::is_symlink(fs::symlink_status(given, error))) {
        const fs::path target = fs::weakly_canonical(given, error);
        if (!error) path = target.string();
    }
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return systemError(errno);
        std::string fault = writeAll(fd, text);
        if (::close(fd) != 0 && fault.empty()) fault = systemError(errno);
        return fault;
    }

    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return systemError(errno);
    const std::string temporary(name.data());
    // The file keeps the mode of the one it replaces; a new one gets the
    // usual 0666 less the umask.
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string fault = writeAll(fd, text);
    if (fault.empty() && ::fchmod(fd, mode) != 0) fault = systemError(errno);
    if (::close(fd) != 0 && fault.empty()) fault = systemError(errno);
    if (fault.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) fault = systemError(errno);
    if (!fault.empty()) ::unlink(temporary.c_str());
    return fault;
}

}  // namespace zyg
