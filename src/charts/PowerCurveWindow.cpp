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
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTime>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "charts/ChartFiles.h"
#include "charts/ChartParts.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"
#include "core/NumberText.h"
#include "platform/ErrorBoundary.h"
#include "power/Solve.h"
#include "report/WholeFile.h"

namespace zyg {

namespace {

const QString kNoCurveYet = QStringLiteral("Press Compute (Enter) to draw the power curve");

QString shown(double v, int decimals = 4) {
    return QString::fromStdString(proportionText(v, decimals));
}

bool sameSetting(const ModelSetting& x, const ModelSetting& y) {
    if (x.model != y.model || x.locus != y.locus || x.males != y.males) return false;
    for (const ModelParameter& q : modelParameters())
        if (q.get(x) != q.get(y)) return false;
    return true;
}

// The setting with the parameter of the x axis at its value without a
// departure: what every point of a curve along it shares.
ModelSetting sharedSetting(const StudyRequest& r, const ModelParameter* along) {
    ModelSetting s = modelSettings(r).front();
    if (along) along->set(s, along->none);
    return s;
}

// Whether two requests along the same x axis ask of the same model: along
// n the same setting, along a parameter the same other parameters and n.
bool sameModel(const StudyRequest& a, const StudyRequest& b, const ModelParameter* along) {
    return sameSetting(sharedSetting(a, along), sharedSetting(b, along)) && (!along || a.n == b.n);
}

// Whether two requests describe the same curve but for their grids.
bool sameCurve(const StudyRequest& a, const StudyRequest& b, const ModelParameter* along) {
    return sameModel(a, b, along) && a.tests == b.tests && a.levels == b.levels &&
           a.method == b.method && a.replicates == b.replicates && a.seed == b.seed;
}

// Whether what Solve found for `solved` answers the study `asked`: the same
// model, tests, level and target (the method and grid play no part in it).
bool sameStudy(const StudyRequest& solved, const StudyRequest& asked, const ModelParameter* along) {
    return sameModel(solved, asked, along) && solved.tests == asked.tests &&
           solved.levels == asked.levels && solved.target == asked.target;
}

// kLogSizesPerDecade sizes per decade from `from` to `to`, both included,
// evenly spaced on a log scale and rounded to distinct whole numbers.
std::vector<std::uint32_t> logSpacedSizes(std::uint32_t from, std::uint32_t to) {
    std::vector<std::uint32_t> sizes{from};
    const double decades = std::log10(static_cast<double>(to) / from);
    const int steps = static_cast<int>(std::ceil(decades * PowerCurveWindow::kLogSizesPerDecade));
    for (int i = 1; i <= steps; ++i) {
        const auto n = static_cast<std::uint32_t>(
            i == steps ? to : std::lround(from * std::pow(10.0, decades * i / steps)));
        if (n > sizes.back()) sizes.push_back(n);
    }
    return sizes;
}

QString latin(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

PowerCurveWindow::PowerCurveWindow(StudySource source, QString helpFile, QWidget* parent)
    : StudyWindow(std::move(source), std::move(helpFile), kPowerCurveHelpContext,
                  QStringLiteral("PowerCurveWindow"), QStringLiteral("Power Curve - Zygomet"),
                  parent) {
    seed_ = static_cast<std::uint32_t>(QTime::currentTime().msecsSinceStartOfDay()) | 1u;
    buildControls();
    resize(1290, 690);
    takeFromMainWindow();
}

void PowerCurveWindow::buildControls() {
    createCommonControls("Export P&NG...", "Export SVG...");
    QGroupBox* sizes = createSizesGroup();
    QGroupBox* tests = createTestsGroup();
    QGroupBox* study = createStudyGroup();
    QGroupBox* axis = createAxisGroup();
    QGroupBox* locusGroup = createLocusGroup();
    createCommandButtons();
    createChartView(QSize(400, 260));
    showChart(buildEmptyPowerChart(kNoCurveYet));
    createResultTables();
    createStatusLine();
    layOut(sizes, tests, study, axis, locusGroup);
    connectControls();
    enableLocusFields();
    fillAxisChoices();
    updateMethodFields();
    setExportsEnabled(false);
}

QGroupBox* PowerCurveWindow::createSizesGroup() {
    auto* sizes = new QGroupBox(QStringLiteral("Sample sizes"), this);
    const int largest = static_cast<int>(maxSampleSize(PowerMethod::Exact));
    nFrom = wholeField("nFrom", 0, largest, 10);
    nTo = wholeField("nTo", 0, largest, 200);
    nStep = wholeField("nStep", 0, largest, 10);
    // The cost of a point grows with n: a range over several decades with
    // an even step spends nearly all its time at the top (1000 sizes from
    // 1000 to 10^6 are 500 times the work of one at 10^6). Log-spaced sizes
    // draw the same curve from a fixed number of sizes per decade.
    logSpaced = new QCheckBox(QStringLiteral("log-spaced"), this);
    logSpaced->setObjectName(QStringLiteral("logSpaced"));
    logSpaced->setToolTip(
        QStringLiteral("%1 sizes per decade from \"n from\" to \"n to\", evenly spaced on a "
                       "logarithmic scale, instead of a step: fast over ranges such as 1000 to "
                       "1000000")
            .arg(kLogSizesPerDecade));
    auto* stepRow = new QHBoxLayout;
    stepRow->addWidget(nStep, 1);
    stepRow->addWidget(logSpaced);
    auto* sizeForm = new QFormLayout(sizes);
    sizeForm->addRow(QStringLiteral("n f&rom:"), nFrom);
    sizeForm->addRow(QStringLiteral("n t&o:"), nTo);
    // A label's mnemonic moves the focus to its buddy, which a layout
    // cannot be: Alt+E goes to the step field.
    auto* stepLabel = new QLabel(QStringLiteral("st&ep:"), sizes);
    stepLabel->setBuddy(nStep);
    sizeForm->addRow(stepLabel, stepRow);
    // Biobank ranges (1000 to 10^6) read better on a logarithmic n axis; the
    // switch redraws the curve without computing it again.
    logN = new QCheckBox(QStringLiteral("Logarithmic n axis"), this);
    logN->setObjectName(QStringLiteral("logN"));
    sizeForm->addRow(logN);
    solveBounded = new QCheckBox(QStringLiteral("Solve only up to n to"), this);
    solveBounded->setObjectName(QStringLiteral("solveBounded"));
    solveBounded->setToolTip(
        QStringLiteral("Unchecked, Solve searches every n from \"n from\" to %1").arg(largest));
    sizeForm->addRow(solveBounded);
    return sizes;
}

QGroupBox* PowerCurveWindow::createTestsGroup() {
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
    // The other exact tests, one-sided and mid-p, are a menu of checkable
    // choices: ten check boxes would not fit the window.
    moreTests = new QToolButton(this);
    moreTests->setObjectName(QStringLiteral("moreTests"));
    moreTests->setPopupMode(QToolButton::InstantPopup);
    moreTests->setToolButtonStyle(Qt::ToolButtonTextOnly);
    moreTests->setFocusPolicy(Qt::StrongFocus);
    auto* menu = new QMenu(moreTests);
    menu->setObjectName(QStringLiteral("moreTestsMenu"));
    for (HweTest t : kHweTests) {
        if (!appliesTo(t, LocusKind::Autosomal)) continue;
        if (t == HweTest::X2 || t == HweTest::G || t == HweTest::X2cc || t == HweTest::Exact)
            continue;
        QAction* a = menu->addAction(QString::fromStdString(testLabel(t)));
        a->setObjectName(QString::fromLatin1(hweTestName(t).data(),
                                             static_cast<qsizetype>(hweTestName(t).size())));
        a->setCheckable(true);
        a->setData(static_cast<int>(t));
        moreTestActions.push_back(a);
    }
    moreTests->setMenu(menu);
    // The autosomal tests on the left; on the right the tests that count the
    // males, for X, where those on the left test the females alone. The two
    // widest controls span both columns below, which keeps the group as
    // narrow as one column of them.
    auto* testGrid = new QGridLayout(tests);
    testGrid->addWidget(x2Test, 0, 0);
    testGrid->addWidget(gTest, 1, 0);
    testGrid->addWidget(exactTest, 2, 0);
    testGrid->addWidget(x2ccTest, 4, 0, 1, 2);
    testGrid->addWidget(moreTests, 5, 0, 1, 2, Qt::AlignLeft);
    int row = 0;
    for (HweTest t : kHweTests) {
        if (appliesTo(t, LocusKind::Autosomal)) continue;
        auto* c = new QCheckBox(QString::fromStdString(testLabel(t)), this);
        c->setObjectName(latin(hweTestName(t)));
        c->setProperty("test", static_cast<int>(t));
        c->setToolTip(QStringLiteral("X-linked loci: ") +
                      latin(testEntry(t).help).replace(u'\n', u' '));
        testGrid->addWidget(c, row++, 1);
        xTests.push_back(c);
    }
    updateMoreTestsCaption();
    return tests;
}

QGroupBox* PowerCurveWindow::createStudyGroup() {
    auto* study = new QGroupBox(QStringLiteral("Study"), this);
    level = levelField(this);
    method = new QComboBox(this);
    method->setObjectName(QStringLiteral("method"));
    method->addItems({QStringLiteral("Exact"), QStringLiteral("Simulation")});
    replicates = wholeField("replicates", 1, static_cast<int>(kMaxReplicates), 1000);
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
    among = new QComboBox(this);
    among->setObjectName(QStringLiteral("among"));
    among->addItems({QStringLiteral("All samples"), QStringLiteral("Testable ones")});
    among->setToolTip(QStringLiteral(
        "All samples: the probability that a sample is rejected. Testable ones: the "
        "proportion rejected among the samples the test can be computed on, as the main "
        "window counts it"));
    axisRange = new QComboBox(this);
    axisRange->setObjectName(QStringLiteral("axisRange"));
    axisRange->addItems(
        {QStringLiteral("Auto"), QStringLiteral("0 to 1"), QStringLiteral("Fit the curves")});
    axisRange->setToolTip(QStringLiteral(
        "Auto: under Hardy-Weinberg the curves are the tests' sizes, near the level, and the "
        "axis fits them; under other models it runs from 0 to 1"));
    studyForm->addRow(QStringLiteral("Power among:"), among);
    studyForm->addRow(QStringLiteral("Power axis:"), axisRange);
    return study;
}

QGroupBox* PowerCurveWindow::createAxisGroup() {
    auto* group = new QGroupBox(QStringLiteral("X axis"), this);
    xAxis = new QComboBox(this);
    xAxis->setObjectName(QStringLiteral("xAxis"));
    xAxis->setToolTip(
        QStringLiteral("Power against the sample size, or against the size of the effect (a "
                       "parameter of the model) at one n, as plotted in a grant's power section"));
    atN = wholeField("atN", 1, static_cast<int>(maxSampleSize(PowerMethod::Exact)), 1000);
    auto valueField = [this](const char* name) {
        auto* v = spinField<QDoubleSpinBox>(this, name, -1, 10);
        v->setDecimals(4);
        v->setSingleStep(0.01);
        return v;
    };
    effectFrom = valueField("effectFrom");
    effectTo = valueField("effectTo");
    effectPoints = wholeField("effectPoints", 2, static_cast<int>(kMaxCurveSizes), 41);
    // Three rows, the pairs side by side, so that the group fits under the
    // model's inputs.
    auto pair = [this](const char* first, QWidget* a, const char* second, QWidget* b) {
        auto* row = new QHBoxLayout;
        row->addWidget(a, 1);
        auto* label = new QLabel(QString::fromLatin1(second), this);
        label->setBuddy(b);
        row->addWidget(label);
        row->addWidget(b, 1);
        return std::pair{QString::fromLatin1(first), row};
    };
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Along:"), xAxis);
    const auto [atLabel, atRow] = pair("at n:", atN, "points:", effectPoints);
    form->addRow(atLabel, atRow);
    const auto [fromLabel, fromRow] = pair("from:", effectFrom, "to:", effectTo);
    form->addRow(fromLabel, fromRow);
    return group;
}

QGroupBox* PowerCurveWindow::createLocusGroup() {
    auto* group = new QGroupBox(QStringLiteral("Locus"), this);
    locus = new QComboBox(this);
    locus->setObjectName(QStringLiteral("locus"));
    for (const LocusKindEntry& e : kLocusKinds) locus->addItem(latin(e.label), int(e.kind));
    locus->setToolTip(
        QStringLiteral("X-linked: females carry two alleles and males one; the model describes "
                       "the females, and the autosomal tests test the females alone"));
    males = spinField<QDoubleSpinBox>(this, "males", kMaleShareRange.low, kMaleShareRange.high);
    males->setDecimals(3);
    males->setSingleStep(0.05);
    males->setValue(0.5);
    males->setToolTip(
        QStringLiteral("The share of the n people who are male: n x share rounded are males, "
                       "the others females"));
    pMale = spinField<QDoubleSpinBox>(this, "pMale", kPRange.low, kPRange.high);
    pMale->setDecimals(4);
    pMale->setSingleStep(0.01);
    pMale->setValue(0.5);
    pMale->setToolTip(
        QStringLiteral("The frequency of A1 among the males: a value other than p is a sex "
                       "difference in allele frequency, as a genotyping error or recent "
                       "admixture makes"));
    pMaleSameAsP = new QCheckBox(QStringLiteral("same as p"), this);
    pMaleSameAsP->setObjectName(QStringLiteral("pMaleSameAsP"));
    pMaleSameAsP->setChecked(true);
    auto* pMaleRow = new QHBoxLayout;
    pMaleRow->addWidget(pMale, 1);
    pMaleRow->addWidget(pMaleSameAsP);
    // No Alt letters: every letter of these captions is another control's.
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Locus:"), locus);
    form->addRow(QStringLiteral("Males' share:"), males);
    form->addRow(QStringLiteral("Males' p:"), pMaleRow);
    return group;
}

LocusKind PowerCurveWindow::locusKind() const {
    return static_cast<LocusKind>(locus->currentData().toInt());
}

ModelSetting PowerCurveWindow::setting() const {
    ModelSetting s = modelInputs()->setting();
    s.locus = locusKind();
    s.males = males->value();
    s.pMale = pMaleSameAsP->isChecked() ? s.p : pMale->value();
    return s;
}

void PowerCurveWindow::enableLocusFields() {
    const LocusKind kind = locusKind();
    const bool onX = kind == LocusKind::XLinked;
    males->setEnabled(onX);
    pMaleSameAsP->setEnabled(onX);
    pMale->setEnabled(onX && !pMaleSameAsP->isChecked());
    // The males' p shows the females' while it is theirs, and starts from it
    // when it is set apart.
    if (pMaleSameAsP->isChecked()) {
        const QSignalBlocker blocker(pMale);
        pMale->setValue(modelInputs()->setting().p);
    }
    // A test that does not apply to the locus stays as checked, for when the
    // locus comes back, but is not chosen.
    for (QCheckBox* c : xTests)
        c->setEnabled(appliesTo(static_cast<HweTest>(c->property("test").toInt()), kind));
    for (QAction* a : moreTestActions)
        a->setEnabled(appliesTo(static_cast<HweTest>(a->data().toInt()), kind));
}

void PowerCurveWindow::locusChanged() {
    enableLocusFields();
    fillAxisChoices();
    inputChanged();
}

const ModelParameter* PowerCurveWindow::along() const {
    const int index = xAxis->currentData().toInt();
    return index < 0 ? nullptr : &modelParameters()[static_cast<std::size_t>(index)];
}

void PowerCurveWindow::setAlong(const ModelParameter* parameter) {
    const int index = parameter ? static_cast<int>(parameter - modelParameters().data()) : -1;
    const int at = xAxis->findData(index);
    if (at >= 0) xAxis->setCurrentIndex(at);
}

// The choices of the x axis: n, and each parameter of the chosen model the
// solver can move (its departures from Hardy-Weinberg).
void PowerCurveWindow::fillAxisChoices() {
    const GenotypeModel model = modelInputs()->setting().model;
    const LocusKind kind = locusKind();
    const int chosen = xAxis->currentData().isValid() ? xAxis->currentData().toInt() : -1;
    {
        const QSignalBlocker blocker(xAxis);
        xAxis->clear();
        xAxis->addItem(QStringLiteral("Sample size n"), -1);
        const auto parameters = modelParameters();
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            const ModelParameter& q = parameters[i];
            // A departure of the model, or of the locus (the males' p on X).
            if (q.solvable && (q.model || !q.loci.contains(LocusKind::Autosomal)) &&
                q.readBy(model, kind))
                xAxis->addItem(QStringLiteral("%1 (%2)").arg(latin(q.name), latin(q.meaning)),
                               static_cast<int>(i));
        }
        xAxis->setCurrentIndex(std::max(0, xAxis->findData(chosen)));
    }
    if (xAxis->currentData().toInt() != chosen) axisChanged();
    updateMethodFields();
}

void PowerCurveWindow::axisChanged() {
    if (const ModelParameter* q = along()) {
        // From no departure to the value the model holds, or to the end of
        // the range when it holds none.
        const ModelSetting s = setting();
        const ValueRange widest = q->range(0.5);
        const QSignalBlocker b1(effectFrom), b2(effectTo);
        for (QDoubleSpinBox* v : {effectFrom, effectTo}) v->setRange(widest.low, widest.high);
        const double now = q->get(s), none = q->noneAt(s);
        effectFrom->setValue(none);
        effectTo->setValue(now != none ? now : q->farEnd(s, true).value_or(widest.high));
        const QSignalBlocker b3(atN);
        atN->setValue(std::max(1, nTo->value()));
    }
    updateMethodFields();
    inputChanged();
}

void PowerCurveWindow::createCommandButtons() {
    computeButton = pushButton("computeButton", "Comp&ute");
    computeButton->setDefault(true);
    cancelButton = pushButton("cancelButton", "Cancel");
    copyButton = pushButton("copyButton", "Cop&y table");
    summaryButton = pushButton("summaryButton", "Copy summary");
    summaryButton->setToolTip(QStringLiteral(
        "Copies a methods paragraph of the last Solve: the question, the answer, how power was "
        "computed, the program and its version"));
    summaryButton->setEnabled(false);
    csvButton = pushButton("csvButton", "Export C&SV...");
    solveButton = pushButton("solveButton", "Solve for target");
    solveButton->setToolTip(
        QStringLiteral("Finds where each test reaches the target power at every n from "
                       "\"n from\" upwards, whatever the step"));
    keepButton = pushButton("keepButton", "&Keep curve");
    keepButton->setToolTip(
        QStringLiteral("Keeps the curves drawn, greyed, to compare them with the next ones"));
    clearKeptButton = pushButton("clearKeptButton", "Clear kept");
}

void PowerCurveWindow::createResultTables() {
    table = new QTableWidget(0, 6, this);
    table->setObjectName(QStringLiteral("table"));
    table->setHorizontalHeaderLabels(
        {QStringLiteral("n"), QStringLiteral("Test"), QStringLiteral("P(testable)"),
         QStringLiteral("Power"), QStringLiteral("Cond. power"), QStringLiteral("95% interval")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->setVisible(false);
    // Every heading whole; the table scrolls sideways rather than cut them.
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setMinimumHeight(100);

    // The results panel: where each test reaches the target.
    targetTable = new QTableWidget(0, 4, this);
    targetTable->setObjectName(QStringLiteral("targetTable"));
    targetTable->setHorizontalHeaderLabels({QStringLiteral("Test"), QStringLiteral("First n"),
                                            QStringLiteral("Stays from n"),
                                            QStringLiteral("Sizes searched")});
    targetTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    targetTable->verticalHeader()->setVisible(false);
    targetTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    targetTable->horizontalHeader()->setStretchLastSection(true);
    targetTable->setMinimumHeight(80);

    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 100);
    progress->setVisible(false);
    cancelButton->setVisible(false);
}

void PowerCurveWindow::layOut(QGroupBox* sizes, QGroupBox* tests, QGroupBox* study, QGroupBox* axis,
                              QGroupBox* locusGroup) {
    // The inputs in two columns, so that the window fits a small screen;
    // they scroll rather than shrink when the window is made smaller still.
    auto* first = new QVBoxLayout;
    first->addWidget(modelInputs());
    first->addWidget(axis);
    first->addWidget(locusGroup);
    first->addStretch(1);
    auto* second = new QVBoxLayout;
    second->addWidget(sizes);
    second->addWidget(tests);
    second->addWidget(study);
    second->addStretch(1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(computeButton, 0, 0);
    buttons->addWidget(copyButton, 0, 1);
    buttons->addWidget(csvButton, 0, 2);
    buttons->addWidget(solveButton, 1, 0);
    buttons->addWidget(keepButton, 1, 1);
    buttons->addWidget(clearKeptButton, 1, 2);
    buttons->addWidget(pngButton(), 2, 0);
    buttons->addWidget(svgButton(), 2, 1);
    buttons->addWidget(closeButton(), 2, 2);
    buttons->addWidget(summaryButton, 3, 0);
    buttons->addWidget(takeButton(), 3, 1, 1, 2);
    auto* inputs = new QGridLayout;
    inputs->addLayout(first, 0, 0);
    inputs->addLayout(second, 0, 1);
    inputs->addLayout(buttons, 1, 0, 1, 2);
    inputs->setRowStretch(2, 1);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* results = new QSplitter(Qt::Horizontal, this);
    results->addWidget(targetTable);
    results->addWidget(table);
    results->setStretchFactor(0, 1);
    results->setStretchFactor(1, 1);
    results->setChildrenCollapsible(false);
    splitter->addWidget(chartView());
    splitter->addWidget(results);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    auto* top = new QHBoxLayout;
    top->addWidget(inputPanel(inputs), 0);
    top->addWidget(splitter, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statusLine(), 1);
    bottom->addWidget(progress);
    bottom->addWidget(cancelButton);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    whole->addLayout(bottom);

    // Take from main window replaces what was typed: Tab from the model
    // fields goes on to the sample sizes, and reaches it only after the
    // other commands.
    QList<QWidget*> chain;
    chain << nFrom << nTo << nStep << logSpaced << logN << solveBounded << xAxis << atN
          << effectFrom << effectTo << effectPoints << locus << males << pMale << pMaleSameAsP
          << x2Test << gTest << x2ccTest << exactTest << moreTests;
    for (QCheckBox* c : xTests) chain << c;
    chain << level << method << replicates << target << among << axisRange << computeButton
          << copyButton << csvButton << solveButton << summaryButton << keepButton
          << clearKeptButton << pngButton() << svgButton() << takeButton() << closeButton()
          << targetTable << table << cancelButton;
    setTabChain(chain);
}

void PowerCurveWindow::connectControls() {
    on(computeButton, &QPushButton::clicked, [this] { compute(); });
    on(cancelButton, &QPushButton::clicked, [this] { cancel(); });
    on(copyButton, &QPushButton::clicked, [this] { copyTable(); });
    on(summaryButton, &QPushButton::clicked, [this] { copySummary(); });
    on(csvButton, &QPushButton::clicked, [this] { exportCsv(); });
    on(solveButton, &QPushButton::clicked, [this] { solve(); });
    on(keepButton, &QPushButton::clicked, [this] { keepCurve(); });
    on(clearKeptButton, &QPushButton::clicked, [this] { clearKept(); });
    on(modelInputs(), &ModelInputs::changed, [this] {
        enableLocusFields();
        fillAxisChoices();
        inputChanged();
    });
    on(xAxis, &QComboBox::currentIndexChanged, [this] { axisChanged(); });
    for (QSpinBox* s : {nFrom, nTo, nStep, replicates, atN, effectPoints})
        on(s, &QSpinBox::valueChanged, [this] { inputChanged(); });
    for (QDoubleSpinBox* v : {effectFrom, effectTo})
        on(v, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(solveBounded, &QCheckBox::toggled, [this] { inputChanged(); });
    on(target, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(logN, &QCheckBox::toggled, [this] { redraw(); });
    on(logSpaced, &QCheckBox::toggled, [this] {
        // Log-spaced sizes read best on a logarithmic axis.
        if (logSpaced->isChecked()) logN->setChecked(true);
        updateMethodFields();
        inputChanged();
    });
    for (QComboBox* c : {among, axisRange})
        on(c, &QComboBox::currentIndexChanged, [this] { redraw(); });
    for (QCheckBox* c : {x2Test, gTest, x2ccTest, exactTest})
        on(c, &QCheckBox::toggled, [this] { inputChanged(); });
    for (QCheckBox* c : xTests) on(c, &QCheckBox::toggled, [this] { inputChanged(); });
    on(locus, &QComboBox::currentIndexChanged, [this] { locusChanged(); });
    on(males, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(pMale, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(pMaleSameAsP, &QCheckBox::toggled, [this] {
        enableLocusFields();
        inputChanged();
    });
    for (QComboBox* c : {level, method})
        on(c, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    on(level->lineEdit(), &QLineEdit::editingFinished, [this] { inputChanged(); });
    for (QAction* a : moreTestActions)
        on(a, &QAction::toggled, [this] {
            updateMoreTestsCaption();
            inputChanged();
        });
}

void PowerCurveWindow::takeFromMainWindow() {
    if (!source_) return;
    writeInputs(source_());
    // With nothing drawn, an earlier problem's or cancellation's chart title
    // no longer holds for the inputs just taken.
    if (!curve_ && !computing()) showChart(buildEmptyPowerChart(kNoCurveYet));
    setStatus(QStringLiteral("Took the model, parameters and tests of the main window."));
}

QWidget* PowerCurveWindow::firstInput() const { return modelInputs()->inputs().front(); }

PowerCurveWindow::Inputs PowerCurveWindow::readInputs() const {
    Inputs in;
    StudyRequest& r = in.request;
    const ModelSetting s = setting();
    r = StudyRequest::of(s);
    r.locus = s.locus;
    r.males = s.males;
    // On X the males share the females' p unless they have their own.
    r.pMale.clear();
    if (s.locus == LocusKind::XLinked && !pMaleSameAsP->isChecked()) r.pMale = {s.pMale};
    r.tests.clear();
    if (x2Test->isChecked()) r.tests.push_back(HweTest::X2);
    if (gTest->isChecked()) r.tests.push_back(HweTest::G);
    if (x2ccTest->isChecked()) r.tests.push_back(HweTest::X2cc);
    if (exactTest->isChecked()) r.tests.push_back(HweTest::Exact);
    for (const QAction* a : moreTestActions)
        if (a->isChecked()) r.tests.push_back(static_cast<HweTest>(a->data().toInt()));
    for (const QCheckBox* c : xTests)
        if (c->isChecked()) r.tests.push_back(static_cast<HweTest>(c->property("test").toInt()));
    // The tests checked for another locus are not chosen.
    std::erase_if(r.tests, [&](HweTest t) { return !appliesTo(t, s.locus); });
    const std::optional<double> chosenLevel = levelOf(level);
    r.levels = {chosenLevel.value_or(0.05)};
    r.method = method->currentIndex() == 1 ? PowerMethod::Simulate : PowerMethod::Exact;
    r.replicates = static_cast<std::uint32_t>(replicates->value());
    r.seed = seed_;
    r.target = target->value();
    in.range = {static_cast<std::uint32_t>(nFrom->value()),
                static_cast<std::uint32_t>(nTo->value()),
                static_cast<std::uint32_t>(nStep->value())};
    const auto [from, to, step] = in.range;
    r.n.clear();
    if (!chosenLevel) {
        in.problem = QStringLiteral(
                         "The level \"%1\" is no number; type one such as 0.05, 5% or "
                         "1e-6.")
                         .arg(level->currentText());
        in.field = level;
    } else if (from > to) {
        in.problem = QStringLiteral(
                         "n to (%1) is smaller than n from (%2); it must be at least "
                         "as large.")
                         .arg(to)
                         .arg(from);
        in.field = nTo;
    } else if (logSpaced->isChecked() && !along()) {
        r.n = logSpacedSizes(std::max<std::uint32_t>(1, from), to);
    } else if (step == 0) {
        in.problem = QStringLiteral("The step of n is 0; it must be at least 1.");
        in.field = nStep;
    } else if (in.range.count() > kMaxCurveSizes) {
        in.problem =
            QStringLiteral("The range has more than %1 sample sizes; choose a larger step.")
                .arg(kMaxCurveSizes);
        in.field = nStep;
    } else if (const ModelParameter* q = along()) {
        // The curve along the parameter: `points` values evenly from "from"
        // to "to", every other parameter as the model holds it, at one n.
        r.n = {static_cast<std::uint32_t>(atN->value())};
        const double low = effectFrom->value(), high = effectTo->value();
        const int count = effectPoints->value();
        if (low == high) {
            in.problem = QStringLiteral("The %1 axis runs from %2 to %2; give two different ends.")
                             .arg(latin(q->name), QString::fromStdString(shortestText(low)));
            in.field = effectTo;
        } else {
            std::vector<double>& values = r.*(q->values);
            values.clear();
            for (int i = 0; i < count; ++i)
                values.push_back(i + 1 == count ? high : low + (high - low) * i / (count - 1));
        }
    } else {
        r.n = in.range.sizes();
    }
    return in;
}

void PowerCurveWindow::writeInputs(const StudySnapshot& study) {
    // One change, not one per field: the inputs are written with their
    // signals blocked and the change is handled once at the end.
    {
        const QSignalBlocker b1(nFrom), b2(nTo), b3(nStep), b4(x2Test), b5(gTest), b6(x2ccTest),
            b7(exactTest), b8(locus), b9(males), b10(pMale), b11(pMaleSameAsP), b12(modelInputs());
        const StudyRequest& r = study.request;
        if (const std::vector<ModelSetting> settings = modelSettings(r); !settings.empty()) {
            modelInputs()->setSetting(settings.front());
            pMale->setValue(settings.front().pMale);
        }
        locus->setCurrentIndex(std::max(0, locus->findData(static_cast<int>(r.locus))));
        males->setValue(r.males);
        pMaleSameAsP->setChecked(r.locus != LocusKind::XLinked || r.pMale.empty());
        auto has = [&](HweTest t) {
            return std::find(r.tests.begin(), r.tests.end(), t) != r.tests.end();
        };
        x2Test->setChecked(has(HweTest::X2) || r.tests.empty());
        gTest->setChecked(has(HweTest::G));
        x2ccTest->setChecked(has(HweTest::X2cc));
        exactTest->setChecked(has(HweTest::Exact));
        for (QAction* a : moreTestActions) {
            const QSignalBlocker blocker(a);
            a->setChecked(has(static_cast<HweTest>(a->data().toInt())));
        }
        for (QCheckBox* c : xTests) {
            const QSignalBlocker blocker(c);
            c->setChecked(has(static_cast<HweTest>(c->property("test").toInt())));
        }
        enableLocusFields();
        updateMoreTestsCaption();
        // A range that ends at the main window's sample size, when it has one.
        if (!r.n.empty() && r.n.front() >= 2 && r.n.front() <= maxSampleSize(PowerMethod::Exact)) {
            const int n = static_cast<int>(r.n.front());
            const int step = std::max(1, n / 20);
            nTo->setValue(n);
            nStep->setValue(step);
            nFrom->setValue(step);
        }
    }
    fillAxisChoices();
    inputChanged();
}

void PowerCurveWindow::updateMoreTestsCaption() {
    const auto chosen = std::count_if(moreTestActions.begin(), moreTestActions.end(),
                                      [](const QAction* a) { return a->isChecked(); });
    moreTests->setText(chosen == 0
                           ? QStringLiteral("One-si&ded and mid-p tests...")
                           : QStringLiteral("One-si&ded and mid-p tests (%1)...").arg(chosen));
}

void PowerCurveWindow::updateMethodFields() {
    replicates->setEnabled(method->currentIndex() == 1);
    // The fields of the x axis chosen.
    const bool alongParameter = along() != nullptr;
    for (QWidget* w :
         std::initializer_list<QWidget*>{nFrom, nTo, nStep, logSpaced, logN, solveBounded})
        w->setEnabled(!alongParameter);
    nStep->setEnabled(!alongParameter && !logSpaced->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{atN, effectFrom, effectTo, effectPoints})
        w->setEnabled(alongParameter);
}

void PowerCurveWindow::inputChanged() {
    updateMethodFields();
    // A computation of inputs that no longer hold is replaced by one of the
    // new inputs; otherwise the chart waits for Compute.
    if (computing()) {
        if (solving_)
            solve();
        else
            compute();
        return;
    }
    if (curve_)
        setStatus(
            QStringLiteral("The inputs changed: the chart shows the previous ones (see "
                           "its title). Press Compute (Enter) to redraw."));
}

void PowerCurveWindow::showProblem(const QString& text, QWidget* field) {
    setStatus(text, true);
    if (field) field->setFocus(Qt::OtherFocusReason);
}

void PowerCurveWindow::setExportsEnabled(bool on) {
    for (QPushButton* b : {copyButton, csvButton, keepButton}) b->setEnabled(on);
    clearKeptButton->setEnabled(!kept_.empty());
    setPictureExportsEnabled(on);
}

PowerCurveWindow::Inputs PowerCurveWindow::checkedInputs() const {
    Inputs in = readInputs();
    if (in.problem.isEmpty()) {
        if (const auto problems = checkStudy(in.request); !problems.empty()) {
            const StudyProblem& first = problems.front();
            // A sample size out of range is the value of one of the range's fields.
            const bool fromField = first.input == StudyInput::N && first.value == nFrom->value();
            in.problem = problemSentence(
                first, fromField ? QStringLiteral("n from") : QStringLiteral("n to"));
            const ModelParameter* q = along();
            if (q && first.input == StudyInput::N) {
                in.problem = problemSentence(first, QStringLiteral("at n"));
                in.field = atN;
                return in;
            }
            if (q && first.input == q->input) {
                in.field = first.value == effectFrom->value() ? effectFrom : effectTo;
                return in;
            }
            switch (first.input) {
                case StudyInput::N: in.field = fromField ? nFrom : nTo; break;
                case StudyInput::Tests: in.field = x2Test; break;
                case StudyInput::Levels: in.field = level; break;
                case StudyInput::Replicates: in.field = replicates; break;
                case StudyInput::Target: in.field = target; break;
                case StudyInput::Locus: in.field = locus; break;
                case StudyInput::Males: in.field = males; break;
                case StudyInput::PMale: in.field = pMale; break;
                default: in.field = modelInputs()->fieldFor(first.input); break;
            }
        }
    }
    return in;
}

void PowerCurveWindow::compute() {
    const Inputs in = checkedInputs();
    jobs().drop();
    // Whatever is drawn belongs to other inputs now, but for what Solve found
    // for the same study: a grid never replaces an answer of every n.
    curve_.reset();
    if (!in.problem.isEmpty() || !solvedFor_ || solvedAlong_ != along() ||
        !sameStudy(*solvedFor_, in.request, along())) {
        solvedFor_.reset();
        solvedRows_.clear();
    }
    targetRows_ = solvedRows_;
    fillTargets();
    table->setRowCount(0);
    setExportsEnabled(false);
    if (!in.problem.isEmpty()) {
        progress->setVisible(false);
        cancelButton->setVisible(false);
        showChart(buildEmptyPowerChart(QStringLiteral("No curve: the inputs need correcting")));
        showProblem(in.problem, in.field);
        emit computationEnded();
        return;
    }
    const StudyRequest r = in.request;
    curveRange_ = in.range;
    curveAlong_ = along();
    const ModelSetting setting = modelSettings(r).front();
    showChart(buildEmptyPowerChart(
        QStringLiteral("Computing: ") +
        (curveAlong_ ? effectTitle(setting, *curveAlong_, r.n.front(), r.levels.front(), r.method,
                                   r.replicates)
                     : curveTitle(setting, r.levels.front(), r.method, r.replicates))));
    setStatus(curveAlong_ ? QStringLiteral("Computing %1 values of %2 at n = %3...")
                                .arg(effectPoints->value())
                                .arg(latin(curveAlong_->name))
                                .arg(r.n.front())
                          : QStringLiteral("Computing %1 sample sizes...").arg(r.n.size()));
    // A point costs about its n: an even step over several decades is slow,
    // and the same curve from log-spaced sizes is many times faster.
    curveLogSpaced_ = !curveAlong_ && logSpaced->isChecked();
    if (!curveAlong_ && !curveLogSpaced_ && r.n.size() > 300 && r.n.back() >= 100 * r.n.front())
        setStatus(QStringLiteral("Computing %1 sample sizes... This range spans %2 decades: "
                                 "check \"log-spaced\" to draw it from %3 sizes per decade, "
                                 "in a fraction of the time.")
                      .arg(r.n.size())
                      .arg(std::floor(std::log10(double(r.n.back()) / r.n.front())))
                      .arg(kLogSizesPerDecade));
    showProgress();
    solving_ = false;

    jobs().start<StudyResult>(
        [r](const std::atomic<bool>& stop,
            const Jobs::Progress& report) -> std::optional<StudyResult> {
            int lastShown = -1;
            StudyControl control;
            control.cancel = &stop;
            control.progress = [&](std::size_t done, std::size_t total) {
                const int percent = static_cast<int>(done * 100 / total);
                if (percent != lastShown) report(lastShown = percent);
            };
            try {
                StudyResult result{r, runStudy(r, control)};
                // A cancelled curve is never delivered in part.
                if (stop.load()) return std::nullopt;
                return result;
            } catch (const StudyCancelled&) {
                return std::nullopt;
            }
        },
        [this](int percent) { progress->setValue(percent); },
        [this](std::optional<StudyResult>& result, const QString& error) {
            finish(result, error);
        });
}

void PowerCurveWindow::showProgress() {
    progress->setValue(0);
    progress->setVisible(true);
    cancelButton->setVisible(true);
}

namespace {

using TargetRow = PowerCurveWindow::TargetRow;

std::vector<TargetRow> rowsOf(const std::vector<TargetCrossing>& crossings, double goal,
                              const QString& foundBy) {
    std::vector<TargetRow> rows;
    for (const TargetCrossing& c : crossings)
        rows.push_back({c.test, goal, c.firstReaching, c.staysFrom, foundBy});
    return rows;
}

// The answers of Solve: the sample-size solver of the study library finds,
// for each test, the first n of the range whose power reaches the target and
// the n from which it stays there, with a bracket, a bisection and a scan of
// the saw-tooth around the crossing instead of every n of the range.
template <class Solved>
std::optional<Solved> solveTargets(StudyRequest r, const ModelParameter* along,
                                   const std::atomic<bool>& stop, const Jobs::Progress& report) {
    const double goal = r.target.value_or(0.8);
    // The solver is exact whatever method the curve is drawn with.
    r.method = PowerMethod::Exact;
    StudyControl control;
    control.cancel = &stop;
    int lastShown = -1;
    control.progress = [&](std::size_t done, std::size_t all) {
        const int percent = all ? static_cast<int>(done * 100 / all) : 100;
        if (percent != lastShown) report(lastShown = percent);
    };
    std::vector<SolveAnswer> answers;
    const SolveAim aim{along, goal};
    try {
        answers = solveStudy(r, aim, control);
    } catch (const StudyCancelled&) {
        return std::nullopt;
    }
    if (stop.load()) return std::nullopt;
    Solved solved;
    solved.summary = QString::fromStdString(solveSummary(answers, aim, "the power-curve window"));
    std::vector<TargetRow>& rows = solved.rows;
    for (const SolveAnswer& a : answers) {
        if (!along) {
            rows.push_back({a.test, goal, a.firstN, a.staysN,
                            QStringLiteral("searched every n from %1 to %2").arg(a.low).arg(a.high),
                            true, a.bestPower, a.bestN});
            continue;
        }
        TargetRow row{a.test,
                      goal,
                      std::nullopt,
                      std::nullopt,
                      QStringLiteral("searched %1 from %2 to %3 at n = %4")
                          .arg(latin(along->name),
                               QString::fromStdString(shortestText(along->noneAt(a.model))),
                               QString::fromStdString(shortestText(a.rangeEnd)))
                          .arg(a.n),
                      true,
                      a.bestPower,
                      a.n};
        if (a.reached) row.effect = a.value;
        row.along = along;
        rows.push_back(row);
    }
    return solved;
}

}  // namespace

void PowerCurveWindow::solve() {
    const Inputs in = checkedInputs();
    jobs().drop();
    if (!in.problem.isEmpty()) {
        progress->setVisible(false);
        cancelButton->setVisible(false);
        showProblem(in.problem, in.field);
        emit computationEnded();
        return;
    }
    StudyRequest r = in.request;
    const ModelParameter* q = along();
    if (q) {
        // The solver searches from no departure towards the side of "to".
        r.*(q->values) = {effectTo->value()};
        setStatus(QStringLiteral("Solving for the smallest %1 reaching the target at n = %2...")
                      .arg(latin(q->name))
                      .arg(r.n.front()));
    } else {
        // From "n from" to the engine's largest n, unless the user bounds it.
        const std::uint32_t from = std::max<std::uint32_t>(1, in.range.from);
        const std::uint32_t to = solveBounded->isChecked() ? std::max(from, in.range.to)
                                                           : maxSampleSize(PowerMethod::Exact);
        r.solveBounds = SampleBounds{from, to};
        setStatus(QStringLiteral("Solving for the target power at every n from %1 to %2...")
                      .arg(from)
                      .arg(to));
    }
    showProgress();
    jobs().start<Solved>(
        [r, q](const std::atomic<bool>& stop, const Jobs::Progress& report) {
            return solveTargets<Solved>(r, q, stop, report);
        },
        [this](int percent) { progress->setValue(percent); },
        [this, r, q](std::optional<Solved>& solved, const QString& error) {
            if (solved && error.isEmpty()) {
                solvedFor_ = r;
                solvedAlong_ = q;
                solvedRows_ = solved->rows;
            }
            // The markers go on the curve drawn only when it is of this study.
            if (!curve_ || curveAlong_ != q || !sameCurve(curve_->request, r, q)) {
                curve_.reset();
                table->setRowCount(0);
                setExportsEnabled(false);
                showChart(buildEmptyPowerChart(
                    QStringLiteral("Solved: see the results; press Compute (Enter) to draw")));
            }
            finishSolve(solved, error);
        });
    solving_ = true;
}

void PowerCurveWindow::finishSolve(std::optional<Solved>& solved, const QString& error) {
    progress->setVisible(false);
    cancelButton->setVisible(false);
    if (!error.isEmpty() || !solved) {
        setStatus(error.isEmpty() ? QStringLiteral("Cancelled.") : error, !error.isEmpty());
        emit computationEnded();
        return;
    }
    targetRows_ = std::move(solved->rows);
    summary_ = std::move(solved->summary);
    summaryButton->setEnabled(true);
    fillTargets();
    if (curve_) redraw();
    copyButton->setEnabled(true);
    csvButton->setEnabled(curve_.has_value());
    setStatus(solvedSummary(targetRows_));
    emit computationEnded();
}

QString PowerCurveWindow::solvedSummary(const std::vector<TargetRow>& rows) {
    QStringList said;
    for (const TargetRow& row : rows)
        said << (row.effect ? QStringLiteral("%1 reaches %2 at %3 = %4")
                                  .arg(powerSeriesName(row.test))
                                  .arg(row.target)
                                  .arg(row.along ? latin(row.along->name) : QString(),
                                       chartparts::number(*row.effect))
                 : row.along ? QStringLiteral("%1 does not reach %2 (at most %3)")
                                   .arg(powerSeriesName(row.test))
                                   .arg(row.target)
                                   .arg(QString::fromStdString(fixedText(row.bestPower, 3)))
                 : row.firstReaching
                     ? QStringLiteral("%1 reaches %2 at n = %3")
                           .arg(powerSeriesName(row.test))
                           .arg(row.target)
                           .arg(*row.firstReaching)
                     : QStringLiteral("%1 does not reach %2 (at most %3, at n = %4)")
                           .arg(powerSeriesName(row.test))
                           .arg(row.target)
                           .arg(QString::fromStdString(fixedText(row.bestPower, 3)))
                           .arg(row.bestN));
    const QString searched = rows.empty() ? QString() : rows.front().foundBy;
    return QStringLiteral("Solved, having %1: %2.").arg(searched, said.join(QStringLiteral("; ")));
}

void PowerCurveWindow::keepCurve() {
    if (!curve_) return;
    const ModelSetting setting = curve_->points.front().model;
    const QString label =
        QStringLiteral("%1, level %2")
            .arg(curveAlong_ ? effectSettingText(setting, *curveAlong_, curve_->request.n.front())
                             : modelText(setting),
                 chartparts::levelText(curve_->request.levels.front()));
    for (const KeptCurve& k : kept_)
        if (k.label == label && k.along == curveAlong_) return;  // kept already
    kept_.push_back({curve_->points, label, curveAlong_});
    if (kept_.size() > kMaxKept) kept_.erase(kept_.begin());
    clearKeptButton->setEnabled(true);
    redraw();
    setStatus(QStringLiteral("Kept the curves of %1; change the model and press Compute (Enter) "
                             "to compare.")
                  .arg(label));
}

void PowerCurveWindow::clearKept() {
    kept_.clear();
    clearKeptButton->setEnabled(false);
    if (curve_)
        redraw();
    else if (!computing())
        showChart(buildEmptyPowerChart(kNoCurveYet));
    setStatus(QStringLiteral("The kept curves are cleared."));
}

void PowerCurveWindow::redraw() {
    if (!curve_) return;
    showChart(curveChart());
}

QChart* PowerCurveWindow::curveChart() const {
    if (curveAlong_) {
        std::vector<EffectCrossing> marked;
        for (const TargetRow& row : targetRows_)
            marked.push_back({row.test, row.effect, row.effectStays});
        return buildEffectChart(curve_->points, *curveAlong_, curve_->request.target.value_or(0.8),
                                kept_, &marked, static_cast<PowerAxis>(axisRange->currentIndex()),
                                among->currentIndex() == 1);
    }
    const std::vector<TargetCrossing> marked = markedCrossings();
    return buildPowerChart(curve_->points, curve_->request.target.value_or(0.8), kept_, &marked,
                           logN->isChecked(), static_cast<PowerAxis>(axisRange->currentIndex()),
                           among->currentIndex() == 1);
}

void PowerCurveWindow::setAmongTestable(bool on) { among->setCurrentIndex(on ? 1 : 0); }

std::vector<TargetCrossing> PowerCurveWindow::markedCrossings() const {
    std::vector<TargetCrossing> marked;
    for (const TargetRow& row : targetRows_) {
        TargetCrossing c;
        c.test = row.test;
        c.firstReaching = row.firstReaching;
        c.staysFrom = row.staysFrom;
        marked.push_back(c);
    }
    return marked;
}

void PowerCurveWindow::fillTargets() {
    targetTable->setRowCount(0);
    const bool alongParameter = std::any_of(targetRows_.begin(), targetRows_.end(),
                                            [](const TargetRow& r) { return r.along; });
    const QString symbol =
        alongParameter ? latin(targetRows_.front().along->name) : QStringLiteral("n");
    targetTable->horizontalHeaderItem(1)->setText(QStringLiteral("First %1").arg(symbol));
    targetTable->horizontalHeaderItem(2)->setText(QStringLiteral("Stays from %1").arg(symbol));
    targetTable->setRowCount(static_cast<int>(targetRows_.size()));
    int row = 0;
    for (const TargetRow& r : targetRows_) {
        const QString first =
            r.effect              ? chartparts::number(*r.effect)
            : r.firstReaching     ? QString::number(*r.firstReaching)
            : r.solved && r.along ? QStringLiteral("not reached (at most %1)")
                                        .arg(QString::fromStdString(fixedText(r.bestPower, 3)))
            : r.solved ? QStringLiteral("not reached (at most %1 at n = %2)")
                             .arg(QString::fromStdString(fixedText(r.bestPower, 3)))
                             .arg(r.bestN)
                       : QStringLiteral("not reached");
        const QString stays = r.effectStays ? chartparts::number(*r.effectStays)
                              : r.staysFrom ? QString::number(*r.staysFrom)
                                            : QStringLiteral("-");
        const QString cells[] = {powerSeriesName(r.test), first, stays, r.foundBy};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment((c == 0 || c == 3) ? Qt::AlignLeft | Qt::AlignVCenter
                                                      : Qt::AlignRight | Qt::AlignVCenter);
            targetTable->setItem(row, c, item);
        }
        ++row;
    }
}

void PowerCurveWindow::cancel() {
    if (!computing()) return;
    jobs().drop();
    progress->setVisible(false);
    cancelButton->setVisible(false);
    // A cancelled Solve leaves the curve it was solving for as it was.
    if (!curve_) showChart(buildEmptyPowerChart(QStringLiteral("Cancelled: no curve drawn")));
    setStatus(QStringLiteral("Cancelled. Press Compute (Enter) to start again."));
    emit computationEnded();
}

void PowerCurveWindow::finish(std::optional<StudyResult>& result, const QString& error) {
    progress->setVisible(false);
    cancelButton->setVisible(false);
    if (!error.isEmpty() || !result.has_value()) {
        showChart(buildEmptyPowerChart(QStringLiteral("No curve")));
        setStatus(error.isEmpty() ? QStringLiteral("Cancelled.") : error, !error.isEmpty());
        emit computationEnded();
        return;
    }
    curve_ = std::move(*result);
    const double goal = curve_->request.target.value_or(0.8);
    const std::uint32_t from = curveRange_.from, step = curveRange_.step;
    const std::uint32_t last = curve_->request.n.back();
    // A test Solve answered keeps its answer; the others are read off the grid.
    std::vector<TargetRow> rows = solvedRows_;
    std::vector<TargetRow> grid;
    if (curveAlong_) {
        const QString foundBy =
            QStringLiteral("grid: %1 values of %2 at n = %3")
                .arg(curve_->points.size() / std::max<std::size_t>(1, curve_->request.tests.size()))
                .arg(latin(curveAlong_->name))
                .arg(curve_->request.n.front());
        for (const EffectCrossing& c : effectCrossings(curve_->points, *curveAlong_, goal)) {
            TargetRow row{c.test, goal, std::nullopt, std::nullopt, foundBy};
            row.effect = c.firstReaching;
            row.effectStays = c.staysFrom;
            row.along = curveAlong_;
            grid.push_back(row);
        }
    } else {
        const std::size_t sizes = curve_->request.n.size();
        grid = rowsOf(
            targetCrossings(curve_->points, goal), goal,
            curveLogSpaced_ && sizes > 1 ? QStringLiteral("grid: %1 log-spaced n from %2 to %3")
                                               .arg(sizes)
                                               .arg(curve_->request.n.front())
                                               .arg(last)
            : step == 1 || from == last
                ? QStringLiteral("grid: every n from %1 to %2").arg(from).arg(last)
                : QStringLiteral("grid: n from %1 to %2 by %3").arg(from).arg(last).arg(step));
    }
    for (TargetRow& row : grid)
        if (std::none_of(rows.begin(), rows.end(),
                         [&](const TargetRow& s) { return s.test == row.test; }))
            rows.push_back(row);
    targetRows_ = std::move(rows);
    fillTargets();
    redraw();
    fillTable();
    setExportsEnabled(true);
    QStringList reached;
    for (const TargetRow& c : targetRows_) {
        const QString name = powerSeriesName(c.test);
        if (c.along) {
            // Along a parameter: the first value of the grid reaching the
            // target, or Solve's answer.
            const QString symbol = latin(c.along->name);
            QString text =
                c.effect ? QStringLiteral("%1 reaches %2 at %3 = %4")
                               .arg(name)
                               .arg(goal)
                               .arg(symbol, chartparts::number(*c.effect))
                : c.solved
                    ? QStringLiteral("%1 does not reach %2 (at most %3)")
                          .arg(name)
                          .arg(goal)
                          .arg(QString::fromStdString(fixedText(c.bestPower, 3)))
                    : QStringLiteral("%1 does not reach %2 in this range").arg(name).arg(goal);
            if (c.effect && c.solved) text += QStringLiteral(" (solved)");
            reached << text;
            continue;
        }
        const auto& n = c.firstReaching;
        QString text =
            n          ? QStringLiteral("%1 reaches %2 at n = %3").arg(name).arg(goal).arg(*n)
            : c.solved ? QStringLiteral("%1 does not reach %2 (at most %3, at n = %4)")
                             .arg(name)
                             .arg(goal)
                             .arg(QString::fromStdString(fixedText(c.bestPower, 3)))
                             .arg(c.bestN)
                       : QStringLiteral("%1 does not reach %2 in this range").arg(name).arg(goal);
        if (n && c.solved) text += QStringLiteral(" (solved: every n searched)");
        // Power is saw-toothed in n: say where it stays above the target.
        if (n && c.staysFrom && *c.staysFrom != *n)
            text += QStringLiteral(" (and stays there from n = %1)").arg(*c.staysFrom);
        else if (n && !c.staysFrom)
            text += QStringLiteral(" (but falls below it again at the end of the range)");
        reached << text;
    }
    QString text = reached.join(QStringLiteral("; ")) + QStringLiteral(".");
    // Under Hardy-Weinberg the curves are sizes: the status gives their range
    // beside the level instead of a target nobody aims at.
    if (!curveAlong_ && curve_->points.front().model.model == GenotypeModel::HardyWeinberg) {
        QStringList sizes;
        for (HweTest test : curve_->request.tests) {
            double low = 1, high = 0;
            for (const PowerPoint& pt : curve_->points)
                if (pt.test == test && std::isfinite(pt.power)) {
                    low = std::min(low, pt.power);
                    high = std::max(high, pt.power);
                }
            sizes << QStringLiteral("%1 %2 to %3")
                         .arg(powerSeriesName(test), shown(low, 4), shown(high, 4));
        }
        text = QStringLiteral("Size (false rejections under Hardy-Weinberg) at level %1: %2.")
                   .arg(chartparts::levelText(curve_->request.levels.front()),
                        sizes.join(QStringLiteral("; ")));
    }
    if (curve_->request.method == PowerMethod::Simulate)
        text += QStringLiteral(" Simulated with seed %1.").arg(curve_->request.seed);
    setStatus(text);
    emit computationEnded();
}

QString PowerCurveWindow::tipAt(QPoint viewportPosition) const {
    if (!curve_) return {};
    QChart* shown = chart();
    const QPointF inScene = chartView()->mapToScene(viewportPosition);
    const QPointF inChart = shown->mapFromScene(inScene);
    // The pointer may rest anywhere on a line, not only on its computed
    // points (which a coarse grid puts tens of pixels apart): the nearest
    // line within reach names its computed point nearest to the pointer.
    double best = kPointerReach * kPointerReach + 1e-9;
    QString tip;
    for (HweTest test : curve_->request.tests) {
        for (QAbstractSeries* s : shown->series()) {
            auto* line = qobject_cast<QXYSeries*>(s);
            if (!line || line->objectName() != powerSeriesName(test)) continue;
            const QList<QPointF> points = line->points();
            for (qsizetype i = 0; i < points.size(); ++i) {
                const QPointF a = shown->mapToPosition(points[i], line);
                const QPointF b =
                    i + 1 < points.size() ? shown->mapToPosition(points[i + 1], line) : a;
                // The distance to the segment a-b, and which end is nearer.
                const QPointF ab = b - a;
                const double length2 = ab.x() * ab.x() + ab.y() * ab.y();
                double t = 0;
                if (length2 > 0) {
                    const QPointF ap = inChart - a;
                    t = std::clamp((ap.x() * ab.x() + ap.y() * ab.y()) / length2, 0.0, 1.0);
                }
                const QPointF d = a + ab * t - inChart;
                const double distance = d.x() * d.x() + d.y() * d.y();
                if (distance < best) {  // on a tie, the first test named
                    best = distance;
                    tip = describePoint(test, t <= 0.5 ? points[i].x() : points[i + 1].x());
                }
            }
        }
    }
    return tip;
}

QString PowerCurveWindow::describePoint(HweTest test, double n) const {
    if (!curve_) return {};
    // n is the x value: the sample size, or the parameter along the axis.
    auto x = [this](const PowerPoint& pt) {
        return curveAlong_ ? curveAlong_->get(pt.model) : double(pt.n);
    };
    const PowerPoint* nearest = nullptr;
    for (const PowerPoint& pt : curve_->points)
        if (pt.test == test && (!nearest || std::fabs(x(pt) - n) < std::fabs(x(*nearest) - n)))
            nearest = &pt;
    if (!nearest) return {};
    QString where = curveAlong_
                        ? QStringLiteral("%1 = %2 at n = %3")
                              .arg(latin(curveAlong_->name), chartparts::number(x(*nearest)))
                              .arg(nearest->n)
                        : QStringLiteral("n = %1").arg(nearest->n);
    if (nearest->model.locus == LocusKind::XLinked) {
        const XSampleSize size = xSampleSize(nearest->n, nearest->model.males);
        where += QStringLiteral(" (%1 females, %2 males)").arg(size.females).arg(size.males);
    }
    QString text = QStringLiteral("%1, %2: power %3\nP(testable) %4, conditional power %5")
                       .arg(powerSeriesName(test), where, shown(nearest->power),
                            shown(nearest->testable), shown(nearest->conditionalPower));
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
    table->horizontalHeaderItem(0)->setText(curveAlong_ ? latin(curveAlong_->name)
                                                        : QStringLiteral("n"));
    int row = 0;
    for (const PowerPoint& pt : curve_->points) {
        const QString cells[] = {
            curveAlong_ ? chartparts::number(curveAlong_->get(pt.model)) : QString::number(pt.n),
            powerSeriesName(pt.test),
            shown(pt.testable),
            shown(pt.power),
            shown(pt.conditionalPower),
            simulated ? QStringLiteral("%1 - %2").arg(shown(pt.low95.value_or(pt.power)),
                                                      shown(pt.high95.value_or(pt.power)))
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

void PowerCurveWindow::copySummary() {
    if (summary_.isEmpty()) return;
    QGuiApplication::clipboard()->setText(summary_);
    setStatus(QStringLiteral("Copied the methods paragraph of the last Solve to the clipboard."));
}

void PowerCurveWindow::copyTable() {
    if (!curve_) return;
    // The model setting first, so that the pasted numbers say what they are
    // of; along a parameter each row starts with its value.
    const PowerPoint& first = curve_->points.front();
    const QString setting =
        curveAlong_
            ? effectTitle(first.model, *curveAlong_, first.n, first.level, first.method, first.nrep)
            : curveTitle(first.model, first.level, first.method, first.nrep);
    QString rows = QString::fromStdString(studyTabText(curve_->points));
    if (curveAlong_) {
        QStringList lines = rows.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines[i].isEmpty()) continue;
            lines[i].prepend((i == 0
                                  ? latin(curveAlong_->name)
                                  : QString::fromStdString(shortestText(curveAlong_->get(
                                        curve_->points[static_cast<std::size_t>(i - 1)].model)))) +
                             QLatin1Char('\t'));
        }
        rows = lines.join(QLatin1Char('\n'));
    }
    QGuiApplication::clipboard()->setText(QStringLiteral("model\t%1\n").arg(setting) + rows +
                                          QStringLiteral("\n") + targetText());
    setStatus(QStringLiteral("Copied %1 rows and the target results to the clipboard.")
                  .arg(curve_->points.size()));
}

QString PowerCurveWindow::targetText() const {
    const QString symbol = curveAlong_ ? latin(curveAlong_->name) : QStringLiteral("n");
    QString text =
        QStringLiteral("test\ttarget\tfirst %1 reaching target\tstays from %1\tsizes searched\n")
            .arg(symbol);
    for (const TargetRow& r : targetRows_)
        text += QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                    .arg(powerSeriesName(r.test), QString::fromStdString(shortestText(r.target)),
                         r.effect          ? QString::fromStdString(shortestText(*r.effect))
                         : r.firstReaching ? QString::number(*r.firstReaching)
                                           : QString(),
                         r.effectStays ? QString::fromStdString(shortestText(*r.effectStays))
                         : r.staysFrom ? QString::number(*r.staysFrom)
                                       : QString(),
                         r.foundBy);
    return text;
}

std::string PowerCurveWindow::csvText() const {
    // The study's columns, then each row's test's target results, so that a
    // script reading the study's columns reads this file as it is.
    const std::string study = studyCsv(curve_->points);
    std::string out;
    std::size_t at = 0;
    std::size_t row = 0;
    while (at < study.size()) {
        std::size_t end = study.find('\n', at);
        if (end == std::string::npos) end = study.size();
        out.append(study, at, end - at);
        if (row == 0) {
            out += ",target,first_reaching_target,stays_at_target_from";
        } else if (row - 1 < curve_->points.size()) {
            const HweTest test = curve_->points[row - 1].test;
            const TargetRow* found = nullptr;
            for (const TargetRow& r : targetRows_)
                if (r.test == test) found = &r;
            out += ',';
            if (found) {
                // Along a parameter the answers are its values.
                out += shortestText(found->target) + ',';
                if (found->effect)
                    out += shortestText(*found->effect);
                else if (found->firstReaching)
                    out += std::to_string(*found->firstReaching);
                out += ',';
                if (found->effectStays)
                    out += shortestText(*found->effectStays);
                else if (found->staysFrom)
                    out += std::to_string(*found->staysFrom);
            } else {
                out += ',';
            }
        }
        out += '\n';
        at = end + 1;
        ++row;
    }
    return out;
}

QString PowerCurveWindow::writeCsv(const QString& path) const {
    if (!curve_) return QStringLiteral("There is no curve to export.");
    const std::string failure = writeWholeFile(QFile::encodeName(path).toStdString(), csvText());
    if (!failure.empty())
        return QStringLiteral("Could not write %1: %2").arg(path, QString::fromStdString(failure));
    return {};
}

QString PowerCurveWindow::writePicture(const QString& path) const {
    if (!curve_) return QStringLiteral("There is no curve to export.");
    std::unique_ptr<QChart> picture(curveChart());
    return saveChart(*picture, path);
}

void PowerCurveWindow::exportCsv() {
    exportTo(QStringLiteral("CSV files|*.csv|All files|*.*"), QStringLiteral("csv"),
             [this](const QString& f) { return writeCsv(f); });
}

}  // namespace zyg
