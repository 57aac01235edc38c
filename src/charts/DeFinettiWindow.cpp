#include "charts/DeFinettiWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QToolTip>
#include <QVBoxLayout>
#include <QXYSeries>
#include <algorithm>
#include <map>

#include "charts/ChartFiles.h"
#include "charts/DiagramChart.h"
#include "charts/ModelInputs.h"
#include "charts/PowerChart.h"
#include "engine/LocusKind.h"
#include "platform/Services.h"
#include "sources/CountLines.h"
#include "widgets/PlainTextBox.h"

namespace zyg {

namespace {

// The samples box holds a file of up to 1 MiB, in lines of at most
// kLongestSampleLine characters (a marker and three counts need far fewer):
// the text control lays out one very long line for minutes.
constexpr int kLongestSampleLine = 1000;
constexpr int kLargestSampleText = 1 << 20;
// The most of a bad line the status line quotes.
constexpr int kLongestQuote = 60;

QString shortened(const QString& text, int longest) {
    return text.size() <= longest ? text : text.left(longest) + u'\u2026';
}

// The first few of a list of samples, and how many more there are: a status
// line of thousands of names would take the label long to lay out.
QString listed(const QStringList& names) {
    constexpr int kShown = 10;
    if (names.size() <= kShown) return names.join(QStringLiteral(", "));
    return QStringLiteral("%1 and %2 more")
        .arg(names.mid(0, kShown).join(QStringLiteral(", ")))
        .arg(names.size() - kShown);
}

std::uint32_t sampleSize(const GenotypeCounts& c) {
    return static_cast<std::uint32_t>(c.o11) + c.o12 + c.o22;
}

// Fills a choice of tests with those that apply to the kind of locus, in the
// catalogue's order, first "(none)" when the choice may be left empty. The
// test chosen stays when it still applies; otherwise the first item is.
void offerTests(QComboBox* box, LocusKind kind, bool withNone) {
    const QSignalBlocker blocker(box);
    const QVariant chosen = box->currentData();
    box->clear();
    if (withNone) box->addItem(QStringLiteral("(none)"), -1);
    for (HweTest t : locusTests(kind))
        box->addItem(QString::fromStdString(testLabel(t)), static_cast<int>(t));
    box->setCurrentIndex(std::max(0, box->findData(chosen)));
}

// A test that counts the males of an X-linked sample, not only its females.
bool countsMales(HweTest t) { return !appliesTo(t, LocusKind::Autosomal); }

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
    resize(1200, 700);
    takeFromMainWindow();
}

void DeFinettiWindow::buildControls() {
    createCommonControls("Export PN&G...", "Export &SVG...");
    QGroupBox* sample = createSampleGroup();
    createCommandButtons();
    QGroupBox* own = createOwnSamplesGroup();
    QGroupBox* compare = createCompareGroup();
    createChartView(QSize(420, 380));
    showChart(emptyDiagram(kNoDiagramYet));
    createStatusLine();
    layOut(sample, own, compare);
    connectControls();
    setPictureExportsEnabled(false);
}

QGroupBox* DeFinettiWindow::createSampleGroup() {
    auto* sample = new QGroupBox(QStringLiteral("Samples"), this);
    n = wholeField("n", 0, static_cast<int>(maxSampleSize(PowerMethod::Exact)), 30);
    test = new QComboBox(this);
    test->setObjectName(QStringLiteral("test"));
    offerTests(test, LocusKind::Autosomal, false);
    level = levelField(this);
    locus = new QComboBox(this);
    locus->setObjectName(QStringLiteral("locus"));
    for (const LocusKindEntry& e : kLocusKinds)
        locus->addItem(QString::fromUtf8(e.label.data(), static_cast<int>(e.label.size())),
                       static_cast<int>(e.kind));
    pMale = spinField<QDoubleSpinBox>(this, "pMale", kPRange.low, kPRange.high);
    pMale->setDecimals(4);
    pMale->setSingleStep(0.01);
    pMale->setValue(0.5);
    pMale->setEnabled(false);
    pMale->setToolTip(QStringLiteral("The frequency of A1 among the males (X-linked loci)"));
    males = wholeField("males", 0, static_cast<int>(kMaxDiagramSampleSize), 30);
    males->setEnabled(false);
    males->setToolTip(
        QStringLiteral("The number of males (X-linked loci; n counts the females): a test that "
                       "counts the males decides each sample of n females with the males "
                       "expected among these beside it"));
    auto* form = new QFormLayout(sample);
    form->addRow(QStringLiteral("&n:"), n);
    form->addRow(QStringLiteral("T&est:"), test);
    form->addRow(QStringLiteral("&Level:"), level);
    form->addRow(QStringLiteral("Loc&us:"), locus);
    form->addRow(QStringLiteral("M&ales' p:"), pMale);
    form->addRow(QStringLiteral("Males' &count:"), males);
    return sample;
}

void DeFinettiWindow::createCommandButtons() {
    drawButton = pushButton("drawButton", "&Draw");
    drawButton->setDefault(true);
    cancelButton = pushButton("cancelButton", "Cancel");
    cancelButton->setVisible(false);
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setRange(0, 100);
    progress->setVisible(false);
}

QGroupBox* DeFinettiWindow::createOwnSamplesGroup() {
    // The user's own samples, typed or opened, as zygomet-test reads them.
    auto* own = new QGroupBox(QStringLiteral("&Your samples"), this);
    samplesEdit = new PlainTextBox(this);
    samplesEdit->setObjectName(QStringLiteral("samplesEdit"));
    samplesEdit->setLimits(kLongestSampleLine, kLargestSampleText);
    samplesEdit->OnRefused = [this](const QString& why) {
        setStatus(QStringLiteral("Your samples: %1.").arg(why), true);
    };
    samplesEdit->setPlaceholderText(
        QStringLiteral("One per line: AA AB BB, or AA AB BB A B with the males of an X-linked "
                       "marker; a name first if you like"));
    samplesEdit->setTabChangesFocus(true);
    samplesEdit->setFixedHeight(64);
    openSamplesButton = pushButton("openSamplesButton", "&Open samples...");
    auto* ownBox = new QVBoxLayout(own);
    ownBox->addWidget(samplesEdit);
    ownBox->addWidget(openSamplesButton);
    return own;
}

QGroupBox* DeFinettiWindow::createCompareGroup() {
    // Other tests' regions and the lines of quality-control filters.
    auto* compare = new QGroupBox(QStringLiteral("Compare"), this);
    auto* compareForm = new QFormLayout(compare);
    for (std::size_t i = 0; i < outlineTests.size(); ++i) {
        auto* box = new QComboBox(this);
        box->setObjectName(QStringLiteral("outlineTest%1").arg(i + 1));
        offerTests(box, LocusKind::Autosomal, true);
        outlineTests[i] = box;
        compareForm->addRow(QStringLiteral("Region of:"), box);
    }
    minAlleleFrequency = spinField<QDoubleSpinBox>(this, "minAlleleFrequency", 0, 0.49);
    minAlleleFrequency->setDecimals(3);
    minAlleleFrequency->setSingleStep(0.01);
    minAlleleFrequency->setSpecialValueText(QStringLiteral("none"));
    minExpectedCount = spinField<QDoubleSpinBox>(this, "minExpectedCount", 0, 1000);
    minExpectedCount->setDecimals(1);
    minExpectedCount->setSingleStep(1);
    minExpectedCount->setSpecialValueText(QStringLiteral("none"));
    compareForm->addRow(QStringLiteral("Min. allele freq.:"), minAlleleFrequency);
    compareForm->addRow(QStringLiteral("Min. expected count:"), minExpectedCount);
    return compare;
}

void DeFinettiWindow::layOut(QGroupBox* sample, QGroupBox* own, QGroupBox* compare) {
    auto* legend = new QLabel(
        QStringLiteral(
            "Each small square is a possible sample of n genotypes. Blue: the test does not "
            "reject it (the acceptance region); pink: it rejects; grey: it cannot "
            "be computed. The dashed curve holds the Hardy-Weinberg proportions."),
        this);
    legend->setWordWrap(true);
    legend->setMaximumWidth(340);

    // The inputs in two columns, so that they fit a small screen whole.
    auto* first = new QVBoxLayout;
    first->addWidget(modelInputs());
    first->addWidget(takeButton());
    first->addWidget(sample);
    first->addStretch(1);
    auto* second = new QVBoxLayout;
    second->addWidget(own);
    second->addWidget(compare);
    second->addWidget(legend);
    second->addStretch(1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(drawButton, 0, 0);
    buttons->addWidget(pngButton(), 0, 1);
    buttons->addWidget(svgButton(), 1, 0);
    buttons->addWidget(closeButton(), 1, 1);
    second->addLayout(buttons);
    auto* left = new QHBoxLayout;
    left->addLayout(first);
    left->addLayout(second);
    auto* top = new QHBoxLayout;
    top->addWidget(inputPanel(left), 0);
    top->addWidget(chartView(), 1);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(top, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(statusLine(), 1);
    bottom->addWidget(progress);
    bottom->addWidget(cancelButton);
    whole->addLayout(bottom);

    // Take from main window replaces what was typed: Tab reaches it only
    // after the other commands.
    setTabChain(QList<QWidget*>{} << n << test << level << locus << pMale << males << samplesEdit
                                  << openSamplesButton << outlineTests[0] << outlineTests[1]
                                  << outlineTests[2] << minAlleleFrequency << minExpectedCount
                                  << drawButton << pngButton() << svgButton() << takeButton()
                                  << closeButton() << cancelButton);
}

void DeFinettiWindow::connectControls() {
    on(drawButton, &QPushButton::clicked, [this] { draw(); });
    on(cancelButton, &QPushButton::clicked, [this] { cancel(); });
    on(openSamplesButton, &QPushButton::clicked, [this] { openSamples(); });
    for (QComboBox* box : outlineTests)
        on(box, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    for (QDoubleSpinBox* box : {minAlleleFrequency, minExpectedCount})
        on(box, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(modelInputs(), &ModelInputs::changed, [this] { inputChanged(); });
    on(n, &QSpinBox::valueChanged, [this] { inputChanged(); });
    on(test, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    on(level, &QComboBox::currentIndexChanged, [this] { inputChanged(); });
    on(locus, &QComboBox::currentIndexChanged, [this] { locusChanged(); });
    on(pMale, &QDoubleSpinBox::valueChanged, [this] { inputChanged(); });
    on(males, &QSpinBox::valueChanged, [this] { inputChanged(); });
    on(level->lineEdit(), &QLineEdit::editingFinished, [this] { inputChanged(); });
}

void DeFinettiWindow::takeFromMainWindow() {
    if (!source_) return;
    const StudySnapshot s = source_();
    const StudyRequest& r = s.request;
    const std::uint32_t mainN = r.n.empty() ? 0 : r.n.front();
    {
        const QSignalBlocker b1(modelInputs()), b2(n), b3(test), b4(pMale);
        if (const std::vector<ModelSetting> settings = modelSettings(r); !settings.empty()) {
            modelInputs()->setSetting(settings.front());
            // Males of the females' allele frequency until the user says otherwise.
            pMale->setValue(settings.front().p);
        }
        if (mainN >= 1 && mainN <= kMaxDiagramSampleSize) n->setValue(static_cast<int>(mainN));
        const bool gOnly = r.tests.size() == 1 && r.tests.front() == HweTest::G;
        test->setCurrentIndex(test->findData(static_cast<int>(gOnly ? HweTest::G : HweTest::X2)));
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

void DeFinettiWindow::locusChanged() {
    const bool x = xLinked();
    pMale->setEnabled(x);
    males->setEnabled(x);
    const LocusKind kind = x ? LocusKind::XLinked : LocusKind::Autosomal;
    offerTests(test, kind, false);
    for (QComboBox* box : outlineTests) offerTests(box, kind, true);
    inputChanged();
}

bool DeFinettiWindow::xLinked() const {
    return static_cast<LocusKind>(locus->currentData().toInt()) == LocusKind::XLinked;
}

QWidget* DeFinettiWindow::firstInput() const { return modelInputs()->inputs().front(); }

void DeFinettiWindow::draw() {
    jobs().drop();
    picture_.reset();
    extras_ = {};
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
    std::vector<HweTest> compared;
    for (QComboBox* box : outlineTests)
        if (const int t = box->currentData().toInt(); t >= 0) {
            const auto chosen = static_cast<HweTest>(t);
            if (std::find(compared.begin(), compared.end(), chosen) == compared.end())
                compared.push_back(chosen);
        }
    // On X the triangle holds the n females; a test that counts the males
    // decides each of them with the males expected among the males' count.
    std::optional<MaleCounts> latticeMales;
    const auto nm = static_cast<std::uint32_t>(males->value());
    if (xLinked()) {
        p.pMale = pMale->value();
        latticeMales = expectedMales(nm, *p.pMale);
        if (countsMales(p.test) || std::any_of(compared.begin(), compared.end(), countsMales))
            p.males = latticeMales;
    }
    StudyRequest request = StudyRequest::of(p.setting);
    request.n = {p.n};
    request.tests = {p.test};
    request.levels = {p.level};
    // On X the model must have an X-linked form; the autosomal tests test
    // the females alone.
    if (xLinked()) {
        request.locus = LocusKind::XLinked;
        request.pMale = {*p.pMale};
        request.n = {p.n + nm};
        request.males = static_cast<double>(nm) / (p.n + nm);
    }
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
        const StudyInput input = problems.front().input;
        culprit = input == StudyInput::Levels  ? level
                  : input == StudyInput::Locus ? locus
                                               : modelInputs()->fieldFor(input);
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
    // The user's samples: those of the diagram's n and of up to
    // kMaxOtherSizes other sizes are drawn, the others listed.
    // Three counts are a sample's genotypes (on X its females'), five an
    // X-linked sample's females and males.
    const ParsedInput typed =
        parseSampleLines(samplesEdit->toPlainText().toStdString(), LocusKind::XLinked);
    if (!typed.bad.empty()) {
        const BadLine& bad = typed.bad.front();
        showChart(emptyDiagram(QStringLiteral("No diagram: the inputs need correcting")));
        // The line, and the reason that may quote it, as far as a status
        // line can show them.
        setStatus(QStringLiteral("Your samples, line %1 (\"%2\"): %3")
                      .arg(bad.line)
                      .arg(shortened(QString::fromStdString(bad.text), kLongestQuote),
                           shortened(QString::fromStdString(bad.why), 2 * kLongestQuote)),
                  true);
        samplesEdit->setFocus(Qt::OtherFocusReason);
        emit drawingEnded();
        return;
    }
    std::vector<DiagramSample> own;
    std::vector<std::uint32_t> otherSizes;
    QStringList notDrawn;
    for (const InputSample& in : typed.samples) {
        const std::uint64_t size = in.counts.aa + in.counts.ab + in.counts.bb;
        const QString name = in.marker.empty() ? QStringLiteral("line %1").arg(in.line)
                                               : QString::fromStdString(in.marker);
        // The males lie on the base at their allele frequency, whatever the
        // number of females; males alone need no region.
        std::optional<MaleCounts> sampleMales;
        if (in.counts.maleA + in.counts.maleB > 0)
            sampleMales = MaleCounts{in.counts.maleA, in.counts.maleB};
        const bool known = size == p.n || std::find(otherSizes.begin(), otherSizes.end(), size) !=
                                              otherSizes.end();
        if ((size == 0 && !sampleMales) || size > kMaxDiagramSampleSize ||
            (size > 0 && !known && otherSizes.size() >= kMaxOtherSizes)) {
            notDrawn << QStringLiteral("%1 (n = %2)").arg(name).arg(size);
            continue;
        }
        if (size > 0 && !known) otherSizes.push_back(static_cast<std::uint32_t>(size));
        own.push_back({name,
                       GenotypeCounts{static_cast<std::uint16_t>(in.counts.aa),
                                      static_cast<std::uint16_t>(in.counts.ab),
                                      static_cast<std::uint16_t>(in.counts.bb)},
                       std::nullopt, sampleMales});
    }
    DiagramExtras extras;
    extras.minAlleleFrequency = minAlleleFrequency->value();
    extras.minExpectedCount = minExpectedCount->value();

    setStatus(QStringLiteral("Deciding %1 samples...").arg((p.n + 1) * (p.n + 2) / 2));
    progress->setValue(0);
    progress->setVisible(true);
    cancelButton->setVisible(true);
    jobs().start<Drawing>(
        [p, own, otherSizes, compared, extras, notDrawn, latticeMales](
            const std::atomic<bool>& stop,
            const Jobs::Progress& report) mutable -> std::optional<Drawing> {
            // Each lattice is one part of the progress.
            const int parts = 1 + static_cast<int>(compared.size() + otherSizes.size());
            int part = 0, lastShown = -1;
            auto decide = [&](std::uint32_t size, HweTest t) {
                auto lattice = latticeDecisions(
                    size, t, p.level, &stop,
                    [&](int percent) {
                        const int whole = (part * 100 + percent) / parts;
                        if (whole != lastShown) report(lastShown = whole);
                    },
                    latticeMales);
                ++part;
                return lattice;
            };
            auto lattice = decide(p.n, p.test);
            if (!lattice) return std::nullopt;
            p.lattice = std::move(*lattice);
            for (HweTest t : compared) {
                if (t == p.test) continue;  // the lattice shows its region already
                auto other = decide(p.n, t);
                if (!other) return std::nullopt;
                extras.outlines.push_back({t, p.n, std::move(*other)});
            }
            for (std::uint32_t size : otherSizes) {
                auto other = decide(size, p.test);
                if (!other) return std::nullopt;
                extras.outlines.push_back({p.test, size, std::move(*other)});
            }
            // The user's samples are decided on their own counts: on X with
            // their own males, none when only the females were typed.
            for (DiagramSample& d : own)
                d.rejected = latticeMales ? rejectsOnX(p.test, d.counts,
                                                       d.males.value_or(MaleCounts{}), p.level)
                                          : rejects(p.test, d.counts, p.level);
            extras.samples = std::move(own);
            return Drawing{std::move(p), std::move(extras), notDrawn};
        },
        [this](int percent) { progress->setValue(percent); },
        [this](std::optional<Drawing>& result, const QString& error) { finish(result, error); });
}

void DeFinettiWindow::endWork() {
    progress->setVisible(false);
    cancelButton->setVisible(false);
}

void DeFinettiWindow::cancel() {
    if (!computing()) return;
    jobs().drop();
    endWork();
    showChart(emptyDiagram(QStringLiteral("Cancelled: no diagram drawn")));
    setStatus(QStringLiteral("Cancelled. Press Draw (Enter) to start again."));
    emit drawingEnded();
}

void DeFinettiWindow::finish(std::optional<Drawing>& result, const QString& error) {
    endWork();
    if (!error.isEmpty() || !result.has_value()) {
        setStatus(error.isEmpty() ? QStringLiteral("Cancelled.") : error, !error.isEmpty());
        emit drawingEnded();
        return;
    }
    picture_ = std::move(result->picture);
    extras_ = std::move(result->extras);
    showChart(buildDeFinettiChart(*picture_, extras_));
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
    if (picture_->males)
        status += QStringLiteral(" Males fixed at A = %1, B = %2 beside each.")
                      .arg(picture_->males->a)
                      .arg(picture_->males->b);
    if (lastSample_ && !picture_->lastSample)
        status += QStringLiteral(" The main window's last sample has n = %1 and is not drawn.")
                      .arg(sampleSize(*lastSample_));
    if (!extras_.samples.empty()) {
        const auto rejected =
            std::count_if(extras_.samples.begin(), extras_.samples.end(),
                          [](const DiagramSample& d) { return d.rejected && *d.rejected; });
        status += QStringLiteral(" Your samples: %1 drawn, %2 rejected.")
                      .arg(extras_.samples.size())
                      .arg(rejected);
    }
    if (!result->notDrawn.isEmpty())
        status += QStringLiteral(" Not drawn (n = 0, above %1, or more than %2 other sizes): %3.")
                      .arg(kMaxDiagramSampleSize)
                      .arg(kMaxOtherSizes)
                      .arg(listed(result->notDrawn));
    setStatus(status);
    emit drawingEnded();
}

void DeFinettiWindow::openSamples() {
    const std::optional<QString> name = services().files->openFileName(
        this, QStringLiteral("Sample files|*.txt;*.csv;*.tsv|All files|*.*"));
    if (!name) return;
    QFile file(*name);
    // A device or a pipe is not read: its end may never come.
    if (!QFileInfo(*name).isFile() || !file.open(QIODevice::ReadOnly)) {
        setStatus(QStringLiteral("Could not read %1.").arg(*name), true);
        return;
    }
    if (file.size() > kLargestSampleText) {
        setStatus(QStringLiteral("%1 is larger than 1 MB: the diagram draws a few samples; "
                                 "zygomet-test tests many.")
                      .arg(*name),
                  true);
        return;
    }
    const QString text = QString::fromUtf8(file.readAll());
    // A line the box could not lay out quickly is not loaded at all.
    if (const int line = samplesEdit->firstLongLine(text); line != 0) {
        setStatus(QStringLiteral("%1, line %2: longer than %3 characters; a line of samples is a "
                                 "marker and its three or five counts.")
                      .arg(*name)
                      .arg(line)
                      .arg(kLongestSampleLine),
                  true);
        return;
    }
    samplesEdit->setPlainText(text);
    setStatus(QStringLiteral("Read %1; press Draw (Enter) to draw its samples.").arg(*name));
}

QString DeFinettiWindow::tipAt(QPoint viewportPosition) const {
    if (!picture_ || extras_.samples.empty()) return {};
    QChart* shown = chart();
    QXYSeries* anchor = nullptr;
    for (QAbstractSeries* s : shown->series())
        if (s->objectName() == kSamplesAcceptedName || s->objectName() == kSamplesRejectedName ||
            s->objectName() == kSamplesUntestableName || s->objectName() == kSamplesMalesName)
            anchor = qobject_cast<QXYSeries*>(s);
    if (!anchor) return {};
    const QPointF inChart = shown->mapFromScene(chartView()->mapToScene(viewportPosition));
    double best = kPointerReach * kPointerReach + 1e-9;
    QString tip;
    for (const DiagramSample& d : extras_.samples) {
        // The nearer of the females' point and the males' (a sample of males
        // alone has only theirs).
        double distance = best;
        const auto near = [&](TrianglePoint t) {
            const QPointF delta = shown->mapToPosition(QPointF(t.x, t.y), anchor) - inChart;
            distance = std::min(distance, delta.x() * delta.x() + delta.y() * delta.y());
        };
        if (sampleSize(d.counts) > 0) near(trianglePoint(d.counts));
        if (d.males)
            near(malePoint(static_cast<double>(d.males->a) /
                           static_cast<double>(d.males->a + d.males->b)));
        if (distance >= best) continue;
        best = distance;
        const QString decision = !d.rejected   ? QStringLiteral("cannot be tested")
                                 : *d.rejected ? QStringLiteral("rejected")
                                               : QStringLiteral("not rejected");
        const QString maleCounts =
            d.males ? QStringLiteral("; males A %1, B %2").arg(d.males->a).arg(d.males->b)
                    : QString();
        tip = QStringLiteral("%1: AA %2, AB %3, BB %4 (n = %5)%6\n%7 at %8: %9")
                  .arg(d.name)
                  .arg(d.counts.o11)
                  .arg(d.counts.o12)
                  .arg(d.counts.o22)
                  .arg(sampleSize(d.counts))
                  .arg(maleCounts)
                  .arg(d.males ? curveLegendName(picture_->test, LocusKind::XLinked)
                               : powerSeriesName(picture_->test))
                  .arg(picture_->level)
                  .arg(decision);
    }
    return tip;
}

QString DeFinettiWindow::writePicture(const QString& path) const {
    if (!picture_) return QStringLiteral("There is no diagram to export.");
    std::unique_ptr<QChart> copy(buildDeFinettiChart(*picture_, extras_));
    return saveChart(*copy, path, QSize(800, 700));
}

}  // namespace zyg
