#pragma once

// Lines of comma-separated values, the one way the programs write CSV: a
// field that holds a comma, a quote or a line break is quoted with its quotes
// doubled; numbers are the shortest texts that read back to the same double,
// with "." whatever the locale; a value a row does not have is an empty field.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zyg {

class CsvLine {
public:
    CsvLine& text(std::string_view field);
    CsvLine& number(double value);  // NaN is an empty field
    CsvLine& number(const std::optional<double>& value);
    CsvLine& whole(std::uint64_t value);
    CsvLine& whole(const std::optional<std::uint64_t>& value);
    CsvLine& empty();
    // The line with its line break.
    std::string str() const { return line_ + "\n"; }

private:
    void separate();
    std::string line_;
    bool first_ = true;
};

}  // namespace zyg
