#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QWidget>

#include "widgets/RichTextLabel.h"

using namespace zyg;

namespace {

const QString kChi = QString(QChar(0x03C7));

}  // namespace

TEST(RichTextLabel, CheckBoxCaptionIsBlankChiAndRaisedTwo) {
    const std::vector<RichTextRun> expected = {
        {" ", "MS Sans Serif", 8, 0}, {kChi, "Symbol", 10, 0}, {"2", "MS Sans Serif", 8, 2}};
    EXPECT_EQ(parseRichText(x2CheckBoxCaption()), expected);
}

TEST(RichTextLabel, ValueCaptionIsBlankXAndRaisedTwo) {
    const std::vector<RichTextRun> expected = {{" X", "MS Sans Serif", 8, 0},
                                               {"2", "MS Sans Serif", 8, 2}};
    EXPECT_EQ(parseRichText(x2ValueCaption()), expected);
}

TEST(RichTextLabel, PurposeCaptionStatesThePurpose) {
    const std::vector<RichTextRun> expected = {
        {"To study the power of ", "MS Sans Serif", 8, 0},
        {kChi, "Symbol", 10, 0},
        {"2", "MS Sans Serif", 8, 2},
        {" tests of the Hardy-Weinberg hypothesis", "MS Sans Serif", 8, 0}};
    EXPECT_EQ(parseRichText(purposeCaption()), expected);
}

TEST(RichTextLabel, ReadsEscapesGroupsAndSkipsWhatItDoesNotKnow) {
    // Font table without entry groups, a skipped destination, an unknown
    // word with a parameter, escapes, a hex character, \plain and \dn.
    const QString rtf = R"({\rtf1{\fonttbl\f0\fswiss Arial;\f3 Symbol;}{\colortbl;\red255;})"
                        R"({\*\generator Writer;}\f0\fs20 a\\b\{c\}\'e9\highlight2 d)"
                        R"({\f3 abc}{\dn2\fs16 x}\plain e\par})";
    const std::vector<RichTextRun> expected = {
        {QString::fromUtf8("a\\b{c}\u00e9d"), "Arial", 10, 0},
        {QString::fromUtf8("\u03b1\u03b2\u03c7"), "Symbol", 10, 0},
        {"x", "Arial", 8, -1},
        {"e", "Arial", 12, 0}};
    EXPECT_EQ(parseRichText(rtf), expected);
}

TEST(RichTextLabel, ToleratesBrokenSource) {
    EXPECT_TRUE(parseRichText("").empty());
    EXPECT_TRUE(parseRichText(R"({\rtf1 )").empty());
    EXPECT_EQ(parseRichText(R"(}}a{\)").size(), 1u);
    EXPECT_EQ(parseRichText(R"(a\'4)"), (std::vector<RichTextRun>{{"a4", "", 12, 0}}));
}

TEST(RichTextLabel, ScalesSizesFromItsOwnFontAndDrawsInsideItsRectangle) {
    QWidget parent;
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    parent.setFont(font);
    RichTextLabel label(x2CheckBoxCaption(), &parent);
    label.setGeometry(85, 17, 20, 19);
    ASSERT_EQ(label.runs().size(), 3u);
    EXPECT_EQ(QFontInfo(label.fontFor(label.runs()[0])).pixelSize(), 11);
    EXPECT_EQ(QFontInfo(label.fontFor(label.runs()[1])).pixelSize(), 14);

    // The label fits its box in the window and draws something dark in it.
    EXPECT_LE(label.sizeHint().width(), 20);
    EXPECT_LE(label.sizeHint().height(), 19);
    const QImage image = label.grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 100) ++dark;
    EXPECT_GT(dark, 10);
}
