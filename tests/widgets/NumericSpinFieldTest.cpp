#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <stdexcept>

#include "WidgetTestSupport.h"
#include "core/Errors.h"
#include "widgets/NumericSpinField.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

// The window's p field: 6 decimals between 0.01 and 0.99, with a plain edit
// box beside it to move the focus to, in an active window.
class SpinFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        field = new NumericSpinField(&window);
        field->setGeometry(10, 10, 100, 21);
        field->setPrecision(6);
        field->setMinFloatValue(0.01);
        field->setMaxFloatValue(0.99);
        field->setIncrementFloat(0.01);
        field->setIncrementFloatPage(1);
        field->setFloatValue(0.4);
        other = new QLineEdit(&window);
        other->setGeometry(10, 50, 100, 21);
        field->OnChange = [this] { changes.push_back(field->text()); };
        field->OnExit = [this] { exits.push_back(field->text()); };
        field->OnKeyDown = [this](int key, Qt::KeyboardModifiers) {
            keys.push_back({key, field->text()});
        };
        window.showActive();
        field->setFocus(Qt::MouseFocusReason);
        field->deselect();
    }

    void typeInto(const QString& text) { QTest::keyClicks(field, text); }
    void leave() { other->setFocus(Qt::TabFocusReason); }

    FakeServices fakes;
    HostWindow window;
    NumericSpinField* field = nullptr;
    QLineEdit* other = nullptr;
    QStringList changes;
    QStringList exits;
    std::vector<std::pair<int, QString>> keys;  // key and the text it saw
};

}  // namespace

TEST(SpinFieldValue, WritesLimitedRoundedTextAndReportsOnlyRealChanges) {
    NumericSpinField field;
    EXPECT_EQ(field.Text(), "0");
    int changes = 0;
    field.OnChange = [&] { ++changes; };
    field.setPrecision(6);
    field.setMinFloatValue(0.01);
    field.setMaxFloatValue(0.99);
    field.setFloatValue(0.4);
    EXPECT_EQ(field.Text(), "0.400000");
    field.setFloatValue(0.4);
    EXPECT_EQ(changes, 1);

    field.setPrecision(4);
    field.setMinFloatValue(0);
    field.setMaxFloatValue(1);
    field.setFloatValue(1.5);
    EXPECT_EQ(field.Text(), "1.0000");
    field.setFloatValue(-0.2);
    EXPECT_EQ(field.Text(), "0.0000");
    field.setFloatValue(-0.00001);  // limited to 0 anyway; no "-0"
    EXPECT_EQ(field.Text(), "0.0000");
    field.setFloatValue(0.03125);
    EXPECT_EQ(field.Text(), "0.0313");  // tie rounded away from zero
    EXPECT_EQ(changes, 4);

    // Equal limits: no limit at all.
    field.setMinFloatValue(5);
    field.setMaxFloatValue(5);
    field.setFloatValue(-123.45);
    EXPECT_EQ(field.Text(), "-123.4500");
    // At most 15 significant digits are kept.
    field.setPrecision(6);
    field.setFloatValue(123456789.123456789);
    EXPECT_EQ(field.Text(), "123456789.123457");
}

TEST(SpinFieldValue, UnreadableTextReadsAsMinValue) {
    NumericSpinField field;
    for (const char* text : {"", "-", "abc", "1,5", "1.2.3", "--1", "1e999"}) {
        field.setText(text);
        EXPECT_EQ(field.FloatValue(), 0.0) << text;
    }
    field.setMinValue(7);
    field.setText("x");
    EXPECT_EQ(field.FloatValue(), 7.0);
    field.setText(" -2.5e1 ");
    EXPECT_EQ(field.FloatValue(), -25.0);

    const ScopedSeparators comma(",", ".");
    field.setText("1,5");
    EXPECT_EQ(field.FloatValue(), 1.5);
}

TEST(SpinFieldValue, ErrorOfAProgramWriteReachesTheWriter) {
    NumericSpinField field;
    field.OnChange = [] { throw CommandError("boom"); };
    EXPECT_THROW(field.setFloatValue(1), CommandError);
    EXPECT_EQ(field.Text(), "1");  // the text was written before the handler ran
    EXPECT_THROW(field.setText("2"), CommandError);
    EXPECT_NO_THROW(field.setText("2"));  // no change, no call
}

TEST_F(SpinFieldTest, ErrorOfTypingIsReportedAndEndsOnlyThatKey) {
    field->OnChange = [] { throw CommandError("boom"); };
    field->setCursorPosition(field->text().size());
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(fakes.messages.shown, QStringList{"boom."});
    EXPECT_EQ(field->text(), "0.40000");
}

TEST_F(SpinFieldTest, StepsByKeysWithinTheLimitsAndPutsTheCaretBack) {
    field->setCursorPosition(2);
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(field->text(), "0.410000");
    EXPECT_EQ(field->cursorPosition(), 2);
    // The window sees the key after the step.
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0], std::make_pair(int(Qt::Key_Up), QString("0.410000")));

    field->setSelection(2, 3);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(field->text(), "0.400000");
    EXPECT_EQ(field->selectionStart(), 2);
    EXPECT_EQ(field->selectedText(), "400");

    QTest::keyClick(field, Qt::Key_PageUp);
    EXPECT_EQ(field->text(), "0.990000");
    changes.clear();
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(field->text(), "0.990000");
    EXPECT_TRUE(changes.isEmpty());
    EXPECT_TRUE(window.keysSeen.empty());

    // An unreadable text steps from 0, and is then limited.
    field->setText("abc");
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(field->text(), "0.010000");
}

TEST_F(SpinFieldTest, StepDownAtZeroStaysAtZero) {
    field->setPrecision(4);
    field->setMinFloatValue(0);
    field->setMaxFloatValue(1);
    field->setText("0.0000");
    changes.clear();
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(field, Qt::Key_PageDown);
    EXPECT_EQ(field->text(), "0.0000");
    EXPECT_TRUE(changes.isEmpty());
}

TEST_F(SpinFieldTest, LeavingLimitsAValueOutsideAfterTheExitCallback) {
    field->selectAll();
    typeInto("2");
    leave();
    EXPECT_EQ(exits, QStringList{"2"});
    EXPECT_EQ(field->text(), "0.990000");
    EXPECT_EQ(changes.back(), "0.990000");

    field->setFocus(Qt::TabFocusReason);
    typeInto("0.5");  // replaces the selected text
    leave();
    EXPECT_EQ(field->text(), "0.5");

    field->setFocus(Qt::TabFocusReason);
    QTest::keyClick(field, Qt::Key_Delete);
    leave();
    EXPECT_EQ(field->text(), "0.010000");

    field->setMinFloatValue(0);
    field->setFocus(Qt::TabFocusReason);
    QTest::keyClick(field, Qt::Key_Delete);
    leave();
    EXPECT_EQ(field->text(), "");
}

TEST_F(SpinFieldTest, LoweredMaximumWaitsForTheNextStepExitOrWrite) {
    field->setMaxFloatValue(0.2);
    EXPECT_EQ(field->text(), "0.400000");
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(field->text(), "0.200000");

    field->setText("0.3");
    field->setMaxFloatValue(0.1);
    leave();
    EXPECT_EQ(field->text(), "0.100000");
}

TEST_F(SpinFieldTest, FiltersTypedCharactersWithABeep) {
    field->selectAll();
    typeInto("a1 x,5:/");  // "," is the thousands separator: it enters "."
    EXPECT_EQ(field->text(), "1.5");
    EXPECT_EQ(fakes.beeper.beeps, 5);

    // A second separator is refused even when the first one is selected.
    field->selectAll();
    typeInto(".");
    EXPECT_EQ(field->text(), "1.5");
    EXPECT_EQ(fakes.beeper.beeps, 6);

    // Decimals full, caret at the end: digits are refused, Backspace is not.
    field->setFloatValue(0.4);
    field->setCursorPosition(field->text().size());
    typeInto("7");
    EXPECT_EQ(field->text(), "0.400000");
    EXPECT_EQ(fakes.beeper.beeps, 7);
    QTest::keyClick(field, Qt::Key_Backspace);
    typeInto("7");
    EXPECT_EQ(field->text(), "0.400007");
    // ... but a digit typed over the whole text replaces it, and signs pass.
    field->selectAll();
    typeInto("-+3");
    EXPECT_EQ(field->text(), "-+3");

    field->setPrecision(0);
    typeInto(".,");
    EXPECT_EQ(field->text(), "-+3");
    EXPECT_EQ(fakes.beeper.beeps, 9);
}

TEST_F(SpinFieldTest, CommaLocaleTurnsAPointIntoTheDecimalComma) {
    const ScopedSeparators comma(",", ".");
    field->selectAll();
    typeInto("0.25");
    EXPECT_EQ(field->text(), "0,25");
    EXPECT_EQ(field->FloatValue(), 0.25);
    typeInto(",");
    EXPECT_EQ(fakes.beeper.beeps, 1);
    field->setFloatValue(0.5);
    EXPECT_EQ(field->text(), "0,500000");
}

TEST_F(SpinFieldTest, PastedTextIsNotFilteredAndReportedOnce) {
    QApplication::clipboard()->setText("x1");
    field->selectAll();
    changes.clear();
    field->paste();  // as from the context menu
    EXPECT_EQ(field->text(), "x1");
    EXPECT_EQ(changes, QStringList{"x1"});
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);  // undo
    EXPECT_EQ(field->text(), "0.400000");
    EXPECT_EQ(changes, (QStringList{"x1", "0.400000"}));
    EXPECT_EQ(fakes.beeper.beeps, 0);
}

TEST_F(SpinFieldTest, KeepsEnterAndEscFromTheWindowButLetsOtherKeysThrough) {
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(window.keysSeen.empty());
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[2].first, Qt::Key_Escape);
    EXPECT_EQ(field->text(), "0.400000");

    // Not even through a window shortcut.
    QAction cancel(&window);
    cancel.setShortcut(QKeySequence(Qt::Key_Escape));
    window.addAction(&cancel);
    int cancelled = 0;
    QObject::connect(&cancel, &QAction::triggered, [&] { ++cancelled; });
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(cancelled, 0);
    EXPECT_EQ(keys.size(), 4u);

    QTest::keyClick(field, Qt::Key_F1);
    EXPECT_EQ(window.keysSeen, std::vector<int>{Qt::Key_F1});
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus());
}

TEST_F(SpinFieldTest, KeyboardEntrySelectsAllButAClickDoesNot) {
    leave();
    QTest::keyClick(other, Qt::Key_Backtab, Qt::ShiftModifier);
    ASSERT_TRUE(field->hasFocus());
    EXPECT_EQ(field->selectedText(), "0.400000");

    leave();
    QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(20, 10));
    ASSERT_TRUE(field->hasFocus());
    EXPECT_FALSE(field->hasSelectedText());

    leave();
    QTest::mouseClick(field->upArrow(), Qt::LeftButton);
    ASSERT_TRUE(field->hasFocus());
    EXPECT_EQ(field->text(), "0.410000");
    EXPECT_EQ(field->selectedText(), "0.410000");
}

TEST_F(SpinFieldTest, HeldArrowRepeatsUntilReleased) {
    QTest::mouseClick(field->downArrow(), Qt::LeftButton);
    EXPECT_EQ(field->text(), "0.390000");
    EXPECT_EQ(changes, QStringList{"0.390000"});

    QTest::mousePress(field->upArrow(), Qt::LeftButton);
    QTest::qWait(250);
    EXPECT_EQ(field->text(), "0.390000");  // no step before 400 ms
    QTest::qWait(400);
    QTest::mouseRelease(field->upArrow(), Qt::LeftButton);
    // At 400 and every 100 ms after, plus one for the release.
    EXPECT_GE(field->FloatValue(), 0.41);
    const QString released = field->text();
    QTest::qWait(250);
    EXPECT_EQ(field->text(), released);
}

TEST_F(SpinFieldTest, HeldArrowStopsAtAnError) {
    field->OnChange = [] { throw CommandError("boom"); };
    QTest::mousePress(field->upArrow(), Qt::LeftButton);
    QTest::qWait(650);
    QTest::mouseRelease(field->upArrow(), Qt::LeftButton);
    EXPECT_EQ(fakes.messages.shown, QStringList{"boom."});
    EXPECT_EQ(field->text(), "0.410000");
}

TEST_F(SpinFieldTest, HeldArrowStopsWhenAnotherWindowComesUp) {
    // A message box that the window shows from its change handler takes the
    // mouse; the release never comes back to the arrow.
    QWidget box;
    field->OnChange = [&] {
        if (box.isVisible()) return;
        box.show();
        box.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&box));
        box.hide();
    };
    QTest::mousePress(field->upArrow(), Qt::LeftButton);
    QTest::qWait(750);
    EXPECT_EQ(field->text(), "0.410000");
}

TEST_F(SpinFieldTest, DisabledFieldTakesNoFocusNorInput) {
    leave();
    field->setEnabled(false);
    EXPECT_FALSE(field->upArrow()->isEnabled());
    field->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(field->hasFocus());
    QTest::keyClicks(field, "5");
    QTest::mouseClick(field->upArrow(), Qt::LeftButton);
    EXPECT_EQ(field->text(), "0.400000");
}
