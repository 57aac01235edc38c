#pragma once

// The power-curve window: power against the sample size for the chosen tests,
// computed off the window's thread, drawn with the target and the smallest n
// that reaches it, listed in a table, copied and exported.

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "charts/PowerCurve.h"
#include "charts/StudySnapshot.h"

class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace zyg {

class ModelInputs;

inline constexpr int kPowerCurveHelpContext = 9100;

class PowerCurveWindow final : public QDialog {
    Q_OBJECT

public:
    PowerCurveWindow(StudySource source, QString helpFile, QWidget* parent = nullptr);
    ~PowerCurveWindow() override;

    // Takes the main window's model, parameters and tests.
    void takeFromMainWindow();
    // Reads the inputs and starts the computation, or shows what is wrong.
    void compute();
    void cancel();
    bool computing() const { return running_ != nullptr; }

    // The inputs as a request (not checked).
    PowerCurveRequest request() const;
    void setRequest(const PowerCurveRequest& request);

    // The curve the chart shows, when it shows one.
    const std::optional<PowerCurve>& curve() const { return curve_; }
    QChart* chart() const;

    // What the tooltip says of the computed point of this test nearest to n.
    QString describePoint(HweTest test, double n) const;

    void copyTable();
    // Export commands: ask for a file name, then write.
    void exportCsv();
    void exportPng();
    void exportSvg();
    // The same without the dialog; empty text on success, else the fault.
    QString writeCsv(const QString& path) const;
    QString writePicture(const QString& path) const;

    ModelInputs* modelInputs = nullptr;
    QPushButton* takeButton = nullptr;
    QSpinBox* nFrom = nullptr;
    QSpinBox* nTo = nullptr;
    QSpinBox* nStep = nullptr;
    QCheckBox* x2Test = nullptr;
    QCheckBox* gTest = nullptr;
    QCheckBox* x2ccTest = nullptr;
    QCheckBox* exactTest = nullptr;
    QComboBox* level = nullptr;
    QComboBox* method = nullptr;
    QSpinBox* replicates = nullptr;
    QDoubleSpinBox* target = nullptr;
    QPushButton* computeButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* csvButton = nullptr;
    QPushButton* pngButton = nullptr;
    QPushButton* svgButton = nullptr;
    QPushButton* closeButton = nullptr;
    QChartView* chartView = nullptr;
    QTableWidget* table = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* statusLine = nullptr;

signals:
    // A computation ended: with a curve drawn, or cancelled, or failed.
    void computationEnded();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    struct Job {
        std::atomic<bool> cancel{false};
        std::atomic<bool> finished{false};
        std::thread thread;
        unsigned generation = 0;
    };

    void buildControls();
    void inputChanged();
    void showProblem(const RequestProblem& problem);
    void setStatus(const QString& text, bool problem = false);
    void showChart(QChart* chart);
    void fillTable();
    void setExportsEnabled(bool on);
    void finish(unsigned generation, std::shared_ptr<std::optional<PowerCurve>> result,
                QString error);
    void reapJobs();
    void updateMethodFields();

    StudySource source_;
    QString helpFile_;
    std::optional<PowerCurve> curve_;
    std::vector<std::unique_ptr<Job>> jobs_;
    Job* running_ = nullptr;
    unsigned generation_ = 0;
    std::uint32_t seed_ = 1;
};

}  // namespace zyg
