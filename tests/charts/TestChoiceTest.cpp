// The tests and levels the study windows offer: the power curve's menu of the
// one-sided and mid-p exact tests, the diagram's list of all ten, and a level
// typed as a number or a percentage down to the thresholds of quality control.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScatterSeries>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest/QTest>
#include <memory>

#include "charts/DeFinettiWindow.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"
#include "charts/PowerCurveWindow.h"
#include "support/Child.h"
#include "support/FakeServices.h"

namespace zyg::testing {
namespace {

constexpr int kWaitMs = 20000;

StudySnapshot excessStudy(std::uint32_t n) {
    ModelSetting setting{GenotypeModel::Inbreeding, 0.4};
    setting.f = -0.3;
    StudySnapshot s;
    s.request = StudyRequest::of(setting);
    s.request.n = {n};
    s.request.tests = {HweTest::X2};
    return s;
}

template <class Window>
std::unique_ptr<Window> openWindow(const StudySnapshot& study) {
    auto window = std::make_unique<Window>([study] { return study; },
                                           QStringLiteral("/help/ZYGOMETHELP.HLP"));
    window->show();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    return window;
}

TEST(TestChoice, ThePowerCurvesMenuAddsTheOtherExactTestsToTheCurve) {
    FakeEnvironment env;
    auto window = openWindow<PowerCurveWindow>(excessStudy(100));
    auto* more = child<QToolButton>(window.get(), "moreTests");
    // Every autosomal test of the catalogue but the four check boxes.
    ASSERT_EQ(more->menu()->actions().size(),
              static_cast<qsizetype>(locusTests(LocusKind::Autosomal).size() - 4));
    // Reached by Tab after the four check boxes.
    child<QCheckBox>(window.get(), "exactTest")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), more);

    child<QAction>(more, "exact-excess")->setChecked(true);
    child<QAction>(more, "exact-deficit")->setChecked(true);
    EXPECT_TRUE(more->text().contains("(2)")) << more->text().toStdString();
    window->compute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, kWaitMs));
    ASSERT_TRUE(window->curve());
    const std::vector<HweTest>& tests = window->curve()->request.tests;
    EXPECT_EQ(tests,
              (std::vector<HweTest>{HweTest::X2, HweTest::ExactDeficit, HweTest::ExactExcess}));
    // Against an excess of heterozygotes the excess test finds it; the
    // deficit test never rejects more than its level allows.
    double excess = 0, deficit = 1;
    for (const PowerPoint& p : window->curve()->points) {
        if (p.n != 100) continue;
        if (p.test == HweTest::ExactExcess) excess = p.power;
        if (p.test == HweTest::ExactDeficit) deficit = p.power;
    }
    EXPECT_GT(excess, 0.3);
    EXPECT_LT(deficit, 0.05);
    for (HweTest t : tests)
        EXPECT_NE(
            window->chart()->series().end(),
            std::find_if(window->chart()->series().begin(), window->chart()->series().end(),
                         [&](QAbstractSeries* s) { return s->objectName() == powerSeriesName(t); }))
            << hweTestName(t);
}

TEST(TestChoice, LevelsAreTypedAsNumbersOrPercentagesAndABadOneIsNamed) {
    FakeEnvironment env;
    auto window = openWindow<PowerCurveWindow>(excessStudy(100));
    auto* level = child<QComboBox>(window.get(), "level");
    EXPECT_EQ(levelOf(level), 0.05);
    for (const auto& [text, value] : std::vector<std::pair<const char*, double>>{
             {"1e-6", 1e-6}, {"0.1%", 0.001}, {"5e-8", 5e-8}, {"1e-300", 1e-300}, {"0,01", 0.01}}) {
        level->setEditText(QString::fromLatin1(text));
        EXPECT_EQ(levelOf(level), value) << text;
    }
    level->setEditText(QStringLiteral("1e-6"));
    window->compute();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, kWaitMs));
    ASSERT_TRUE(window->curve());
    EXPECT_EQ(window->curve()->request.levels, std::vector<double>{1e-6});

    level->setEditText(QStringLiteral("often"));
    window->compute();
    EXPECT_FALSE(window->curve());
    EXPECT_EQ(QApplication::focusWidget(), level);
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("\"often\""));
    level->setEditText(QStringLiteral("0.6"));
    window->compute();
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("0.6"));
    EXPECT_EQ(QApplication::focusWidget(), level);
    showLevel(level, 0.01);
    EXPECT_EQ(level->currentText(), "1%");
}

TEST(TestChoice, TheDiagramsOneSidedRegionsAreOneSided) {
    FakeEnvironment env;
    auto window = openWindow<DeFinettiWindow>(excessStudy(40));
    auto* test = child<QComboBox>(window.get(), "test");
    ASSERT_EQ(test->count(), static_cast<int>(locusTests(LocusKind::Autosomal).size()));
    for (HweTest t : {HweTest::ExactDeficit, HweTest::ExactExcess}) {
        test->setCurrentIndex(test->findData(static_cast<int>(t)));
        window->draw();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, kWaitMs));
        ASSERT_TRUE(window->picture());
        EXPECT_EQ(window->picture()->test, t);
        std::size_t rejected = 0;
        for (const LatticePoint& lp : window->picture()->lattice) {
            if (!lp.rejected || !*lp.rejected) continue;
            ++rejected;
            // A rejected sample lies on the test's own side of its expectation.
            const double n = 40, p = (2.0 * lp.counts.o11 + lp.counts.o12) / (2 * n);
            const double expected = 2 * n * p * (1 - p);
            if (t == HweTest::ExactDeficit)
                EXPECT_LT(lp.counts.o12, expected);
            else
                EXPECT_GT(lp.counts.o12, expected);
        }
        EXPECT_GT(rejected, 0u) << hweTestName(t);
    }
}

// On X the diagram's choices hold the tests that count the males, each
// sample of n females is decided with the males expected among the males'
// count beside it, and the user's five counts with their own males; back on
// an autosome those tests are gone.
TEST(TestChoice, TheDiagramOffersTheTestsThatCountTheMalesOnXOnly) {
    FakeEnvironment env;
    auto window = openWindow<DeFinettiWindow>(excessStudy(12));
    auto* test = child<QComboBox>(window.get(), "test");
    auto* locus = child<QComboBox>(window.get(), "locus");
    const auto offered = [](QComboBox* box) {
        std::vector<HweTest> tests;
        for (int i = 0; i < box->count(); ++i)
            if (const int t = box->itemData(i).toInt(); t >= 0) tests.push_back(HweTest(t));
        return tests;
    };
    const auto draw = [&] {
        window->draw();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->computing(); }, kWaitMs));
        return window->picture().has_value();
    };
    locus->setCurrentIndex(locus->findData(static_cast<int>(LocusKind::XLinked)));
    EXPECT_EQ(offered(test), locusTests(LocusKind::XLinked));
    EXPECT_EQ(offered(child<QComboBox>(window.get(), "outlineTest1")),
              locusTests(LocusKind::XLinked));
    child<QDoubleSpinBox>(window.get(), "pMale")->setValue(0.3);
    child<QSpinBox>(window.get(), "males")->setValue(9);
    test->setCurrentIndex(test->findData(static_cast<int>(HweTest::XExact)));
    child<QPlainTextEdit>(window.get(), "samplesEdit")
        ->setPlainText(QStringLiteral("rs1 2 6 4 5 1"));
    ASSERT_TRUE(draw());
    // 9 x 0.3 rounded.
    EXPECT_TRUE(window->chart()->title().contains("males fixed at A = 3, B = 6"))
        << window->chart()->title().toStdString();
    ASSERT_EQ(window->extras().samples.size(), 1u);
    EXPECT_EQ(window->extras().samples[0].rejected,
              rejectsOnX(HweTest::XExact, GenotypeCounts{2, 6, 4}, MaleCounts{5, 1}, 0.05));

    locus->setCurrentIndex(locus->findData(static_cast<int>(LocusKind::Autosomal)));
    EXPECT_EQ(offered(test), locusTests(LocusKind::Autosomal));
    EXPECT_EQ(static_cast<HweTest>(test->currentData().toInt()), HweTest::X2);
    ASSERT_TRUE(draw());
    EXPECT_FALSE(window->picture()->males);
    EXPECT_FALSE(window->chart()->title().contains("males"));
}

}  // namespace
}  // namespace zyg::testing
