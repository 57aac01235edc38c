#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "WidgetTestSupport.h"
#include "widgets/NumericDisplayField.h"

using namespace zyg;
using namespace zyg::testing;

TEST(DisplayField, ShowsRoundedNumbersWithoutGroupingOrNegativeZero) {
    NumericDisplayField field;
    EXPECT_TRUE(field.isReadOnly());
    field.setEditType(etFloat);
    field.setPrecision(4);
    field.showFloat(0.03125);
    EXPECT_EQ(field.Text(), "0.0313");
    field.showFloat(-0.00001);
    EXPECT_EQ(field.Text(), "0.0000");
    field.showFloat(12345.67891);
    EXPECT_EQ(field.Text(), "12345.6789");
    // More than 15 significant digits are kept.
    field.showFloat(123456789012.123456);
    EXPECT_EQ(field.Text(), "123456789012.1235");

    field.setPrecision(2);
    field.showFloat(0.125);
    EXPECT_EQ(field.Text(), "0.13");

    NumericDisplayField counts;
    counts.setEditType(etNumeric);
    counts.setPrecision(0);
    counts.showInteger(1234);
    EXPECT_EQ(counts.Text(), "1234");
    counts.showInteger(-7);
    EXPECT_EQ(counts.Text(), "-7");
}

TEST(DisplayField, ReadsBackTheRoundedNumberItShows) {
    NumericDisplayField field;
    field.setPrecision(4);
    field.showFloat(0.05127);
    EXPECT_EQ(field.Text(), "0.0513");
    EXPECT_EQ(field.readFloat(), 0.0513);
    field.setText("");
    EXPECT_EQ(field.Text(), "");
    EXPECT_EQ(field.readFloat(), 0.0);

    const ScopedSeparators comma(",", ".");
    field.showFloat(1234.5);
    EXPECT_EQ(field.Text(), "1234,5000");
    EXPECT_EQ(field.readFloat(), 1234.5);
}

TEST(DisplayField, TextThatIsNoNumberShowsAsZero) {
    NumericDisplayField counts;
    counts.setEditType(etNumeric);
    counts.setText("12a");
    EXPECT_EQ(counts.Text(), "0");
    counts.setText("--1");
    EXPECT_EQ(counts.Text(), "0");
    counts.setText("-15");
    EXPECT_EQ(counts.Text(), "-15");

    NumericDisplayField field;
    field.setPrecision(4);
    struct Case {
        const char* text;
        const char* shown;
    };
    for (const Case c : {Case{"abc", "0"}, Case{"1.2.3", "0"}, Case{"-1-", "0"}, Case{",5", "0"},
                         Case{"1,23,456", "0"}, Case{"1e5", "0"}, Case{"1,234.5", "1234.5000"},
                         Case{"-0.5", "-0.5000"}, Case{"7", "7.0000"}}) {
        field.setText(c.text);
        EXPECT_EQ(field.Text(), c.shown) << c.text;
    }
    // Without decimals, a number-shaped text is shown as it is.
    field.setPrecision(0);
    field.setText("1,234");
    EXPECT_EQ(field.Text(), "1,234");
}

TEST(DisplayField, LeavingAResultFieldShowsItsNumberWithItsDecimals) {
    HostWindow window;
    auto* field = new NumericDisplayField(&window);
    field->setPrecision(4);
    auto* other = new QLineEdit(&window);
    other->move(0, 40);
    field->setText("");
    window.showActive();
    field->setFocus(Qt::TabFocusReason);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(field->Text(), "0.0000");
}

TEST(DisplayField, DisabledFieldKeepsTheLookOfAnOrdinaryBox) {
    NumericDisplayField field;
    const QColor window = field.palette().color(QPalette::Active, QPalette::Window);
    EXPECT_EQ(field.DisabledColor(), window);
    field.setDisabledColor(Qt::yellow);
    field.setEnabled(false);
    EXPECT_EQ(field.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::yellow));
    EXPECT_EQ(field.palette().color(QPalette::Disabled, QPalette::Text), QColor(Qt::black));
}
