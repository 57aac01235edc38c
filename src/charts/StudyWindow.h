#pragma once

// What the study windows share: computations run off the window's thread
// (one current job; a cancelled or replaced one finishes unseen), Enter, F1
// and Esc, the status line, the chart view and the picture exports. The
// controls are private; tests find them by their object names.

#include <QDialog>
#include <functional>
#include <optional>

#include "charts/ExportDialog.h"
#include "charts/Jobs.h"
#include "platform/ErrorBoundary.h"
#include "power/StudyRequest.h"

class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QLayout;
class QSpinBox;

namespace zyg {

class ModelInputs;

// What the study windows take from the main window: its study (one model
// setting, its sample size when it has a legal one, its tests) and the last
// sample of its last run, while that sample is shown.
struct StudySnapshot {
    StudyRequest request;
    std::optional<GenotypeCounts> lastSample;
};

// Reads the main window's study when called.
using StudySource = std::function<StudySnapshot()>;

class StudyWindow : public QDialog {
    Q_OBJECT

public:
    ~StudyWindow() override;

    bool computing() const { return jobs_.running(); }

    // Takes the main window's study into the inputs.
    virtual void takeFromMainWindow() = 0;
    // Shows the window, in front; a window that was closed starts at its
    // first input, and takes the main window's study again unless it was
    // closed with a result shown.
    void bringUp(bool wasOpen);
    // Whether the window shows a result computed from its inputs.
    virtual bool holdsResult() const = 0;
    QChart* chart() const;

    // Export commands: ask for a file name, then write the chart's picture.
    void exportPng();
    void exportSvg();
    // The picture without the dialog; empty text on success, else the fault.
    virtual QString writePicture(const QString& path) const = 0;
    // What resting the pointer at this place of the chart view's viewport
    // shows; nothing by default.
    virtual QString tipAt(QPoint viewportPosition) const;

protected:
    // A window that is not modal, can be maximized and bears its object name
    // and title.
    StudyWindow(StudySource source, QString helpFile, int helpContext, const QString& name,
                const QString& title, QWidget* parent);

    // What Enter does away from a focused push button, and that button itself.
    virtual void primaryAction() = 0;
    virtual QPushButton* primaryButton() const = 0;
    virtual QWidget* firstInput() const = 0;
    // What closing the window stops; by default the running job, unseen.
    virtual void cancelWork() { jobs_.drop(); }

    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void hideEvent(QHideEvent* e) override;

    // The controls every study window has, made alike.
    QPushButton* pushButton(const char* name, const char* caption);
    // The model inputs and the buttons Take from main window, Export PNG,
    // Export SVG and Close, connected to their commands; the captions of the
    // exports carry each window's own accelerators.
    void createCommonControls(const char* pngCaption, const char* svgCaption);
    ModelInputs* modelInputs() const { return modelInputs_; }
    QPushButton* takeButton() const { return takeButton_; }
    QPushButton* pngButton() const { return pngButton_; }
    QPushButton* svgButton() const { return svgButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    void setPictureExportsEnabled(bool on);
    // The inputs' panel: as wide as its content and as tall as it too, up to
    // kTallestInputPanel (what a 1366x768 screen holds beside the title bar,
    // the panel and the status line); beyond that it scrolls up and down
    // rather than squeezing the inputs.
    static constexpr int kTallestInputPanel = 620;
    QWidget* inputPanel(QLayout* content);
    // Tab goes from each widget to the next, the model inputs first.
    void setTabChain(const QList<QWidget*>& after);
    // A spin box of whole numbers or of reals that reports a value only when
    // the user is done typing it.
    QSpinBox* wholeField(const char* name, int low, int high, int value);
    void createChartView(QSize minimum);
    QChartView* chartView() const { return chartView_; }
    QLabel* statusLine() const { return statusLine_; }
    void createStatusLine();
    static constexpr int kStatusLines = 2;  // the most lines the status line shows
    void setStatus(const QString& text, bool problem = false);
    void showChart(QChart* chart);
    // Asks for a file name and writes it; says so in the status line.
    void exportTo(const QString& filter, const QString& extension,
                  const std::function<QString(const QString&)>& write);

    // Connects a signal to work run inside the error boundary.
    template <class Sender, class Signal, class Work>
    void on(Sender* sender, Signal signal, Work work) {
        connect(sender, signal, this, [work] { guarded(work); });
    }

    // The window's background jobs; they stop when the window goes.
    Jobs& jobs() { return jobs_; }

    StudySource source_;

private:
    QString helpFile_;
    int helpContext_;
    ExportNames exportNames_;
    QChartView* chartView_ = nullptr;
    QLabel* statusLine_ = nullptr;
    ModelInputs* modelInputs_ = nullptr;
    QPushButton* takeButton_ = nullptr;
    QPushButton* pngButton_ = nullptr;
    QPushButton* svgButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    Jobs jobs_;
};

}  // namespace zyg
