// The parameter refresh and the input handlers.
#include <QGroupBox>
#include <QLabel>

#include "WindowFixture.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

class Refresh : public WindowTest {
protected:
    void chooseSelection(double w11, double w12, double w22) {
        form->SRadioButton->setChecked(true);
        form->W11AdvSpinEdit->setFloatValue(w11);
        form->W12AdvSpinEdit->setFloatValue(w12);
        form->W22AdvSpinEdit->setFloatValue(w22);
    }
    void run() { form->RunButton->click(); }
};

const QString kZeroFrequency = QStringLiteral(
    "At least one expected relative frequency is zero, therefore the G test CANNOT be done. "
    "\rPlease change parameters, or choose the X2 test only. ");

}  // namespace

TEST_F(Refresh, SampleSizeIsClampedToTenThousandAndAcceptsZero) {
    typeInto(form->nEdit, "20000");
    EXPECT_EQ(form->nEdit->Text(), "10000");
    EXPECT_EQ(simulationSettings().n, 10000u);
    EXPECT_EQ(form->e11AdvEdit->text(), "1600.0000");
    EXPECT_EQ(form->e22AdvEdit->text(), "3600.0000");
    typeInto(form->nEdit, "10000");
    EXPECT_EQ(form->nEdit->Text(), "10000");
    typeInto(form->nEdit, "0");
    EXPECT_EQ(simulationSettings().n, 0u);
    EXPECT_EQ(form->e12AdvEdit->text(), "0.0000");
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(Refresh, UnreadableSampleSizesAreCommandErrors) {
    typeInto(form->nEdit, "");
    EXPECT_EQ(commandErrors(), QStringList{"'' is not a valid integer value."});
    clearErrors();
    QTest::keyClicks(form->nEdit, "-");
    EXPECT_EQ(commandErrors(), QStringList{"'-' is not a valid integer value."});
    clearErrors();
    QTest::keyClicks(form->nEdit, "5");
    EXPECT_EQ(commandErrors(), QStringList{"Range check error."});
    clearErrors();
    // The user's text is quoted, never used as a format.
    typeInto(form->nEdit, "%s%n");
    EXPECT_EQ(commandErrors().last(), "'%s%n' is not a valid integer value.");
}

TEST_F(Refresh, AFailedRefreshKeepsWhatItHadDone) {
    form->NRComboBox->setText("100");
    run();
    ASSERT_TRUE(form->ResultsGroupBox->isVisible());
    form->pAdvSpinEdit->setFloatValue(0.5);  // hides the results, refreshes
    typeInto(form->nEdit, "x");
    // Reading n failed: the frequencies are new, n and the expected counts are not.
    EXPECT_EQ(form->f12AdvEdit->text(), "0.500000");
    EXPECT_EQ(simulationSettings().n, 100u);
    EXPECT_TRUE(saveCommandsDisabled());
    clearErrors();
    typeInto(form->nEdit, "50");
    typeInto(form->NRComboBox->lineEdit(), "1e3");
    run();
    EXPECT_EQ(commandErrors().last(), "'1e3' is not a valid integer value.");
    EXPECT_FALSE(saveCommandsEnabled());
}

TEST_F(Refresh, ReplicatesAreClampedToFiftyThousand) {
    typeInto(form->NRComboBox->lineEdit(), "60000");
    EXPECT_EQ(form->NRComboBox->Text(), "60000");  // a change of nrep does not refresh
    form->NRComboBox->setText("60000");
    form->nEdit->setText("10");
    run();
    EXPECT_EQ(form->NRComboBox->Text(), "50000");
    EXPECT_EQ(simulationSettings().nrep, 50000u);
    EXPECT_EQ(form->ProgressBar1->maximum(), 50000);
}

TEST_F(Refresh, BothTestsOffStopsEveryRun) {
    form->X2CheckBox->setChecked(false);
    run();
    EXPECT_EQ(errors(), QStringList{"At least one statistical test (X2 or G) MUST be checked"});
    EXPECT_TRUE(saveCommandsDisabled());
    clearErrors();
    form->pAdvSpinEdit->setFloatValue(0.3);
    EXPECT_EQ(errors().size(), 1);
    // Under selection with all fitnesses zero, both messages come.
    clearErrors();
    chooseSelection(0, 0, 0);
    run();
    EXPECT_EQ(errors(), (QStringList{"At least one statistical test (X2 or G) MUST be checked",
                                     "Fitnesses cannot all be zero!"}));
}

TEST_F(Refresh, ZeroFrequenciesForbidTheGTestOnly) {
    form->GCheckBox->setChecked(true);
    form->IRadioButton->setChecked(true);
    form->inbAdvSpinEdit->setFloatValue(1);
    run();
    EXPECT_EQ(errors(), QStringList{kZeroFrequency});
    EXPECT_FALSE(form->ResultsGroupBox->isVisible());
    clearErrors();
    form->inbAdvSpinEdit->setFloatValue(0);
    run();
    EXPECT_TRUE(errors().isEmpty());
    EXPECT_EQ(form->f11AdvEdit->text(), "0.160000");  // Hardy-Weinberg's
    EXPECT_TRUE(saveCommandsEnabled());

    form->WRadioButton->setChecked(true);
    form->pAdvSpinEdit->setFloatValue(0.5);
    form->VarAdvSpinEdit->setFloatValue(0.25);
    run();
    EXPECT_EQ(errors(), QStringList{kZeroFrequency});
    clearErrors();
    form->GCheckBox->setChecked(false);
    run();
    EXPECT_TRUE(errors().isEmpty());
    EXPECT_EQ(form->o12AdvEdit->text(), "0");
}

TEST_F(Refresh, AllFitnessesZeroKeepThePreviousFrequencies) {
    form->pAdvSpinEdit->setFloatValue(0.5);
    chooseSelection(0, 0, 0);
    form->nEdit->setText("200");
    EXPECT_EQ(errors(), QStringList{"Fitnesses cannot all be zero!"});
    EXPECT_EQ(form->f12AdvEdit->text(), "0.500000");
    EXPECT_EQ(form->e12AdvEdit->text(), "100.0000");  // recomputed for the new n
}

TEST_F(Refresh, TheWahlundVarianceFollowsItsMaximum) {
    form->WRadioButton->setChecked(true);
    form->VarAdvSpinEdit->setFloatValue(0.2);
    form->HWRadioButton->setChecked(true);
    form->pAdvSpinEdit->setFloatValue(0.1);
    EXPECT_TRUE(information().isEmpty());
    form->WRadioButton->setChecked(true);
    EXPECT_EQ(information(), QStringList{"The Wahlund variance was set too large and has been "
                                         "reset to its maximum allowed value"});
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.0900");

    // Changing p while Wahlund is chosen: the variance is pulled down when
    // the p field is left, not while typing.
    clearErrors();
    form->pAdvSpinEdit->setFloatValue(0.4);
    form->VarAdvSpinEdit->setFloatValue(0.2);
    typeInto(form->pAdvSpinEdit, "0.1");
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.2000");
    EXPECT_TRUE(information().isEmpty());
    form->nEdit->setFocus();
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.0900");
    EXPECT_EQ(information().size(), 1);
}

TEST_F(Refresh, TheVarianceNeverExceedsPQOnceRounded) {
    // p.q = 0.107871...: four decimals never round the variance above it.
    form->WRadioButton->setChecked(true);
    form->pAdvSpinEdit->setFloatValue(0.123);
    form->VarAdvSpinEdit->setFloatValue(0.2);
    form->pAdvSpinEdit->setFocus();
    form->nEdit->setFocus();
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.1078");
    form->NRComboBox->setText("10");
    run();
    EXPECT_GT(simulationState().frequencies.f12, 0.0L);
}

TEST_F(Refresh, EnterInTheAlleleFrequencyFieldLimitsThenRuns) {
    typeInto(form->pAdvSpinEdit, "1.5");
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "1.5");  // still as typed
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_Return);
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "0.990000");
    EXPECT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(form->f11AdvEdit->text(), "0.980100");
}

TEST_F(Refresh, RunsNeverUseParametersOutsideTheirLimits) {
    // Ctrl+R while p still reads 1.5.
    typeInto(form->pAdvSpinEdit, "1.5");
    QTest::keyClick(form->pAdvSpinEdit, Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(form->pAdvSpinEdit->Text(), "0.990000");
    EXPECT_GE(simulationState().frequencies.f22, 0.0L);
    EXPECT_TRUE(saveCommandsEnabled());

    // Enter in the variance field while it exceeds p.q.
    form->pAdvSpinEdit->setFloatValue(0.4);
    form->WRadioButton->setChecked(true);
    typeInto(form->VarAdvSpinEdit, "0.3");
    QTest::keyClick(form->VarAdvSpinEdit, Qt::Key_Return);
    EXPECT_EQ(form->VarAdvSpinEdit->Text(), "0.2400");
    EXPECT_EQ(information().size(), 1);
    EXPECT_GE(simulationState().frequencies.f12, 0.0L);

    // Enter in the f field while f reads 5.
    form->IRadioButton->setChecked(true);
    typeInto(form->inbAdvSpinEdit, "5");
    QTest::keyClick(form->inbAdvSpinEdit, Qt::Key_Return);
    EXPECT_EQ(form->inbAdvSpinEdit->Text(), "1.0000");
    EXPECT_EQ(simulationState().frequencies.f12, 0.0L);
    EXPECT_TRUE(saveCommandsEnabled());
}

TEST_F(Refresh, ALegalSampleSizeIsNeverReplaced) {
    form->NRComboBox->setText("10");
    typeInto(form->nEdit, "5000");
    form->RunButton->setFocus();  // leaves the box
    EXPECT_EQ(form->nEdit->Text(), "5000");
    EXPECT_EQ(form->ScrollBar1->value(), 1000);
    form->RunButton->click();
    EXPECT_EQ(sampleTotal(), 5000);

    typeInto(form->nEdit, "5");
    form->X2CheckBox->setFocus();
    EXPECT_EQ(form->nEdit->Text(), "5");
    EXPECT_EQ(form->ScrollBar1->value(), 10);

    // A negative size is no sample size: the bar takes 10 and writes it back.
    form->ScrollBar1->setValue(500);
    typeInto(form->nEdit, "-3");
    form->X2CheckBox->setFocus();
    EXPECT_EQ(form->nEdit->Text(), "10");
}

TEST_F(Refresh, TheScrollBarWritesTheSampleSize) {
    form->ScrollBar1->setFocus();
    QTest::keyClick(form->ScrollBar1, Qt::Key_Right);
    EXPECT_EQ(form->nEdit->Text(), "110");
    EXPECT_EQ(form->e11AdvEdit->text(), "17.6000");
    QTest::keyClick(form->ScrollBar1, Qt::Key_PageUp);
    EXPECT_EQ(form->nEdit->Text(), "210");
    QTest::keyClick(form->ScrollBar1, Qt::Key_End);
    EXPECT_EQ(form->nEdit->Text(), "1000");
    QTest::keyClick(form->ScrollBar1, Qt::Key_Home);
    EXPECT_EQ(form->nEdit->Text(), "10");
}

TEST_F(Refresh, EnterInParameterFieldsRuns) {
    form->NRComboBox->setText("10");
    for (QWidget* field :
         std::initializer_list<QWidget*>{form->nEdit, form->NRComboBox->lineEdit()}) {
        form->pAdvSpinEdit->setFloatValue(form->pAdvSpinEdit->FloatValue() == 0.4 ? 0.5 : 0.4);
        ASSERT_TRUE(saveCommandsDisabled());
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_TRUE(saveCommandsEnabled()) << field->objectName().toStdString();
    }
    form->SRadioButton->setChecked(true);
    form->W12AdvSpinEdit->setFocus();
    QTest::keyClick(form->W12AdvSpinEdit, Qt::Key_Enter);
    EXPECT_TRUE(saveCommandsEnabled());
}

TEST_F(Refresh, ChangesWithdrawSaveAndHideStaleResults) {
    form->NRComboBox->setText("100");
    run();
    form->inbAdvSpinEdit->setFloatValue(0.5);  // disabled, but a change all the same
    EXPECT_TRUE(saveCommandsDisabled());
    EXPECT_FALSE(form->ResultsGroupBox->isVisible());
    EXPECT_FALSE(form->MessageLabel->isVisible());
    EXPECT_TRUE(form->AbsolutePanel->isVisible());
    run();
    form->nEdit->setText("99");
    EXPECT_FALSE(form->AbsolutePanel->isVisible());
}
