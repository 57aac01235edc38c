#pragma once

// The de Finetti diagram window: the genotype triangle with the
// Hardy-Weinberg parabola, the model's genotype frequencies, the samples of n
// that the chosen test does not reject, and the main window's last sample.

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "charts/DeFinetti.h"
#include "charts/StudySnapshot.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace zyg {

class ModelInputs;

inline constexpr int kDeFinettiHelpContext = 9200;

class DeFinettiWindow final : public QDialog {
    Q_OBJECT

public:
    DeFinettiWindow(StudySource source, QString helpFile, QWidget* parent = nullptr);
    ~DeFinettiWindow() override;

    // Takes the main window's model, parameters, n, first test and last sample.
    void takeFromMainWindow();
    // Reads the inputs and draws the diagram, or shows what is wrong.
    void draw();
    bool computing() const { return running_ != nullptr; }

    // The picture the chart shows, when it shows one.
    const std::optional<DeFinettiPicture>& picture() const { return picture_; }
    QChart* chart() const;

    void exportPng();
    void exportSvg();
    QString writePicture(const QString& path) const;

    ModelInputs* modelInputs = nullptr;
    QPushButton* takeButton = nullptr;
    QSpinBox* n = nullptr;
    QComboBox* test = nullptr;
    QComboBox* level = nullptr;
    QPushButton* drawButton = nullptr;
    QPushButton* pngButton = nullptr;
    QPushButton* svgButton = nullptr;
    QPushButton* closeButton = nullptr;
    QChartView* chartView = nullptr;
    QLabel* statusLine = nullptr;

signals:
    void drawingEnded();

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
    void setStatus(const QString& text, bool problem = false);
    void showChart(QChart* chart);
    void finish(unsigned generation, std::shared_ptr<std::optional<DeFinettiPicture>> result,
                QString error);
    void reapJobs();
    void cancelRunning();

    StudySource source_;
    QString helpFile_;
    std::optional<GenotypeCounts> lastSample_;
    std::optional<DeFinettiPicture> picture_;
    std::vector<std::unique_ptr<Job>> jobs_;
    Job* running_ = nullptr;
    unsigned generation_ = 0;
};

}  // namespace zyg
