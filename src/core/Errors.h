#pragma once

#include <stdexcept>
#include <string>

namespace zyg {

// The messages of the run-time errors that end a command. The window shows
// them in the application's error box, so the texts are part of what the
// user sees.
inline constexpr const char* kRangeCheckError = "Range check error";
inline constexpr const char* kIntegerOverflow = "Integer overflow";
inline constexpr const char* kInvalidFloatingPointOperation = "Invalid floating point operation";
inline constexpr const char* kFloatingPointDivisionByZero = "Floating point division by zero";
inline constexpr const char* kFloatingPointOverflow = "Floating point overflow";

// An error that ends the current command and every command that called it.
// Nothing done before it is rolled back; the application error box shows
// what().
class CommandError : public std::runtime_error {
public:
    explicit CommandError(const std::string& message) : std::runtime_error(message) {}
};

// The silent error: it ends the command like any other, but nothing is shown.
class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return ""; }
};

}  // namespace zyg
