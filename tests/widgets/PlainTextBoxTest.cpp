// The samples box's own paste and its bounds: only plain text is pasted,
// a clipboard without text (or without an owner) pastes nothing, and no
// insertion makes a line or the text longer than the box's limits.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

#include "WidgetTestSupport.h"
#include "widgets/PlainTextBox.h"

using namespace zyg;

namespace {

// What the clipboard holds before a paste.
enum class Clip { Text, HtmlOnly, Image, Empty };

void fill(Clip clip, const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clip == Clip::Empty) {
        clipboard->clear();
        return;
    }
    auto* data = new QMimeData;
    if (clip == Clip::Text) data->setText(text);
    if (clip == Clip::HtmlOnly) data->setHtml(QStringLiteral("<b>7 8 9</b>"));
    if (clip == Clip::Image) data->setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    clipboard->setMimeData(data);
}

}  // namespace

TEST(PlainTextBox, PastesOnlyPlainTextThatFitsWhateverTheKey) {
    struct Case {
        Clip clip;
        QString pasted;
        QString expected;
        QString refusal;
    };
    const QString unchanged = QStringLiteral("a b");
    const Case cases[] = {
        {Clip::Text, QStringLiteral("1 2 3\n4 5 6"), QStringLiteral("a1 2 3\n4 5 6b"), {}},
        {Clip::HtmlOnly, {}, unchanged, {}},
        {Clip::Image, {}, unchanged, {}},
        {Clip::Empty, {}, unchanged, {}},
        // "a" and "b" join the pasted text's first and last lines.
        {Clip::Text, QString(18, u'y'), u'a' + QString(18, u'y') + u'b', {}},
        {Clip::Text, QString(19, u'y'), unchanged,
         QStringLiteral("a line holds at most 20 characters")},
        {Clip::Text, QStringLiteral("1\n") + QString(30, u'x') + QStringLiteral("\n2"), unchanged,
         QStringLiteral("a line holds at most 20 characters")},
        {Clip::Text, QString(40, u'\n'), unchanged,
         QStringLiteral("the box holds at most 40 characters")},
    };
    for (const Case& c : cases) {
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_V, Qt::ControlModifier},
                                             std::pair{Qt::Key_Insert, Qt::ShiftModifier}}) {
            SCOPED_TRACE(c.pasted.toStdString() + " key " + std::to_string(key));
            PlainTextBox box;
            box.setLimits(20, 40);
            QStringList refusals;
            box.OnRefused = [&](const QString& why) { refusals << why; };
            box.setPlainText(unchanged);
            QTextCursor cursor = box.textCursor();
            cursor.setPosition(1);
            cursor.setPosition(2, QTextCursor::KeepAnchor);  // the space is replaced
            box.setTextCursor(cursor);
            fill(c.clip, c.pasted);
            QTest::keyClick(&box, key, modifiers);
            EXPECT_EQ(box.toPlainText(), c.expected);
            EXPECT_EQ(refusals, c.refusal.isEmpty() ? QStringList{} : QStringList{c.refusal});
        }
    }
}

TEST(PlainTextBox, TypingStopsAtTheLineLimitAndEnterStartsANewLine) {
    PlainTextBox box;
    box.setLimits(5, 100);
    QStringList refusals;
    box.OnRefused = [&](const QString& why) { refusals << why; };
    QTest::keyClicks(&box, QStringLiteral("1234567"));
    EXPECT_EQ(box.toPlainText(), QStringLiteral("12345"));
    EXPECT_EQ(refusals.size(), 2);
    QTest::keyClick(&box, Qt::Key_Return);
    QTest::keyClicks(&box, QStringLiteral("89"));
    EXPECT_EQ(box.toPlainText(), QStringLiteral("12345\n89"));
    EXPECT_EQ(box.firstLongLine(QStringLiteral("1\n123456\n")), 2);
    EXPECT_EQ(box.firstLongLine(QStringLiteral("12345\n\n1")), 0);
}
