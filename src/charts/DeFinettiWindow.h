#pragma once

// The de Finetti diagram window: the genotype triangle with the
// Hardy-Weinberg parabola, the model's genotype frequencies, the samples of n
// that the chosen test does not reject, and the main window's last sample.

#include <array>
#include <optional>

#include "charts/DiagramChart.h"
#include "charts/PowerChart.h"
#include "charts/StudyWindow.h"
#include "power/DeFinetti.h"

class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace zyg {

class PlainTextBox;

inline constexpr int kDeFinettiHelpContext = 9200;

class DeFinettiWindow final : public StudyWindow {
    Q_OBJECT

public:
    DeFinettiWindow(StudySource source, QString helpFile, QWidget* parent = nullptr);

    // Takes the main window's model, parameters, n, first test and last sample.
    void takeFromMainWindow() override;
    bool holdsResult() const override { return picture_.has_value(); }
    // Reads the inputs and draws the diagram, or shows what is wrong.
    void draw();

    // Stops a drawing under way; the diagram shown stays.
    void cancel();
    // Asks for a file of samples in zygomet-test's input format and puts its
    // lines into the samples field.
    void openSamples();

    // The picture the chart shows, when it shows one, and what is drawn over it.
    const std::optional<DeFinettiPicture>& picture() const { return picture_; }
    const DiagramExtras& extras() const { return extras_; }

    // The tooltip for the pointer at this place of the chart view's viewport:
    // the user's sample drawn nearest to it, within kPointerReach pixels.
    QString tipAt(QPoint viewportPosition) const override;
    static constexpr double kPointerReach = 8;
    // Sample sizes of the user's samples, other than the diagram's, that are
    // drawn with their own region; the samples of any further ones are listed.
    static constexpr std::size_t kMaxOtherSizes = 3;

    QString writePicture(const QString& path) const override;

signals:
    void drawingEnded();

protected:
    void cancelWork() override { cancel(); }
    void primaryAction() override { draw(); }
    QPushButton* primaryButton() const override { return drawButton; }
    QWidget* firstInput() const override;

private:
    QSpinBox* n = nullptr;
    QComboBox* test = nullptr;
    QComboBox* level = nullptr;
    // The kind of locus; on X the triangle holds the females and the males
    // of this allele frequency lie on its base.
    QComboBox* locus = nullptr;
    QDoubleSpinBox* pMale = nullptr;
    // The males of an X-linked sample; the tests that count the males decide
    // each sample of n females with the males expected among these beside it.
    QSpinBox* males = nullptr;
    QPushButton* drawButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QProgressBar* progress = nullptr;
    PlainTextBox* samplesEdit = nullptr;
    QPushButton* openSamplesButton = nullptr;
    std::array<QComboBox*, 3> outlineTests{};
    QDoubleSpinBox* minAlleleFrequency = nullptr;
    QDoubleSpinBox* minExpectedCount = nullptr;

    // The window is made group by group: each factory makes one group of
    // controls; layOut places them and connectControls wires them.
    void buildControls();
    QGroupBox* createSampleGroup();
    void createCommandButtons();
    QGroupBox* createOwnSamplesGroup();
    QGroupBox* createCompareGroup();
    void layOut(QGroupBox* sample, QGroupBox* own, QGroupBox* compare);
    void connectControls();
    void inputChanged();
    void locusChanged();
    bool xLinked() const;
    struct Drawing {
        DeFinettiPicture picture;
        DiagramExtras extras;
        QStringList notDrawn;  // the user's samples left out, with their n
    };
    void finish(std::optional<Drawing>& result, const QString& error);
    void endWork();

    std::optional<GenotypeCounts> lastSample_;
    std::optional<DeFinettiPicture> picture_;
    DiagramExtras extras_;
};

}  // namespace zyg
