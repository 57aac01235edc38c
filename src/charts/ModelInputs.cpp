#include "charts/ModelInputs.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>

namespace zyg {

namespace {

QDoubleSpinBox* field(QWidget* parent, const char* name, double lo, double hi, double step,
                      int decimals) {
    auto* f = new QDoubleSpinBox(parent);
    f->setObjectName(QString::fromLatin1(name));
    f->setRange(lo, hi);
    f->setSingleStep(step);
    f->setDecimals(decimals);
    f->setKeyboardTracking(false);
    f->setAccelerated(true);
    return f;
}

}  // namespace

QString asSentence(const std::string& text) {
    QString s = QString::fromStdString(text).trimmed();
    if (s.isEmpty()) return s;
    s[0] = s[0].toUpper();
    if (!s.endsWith(u'.')) s += u'.';
    return s;
}

ModelInputs::ModelInputs(QWidget* parent) : QGroupBox(QStringLiteral("Model"), parent) {
    setObjectName(QStringLiteral("modelInputs"));
    model = new QComboBox(this);
    model->setObjectName(QStringLiteral("model"));
    model->addItems({QStringLiteral("Hardy-Weinberg"), QStringLiteral("Wahlund"),
                     QStringLiteral("Inbreeding"), QStringLiteral("Natural Selection")});
    p = field(this, "p", 0.01, 0.99, 0.01, 6);  // as many decimals as the main window shows
    // var, f and the fitnesses accept values a model may not take, so that
    // the window can say what is wrong instead of silently changing them.
    var = field(this, "var", 0, 0.25, 0.001, 4);
    f = field(this, "f", 0, 1, 0.01, 4);
    w11 = field(this, "w11", 0, 10, 0.05, 4);
    w12 = field(this, "w12", 0, 10, 0.05, 4);
    w22 = field(this, "w22", 0, 10, 0.05, 4);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Model:"), model);
    form->addRow(QStringLiteral("&p:"), p);
    form->addRow(QStringLiteral("&var:"), var);
    form->addRow(QStringLiteral("&f:"), f);
    form->addRow(QStringLiteral("W&11:"), w11);
    form->addRow(QStringLiteral("W1&2:"), w12);
    form->addRow(QStringLiteral("W22:"), w22);  // "2" is W12's

    connect(model, &QComboBox::currentIndexChanged, this, [this] {
        enableFields();
        emit changed();
    });
    for (QDoubleSpinBox* s : {p, var, f, w11, w12, w22})
        connect(s, &QDoubleSpinBox::valueChanged, this, &ModelInputs::changed);
    setSetting(ModelSetting{});
}

ModelSetting ModelInputs::setting() const {
    ModelSetting s;
    s.model = static_cast<GenotypeModel>(model->currentIndex());
    s.p = p->value();
    s.var = var->value();
    s.f = f->value();
    s.w11 = w11->value();
    s.w12 = w12->value();
    s.w22 = w22->value();
    return s;
}

void ModelInputs::setSetting(const ModelSetting& s) {
    const QSignalBlocker b0(model), b1(p), b2(var), b3(f), b4(w11), b5(w12), b6(w22);
    model->setCurrentIndex(static_cast<int>(s.model));
    p->setValue(s.p);
    var->setValue(s.var);
    f->setValue(s.f);
    w11->setValue(s.w11);
    w12->setValue(s.w12);
    w22->setValue(s.w22);
    enableFields();
}

QWidget* ModelInputs::firstInput() const { return model; }

QWidget* ModelInputs::fieldFor(const std::string& message) const {
    const auto starts = [&](const char* word) { return message.rfind(word, 0) == 0; };
    if (starts("var")) return var;
    if (starts("f ")) return f;
    if (starts("W11") || starts("w11") || message.find("itness") != std::string::npos) return w11;
    if (starts("W12") || starts("w12")) return w12;
    if (starts("W22") || starts("w22")) return w22;
    if (message.find("var") != std::string::npos) return var;
    return p;
}

void ModelInputs::enableFields() {
    const auto m = static_cast<GenotypeModel>(model->currentIndex());
    var->setEnabled(m == GenotypeModel::Wahlund);
    f->setEnabled(m == GenotypeModel::Inbreeding);
    for (QDoubleSpinBox* w : {w11, w12, w22}) w->setEnabled(m == GenotypeModel::Selection);
}

}  // namespace zyg
