#pragma once

// The de Finetti diagram window: the genotype triangle with the
// Hardy-Weinberg parabola, the model's genotype frequencies, the samples of n
// that the chosen test does not reject, and the main window's last sample.

#include <optional>

#include "charts/StudyWindow.h"
#include "power/DeFinetti.h"

class QComboBox;
class QPushButton;
class QSpinBox;

namespace zyg {

inline constexpr int kDeFinettiHelpContext = 9200;

class DeFinettiWindow final : public StudyWindow {
    Q_OBJECT

public:
    DeFinettiWindow(StudySource source, QString helpFile, QWidget* parent = nullptr);

    // Takes the main window's model, parameters, n, first test and last sample.
    void takeFromMainWindow() override;
    // Reads the inputs and draws the diagram, or shows what is wrong.
    void draw();

    // The picture the chart shows, when it shows one.
    const std::optional<DeFinettiPicture>& picture() const { return picture_; }

    QString writePicture(const QString& path) const override;

signals:
    void drawingEnded();

protected:
    void primaryAction() override { draw(); }
    QPushButton* primaryButton() const override { return drawButton; }
    QWidget* firstInput() const override;

private:
    QSpinBox* n = nullptr;
    QComboBox* test = nullptr;
    QComboBox* level = nullptr;
    QPushButton* drawButton = nullptr;

    void buildControls();
    void inputChanged();
    void finish(std::optional<DeFinettiPicture>& result, const QString& error);

    std::optional<GenotypeCounts> lastSample_;
    std::optional<DeFinettiPicture> picture_;
};

}  // namespace zyg
