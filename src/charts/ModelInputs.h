#pragma once

// The model and its parameters as a group of inputs, shared by the study
// windows: a model list and the fields p, var, f, W11, W12 and W22, of which
// the chosen model's are enabled.

#include <QGroupBox>

#include "engine/ExactPower.h"

class QComboBox;
class QDoubleSpinBox;
class QFormLayout;

namespace zyg {

// A problem text as a sentence for the status line: a capital first letter
// and a full stop at the end.
QString asSentence(const std::string& text);

class ModelInputs final : public QGroupBox {
    Q_OBJECT

public:
    explicit ModelInputs(QWidget* parent = nullptr);

    ModelSetting setting() const;
    void setSetting(const ModelSetting& setting);
    // The first input of the group, for the tab order.
    QWidget* firstInput() const;
    // The field a problem of the model concerns (p for p, var for var, ...).
    QWidget* fieldFor(const std::string& message) const;

    QComboBox* model = nullptr;
    QDoubleSpinBox* p = nullptr;
    QDoubleSpinBox* var = nullptr;
    QDoubleSpinBox* f = nullptr;
    QDoubleSpinBox* w11 = nullptr;
    QDoubleSpinBox* w12 = nullptr;
    QDoubleSpinBox* w22 = nullptr;

signals:
    void changed();

private:
    void enableFields();
};

}  // namespace zyg
