// The study windows as the user drives them: the Tools menu of the main
// window, the inputs taken from it, computing with Enter, bad input, cancel
// and restart, the clipboard, the exports, Esc and F1.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <map>
#include <memory>
#include <tuple>

#include "Unit5.h"
#include "charts/ChartFiles.h"
#include "charts/DeFinettiWindow.h"
#include "charts/DiagramChart.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"
#include "charts/PowerCurveWindow.h"
#include "power/Solve.h"
#include "support/Child.h"
#include "support/FakeServices.h"
#include "support/QtPrinters.h"
#include "widgets/EditBox.h"
#include "widgets/NumericDisplayField.h"
#include "widgets/NumericSpinField.h"
#include "window/WindowFixture.h"

namespace zyg::testing {
namespace {

constexpr int kWaitMs = 20000;  // every wait below ends well before this

StudySnapshot inbredStudy() {
    ModelSetting setting{GenotypeModel::Inbreeding, 0.4};
    setting.f = 0.1;
    StudySnapshot s;
    s.request = StudyRequest::of(setting);
    s.request.n = {100};
    s.request.tests = {HweTest::X2, HweTest::G};
    return s;
}

QXYSeries* seriesNamed(QChart* chart, const QString& name) {
    for (QAbstractSeries* s : chart->series())
        if (s->objectName() == name) return qobject_cast<QXYSeries*>(s);
    return nullptr;
}

// Series drawn per test: the lines whose name is a test's.
int testSeriesCount(QChart* chart) {
    int count = 0;
    for (QAbstractSeries* s : chart->series())
        for (HweTest t : {HweTest::X2, HweTest::G, HweTest::X2cc, HweTest::Exact})
            if (s->objectName() == powerSeriesName(t) && qobject_cast<QXYSeries*>(s)->count() > 0)
                ++count;
    return count;
}

// A window fits a 1366x768 screen with room for a title bar and a panel, and
// no group of inputs is squeezed below what it needs to show its controls.
void expectFitsASmallScreen(QWidget* window, const char* when) {
    constexpr int kScreenWidth = 1366, kScreenHeight = 768, kTitleAndPanel = 64;
    EXPECT_LE(window->width(), kScreenWidth) << when;
    EXPECT_LE(window->height() + kTitleAndPanel, kScreenHeight) << when;
    for (const QGroupBox* group : window->findChildren<QGroupBox*>()) {
        EXPECT_GE(group->height(), group->minimumSizeHint().height())
            << when << ": " << group->title().toStdString();
        EXPECT_GE(group->width(), group->minimumSizeHint().width())
            << when << ": " << group->title().toStdString();
    }
}

// Every group of inputs lies whole within the visible part of the inputs'
// panel: none is scrolled out of sight or shown as an empty frame.
void expectEveryGroupShownWhole(QWidget* window) {
    auto* panel = window->findChild<QAbstractScrollArea*>(QStringLiteral("inputPanel"));
    ASSERT_NE(panel, nullptr);
    const QRect visible = panel->viewport()->rect();
    for (const QGroupBox* group : window->findChildren<QGroupBox*>()) {
        const QRect at(group->mapTo(panel->viewport(), QPoint(0, 0)), group->size());
        EXPECT_TRUE(visible.contains(at)) << group->title().toStdString();
    }
}

// A shown and active study window that reads `study` as the main window.
template <class Window>
class StudyWindowTest : public ::testing::Test {
protected:
    FakeEnvironment env;
    StudySnapshot study = inbredStudy();
    std::unique_ptr<Window> window;

    void SetUp() override {
        window = std::make_unique<Window>([this] { return study; },
                                          QStringLiteral("/help/ZYGOMETHELP.HLP"));
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    bool waitIdle(int ms = kWaitMs) {
        return QTest::qWaitFor([&] { return !window->computing(); }, ms);
    }
};

using PowerCurveWindowTest = StudyWindowTest<PowerCurveWindow>;

TEST_F(PowerCurveWindowTest, OpensWithTheMainWindowsStudyAndTakesItAgainOnRequest) {
    EXPECT_EQ(child<QComboBox>(window.get(), "model")->currentIndex(), 2);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(window.get(), "p")->value(), 0.4);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(window.get(), "f")->value(), 0.1);
    EXPECT_TRUE(child<QCheckBox>(window.get(), "x2Test")->isChecked());
    EXPECT_TRUE(child<QCheckBox>(window.get(), "gTest")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(window.get(), "exactTest")->isChecked());
    EXPECT_EQ(child<QSpinBox>(window.get(), "nTo")->value(), 100);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(window.get(), "target")->value(), 0.80);
    EXPECT_EQ(child<QComboBox>(window.get(), "method")->currentText(), "Exact");
    EXPECT_FALSE(child<QDoubleSpinBox>(window.get(), "var")->isEnabled());
    EXPECT_TRUE(child<QDoubleSpinBox>(window.get(), "f")->isEnabled());

    study.request.model = GenotypeModel::Wahlund;
    study.request.var = {0.02};
    study.request.tests = {HweTest::X2};
    child<QPushButton>(window.get(), "takeButton")->click();
    EXPECT_EQ(child<QComboBox>(window.get(), "model")->currentIndex(), 1);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(window.get(), "var")->value(), 0.02);
    EXPECT_TRUE(child<QDoubleSpinBox>(window.get(), "var")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>(window.get(), "gTest")->isChecked());
}

TEST_F(PowerCurveWindowTest, EnterComputesAndTheChartTableAndStatusAgree) {
    child<QSpinBox>(window.get(), "nFrom")->setFocus();
    QTest::keyClick(child<QSpinBox>(window.get(), "nFrom"), Qt::Key_Return);
    EXPECT_TRUE(window->computing() || window->curve().has_value());
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    const StudyResult& curve = *window->curve();
    EXPECT_EQ(testSeriesCount(window->chart()), 2);
    EXPECT_EQ(child<QTableWidget>(window.get(), "table")->rowCount(),
              static_cast<int>(curve.points.size()));
    EXPECT_FALSE(child<QProgressBar>(window.get(), "progress")->isVisible());
    // The chart's values are the exact engine's.
    auto* x2 = qobject_cast<QXYSeries*>(window->chart()->series().at(0));
    for (QAbstractSeries* s : window->chart()->series())
        if (s->objectName() == "X2") x2 = qobject_cast<QXYSeries*>(s);
    const TestLevel asked[] = {{HweTest::X2, 0.05}};
    const QPointF last = x2->points().last();
    EXPECT_EQ(last.y(), exactPower(modelSettings(curve.request)[0], 100, asked)[0].power);
    EXPECT_TRUE(child<QPushButton>(window.get(), "csvButton")->isEnabled());

    // The pointer on the line names the nearest computed point.
    const QString tip = window->describePoint(HweTest::X2, 98.2);
    EXPECT_TRUE(tip.startsWith("X2, n = 100: power " + QString::number(last.y(), 'f', 4)))
        << tip.toStdString();
    EXPECT_FALSE(tip.contains("interval"));
    // Resting the pointer a few pixels beside a drawn point names that point;
    // far from every line nothing is shown.
    window->resize(1100, 800);
    QCoreApplication::processEvents();
    const QPointF drawn = window->chart()->mapToPosition(last, x2);
    const QPoint onView = child<QChartView>(window.get(), "chartView")
                              ->mapFromScene(window->chart()->mapToScene(drawn)) +
                          QPoint(4, -3);
    // (G's point lies within a pixel of X2's there, so either may be named.)
    EXPECT_TRUE(window->tipAt(onView).contains("n = 100: power"))
        << window->tipAt(onView).toStdString();
    EXPECT_EQ(window->tipAt(onView + QPoint(0, 120)), QString());
    // Resting on the line between two computed points names the nearer one,
    // however far apart the grid puts them.
    const QList<QPointF> line = x2->points();
    const QPointF before = line[line.size() - 2];
    auto onViewAt = [&](QPointF value) {
        return child<QChartView>(window.get(), "chartView")
            ->mapFromScene(window->chart()->mapToScene(window->chart()->mapToPosition(value, x2)));
    };
    const QPointF a = onViewAt(before), b = onViewAt(last);
    ASSERT_GT(b.x() - a.x(), 2 * PowerCurveWindow::kPointerReach) << "points too close to test";
    const QPoint nearBefore = (a + (b - a) * 0.3).toPoint();
    const QPoint nearLast = (a + (b - a) * 0.7).toPoint();
    EXPECT_TRUE(window->tipAt(nearBefore).contains(QStringLiteral("n = %1:").arg(before.x())))
        << window->tipAt(nearBefore).toStdString();
    EXPECT_TRUE(window->tipAt(nearLast).contains("n = 100:"))
        << window->tipAt(nearLast).toStdString();

    // Copy puts the model setting, the table, tab-separated, on the
    // clipboard, then after an empty line the results panel.
    child<QPushButton>(window.get(), "copyButton")->click();
    const QStringList parts = QGuiApplication::clipboard()->text().split(QStringLiteral("\n\n"));
    ASSERT_EQ(parts.size(), 2);
    const QStringList lines = parts[0].split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines[0], QStringLiteral("model\t") + window->chart()->title());
    EXPECT_EQ(lines.size(), child<QTableWidget>(window.get(), "table")->rowCount() + 2);
    EXPECT_EQ(lines[2].split(u'\t')[0],
              child<QTableWidget>(window.get(), "table")->item(0, 0)->text());
    const QStringList targets = parts[1].split(u'\n', Qt::SkipEmptyParts);
    auto* targetTable = child<QTableWidget>(window.get(), "targetTable");
    ASSERT_EQ(targetTable->rowCount(), 2);
    ASSERT_EQ(targets.size(), 3);
    for (int row = 0; row < 2; ++row) {
        const QStringList cells = targets[row + 1].split(u'\t');
        EXPECT_EQ(cells[0], targetTable->item(row, 0)->text());
        EXPECT_EQ(cells[1], QStringLiteral("0.8"));
        const QString shown = targetTable->item(row, 1)->text();
        EXPECT_EQ(cells[2], shown == QStringLiteral("not reached") ? QString() : shown);
    }
}

// The quality-control question in one click: the error model's fields, a
// biobank range of n on a logarithmic axis, the exact test at 1e-6.
TEST_F(PowerCurveWindowTest, GenotypingErrorModelAndALogarithmicNAxis) {
    auto* model = child<QComboBox>(window.get(), "model");
    model->setCurrentIndex(static_cast<int>(GenotypeModel::Error));
    EXPECT_EQ(model->currentText(), "Genotyping error");
    EXPECT_TRUE(child<QDoubleSpinBox>(window.get(), "hetMiscall")->isEnabled());
    EXPECT_TRUE(child<QDoubleSpinBox>(window.get(), "homMiscall")->isEnabled());
    EXPECT_FALSE(child<QDoubleSpinBox>(window.get(), "nullFrequency")->isEnabled());
    EXPECT_FALSE(child<QDoubleSpinBox>(window.get(), "f")->isEnabled());
    child<QDoubleSpinBox>(window.get(), "p")->setValue(0.2);
    child<QDoubleSpinBox>(window.get(), "hetMiscall")->setValue(0.02);
    // Three decades of n on the logarithmic axis.
    child<QSpinBox>(window.get(), "nTo")->setValue(100000);
    child<QSpinBox>(window.get(), "nFrom")->setValue(100);
    child<QSpinBox>(window.get(), "nStep")->setValue(24975);
    child<QCheckBox>(window.get(), "gTest")->setChecked(false);
    child<QCheckBox>(window.get(), "exactTest")->setChecked(true);
    showLevel(child<QComboBox>(window.get(), "level"), 1e-6);
    child<QCheckBox>(window.get(), "logN")->setChecked(true);
    child<QPushButton>(window.get(), "computeButton")->click();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    const StudyResult& curve = *window->curve();
    ASSERT_EQ(curve.request.n.size(), 5u);
    EXPECT_EQ(curve.request.n.back(), 100000u);
    const ModelSetting setting = modelSettings(curve.request)[0];
    EXPECT_EQ(setting.model, GenotypeModel::Error);
    EXPECT_EQ(setting.hetMiscall, 0.02);
    QXYSeries* exact = nullptr;
    for (QAbstractSeries* s : window->chart()->series())
        if (s->objectName() == powerSeriesName(HweTest::Exact)) exact = qobject_cast<QXYSeries*>(s);
    ASSERT_NE(exact, nullptr);
    const TestLevel asked[] = {{HweTest::Exact, 1e-6}};
    EXPECT_EQ(exact->points().first().y(), exactPower(setting, 100, asked)[0].power);
    EXPECT_EQ(exact->points().last().y(), exactPower(setting, 100000, asked)[0].power);
    auto xAxisType = [&] { return window->chart()->axes(Qt::Horizontal).first()->type(); };
    EXPECT_EQ(xAxisType(), QAbstractAxis::AxisTypeLogValue);
    // The switch redraws the same curve on a linear axis, computing nothing.
    child<QCheckBox>(window.get(), "logN")->setChecked(false);
    EXPECT_FALSE(window->computing());
    EXPECT_EQ(xAxisType(), QAbstractAxis::AxisTypeValue);

    model->setCurrentIndex(static_cast<int>(GenotypeModel::NullAllele));
    EXPECT_EQ(model->currentText(), "Null allele");
    EXPECT_TRUE(child<QDoubleSpinBox>(window.get(), "nullFrequency")->isEnabled());
    EXPECT_FALSE(child<QDoubleSpinBox>(window.get(), "hetMiscall")->isEnabled());
}

TEST_F(PowerCurveWindowTest, BadInputGivesAMessageAndNoChart) {
    struct Case {
        const char* what;
        std::function<void()> spoil;
        QWidget* input;
    };
    const Case cases[] = {
        {"from above to",
         [&] {
             child<QSpinBox>(window.get(), "nFrom")->setValue(300);
             child<QSpinBox>(window.get(), "nTo")->setValue(200);
         },
         child<QSpinBox>(window.get(), "nTo")},
        {"step 0", [&] { child<QSpinBox>(window.get(), "nStep")->setValue(0); },
         child<QSpinBox>(window.get(), "nStep")},
        {"from 0", [&] { child<QSpinBox>(window.get(), "nFrom")->setValue(0); },
         child<QSpinBox>(window.get(), "nFrom")},
        {"too many sizes",
         [&] {
             child<QSpinBox>(window.get(), "nFrom")->setValue(1);
             child<QSpinBox>(window.get(), "nTo")->setValue(10000);
             child<QSpinBox>(window.get(), "nStep")->setValue(1);
         },
         child<QSpinBox>(window.get(), "nStep")},
        {"var above p.q",
         [&] {
             child<QComboBox>(window.get(), "model")->setCurrentIndex(1);
             child<QDoubleSpinBox>(window.get(), "p")->setValue(0.1);
             child<QDoubleSpinBox>(window.get(), "var")->setValue(0.2);
         },
         child<QDoubleSpinBox>(window.get(), "var")},
        {"all fitnesses 0",
         [&] {
             child<QComboBox>(window.get(), "model")->setCurrentIndex(3);
             child<QDoubleSpinBox>(window.get(), "w11")->setValue(0);
             child<QDoubleSpinBox>(window.get(), "w12")->setValue(0);
             child<QDoubleSpinBox>(window.get(), "w22")->setValue(0);
         },
         child<QDoubleSpinBox>(window.get(), "w11")},
        {"no test",
         [&] {
             child<QCheckBox>(window.get(), "x2Test")->setChecked(false);
             child<QCheckBox>(window.get(), "gTest")->setChecked(false);
         },
         child<QCheckBox>(window.get(), "x2Test")},
    };
    for (const Case& c : cases) {
        window->takeFromMainWindow();
        window->compute();
        ASSERT_TRUE(waitIdle());
        ASSERT_TRUE(window->curve()) << c.what;
        c.spoil();
        child<QPushButton>(window.get(), "computeButton")->click();
        EXPECT_FALSE(window->computing()) << c.what;
        EXPECT_FALSE(window->curve()) << c.what;
        EXPECT_EQ(testSeriesCount(window->chart()), 0) << c.what;
        EXPECT_EQ(child<QTableWidget>(window.get(), "table")->rowCount(), 0) << c.what;
        EXPECT_FALSE(child<QLabel>(window.get(), "statusLine")->text().isEmpty()) << c.what;
        EXPECT_EQ(QApplication::focusWidget(), c.input) << c.what;
        EXPECT_FALSE(child<QPushButton>(window.get(), "csvButton")->isEnabled()) << c.what;
        EXPECT_TRUE(env.messages.shown.empty()) << c.what;
    }
}

TEST_F(PowerCurveWindowTest, CancelLeavesNoSeriesAndALateResultIsDropped) {
    child<QSpinBox>(window.get(), "nFrom")->setValue(1000);
    child<QSpinBox>(window.get(), "nTo")->setValue(10000);
    child<QSpinBox>(window.get(), "nStep")->setValue(10);
    child<QCheckBox>(window.get(), "exactTest")->setChecked(true);
    window->compute();
    ASSERT_TRUE(window->computing());
    EXPECT_TRUE(child<QPushButton>(window.get(), "cancelButton")->isVisible());
    QTest::qWait(30);
    child<QPushButton>(window.get(), "cancelButton")->click();
    EXPECT_FALSE(window->computing());
    EXPECT_FALSE(window->curve());
    EXPECT_EQ(testSeriesCount(window->chart()), 0);
    // Whatever the cancelled worker still sends is not drawn.
    QTest::qWait(300);
    EXPECT_FALSE(window->curve());
    EXPECT_EQ(testSeriesCount(window->chart()), 0);
    EXPECT_EQ(child<QTableWidget>(window.get(), "table")->rowCount(), 0);
}

TEST_F(PowerCurveWindowTest, AChangeWhileComputingRestartsWithTheNewInputs) {
    child<QSpinBox>(window.get(), "nFrom")->setValue(1000);
    child<QSpinBox>(window.get(), "nTo")->setValue(10000);
    child<QSpinBox>(window.get(), "nStep")->setValue(100);
    child<QCheckBox>(window.get(), "exactTest")->setChecked(true);
    window->compute();
    ASSERT_TRUE(window->computing());
    // The new range is small: the restarted computation ends soon.
    child<QSpinBox>(window.get(), "nFrom")->setValue(10);
    child<QSpinBox>(window.get(), "nTo")->setValue(50);
    child<QSpinBox>(window.get(), "nStep")->setValue(20);
    EXPECT_TRUE(window->computing());
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    EXPECT_EQ(window->curve()->request.n.front(), 10u);
    EXPECT_EQ(window->curve()->request.n.back(), 50u);
    EXPECT_EQ(window->curve()->points.size(), 3u * 3u);
}

TEST_F(PowerCurveWindowTest, SimulatedCurvesNameTheirSeedAndShowIntervals) {
    child<QComboBox>(window.get(), "method")->setCurrentIndex(1);
    EXPECT_TRUE(child<QSpinBox>(window.get(), "replicates")->isEnabled());
    child<QSpinBox>(window.get(), "replicates")->setValue(200);
    child<QSpinBox>(window.get(), "nFrom")->setValue(20);
    child<QSpinBox>(window.get(), "nTo")->setValue(60);
    child<QSpinBox>(window.get(), "nStep")->setValue(20);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("seed"));
    EXPECT_TRUE(child<QTableWidget>(window.get(), "table")->item(0, 5)->text().contains(" - "));
}

TEST_F(PowerCurveWindowTest, ExportsWriteTheFilesTheUserNames) {
    window->compute();
    ASSERT_TRUE(waitIdle());
    QTemporaryDir dir;
    const QString csv = dir.filePath("curve.csv"), png = dir.filePath("curve.png"),
                  svg = dir.filePath("curve.svg");
    env.files.answers = {csv, png, svg, std::nullopt};
    child<QPushButton>(window.get(), "csvButton")->click();
    child<QPushButton>(window.get(), "pngButton")->click();
    child<QPushButton>(window.get(), "svgButton")->click();
    child<QPushButton>(window.get(), "csvButton")
        ->click();  // cancelled: nothing written, nothing said
    ASSERT_EQ(env.files.requests.size(), 4u);
    EXPECT_EQ(env.files.requests[0].defaultExtension, "csv");
    EXPECT_EQ(env.files.requests[1].defaultExtension, "png");
    // Each dialog offers the name chosen last, with its own extension.
    EXPECT_EQ(env.files.requests[0].lastFileName, "");
    EXPECT_EQ(env.files.requests[1].lastFileName, dir.filePath("curve.png"));
    EXPECT_EQ(env.files.requests[3].lastFileName, dir.filePath("curve.csv"));
    EXPECT_TRUE(env.messages.shown.empty());
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    EXPECT_TRUE(rows[0].startsWith("model,p,var,f,w11,w12,w22,n,test,level,method"));
    EXPECT_EQ(rows.size() - 2, static_cast<qsizetype>(window->curve()->points.size()));
    // The results panel's figures close every row, for that row's test.
    EXPECT_TRUE(rows[0].endsWith(
        ",null,locus,males,p_male,target,first_reaching_target,stays_at_target_from"));
    for (qsizetype i = 1; i + 1 < rows.size(); ++i) {
        const QList<QByteArray> cells = rows[i].split(',');
        ASSERT_EQ(cells.size(), rows[0].split(',').size()) << i;
        const HweTest test = window->curve()->points[static_cast<std::size_t>(i - 1)].test;
        for (const auto& r : window->targetRows())
            if (r.test == test) {
                EXPECT_EQ(cells[cells.size() - 3], "0.8");
                EXPECT_EQ(cells[cells.size() - 2],
                          r.firstReaching ? QByteArray::number(*r.firstReaching) : QByteArray());
            }
    }
    EXPECT_EQ(QImage(png).size(), kDefaultChartFileSize);
    EXPECT_GT(QFile(svg).size(), 1000);

    // A file that cannot be written is reported.
    env.files.answers = {dir.filePath("missing/curve.png")};
    child<QPushButton>(window.get(), "pngButton")->click();
    ASSERT_EQ(env.messages.texts(MessageKind::Error).size(), 1);
}

TEST_F(PowerCurveWindowTest, EscClosesTheWindowAndF1OpensItsTopic) {
    child<QSpinBox>(window.get(), "nTo")->setFocus();
    QTest::keyClick(child<QSpinBox>(window.get(), "nTo"), Qt::Key_F1);
    ASSERT_EQ(env.help.requests.size(), 1u);
    EXPECT_EQ(env.help.requests[0].second, kPowerCurveHelpContext);
    QTest::keyClick(child<QSpinBox>(window.get(), "nTo"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(PowerCurveWindowTest, EveryInputIsReachedByTab) {
    child<QComboBox>(window.get(), "model")->setFocus();
    QSet<QWidget*> reached;
    for (int i = 0; i < 40; ++i) {
        reached.insert(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    child<QComboBox>(window.get(), "model")->setCurrentIndex(3);
    for (QWidget* w : std::initializer_list<QWidget*>{
             child<QDoubleSpinBox>(window.get(), "p"), child<QSpinBox>(window.get(), "nFrom"),
             child<QSpinBox>(window.get(), "nTo"), child<QSpinBox>(window.get(), "nStep"),
             child<QCheckBox>(window.get(), "x2Test"), child<QCheckBox>(window.get(), "exactTest"),
             child<QComboBox>(window.get(), "level"), child<QComboBox>(window.get(), "method"),
             child<QDoubleSpinBox>(window.get(), "target"),
             child<QPushButton>(window.get(), "computeButton"),
             child<QPushButton>(window.get(), "closeButton"),
             child<QPushButton>(window.get(), "takeButton")})
        EXPECT_TRUE(reached.contains(w)) << w->objectName().toStdString();
}

// The letters after "&" in the window's captions, each of which must be unique.
void expectUniqueMnemonics(QWidget* window) {
    std::map<QChar, QString> seen;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        const qsizetype amp = text.indexOf(u'&');
        if (amp < 0 || amp + 1 >= text.size() || text[amp + 1] == u'&') continue;
        const QChar key = text[amp + 1].toLower();
        EXPECT_FALSE(seen.count(key))
            << "Alt+" << QString(key).toStdString() << ": \"" << seen[key].toStdString()
            << "\" and \"" << text.toStdString() << "\"";
        seen[key] = text;
    }
    EXPECT_GT(seen.size(), 8u);
}

TEST_F(PowerCurveWindowTest, EveryAltLetterIsUnique) { expectUniqueMnemonics(window.get()); }

// Take from main window replaces what was typed without asking: Tab from the
// model's last field goes on to the sample sizes, never into it.
TEST_F(PowerCurveWindowTest, TabFromTheModelFieldsSkipsTakeFromMainWindow) {
    for (const char* last : {"f", "var", "w22"}) {
        const int model = std::string(last) == "f" ? 2 : std::string(last) == "var" ? 1 : 3;
        child<QComboBox>(window.get(), "model")->setCurrentIndex(model);
        QWidget* field = child<QWidget>(window.get(), last);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), child<QSpinBox>(window.get(), "nFrom")) << last;
    }
}

// Solve finds where each test reaches the target at every n of the range,
// whatever the step, and marks it on the curve drawn.
TEST_F(PowerCurveWindowTest, SolveFindsTheFirstNAtEveryNAndMarksIt) {
    child<QComboBox>(window.get(), "model")->setCurrentIndex(2);
    child<QDoubleSpinBox>(window.get(), "f")->setValue(0.4);
    child<QSpinBox>(window.get(), "nFrom")->setValue(10);
    child<QSpinBox>(window.get(), "nTo")->setValue(90);
    child<QSpinBox>(window.get(), "nStep")->setValue(40);
    child<QDoubleSpinBox>(window.get(), "target")->setValue(0.5);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    ASSERT_EQ(window->targetRows().size(), 2u);
    EXPECT_EQ(window->targetRows()[0].foundBy, "grid: n from 10 to 90 by 40");

    child<QCheckBox>(window.get(), "solveBounded")->setChecked(true);
    window->solve();
    EXPECT_TRUE(child<QProgressBar>(window.get(), "progress")->isVisible() || !window->computing());
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(window->targetRows().size(), 2u);
    const ModelSetting setting = modelSettings(window->curve()->request).front();
    for (const auto& row : window->targetRows()) {
        EXPECT_EQ(row.foundBy, "searched every n from 10 to 90");
        // The first n of 10..90 whose exact power reaches 0.5, and the n
        // from which every larger one does.
        std::optional<std::uint32_t> first, stays;
        for (std::uint32_t n = 10; n <= 90; ++n) {
            const TestLevel asked[] = {{row.test, 0.05}};
            const bool reaches = exactPower(setting, n, asked)[0].power >= 0.5;
            if (reaches && !first) first = n;
            if (reaches && !stays) stays = n;
            if (!reaches) stays.reset();
        }
        ASSERT_TRUE(first) << "the case should reach the target";
        EXPECT_EQ(row.firstReaching, first) << powerSeriesName(row.test).toStdString();
        EXPECT_EQ(row.staysFrom, stays) << powerSeriesName(row.test).toStdString();
        bool marked = false;
        for (QAbstractSeries* s : window->chart()->series())
            marked = marked || s->objectName() == reachedSeriesName(*first);
        EXPECT_TRUE(marked) << *first;
    }
    auto* panel = child<QTableWidget>(window.get(), "targetTable");
    ASSERT_EQ(panel->rowCount(), 2);
    EXPECT_EQ(testSeriesCount(window->chart()), 2);

    // A cancelled Solve leaves the curve and its results drawn.
    const auto solved = window->targetRows();
    window->solve();
    ASSERT_TRUE(window->computing());
    child<QPushButton>(window.get(), "cancelButton")->click();
    EXPECT_FALSE(window->computing());
    EXPECT_EQ(testSeriesCount(window->chart()), 2);
    EXPECT_EQ(window->targetRows().size(), solved.size());
    EXPECT_EQ(panel->item(0, 1)->text(), QString::number(*window->targetRows()[0].firstReaching));
}

// A planner's answers: Solve searches from "n from" to the engine's largest n
// and gives what the command line gives; a Compute of the same inputs keeps
// those answers (and marks them) instead of the grid's coarser ones; a target
// out of reach says the largest power found and where.
TEST_F(PowerCurveWindowTest, SolvedAnswersSurviveComputeAndMatchTheCommandLine) {
    child<QComboBox>(window.get(), "model")->setCurrentIndex(1);
    child<QDoubleSpinBox>(window.get(), "p")->setValue(0.4);
    child<QDoubleSpinBox>(window.get(), "var")->setValue(0.01);
    child<QSpinBox>(window.get(), "nFrom")->setValue(100);
    child<QSpinBox>(window.get(), "nTo")->setValue(10000);
    child<QSpinBox>(window.get(), "nStep")->setValue(100);
    child<QCheckBox>(window.get(), "x2Test")->setChecked(true);
    child<QCheckBox>(window.get(), "gTest")->setChecked(false);
    child<QCheckBox>(window.get(), "exactTest")->setChecked(true);
    window->solve();
    ASSERT_TRUE(waitIdle(120000));
    ASSERT_EQ(window->targetRows().size(), 2u);
    const auto solved = window->targetRows();
    EXPECT_EQ(solved[0].firstReaching, 4551u);
    EXPECT_EQ(solved[1].firstReaching, 4571u);
    EXPECT_EQ(solved[0].foundBy, "searched every n from 100 to 1000000");

    window->compute();
    ASSERT_TRUE(waitIdle(120000));
    ASSERT_TRUE(window->curve());
    ASSERT_EQ(window->targetRows().size(), 2u);
    for (std::size_t i = 0; i < solved.size(); ++i) {
        EXPECT_EQ(window->targetRows()[i].firstReaching, solved[i].firstReaching);
        EXPECT_TRUE(window->targetRows()[i].solved);
    }
    bool marked = false;
    for (QAbstractSeries* s : window->chart()->series())
        marked = marked || s->objectName() == reachedSeriesName(4551);
    EXPECT_TRUE(marked);

    // Another target is another study: the grid answers it.
    child<QDoubleSpinBox>(window.get(), "target")->setValue(0.5);
    window->compute();
    ASSERT_TRUE(waitIdle(120000));
    EXPECT_FALSE(window->targetRows()[0].solved);

    // Out of reach within the bounds: the largest power and its n.
    child<QSpinBox>(window.get(), "nTo")->setValue(300);
    child<QCheckBox>(window.get(), "solveBounded")->setChecked(true);
    window->solve();
    ASSERT_TRUE(waitIdle(120000));
    const auto& row = window->targetRows()[0];
    EXPECT_FALSE(row.firstReaching);
    EXPECT_GT(row.bestPower, 0.05);
    EXPECT_GE(row.bestN, 100u);
    EXPECT_LE(row.bestN, 300u);
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("at most"));
}

// Power against the effect: the x axis offers the parameters the model
// departs by; the curve's x values are the parameter's at the one n, Solve
// gives the solver's smallest value (what zygomet-power --solve f prints),
// a Compute of the same study keeps and marks it, and the copied table names
// the setting and each row's value.
TEST_F(PowerCurveWindowTest, PowerAgainstTheEffectAtOneN) {
    auto* axis = child<QComboBox>(window.get(), "xAxis");
    auto* model = child<QComboBox>(window.get(), "model");
    const std::vector<std::pair<int, QStringList>> offered = {{0, {}},
                                                              {1, {"var"}},
                                                              {3, {"w11", "w12", "w22"}},
                                                              {4, {"het-miscall", "hom-miscall"}},
                                                              {5, {"null"}},
                                                              {2, {"f"}}};
    for (const auto& [index, names] : offered) {
        model->setCurrentIndex(index);
        QStringList seen;
        for (int i = 1; i < axis->count(); ++i) seen << axis->itemText(i).section(u' ', 0, 0);
        EXPECT_EQ(seen, names) << model->currentText().toStdString();
    }
    const ModelParameter& f = *findModelParameter("f");
    window->setAlong(&f);
    EXPECT_FALSE(child<QSpinBox>(window.get(), "nFrom")->isEnabled());
    child<QSpinBox>(window.get(), "atN")->setValue(500);
    child<QDoubleSpinBox>(window.get(), "effectFrom")->setValue(0);
    child<QDoubleSpinBox>(window.get(), "effectTo")->setValue(0.2);
    child<QSpinBox>(window.get(), "effectPoints")->setValue(21);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    const QList<QPointF> line =
        seriesNamed(window->chart(), powerSeriesName(HweTest::X2))->points();
    ASSERT_EQ(line.size(), 21);
    EXPECT_DOUBLE_EQ(line.front().x(), 0);
    EXPECT_DOUBLE_EQ(line[10].x(), 0.1);
    EXPECT_DOUBLE_EQ(line.back().x(), 0.2);
    EXPECT_EQ(child<QTableWidget>(window.get(), "table")->horizontalHeaderItem(0)->text(), "f");

    window->solve();
    ASSERT_TRUE(waitIdle(120000));
    const auto solved = window->targetRows();
    ASSERT_EQ(solved.size(), 2u);
    ModelSetting setting = window->curve()->points.front().model;
    setting.f = 0.2;
    for (const auto& row : solved) {
        const SolveAnswer a = solveParameter(setting, f, 500, {row.test, 0.05}, 0.8);
        ASSERT_TRUE(a.value);
        EXPECT_EQ(row.effect, a.value) << powerSeriesName(row.test).toStdString();
    }
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(window->targetRows().size(), 2u);
    EXPECT_TRUE(window->targetRows()[0].solved);
    EXPECT_NE(seriesNamed(window->chart(), reachedSeriesName(f, *solved[0].effect)), nullptr);

    child<QPushButton>(window.get(), "copyButton")->click();
    const QStringList lines = QGuiApplication::clipboard()->text().split(u'\n');
    EXPECT_TRUE(lines[0].startsWith("model\tPower against f: Inbreeding, p = 0.4, n = 500"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("f\tn\t"));
    EXPECT_TRUE(lines[2].startsWith("0\t500\t"));
}

// A wrong range along a parameter names its field and draws nothing: both
// ends equal, or an end the model refuses at this p (f below -q/p).
TEST_F(PowerCurveWindowTest, AWrongEffectRangeNamesItsField) {
    child<QDoubleSpinBox>(window.get(), "p")->setValue(0.3);
    window->setAlong(findModelParameter("f"));
    const std::vector<std::tuple<double, double, const char*>> cases = {
        {0.1, 0.1, "effectTo"}, {-0.9, 0.2, "effectFrom"}, {0, 0.2, nullptr}};
    for (const auto& [from, to, field] : cases) {
        child<QDoubleSpinBox>(window.get(), "effectFrom")->setValue(from);
        child<QDoubleSpinBox>(window.get(), "effectTo")->setValue(to);
        window->compute();
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(window->curve().has_value(), field == nullptr) << from << " to " << to;
        if (field) {
            EXPECT_EQ(QApplication::focusWidget(), child<QDoubleSpinBox>(window.get(), field));
        }
    }
}

// A range over decades: an even step suggests log-spaced sizes; these are
// whole, increasing, end at both bounds and are evenly spread in log n.
TEST_F(PowerCurveWindowTest, LogSpacedSizesSpanTheRangeEvenlyInLogN) {
    child<QSpinBox>(window.get(), "nFrom")->setValue(10);
    child<QSpinBox>(window.get(), "nTo")->setValue(10000);
    child<QSpinBox>(window.get(), "nStep")->setValue(10);
    window->compute();
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("log-spaced"));
    ASSERT_TRUE(waitIdle());
    child<QCheckBox>(window.get(), "logSpaced")->setChecked(true);
    EXPECT_FALSE(child<QSpinBox>(window.get(), "nStep")->isEnabled());
    EXPECT_TRUE(child<QCheckBox>(window.get(), "logN")->isChecked());
    window->compute();
    ASSERT_TRUE(waitIdle());
    const std::vector<std::uint32_t>& n = window->curve()->request.n;
    ASSERT_GT(n.size(), 200u);
    EXPECT_LE(n.size(), 301u);
    EXPECT_EQ(n.front(), 10u);
    EXPECT_EQ(n.back(), 10000u);
    for (std::size_t i = 1; i < n.size(); ++i) {
        ASSERT_GT(n[i], n[i - 1]);
        if (n[i - 1] >= 1000) {
            EXPECT_NEAR(std::log10(double(n[i]) / n[i - 1]), 0.01, 0.001);
        }
    }
    EXPECT_TRUE(window->targetRows()[0].foundBy.contains("log-spaced"));
}

// Keep curve leaves the curves drawn on the chart, greyed and named by their
// model setting, while the next model's curves are computed; Clear kept
// takes them away.
TEST_F(PowerCurveWindowTest, KeptCurvesStayWhileTheModelChanges) {
    EXPECT_FALSE(child<QPushButton>(window.get(), "keepButton")->isEnabled());
    window->compute();
    ASSERT_TRUE(waitIdle());
    const std::vector<PowerPoint> first = window->curve()->points;
    child<QPushButton>(window.get(), "keepButton")->click();
    child<QDoubleSpinBox>(window.get(), "f")->setValue(0.25);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(window->kept().size(), 1u);
    EXPECT_TRUE(window->kept()[0].label.contains("f = 0.1"))
        << window->kept()[0].label.toStdString();
    for (HweTest t : {HweTest::X2, HweTest::G}) {
        QXYSeries* kept = nullptr;
        for (QAbstractSeries* s : window->chart()->series())
            if (s->objectName() == keptSeriesName(window->kept()[0], t))
                kept = qobject_cast<QXYSeries*>(s);
        ASSERT_NE(kept, nullptr);
        QList<QPointF> expected;
        for (const PowerPoint& pt : first)
            if (pt.test == t) expected.append(QPointF(pt.n, pt.power));
        EXPECT_EQ(kept->points(), expected);
    }
    EXPECT_EQ(testSeriesCount(window->chart()), 2);
    // The same curves are kept once; more than kMaxKept drop the oldest.
    child<QPushButton>(window.get(), "keepButton")->click();
    child<QPushButton>(window.get(), "keepButton")->click();
    EXPECT_EQ(window->kept().size(), 2u);

    child<QPushButton>(window.get(), "clearKeptButton")->click();
    EXPECT_TRUE(window->kept().empty());
    for (QAbstractSeries* s : window->chart()->series())
        EXPECT_FALSE(s->name().startsWith("Kept")) << s->name().toStdString();
    EXPECT_EQ(testSeriesCount(window->chart()), 2);
}

// On X the request carries the locus group and the tests that count the
// males; the curve's numbers are runStudy's for that request; the legend and
// the copied table name whose they are; a model with no X form is refused.
TEST_F(PowerCurveWindowTest, AnXLinkedCurveIsTheStudyOfItsRequest) {
    auto* locus = child<QComboBox>(window.get(), "locus");
    auto* pMale = child<QDoubleSpinBox>(window.get(), "pMale");
    child<QCheckBox>(window.get(), "x-exact")->setChecked(true);  // chosen on X only
    locus->setCurrentIndex(1);
    EXPECT_DOUBLE_EQ(pMale->value(), 0.4);  // the females' p
    child<QCheckBox>(window.get(), "pMaleSameAsP")->setChecked(false);
    pMale->setValue(0.3);
    child<QDoubleSpinBox>(window.get(), "males")->setValue(0.4);
    child<QSpinBox>(window.get(), "nFrom")->setValue(20);
    child<QSpinBox>(window.get(), "nTo")->setValue(60);
    child<QSpinBox>(window.get(), "nStep")->setValue(20);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    StudyRequest expected = StudyRequest::of({GenotypeModel::Inbreeding, 0.4, 0, 0.1});
    expected.locus = LocusKind::XLinked;
    expected.males = 0.4;
    expected.pMale = {0.3};
    expected.n = {20, 40, 60};
    expected.tests = {HweTest::X2, HweTest::G, HweTest::XExact};
    expected.levels = {0.05};
    const std::vector<PowerPoint> computed = runStudy(expected);
    ASSERT_EQ(window->curve()->points.size(), computed.size());
    for (const PowerPoint& pt : computed)
        EXPECT_TRUE(seriesNamed(window->chart(), powerSeriesName(pt.test))
                        ->points()
                        .contains(QPointF(pt.n, pt.power)))
            << testLabel(pt.test) << " at n " << pt.n;
    EXPECT_EQ(seriesNamed(window->chart(), "G")->name(), "G (females)");
    child<QPushButton>(window.get(), "copyButton")->click();
    const QStringList lines = QGuiApplication::clipboard()->text().split(u'\n');
    EXPECT_TRUE(lines[0].contains("X-linked, males 0.4, p-male = 0.3")) << lines[0].toStdString();
    EXPECT_TRUE(lines[2].endsWith("\tx\t12\t8\t0.3")) << lines[2].toStdString();

    locus->setCurrentIndex(0);
    window->compute();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(window->curve()->request.tests.size(), 2u);
    locus->setCurrentIndex(1);
    child<QComboBox>(window.get(), "model")->setCurrentIndex(3);
    window->compute();
    EXPECT_FALSE(window->curve());
    EXPECT_EQ(QApplication::focusWidget(), locus);
}

// p-male is an x axis on X only, from the females' p; Solve along it gives
// the solver's smallest sex difference reaching the target.
TEST_F(PowerCurveWindowTest, SolveOnXForTheMalesAlleleFrequency) {
    const ModelParameter& pm = *findModelParameter("p-male");
    window->setAlong(&pm);
    EXPECT_FALSE(window->along());
    child<QComboBox>(window.get(), "locus")->setCurrentIndex(1);
    window->setAlong(&pm);
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(window.get(), "effectFrom")->value(), 0.4);
    child<QDoubleSpinBox>(window.get(), "effectTo")->setValue(0.6);
    child<QSpinBox>(window.get(), "atN")->setValue(400);
    child<QCheckBox>(window.get(), "x2Test")->setChecked(false);
    child<QCheckBox>(window.get(), "gTest")->setChecked(false);
    child<QCheckBox>(window.get(), "x-exact")->setChecked(true);
    window->compute();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->curve());
    window->solve();
    ASSERT_TRUE(waitIdle(120000));
    ModelSetting setting = window->curve()->points.front().model;
    setting.pMale = 0.6;
    const SolveAnswer a = solveParameter(setting, pm, 400, {HweTest::XExact, 0.05}, 0.8);
    ASSERT_TRUE(a.value);
    EXPECT_EQ(window->targetRows().at(0).effect, a.value);
}

class DeFinettiWindowTest : public StudyWindowTest<DeFinettiWindow> {
protected:
    void SetUp() override {
        study.request.n = {20};
        study.lastSample = GenotypeCounts{3, 6, 11};
        StudyWindowTest::SetUp();
    }
    QXYSeries* series(const QString& name) {
        for (QAbstractSeries* s : window->chart()->series())
            if (s->objectName() == name) return qobject_cast<QXYSeries*>(s);
        return nullptr;
    }
};

TEST_F(DeFinettiWindowTest, EnterDrawsTheLatticeTheModelAndTheLastSample) {
    EXPECT_EQ(child<QSpinBox>(window.get(), "n")->value(), 20);
    child<QSpinBox>(window.get(), "n")->setFocus();
    QTest::keyClick(child<QSpinBox>(window.get(), "n"), Qt::Key_Enter);
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    const int lattice = series(kAcceptedSeriesName)->count() +
                        series(kRejectedSeriesName)->count() +
                        series(kUntestableSeriesName)->count();
    EXPECT_EQ(lattice, 21 * 22 / 2);
    ASSERT_NE(series(kLastSampleSeriesName), nullptr);
    EXPECT_EQ(series(kModelSeriesName)->count(), 1);
    EXPECT_TRUE(child<QPushButton>(window.get(), "pngButton")->isEnabled());
}

// The acceptance region belongs to the chosen n; the main window's last
// sample, drawn on the region of another n, would seem accepted or rejected
// by a test it was never put to.
TEST_F(DeFinettiWindowTest, TheNullAllelesModelPointIsItsObservedFrequencies) {
    child<QComboBox>(window.get(), "model")
        ->setCurrentIndex(static_cast<int>(GenotypeModel::NullAllele));
    child<QDoubleSpinBox>(window.get(), "p")->setValue(0.5);
    child<QDoubleSpinBox>(window.get(), "nullFrequency")->setValue(0.2);
    child<QSpinBox>(window.get(), "n")->setFocus();
    QTest::keyClick(child<QSpinBox>(window.get(), "n"), Qt::Key_Enter);
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    ModelSetting null{GenotypeModel::NullAllele, 0.5};
    null.nullFrequency = 0.2;
    const GenotypeFrequencies fr = frequenciesOf(null);
    const TrianglePoint want = trianglePoint(
        static_cast<double>(fr.f11), static_cast<double>(fr.f12), static_cast<double>(fr.f22));
    ASSERT_EQ(series(kModelSeriesName)->count(), 1);
    EXPECT_DOUBLE_EQ(series(kModelSeriesName)->at(0).x(), want.x);
    EXPECT_DOUBLE_EQ(series(kModelSeriesName)->at(0).y(), want.y);
    // A deficit of heterozygotes: below the Hardy-Weinberg parabola's 2pq.
    EXPECT_LT(static_cast<double>(fr.f12), 0.5);
}

TEST_F(DeFinettiWindowTest, TheLastSampleIsDrawnOnlyOnTheRegionOfItsOwnN) {
    child<QSpinBox>(window.get(), "n")->setValue(30);
    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    EXPECT_FALSE(window->picture()->lastSample);
    EXPECT_EQ(series(kLastSampleSeriesName), nullptr);
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("n = 20"))
        << child<QLabel>(window.get(), "statusLine")->text().toStdString();

    child<QSpinBox>(window.get(), "n")->setValue(20);
    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    EXPECT_TRUE(window->picture()->lastSample);
    EXPECT_NE(series(kLastSampleSeriesName), nullptr);
}

TEST_F(DeFinettiWindowTest, BadInputGivesAMessageAndNoDiagram) {
    window->draw();
    ASSERT_TRUE(waitIdle());
    child<QSpinBox>(window.get(), "n")->setValue(static_cast<int>(kMaxDiagramSampleSize) + 1);
    child<QPushButton>(window.get(), "drawButton")->click();
    EXPECT_FALSE(window->picture());
    EXPECT_EQ(series(kAcceptedSeriesName)->count(), 0);
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("300"));
    EXPECT_EQ(QApplication::focusWidget(), child<QSpinBox>(window.get(), "n"));
    EXPECT_FALSE(child<QPushButton>(window.get(), "pngButton")->isEnabled());

    child<QSpinBox>(window.get(), "n")->setValue(20);
    child<QComboBox>(window.get(), "model")->setCurrentIndex(3);
    child<QDoubleSpinBox>(window.get(), "w11")->setValue(0);
    child<QDoubleSpinBox>(window.get(), "w12")->setValue(0);
    child<QDoubleSpinBox>(window.get(), "w22")->setValue(0);
    child<QPushButton>(window.get(), "drawButton")->click();
    EXPECT_FALSE(window->picture());
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().startsWith("The fitnesses"))
        << child<QLabel>(window.get(), "statusLine")->text().toStdString();
}

TEST_F(DeFinettiWindowTest, ExportsWritePictures) {
    window->draw();
    ASSERT_TRUE(waitIdle());
    QTemporaryDir dir;
    env.files.answers = {dir.filePath("d.png"), dir.filePath("d.svg")};
    child<QPushButton>(window.get(), "pngButton")->click();
    child<QPushButton>(window.get(), "svgButton")->click();
    EXPECT_FALSE(QImage(dir.filePath("d.png")).isNull());
    EXPECT_GT(QFile(dir.filePath("d.svg")).size(), 1000);
    EXPECT_TRUE(env.messages.shown.empty());
}

TEST_F(DeFinettiWindowTest, EveryAltLetterIsUnique) { expectUniqueMnemonics(window.get()); }

// The largest lattice shows its progress and can be cancelled: nothing of it
// is drawn, and Draw starts again.
TEST_F(DeFinettiWindowTest, ALongDrawingShowsProgressAndCanBeCancelled) {
    child<QSpinBox>(window.get(), "n")->setValue(static_cast<int>(kMaxDiagramSampleSize));
    child<QComboBox>(window.get(), "test")->setCurrentIndex(3);  // exact
    child<QComboBox>(window.get(), "outlineTest1")->setCurrentIndex(2);
    window->draw();
    ASSERT_TRUE(window->computing());
    EXPECT_TRUE(child<QProgressBar>(window.get(), "progress")->isVisible());
    EXPECT_TRUE(child<QPushButton>(window.get(), "cancelButton")->isVisible());
    child<QPushButton>(window.get(), "cancelButton")->click();
    EXPECT_FALSE(window->computing());
    EXPECT_FALSE(child<QProgressBar>(window.get(), "progress")->isVisible());
    QTest::qWait(300);  // a late result would arrive meanwhile
    EXPECT_FALSE(window->picture());
    EXPECT_EQ(series(kAcceptedSeriesName)->count(), 0);
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().startsWith("Cancelled"));

    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    EXPECT_EQ(window->picture()->lattice.size(), 301u * 302 / 2);
    EXPECT_GT(child<QProgressBar>(window.get(), "progress")->value(), 0);
}

// The user's samples: each drawn where its genotype frequencies lie, in the
// series of the chosen test's decision on it and named on hover; a sample
// of another n brings its own n's region; one too large is listed instead.
// On a projector: the diagram and its squares grow with the window, the
// legend's keys keep a readable size at n 300, and a long report of samples
// not drawn stays within two lines of status.
TEST_F(DeFinettiWindowTest, TheDiagramGrowsWithTheWindowAndItsLegendStaysReadable) {
    child<QSpinBox>(window.get(), "n")->setValue(300);
    QString samples;
    for (int i = 0; i < 20; ++i)
        samples += QStringLiteral("rs%1 500 1000 %2\n").arg(i).arg(500 + i);
    child<QPlainTextEdit>(window.get(), "samplesEdit")->setPlainText(samples);
    window->resize(1366, 768);
    window->draw();
    ASSERT_TRUE(waitIdle(60000));
    ASSERT_TRUE(window->picture());
    QCoreApplication::processEvents();
    const QRectF small = window->chart()->plotArea();
    const double smallSquare =
        qobject_cast<QScatterSeries*>(series(kAcceptedSeriesName))->markerSize();
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(series(kAcceptedSeriesName)),
                               static_cast<QAbstractSeries*>(series(kRejectedSeriesName))})
        for (QLegendMarker* m : window->chart()->legend()->markers(s))
            EXPECT_EQ(m->shape(), QLegend::MarkerShapeRectangle);  // the legend's own size
    auto* status = child<QLabel>(window.get(), "statusLine");
    EXPECT_LE(status->height(), 2 * status->fontMetrics().lineSpacing() + 2);
    EXPECT_EQ(status->toolTip(), status->text());

    window->resize(1920, 1080);
    QTest::qWait(50);
    QCoreApplication::processEvents();
    EXPECT_GT(window->chart()->plotArea().height(), small.height() * 1.2);
    EXPECT_GT(qobject_cast<QScatterSeries*>(series(kAcceptedSeriesName))->markerSize(),
              smallSquare);
}

TEST_F(DeFinettiWindowTest, TheUsersSamplesAreDrawnByDecisionAndNamedOnHover) {
    child<QSpinBox>(window.get(), "n")->setValue(20);
    child<QPlainTextEdit>(window.get(), "samplesEdit")
        ->setPlainText(QStringLiteral("# marker AA AB BB\n"
                                      "rs1 5 10 5\n"
                                      "rs2,12,0,8\n"
                                      "10\t5\t1\n"
                                      "huge 200 200 200\n"));
    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_TRUE(window->picture());
    const auto& samples = window->extras().samples;
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].name, "rs1");
    EXPECT_EQ(samples[2].name, "line 4");
    for (const DiagramSample& d : samples)
        EXPECT_EQ(d.rejected, rejects(HweTest::X2, d.counts, 0.05)) << d.name.toStdString();
    ASSERT_NE(series(kSamplesRejectedName), nullptr);  // rs2: no heterozygotes
    ASSERT_NE(series(kSamplesAcceptedName), nullptr);  // rs1: at Hardy-Weinberg
    const TrianglePoint rs2 = trianglePoint(GenotypeCounts{12, 0, 8});
    EXPECT_TRUE(series(kSamplesRejectedName)->points().contains(QPointF(rs2.x, rs2.y)));
    // The sample of n 16 is drawn with the region of n 16; "huge" is listed.
    QXYSeries* other = series(outlineSeriesName(HweTest::X2, 16));
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->points(), regionOutline(*latticeDecisions(16, HweTest::X2, 0.05)));
    const QString status = child<QLabel>(window.get(), "statusLine")->text();
    EXPECT_TRUE(status.contains("huge (n = 600)")) << status.toStdString();

    window->resize(1100, 800);
    QCoreApplication::processEvents();
    const QPointF drawn =
        window->chart()->mapToPosition(QPointF(rs2.x, rs2.y), series(kSamplesRejectedName));
    const QPoint onView = child<QChartView>(window.get(), "chartView")
                              ->mapFromScene(window->chart()->mapToScene(drawn)) +
                          QPoint(3, 2);
    const QString tip = window->tipAt(onView);
    EXPECT_TRUE(tip.startsWith("rs2: AA 12, AB 0, BB 8 (n = 20)")) << tip.toStdString();
    EXPECT_TRUE(tip.endsWith("rejected")) << tip.toStdString();
    EXPECT_EQ(window->tipAt(onView + QPoint(0, -200)), QString());
}

// On X the picture carries the males' allele frequency and the chart draws
// them on the base; back on an autosome neither is there.
TEST_F(DeFinettiWindowTest, AnXLinkedLocusDrawsTheMalesOnTheBase) {
    auto* locus = child<QComboBox>(window.get(), "locus");
    auto* pMale = child<QDoubleSpinBox>(window.get(), "pMale");
    EXPECT_FALSE(pMale->isEnabled());
    for (const bool x : {true, false}) {
        locus->setCurrentIndex(
            locus->findData(static_cast<int>(x ? LocusKind::XLinked : LocusKind::Autosomal)));
        EXPECT_EQ(pMale->isEnabled(), x);
        pMale->setValue(0.35);
        window->draw();
        ASSERT_TRUE(waitIdle());
        ASSERT_TRUE(window->picture());
        EXPECT_EQ(window->picture()->pMale, x ? std::optional<double>(0.35) : std::nullopt);
        QXYSeries* males = series(kModelMalesSeriesName);
        ASSERT_EQ(males != nullptr, x);
        if (x) {
            EXPECT_EQ(males->points(), QList<QPointF>({QPointF(0.65, 0)}));
        }
    }
    // A model with no X-linked form is refused on X, with the focus on the locus.
    locus->setCurrentIndex(locus->findData(static_cast<int>(LocusKind::XLinked)));
    child<QComboBox>(window.get(), "model")
        ->setCurrentIndex(child<QComboBox>(window.get(), "model")->findText("Natural Selection"));
    window->draw();
    EXPECT_FALSE(window->picture());
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("X-linked form"))
        << child<QLabel>(window.get(), "statusLine")->text().toStdString();
    EXPECT_TRUE(locus->hasFocus() || !window->isActiveWindow());
}

// Five counts are an X-linked sample: its males lie on the base at their
// allele frequency (alone when there are no females, and named there on
// hover); a bad five-count line stops the drawing as any bad line does.
TEST_F(DeFinettiWindowTest, FiveCountSamplesDrawTheirMalesOnTheBase) {
    auto* edit = child<QPlainTextEdit>(window.get(), "samplesEdit");
    edit->setPlainText(QStringLiteral("rs1 5 10 5 6 4\nmales 0 0 0 3 1\nrs3 5 10 5\n"));
    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(window->extras().samples.size(), 3u);
    QXYSeries* males = series(kSamplesMalesName);
    ASSERT_NE(males, nullptr);
    EXPECT_EQ(males->points(), QList<QPointF>({QPointF(0.4, 0), QPointF(0.25, 0)}));
    window->resize(1100, 800);
    QCoreApplication::processEvents();
    const QPointF drawn = window->chart()->mapToPosition(QPointF(0.25, 0), males);
    const QString tip = window->tipAt(child<QChartView>(window.get(), "chartView")
                                          ->mapFromScene(window->chart()->mapToScene(drawn)));
    EXPECT_TRUE(tip.startsWith("males: AA 0, AB 0, BB 0 (n = 0); males A 3, B 1"))
        << tip.toStdString();
    for (const auto& [line, why] :
         {std::pair{"rs4 5 10 5 -1 2", "negative"}, std::pair{"3 1", "fewer than three counts"}}) {
        edit->setPlainText(QString::fromLatin1(line));
        window->draw();
        EXPECT_FALSE(window->picture()) << line;
        EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains(why)) << line;
    }
}

TEST_F(DeFinettiWindowTest, SamplesComeFromAFileAndABadLineIsNamed) {
    QTemporaryDir dir;
    QFile file(dir.filePath("samples.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("rs7 4 8 8\nrs8 4 x 8\n");
    file.close();
    env.files.openAnswers = {file.fileName(), std::nullopt};
    child<QPushButton>(window.get(), "openSamplesButton")->click();
    EXPECT_TRUE(child<QPlainTextEdit>(window.get(), "samplesEdit")->toPlainText().contains("rs8"));
    window->draw();
    EXPECT_FALSE(window->computing());
    EXPECT_FALSE(window->picture());
    EXPECT_TRUE(child<QLabel>(window.get(), "statusLine")->text().contains("line 2"))
        << child<QLabel>(window.get(), "statusLine")->text().toStdString();
    EXPECT_EQ(QApplication::focusWidget(), child<QPlainTextEdit>(window.get(), "samplesEdit"));
    // A cancelled dialog leaves the field as it was.
    child<QPushButton>(window.get(), "openSamplesButton")->click();
    EXPECT_TRUE(child<QPlainTextEdit>(window.get(), "samplesEdit")->toPlainText().contains("rs8"));
}

// A file with a line far longer than any sample's is not loaded (laying out
// such a line froze the window for minutes), and a bad line is quoted only
// as far as the status line can show it.
TEST_F(DeFinettiWindowTest, ALongLineIsRefusedAndABadLineIsQuotedShort) {
    QTemporaryDir dir;
    QFile file(dir.filePath("long.txt"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("rs1 4 8 8\n" + QByteArray(1000000, '7') + "\n");
    file.close();
    auto* box = child<QPlainTextEdit>(window.get(), "samplesEdit");
    QTest::keyClick(window.get(), Qt::Key_Y, Qt::AltModifier);  // the box's group
    EXPECT_EQ(QApplication::focusWidget(), box);
    box->setPlainText("rs9 1 2 3");
    env.files.openAnswers = {file.fileName()};
    child<QPushButton>(window.get(), "openSamplesButton")->click();
    EXPECT_EQ(box->toPlainText(), "rs9 1 2 3");
    const QString status = child<QLabel>(window.get(), "statusLine")->text();
    EXPECT_TRUE(status.contains("line 2: longer than 1000 characters")) << status.toStdString();

    box->setPlainText("rs1 4 8 8\nrs2 " + QString(900, u'9') + " x 1");
    window->draw();
    const QString bad = child<QLabel>(window.get(), "statusLine")->text();
    EXPECT_TRUE(bad.contains("line 2 (\"rs2 999")) << bad.toStdString();
    EXPECT_LT(bad.size(), 250) << bad.toStdString();
}

// Other tests' regions are drawn as outlines over the chosen test's lattice,
// with the lines of a minimum allele frequency and a minimum expected count.
TEST_F(DeFinettiWindowTest, OtherTestsRegionsAndFilterLinesAreDrawn) {
    child<QSpinBox>(window.get(), "n")->setValue(30);
    child<QComboBox>(window.get(), "outlineTest1")->setCurrentIndex(4);  // exact
    child<QComboBox>(window.get(), "outlineTest2")->setCurrentIndex(2);  // G
    child<QComboBox>(window.get(), "outlineTest3")->setCurrentIndex(1);  // X2, the chosen one
    child<QDoubleSpinBox>(window.get(), "minAlleleFrequency")->setValue(0.1);
    child<QDoubleSpinBox>(window.get(), "minExpectedCount")->setValue(1.2);
    window->draw();
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(window->extras().outlines.size(), 2u);  // the chosen test's is the lattice
    for (HweTest t : {HweTest::Exact, HweTest::G}) {
        QXYSeries* outline = series(outlineSeriesName(t, 30));
        ASSERT_NE(outline, nullptr) << hweTestName(t);
        EXPECT_EQ(outline->points(), regionOutline(*latticeDecisions(30, t, 0.05)));
    }
    std::vector<double> maf, expected;
    for (QAbstractSeries* s : window->chart()->series()) {
        auto* line = qobject_cast<QXYSeries*>(s);
        if (s->objectName().startsWith(kMinAlleleFrequencyName)) maf.push_back(line->at(0).x());
        if (s->objectName().startsWith(kMinExpectedCountName)) expected.push_back(line->at(0).x());
    }
    ASSERT_EQ(maf.size(), 2u);
    EXPECT_DOUBLE_EQ(maf[0], 0.1);
    EXPECT_DOUBLE_EQ(maf[1], 0.9);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_DOUBLE_EQ(expected[0], 0.2);  // 30 q^2 = 1.2
    EXPECT_DOUBLE_EQ(expected[1], 0.8);
}

TEST_F(PowerCurveWindowTest, FitsASmallScreenAndKeepsEveryGroupReadable) {
    expectFitsASmallScreen(window.get(), "as opened");
    window->compute();
    ASSERT_TRUE(waitIdle());
    QCoreApplication::processEvents();
    expectFitsASmallScreen(window.get(), "after computing");
    // Made as small as it goes, every group of inputs is still shown whole.
    window->resize(500, 400);
    QCoreApplication::processEvents();
    expectFitsASmallScreen(window.get(), "at its smallest");
    expectEveryGroupShownWhole(window.get());
    EXPECT_LE(window->minimumSizeHint().width(), 1000);
}

TEST_F(DeFinettiWindowTest, FitsASmallScreenAndKeepsEveryGroupReadable) {
    expectFitsASmallScreen(window.get(), "as opened");
    window->draw();
    ASSERT_TRUE(waitIdle());
    QCoreApplication::processEvents();
    expectFitsASmallScreen(window.get(), "after drawing");
    window->resize(500, 400);
    QCoreApplication::processEvents();
    expectFitsASmallScreen(window.get(), "at its smallest");
    expectEveryGroupShownWhole(window.get());
}

TEST_F(DeFinettiWindowTest, EscClosesTheWindowOnly) {
    QWidget owner;
    owner.show();
    child<QSpinBox>(window.get(), "n")->setFocus();
    QTest::keyClick(child<QSpinBox>(window.get(), "n"), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(owner.isVisible());
}

// ---- The main window's Tools menu ----

// The main window, shown and active, with every platform service faked.
using ToolsMenu = WindowTest;

TEST_F(ToolsMenu, SitsBetweenFileAndHelpWithoutTakingAnAcceleratorAway) {
    const QList<QAction*> menus = form->MainMenu1->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&Tools");
    EXPECT_EQ(menus[2]->text(), "&Help");
    EXPECT_EQ(form->ToolsPowerCurveItem->text(), "&Power Curve...");
    EXPECT_EQ(form->ToolsDeFinettiItem->text(), "&De Finetti Diagram...");
    // No other caption of the window uses Alt+T.
    for (QWidget* w : form->findChildren<QWidget*>()) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
        EXPECT_FALSE(text.contains("&T", Qt::CaseInsensitive)) << w->objectName().toStdString();
    }
}

TEST_F(ToolsMenu, ItemsShowTheirHintsAndF1TheirTopics) {
    emit form->Tools1->hovered(form->ToolsPowerCurveItem);
    EXPECT_EQ(form->StatusBar1->panelText(0), " Draw power against sample size");
    emit form->Tools1->hovered(form->ToolsDeFinettiItem);
    EXPECT_TRUE(form->StatusBar1->panelText(0).contains("triangle"));

    form->Tools1->popup(form->mapToGlobal(QPoint(0, 0)));
    for (int i = 0; i < 3 && form->Tools1->activeAction() != form->ToolsDeFinettiItem; ++i)
        QTest::keyClick(form->Tools1, Qt::Key_Down);
    ASSERT_EQ(form->Tools1->activeAction(), form->ToolsDeFinettiItem);
    QTest::keyClick(form->Tools1, Qt::Key_F1);
    ASSERT_EQ(env.help.requests.size(), 1u);
    EXPECT_EQ(env.help.requests[0].second, kDeFinettiHelpContext);
}

TEST(HelpFile, HasATopicForEachStudyWindow) {
    QFile help(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../resources/ZYGOMETHELP.HLP"));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    const QByteArray text = help.readAll();
    for (int context : {kPowerCurveHelpContext, kDeFinettiHelpContext}) {
        EXPECT_TRUE(text.contains(QStringLiteral("<a name=\"topic%1\">").arg(context).toUtf8()))
            << context;
        EXPECT_TRUE(text.contains(QStringLiteral("href=\"#topic%1\"").arg(context).toUtf8()))
            << context;
    }
}

TEST_F(ToolsMenu, EachItemOpensOneWindowWithTheMainWindowsStudy) {
    form->IRadioButton->click();
    form->pAdvSpinEdit->setFloatValue(0.35);
    form->inbAdvSpinEdit->setFloatValue(0.2);
    form->nEdit->setText("25");
    form->GCheckBox->setChecked(true);
    form->RunButton->click();
    const StudySnapshot s = form->currentStudy();
    EXPECT_EQ(s.request.model, GenotypeModel::Inbreeding);
    EXPECT_EQ(s.request.p, std::vector<double>{0.35});
    EXPECT_EQ(s.request.f, std::vector<double>{0.2});
    EXPECT_EQ(s.request.n, std::vector<std::uint32_t>{25});
    EXPECT_EQ(s.request.tests, (std::vector<HweTest>{HweTest::X2, HweTest::G}));
    ASSERT_TRUE(s.lastSample);
    EXPECT_EQ(s.lastSample->o11 + s.lastSample->o12 + s.lastSample->o22, 25);
    EXPECT_EQ(s.lastSample->o11, form->o11AdvEdit->text().toInt());

    form->ToolsPowerCurveItem->trigger();
    PowerCurveWindow* curve = form->powerCurveWindow();
    ASSERT_NE(curve, nullptr);
    EXPECT_TRUE(curve->isVisible());
    EXPECT_DOUBLE_EQ(child<QDoubleSpinBox>(curve, "p")->value(), 0.35);
    // A second choice brings the same window forward and keeps what it holds.
    child<QSpinBox>(curve, "nStep")->setValue(7);
    form->ToolsPowerCurveItem->trigger();
    EXPECT_EQ(form->powerCurveWindow(), curve);
    EXPECT_EQ(child<QSpinBox>(curve, "nStep")->value(), 7);

    form->ToolsDeFinettiItem->trigger();
    DeFinettiWindow* diagram = form->deFinettiWindow();
    ASSERT_NE(diagram, nullptr);
    EXPECT_EQ(child<QSpinBox>(diagram, "n")->value(), 25);
    diagram->draw();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !diagram->computing(); }, kWaitMs));
    ASSERT_TRUE(diagram->picture());
    ASSERT_TRUE(diagram->picture()->lastSample);
    EXPECT_EQ(*diagram->picture()->lastSample, *s.lastSample);

    // Esc in a study window closes it and leaves the program running.
    child<QSpinBox>(diagram, "n")->setFocus();
    QTest::keyClick(child<QSpinBox>(diagram, "n"), Qt::Key_Escape);
    EXPECT_FALSE(diagram->isVisible());
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->exitRequested());
    // Closed with a diagram drawn, it comes back with the inputs of that
    // diagram, whatever the main window holds now.
    child<QSpinBox>(diagram, "n")->setValue(31);
    form->ToolsDeFinettiItem->trigger();
    EXPECT_TRUE(diagram->isVisible());
    EXPECT_EQ(child<QSpinBox>(diagram, "n")->value(), 31);

    // After p changes the window no longer shows a sample.
    form->pAdvSpinEdit->setFloatValue(0.4);
    EXPECT_FALSE(form->currentStudy().lastSample);
}

// A window closed while it showed a problem, reopened from the menu, takes
// the main window's sound inputs: its chart must not still say the inputs
// need correcting, and Enter must compute rather than press whatever button
// the focus fell to when the field that had it was disabled.
TEST_F(ToolsMenu, AReopenedWindowDropsAnOldProblemAndEnterComputes) {
    form->ToolsDeFinettiItem->trigger();
    DeFinettiWindow* diagram = form->deFinettiWindow();
    ASSERT_NE(diagram, nullptr);
    child<QComboBox>(diagram, "model")->setCurrentIndex(1);  // Wahlund
    child<QDoubleSpinBox>(diagram, "var")->setValue(0.245);  // above p*q = 0.24
    child<QDoubleSpinBox>(diagram, "var")->setFocus();
    QTest::keyClick(child<QDoubleSpinBox>(diagram, "var"), Qt::Key_Return);
    ASSERT_FALSE(diagram->picture());
    ASSERT_TRUE(diagram->chart()->title().contains("correcting"));
    QTest::keyClick(child<QDoubleSpinBox>(diagram, "var"), Qt::Key_Escape);
    ASSERT_FALSE(diagram->isVisible());

    form->ToolsDeFinettiItem->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(diagram));
    EXPECT_EQ(child<QComboBox>(diagram, "model")->currentIndex(), 0);
    EXPECT_FALSE(diagram->chart()->title().contains("correcting"))
        << diagram->chart()->title().toStdString();
    // The widget of the window that keys go to once it is active.
    QWidget* focus = diagram->focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !diagram->computing(); }, kWaitMs));
    EXPECT_TRUE(diagram->picture())
        << child<QLabel>(diagram, "statusLine")->text().toStdString() << " focus "
        << focus->objectName().toStdString() << " " << focus->metaObject()->className();

    form->ToolsPowerCurveItem->trigger();
    PowerCurveWindow* curve = form->powerCurveWindow();
    ASSERT_NE(curve, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(curve));
    child<QComboBox>(curve, "model")->setCurrentIndex(3);  // selection
    for (QDoubleSpinBox* w :
         {child<QDoubleSpinBox>(curve, "w11"), child<QDoubleSpinBox>(curve, "w12"),
          child<QDoubleSpinBox>(curve, "w22")})
        w->setValue(0);
    child<QDoubleSpinBox>(curve, "w22")->setFocus();
    QTest::keyClick(child<QDoubleSpinBox>(curve, "w22"), Qt::Key_Return);
    ASSERT_TRUE(curve->chart()->title().contains("correcting"));
    QTest::keyClick(curve->focusWidget() ? curve->focusWidget() : curve, Qt::Key_Escape);
    ASSERT_FALSE(curve->isVisible());

    form->ToolsPowerCurveItem->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowActive(curve));
    EXPECT_EQ(child<QComboBox>(curve, "model")->currentIndex(), 0);
    EXPECT_FALSE(curve->chart()->title().contains("correcting"))
        << curve->chart()->title().toStdString();
    focus = curve->focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !curve->computing(); }, kWaitMs));
    EXPECT_GT(testSeriesCount(curve->chart()), 0)
        << child<QLabel>(curve, "statusLine")->text().toStdString();
}

}  // namespace
}  // namespace zyg::testing
