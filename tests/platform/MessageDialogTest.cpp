// The message box: every box fits the screen it comes up on, keeps each line
// of its text whole where there is room, and is centred at its final size.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "platform/MessageDialog.h"
#include "support/QtPrinters.h"

namespace zyg {
namespace {

const QRect kSmallScreen(0, 0, 1024, 768);
const QString kZeroFrequency = QStringLiteral(
    "At least one expected relative frequency is zero, therefore the G test CANNOT be done. "
    "\rPlease change parameters, or choose the X2 test only. ");

int lineCount(const QLabel* label) {
    return label->heightForWidth(label->width()) / QFontMetrics(label->font()).lineSpacing();
}

void expectCentredWithin(const QWidget& box, const QRect& screen) {
    EXPECT_TRUE(screen.contains(box.geometry())) << box.geometry().x() << " " << box.width();
    EXPECT_LE(std::abs(box.geometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(box.geometry().center().y() - screen.center().y()), 1);
}

TEST(MessageDialog, TwoLinesOfTextStayTwoLines) {
    MessageDialog box(MessageKind::Error, kZeroFrequency, kSmallScreen);
    EXPECT_EQ(box.windowTitle(), "Error");
    EXPECT_EQ(box.textLabel()->text(),
              QString(kZeroFrequency).replace(u'\r', u'\n'));  // the text as it is
    EXPECT_EQ(lineCount(box.textLabel()), 2);
    expectCentredWithin(box, kSmallScreen);
}

TEST(MessageDialog, AHugeQuotedTextIsBrokenToFitTheScreen) {
    const QString digits(300, u'7');
    const QString text = u'\'' + digits + QStringLiteral("' is not a valid integer value.");
    MessageDialog box(MessageKind::ApplicationError, text, kSmallScreen);
    EXPECT_EQ(box.textLabel()->text().remove(u'\n'), text);  // every character is shown
    expectCentredWithin(box, kSmallScreen);
    const QRect ok(box.okButton()->mapTo(&box, QPoint(0, 0)), box.okButton()->size());
    EXPECT_TRUE(box.rect().contains(ok));
    // Also on a screen much narrower than the text.
    const QRect narrow(100, 50, 400, 300);
    MessageDialog small(MessageKind::ApplicationError, text, narrow);
    expectCentredWithin(small, narrow);
}

TEST(MessageDialog, ShortMessagesAreCentredToo) {
    MessageDialog box(MessageKind::Information, QStringLiteral("Done"), kSmallScreen);
    EXPECT_EQ(box.windowTitle(), "Information");
    EXPECT_EQ(lineCount(box.textLabel()), 1);
    expectCentredWithin(box, kSmallScreen);
}

TEST(MessageDialog, EnterClosesTheBox) {
    MessageDialog box(MessageKind::Error, QStringLiteral("x"), kSmallScreen);
    QTimer::singleShot(0, [&] { QTest::keyClick(box.okButton(), Qt::Key_Return); });
    EXPECT_EQ(box.exec(), QDialog::Accepted);
}

TEST(BreakLongWords, OnlyWordsWiderThanTheLimitAreBroken) {
    const QFontMetrics metrics(QFont{});
    const int width = metrics.horizontalAdvance(QStringLiteral("abcdefghij"));
    EXPECT_EQ(breakLongWords(QStringLiteral("ab cd\nef"), metrics, width), "ab cd\nef");
    const QString broken = breakLongWords(QString(35, u'x') + QStringLiteral(" y"), metrics, width);
    EXPECT_EQ(QString(broken).remove(u'\n'), QString(35, u'x') + QStringLiteral(" y"));
    for (const QString& piece : broken.split(u'\n'))
        EXPECT_LE(metrics.horizontalAdvance(piece), width) << piece.toStdString();
}

}  // namespace
}  // namespace zyg
