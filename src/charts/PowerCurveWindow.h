#pragma once

// The power-curve window: power against the sample size for the chosen tests,
// computed off the window's thread, drawn with the target and the smallest n
// that reaches it, listed in a table, copied and exported.

#include <optional>

#include "charts/PowerChart.h"
#include "charts/StudyWindow.h"
#include "power/PowerStudy.h"

class QChart;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QToolButton;
class QAction;

namespace zyg {

inline constexpr int kPowerCurveHelpContext = 9100;

class PowerCurveWindow final : public StudyWindow {
    Q_OBJECT

public:
    PowerCurveWindow(StudySource source, QString helpFile, QWidget* parent = nullptr);

    // Takes the main window's model, parameters and tests.
    void takeFromMainWindow() override;
    bool holdsResult() const override { return curve_.has_value() || solvedFor_.has_value(); }
    // Reads the inputs and starts the computation, or shows what is wrong.
    void compute();
    void cancel();

    // The curve the chart shows, when it shows one.
    const std::optional<StudyResult>& curve() const { return curve_; }

    // One row of the results panel: where a test reaches the target power.
    struct TargetRow {
        HweTest test = HweTest::X2;
        double target = 0.8;
        std::optional<std::uint32_t> firstReaching;  // the smallest n with power >= target
        std::optional<std::uint32_t> staysFrom;      // from here on every n has it
        QString foundBy;                             // the sizes that were searched
        bool solved = false;  // by Solve (every n of its bounds), not from the grid
        // Not reached: the largest power found and the n it was found at.
        double bestPower = 0;
        std::uint32_t bestN = 0;
        // Along a model parameter: the value nearest no departure that
        // reaches the target, and the value from which every later one does
        // (grid answers only).
        std::optional<double> effect{}, effectStays{};
        const ModelParameter* along = nullptr;  // the parameter answered for; none: n
    };
    const std::vector<TargetRow>& targetRows() const { return targetRows_; }
    // Finds where each chosen test reaches the target, with no grid: every n
    // from "n from" to the engine's largest n (or to "n to" when the user
    // bounds it), off the window's thread. The rows go to the results panel
    // and survive a Compute of the same study.
    void solve();

    // The x axis: n (nullptr), or a model parameter the model reads, drawn
    // at one n ("at n") over a range of values; Solve then gives the
    // smallest departure reaching the target.
    void setAlong(const ModelParameter* parameter);
    const ModelParameter* along() const;

    // Keeps the current curves on the chart, greyed and named by their model
    // setting, while the inputs change; at most kMaxKept, the oldest goes first.
    // Draws power among the samples that can be tested (the main window's
    // proportion significant) rather than among all samples.
    void setAmongTestable(bool on);
    void keepCurve();
    void clearKept();
    const std::vector<KeptCurve>& kept() const { return kept_; }
    static constexpr std::size_t kMaxKept = 4;
    // The sizes per decade of a log-spaced range of n.
    static constexpr int kLogSizesPerDecade = 100;

    // What the tooltip says of the computed point of this test nearest to n.
    QString describePoint(HweTest test, double n) const;
    // The tooltip for the pointer at this place of the chart view's viewport:
    // when a test's line passes within kPointerReach pixels, that of its
    // computed point nearest to the pointer; empty otherwise.
    QString tipAt(QPoint viewportPosition) const override;
    static constexpr double kPointerReach = 8;

    void copyTable();
    // Puts the methods paragraph of the last Solve on the clipboard.
    void copySummary();
    const QString& summary() const { return summary_; }
    // Asks for a file name, then writes the table as CSV.
    void exportCsv();
    // The same without the dialog; empty text on success, else the fault.
    QString writeCsv(const QString& path) const;
    QString writePicture(const QString& path) const override;

signals:
    // A computation ended: with a curve drawn, or cancelled, or failed.
    void computationEnded();

protected:
    void primaryAction() override { compute(); }
    QPushButton* primaryButton() const override { return computeButton; }
    void cancelWork() override { cancel(); }
    QWidget* firstInput() const override;

private:
    // The study the inputs describe, or the problem of the window's own
    // range of n (from above to, a step of 0, too many sizes) and the field
    // it concerns.
    struct Inputs {
        StudyRequest request;
        SampleRange range;
        QString problem;
        QWidget* field = nullptr;
    };
    Inputs readInputs() const;
    // The inputs with the study's own check: the first problem and its field.
    Inputs checkedInputs() const;
    void showProgress();
    QString targetText() const;
    std::vector<TargetCrossing> markedCrossings() const;
    std::string csvText() const;
    void writeInputs(const StudySnapshot& study);
    // The window is made group by group: each factory makes one group of
    // controls; layOut places them and connectControls wires them.
    void buildControls();
    QGroupBox* createSizesGroup();
    QGroupBox* createTestsGroup();
    QGroupBox* createStudyGroup();
    QGroupBox* createAxisGroup();
    QGroupBox* createLocusGroup();
    // The locus chosen, and the model's setting with it: on X its males'
    // share and allele frequency.
    LocusKind locusKind() const;
    ModelSetting setting() const;
    void locusChanged();
    // Enables the inputs of the locus chosen: on X the males' fields and the
    // tests that count the males, on an autosome the tests of autosomes only.
    void enableLocusFields();
    void fillAxisChoices();
    void axisChanged();
    void createCommandButtons();
    void createResultTables();
    void layOut(QGroupBox* sizes, QGroupBox* tests, QGroupBox* study, QGroupBox* axis,
                QGroupBox* locusGroup);
    void connectControls();
    void inputChanged();
    void showProblem(const QString& text, QWidget* field);
    void fillTable();
    void fillTargets();
    void redraw();
    QChart* curveChart() const;  // the chart of the curve, as drawn and exported
    void startWork(const StudyRequest& request, bool solving);
    void setExportsEnabled(bool on);
    void finish(std::optional<StudyResult>& result, const QString& error);
    struct Solved {
        std::vector<TargetRow> rows;
        QString summary;
    };
    void finishSolve(std::optional<Solved>& solved, const QString& error);
    void updateMethodFields();
    void updateMoreTestsCaption();
    static QString solvedSummary(const std::vector<TargetRow>& rows);

    QSpinBox* nFrom = nullptr;
    QSpinBox* nTo = nullptr;
    QSpinBox* nStep = nullptr;
    QCheckBox* logN = nullptr;          // n on a logarithmic axis
    QCheckBox* logSpaced = nullptr;     // sizes per decade instead of a step
    QCheckBox* solveBounded = nullptr;  // Solve searches up to "n to" only
    QComboBox* xAxis = nullptr;         // n, or a parameter of the model
    QSpinBox* atN = nullptr;            // the n of a curve along a parameter
    QDoubleSpinBox* effectFrom = nullptr;
    QDoubleSpinBox* effectTo = nullptr;
    QSpinBox* effectPoints = nullptr;
    QCheckBox* x2Test = nullptr;
    QCheckBox* gTest = nullptr;
    QCheckBox* x2ccTest = nullptr;
    QCheckBox* exactTest = nullptr;
    QToolButton* moreTests = nullptr;
    std::vector<QAction*> moreTestActions;
    // The tests that count the males, offered on X.
    std::vector<QCheckBox*> xTests;
    QComboBox* locus = nullptr;
    QDoubleSpinBox* males = nullptr;    // the share of the n people who are male
    QDoubleSpinBox* pMale = nullptr;    // the males' allele frequency...
    QCheckBox* pMaleSameAsP = nullptr;  // ...or the females' p
    QComboBox* level = nullptr;
    QComboBox* method = nullptr;
    QSpinBox* replicates = nullptr;
    QDoubleSpinBox* target = nullptr;
    QComboBox* axisRange = nullptr;  // the power axis: 0 to 1, or fitted
    QComboBox* among = nullptr;      // power among all samples or the testable ones
    QPushButton* computeButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* summaryButton = nullptr;
    QPushButton* csvButton = nullptr;
    QTableWidget* table = nullptr;
    QTableWidget* targetTable = nullptr;
    QPushButton* solveButton = nullptr;
    QPushButton* keepButton = nullptr;
    QPushButton* clearKeptButton = nullptr;
    QProgressBar* progress = nullptr;

    std::optional<StudyResult> curve_;
    SampleRange curveRange_;                       // the range the curve was computed over
    const ModelParameter* curveAlong_ = nullptr;   // the curve's x axis (none: n)
    bool curveLogSpaced_ = false;                  // its sizes are log-spaced
    const ModelParameter* solvedAlong_ = nullptr;  // what the last Solve solved for
    // The last Solve's study and answers, kept while the study stays the same.
    std::optional<StudyRequest> solvedFor_;
    std::vector<TargetRow> solvedRows_;
    QString summary_;  // the methods paragraph of the last Solve
    std::vector<TargetRow> targetRows_;
    std::vector<KeptCurve> kept_;
    bool solving_ = false;  // the running job is a Solve, not a curve
    std::uint32_t seed_ = 1;
};

}  // namespace zyg
