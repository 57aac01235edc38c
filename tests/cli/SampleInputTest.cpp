#include <gtest/gtest.h>

#include "cli/SampleInput.h"

namespace zyg {
namespace {

TEST(SampleInput, AHeaderAfterCommentsIsStillTheFirstLine) {
    const ParsedInput input = parseSampleLines("# panel 3\n\n, ,\nid;x AA AB BB\nrs1 1 2 3\n");
    ASSERT_EQ(input.samples.size(), 1u);
    EXPECT_TRUE(input.bad.empty());
    EXPECT_EQ(input.samples[0].line, 5u);
    EXPECT_EQ(input.samples[0].marker, "rs1");
}

TEST(SampleInput, PartsOnThreadsReadAsOneText) {
    // Over a megabyte, with bad lines, comments, blank and CRLF lines spread
    // across the boundaries of the parts.
    std::string text = "marker AA AB BB\n";
    for (int i = 0; i < 120000; ++i) {
        if (i % 9973 == 0) text += "bad" + std::to_string(i) + " 1 x 3\n";
        if (i % 5003 == 0) text += "# comment\n\n";
        // "m" appended on its own: GCC 12 at -O3 warns falsely (-Wrestrict) on
        // a literal plus a temporary string.
        text += "m";
        text += std::to_string(i) + "\t" + std::to_string(i % 50) + "," + std::to_string(i % 71) +
                " " + std::to_string(i % 13 + 1) + (i % 2 ? "\r\n" : "\n");
    }
    text += "last 1 2 3";
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    const ParsedInput one = parseSampleLines(text, 1);
    for (unsigned threads : {2u, 3u, 8u}) {
        const ParsedInput parts = parseSampleLines(text, threads);
        ASSERT_EQ(parts.samples.size(), one.samples.size()) << threads;
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

}  // namespace
}  // namespace zyg
