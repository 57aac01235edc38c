#include "Unit5.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "About.h"
#include "charts/DeFinettiWindow.h"
#include "charts/ModelInputs.h"
#include "charts/PowerCurveWindow.h"
#include "core/NumberText.h"
#include "engine/Checked.h"
#include "engine/Random.h"
#include "engine/Simulation.h"
#include "platform/ErrorBoundary.h"
#include "platform/Fonts.h"
#include "platform/HelpWindow.h"
#include "platform/Locale.h"
#include "platform/Pictures.h"
#include "report/ResultLine.h"
#include "report/ResultsFile.h"
#include "widgets/EditBox.h"
#include "widgets/EditableComboBox.h"
#include "widgets/NumericDisplayField.h"
#include "widgets/NumericSpinField.h"
#include "widgets/RepeatGuards.h"
#include "widgets/RichTextLabel.h"
#include "widgets/StatusHints.h"

namespace zyg {

namespace {

const QString kUntitled = QStringLiteral("Untitled");
const QString kAtLeastOneTest =
    QStringLiteral("At least one statistical test (X2 or G) MUST be checked");
const QString kFitnessesZero = QStringLiteral("Fitnesses cannot all be zero!");
const QString kZeroFrequency = QStringLiteral(
    "At least one expected relative frequency is zero, therefore the G test CANNOT be done. "
    "\rPlease change parameters, or choose the X2 test only. ");
const QString kVarianceReset = QStringLiteral(
    "The Wahlund variance was set too large and has been reset to its maximum allowed value");

using fields::isEnterKey;

// The largest value with the variance field's decimals that does not exceed
// p x q: the field then shows a variance that the model can take, never one a
// rounding-up has pushed beyond p.q.
double wahlundMaximum(Extended p) {
    const Extended pq = (1 - p) * p;
    const Extended scale = 10000;  // the field shows four decimals
    const Extended floored = std::floor(checkedResult(pq * scale)) / scale;
    const double shown = toDouble(floored);
    // Exact maxima (0.25 for p = 0.5, 0.09 for p = 0.1) keep their value.
    return toDouble(pq) <= shown ? toDouble(pq) : shown;
}

// The text of a count field read as an integer: no integer is the conversion
// error, a negative one the range error. Above `limit` the field is set to the
// limit, which runs its change handler inside, and repainted at once.
template <class Field>
std::uint32_t readCount(Field* field, std::uint32_t limit) {
    const std::uint32_t count = narrowToU32(textToInteger(field->Text().toStdString()));
    if (count <= limit) return count;
    field->setText(QString::number(limit));
    field->repaint();
    return limit;
}

}  // namespace

// ---------------------------------------------------------------------------
// What a run reports, written into the window's fields.

namespace {

void showSample(TForm1& w, const GenotypeCounts& sample) {
    w.o11AdvEdit->showInteger(sample.o11);
    w.o12AdvEdit->showInteger(sample.o12);
    w.o22AdvEdit->showInteger(sample.o22);
}

// A statistic's field shows it when it is positive and is blank otherwise.
void showStatistic(NumericDisplayField* field, Extended statistic) {
    if (statistic > 0)
        field->showFloat(toDouble(statistic));
    else
        field->setText(QString());
}

// A proportion is written only once a replicate could be tested; until then
// the field keeps its text.
void showProportion(NumericDisplayField* field, const std::optional<double>& proportion) {
    if (proportion) field->showFloat(*proportion);
}

void showStatistics(TForm1& w, const ReplicateReport& r, const SimulationSettings& settings) {
    if (settings.x2On) showStatistic(w.X2AdvEdit, r.x2);
    if (settings.gOn) showStatistic(w.GAdvEdit, r.g);
    if (settings.x2On) {
        showProportion(w.X2_05AdvEdit, r.x2p05);
        showProportion(w.X2_01AdvEdit, r.x2p01);
    }
    if (settings.gOn) {
        showProportion(w.G_05AdvEdit, r.gp05);
        showProportion(w.G_01AdvEdit, r.gp01);
    }
}

// A run of at most kProgressThreshold replicates is watched live: every
// replicate is written at once and the X2 fields are repainted, since nothing
// else is painted while the run holds the event loop. A longer run has its
// result panels hidden, so only the progress bar moves; the latest values are
// kept and written only if a fault ends the run (a run that ends normally
// writes its result instead).
class RunPresenter final : public RunObserver {
public:
    RunPresenter(TForm1& w, const SimulationSettings& settings)
        : w_(w), settings_(settings), live_(settings.nrep <= kProgressThreshold) {}

    void sampleDrawn(std::uint32_t, const GenotypeCounts& sample) override {
        if (live_)
            showSample(w_, sample);
        else
            heldSample_ = sample;
    }
    void replicateDone(const ReplicateReport& report) override {
        if (!live_) {
            heldReport_ = report;
            return;
        }
        showStatistics(w_, report, settings_);
        w_.ProgressBar1->setValue(static_cast<int>(report.replicate));
        w_.X2AdvEdit->repaint();
        w_.X2_05AdvEdit->repaint();
        w_.X2_01AdvEdit->repaint();
    }
    void progress(std::uint32_t done, std::uint32_t) override {
        w_.ProgressBar1->setValue(static_cast<int>(done));
    }

    // After a fault: the fields get the last values the run reached.
    void showHeldBack() {
        if (heldSample_) showSample(w_, *heldSample_);
        if (heldReport_) showStatistics(w_, *heldReport_, settings_);
    }

private:
    TForm1& w_;
    const SimulationSettings& settings_;
    const bool live_;
    std::optional<GenotypeCounts> heldSample_;
    std::optional<ReplicateReport> heldReport_;
};

}  // namespace

void TForm1::showRunResult(const RunResult& result) {
    if (result.nrep > 0) {
        showSample(*this, result.lastSample);
        if (result.x2.on) showStatistic(X2AdvEdit, result.lastX2);
        if (result.g.on) showStatistic(GAdvEdit, result.lastG);
    }
    // A test that could test no replicate has no proportions: its fields are
    // emptied rather than left with an earlier run's figures.
    const auto showFinal = [](NumericDisplayField* field, const std::optional<double>& value) {
        if (value)
            field->showFloat(*value);
        else
            field->setText(QString());
    };
    if (result.x2.on) {
        showFinal(X2_05AdvEdit, result.x2.proportion05);
        showFinal(X2_01AdvEdit, result.x2.proportion01);
    }
    if (result.g.on) {
        showFinal(G_05AdvEdit, result.g.proportion05);
        showFinal(G_01AdvEdit, result.g.proportion01);
    }
    e11AdvEdit->showFloat(toDouble(result.lastExpected.e11));
    e12AdvEdit->showFloat(toDouble(result.lastExpected.e12));
    e22AdvEdit->showFloat(toDouble(result.lastExpected.e22));
    AbsolutePanel->setVisible(true);
    ResultsGroupBox->setVisible(true);
    MessageLabel->setVisible(true);
    ProgressBar1->setVisible(false);
    for (QWidget* c : {static_cast<QWidget*>(X2RTFLabel), static_cast<QWidget*>(X2AdvEdit),
                       static_cast<QWidget*>(X2_05AdvEdit), static_cast<QWidget*>(X2_01AdvEdit)})
        c->setVisible(result.x2.on);
    for (QWidget* c : {static_cast<QWidget*>(GLabel), static_cast<QWidget*>(GAdvEdit),
                       static_cast<QWidget*>(G_05AdvEdit), static_cast<QWidget*>(G_01AdvEdit)})
        c->setVisible(result.g.on);
    // The two parts of the message, one per line.
    QStringList parts;
    for (const std::string& part : {result.message.x2Part, result.message.gPart})
        if (!part.empty()) parts << QString::fromStdString(part);
    MessageLabel->setText(parts.join(u'\n'));
    setSaveCommandsEnabled(true);
}

// ---------------------------------------------------------------------------
// Construction

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" Q9 Zygomet"));
    setWindowIcon(windowIcon());
    setFont(windowFont());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    buildMenu();
    layout->setMenuBar(MainMenu1);
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    layout->addWidget(client);
    buildControls();
    wireHandlers();
    setTabOrder();
    move(185, 107);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { guarded([this] { Timer1Timer(); }); });
    Timer1->start();

    hoverHints_ = new HoverHints(StatusBar1, this);
    qApp->installEventFilter(this);
    heldKeys_ = new HeldKeyGuard(this);
    qApp->installEventFilter(heldKeys_);
    focusConnection_ =
        connect(qApp, &QApplication::focusChanged, this,
                [this](QWidget* old, QWidget* now) { guarded([&] { focusMoved(old, now); }); });
    for (QMenu* menu : {File1, Tools1, Help1}) {
        connect(menu, &QMenu::hovered, this,
                [this](QAction* item) { guarded([&] { hoverHints_->take(hintOf(item)); }); });
        // A menu opened from the keyboard has no control under the pointer
        // to take the hint from: it starts with an empty hint line.
        connect(menu, &QMenu::aboutToShow, this, [this] { hoverHints_->clear(); });
    }
    FormCreate();
}

TForm1::~TForm1() {
    // The children are destroyed after this body, when the object is only a
    // QWidget any more; focus moves among them must not reach focusMoved.
    disconnect(focusConnection_);
    qApp->removeEventFilter(heldKeys_);
    qApp->removeEventFilter(this);
}

void TForm1::wireHandlers() {
    auto onClick = [this](QAbstractButton* b, void (TForm1::*handler)()) {
        connect(b, &QAbstractButton::clicked, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    auto onTrigger = [this](QAction* a, void (TForm1::*handler)()) {
        connect(a, &QAction::triggered, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    auto onChecked = [this](QAbstractButton* b, void (TForm1::*handler)()) {
        connect(b, &QAbstractButton::toggled, this, [this, handler](bool on) {
            if (on) guarded([&] { (this->*handler)(); });
        });
    };

    onClick(RunButton, &TForm1::RunButtonClick);
    onClick(SaveButton, &TForm1::SaveButtonClick);
    onClick(SaveAsButton, &TForm1::SaveAsButtonClick);
    onClick(ExitButton, &TForm1::ExitButtonClick);
    onTrigger(FileRunItem, &TForm1::RunButtonClick);
    onTrigger(FileSaveItem, &TForm1::SaveButtonClick);
    onTrigger(FileSaveAsItem, &TForm1::SaveAsButtonClick);
    onTrigger(FileExitItem, &TForm1::ExitButtonClick);
    onTrigger(Help2, &TForm1::Help2Click);
    onTrigger(About1, &TForm1::About1Click);
    onTrigger(ToolsPowerCurveItem, &TForm1::ToolsPowerCurveItemClick);
    onTrigger(ToolsDeFinettiItem, &TForm1::ToolsDeFinettiItemClick);

    onChecked(HWRadioButton, &TForm1::HWRadioButtonClick);
    onChecked(WRadioButton, &TForm1::WRadioButtonClick);
    onChecked(IRadioButton, &TForm1::IRadioButtonClick);
    onChecked(SRadioButton, &TForm1::SRadioButtonClick);
    for (QCheckBox* box : {X2CheckBox, GCheckBox})
        connect(box, &QCheckBox::toggled, this, [this] { guarded([this] { EnterChange(); }); });

    pAdvSpinEdit->OnChange = [this] { pAdvSpinEditChange(); };
    pAdvSpinEdit->OnExit = [this] { pAdvSpinEditExit(); };
    pAdvSpinEdit->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { pAdvSpinEditKeyDown(key); };
    for (NumericSpinField* f :
         {VarAdvSpinEdit, inbAdvSpinEdit, W11AdvSpinEdit, W12AdvSpinEdit, W22AdvSpinEdit})
        f->OnChange = [this] { EnterChange(); };
    VarAdvSpinEdit->OnKeyDown = [this](int key, Qt::KeyboardModifiers) {
        VarAdvSpinEditKeyDown(key);
    };
    inbAdvSpinEdit->OnKeyDown = [this](int key, Qt::KeyboardModifiers) {
        inbAdvSpinEditKeyDown(key);
    };
    for (NumericSpinField* f : {W11AdvSpinEdit, W12AdvSpinEdit, W22AdvSpinEdit})
        f->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { WAdvSpinEditKeyDown(key); };

    nEdit->OnChange = [this] { nEditChange(); };
    nEdit->OnExit = [this] { nEditExit(); };
    nEdit->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { nEditKeyDown(key); };
    connect(ScrollBar1, &QScrollBar::valueChanged, this,
            [this] { guarded([this] { ScrollBar1Change(); }); });

    NRComboBox->OnChange = [this] { EnterChange(); };
    NRComboBox->OnKeyDown = [this](int key, Qt::KeyboardModifiers) { NRComboBoxKeyDown(key); };
}

// ---------------------------------------------------------------------------
// Start-up

void TForm1::FormCreate() { helpFilePath = helpFileFor(QCoreApplication::applicationDirPath()); }

void TForm1::FormShow() {
    HWRadioButton->setChecked(true);
    enableParameterFields(false, false);
    enableFitnessFields(false);
    VarAdvSpinEdit->setMaxFloatValue(wahlundMaximum(pAdvSpinEdit->FloatValue()));
    if (VarAdvSpinEdit->FloatValue() > VarAdvSpinEdit->MaxFloatValue())
        VarAdvSpinEdit->setFloatValue(VarAdvSpinEdit->MaxFloatValue());
    refreshParameters();
}

void TForm1::FormActivate() {
    currentFileName = kUntitled;
    pAdvSpinEdit->setFloatValue(0.4);
    VarAdvSpinEdit->setFloatValue(0.01);
    inbAdvSpinEdit->setFloatValue(0.01);
    W11AdvSpinEdit->setFloatValue(1.1);
    W12AdvSpinEdit->setFloatValue(1);
    W22AdvSpinEdit->setFloatValue(0.91);
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (shown_) return;
    shown_ = true;
    guarded([this] { FormShow(); });
}

bool TForm1::event(QEvent* e) {
    // Qt reports activation again after every modal box and every return
    // from another application; the defaults are loaded on the first only.
    if (e->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        const bool handled = QWidget::event(e);
        guarded([this] { FormActivate(); });
        return handled;
    }
    return QWidget::event(e);
}

// ---------------------------------------------------------------------------
// Parameter refresh

GenotypeModel TForm1::checkedModel() const {
    if (HWRadioButton->isChecked()) return GenotypeModel::HardyWeinberg;
    if (WRadioButton->isChecked()) return GenotypeModel::Wahlund;
    if (IRadioButton->isChecked()) return GenotypeModel::Inbreeding;
    return GenotypeModel::Selection;
}

Fitnesses TForm1::fitnesses() const {
    return {W11AdvSpinEdit->FloatValue(), W12AdvSpinEdit->FloatValue(),
            W22AdvSpinEdit->FloatValue()};
}

void TForm1::showValidationError(const QString& text) {
    // The refresh nested inside the clamp of the sample size repeats the
    // checks of the refresh around it; its messages would only repeat too.
    if (refreshDepth_ > 1 || repeatingChecks_) return;
    showMessage(MessageKind::Error, text);
}

void TForm1::refreshParameters() {
    struct Depth {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } depth(refreshDepth_);
    SimulationSettings& settings = simulationSettings();
    SimulationState& state = simulationState();

    updateNumLockPanel();
    randomize();
    disableSaveCommands();

    const Extended p = pAdvSpinEdit->FloatValue();
    const Extended q = 1 - p;
    VarAdvSpinEdit->setMaxFloatValue(wahlundMaximum(p));
    state.valid = true;

    settings.x2On = X2CheckBox->isChecked();
    settings.gOn = GCheckBox->isChecked();
    if (!settings.x2On && !settings.gOn) {
        showValidationError(kAtLeastOneTest);
        state.valid = false;
    }

    const GenotypeModel model = checkedModel();
    bool computed = true;
    if (model == GenotypeModel::Selection) {
        const Fitnesses w = fitnesses();
        if (w.w11 > 0 || w.w12 > 0 || w.w22 > 0) {
            state.frequencies = modelFrequencies(model, p, q, 0, 0, w);
        } else {
            state.valid = false;
            showValidationError(kFitnessesZero);
            computed = false;
        }
    } else {
        state.frequencies = modelFrequencies(model, p, q, VarAdvSpinEdit->FloatValue(),
                                             inbAdvSpinEdit->FloatValue(), {});
    }
    if (computed && model != GenotypeModel::HardyWeinberg && settings.gOn &&
        (state.frequencies.f11 == 0 || state.frequencies.f12 == 0 || state.frequencies.f22 == 0)) {
        showValidationError(kZeroFrequency);
        state.valid = false;
    }

    f11AdvEdit->showFloat(toDouble(state.frequencies.f11));
    f12AdvEdit->showFloat(toDouble(state.frequencies.f12));
    f22AdvEdit->showFloat(toDouble(state.frequencies.f22));

    const std::uint32_t n = readCount(nEdit, kMaxSampleSize);
    settings.n = n;

    state.expected = expectedCounts(state.frequencies, narrowToU16(n));
    e11AdvEdit->showFloat(toDouble(state.expected.e11));
    e12AdvEdit->showFloat(toDouble(state.expected.e12));
    e22AdvEdit->showFloat(toDouble(state.expected.e22));
    for (QWidget* f : {f11AdvEdit, f12AdvEdit, f22AdvEdit, e11AdvEdit, e12AdvEdit, e22AdvEdit})
        f->repaint();

    const std::uint32_t nrep = readCount(NRComboBox, kMaxReplicates);
    settings.nrep = nrep;

    ProgressBar1->setMaximum(static_cast<int>(nrep));
    if (nrep > kProgressThreshold) {
        AbsolutePanel->hide();
        ResultsGroupBox->hide();
        MessageLabel->hide();
    }
}

void TForm1::enableParameterFields(bool varOn, bool fOn) {
    varLabel->setEnabled(varOn);
    VarAdvSpinEdit->setEnabled(varOn);
    inbLabel->setEnabled(fOn);
    inbAdvSpinEdit->setEnabled(fOn);
}

void TForm1::enableFitnessFields(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{w11Label, W11AdvSpinEdit, w12Label,
                                                      W12AdvSpinEdit, w22Label, W22AdvSpinEdit})
        w->setEnabled(on);
}

void TForm1::setSaveCommandsEnabled(bool on) {
    SaveButton->setEnabled(on);
    SaveAsButton->setEnabled(on);
    FileSaveItem->setEnabled(on);
    FileSaveAsItem->setEnabled(on);
}

void TForm1::disableSaveCommands() { setSaveCommandsEnabled(false); }

void TForm1::hideResults(bool includingObservedCounts) {
    if (includingObservedCounts) AbsolutePanel->hide();
    ResultsGroupBox->hide();
    MessageLabel->hide();
}

// ---------------------------------------------------------------------------
// Input handlers

void TForm1::EnterChange() {
    disableSaveCommands();
    hideResults(false);
}

void TForm1::HWRadioButtonClick() {
    enableParameterFields(false, false);
    enableFitnessFields(false);
    EnterChange();
}

void TForm1::clampWahlundVariance(bool withMessage) {
    if (VarAdvSpinEdit->FloatValue() > VarAdvSpinEdit->MaxFloatValue()) {
        VarAdvSpinEdit->setFloatValue(VarAdvSpinEdit->MaxFloatValue());
        if (withMessage) showMessage(MessageKind::Information, kVarianceReset);
    }
}

void TForm1::WRadioButtonClick() {
    enableParameterFields(true, false);
    enableFitnessFields(false);
    EnterChange();
    VarAdvSpinEdit->setMaxFloatValue(wahlundMaximum(pAdvSpinEdit->FloatValue()));
    clampWahlundVariance(true);
}

void TForm1::IRadioButtonClick() {
    enableParameterFields(false, true);
    enableFitnessFields(false);
    EnterChange();
}

void TForm1::SRadioButtonClick() {
    enableParameterFields(false, false);
    enableFitnessFields(true);
    EnterChange();
}

void TForm1::pAdvSpinEditChange() {
    if (WRadioButton->isChecked())
        VarAdvSpinEdit->setMaxFloatValue(wahlundMaximum(pAdvSpinEdit->FloatValue()));
    disableSaveCommands();
    hideResults(true);
    refreshParameters();
}

void TForm1::pAdvSpinEditExit() {
    const double p = pAdvSpinEdit->FloatValue();
    if (p > pAdvSpinEdit->MaxFloatValue())
        pAdvSpinEdit->setFloatValue(pAdvSpinEdit->MaxFloatValue());
    else if (p < pAdvSpinEdit->MinFloatValue())
        pAdvSpinEdit->setFloatValue(pAdvSpinEdit->MinFloatValue());
    pAdvSpinEdit->repaint();
    if (WRadioButton->isChecked()) clampWahlundVariance(true);
}

void TForm1::pAdvSpinEditKeyDown(int key) {
    if (isEnterKey(key)) {
        pAdvSpinEditExit();
        RunButtonClick();
    } else if (key == Qt::Key_Escape) {
        ExitButtonClick();
    }
}

void TForm1::nEditChange() {
    refreshParameters();
    EnterChange();
    hideResults(true);
}

void TForm1::nEditExit() {
    const std::int32_t n = textToInteger(nEdit->Text().toStdString());
    // The scroll bar covers only 10 to 1000. A legal sample size that lies
    // beyond it stays in the box as typed; only the bar moves as far as it can.
    const bool legal = n >= 0 && static_cast<std::uint32_t>(n) <= kMaxSampleSize;
    // A legal size typed another way ("$FF", "050", "+70", " 50") is written
    // back in plain decimal, the form the results file's n column needs.
    if (legal) nEdit->rewriteText(QString::number(n));
    setScrollBarPosition(n, !legal);
}

void TForm1::setScrollBarPosition(int position, bool writeBack) {
    const int clamped = std::clamp(position, ScrollBar1->minimum(), ScrollBar1->maximum());
    if (clamped == ScrollBar1->value()) return;
    const QSignalBlocker blocker(ScrollBar1);
    ScrollBar1->setValue(clamped);
    if (writeBack) ScrollBar1Change();
}

void TForm1::ScrollBar1Change() {
    const int boxes = messageBoxesShown();
    nEdit->setText(QString::number(ScrollBar1->value()));
    disableSaveCommands();
    // The text's change handler has refreshed already: if that showed a box,
    // this refresh repeats its checks and would only repeat the box.
    repeatingChecks_ = messageBoxesShown() != boxes;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{repeatingChecks_};
    refreshParameters();
}

void TForm1::nEditKeyDown(int key) {
    if (isEnterKey(key)) RunButtonClick();
}
void TForm1::NRComboBoxKeyDown(int key) {
    if (isEnterKey(key)) RunButtonClick();
}
void TForm1::VarAdvSpinEditKeyDown(int key) {
    if (isEnterKey(key)) RunButtonClick();
}
void TForm1::inbAdvSpinEditKeyDown(int key) {
    if (isEnterKey(key)) RunButtonClick();
}
void TForm1::WAdvSpinEditKeyDown(int key) {
    if (isEnterKey(key)) RunButtonClick();
}

// ---------------------------------------------------------------------------
// Run

void TForm1::bringSpinFieldsWithinLimits() {
    // A run uses exactly what leaving the fields would leave in them: p first
    // (with the Wahlund variance pulled down to p.q), then every other field
    // that its model reads.
    pAdvSpinEditExit();
    for (NumericSpinField* f :
         {VarAdvSpinEdit, inbAdvSpinEdit, W11AdvSpinEdit, W12AdvSpinEdit, W22AdvSpinEdit}) {
        if (!f->isEnabled() || f->MinFloatValue() == f->MaxFloatValue()) continue;
        const double value = f->FloatValue();
        if (value < f->MinFloatValue() || value > f->MaxFloatValue()) f->setFloatValue(value);
    }
}

void TForm1::RunButtonClick() {
    bringSpinFieldsWithinLimits();
    refreshParameters();
    if (!simulationState().valid) return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    const SimulationSettings& settings = simulationSettings();
    if (settings.nrep > kProgressThreshold) {
        ProgressBar1->setVisible(true);
        // Nothing else is painted while the run holds the event loop, so the
        // progress bar draws itself as soon as it appears.
        ProgressBar1->repaint();
    }
    RunPresenter presenter(*this, settings);
    RunResult result;
    try {
        result = runSimulation(settings, simulationState(),
                               localeSeparators().decimal.toStdString(), &presenter);
    } catch (...) {
        presenter.showHeldBack();
        throw;
    }
    showRunResult(result);
}

// ---------------------------------------------------------------------------
// Save

ResultLineValues TForm1::resultLineValues(int modelIndex) const {
    const SimulationState& state = simulationState();
    ResultLineValues v;
    v.modelIndex = modelIndex;
    const ModelSetting shown = shownSetting();
    v.p = shown.p;
    v.var = shown.var;
    v.f = shown.f;
    v.w11 = shown.w11;
    v.w12 = shown.w12;
    v.w22 = shown.w22;
    // In plain decimal even while the box still shows it as typed.
    v.nText = std::to_string(textToInteger(nEdit->Text().toStdString()));
    v.nrepText = NRComboBox->Text().toStdString();
    v.x2On = X2CheckBox->isChecked();
    v.gOn = GCheckBox->isChecked();
    // The proportions as the fields show them, rounded to their decimals.
    if (v.x2On) {
        v.x2At05 = X2_05AdvEdit->readFloat();
        v.x2At01 = X2_01AdvEdit->readFloat();
    }
    if (v.gOn) {
        v.gAt05 = G_05AdvEdit->readFloat();
        v.gAt01 = G_01AdvEdit->readFloat();
    }
    v.nrep = simulationSettings().nrep;
    v.x2Ok = state.x2Ok;
    v.gOk = state.gOk;
    return v;
}

void TForm1::SaveButtonClick() {
    const int modelIndex = static_cast<int>(checkedModel());
    if (currentFileName != kUntitled) {
        // A chosen file whose creating save failed was removed again (or
        // left empty): it is created, header first, by the next Save.
        const std::string name = QFile::encodeName(currentFileName).toStdString();
        if (currentFileToCreate_)
            createResultsFile(name, headerLine(), resultLine(resultLineValues(modelIndex)));
        else
            appendResult(name, headerLine(), resultLine(resultLineValues(modelIndex)));
        currentFileToCreate_ = false;
        disableSaveCommands();
        return;
    }
    const std::optional<QString> chosen = services().files->saveFileName(this, SaveDialog);
    if (!chosen) return;
    const QString earlier = SaveDialog.lastFileName;
    SaveDialog.lastFileName = *chosen;
    // The name is current from here on, even if writing the file fails.
    currentFileName = *chosen;
    currentFileToCreate_ = true;
    try {
        createResultsFile(QFile::encodeName(currentFileName).toStdString(), headerLine(),
                          resultLine(resultLineValues(modelIndex)));
    } catch (...) {
        // The dialog opens next in the folder it last wrote to, not in one
        // that refused the file (listing /proc can block on /proc/kmsg).
        const QString file = QFileInfo(*chosen).fileName();
        SaveDialog.lastFileName =
            earlier.isEmpty() ? file : QFileInfo(earlier).dir().filePath(file);
        throw;
    }
    currentFileToCreate_ = false;
    disableSaveCommands();
}

void TForm1::SaveAsButtonClick() {
    currentFileName = kUntitled;
    SaveButtonClick();
}

// ---------------------------------------------------------------------------
// Shell

void TForm1::ExitButtonClick() {
    exitRequested_ = true;
    QCoreApplication::exit(0);
    // Ends the command, and every command that called it, at once.
    throw SilentAbort();
}

void TForm1::Help2Click() { services().help->showContents(this, helpFilePath); }

void TForm1::About1Click() {
    if (aboutBox_) aboutBox_->exec();
}

void TForm1::Timer1Timer() { updateNumLockPanel(); }

void TForm1::updateNumLockPanel() {
    const std::optional<bool> on = services().keyboard->numLockOn();
    StatusBar1->setPanelText(1, on.value_or(false) ? QStringLiteral("NUM") : QString());
}

void TForm1::GlobalEnter(QWidget* entered) {
    StatusBar1->setPanelText(0, hintText(hintOf(entered)));
}

void TForm1::focusMoved(QWidget* old, QWidget* now) {
    // The groups, panels and buttons whose enter handler shows their hint;
    // a group is entered when the focus comes into it from outside. The model
    // radio buttons lie over their frame, not in it, so they never enter it.
    const QWidget* const entering[] = {SampleSizeGroupBox, RunButton,           ModelRadioGroup,
                                       ParameterGroupBox,  NReplicatesGroupBox, AbsolutePanel,
                                       ExitButton,         TestGroupBox,        ResultsGroupBox,
                                       SaveButton,         SaveAsButton,        ExpectedPanel};
    auto within = [](const QWidget* holder, const QWidget* w) {
        return w && (w == holder || holder->isAncestorOf(w));
    };
    for (const QWidget* c : entering) {
        if (within(c, now) && !within(c, old)) GlobalEnter(const_cast<QWidget*>(c));
    }
}

// ---------------------------------------------------------------------------
// Keys

void TForm1::keyPressEvent(QKeyEvent* e) {
    // Esc reaches the Exit button, the window's cancel button, from every
    // control that does not take Esc itself.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        e->accept();
        if (ExitButton->isEnabled()) guarded([this] { ExitButtonClick(); });
        return;
    }
    QWidget::keyPressEvent(e);
}

void TForm1::closeEvent(QCloseEvent* e) {
    // Closing the main window ends the program, whatever else is open.
    QWidget::closeEvent(e);
    if (e->isAccepted()) QCoreApplication::quit();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    followPointerForHint(e);
    if (answerHelpKeyInMenu(watched, e)) return true;
    if (keepMenuShortcutFromField(watched, e)) return true;
    return QWidget::eventFilter(watched, e);
}

void TForm1::followPointerForHint(const QEvent* e) {
    if (e->type() == QEvent::Enter || e->type() == QEvent::Leave) hoverHints_->pointerMoved();
}

bool TForm1::answerHelpKeyInMenu(QObject* watched, QEvent* e) {
    // F1 in an open menu asks for the topic of the highlighted item: the menu
    // keeps the key from the contents shortcut, then acts on it.
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride) return false;
    if (static_cast<QKeyEvent*>(e)->key() != Qt::Key_F1) return false;
    auto* menu = qobject_cast<QMenu*>(watched);
    if (!menu || (menu != File1 && menu != Tools1 && menu != Help1)) return false;
    if (e->type() == QEvent::ShortcutOverride) {
        e->accept();
        return true;
    }
    const QAction* item = menu->activeAction();
    const int context = item ? helpContextOf(item) : 0;
    menu->close();
    guarded([&] {
        if (context)
            services().help->showTopic(this, helpFilePath, context);
        else
            services().help->showContents(this, helpFilePath);
    });
    return true;
}

bool TForm1::keepMenuShortcutFromField(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::ShortcutOverride && e->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || qobject_cast<QMenu*>(widget)) return false;
    // The menu shortcuts win over the same keys in a focused field: the field
    // never claims them, and never acts on them while the command is disabled.
    const QKeySequence pressed(static_cast<QKeyEvent*>(e)->keyCombination());
    for (QAction* a : {FileRunItem, FileSaveItem, FileSaveAsItem, FileExitItem, Help2}) {
        if (a->shortcut() == pressed) {
            if (e->type() == QEvent::KeyPress) e->accept();
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Tools

ModelSetting TForm1::shownSetting() const {
    return {checkedModel(),
            pAdvSpinEdit->FloatValue(),
            VarAdvSpinEdit->FloatValue(),
            inbAdvSpinEdit->FloatValue(),
            W11AdvSpinEdit->FloatValue(),
            W12AdvSpinEdit->FloatValue(),
            W22AdvSpinEdit->FloatValue()};
}

StudySnapshot TForm1::currentStudy() const {
    StudySnapshot s;
    s.request = StudyRequest::of(shownSetting());
    // The sample size when the field holds one; none otherwise.
    const std::optional<std::int32_t> n = parseInteger(nEdit->Text().toStdString());
    s.request.n.clear();
    if (n && *n > 0) s.request.n.push_back(static_cast<std::uint32_t>(*n));
    s.request.tests.clear();
    if (X2CheckBox->isChecked()) s.request.tests.push_back(HweTest::X2);
    if (GCheckBox->isChecked()) s.request.tests.push_back(HweTest::G);
    // The last sample is the one the observed-count fields show: from a run
    // until p or n changes.
    if (!AbsolutePanel->isHidden()) {
        const auto count = [](const NumericDisplayField* f) {
            return parseInteger(f->text().toStdString());
        };
        const auto o11 = count(o11AdvEdit), o12 = count(o12AdvEdit), o22 = count(o22AdvEdit);
        const auto fits = [](const std::optional<std::int32_t>& c) {
            return c && *c >= 0 && *c <= static_cast<std::int32_t>(kMaxSampleSize);
        };
        if (fits(o11) && fits(o12) && fits(o22) && *o11 + *o12 + *o22 > 0)
            s.lastSample =
                GenotypeCounts{static_cast<std::uint16_t>(*o11), static_cast<std::uint16_t>(*o12),
                               static_cast<std::uint16_t>(*o22)};
    }
    return s;
}

namespace {

// Opens a study window, made the first time, and brings it to the front.
template <class Window>
void bringUpStudyWindow(Window*& window, TForm1& form, const QString& helpFile) {
    const bool open = window && window->isVisible();
    if (!window) window = new Window([&form] { return form.currentStudy(); }, helpFile, &form);
    window->bringUp(open);
}

}  // namespace

void TForm1::ToolsPowerCurveItemClick() {
    const bool made = powerCurveWindow_ != nullptr;
    bringUpStudyWindow(powerCurveWindow_, *this, helpFilePath);
    // The main window counts the proportion significant among the samples it
    // could test: the curve opens on the same meaning.
    if (!made) powerCurveWindow_->setAmongTestable(true);
}

void TForm1::ToolsDeFinettiItemClick() {
    bringUpStudyWindow(deFinettiWindow_, *this, helpFilePath);
}

}  // namespace zyg
