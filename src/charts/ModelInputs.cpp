#include "charts/ModelInputs.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>

#include "core/NumberText.h"

namespace zyg {

namespace {

QDoubleSpinBox* field(QWidget* parent, const char* name, double lo, double hi, double step,
                      int decimals) {
    auto* f = spinField<QDoubleSpinBox>(parent, name, lo, hi);
    f->setSingleStep(step);
    f->setDecimals(decimals);
    return f;
}

}  // namespace

QComboBox* levelField(QWidget* parent) {
    auto* level = new QComboBox(parent);
    level->setObjectName(QStringLiteral("level"));
    level->setEditable(true);
    level->setInsertPolicy(QComboBox::NoInsert);
    level->addItems({QStringLiteral("5%"), QStringLiteral("1%"), QStringLiteral("0.1%"),
                     QStringLiteral("1e-6"), QStringLiteral("5e-8")});
    return level;
}

std::optional<double> levelOf(const QComboBox* field) {
    std::string text = field->currentText().trimmed().toStdString();
    double scale = 1;
    if (!text.empty() && text.back() == '%') {
        text.pop_back();
        scale = 100;
    }
    // Either decimal point: a level typed in the user's own way is meant.
    auto value = parseDecimal(text, ".");
    if (!value) value = parseDecimal(text, ",");
    if (!value) return std::nullopt;
    return *value / scale;
}

void showLevel(QComboBox* field, double level) {
    for (int i = 0; i < field->count(); ++i) {
        field->setCurrentIndex(i);
        if (levelOf(field) == level) return;
    }
    field->setEditText(QString::fromStdString(shortestText(level)));
}

QString problemSentence(const StudyProblem& pr, const QString& nField) {
    const QString value = QString::fromStdString(shortestText(pr.value));
    const auto range = [&](const QString& name, const QString& allowed) {
        return QStringLiteral("%1 is %2; it must lie %3.").arg(name, value, allowed);
    };
    const QString fitness = QStringLiteral("from 0 to 10");
    switch (pr.input) {
        case StudyInput::P: return range(QStringLiteral("p"), QStringLiteral("from 0.01 to 0.99"));
        case StudyInput::Var:
            return QStringLiteral("var is %1; it must lie from 0 to p*q = %2 at p = %3.")
                .arg(value, QString::fromStdString(boundText(pr.range.high)),
                     QString::fromStdString(shortestText(pr.at)));
        case StudyInput::F:
            return QStringLiteral("f is %1; at p = %2 it must lie from %3 to 1.")
                .arg(value, QString::fromStdString(shortestText(pr.at)),
                     QString::fromStdString(boundText(pr.range.low)));
        case StudyInput::W11:
            if (pr.kind == ProblemKind::AllZero)
                return QStringLiteral(
                    "The fitnesses W11, W12 and W22 are all 0; at least one must be above 0.");
            return range(QStringLiteral("W11"), fitness);
        case StudyInput::W12: return range(QStringLiteral("W12"), fitness);
        case StudyInput::W22: return range(QStringLiteral("W22"), fitness);
        case StudyInput::HetMiscall:
            return range(QStringLiteral("The heterozygote miscall rate"),
                         QStringLiteral("from 0 to 1"));
        case StudyInput::HomMiscall:
            return range(QStringLiteral("The homozygote miscall rate"),
                         QStringLiteral("from 0 to 1"));
        case StudyInput::Null:
            return range(QStringLiteral("The null allele's frequency"),
                         QStringLiteral("from 0 to 0.99"));
        case StudyInput::PMale:
            return range(QStringLiteral("The males' allele frequency"),
                         QStringLiteral("from 0.01 to 0.99"));
        case StudyInput::Locus:
        case StudyInput::Males:
            return QString::fromStdString(studyProblemText(pr)) + QStringLiteral(".");
        case StudyInput::N:
            return QStringLiteral("%1 is %2; it must be from 1 to %3.")
                .arg(nField, value, QString::number(pr.range.high, 'f', 0));
        case StudyInput::AlleleCounts:
            return QStringLiteral("The allele count %1 lies beyond 2n = %2.")
                .arg(value, QString::number(pr.range.high, 'f', 0));
        case StudyInput::Tests: return QStringLiteral("No test is chosen; choose at least one.");
        case StudyInput::Levels:
            return QStringLiteral("The level is %1; it must lie above 0 and at most 0.5.")
                .arg(value);
        case StudyInput::Replicates:
            return QStringLiteral("The number of replicates must be from 1 to %1.")
                .arg(kMaxReplicates);
        case StudyInput::Target:
            return QStringLiteral("The target power must lie above 0 and at most 1.");
        case StudyInput::Points:
            return QStringLiteral(
                       "The study asks for %1 units of work (n + %3 per point); at most %2 are "
                       "allowed.")
                .arg(value, QString::fromStdString(shortestText(pr.bound)),
                     QString::fromStdString(shortestText(kPointWork)));
    }
    return {};
}

ModelInputs::ModelInputs(QWidget* parent) : QGroupBox(QStringLiteral("Model"), parent) {
    setObjectName(QStringLiteral("modelInputs"));
    model = new QComboBox(this);
    model->setObjectName(QStringLiteral("model"));
    model->addItems({QStringLiteral("Hardy-Weinberg"), QStringLiteral("Wahlund"),
                     QStringLiteral("Inbreeding"), QStringLiteral("Natural Selection"),
                     QStringLiteral("Genotyping error"), QStringLiteral("Null allele")});
    p = field(this, "p", 0.01, 0.99, 0.01, 6);  // as many decimals as the main window shows
    // var, f and the fitnesses accept values a model may not take, so that
    // the window can say what is wrong instead of silently changing them.
    var = field(this, "var", 0, 0.25, 0.001, 4);
    // f may be negative (an excess of heterozygotes) down to a bound that
    // depends on p, which the check of the study reports.
    f = field(this, "f", -1, 1, 0.01, 4);
    w11 = field(this, "w11", 0, 10, 0.05, 4);
    w12 = field(this, "w12", 0, 10, 0.05, 4);
    w22 = field(this, "w22", 0, 10, 0.05, 4);
    hetMiscall = field(this, "hetMiscall", 0, 1, 0.005, 4);
    homMiscall = field(this, "homMiscall", 0, 1, 0.005, 4);
    nullFrequency = field(this, "nullFrequency", 0, 0.99, 0.01, 4);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Model:"), model);
    form->addRow(QStringLiteral("&p:"), p);
    form->addRow(QStringLiteral("&var:"), var);
    form->addRow(QStringLiteral("&f:"), f);
    form->addRow(QStringLiteral("W&11:"), w11);
    form->addRow(QStringLiteral("W1&2:"), w12);
    form->addRow(QStringLiteral("W22:"), w22);  // "2" is W12's
    // Every letter of these captions is taken by another control's Alt key:
    // the fields are reached by Tab.
    form->addRow(QStringLiteral("Het. miscall:"), hetMiscall);
    form->addRow(QStringLiteral("Hom. miscall:"), homMiscall);
    form->addRow(QStringLiteral("Null allele:"), nullFrequency);

    connect(model, &QComboBox::currentIndexChanged, this, [this] {
        enableFields();
        emit changed();
    });
    for (QDoubleSpinBox* s : {p, var, f, w11, w12, w22, hetMiscall, homMiscall, nullFrequency})
        connect(s, &QDoubleSpinBox::valueChanged, this, &ModelInputs::changed);
    setSetting(ModelSetting{});
}

ModelSetting ModelInputs::setting() const {
    return {static_cast<GenotypeModel>(model->currentIndex()),
            p->value(),
            var->value(),
            f->value(),
            w11->value(),
            w12->value(),
            w22->value(),
            hetMiscall->value(),
            homMiscall->value(),
            nullFrequency->value()};
}

void ModelInputs::setSetting(const ModelSetting& s) {
    const QSignalBlocker b0(model), b1(p), b2(var), b3(f), b4(w11), b5(w12), b6(w22),
        b7(hetMiscall), b8(homMiscall), b9(nullFrequency);
    model->setCurrentIndex(static_cast<int>(s.model));
    p->setValue(s.p);
    var->setValue(s.var);
    f->setValue(s.f);
    w11->setValue(s.w11);
    w12->setValue(s.w12);
    w22->setValue(s.w22);
    hetMiscall->setValue(s.hetMiscall);
    homMiscall->setValue(s.homMiscall);
    nullFrequency->setValue(s.nullFrequency);
    enableFields();
}

QWidget* ModelInputs::firstInput() const { return model; }

QWidget* ModelInputs::fieldFor(StudyInput input) const {
    switch (input) {
        case StudyInput::P: return p;
        case StudyInput::Var: return var;
        case StudyInput::F: return f;
        case StudyInput::W11: return w11;
        case StudyInput::W12: return w12;
        case StudyInput::W22: return w22;
        case StudyInput::HetMiscall: return hetMiscall;
        case StudyInput::HomMiscall: return homMiscall;
        case StudyInput::Null: return nullFrequency;
        default: return nullptr;
    }
}

QList<QWidget*> ModelInputs::inputs() const {
    return {model, p, var, f, w11, w12, w22, hetMiscall, homMiscall, nullFrequency};
}

void ModelInputs::enableFields() {
    const auto m = static_cast<GenotypeModel>(model->currentIndex());
    var->setEnabled(m == GenotypeModel::Wahlund);
    f->setEnabled(m == GenotypeModel::Inbreeding);
    for (QDoubleSpinBox* w : {w11, w12, w22}) w->setEnabled(m == GenotypeModel::Selection);
    hetMiscall->setEnabled(m == GenotypeModel::Error);
    homMiscall->setEnabled(m == GenotypeModel::Error);
    nullFrequency->setEnabled(m == GenotypeModel::NullAllele);
}

}  // namespace zyg
