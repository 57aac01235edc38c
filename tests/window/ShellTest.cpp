// The application shell around the window: the error box text, the status
// bar's hint line and Num Lock indicator, help, and Exit.
#include <QGroupBox>
#include <QMenu>
#include <QTimer>

#include "WindowFixture.h"
#include "platform/ErrorBoundary.h"

using namespace zyg;
using namespace zyg::testing;

namespace {
using Shell = WindowTest;
}

TEST(ErrorBox, APeriodFollowsMessagesThatEndInALetterOrDigit) {
    EXPECT_EQ(applicationErrorText("Range check error"), "Range check error.");
    EXPECT_EQ(applicationErrorText("I/O error 28"), "I/O error 28.");
    EXPECT_EQ(applicationErrorText("Fitnesses cannot all be zero!"),
              "Fitnesses cannot all be zero!");
    EXPECT_EQ(applicationErrorText("(P %)"), "(P %)");
    EXPECT_EQ(applicationErrorText("Done."), "Done.");
    EXPECT_EQ(applicationErrorText("path/"), "path/.");  // "/" sorts after "."
    EXPECT_EQ(applicationErrorText(""), "");
}

TEST(ErrorBox, GuardedShowsCommandErrorsButNotSilentAborts) {
    FakeEnvironment env;
    guarded([] { throw CommandError("Integer overflow"); });
    guarded([] { throw SilentAbort(); });
    EXPECT_EQ(env.messages.texts(MessageKind::ApplicationError), QStringList{"Integer overflow."});
}

TEST_F(Shell, EnteringAGroupShowsItsHintWithTheLeadingBlank) {
    form->pAdvSpinEdit->setFocus();
    EXPECT_EQ(form->StatusBar1->panelText(0), " Set parameters");
    form->nEdit->setFocus();
    EXPECT_EQ(form->StatusBar1->panelText(0), " Set sample size");
    form->ScrollBar1->setFocus();  // still inside the group: no new enter
    form->StatusBar1->setPanelText(0, "unchanged");
    form->nEdit->setFocus();
    EXPECT_EQ(form->StatusBar1->panelText(0), "unchanged");
    form->RunButton->setFocus();
    EXPECT_EQ(form->StatusBar1->panelText(0), " Run the simulation");
    form->HWRadioButton->setFocus();  // over the model frame, not inside it
    EXPECT_EQ(form->StatusBar1->panelText(0), " Run the simulation");

    // The results group has no hint: entering it empties the panel.
    form->NRComboBox->setText("10");
    form->RunButton->click();
    form->X2AdvEdit->setFocus();
    EXPECT_EQ(form->StatusBar1->panelText(0), "");
}

TEST_F(Shell, PointingShowsTheNearestHint) {
    auto point = [&](QWidget* w) {
        QTest::mouseMove(w, w->rect().center());
        QTest::qWait(20);
        return form->StatusBar1->panelText(0);
    };
    // A disabled count field is passed over for the panel that holds it.
    EXPECT_EQ(point(form->e11AdvEdit),
              " Expected genotypic frequencies (set automatically based on "
              "chosen allele frequency)");
    EXPECT_EQ(point(form->WRadioButton), " Wahlund model (divided population)");
    EXPECT_EQ(point(form->pAdvSpinEdit), " A1 Allele frequency");
    // A label without a hint in a hinted group shows the group's.
    EXPECT_EQ(point(form->Label1), " Set parameters");
    // Nothing hinted around the Test group's check box but the group.
    EXPECT_EQ(point(form->GCheckBox), " Select at least one test");
}

TEST_F(Shell, BrowsingTheMenusEmptiesTheHintLine) {
    QTest::mouseMove(form->RunButton, form->RunButton->rect().center());
    QTest::qWait(20);
    form->nEdit->setFocus();
    ASSERT_EQ(form->StatusBar1->panelText(0), " Set sample size");
    emit form->File1->hovered(form->FileRunItem);
    EXPECT_EQ(form->StatusBar1->panelText(0), "");
}

TEST_F(Shell, NumLockIndicatorFollowsTheKeyboard) {
    env.keyboard.state = true;
    form->Timer1Timer();
    EXPECT_EQ(form->StatusBar1->panelText(1), "NUM");
    env.keyboard.state = false;
    form->Timer1Timer();
    EXPECT_EQ(form->StatusBar1->panelText(1), "");
    env.keyboard.state = true;
    form->pAdvSpinEdit->setFloatValue(0.3);  // every refresh looks too
    EXPECT_EQ(form->StatusBar1->panelText(1), "NUM");
    env.keyboard.state = std::nullopt;  // cannot be known: empty
    form->Timer1Timer();
    EXPECT_EQ(form->StatusBar1->panelText(1), "");
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->Timer1->interval(), 1000);
}

TEST_F(Shell, F1OpensTheContentsOrTheHighlightedMenuItem) {
    EXPECT_TRUE(form->helpFilePath.endsWith("/ZYGOMETHELP.HLP"));
    form->nEdit->setFocus();
    QTest::keyClick(form->nEdit, Qt::Key_F1);
    ASSERT_EQ(env.help.requests.size(), 1u);
    EXPECT_EQ(env.help.requests[0], std::make_pair(form->helpFilePath, 0));

    form->File1->popup(form->mapToGlobal(QPoint(0, 0)));
    for (int i = 0; i < 4 && form->File1->activeAction() != form->FileRunItem; ++i)
        QTest::keyClick(form->File1, Qt::Key_Down);
    ASSERT_EQ(form->File1->activeAction(), form->FileRunItem);
    QTest::keyClick(form->File1, Qt::Key_F1);
    ASSERT_EQ(env.help.requests.size(), 2u);
    EXPECT_EQ(env.help.requests[1].second, 6001);
    EXPECT_FALSE(form->File1->isVisible());
}

TEST_F(Shell, ExitAndClosingTheWindowEndTheEventLoopWithZero) {
    // A loop that is not ended within two seconds ends with 1.
    auto loopEndsWith = [](auto&& action) {
        QTimer::singleShot(0, action);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        deadline.start(2000);
        return QApplication::exec();
    };
    EXPECT_EQ(loopEndsWith([&] { form->ExitButton->click(); }), 0);
    EXPECT_TRUE(form->exitRequested());
    EXPECT_TRUE(env.messages.shown.empty());
    EXPECT_EQ(loopEndsWith([&] { form->close(); }), 0);
}

// Destroying the window moves the focus among controls that are already
// going; the window must hear nothing of it (the sanitizer build checks that
// no handler runs on the half-destroyed window).
TEST_F(Shell, DestroyingTheWindowWithTheFocusInAGroupIsQuiet) {
    const auto focused = {+[](TForm1& w) -> QWidget* { return w.nEdit; },
                          +[](TForm1& w) -> QWidget* { return w.RunButton; },
                          +[](TForm1& w) -> QWidget* { return w.pAdvSpinEdit; }};
    for (const auto pick : focused) {
        auto other = std::make_unique<TForm1>();
        other->show();
        other->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(other.get()));
        pick(*other)->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), pick(*other));
        other.reset();
    }
    // The window that stays goes on showing its own hints.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->RunButton->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(form->StatusBar1->panelText(0), " Run the simulation");
    EXPECT_TRUE(commandErrors().isEmpty());
}
