// The window at start-up, the Run command and the keys.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include "WindowFixture.h"
#include "engine/Random.h"
#include "widgets/RichTextLabel.h"

using namespace zyg;
using namespace zyg::testing;

namespace {
using MainWindow = WindowTest;
}

TEST_F(MainWindow, StartsWithTheDefaultsAndNoResults) {
    EXPECT_EQ(form->windowTitle(), " Q9 Zygomet");
    EXPECT_EQ(form->client->size(), QSize(701, 431));
    EXPECT_TRUE(form->HWRadioButton->isChecked());
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "0.400000");
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.0100");
    EXPECT_EQ(form->inbAdvSpinEdit->Text(), "0.0100");
    EXPECT_EQ(form->W11AdvSpinEdit->Text(), "1.1000");
    EXPECT_EQ(form->W12AdvSpinEdit->Text(), "1.0000");
    EXPECT_EQ(form->W22AdvSpinEdit->Text(), "0.9100");
    EXPECT_EQ(form->VarAdvSpinEdit->MaxFloatValue(), 0.24);
    for (QWidget* w : std::initializer_list<QWidget*>{
             form->varLabel, form->VarAdvSpinEdit, form->inbLabel, form->inbAdvSpinEdit,
             form->w11Label, form->W11AdvSpinEdit, form->W22AdvSpinEdit})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form->pAdvSpinEdit->isEnabled());

    EXPECT_EQ(form->f11AdvEdit->text(), "0.160000");
    EXPECT_EQ(form->f12AdvEdit->text(), "0.480000");
    EXPECT_EQ(form->f22AdvEdit->text(), "0.360000");
    EXPECT_EQ(form->e11AdvEdit->text(), "16.0000");
    EXPECT_EQ(form->e12AdvEdit->text(), "48.0000");
    EXPECT_EQ(form->e22AdvEdit->text(), "36.0000");

    EXPECT_FALSE(form->AbsolutePanel->isVisible());
    EXPECT_FALSE(form->ResultsGroupBox->isVisible());
    EXPECT_FALSE(form->MessageLabel->isVisible());
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_EQ(form->ProgressBar1->maximum(), 1000);
    EXPECT_TRUE(saveCommandsDisabled());
    EXPECT_EQ(form->currentFileName, "Untitled");
    EXPECT_TRUE(env.messages.shown.empty());
    // No control ever shows a pop-up tooltip.
    for (QWidget* w : form->findChildren<QWidget*>()) EXPECT_TRUE(w->toolTip().isEmpty());
}

TEST_F(MainWindow, RunOfAHundredShowsEverythingWithoutProgressBar) {
    form->NRComboBox->setText("100");
    form->RunButton->click();
    EXPECT_TRUE(env.messages.shown.empty());
    EXPECT_TRUE(form->AbsolutePanel->isVisible());
    EXPECT_TRUE(form->ResultsGroupBox->isVisible());
    EXPECT_TRUE(form->MessageLabel->isVisible());
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_EQ(form->ProgressBar1->value(), 100);
    EXPECT_EQ(sampleTotal(), 100);
    EXPECT_TRUE(form->X2AdvEdit->isVisible());
    EXPECT_FALSE(form->GAdvEdit->isVisible());
    EXPECT_FALSE(form->GLabel->isVisible());
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(simulationState().x2Ok, 100);
    EXPECT_EQ(form->MessageLabel->text(), "");
    // The e-fields now show the last sample's own Hardy-Weinberg expectation.
    const Extended pHat =
        (form->o12AdvEdit->text().toInt() * 0.5L + form->o11AdvEdit->text().toInt()) / 100;
    EXPECT_DOUBLE_EQ(form->e11AdvEdit->readFloat(),
                     std::round(static_cast<double>(pHat * pHat * 100) * 1e4) / 1e4);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindow, RunOfMoreThanAHundredHidesResultsUntilItEnds) {
    form->NRComboBox->setText("101");
    form->X2AdvEdit->setText("9.9999");
    form->RunButton->click();
    EXPECT_TRUE(form->AbsolutePanel->isVisible());
    EXPECT_TRUE(form->ResultsGroupBox->isVisible());
    EXPECT_FALSE(form->ProgressBar1->isVisible());
    EXPECT_EQ(form->ProgressBar1->maximum(), 101);
    EXPECT_EQ(form->ProgressBar1->value(), 101);
    EXPECT_NE(form->X2AdvEdit->text(), "9.9999");
    EXPECT_TRUE(saveCommandsEnabled());

    // A later change of an input hides them again and withdraws Save.
    form->GCheckBox->click();
    EXPECT_FALSE(form->ResultsGroupBox->isVisible());
    EXPECT_TRUE(form->AbsolutePanel->isVisible());
    EXPECT_TRUE(saveCommandsDisabled());
}

TEST_F(MainWindow, OnlyTheChosenTestsAreShown) {
    form->X2CheckBox->setChecked(false);
    form->GCheckBox->setChecked(true);
    form->RunButton->click();
    EXPECT_FALSE(form->X2RTFLabel->isVisible());
    EXPECT_FALSE(form->X2AdvEdit->isVisible());
    EXPECT_FALSE(form->X2_05AdvEdit->isVisible());
    EXPECT_FALSE(form->X2_01AdvEdit->isVisible());
    EXPECT_TRUE(form->GLabel->isVisible());
    EXPECT_TRUE(form->G_01AdvEdit->isVisible());
    EXPECT_EQ(simulationState().x2Ok, 0);
    EXPECT_GT(simulationState().gOk, 0);

    form->X2CheckBox->setChecked(true);
    form->GCheckBox->setChecked(false);
    form->RunButton->click();
    EXPECT_TRUE(form->X2AdvEdit->isVisible());
    EXPECT_FALSE(form->GAdvEdit->isVisible());
    EXPECT_EQ(simulationState().gOk, 0);
}

TEST_F(MainWindow, CompletionMessageTellsHowManyReplicatesCouldBeTested) {
    // With p = 0.1 and n = 10 most samples lack A1A1, so G often cannot be
    // computed, while X2 almost always can.
    form->pAdvSpinEdit->setFloatValue(0.1);
    form->nEdit->setText("10");
    form->GCheckBox->setChecked(true);
    form->RunButton->click();
    const SimulationState& state = simulationState();
    ASSERT_LT(state.gOk, 1000);
    ASSERT_GT(state.gOk, 0);
    const QString gPart =
        QStringLiteral("G could only be computed for %1 out of 1000 replicates (").arg(state.gOk);
    EXPECT_TRUE(form->MessageLabel->text().contains(gPart))
        << form->MessageLabel->text().toStdString();
    EXPECT_TRUE(form->MessageLabel->text().endsWith(" %)"));
    EXPECT_EQ(form->MessageLabel->palette().color(QPalette::WindowText), QColor(0x80, 0, 0));
    EXPECT_TRUE(form->MessageLabel->alignment() & Qt::AlignRight);
}

TEST_F(MainWindow, RunsAreSeededFromTheClockAtTheirStart) {
    form->NRComboBox->setText("1");
    form->nEdit->setText("10");
    form->RunButton->click();
    // 13:45:30.250 UTC, p = 0.4, n = 10: the counts 1, 4, 5.
    EXPECT_EQ(form->o11AdvEdit->text(), "1");
    EXPECT_EQ(form->o12AdvEdit->text(), "4");
    EXPECT_EQ(form->o22AdvEdit->text(), "5");
    EXPECT_EQ(form->X2AdvEdit->text(), "0.0227");
}

TEST_F(MainWindow, AFaultInsideARunEndsItAndRestoresTheCursor) {
    form->nEdit->setText("0");
    form->RunButton->click();
    EXPECT_EQ(commandErrors(), QStringList{"Invalid floating point operation."});
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(form->ProgressBar1->isVisible());
    EXPECT_FALSE(form->ResultsGroupBox->isVisible());
    EXPECT_TRUE(saveCommandsDisabled());
    EXPECT_EQ(form->o11AdvEdit->text(), "0");
}

TEST_F(MainWindow, MenuShortcutsWinOverTheFocusedField) {
    form->pAdvSpinEdit->setFocus();
    form->pAdvSpinEdit->deselect();
    // Ctrl+A with Save As disabled: nothing at all, not even select-all.
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_FALSE(form->pAdvSpinEdit->hasSelectedText());
    EXPECT_TRUE(env.files.requests.empty());

    // Ctrl+R runs, Ctrl+A is Save As.
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(saveCommandsEnabled());
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(env.files.requests.size(), 1u);  // the dialog was asked; cancelled

    // Every kind of field leaves Ctrl+A to Save As, never selecting all.
    form->NRComboBox->setText("10");
    form->RunButton->click();
    const QList<QLineEdit*> fields = {form->nEdit, form->NRComboBox->lineEdit(), form->X2_05AdvEdit,
                                      form->pAdvSpinEdit};
    for (QLineEdit* field : fields) {
        field->setFocus();
        field->deselect();
        const std::size_t before = env.files.requests.size();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(env.files.requests.size(), before + 1) << field->objectName().toStdString();
        EXPECT_FALSE(field->hasSelectedText());
    }

    // Ctrl+X ends the program even while typing, and cuts nothing.
    form->pAdvSpinEdit->selectAll();
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(form->exitRequested());
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "0.400000");
}

TEST_F(MainWindow, EnterPressesOnlyAFocusedButtonAndEscExits) {
    form->X2CheckBox->setFocus();
    QTest::keyClick(form->X2CheckBox, Qt::Key_Return);
    EXPECT_TRUE(saveCommandsDisabled());  // no default button
    form->RunButton->setFocus();
    QTest::keyClick(form->RunButton, Qt::Key_Return);
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_FALSE(form->exitRequested());

    form->WRadioButton->setChecked(true);
    form->VarAdvSpinEdit->setFocus();
    QTest::keyClick(form->VarAdvSpinEdit, Qt::Key_Escape);  // the field keeps Esc
    EXPECT_FALSE(form->exitRequested());
    form->nEdit->setFocus();
    QTest::keyClick(form->nEdit, Qt::Key_Escape);  // reaches the cancel button
    EXPECT_TRUE(form->exitRequested());
}

TEST_F(MainWindow, EscInTheAlleleFrequencyFieldExits) {
    form->pAdvSpinEdit->setFocus();
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_Escape);
    EXPECT_TRUE(form->exitRequested());
}

TEST_F(MainWindow, DefaultsAreNotReloadedAfterAModalBoxOrAReturn) {
    form->pAdvSpinEdit->setFloatValue(0.3);
    form->VarAdvSpinEdit->setFloatValue(0.05);
    // A modal box closing, or the user coming back from another program,
    // activates the window again.
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form.get(), &activate);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "0.300000");
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.0500");
}

TEST_F(MainWindow, RadioButtonsRunTheirHandlersWhenCheckedFromCode) {
    form->SRadioButton->setChecked(true);
    EXPECT_TRUE(form->W11AdvSpinEdit->isEnabled());
    EXPECT_TRUE(form->w22Label->isEnabled());
    EXPECT_FALSE(form->VarAdvSpinEdit->isEnabled());
    form->IRadioButton->setChecked(true);
    EXPECT_TRUE(form->inbAdvSpinEdit->isEnabled());
    EXPECT_FALSE(form->W11AdvSpinEdit->isEnabled());
    // The expected values shown stay until p or n change or Run is pressed.
    EXPECT_EQ(form->f11AdvEdit->text(), "0.160000");
}

TEST_F(MainWindow, ChiSquareLabelsAreRichText) {
    EXPECT_FALSE(form->X2CheckBoxRTFLabel->RichText().isEmpty());
    EXPECT_FALSE(form->X2RTFLabel->RichText().isEmpty());
    EXPECT_EQ(form->Help1->defaultAction(), form->Help2);
    EXPECT_EQ(form->FileSaveAsItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(form->FileExitItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
}
