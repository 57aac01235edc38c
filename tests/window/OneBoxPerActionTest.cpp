// One user action brings up at most one message box: neither a held scroll
// bar arrow, nor a held spin arrow, nor a held key goes on stepping behind
// the box that its first step brought up.
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStyleOptionGroupBox>

#include "WindowFixture.h"
#include "widgets/StatusHints.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

class OneBox : public WindowTest {
protected:
    // Every refresh fails: no test is checked.
    void breakEveryRefresh() {
        form->X2CheckBox->setChecked(false);
        ASSERT_FALSE(form->GCheckBox->isChecked());
        clearErrors();
    }
    // The first box stays open for a while, as a user reads it, with the
    // mouse button still down; the timers of the window go on meanwhile.
    void keepTheFirstBoxOpen(int ms) {
        env.messages.onShow = [this, ms] {
            if (env.messages.shown.size() == 1) QTest::qWait(ms);
        };
    }
    static void sendRepeat(QWidget* target, Qt::Key key) {
        QKeyEvent repeat(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(target, &repeat);
    }
};

}  // namespace

TEST_F(OneBox, AClickOnTheScrollBarArrowBringsUpOneBox) {
    breakEveryRefresh();
    keepTheFirstBoxOpen(900);
    QScrollBar* bar = form->ScrollBar1;
    const QPoint rightArrow(bar->width() - 4, bar->height() / 2);
    QTest::mousePress(bar, Qt::LeftButton, {}, rightArrow);
    QTest::qWait(300);  // the button is released only after the box is gone
    QTest::mouseRelease(bar, Qt::LeftButton, {}, rightArrow);
    EXPECT_EQ(errors().size(), 1);
    EXPECT_EQ(form->nEdit->text(), "110");
    EXPECT_EQ(bar->value(), 110);

    // The next click is an action of its own.
    env.messages.onShow = nullptr;
    QTest::mouseClick(bar, Qt::LeftButton, {}, rightArrow);
    EXPECT_EQ(errors().size(), 2);
    EXPECT_EQ(bar->value(), 120);
}

TEST_F(OneBox, AHeldSpinArrowStopsAtTheFirstBox) {
    breakEveryRefresh();
    keepTheFirstBoxOpen(700);
    QWidget* up = form->pAdvSpinEdit->upArrow();
    const QPoint centre = up->rect().center();
    QTest::mousePress(up, Qt::LeftButton, {}, centre);
    QTest::qWait(1000);  // held past the repeat delay
    QTest::mouseRelease(up, Qt::LeftButton, {}, centre);
    EXPECT_LE(errors().size(), 1);
}

TEST_F(OneBox, AHeldKeyStopsRepeatingOnceABoxCameUp) {
    breakEveryRefresh();
    QScrollBar* bar = form->ScrollBar1;
    bar->setFocus();
    QTest::keyPress(bar, Qt::Key_Right);
    for (int i = 0; i < 5; ++i) sendRepeat(bar, Qt::Key_Right);
    QTest::keyRelease(bar, Qt::Key_Right);
    EXPECT_EQ(errors().size(), 1);
    EXPECT_EQ(bar->value(), 110);

    // Pressed again, the key acts again; a key whose press brought up no box
    // repeats as usual.
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(errors().size(), 2);
    form->X2CheckBox->setChecked(true);
    clearErrors();
    QTest::keyPress(bar, Qt::Key_Right);
    for (int i = 0; i < 3; ++i) sendRepeat(bar, Qt::Key_Right);
    EXPECT_TRUE(errors().isEmpty());
    EXPECT_EQ(bar->value(), 160);
}

TEST_F(OneBox, AHeldUpKeyInTheFrequencyField) {
    breakEveryRefresh();
    typeInto(form->pAdvSpinEdit, "0.5");
    clearErrors();
    QTest::keyPress(form->pAdvSpinEdit, Qt::Key_Up);
    for (int i = 0; i < 4; ++i) sendRepeat(form->pAdvSpinEdit, Qt::Key_Up);
    EXPECT_EQ(errors().size(), 1);
    EXPECT_EQ(form->pAdvSpinEdit->text(), "0.510000");
}

// ---- Smaller things of the window ----

using Details = WindowTest;

TEST_F(Details, LeavingTheSampleSizeWritesItBackInPlainDecimal) {
    for (const auto& [typed, shown] : {std::pair{"$FF", "255"}, std::pair{"050", "50"},
                                       std::pair{"+70", "70"}, std::pair{" 50", "50"}}) {
        form->NRComboBox->setText("10");
        typeInto(form->nEdit, QString::fromLatin1(typed));
        form->RunButton->setFocus(Qt::TabFocusReason);  // leaves the box
        EXPECT_EQ(form->nEdit->text(), shown) << typed;
    }
    // Leaving it unchanged after a run keeps the results and Save.
    typeInto(form->nEdit, "050");
    QTest::keyClick(form->nEdit, Qt::Key_Return);
    ASSERT_TRUE(saveCommandsEnabled());
    form->SaveButton->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(form->nEdit->text(), "50");
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_TRUE(form->ResultsGroupBox->isVisible());
    EXPECT_TRUE(errors().isEmpty());
}

// Looked at as drawn: the ink of "p > 0.05" and "p > 0.01" lies below the
// group's top frame line and above the fields.
TEST_F(Details, TheResultsColumnHeadsLieBelowTheFrameLine) {
    form->NRComboBox->setText("10");
    form->RunButton->click();
    QGroupBox* group = form->ResultsGroupBox;
    ASSERT_TRUE(group->isVisible());
    const QImage image = group->grab().toImage();
    // The frame line: the first row that is not background in a column
    // right of the caption and left of the heads.
    const int x = form->X2AdvEdit->x() - 10;
    const QRgb background = image.pixel(x, 0);
    int line = -1;
    for (int y = 0; y < form->X2AdvEdit->y() && line < 0; ++y)
        if (image.pixel(x, y) != background) line = y;
    ASSERT_GE(line, 0);
    for (QLabel* head : {form->Label10, form->Label11}) {
        int top = image.height();
        int bottom = -1;
        for (int y = 0; y < form->X2_05AdvEdit->y(); ++y)
            for (int col = head->x(); col <= head->geometry().right(); ++col)
                if (qGray(image.pixel(col, y)) < 128) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        ASSERT_GE(bottom, 0) << head->text().toStdString();
        EXPECT_GT(top, line) << head->text().toStdString();
    }
}

TEST_F(Details, AMenuOpenedFromTheKeyboardClearsTheHint) {
    form->RunButton->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(form->StatusBar1->panelText(0), " Run the simulation");
    QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(form->File1->isVisible());
    EXPECT_EQ(form->StatusBar1->panelText(0), "");
    form->File1->close();
}

// While the menu is open, the pointer's crossings (the popup itself makes the
// control under the pointer see a Leave) must not bring back the hint of the
// control that lies under it.
TEST_F(Details, AnOpenMenuKeepsTheHintOfTheControlUnderThePointerAway) {
    QCursor::setPos(form->ParameterGroupBox->mapToGlobal(QPoint(20, 20)));
    QTest::keyClick(form.get(), Qt::Key_F, Qt::AltModifier);
    ASSERT_TRUE(form->File1->isVisible());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(form->ParameterGroupBox, &leave);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->StatusBar1->panelText(0), "");
    form->File1->close();
}

// The default item is drawn bold: the menu is wider than the same menu with
// a plain item by at least what the bold text takes more, so the gap before
// the shortcut stays the usual one.
TEST_F(Details, TheBoldHelpItemKeepsTheGapBeforeItsShortcut) {
    QMenu* help = form->Help1;
    QMenu plain;
    plain.setFont(help->font());
    for (QAction* a : help->actions()) {
        QAction* copy = plain.addAction(a->icon(), a->text());
        copy->setShortcut(a->shortcut());
        copy->setShortcutVisibleInContextMenu(true);
    }
    QFont bold = help->font();
    bold.setBold(true);
    const QString text = form->Help2->text().remove(u'&');
    const int boldExtra = QFontMetrics(bold).horizontalAdvance(text) -
                          QFontMetrics(help->font()).horizontalAdvance(text);
    ASSERT_GT(boldExtra, 0);
    EXPECT_GE(help->sizeHint().width() - plain.sizeHint().width(), boldExtra);
}
