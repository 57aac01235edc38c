#include "charts/PowerCurveWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTime>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>

#include "charts/ChartFiles.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"
#include "platform/ErrorBoundary.h"
#include "report/WholeFile.h"

namespace zyg {

namespace {

const double kLevels[] = {0.05, 0.01};
const QString kNoCurveYet = QStringLiteral("Press Compute (Enter) to draw the power curve");

QString shown(double v, int decimals = 4) {
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

}  // namespace

PowerCurveWindow::PowerCurveWindow(StudySource source, QString helpFile, QWidget* parent)
    : StudyWindow(std::move(source), std::move(helpFile), kPowerCurveHelpContext, parent) {
    setObjectName(QStringLiteral("PowerCurveWindow"));
    setWindowTitle(QStringLiteral("Power Curve - Zygomet"));
    setModal(false);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    seed_ = static_cast<std::uint32_t>(QTime::currentTime().msecsSinceStartOfDay()) | 1u;
    buildControls();
    resize(1120, 720);
    takeFromMainWindow();
}

PowerCurveWindow::~PowerCurveWindow() { stopAllJobs(); }

void PowerCurveWindow::buildControls() {
    modelInputs = new ModelInputs(this);
    takeButton = pushButton("takeButton", "&Take from main window");

    auto spin = [this](const char* name, int lo, int hi, int value) {
        auto* s = new QSpinBox(this);
        s->setObjectName(QString::fromLatin1(name));
        s->setRange(lo, hi);
        s->setValue(value);
        s->setKeyboardTracking(false);
        s->setAccelerated(true);
        return s;
    };
    auto* sizes = new QGroupBox(QStringLiteral("Sample sizes"), this);
    nFrom = spin("nFrom", 0, static_cast<int>(kMaxPowerSampleSize), 10);
    nTo = spin("nTo", 0, static_cast<int>(kMaxPowerSampleSize), 200);
    nStep = spin("nStep", 0, static_cast<int>(kMaxPowerSampleSize), 10);
    auto* sizeForm = new QFormLayout(sizes);
    sizeForm->addRow(QStringLiteral("n f&rom:"), nFrom);
    sizeForm->addRow(QStringLiteral("n t&o:"), nTo);
    sizeForm->addRow(QStringLiteral("st&ep:"), nStep);

    auto* tests = new QGroupBox(QStringLiteral("Tests"), this);
    auto check = [this](const char* name, const char* caption) {
        auto* c = new QCheckBox(QString::fromLatin1(caption), this);
        c->setObjectName(QString::fromLatin1(name));
        return c;
    };
    x2Test = check("x2Test", "&X2");
    gTest = check("gTest", "&G");
    x2ccTest = check("x2ccTest", "X2 with continuity correct&ion");
    exactTest = check("exactTest", "Exa&ct test");
    auto* testBox = new QVBoxLayout(tests);
    for (QCheckBox* c : {x2Test, gTest, x2ccTest, exactTest}) testBox->addWidget(c);

    auto* study = new QGroupBox(QStringLiteral("Study"), this);
    level = new QComboBox(this);
    level->setObjectName(QStringLiteral("level"));
    level->addItems({QStringLiteral("5%"), QStringLiteral("1%")});
    method = new QComboBox(this);
    method->setObjectName(QStringLiteral("method"));
    method->addItems({QStringLiteral("Exact"), QStringLiteral("Simulation")});
    replicates = spin("replicates", 1, static_cast<int>(kMaxReplicates), 1000);
    target = new QDoubleSpinBox(this);
    target->setObjectName(QStringLiteral("target"));
    target->setRange(0.01, 0.99);
    target->setSingleStep(0.05);
    target->setDecimals(2);
    target->setValue(0.80);
    target->setKeyboardTracking(false);
    auto* studyForm = new QFormLayout(study);
    studyForm->addRow(QStringLiteral("&Level:"), level);
    studyForm->addRow(QStringLiteral("Met&hod:"), method);
    studyForm->addRow(QStringLiteral("Replic&ates:"), replicates);
    studyForm->addRow(QStringLiteral("Target po&wer:"), target);

    computeButton = pushButton("computeButton", "Comp&ute");
    computeButton->setDefault(true);
    cancelButton = pushButton("cancelButton", "Cancel");
    copyButton = pushButton("copyButton", "Cop&y table");
    csvButton = pushButton("csvButton", "Export C&SV...");
    pngButton = pushButton("pngButton", "Export P&NG...");
    svgButton = pushButton("svgButton", "Export SVG...");
    closeButton = pushButton("closeButton", "Close");

    createChartView(QSize(560, 340));
    chartView->viewport()->setMouseTracking(true);
    chartView->viewport()->installEventFilter(this);
    showChart(buildEmptyPowerChart(kNoCurveYet));

    table = new QTableWidget(0, 6, this);
    table->setObjectName(QStringLiteral("table"));
    table->setHorizontalHeaderLabels({QStringLiteral("n"), QStringLiteral("Test"),
                                      QStringLiteral("P(testable)"), QStringLiteral("Power"),
                                      QStringLiteral("Conditional power"),
                                      QStringLiteral("95% interval")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->setMinimumHeight(140);

    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 100);
    progress->setVisible(false);
    cancelButton->setVisible(false);
    createStatusLine();

    auto* left = new QVBoxLayout;
    left->addWidget(modelInputs);
    left->addWidget(takeButton);
    left->addWidget(sizes);
    left->addWidget(tests);
    left->addWidget(study);
    left->addStretch(1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(computeButton, 0, 0);
    buttons->addWidget(copyButton, 0, 1);
    buttons->addWidget(csvButton, 1, 0);
    buttons->addWidget(pngButton, 1, 1);
    buttons->addWidget(svgButton, 2, 0);
    buttons->addWidget(closeButton, 2, 1);
    left->addLayout(buttons);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(chartView);
    splitter->addWidget(table);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    auto* top = new QHBoxLayout;
    top->addLayout(left, 0);
    top->addWidget(splitter, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statusLine, 1);
    bottom->addWidget(progress);
    bottom->addWidget(cancelButton);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    whole->addLayout(bottom);

    setTabOrder(modelInputs->model, modelInputs->p);
    setTabOrder(modelInputs->p, modelInputs->var);
    setTabOrder(modelInputs->var, modelInputs->f);
    setTabOrder(modelInputs->f, modelInputs->w11);
    setTabOrder(modelInputs->w11, modelInputs->w12);
    setTabOrder(modelInputs->w12, modelInputs->w22);
    setTabOrder(modelInputs->w22, takeButton);
    QWidget* order[] = {takeButton, nFrom,     nTo,           nStep,      x2Test,
                        gTest,      x2ccTest,  exactTest,     level,      method,
                        replicates, target,    computeButton, copyButton, csvButton,
                        pngButton,  svgButton, closeButton,   table,      cancelButton};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    on(takeButton, &QPushButton::clicked, [this] { takeFromMainWindow(); });
    on(computeButton, &QPushButton::clicked, [this] { compute(); });
    on(cancelButton, &QPushButton::clicked, [this] { cancel(); });
    on(copyButton, &QPushButton::clicked, [this] { copyTable(); });
    on(csvButton, &QPushButton::clicked, [this] { exportCsv(); });
    on(pngButton, &QPushButton::clicked, [this] { exportPng(); });
    on(svgButton, &QPushButton::clicked, [this] { exportSvg(); });
    on(closeButton, &QPushButton::clicked, [this] { close(); });
    on(modelInputs, &ModelInputs::changed, [this] { inputChanged(); });
    for (QSpinBox* s : {nFrom, nTo, nStep, replicates})
        on(s, &QSpinBox::valueChanged, [this] { inputChanged(); });
    on(target, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    for (QCheckBox* c : {x2Test, gTest, x2ccTest, exactTest})
        on(c, &QCheckBox::toggled, [this] { inputChanged(); });
    for (QComboBox* c : {level, method})
        on(c, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    updateMethodFields();
    setExportsEnabled(false);
}

void PowerCurveWindow::takeFromMainWindow() {
    if (!source_) return;
    const StudySnapshot s = source_();
    PowerCurveRequest r = request();
    r.setting = s.setting;
    r.tests.clear();
    if (s.x2On) r.tests.push_back(HweTest::X2);
    if (s.gOn) r.tests.push_back(HweTest::G);
    if (r.tests.empty()) r.tests.push_back(HweTest::X2);
    // A range that ends at the main window's sample size, when it has one.
    if (s.n >= 2 && s.n <= kMaxPowerSampleSize) {
        r.nTo = s.n;
        r.nStep = std::max<std::uint32_t>(1, s.n / 20);
        r.nFrom = r.nStep;
    }
    setRequest(r);
    // With nothing drawn, an earlier problem's or cancellation's chart title
    // no longer holds for the inputs just taken.
    if (!curve_ && !computing()) showChart(buildEmptyPowerChart(kNoCurveYet));
    setStatus(QStringLiteral("Took the model, parameters and tests of the main window."));
}

PowerCurveRequest PowerCurveWindow::request() const {
    PowerCurveRequest r;
    r.setting = modelInputs->setting();
    r.nFrom = static_cast<std::uint32_t>(nFrom->value());
    r.nTo = static_cast<std::uint32_t>(nTo->value());
    r.nStep = static_cast<std::uint32_t>(nStep->value());
    r.tests.clear();
    if (x2Test->isChecked()) r.tests.push_back(HweTest::X2);
    if (gTest->isChecked()) r.tests.push_back(HweTest::G);
    if (x2ccTest->isChecked()) r.tests.push_back(HweTest::X2cc);
    if (exactTest->isChecked()) r.tests.push_back(HweTest::Exact);
    r.level = kLevels[std::clamp(level->currentIndex(), 0, 1)];
    r.method = method->currentIndex() == 1 ? PowerMethod::Simulate : PowerMethod::Exact;
    r.replicates = static_cast<std::uint32_t>(replicates->value());
    r.seed = seed_;
    r.target = target->value();
    return r;
}

void PowerCurveWindow::setRequest(const PowerCurveRequest& r) {
    // One change, not one per field: the inputs are written with their
    // signals blocked and the change is handled once at the end.
    {
        const QSignalBlocker b1(nFrom), b2(nTo), b3(nStep), b4(x2Test), b5(gTest), b6(x2ccTest),
            b7(exactTest), b8(level), b9(method), b10(replicates), b11(target), b12(modelInputs);
        modelInputs->setSetting(r.setting);
        nFrom->setValue(static_cast<int>(r.nFrom));
        nTo->setValue(static_cast<int>(r.nTo));
        nStep->setValue(static_cast<int>(r.nStep));
        auto has = [&](HweTest t) {
            return std::find(r.tests.begin(), r.tests.end(), t) != r.tests.end();
        };
        x2Test->setChecked(has(HweTest::X2));
        gTest->setChecked(has(HweTest::G));
        x2ccTest->setChecked(has(HweTest::X2cc));
        exactTest->setChecked(has(HweTest::Exact));
        level->setCurrentIndex(r.level == 0.01 ? 1 : 0);
        method->setCurrentIndex(r.method == PowerMethod::Simulate ? 1 : 0);
        replicates->setValue(static_cast<int>(r.replicates));
        target->setValue(r.target);
    }
    inputChanged();
}

void PowerCurveWindow::updateMethodFields() { replicates->setEnabled(method->currentIndex() == 1); }

void PowerCurveWindow::inputChanged() {
    updateMethodFields();
    // A computation of inputs that no longer hold is replaced by one of the
    // new inputs; otherwise the chart waits for Compute.
    if (computing()) {
        compute();
        return;
    }
    if (curve_)
        setStatus(
            QStringLiteral("The inputs changed: the chart shows the previous ones (see "
                           "its title). Press Compute (Enter) to redraw."));
}

void PowerCurveWindow::showProblem(const RequestProblem& problem) {
    setStatus(asSentence(problem.message), true);
    QWidget* input = nullptr;
    switch (problem.field) {
        case RequestField::Model: input = modelInputs->fieldFor(problem.message); break;
        case RequestField::NFrom: input = nFrom; break;
        case RequestField::NTo: input = nTo; break;
        case RequestField::NStep: input = nStep; break;
        case RequestField::Tests: input = x2Test; break;
        case RequestField::Level: input = level; break;
        case RequestField::Replicates: input = replicates; break;
        case RequestField::Target: input = target; break;
        case RequestField::None: break;
    }
    if (input) input->setFocus(Qt::OtherFocusReason);
}

void PowerCurveWindow::setExportsEnabled(bool on) {
    for (QPushButton* b : {copyButton, csvButton, pngButton, svgButton}) b->setEnabled(on);
}

void PowerCurveWindow::compute() {
    const PowerCurveRequest r = request();
    const RequestProblem problem = checkRequest(r);
    dropRunningJob();
    // Whatever is drawn belongs to other inputs now.
    curve_.reset();
    table->setRowCount(0);
    setExportsEnabled(false);
    if (!problem.message.empty()) {
        progress->setVisible(false);
        cancelButton->setVisible(false);
        showChart(buildEmptyPowerChart(QStringLiteral("No curve: the inputs need correcting")));
        showProblem(problem);
        emit computationEnded();
        return;
    }
    showChart(buildEmptyPowerChart(QStringLiteral("Computing: ") + curveTitle(r)));
    setStatus(QStringLiteral("Computing %1 sample sizes...").arg(sampleSizes(r).size()));
    progress->setValue(0);
    progress->setVisible(true);
    cancelButton->setVisible(true);

    startJob<PowerCurve>(
        [this, r](std::atomic<bool>& stop, unsigned generation) {
            int lastShown = -1;
            return computePowerCurve(r, stop, [&](std::size_t done, std::size_t total) {
                const int percent = static_cast<int>(done * 100 / total);
                if (percent != lastShown) {
                    lastShown = percent;
                    QMetaObject::invokeMethod(
                        this,
                        [this, generation, percent] {
                            if (isCurrentJob(generation)) progress->setValue(percent);
                        },
                        Qt::QueuedConnection);
                }
            });
        },
        [this](std::optional<PowerCurve>& result, const QString& error) { finish(result, error); });
}

void PowerCurveWindow::cancel() {
    if (!computing()) return;
    dropRunningJob();
    progress->setVisible(false);
    cancelButton->setVisible(false);
    showChart(buildEmptyPowerChart(QStringLiteral("Cancelled: no curve drawn")));
    setStatus(QStringLiteral("Cancelled. Press Compute (Enter) to start again."));
    emit computationEnded();
}

void PowerCurveWindow::finish(std::optional<PowerCurve>& result, const QString& error) {
    progress->setVisible(false);
    cancelButton->setVisible(false);
    if (!error.isEmpty() || !result.has_value()) {
        showChart(buildEmptyPowerChart(QStringLiteral("No curve")));
        setStatus(error.isEmpty() ? QStringLiteral("Cancelled.") : error, !error.isEmpty());
        emit computationEnded();
        return;
    }
    curve_ = std::move(*result);
    QChart* built = buildPowerChart(*curve_);
    showChart(built);
    fillTable();
    setExportsEnabled(true);
    QStringList reached;
    for (HweTest t : curve_->request.tests) {
        const auto n = smallestReaching(*curve_, t);
        QString text = n ? QStringLiteral("%1 reaches %2 at n = %3")
                               .arg(powerSeriesName(t))
                               .arg(curve_->request.target)
                               .arg(*n)
                         : QStringLiteral("%1 does not reach %2 in this range")
                               .arg(powerSeriesName(t))
                               .arg(curve_->request.target);
        // Power is saw-toothed in n: say where it stays above the target.
        const auto forGood = reachedForGood(*curve_, t);
        if (n && forGood && *forGood != *n)
            text += QStringLiteral(" (and stays there from n = %1)").arg(*forGood);
        else if (n && !forGood)
            text += QStringLiteral(" (but falls below it again at the end of the range)");
        reached << text;
    }
    QString text = reached.join(QStringLiteral("; ")) + QStringLiteral(".");
    if (curve_->request.method == PowerMethod::Simulate)
        text += QStringLiteral(" Simulated with seed %1.").arg(curve_->request.seed);
    setStatus(text);
    emit computationEnded();
}

QString PowerCurveWindow::tipAt(QPoint viewportPosition) const {
    if (!curve_) return {};
    QChart* shown = chart();
    const QPointF inScene = chartView->mapToScene(viewportPosition);
    const QPointF inChart = shown->mapFromScene(inScene);
    double best = kPointerReach * kPointerReach + 1e-9;
    QString tip;
    for (HweTest test : curve_->request.tests) {
        for (QAbstractSeries* s : shown->series()) {
            auto* line = qobject_cast<QXYSeries*>(s);
            if (!line || line->objectName() != powerSeriesName(test)) continue;
            for (const QPointF& p : line->points()) {
                const QPointF d = shown->mapToPosition(p, line) - inChart;
                const double distance = d.x() * d.x() + d.y() * d.y();
                if (distance < best) {  // on a tie, the first test named
                    best = distance;
                    tip = describePoint(test, p.x());
                }
            }
        }
    }
    return tip;
}

bool PowerCurveWindow::eventFilter(QObject* watched, QEvent* e) {
    // Resting the pointer near a computed point shows its values.
    if (watched == chartView->viewport() && e->type() == QEvent::MouseMove) {
        guarded([&] {
            const QPoint at = static_cast<QMouseEvent*>(e)->position().toPoint();
            const QString tip = tipAt(at);
            if (tip.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(chartView->viewport()->mapToGlobal(at), tip, chartView);
        });
    }
    return StudyWindow::eventFilter(watched, e);
}

QString PowerCurveWindow::describePoint(HweTest test, double n) const {
    if (!curve_) return {};
    const PowerPoint* nearest = nullptr;
    for (const PowerPoint& pt : curve_->points)
        if (pt.test == test && (!nearest || std::fabs(pt.n - n) < std::fabs(nearest->n - n)))
            nearest = &pt;
    if (!nearest) return {};
    QString text =
        QStringLiteral("%1, n = %2: power %3\nP(testable) %4, conditional power %5")
            .arg(powerSeriesName(test))
            .arg(nearest->n)
            .arg(shown(nearest->power), shown(nearest->testable), shown(nearest->conditionalPower));
    if (nearest->low95 && nearest->high95)
        text += QStringLiteral("\n95% interval %1 - %2")
                    .arg(shown(*nearest->low95), shown(*nearest->high95));
    return text;
}

void PowerCurveWindow::fillTable() {
    table->setRowCount(0);
    if (!curve_) return;
    const bool simulated = curve_->request.method == PowerMethod::Simulate;
    table->setRowCount(static_cast<int>(curve_->points.size()));
    int row = 0;
    for (const PowerPoint& pt : curve_->points) {
        const QString cells[] = {
            QString::number(pt.n),
            powerSeriesName(pt.test),
            shown(pt.testable),
            shown(pt.power),
            shown(pt.conditionalPower),
            simulated ? QStringLiteral("%1 - %2").arg(shown(lowerEnd(pt)), shown(upperEnd(pt)))
                      : QStringLiteral("exact")};
        for (int c = 0; c < 6; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(c == 1 ? Qt::AlignLeft | Qt::AlignVCenter
                                          : Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, c, item);
        }
        ++row;
    }
}

void PowerCurveWindow::copyTable() {
    if (!curve_) return;
    QGuiApplication::clipboard()->setText(QString::fromStdString(curveTableText(*curve_)));
    setStatus(QStringLiteral("Copied %1 rows to the clipboard.").arg(curve_->points.size()));
}

QString PowerCurveWindow::writeCsv(const QString& path) const {
    if (!curve_) return QStringLiteral("There is no curve to export.");
    const std::string failure =
        writeWholeFile(QFile::encodeName(path).toStdString(), curveCsv(*curve_));
    if (!failure.empty())
        return QStringLiteral("Could not write %1: %2").arg(path, QString::fromStdString(failure));
    return {};
}

QString PowerCurveWindow::writePicture(const QString& path) const {
    if (!curve_) return QStringLiteral("There is no curve to export.");
    std::unique_ptr<QChart> picture(buildPowerChart(*curve_));
    return saveChart(*picture, path);
}

void PowerCurveWindow::exportCsv() {
    exportTo(QStringLiteral("CSV files|*.csv|All files|*.*"), QStringLiteral("csv"),
             [this](const QString& f) { return writeCsv(f); });
}

}  // namespace zyg
