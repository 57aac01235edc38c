#pragma once

// Output held back until a whole input has been read, so that bad input
// leaves nothing written. No Qt.

#include <cerrno>
#include <cstdio>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/WholeFile.h"

namespace zyg {

// Output held back until the whole input has been read, so that bad input
// leaves nothing written: in memory up to kHeldInMemory, beyond that in an
// unnamed temporary file.
class HeldOutput {
public:
    HeldOutput() = default;
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;
    ~HeldOutput() {
        if (file_) std::fclose(file_);
    }

    void add(std::string_view piece) {
        if (error_) return;
        if (!file_ && memory_.size() + piece.size() <= kHeldInMemory) {
            memory_.append(piece);
            return;
        }
        if (!file_) {
            file_ = std::tmpfile();
            if (!file_ || !put(memory_)) return fail();
            std::string().swap(memory_);
        }
        if (!put(piece)) fail();
    }

    // Hands the held output to `sink` in pieces, in order; false, with
    // `why` set, when the temporary file failed.
    template <class Sink>
    bool replay(Sink sink, std::string& why) {
        if (!error_ && !file_) {
            sink(std::string_view(memory_));
            return true;
        }
        if (!error_ && (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)) fail();
        std::vector<char> buffer(std::size_t{1} << 16);
        while (!error_) {
            const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file_);
            if (got > 0) sink(std::string_view(buffer.data(), got));
            if (got < buffer.size()) {
                if (std::ferror(file_)) fail();
                break;
            }
        }
        if (error_) why = outputErrorMessage(error_);
        return error_ == 0;
    }

private:
    static constexpr std::size_t kHeldInMemory = std::size_t{16} << 20;
    bool put(std::string_view bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    }
    void fail() { error_ = errno ? errno : EIO; }

    std::string memory_;
    std::FILE* file_ = nullptr;
    int error_ = 0;
};

// A command's rows, written as they are made: into the --csv file's
// temporary file directly, or held until the input is whole (standard
// output, a file written through such as a pipe), so that bad input leaves
// no output anywhere.
class RowsOutput {
public:
    // `csv`: the --csv argument ("-" for standard output), none for a table.
    explicit RowsOutput(const std::optional<std::string>& csv);

    void emit(std::string_view piece);
    // Whether the --csv file has already failed, so that nothing more need
    // be computed for it.
    bool failed() const { return writer_ && writer_->failed(); }

    // Writes what was held and commits the --csv file; a table's lines go to
    // `out` through `align`, which gets each line without its newline. Empty
    // when everything is written, else what failed, to follow the program's
    // name.
    std::string finish(std::ostream& out,
                       const std::function<std::string(std::string_view)>& align);

private:
    std::optional<std::string> csv_;
    std::unique_ptr<WholeFileWriter> writer_;
    bool direct_ = false;
    HeldOutput held_;
};

}  // namespace zyg
