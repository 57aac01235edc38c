#include "cli/HeldOutput.h"

#include <ostream>

namespace zyg {

RowsOutput::RowsOutput(const std::optional<std::string>& csv) : csv_(csv) {
    if (csv_ && *csv_ != "-") writer_ = std::make_unique<WholeFileWriter>(*csv_);
    direct_ = writer_ && !writer_->writesThrough();
}

void RowsOutput::emit(std::string_view piece) {
    if (direct_)
        writer_->write(piece);
    else
        held_.add(piece);
}

std::string RowsOutput::finish(std::ostream& out,
                               const std::function<std::string(std::string_view)>& align) {
    std::string why;
    bool heldOk = true;
    if (writer_) {
        if (!direct_) heldOk = held_.replay([&](std::string_view p) { writer_->write(p); }, why);
        std::string fault = writer_->commit();
        if (!heldOk) fault = why;
        if (fault.empty()) return {};
        std::string message = "--csv \"";
        message += *csv_;
        message += "\": the file cannot be written (";
        return message + fault + ")";
    }
    if (csv_) {
        heldOk = held_.replay([&](std::string_view p) { out << p; }, why);
    } else {
        // The held cells, line by line, aligned now that every width is known.
        std::string carry;
        heldOk = held_.replay(
            [&](std::string_view p) {
                for (std::size_t end; (end = p.find('\n')) != std::string_view::npos;) {
                    carry.append(p.substr(0, end));
                    out << align(carry);
                    carry.clear();
                    p.remove_prefix(end + 1);
                }
                carry.append(p);
            },
            why);
    }
    if (heldOk) return {};
    return "the output cannot be held until the input is read (" + why + ")";
}

}  // namespace zyg
