#pragma once

// Switches the C library to a locale that writes decimals with a comma, for
// the lifetime of the object. When no such locale is installed, one is
// compiled with localedef into a temporary folder and found through LOCPATH.

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace zyg::testing {

class ScopedCommaLocale {
public:
    ScopedCommaLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
        if (tryInstalled()) return;
        folder_ = std::filesystem::temp_directory_path() /
                  ("zygomet-locale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + folder_.string() + "/de_DE.UTF-8' >/dev/null 2>&1";
        [[maybe_unused]] const int status = std::system(command.c_str());
        ::setenv("LOCPATH", folder_.c_str(), 1);
        active_ = use("de_DE.UTF-8");
    }
    ~ScopedCommaLocale() {
        std::setlocale(LC_ALL, previous_.c_str());
        if (!folder_.empty()) {
            ::unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }
    ScopedCommaLocale(const ScopedCommaLocale&) = delete;
    ScopedCommaLocale& operator=(const ScopedCommaLocale&) = delete;

    bool active() const { return active_; }

private:
    bool use(const char* name) {
        return std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',';
    }
    bool tryInstalled() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
            if (use(name)) return active_ = true;
        std::setlocale(LC_ALL, previous_.c_str());
        return false;
    }

    std::string previous_;
    std::filesystem::path folder_;
    bool active_ = false;
};

}  // namespace zyg::testing
