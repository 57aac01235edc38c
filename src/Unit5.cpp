#include "Unit5.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
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
#include "widgets/RichTextLabel.h"

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

constexpr int kClientWidth = 701;
constexpr int kClientHeight = 431;
constexpr int kVarianceDecimals = 4;

const char* const kHintProperty = "zygometHint";
const char* const kHelpProperty = "zygometHelpContext";

template <class W, class... Args>
W* place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
}

void setHint(QObject* o, const QString& text) { o->setProperty(kHintProperty, text); }
void setHelp(QObject* o, int context) { o->setProperty(kHelpProperty, context); }

bool isEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// The largest value with the variance field's decimals that does not exceed
// p x q: the field then shows a variance that the model can take, never one a
// rounding-up has pushed beyond p.q.
double wahlundMaximum(Extended p) {
    const Extended pq = (1 - p) * p;
    const Extended scale = 10000;  // 10 ^ kVarianceDecimals
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
// Status bar

StatusBar::StatusBar(QWidget* parent) : QFrame(parent) {
    const int widths[2] = {650, 50};
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        auto* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setAlignment((i == 0 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
        panel->setGeometry(x, 1, i == 0 ? widths[i] - 2 : kClientWidth - x, 18);
        panel->setTextFormat(Qt::PlainText);
        x += widths[i];
        panels_[static_cast<std::size_t>(i)] = panel;
    }
}

QString StatusBar::panelText(int panel) const { return panels_.at(panel)->text(); }

void StatusBar::setPanelText(int panel, const QString& text) { panels_.at(panel)->setText(text); }

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

    qApp->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget* old, QWidget* now) { guarded([&] { focusMoved(old, now); }); });
    for (QMenu* menu : {File1, Tools1, Help1})
        connect(menu, &QMenu::hovered, this, [this](QAction* item) {
            guarded([&] { takeHint(item->property(kHintProperty).toString()); });
        });
    FormCreate();
}

TForm1::~TForm1() { qApp->removeEventFilter(this); }

void TForm1::buildMenu() {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setFont(windowFont());

    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    FileRunItem = File1->addAction(menuIcon(MenuPicture::Run), QStringLiteral("&Run"));
    FileRunItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    setHelp(FileRunItem, 6001);
    FileSaveItem = File1->addAction(menuIcon(MenuPicture::Save), QStringLiteral("&Save"));
    FileSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    setHelp(FileSaveItem, 7001);
    FileSaveAsItem = File1->addAction(menuIcon(MenuPicture::SaveAs), QStringLiteral("Save &As"));
    FileSaveAsItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    setHelp(FileSaveAsItem, 7001);
    FileExitItem = File1->addAction(QStringLiteral("E&xit"));
    FileExitItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));

    buildToolsMenu();

    Help1 = MainMenu1->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 =
        Help1->addAction(menuIcon(MenuPicture::HelpTopics), QStringLiteral("Show &Help Topics"));
    Help2->setShortcut(QKeySequence(Qt::Key_F1));
    Help1->setDefaultAction(Help2);
    About1 = Help1->addAction(QStringLiteral("&About"));

    FileRunItem->setObjectName(QStringLiteral("FileRunItem"));
    FileSaveItem->setObjectName(QStringLiteral("FileSaveItem"));
    FileSaveAsItem->setObjectName(QStringLiteral("FileSaveAsItem"));
    FileExitItem->setObjectName(QStringLiteral("FileExitItem"));
    Help2->setObjectName(QStringLiteral("Help2"));
    About1->setObjectName(QStringLiteral("About1"));
    for (QAction* a : {FileRunItem, FileSaveItem, FileSaveAsItem, FileExitItem, Help2, About1}) {
        a->setShortcutContext(Qt::WindowShortcut);
        a->setShortcutVisibleInContextMenu(true);
        addAction(a);  // the shortcuts work while the menu is closed
    }
    for (QMenu* m : {File1, Tools1, Help1}) m->installEventFilter(this);
}

void TForm1::buildToolsMenu() {
    // Alt+T is taken by no caption of the window.
    Tools1 = MainMenu1->addMenu(QStringLiteral("&Tools"));
    Tools1->setObjectName(QStringLiteral("Tools1"));
    ToolsPowerCurveItem = Tools1->addAction(QStringLiteral("&Power Curve..."));
    ToolsPowerCurveItem->setObjectName(QStringLiteral("ToolsPowerCurveItem"));
    setHint(ToolsPowerCurveItem, QStringLiteral("| Draw power against sample size"));
    setHelp(ToolsPowerCurveItem, kPowerCurveHelpContext);
    ToolsDeFinettiItem = Tools1->addAction(QStringLiteral("&De Finetti Diagram..."));
    ToolsDeFinettiItem->setObjectName(QStringLiteral("ToolsDeFinettiItem"));
    setHint(ToolsDeFinettiItem,
            QStringLiteral("| Show the model and the samples the test accepts in the genotype "
                           "triangle"));
    setHelp(ToolsDeFinettiItem, kDeFinettiHelpContext);
    connect(ToolsPowerCurveItem, &QAction::triggered, this,
            [this] { guarded([this] { ToolsPowerCurveItemClick(); }); });
    connect(ToolsDeFinettiItem, &QAction::triggered, this,
            [this] { guarded([this] { ToolsDeFinettiItemClick(); }); });
}

StudySnapshot TForm1::currentStudy() const {
    StudySnapshot s;
    s.spec.model = checkedModel();
    s.spec.p = pAdvSpinEdit->FloatValue();
    s.spec.var = VarAdvSpinEdit->FloatValue();
    s.spec.f = inbAdvSpinEdit->FloatValue();
    s.spec.w11 = W11AdvSpinEdit->FloatValue();
    s.spec.w12 = W12AdvSpinEdit->FloatValue();
    s.spec.w22 = W22AdvSpinEdit->FloatValue();
    const std::optional<std::int32_t> n = parseInteger(nEdit->Text().toStdString());
    s.n = n && *n > 0 ? static_cast<std::uint32_t>(*n) : 0;
    s.x2On = X2CheckBox->isChecked();
    s.gOn = GCheckBox->isChecked();
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

template <class Window>
void bringUp(Window* w, bool wasOpen) {
    if (!wasOpen) w->takeFromMainWindow();
    w->show();
    w->raise();
    w->activateWindow();
}

}  // namespace

void TForm1::ToolsPowerCurveItemClick() {
    const bool open = powerCurveWindow_ && powerCurveWindow_->isVisible();
    if (!powerCurveWindow_)
        powerCurveWindow_ =
            new PowerCurveWindow([this] { return currentStudy(); }, helpFilePath, this);
    bringUp(powerCurveWindow_, open);
}

void TForm1::ToolsDeFinettiItemClick() {
    const bool open = deFinettiWindow_ && deFinettiWindow_->isVisible();
    if (!deFinettiWindow_)
        deFinettiWindow_ =
            new DeFinettiWindow([this] { return currentStudy(); }, helpFilePath, this);
    bringUp(deFinettiWindow_, open);
}

void TForm1::buildControls() {
    QWidget* c = client;
    const QColor windowColour = palette().color(QPalette::Window);

    auto group = [&](const char* name, QRect r, const char* title, const char* hint, int help) {
        auto* g = place<QGroupBox>(c, name, r);
        g->setTitle(QString::fromLatin1(title));
        setHint(g, QString::fromLatin1(hint));
        setHelp(g, help);
        return g;
    };
    // Model frame with its four radio buttons as siblings over it.
    ModelRadioGroup =
        group("ModelRadioGroup", {20, 25, 136, 180}, " Model ", "| Choose one model", 1000);
    auto radio = [&](const char* name, int y, const char* caption, const char* hint, int help) {
        auto* b = place<QRadioButton>(c, name, {40, y, 113, 17});
        b->setText(QString::fromLatin1(caption));
        setHint(b, QString::fromLatin1(hint));
        setHelp(b, help);
        return b;
    };
    HWRadioButton = radio("HWRadioButton", 57, "&Hardy-Weinberg", "| Hardy-Weinberg model", 1001);
    WRadioButton =
        radio("WRadioButton", 95, "&Wahlund", "| Wahlund model (divided population)", 1002);
    IRadioButton = radio("IRadioButton", 132, "&Inbreeding", "| Inbreeding", 1003);
    SRadioButton = radio("SRadioButton", 170, "&Natural Selection", "| Natural selection", 1004);
    HWRadioButton->setChecked(true);

    // Progress bar and message line share a strip below the model frame.
    ProgressBar1 = place<QProgressBar>(c, "ProgressBar1", {20, 230, 480, 20});
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    MessageLabel = place<QLabel>(c, "MessageLabel", {20, 235, 480, 25});
    MessageLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
    MessageLabel->setWordWrap(true);
    MessageLabel->setTextFormat(Qt::PlainText);
    {
        QPalette pal = MessageLabel->palette();
        pal.setColor(QPalette::WindowText, QColor(0x80, 0x00, 0x00));
        MessageLabel->setPalette(pal);
    }

    // Parameters.
    ParameterGroupBox =
        group("ParameterGroupBox", {20, 260, 480, 145}, " Parameters ", "| Set parameters", 2000);
    auto spin = [](QWidget* parent, const char* name, QRect r, int decimals, double min, double max,
                   double value, const char* hint, int help) {
        auto* f = place<NumericSpinField>(parent, name, r);
        f->setPrecision(decimals);
        f->setMinFloatValue(min);
        f->setMaxFloatValue(max);
        f->setMinValue(0);
        f->setIncrementFloat(0.01);
        f->setIncrementFloatPage(1);
        f->setFloatValue(value);
        setHint(f, QString::fromLatin1(hint));
        setHelp(f, help);
        return f;
    };
    auto label = [](QWidget* parent, const char* name, QRect r, const char* caption) {
        auto* l = place<QLabel>(parent, name, r);
        l->setText(QString::fromLatin1(caption));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return l;
    };
    Label1 = label(ParameterGroupBox, "Label1", {8, 60, 30, 21}, "&p : ");
    pAdvSpinEdit = spin(ParameterGroupBox, "pAdvSpinEdit", {40, 60, 105, 21}, 6, 0.01, 0.99, 0.4,
                        "| A1 Allele frequency", 2001);
    Label1->setBuddy(pAdvSpinEdit);

    NoPanPanel = place<QFrame>(ParameterGroupBox, "NoPanPanel", {167, 10, 140, 131});
    varLabel = label(NoPanPanel, "varLabel", {0, 40, 45, 21}, "&var : ");
    VarAdvSpinEdit = spin(NoPanPanel, "VarAdvSpinEdit", {47, 40, 85, 21}, 4, 0, 1, 0.01,
                          "| Wahlund variance", 2002);
    varLabel->setBuddy(VarAdvSpinEdit);
    inbLabel = label(NoPanPanel, "inbLabel", {0, 80, 45, 21}, "&f : ");
    inbLabel->setTextFormat(Qt::PlainText);
    inbLabel->setText(QStringLiteral("f : "));  // no focus target, so no accelerator
    inbAdvSpinEdit = spin(NoPanPanel, "inbAdvSpinEdit", {47, 80, 85, 21}, 4, 0, 1, 0.01,
                          "| Inbreeding coefficient", 2003);

    SelPanel = place<QFrame>(ParameterGroupBox, "SelPanel", {325, 10, 149, 128});
    w11Label = label(SelPanel, "w11Label", {0, 25, 50, 21}, "W11 : ");
    W11AdvSpinEdit = spin(SelPanel, "W11AdvSpinEdit", {52, 25, 85, 21}, 4, 0, 10, 1.1,
                          "| Fitness of genotype 11", 2004);
    w12Label = label(SelPanel, "w12Label", {0, 60, 50, 21}, "W12 : ");
    W12AdvSpinEdit = spin(SelPanel, "W12AdvSpinEdit", {52, 60, 85, 21}, 4, 0, 10, 1,
                          "| Fitness of genotype 12", 2004);
    w22Label = label(SelPanel, "w22Label", {0, 95, 50, 21}, "W22 : ");
    W22AdvSpinEdit = spin(SelPanel, "W22AdvSpinEdit", {52, 95, 85, 21}, 4, 0, 10, 0.91,
                          "| Fitness of genotype 22", 2004);

    // Expected frequencies and counts.
    ExpectedPanel = place<QFrame>(c, "ExpectedPanel", {170, 3, 330, 91});
    setHint(ExpectedPanel, QStringLiteral("| Expected genotypic frequencies (set automatically "
                                          "based on chosen allele frequency)"));
    A1A1Label = place<QLabel>(ExpectedPanel, "A1A1Label", {123, 10, 40, 13});
    A1A1Label->setText(QStringLiteral("A1A1"));
    A1A2Label = place<QLabel>(ExpectedPanel, "A1A2Label", {203, 10, 40, 13});
    A1A2Label->setText(QStringLiteral("A1A2"));
    A2A2Label = place<QLabel>(ExpectedPanel, "A2A2Label", {283, 10, 40, 13});
    A2A2Label->setText(QStringLiteral("A2A2"));
    Label6 = place<QLabel>(ExpectedPanel, "Label6", {2, 32, 104, 13});
    Label6->setText(QStringLiteral("Expected relative : "));
    Label7 = place<QLabel>(ExpectedPanel, "Label7", {2, 64, 104, 13});
    Label7->setText(QStringLiteral("Expected absolute : "));
    auto display = [&](QWidget* parent, const char* name, QRect r, EditType type, int decimals,
                       const char* text, bool enabled) {
        auto* f = place<NumericDisplayField>(parent, name, r);
        f->setEditType(type);
        f->setPrecision(decimals);
        f->setReadOnly(true);
        f->setDisabledColor(windowColour);
        f->setText(QString::fromLatin1(text));
        f->setEnabled(enabled);
        return f;
    };
    const int columns[3] = {106, 186, 266};
    f11AdvEdit = display(ExpectedPanel, "f11AdvEdit", {columns[0], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    f12AdvEdit = display(ExpectedPanel, "f12AdvEdit", {columns[1], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    f22AdvEdit = display(ExpectedPanel, "f22AdvEdit", {columns[2], 28, 62, 21}, etFloat, 6,
                         "0.000000", false);
    e11AdvEdit =
        display(ExpectedPanel, "e11AdvEdit", {columns[0], 60, 62, 21}, etFloat, 4, "0.0000", false);
    e12AdvEdit =
        display(ExpectedPanel, "e12AdvEdit", {columns[1], 60, 62, 21}, etFloat, 4, "0.0000", false);
    e22AdvEdit =
        display(ExpectedPanel, "e22AdvEdit", {columns[2], 60, 62, 21}, etFloat, 4, "0.0000", false);
    for (auto* e : {e11AdvEdit, e12AdvEdit, e22AdvEdit})
        setHint(e, QStringLiteral("| Expected genotypic frequencies (set automatically)"));

    // Observed counts of the last sample.
    AbsolutePanel = place<QFrame>(c, "AbsolutePanel", {170, 100, 330, 30});
    setHint(AbsolutePanel,
            QStringLiteral("| Absolute frequencies observed in the last simulated sample"));
    Label8 = place<QLabel>(AbsolutePanel, "Label8", {2, 8, 104, 13});
    Label8->setText(QStringLiteral("Observed absolute : "));
    o11AdvEdit =
        display(AbsolutePanel, "o11AdvEdit", {columns[0], 4, 62, 21}, etNumeric, 0, "0", false);
    o12AdvEdit =
        display(AbsolutePanel, "o12AdvEdit", {columns[1], 4, 62, 21}, etNumeric, 0, "0", false);
    o22AdvEdit =
        display(AbsolutePanel, "o22AdvEdit", {columns[2], 4, 62, 21}, etNumeric, 0, "0", false);

    // Results.
    ResultsGroupBox = group("ResultsGroupBox", {170, 135, 330, 95}, " Results ", "", 8000);
    {
        QFont bold = windowFont();
        bold.setBold(true);
        ResultsGroupBox->setFont(bold);
    }
    QFont regular = windowFont();
    regular.setBold(false);  // explicitly, or the group's bold would be inherited
    QFont bold = windowFont();
    bold.setBold(true);
    Label10 = place<QLabel>(ResultsGroupBox, "Label10", {184, 14, 70, 13});
    Label10->setText(QStringLiteral("p > 0.05"));
    Label10->setFont(bold);
    Label11 = place<QLabel>(ResultsGroupBox, "Label11", {265, 14, 60, 13});
    Label11->setText(QStringLiteral("p > 0.01"));
    Label11->setFont(bold);
    X2RTFLabel = place<RichTextLabel>(ResultsGroupBox, "X2RTFLabel", {70, 34, 30, 19});
    X2RTFLabel->setRichText(x2ValueCaption());
    X2RTFLabel->setFont(regular);
    GLabel = place<QLabel>(ResultsGroupBox, "GLabel", {70, 69, 30, 13});
    GLabel->setText(QStringLiteral(" G "));
    GLabel->setFont(regular);
    auto result = [&](const char* name, QRect r, bool isBold, const char* hint) {
        auto* f = display(ResultsGroupBox, name, r, etFloat, 4, "0.0000", true);
        f->setFont(isBold ? bold : regular);
        setHint(f, QString::fromLatin1(hint));
        return f;
    };
    X2AdvEdit = result("X2AdvEdit", {105, 31, 62, 21}, false,
                       "| X2 value for last test, data shown above (blank if test cannot be done)");
    X2_05AdvEdit = result("X2_05AdvEdit", {185, 31, 62, 21}, true,
                          "| Proportion of X2 tests significant at the 5% level");
    X2_01AdvEdit = result("X2_01AdvEdit", {265, 31, 62, 21}, true,
                          "| Proportion of X2 tests significant at the 1% level");
    GAdvEdit = result("GAdvEdit", {105, 66, 62, 21}, false,
                      "| G value for last test, data shown above (blank if test cannot be done)");
    G_05AdvEdit = result("G_05AdvEdit", {185, 66, 62, 21}, true,
                         "| Proportion of G tests significant at the 5% level");
    G_01AdvEdit = result("G_01AdvEdit", {265, 66, 62, 21}, true,
                         "| Proportion of G tests significant at the 1% level");

    // Sample size.
    SampleSizeGroupBox =
        group("SampleSizeGroupBox", {520, 25, 160, 90}, " Sample Size ", "| Set sample size", 3000);
    nEdit = place<EditBox>(SampleSizeGroupBox, "nEdit", {49, 22, 60, 21});
    nEdit->setText(QStringLiteral("100"));
    ScrollBar1 =
        place<QScrollBar>(SampleSizeGroupBox, "ScrollBar1", {19, 59, 121, 16}, Qt::Horizontal);
    ScrollBar1->setRange(10, 1000);
    ScrollBar1->setSingleStep(10);
    ScrollBar1->setPageStep(100);
    ScrollBar1->setValue(100);
    ScrollBar1->setFocusPolicy(Qt::StrongFocus);
    ScrollBar1->setInvertedControls(false);  // Right and Page Up make the sample larger

    // Number of replicates.
    NReplicatesGroupBox =
        group("NReplicatesGroupBox", {520, 130, 160, 70}, " Number of replicates ",
              "| Set number of replications of the simulation", 4000);
    NRComboBox = place<EditableComboBox>(NReplicatesGroupBox, "NRComboBox", {42, 28, 75, 21});
    NRComboBox->setItems({QStringLiteral("1"), QStringLiteral("10"), QStringLiteral("100"),
                          QStringLiteral("1000"), QStringLiteral("10000")});
    NRComboBox->setText(QStringLiteral("1000"));

    // Tests.
    TestGroupBox =
        group("TestGroupBox", {520, 210, 160, 76}, " Test ", "| Select at least one test", 5000);
    X2CheckBox = place<QCheckBox>(TestGroupBox, "X2CheckBox", {20, 20, 70, 17});
    X2CheckBox->setText(QStringLiteral("&Pearson's"));
    X2CheckBox->setChecked(true);
    setHelp(X2CheckBox, 5001);
    X2CheckBoxRTFLabel = place<RichTextLabel>(TestGroupBox, "X2CheckBoxRTFLabel", {90, 17, 20, 19});
    X2CheckBoxRTFLabel->setRichText(x2CheckBoxCaption());
    GCheckBox = place<QCheckBox>(TestGroupBox, "GCheckBox", {20, 45, 135, 17});
    GCheckBox->setText(QStringLiteral("&G (Log-likelihood ratio)"));
    setHelp(GCheckBox, 5002);

    // Buttons. None is the default button: Enter presses a button only while
    // it has the focus.
    auto button = [&](const char* name, QRect r, const char* caption, const char* hint, int help) {
        auto* b = place<QPushButton>(c, name, r);
        b->setText(QString::fromLatin1(caption));
        b->setAutoDefault(true);
        b->setDefault(false);
        setHint(b, QString::fromLatin1(hint));
        if (help) setHelp(b, help);
        return b;
    };
    RunButton = button("RunButton", {570, 300, 75, 25}, "&Run", "| Run the simulation", 6001);
    SaveButton =
        button("SaveButton", {520, 335, 75, 25}, "&Save", "| Save the results in a file", 7001);
    SaveAsButton = button("SaveAsButton", {605, 335, 75, 25}, "Save &As",
                          "| Save the results in a new file", 7001);
    ExitButton = button("ExitButton", {570, 370, 75, 25}, "E&xit", "| Exit the program", 0);

    StatusBar1 = place<StatusBar>(c, "StatusBar1", {0, 412, kClientWidth, 19});
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

void TForm1::setTabOrder() {
    const QList<QWidget*> order = {
        HWRadioButton,  WRadioButton,   IRadioButton,   SRadioButton,   pAdvSpinEdit,
        VarAdvSpinEdit, inbAdvSpinEdit, W11AdvSpinEdit, W12AdvSpinEdit, W22AdvSpinEdit,
        nEdit,          ScrollBar1,     NRComboBox,     X2CheckBox,     GCheckBox,
        RunButton,      SaveButton,     SaveAsButton,   ExitButton,     X2AdvEdit,
        X2_05AdvEdit,   X2_01AdvEdit,   GAdvEdit,       G_05AdvEdit,    G_01AdvEdit};
    for (int i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
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
    if (refreshDepth_ > 1) return;
    services().messages->show(MessageKind::Error, text);
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
        if (withMessage) services().messages->show(MessageKind::Information, kVarianceReset);
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
    if (isEnter(key)) {
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
    nEdit->setText(QString::number(ScrollBar1->value()));
    disableSaveCommands();
    refreshParameters();
}

void TForm1::nEditKeyDown(int key) {
    if (isEnter(key)) RunButtonClick();
}
void TForm1::NRComboBoxKeyDown(int key) {
    if (isEnter(key)) RunButtonClick();
}
void TForm1::VarAdvSpinEditKeyDown(int key) {
    if (isEnter(key)) RunButtonClick();
}
void TForm1::inbAdvSpinEditKeyDown(int key) {
    if (isEnter(key)) RunButtonClick();
}
void TForm1::WAdvSpinEditKeyDown(int key) {
    if (isEnter(key)) RunButtonClick();
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
    v.p = pAdvSpinEdit->FloatValue();
    v.var = VarAdvSpinEdit->FloatValue();
    v.f = inbAdvSpinEdit->FloatValue();
    v.w11 = W11AdvSpinEdit->FloatValue();
    v.w12 = W12AdvSpinEdit->FloatValue();
    v.w22 = W22AdvSpinEdit->FloatValue();
    v.nText = nEdit->Text().toStdString();
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
        appendResult(QFile::encodeName(currentFileName).toStdString(),
                     resultLine(resultLineValues(modelIndex)));
        disableSaveCommands();
        return;
    }
    const std::optional<QString> chosen = services().files->saveFileName(this, SaveDialog);
    if (!chosen) return;
    SaveDialog.lastFileName = *chosen;
    // The name is current from here on, even if writing the file fails.
    currentFileName = *chosen;
    createResultsFile(QFile::encodeName(currentFileName).toStdString(), headerLine(),
                      resultLine(resultLineValues(modelIndex)));
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

namespace {

// The part of a hint after its first bar, the blank that follows the bar kept;
// a hint without a bar is shown whole.
QString hintText(const QString& hint) {
    const qsizetype bar = hint.indexOf(u'|');
    return bar < 0 ? hint : hint.mid(bar + 1);
}

}  // namespace

void TForm1::GlobalEnter(QWidget* entered) {
    StatusBar1->setPanelText(0, hintText(entered->property(kHintProperty).toString()));
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

void TForm1::takeHint(const QString& hint) {
    const QString text = hintText(hint);
    if (text == lastTakenHint_) return;
    lastTakenHint_ = text;
    StatusBar1->setPanelText(0, text);
}

void TForm1::pointAtControlUnderMouse() {
    pointingPending_ = false;
    QWidget* w = QApplication::widgetAt(QCursor::pos());
    // The innermost enabled control, or a label lying on it; disabled edit
    // boxes and buttons are passed over for the control that holds them.
    while (w && !w->isEnabled() && !qobject_cast<QLabel*>(w)) w = w->parentWidget();
    // Its hint, or that of its nearest enclosing control that has one.
    QString hint;
    for (; w; w = w->parentWidget()) {
        hint = w->property(kHintProperty).toString();
        if (!hint.isEmpty()) break;
    }
    takeHint(hint);
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
    // The pointer moved onto another control: its hint is taken once the
    // event loop has nothing else to do.
    if ((e->type() == QEvent::Enter || e->type() == QEvent::Leave) && !pointingPending_) {
        pointingPending_ = true;
        QTimer::singleShot(0, this, [this] { guarded([this] { pointAtControlUnderMouse(); }); });
    }
    // F1 in an open menu asks for the topic of the highlighted item: the menu
    // keeps the key from the contents shortcut, then acts on it.
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1) {
        if (auto* menu = qobject_cast<QMenu*>(watched);
            menu && (menu == File1 || menu == Tools1 || menu == Help1)) {
            if (e->type() == QEvent::ShortcutOverride) {
                e->accept();
                return true;
            }
            const QAction* item = menu->activeAction();
            const int context = item ? item->property(kHelpProperty).toInt() : 0;
            menu->close();
            guarded([&] {
                if (context)
                    services().help->showTopic(this, helpFilePath, context);
                else
                    services().help->showContents(this, helpFilePath);
            });
            return true;
        }
    }
    if (e->type() == QEvent::ShortcutOverride || e->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(e);
        if (widget && widget->window() == this && !qobject_cast<QMenu*>(widget)) {
            // The menu shortcuts win over the same keys in a focused field:
            // the field never claims them, and never acts on them while the
            // command is disabled.
            const QKeyCombination combination = key->keyCombination();
            for (QAction* a : {FileRunItem, FileSaveItem, FileSaveAsItem, FileExitItem, Help2}) {
                if (a->shortcut() == QKeySequence(combination)) {
                    if (e->type() == QEvent::KeyPress) e->accept();
                    return true;
                }
            }
        }
    }
    return QWidget::eventFilter(watched, e);
}

}  // namespace zyg
