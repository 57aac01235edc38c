#include "sources/SampleSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>

namespace zyg {

namespace {

class FileInput : public ByteInput {
public:
    explicit FileInput(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0)
            throw SourceError(std::string("cannot be read (") + std::strerror(errno) + ")");
    }
    ~FileInput() override { ::close(fd_); }
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;
    std::size_t read(char* data, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, data, size);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR)
                throw SourceError(std::string("cannot be read (") + std::strerror(errno) + ")");
        }
    }

private:
    int fd_;
};

class StreamInput : public ByteInput {
public:
    explicit StreamInput(std::istream& in) : in_(in) {}
    std::size_t read(char* data, std::size_t size) override {
        if (!in_.good()) return 0;
        in_.read(data, static_cast<std::streamsize>(size));
        if (in_.bad()) throw SourceError("standard input cannot be read");
        return static_cast<std::size_t>(in_.gcount());
    }

private:
    std::istream& in_;
};

class TextInput : public ByteInput {
public:
    explicit TextInput(std::string_view text) : text_(text) {}
    std::size_t read(char* data, std::size_t size) override {
        const std::size_t n = std::min(size, text_.size());
        std::memcpy(data, text_.data(), n);
        text_.remove_prefix(n);
        return n;
    }

private:
    std::string_view text_;
};

// The length of the UTF-8 sequence at text[i], 0 when it is none.
std::size_t utf8Length(std::string_view text, std::size_t i, char32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    std::size_t length = b < 0x80           ? 1
                         : (b >> 5) == 0x6  ? 2
                         : (b >> 4) == 0xE  ? 3
                         : (b >> 3) == 0x1E ? 4
                                            : 0;
    if (length == 0 || i + length > text.size()) return 0;
    code = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are no UTF-8.
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
    return length;
}

// C0 and C1 controls, DEL, and the characters that reorder a line's text.
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

std::string hex(unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(static_cast<std::size_t>(digits), '0');
    for (int d = digits - 1; d >= 0; --d, value >>= 4)
        out[static_cast<std::size_t>(d)] = kDigits[value & 0xF];
    return out;
}

}  // namespace

std::unique_ptr<ByteInput> fileInput(const std::string& path) {
    return std::make_unique<FileInput>(path);
}
std::unique_ptr<ByteInput> streamInput(std::istream& in) {
    return std::make_unique<StreamInput>(in);
}
std::unique_ptr<ByteInput> textInput(std::string_view text) {
    return std::make_unique<TextInput>(text);
}

std::string shownText(std::string_view text, std::size_t limit) {
    std::string out;
    std::size_t shown = 0, i = 0;
    while (i < text.size()) {
        if (shown == limit) return out + "...";
        char32_t code = 0;
        const std::size_t length = utf8Length(text, i, code);
        if (length == 0) {
            out += "\\x" + hex(static_cast<unsigned char>(text[i]), 2);
            ++i;
        } else if (!isControl(code)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            if (code == '\t')
                out += "\\t";
            else if (code == '\r')
                out += "\\r";
            else if (code < 0x80)
                out += "\\x" + hex(code, 2);
            else
                out += "\\u" + hex(code, 4);
            i += length;
        }
        ++shown;
    }
    return out;
}

}  // namespace zyg
