#pragma once

// The program's one window: every input of a simulation, every displayed
// value and every command. Its handlers keep the parameters consistent,
// refresh the engine's settings from what the window shows, run the
// simulation and save its results.

#include <QFrame>
#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

#include "charts/StudyWindow.h"
#include "core/Types.h"
#include "engine/Models.h"
#include "platform/Services.h"
#include "report/ResultLine.h"
#include "widgets/StatusHints.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace zyg {

class EditBox;
class EditableComboBox;
class HeldKeyGuard;
class HoverHints;
class NumericDisplayField;
class NumericSpinField;
class RichTextLabel;
class TAboutBox;
class PowerCurveWindow;
class DeFinettiWindow;
struct RunResult;

class TForm1 final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 701;
    static constexpr int kClientHeight = 431;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The About box that Help > About shows (created at start-up, not owned).
    void setAboutBox(TAboutBox* box) { aboutBox_ = box; }

    // ---- Controls, named by role and kind ----
    QWidget* client = nullptr;  // the 701 x 431 client area
    QMenuBar* MainMenu1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* FileRunItem = nullptr;
    QAction* FileSaveItem = nullptr;
    QAction* FileSaveAsItem = nullptr;
    QAction* FileExitItem = nullptr;
    QMenu* Tools1 = nullptr;
    QAction* ToolsPowerCurveItem = nullptr;
    QAction* ToolsDeFinettiItem = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* About1 = nullptr;

    QGroupBox* ModelRadioGroup = nullptr;
    QRadioButton* HWRadioButton = nullptr;
    QRadioButton* WRadioButton = nullptr;
    QRadioButton* IRadioButton = nullptr;
    QRadioButton* SRadioButton = nullptr;

    QGroupBox* ParameterGroupBox = nullptr;
    QLabel* Label1 = nullptr;
    NumericSpinField* pAdvSpinEdit = nullptr;
    QFrame* NoPanPanel = nullptr;
    QLabel* varLabel = nullptr;
    NumericSpinField* VarAdvSpinEdit = nullptr;
    QLabel* inbLabel = nullptr;
    NumericSpinField* inbAdvSpinEdit = nullptr;
    QFrame* SelPanel = nullptr;
    QLabel* w11Label = nullptr;
    NumericSpinField* W11AdvSpinEdit = nullptr;
    QLabel* w12Label = nullptr;
    NumericSpinField* W12AdvSpinEdit = nullptr;
    QLabel* w22Label = nullptr;
    NumericSpinField* W22AdvSpinEdit = nullptr;

    QGroupBox* SampleSizeGroupBox = nullptr;
    EditBox* nEdit = nullptr;
    QScrollBar* ScrollBar1 = nullptr;

    QGroupBox* NReplicatesGroupBox = nullptr;
    EditableComboBox* NRComboBox = nullptr;

    QGroupBox* TestGroupBox = nullptr;
    QCheckBox* X2CheckBox = nullptr;
    RichTextLabel* X2CheckBoxRTFLabel = nullptr;
    QCheckBox* GCheckBox = nullptr;

    QFrame* ExpectedPanel = nullptr;
    QLabel* A1A1Label = nullptr;
    QLabel* A1A2Label = nullptr;
    QLabel* A2A2Label = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    NumericDisplayField* f11AdvEdit = nullptr;
    NumericDisplayField* f12AdvEdit = nullptr;
    NumericDisplayField* f22AdvEdit = nullptr;
    NumericDisplayField* e11AdvEdit = nullptr;
    NumericDisplayField* e12AdvEdit = nullptr;
    NumericDisplayField* e22AdvEdit = nullptr;

    QFrame* AbsolutePanel = nullptr;
    QLabel* Label8 = nullptr;
    NumericDisplayField* o11AdvEdit = nullptr;
    NumericDisplayField* o12AdvEdit = nullptr;
    NumericDisplayField* o22AdvEdit = nullptr;

    QGroupBox* ResultsGroupBox = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    RichTextLabel* X2RTFLabel = nullptr;
    QLabel* GLabel = nullptr;
    NumericDisplayField* X2AdvEdit = nullptr;
    NumericDisplayField* X2_05AdvEdit = nullptr;
    NumericDisplayField* X2_01AdvEdit = nullptr;
    NumericDisplayField* GAdvEdit = nullptr;
    NumericDisplayField* G_05AdvEdit = nullptr;
    NumericDisplayField* G_01AdvEdit = nullptr;

    QProgressBar* ProgressBar1 = nullptr;
    QLabel* MessageLabel = nullptr;

    QPushButton* RunButton = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* SaveAsButton = nullptr;
    QPushButton* ExitButton = nullptr;

    StatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;

    // The save dialog: one for the window's lifetime, so it opens with the
    // last name chosen in it.
    SaveDialogRequest SaveDialog;

    // The current results file, or "Untitled" when none is current.
    QString currentFileName;
    // Whether the current file's creating save has yet to succeed.
    bool currentFileToCreate_ = false;
    // The help file, set when the window is created.
    QString helpFilePath;

    // ---- Start-up ----
    void FormCreate();
    void FormShow();
    void FormActivate();

    // ---- Parameter refresh and input handling ----
    void refreshParameters();
    void enableParameterFields(bool varOn, bool fOn);
    void enableFitnessFields(bool on);
    void EnterChange();
    void HWRadioButtonClick();
    void WRadioButtonClick();
    void IRadioButtonClick();
    void SRadioButtonClick();
    void pAdvSpinEditChange();
    void pAdvSpinEditExit();
    void pAdvSpinEditKeyDown(int key);
    void nEditChange();
    void nEditExit();
    void nEditKeyDown(int key);
    void ScrollBar1Change();
    void NRComboBoxKeyDown(int key);
    void VarAdvSpinEditKeyDown(int key);
    void inbAdvSpinEditKeyDown(int key);
    void WAdvSpinEditKeyDown(int key);

    // ---- Commands ----
    void RunButtonClick();
    void SaveButtonClick();
    void SaveAsButtonClick();
    void ExitButtonClick();
    void Help2Click();
    void About1Click();
    void Timer1Timer();
    void GlobalEnter(QWidget* entered);

    // The model of the checked radio button.
    GenotypeModel checkedModel() const;
    // The study as the window shows it: model, parameters, sample size, tests,
    // and the last sample of the last run while the window shows it. Reads
    // the fields only; changes nothing.
    StudySnapshot currentStudy() const;
    // The model and parameters the fields show.
    ModelSetting shownSetting() const;
    // Tools: opens the study window, or brings the open one to the front.
    void ToolsPowerCurveItemClick();
    void ToolsDeFinettiItemClick();
    PowerCurveWindow* powerCurveWindow() const { return powerCurveWindow_; }
    DeFinettiWindow* deFinettiWindow() const { return deFinettiWindow_; }
    // Whether Exit asked the event loop to end.
    bool exitRequested() const { return exitRequested_; }

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    void buildMenu();
    void buildToolsMenu();
    void wireHandlers();
    void setTabOrder();
    void disableSaveCommands();
    void setSaveCommandsEnabled(bool on);
    void hideResults(bool includingObservedCounts);
    void showValidationError(const QString& text);
    void updateNumLockPanel();
    void setScrollBarPosition(int position, bool writeBack);
    void bringSpinFieldsWithinLimits();
    void clampWahlundVariance(bool withMessage);
    void focusMoved(QWidget* old, QWidget* now);
    // The three parts of the application-wide event filter.
    void followPointerForHint(const QEvent* e);
    bool answerHelpKeyInMenu(QObject* watched, QEvent* e);
    bool keepMenuShortcutFromField(QObject* watched, QEvent* e);
    Fitnesses fitnesses() const;
    ResultLineValues resultLineValues(int modelIndex) const;
    void showRunResult(const RunResult& result);

    TAboutBox* aboutBox_ = nullptr;
    PowerCurveWindow* powerCurveWindow_ = nullptr;
    DeFinettiWindow* deFinettiWindow_ = nullptr;
    bool shown_ = false;
    bool activated_ = false;
    bool exitRequested_ = false;
    int refreshDepth_ = 0;
    bool repeatingChecks_ = false;  // a refresh that repeats one just done
    HoverHints* hoverHints_ = nullptr;
    HeldKeyGuard* heldKeys_ = nullptr;
    QMetaObject::Connection focusConnection_;
};

}  // namespace zyg
