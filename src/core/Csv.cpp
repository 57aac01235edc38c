#include "core/Csv.h"

#include "core/NumberText.h"

namespace zyg {

void CsvLine::separate() {
    if (!first_) line_ += ',';
    first_ = false;
}

CsvLine& CsvLine::text(std::string_view field) {
    separate();
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        line_ += field;
        return *this;
    }
    line_ += '"';
    for (char c : field) {
        if (c == '"') line_ += '"';
        line_ += c;
    }
    line_ += '"';
    return *this;
}

CsvLine& CsvLine::number(double value) {
    separate();
    line_ += shortestText(value);
    return *this;
}

CsvLine& CsvLine::number(const std::optional<double>& value) {
    return value ? number(*value) : empty();
}

CsvLine& CsvLine::whole(std::uint64_t value) {
    separate();
    line_ += std::to_string(value);
    return *this;
}

CsvLine& CsvLine::whole(const std::optional<std::uint64_t>& value) {
    return value ? whole(*value) : empty();
}

CsvLine& CsvLine::empty() {
    separate();
    return *this;
}

}  // namespace zyg
