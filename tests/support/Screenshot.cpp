// Renders the main window after a run of the default study into a PNG, so
// that the fixed layout can be checked by eye:
// zygomet-screenshot <main.png> [<about.png> [<powercurve.png> <definetti.png>
// [<keptcurves.png> [<smallest.png> [<definetti-1366.png> [<definetti-1920.png>
// [<sizechart.png> [<powercurve-effect.png> [<powercurve-x.png>]]]]]]]]]].
// The study windows are shown for an inbreeding model after a run.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest/QTest>

#include "About.h"
#include "Unit5.h"
#include "charts/DeFinettiWindow.h"
#include "charts/PowerCurveWindow.h"
#include "support/Child.h"
#include "widgets/EditBox.h"
#include "widgets/NumericSpinField.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("zygomet.png");

    zyg::TForm1 form;
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) return 1;
    form.GCheckBox->setChecked(true);
    form.RunButton->click();
    QTest::qWait(50);
    if (!form.grab().save(file)) return 1;

    if (argc > 2) {
        zyg::TAboutBox about(&form);
        about.show();
        QTest::qWait(50);
        if (!about.grab().save(QString::fromLocal8Bit(argv[2]))) return 1;
    }

    if (argc > 4) {
        form.IRadioButton->click();
        form.pAdvSpinEdit->setFloatValue(0.3);
        form.inbAdvSpinEdit->setFloatValue(0.15);
        form.nEdit->setText(QStringLiteral("40"));
        form.RunButton->click();
        QTest::qWait(50);

        form.ToolsPowerCurveItemClick();
        zyg::PowerCurveWindow* curve = form.powerCurveWindow();
        using zyg::testing::child;
        child<QSpinBox>(curve, "nFrom")->setValue(10);
        child<QSpinBox>(curve, "nTo")->setValue(600);
        child<QSpinBox>(curve, "nStep")->setValue(10);
        child<QCheckBox>(curve, "exactTest")->setChecked(true);
        curve->compute();
        if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
        QTest::qWait(100);
        if (!curve->grab().save(QString::fromLocal8Bit(argv[3]))) return 1;
        if (argc > 5) {
            // Two inbreeding coefficients on one chart: the first kept, greyed.
            child<QPushButton>(curve, "keepButton")->click();
            child<QDoubleSpinBox>(curve, "f")->setValue(0.08);
            curve->compute();
            if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
            QTest::qWait(100);
            if (!curve->grab().save(QString::fromLocal8Bit(argv[5]))) return 1;
        }
        if (argc > 6) {
            curve->resize(curve->minimumSize());
            QTest::qWait(100);
            if (!curve->grab().save(QString::fromLocal8Bit(argv[6]))) return 1;
        }

        form.ToolsDeFinettiItemClick();
        zyg::DeFinettiWindow* diagram = form.deFinettiWindow();
        // A few samples of the user's (one of another n), the exact test's
        // region beside X2's, and the lines of two quality-control filters.
        child<QPlainTextEdit>(diagram, "samplesEdit")
            ->setPlainText(QStringLiteral("rs101 12 20 8\nrs102 22 6 12\nrs103 3 25 12\n"
                                          "rs104 9 12 9\n"));
        child<QComboBox>(diagram, "outlineTest1")->setCurrentIndex(4);
        child<QDoubleSpinBox>(diagram, "minAlleleFrequency")->setValue(0.05);
        child<QDoubleSpinBox>(diagram, "minExpectedCount")->setValue(1);
        diagram->draw();
        if (!QTest::qWaitFor([&] { return !diagram->computing(); }, 60000)) return 1;
        QTest::qWait(100);
        if (!diagram->grab().save(QString::fromLocal8Bit(argv[4]))) return 1;
        // The diagram at the sizes of a laptop and of a projector.
        for (int i = 7; i <= 8 && i < argc; ++i) {
            diagram->resize(i == 7 ? QSize(1366, 768) : QSize(1920, 1080));
            QTest::qWait(200);
            if (!diagram->grab().save(QString::fromLocal8Bit(argv[i]))) return 1;
        }
        // The size chart: the tests' sizes under Hardy-Weinberg against the level.
        if (argc > 9) {
            child<QPushButton>(curve, "clearKeptButton")->click();
            child<QComboBox>(curve, "model")->setCurrentIndex(0);
            child<QSpinBox>(curve, "nFrom")->setValue(10);
            child<QSpinBox>(curve, "nTo")->setValue(300);
            child<QSpinBox>(curve, "nStep")->setValue(5);
            child<QCheckBox>(curve, "gTest")->setChecked(true);
            curve->resize(1290, 690);
            curve->compute();
            if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
            QTest::qWait(100);
            if (!curve->grab().save(QString::fromLocal8Bit(argv[9]))) return 1;
        }
        // Power against the effect: f from 0 to 0.2 at n 500, solved.
        if (argc > 10) {
            child<QComboBox>(curve, "model")->setCurrentIndex(2);
            child<QDoubleSpinBox>(curve, "f")->setValue(0.1);
            curve->setAlong(zyg::findModelParameter("f"));
            child<QSpinBox>(curve, "atN")->setValue(500);
            child<QDoubleSpinBox>(curve, "effectFrom")->setValue(0);
            child<QDoubleSpinBox>(curve, "effectTo")->setValue(0.2);
            curve->compute();
            if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
            curve->solve();
            if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
            QTest::qWait(100);
            if (!curve->grab().save(QString::fromLocal8Bit(argv[10]))) return 1;
        }
        // Chromosome X: the exact test with the males beside the exact test of
        // the females alone, half the people male and the males at p 0.35.
        if (argc > 11) {
            curve->setAlong(nullptr);
            child<QDoubleSpinBox>(curve, "p")->setValue(0.3);
            child<QDoubleSpinBox>(curve, "f")->setValue(0.05);
            child<QComboBox>(curve, "locus")->setCurrentIndex(1);
            child<QCheckBox>(curve, "pMaleSameAsP")->setChecked(false);
            child<QDoubleSpinBox>(curve, "pMale")->setValue(0.35);
            child<QCheckBox>(curve, "x-exact")->setChecked(true);
            child<QCheckBox>(curve, "x2Test")->setChecked(false);
            child<QCheckBox>(curve, "gTest")->setChecked(false);
            child<QSpinBox>(curve, "nFrom")->setValue(100);
            child<QSpinBox>(curve, "nTo")->setValue(3000);
            child<QSpinBox>(curve, "nStep")->setValue(100);
            curve->compute();
            if (!QTest::qWaitFor([&] { return !curve->computing(); }, 120000)) return 1;
            QTest::qWait(100);
            if (!curve->grab().save(QString::fromLocal8Bit(argv[11]))) return 1;
        }
        // The diagram on X: the females of n 40 tested by x-exact with 40 males
        // at p 0.35 beside each, the exact test of the females alone outlined.
        if (argc > 12) {
            diagram->resize(1200, 700);
            child<QComboBox>(diagram, "locus")->setCurrentIndex(1);
            child<QDoubleSpinBox>(diagram, "pMale")->setValue(0.35);
            child<QSpinBox>(diagram, "males")->setValue(40);
            auto* test = child<QComboBox>(diagram, "test");
            test->setCurrentIndex(test->findData(static_cast<int>(zyg::HweTest::XExact)));
            child<QPlainTextEdit>(diagram, "samplesEdit")
                ->setPlainText(QStringLiteral("rs201 12 20 8 14 26\nrs202 22 6 12 30 10\n"));
            diagram->draw();
            if (!QTest::qWaitFor([&] { return !diagram->computing(); }, 60000)) return 1;
            QTest::qWait(100);
            if (!diagram->grab().save(QString::fromLocal8Bit(argv[12]))) return 1;
        }
    }
    return 0;
}
