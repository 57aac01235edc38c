// What the window makes of a run's result: the proportions of a test that
// could test nothing, and G for samples that fit Hardy-Weinberg exactly.
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "WindowFixture.h"

using namespace zyg;
using namespace zyg::testing;

namespace {

class RunOutcome : public WindowTest {
protected:
    QTemporaryDir dir;

    QByteArray savedLine(const char* name) {
        const QString file = dir.filePath(QString::fromLatin1(name));
        env.files.answers.push_back(file);
        form->SaveButton->click();
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        return lines.size() >= 2 ? lines[1] + '\n' : QByteArray();
    }
};

}  // namespace

// Such a run used to leave an earlier run's proportions in the fields, and
// Save wrote them beside a %X2ok of 0.00; now the fields are empty and the
// file says "NA".
TEST_F(RunOutcome, ARunThatCouldTestNothingShowsAndSavesNoProportions) {
    form->NRComboBox->setText("100");
    form->RunButton->click();
    ASSERT_FALSE(form->X2_05AdvEdit->text().isEmpty());

    // Inbreeding with f = 1 and samples of one genotype: every sample is one
    // homozygote, so no sample has both alleles and X2 never has all its
    // expected counts.
    form->IRadioButton->setChecked(true);
    form->inbAdvSpinEdit->setFloatValue(1);
    form->nEdit->setText("1");
    form->NRComboBox->setText("10");
    form->RunButton->click();
    ASSERT_TRUE(saveCommandsEnabled());
    EXPECT_EQ(simulationState().x2Ok, 0);
    EXPECT_EQ(form->X2_05AdvEdit->text(), "");
    EXPECT_EQ(form->X2_01AdvEdit->text(), "");
    EXPECT_EQ(form->X2AdvEdit->text(), "");
    EXPECT_EQ(form->MessageLabel->text(), "X2 could not be computed for any replicates");
    EXPECT_EQ(savedLine("nothing.txt"),
              "Inbreeding  0.4000       0  1.0000       1       1       1       1      10      NA"
              "      NA                    0.00    0.00\r\n");
}

TEST_F(RunOutcome, ARunOfNoReplicatesMeasuresNoProportion) {
    form->GCheckBox->setChecked(true);
    form->NRComboBox->setText("50");
    form->RunButton->click();
    ASSERT_FALSE(form->G_01AdvEdit->text().isEmpty());
    form->NRComboBox->setText("0");
    form->RunButton->click();
    for (NumericDisplayField* f :
         {form->X2_05AdvEdit, form->X2_01AdvEdit, form->G_05AdvEdit, form->G_01AdvEdit})
        EXPECT_EQ(f->text(), "") << f->objectName().toStdString();
    EXPECT_TRUE(
        savedLine("none.txt").endsWith("      NA      NA      NA      NA    0.00    0.00\r\n"));
}

// Samples in exact Hardy-Weinberg proportions used to count as not tested by
// G when rounding left their G a hair below 0 (a %Gok of about 99 here).
TEST_F(RunOutcome, GTestsEverySampleThatHasAllThreeGenotypes) {
    form->GCheckBox->setChecked(true);
    form->NRComboBox->setText("20000");
    form->RunButton->click();
    EXPECT_EQ(simulationState().gOk, 20000);
    EXPECT_EQ(form->MessageLabel->text(), "");
    EXPECT_TRUE(savedLine("all.txt").endsWith("  100.00  100.00\r\n"));
}

// A long run that ends normally shows its last replicate; the live fields of
// a short run end with the same values as its result.
TEST_F(RunOutcome, TheFieldsEndWithTheLastReplicate) {
    for (const char* nrep : {"100", "101"}) {
        form->NRComboBox->setText(QString::fromLatin1(nrep));
        form->RunButton->click();
        const SimulationState& state = simulationState();
        EXPECT_EQ(form->o11AdvEdit->text().toInt(), state.lastSample.o11) << nrep;
        EXPECT_EQ(form->o22AdvEdit->text().toInt(), state.lastSample.o22) << nrep;
        const Extended x2 = state.x2Table[simulationSettings().nrep];
        EXPECT_EQ(form->X2AdvEdit->text(),
                  x2 > 0 ? QString::number(static_cast<double>(x2), 'f', 4) : QString())
            << nrep;
    }
}
