#include <gtest/gtest.h>

#include <cstring>

#include "sources/CountLines.h"

namespace zyg {
namespace {

TEST(CountLines, AHeaderAfterCommentsIsStillTheFirstLine) {
    const ParsedInput input = parseSampleLines("# panel 3\n\n, ,\nid;x AA AB BB\nrs1 1 2 3\n");
    ASSERT_EQ(input.samples.size(), 1u);
    EXPECT_TRUE(input.bad.empty());
    EXPECT_EQ(input.samples[0].line, 5u);
    EXPECT_EQ(input.samples[0].marker, "rs1");
}

TEST(CountLines, BatchesOfAnySizeReadAsOneText) {
    // Over a megabyte, with bad lines, comments, blank and CRLF lines spread
    // across the boundaries of the batches and of the reader's reads.
    std::string text = "marker AA AB BB\n";
    for (int i = 0; i < 120000; ++i) {
        if (i % 9973 == 0) text += "bad" + std::to_string(i) + " 1 x 3\n";
        if (i % 5003 == 0) text += "# comment\n\n";
        // "m" appended on its own: GCC 12 at -O3 warns falsely (-Wrestrict) on
        // a literal plus a temporary string (GCC bug 105329).
        text += "m";
        text += std::to_string(i) + "\t" + std::to_string(i % 50) + "," + std::to_string(i % 71) +
                " " + std::to_string(i % 13 + 1) + (i % 2 ? "\r\n" : "\n");
    }
    text += "last 1 2 3";
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    const ParsedInput one = parseSampleLines(text);
    for (std::size_t size : {1u, 7u, 4096u, 1000000u}) {
        const auto input = textInput(text);
        CountLineSource source(*input, size);
        ParsedInput parts;
        for (SampleBatch batch; source.next(batch);) {
            EXPECT_LE(batch.samples.size() + batch.bad.size(), size);
            parts.samples.insert(parts.samples.end(), batch.samples.begin(), batch.samples.end());
            parts.bad.insert(parts.bad.end(), batch.bad.begin(), batch.bad.end());
        }
        ASSERT_EQ(parts.samples.size(), one.samples.size()) << size;
        for (std::size_t i = 0; i < one.samples.size(); ++i) {
            const InputSample &a = one.samples[i], &b = parts.samples[i];
            ASSERT_EQ(a.line, b.line) << i;
            ASSERT_EQ(a.marker, b.marker) << i;
            ASSERT_EQ(a.counts.aa, b.counts.aa);
            ASSERT_EQ(a.counts.ab, b.counts.ab);
            ASSERT_EQ(a.counts.bb, b.counts.bb);
        }
        ASSERT_EQ(parts.bad.size(), one.bad.size());
        for (std::size_t i = 0; i < one.bad.size(); ++i) {
            EXPECT_EQ(parts.bad[i].line, one.bad[i].line);
            EXPECT_EQ(parts.bad[i].text, one.bad[i].text);
        }
    }
    EXPECT_EQ(one.samples.size(), 120001u);
    EXPECT_EQ(one.bad.size(), 13u);
    // Line numbers count every line: the header, the comments, the blanks.
    EXPECT_EQ(one.bad[1].line, 9980u);
    EXPECT_EQ(one.bad[1].text, "bad9973 1 x 3");
    EXPECT_EQ(one.samples.back().marker, "last");
}

// An input without line ends (/dev/zero) is read through a bounded buffer:
// a line longer than the bound is one bad line quoting its beginning, the
// next line is read as usual, and a comment may be as long as it likes.
TEST(CountLines, ALineLongerThanTheBoundIsOneBadLine) {
    class Zeros : public ByteInput {
    public:
        std::size_t read(char* data, std::size_t size) override {
            if (left_ == 0) {
                const std::size_t n = std::min(size, tail_.size());
                std::memcpy(data, tail_.data(), n);
                tail_.remove_prefix(n);
                return n;
            }
            const std::size_t n = std::min(size, left_);
            std::memset(data, 0, n);
            left_ -= n;
            largestRead = std::max(largestRead, size);
            return n;
        }
        std::size_t left_ = std::size_t{64} << 20;
        std::string_view tail_ = "\n# comment\nm 1 2 3";
        std::size_t largestRead = 0;
    } zeros;
    CountLineSource source(zeros);
    ParsedInput read;
    for (SampleBatch batch; source.next(batch);) {
        read.samples.insert(read.samples.end(), batch.samples.begin(), batch.samples.end());
        read.bad.insert(read.bad.end(), batch.bad.begin(), batch.bad.end());
    }
    ASSERT_EQ(read.bad.size(), 1u);
    EXPECT_EQ(read.bad[0].line, 1u);
    EXPECT_EQ(read.bad[0].why, "the line is longer than 65536 bytes");
    EXPECT_LE(read.bad[0].text.size(), 256u);
    EXPECT_LE(zeros.largestRead, kMaxCountLineBytes + (std::size_t{1} << 20));
    ASSERT_EQ(read.samples.size(), 1u);
    EXPECT_EQ(read.samples[0].line, 3u);

    const ParsedInput comment = parseSampleLines("#" + std::string(100000, 'x') + "\n1 2 3\n");
    EXPECT_TRUE(comment.bad.empty());
    EXPECT_EQ(comment.samples.size(), 1u);
}

// Control characters, escape codes and bytes that are no UTF-8 are shown as
// escapes; readable text, UTF-8 included, as it is; long text is cut.
TEST(CountLines, ShownTextEscapesAndCuts) {
    const std::pair<std::string, std::string> cases[] = {
        {"rs1 1 x 3", "rs1 1 x 3"},
        {"a\tb\rc", "a\\tb\\rc"},
        {"\x1b[31mred\x1b[0m", "\\x1b[31mred\\x1b[0m"},
        {std::string("n\0ul", 4), "n\\x00ul"},
        {"caf\xc3\xa9 \xff\xc3", "caf\xc3\xa9 \\xff\\xc3"},
        {"\xc2\x9b"
         "2J \xe2\x80\xae",
         "\\u009b"
         "2J \\u202e"},
        {"\xc0\xaf", "\\xc0\\xaf"},
        {std::string(100, 'y'), std::string(80, 'y') + "..."},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(shownText(text), shown) << text;
}

}  // namespace
}  // namespace zyg
