#include "charts/DeFinettiWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "charts/ChartFiles.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"

namespace zyg {

namespace {

std::uint32_t sampleSize(const GenotypeCounts& c) {
    return static_cast<std::uint32_t>(c.o11) + c.o12 + c.o22;
}

const QString kNoDiagramYet = QStringLiteral("Press Draw (Enter) to draw the diagram");

QChart* emptyDiagram(const QString& title) {
    DeFinettiPicture blank;
    QChart* chart = buildDeFinettiChart(blank);
    // Only the triangle and the parabola: no model point without a model.
    for (QAbstractSeries* s : chart->series())
        if (s->objectName() == kModelSeriesName) chart->removeSeries(s), delete s;
    chart->setTitle(title);
    return chart;
}

}  // namespace

DeFinettiWindow::DeFinettiWindow(StudySource source, QString helpFile, QWidget* parent)
    : StudyWindow(std::move(source), std::move(helpFile), kDeFinettiHelpContext,
                  QStringLiteral("DeFinettiWindow"), QStringLiteral("De Finetti Diagram - Zygomet"),
                  parent) {
    buildControls();
    resize(980, 700);
    takeFromMainWindow();
}

void DeFinettiWindow::buildControls() {
    createCommonControls("Export PN&G...", "Export &SVG...");
    auto* sample = new QGroupBox(QStringLiteral("Samples"), this);
    n = wholeField("n", 0, static_cast<int>(maxSampleSize(PowerMethod::Exact)), 30);
    test = new QComboBox(this);
    test->setObjectName(QStringLiteral("test"));
    for (HweTest t : kHweTests)
        test->addItem(QString::fromStdString(testLabel(t)), static_cast<int>(t));
    level = levelField(this);
    auto* form = new QFormLayout(sample);
    form->addRow(QStringLiteral("&n:"), n);
    form->addRow(QStringLiteral("T&est:"), test);
    form->addRow(QStringLiteral("&Level:"), level);

    drawButton = pushButton("drawButton", "&Draw");
    drawButton->setDefault(true);

    createChartView(QSize(420, 380));
    showChart(emptyDiagram(kNoDiagramYet));

    createStatusLine();

    auto* legend = new QLabel(
        QStringLiteral(
            "Each small square is a possible sample of n genotypes. Blue: the test does not "
            "reject it (the acceptance region); pink: it rejects; grey: it cannot "
            "be computed. The dashed curve holds the Hardy-Weinberg proportions."),
        this);
    legend->setWordWrap(true);
    legend->setMaximumWidth(260);

    auto* left = new QVBoxLayout;
    left->addWidget(modelInputs());
    left->addWidget(takeButton());
    left->addWidget(sample);
    left->addWidget(legend);
    left->addStretch(1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(drawButton, 0, 0);
    buttons->addWidget(pngButton(), 0, 1);
    buttons->addWidget(svgButton(), 1, 0);
    buttons->addWidget(closeButton(), 1, 1);
    left->addLayout(buttons);
    auto* top = new QHBoxLayout;
    top->addWidget(inputPanel(left), 0);
    top->addWidget(chartView(), 1);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    whole->addWidget(statusLine());

    setTabChain(QList<QWidget*>{} << takeButton() << n << test << level << drawButton << pngButton()
                                  << svgButton() << closeButton());

    on(drawButton, &QPushButton::clicked, [this] { draw(); });
    on(modelInputs(), &ModelInputs::changed, [this] { inputChanged(); });
    on(n, &QSpinBox::valueChanged, [this] { inputChanged(); });
    on(test, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    on(level, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    on(level->lineEdit(), &QLineEdit::editingFinished, [this] { inputChanged(); });
    setPictureExportsEnabled(false);
}

void DeFinettiWindow::takeFromMainWindow() {
    if (!source_) return;
    const StudySnapshot s = source_();
    const StudyRequest& r = s.request;
    const std::uint32_t mainN = r.n.empty() ? 0 : r.n.front();
    {
        const QSignalBlocker b1(modelInputs()), b2(n), b3(test);
        if (const std::vector<ModelSetting> settings = modelSettings(r); !settings.empty())
            modelInputs()->setSetting(settings.front());
        if (mainN >= 1 && mainN <= kMaxDiagramSampleSize) n->setValue(static_cast<int>(mainN));
        const bool gOnly = r.tests.size() == 1 && r.tests.front() == HweTest::G;
        test->setCurrentIndex(gOnly ? 1 : 0);
    }
    lastSample_ = s.lastSample;
    if (lastSample_ &&
        static_cast<std::uint32_t>(lastSample_->o11 + lastSample_->o12 + lastSample_->o22) == 0)
        lastSample_.reset();
    QString took = lastSample_ ? QStringLiteral("Took the main window's model and its last sample.")
                               : QStringLiteral(
                                     "Took the main window's model; it has no sample "
                                     "to show until it runs.");
    if (mainN > kMaxDiagramSampleSize)
        took += QStringLiteral(" Its n (%1) is above the diagram's largest, %2: n stays %3.")
                    .arg(mainN)
                    .arg(kMaxDiagramSampleSize)
                    .arg(n->value());
    // With nothing drawn, an earlier problem's chart title no longer holds
    // for the inputs just taken.
    if (!picture_ && !computing()) showChart(emptyDiagram(kNoDiagramYet));
    setStatus(took);
    inputChanged();
}

void DeFinettiWindow::inputChanged() {
    if (computing()) {
        draw();
        return;
    }
    if (picture_)
        setStatus(
            QStringLiteral("The inputs changed: the diagram shows the previous ones (see "
                           "its title). Press Draw (Enter) to redraw."));
}

QWidget* DeFinettiWindow::firstInput() const { return modelInputs()->inputs().front(); }

void DeFinettiWindow::draw() {
    jobs().drop();
    picture_.reset();
    setPictureExportsEnabled(false);
    DeFinettiPicture p;
    p.setting = modelInputs()->setting();
    p.n = static_cast<std::uint32_t>(n->value());
    p.test = static_cast<HweTest>(test->currentData().toInt());
    const std::optional<double> chosenLevel = levelOf(level);
    p.level = chosenLevel.value_or(0.05);
    // The last sample is drawn only on the region of its own n: on another
    // n's region it would seem accepted or rejected by a test it never met.
    if (lastSample_ && sampleSize(*lastSample_) == p.n) p.lastSample = lastSample_;
    StudyRequest request = StudyRequest::of(p.setting);
    request.n = {p.n};
    request.tests = {p.test};
    request.levels = {p.level};
    // The model's problems first; the diagram's own range of n, narrower
    // than a study's, stands for the study's.
    QString problem;
    QWidget* culprit = nullptr;
    const auto problems = checkStudy(request);
    if (!chosenLevel) {
        problem = QStringLiteral(
                      "The level \"%1\" is no number; type one such as 0.05, 5% or "
                      "1e-6.")
                      .arg(level->currentText());
        culprit = level;
    } else if (!problems.empty() && problems.front().input != StudyInput::N) {
        problem = problemSentence(problems.front());
        culprit = problems.front().input == StudyInput::Levels
                      ? level
                      : modelInputs()->fieldFor(problems.front().input);
    } else if (p.n < 1 || p.n > kMaxDiagramSampleSize) {
        problem = QStringLiteral("n is %1; the diagram draws every sample of n from 1 to %2.")
                      .arg(p.n)
                      .arg(kMaxDiagramSampleSize);
        culprit = n;
    }
    if (!problem.isEmpty()) {
        showChart(emptyDiagram(QStringLiteral("No diagram: the inputs need correcting")));
        setStatus(problem, true);
        if (culprit) culprit->setFocus(Qt::OtherFocusReason);
        emit drawingEnded();
        return;
    }
    setStatus(QStringLiteral("Deciding %1 samples...").arg((p.n + 1) * (p.n + 2) / 2));
    jobs().start<DeFinettiPicture>(
        [p](const std::atomic<bool>& stop,
            const Jobs::Progress&) mutable -> std::optional<DeFinettiPicture> {
            auto lattice = latticeDecisions(p.n, p.test, p.level, &stop);
            if (!lattice) return std::nullopt;
            p.lattice = std::move(*lattice);
            return std::move(p);
        },
        {},
        [this](std::optional<DeFinettiPicture>& result, const QString& error) {
            finish(result, error);
        });
}

void DeFinettiWindow::finish(std::optional<DeFinettiPicture>& result, const QString& error) {
    if (!error.isEmpty() || !result.has_value()) {
        setStatus(error.isEmpty() ? QStringLiteral("Cancelled.") : error, !error.isEmpty());
        emit drawingEnded();
        return;
    }
    picture_ = std::move(*result);
    showChart(buildDeFinettiChart(*picture_));
    setPictureExportsEnabled(true);
    std::size_t accepted = 0, testable = 0;
    for (const LatticePoint& lp : picture_->lattice) {
        if (!lp.rejected) continue;
        ++testable;
        if (!*lp.rejected) ++accepted;
    }
    QString status = QStringLiteral(
                         "%1 of the %2 samples of n = %3 can be tested; the test does not "
                         "reject %4 of them.")
                         .arg(testable)
                         .arg(picture_->lattice.size())
                         .arg(picture_->n)
                         .arg(accepted);
    if (lastSample_ && !picture_->lastSample)
        status += QStringLiteral(" The main window's last sample has n = %1 and is not drawn.")
                      .arg(sampleSize(*lastSample_));
    setStatus(status);
    emit drawingEnded();
}

QString DeFinettiWindow::writePicture(const QString& path) const {
    if (!picture_) return QStringLiteral("There is no diagram to export.");
    std::unique_ptr<QChart> copy(buildDeFinettiChart(*picture_));
    return saveChart(*copy, path, QSize(800, 700));
}

}  // namespace zyg
