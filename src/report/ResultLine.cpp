#include "report/ResultLine.h"

#include <array>

#include "core/Errors.h"
#include "core/NumberText.h"
#include "core/Types.h"

namespace zyg {

namespace {

constexpr std::size_t kModelWidth = 10;
constexpr std::size_t kColumnWidth = 8;
constexpr int kValueDecimals = 4;
constexpr int kPercentDecimals = 2;
constexpr int kSignificantDigits = 18;
constexpr std::string_view kNotMeasured = "NA";

constexpr std::array<std::string_view, 4> kModelNames = {"H-W", "Wahlund", "Inbreeding",
                                                         "Selection"};

// Right-justifies text in width characters; a longer text is kept whole.
void appendColumn(std::string& line, std::string_view text, std::size_t width = kColumnWidth) {
    if (text.size() < width) line.append(width - text.size(), ' ');
    line += text;
}

void appendReal(std::string& line, Extended value, int decimals) {
    appendColumn(line, formatFixed(value, decimals, kSignificantDigits, "."));
}

// The share of all replicates whose statistic could be computed, in percent.
// With no replicate there is nothing to divide: the run tested nothing, so the
// share is 0, the same as for a test that was off.
Extended okPercentage(std::uint16_t ok, std::uint32_t nrep) {
    if (nrep == 0) return 0;
    const Extended share = Extended(ok) / Extended(nrep);
    return share * 100;
}

}  // namespace

std::string headerLine() {
    std::string line;
    appendColumn(line, "model", kModelWidth);
    for (std::string_view title : {"p", "var", "f", "w11", "w12", "w22", "n", "nrep", "X2>0.05",
                                   "X2>0.01", "G>0.05", "G>0.01", "%X2ok", "%Gok"})
        appendColumn(line, title);
    line += "  ";
    line += kIdentification;
    line += kLineEnd;
    return line;
}

std::string_view modelName(int modelIndex) {
    if (modelIndex < 0 || modelIndex >= static_cast<int>(kModelNames.size()))
        throw CommandError(kRangeCheckError);
    return kModelNames[static_cast<std::size_t>(modelIndex)];
}

std::string resultLine(const ResultLineValues& v) {
    const std::string_view name = modelName(v.modelIndex);  // range-checks the index
    const auto model = static_cast<GenotypeModel>(v.modelIndex);
    std::string line;
    appendColumn(line, name, kModelWidth);
    appendReal(line, v.p, kValueDecimals);

    // The parameters of the other models are written as plain integers.
    if (model == GenotypeModel::Wahlund)
        appendReal(line, v.var, kValueDecimals);
    else
        appendColumn(line, "0");
    if (model == GenotypeModel::Inbreeding)
        appendReal(line, v.f, kValueDecimals);
    else
        appendColumn(line, "0");
    for (double w : {v.w11, v.w12, v.w22}) {
        if (model == GenotypeModel::Selection)
            appendReal(line, w, kValueDecimals);
        else
            appendColumn(line, "1");
    }

    appendColumn(line, v.nText);
    appendColumn(line, v.nrepText);

    // A test that could test no replicate measured no proportion: "NA", which
    // R and pandas read as a missing value, never a figure of another run.
    auto appendProportions = [&line](bool on, std::uint16_t ok, double at05, double at01) {
        if (!on) {
            line.append(2 * kColumnWidth, ' ');
        } else if (ok == 0) {
            appendColumn(line, kNotMeasured);
            appendColumn(line, kNotMeasured);
        } else {
            appendReal(line, at05, kValueDecimals);
            appendReal(line, at01, kValueDecimals);
        }
    };
    appendProportions(v.x2On, v.x2Ok, v.x2At05, v.x2At01);
    appendProportions(v.gOn, v.gOk, v.gAt05, v.gAt01);

    appendReal(line, okPercentage(v.x2Ok, v.nrep), kPercentDecimals);
    appendReal(line, okPercentage(v.gOk, v.nrep), kPercentDecimals);
    line += kLineEnd;
    return line;
}

}  // namespace zyg
