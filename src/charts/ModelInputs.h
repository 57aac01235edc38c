#pragma once

// The model and its parameters as a group of inputs, shared by the study
// windows: a model list and the fields p, var, f, W11, W12, W22, the two
// miscall rates and the null allele's frequency, of which the chosen model's
// are enabled.

#include <QGroupBox>
#include <optional>

#include "engine/ExactPower.h"
#include "power/StudyRequest.h"

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;

namespace zyg {

// A spin box that reports a value only when the user is done typing it, and
// speeds up while an arrow is held.
template <class Spin>
Spin* spinField(QWidget* parent, const char* name, double low, double high) {
    auto* s = new Spin(parent);
    s->setObjectName(QString::fromLatin1(name));
    s->setRange(low, high);
    s->setKeyboardTracking(false);
    s->setAccelerated(true);
    return s;
}

// An editable list of levels: 5%, 1%, 0.1% and the thresholds of genotyping
// quality control, or any level typed as a number or a percentage.
QComboBox* levelField(QWidget* parent);
// The level the field shows, or nothing when its text is no number.
std::optional<double> levelOf(const QComboBox* field);
// Shows a level in the field.
void showLevel(QComboBox* field, double level);

// A problem of a study request as a sentence for the status line. `nField`
// names the sample-size field the value came from ("n", "n from").
QString problemSentence(const StudyProblem& problem, const QString& nField = QStringLiteral("n"));

class ModelInputs final : public QGroupBox {
    Q_OBJECT

public:
    explicit ModelInputs(QWidget* parent = nullptr);

    ModelSetting setting() const;
    void setSetting(const ModelSetting& setting);
    // The first input of the group, for the tab order.
    QWidget* firstInput() const;
    // The field of a model parameter; nullptr for another input.
    QWidget* fieldFor(StudyInput input) const;
    // The fields in their tab order.
    QList<QWidget*> inputs() const;

signals:
    void changed();

private:
    void enableFields();

    QComboBox* model = nullptr;
    QDoubleSpinBox* p = nullptr;
    QDoubleSpinBox* var = nullptr;
    QDoubleSpinBox* f = nullptr;
    QDoubleSpinBox* w11 = nullptr;
    QDoubleSpinBox* w12 = nullptr;
    QDoubleSpinBox* w22 = nullptr;
    QDoubleSpinBox* hetMiscall = nullptr;
    QDoubleSpinBox* homMiscall = nullptr;
    QDoubleSpinBox* nullFrequency = nullptr;
};

}  // namespace zyg
