#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "core/Csv.h"
#include "core/NumberText.h"
#include "power/PowerStudy.h"
#include "report/ResultLine.h"
#include "report/ResultsFile.h"

namespace zyg {

namespace {

bool sameSetting(const ModelSetting& a, const ModelSetting& b) {
    if (a.model != b.model || a.locus != b.locus || a.males != b.males) return false;
    for (const ModelParameter& q : modelParameters())
        if (q.get(a) != q.get(b)) return false;
    return true;
}

// The model's own parameters for a table, one word so that awk and column
// split the table: "var=0.01", "f=0.05", "w=1.1/1/0.91"; "-" for a model
// with none (p, which every model reads, has a column of its own).
std::string parameterText(const ModelSetting& m) {
    std::string text;
    for (const ModelParameter& q : modelParameters()) {
        if (!q.model || *q.model != m.model) continue;
        text += text.empty() ? std::string(q.word) + "=" : "/";
        text += shortestText(q.get(m));
    }
    return text.empty() ? "-" : text;
}

// Columns of text, each as wide as its widest cell; column c is aligned left
// where align[c] is 'L', right otherwise.
std::string alignedTable(const std::vector<std::vector<std::string>>& rows,
                         std::string_view align) {
    std::vector<std::size_t> width;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c) width.push_back(0);
            width[c] = std::max(width[c], row[c].size());
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) line += "  ";
            const std::string pad(width[c] - row[c].size(), ' ');
            line += c < align.size() && align[c] == 'L' ? row[c] + pad : pad + row[c];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string proportion(double v) { return proportionText(v, 6); }

// The proportion as the window's field shows it (4 decimals) and Save reads
// it back.
double shownProportion(std::uint32_t above, std::uint32_t tested) {
    if (tested == 0) return 0;
    const Extended value = static_cast<Extended>(above) / static_cast<Extended>(tested);
    return parseDecimal(formatFixed(static_cast<double>(value), 4, 18, "."), ".").value_or(0);
}

}  // namespace

std::vector<TargetCrossing> targetCrossings(const std::vector<PowerPoint>& points, double target) {
    struct Group {
        TargetCrossing crossing;
        std::vector<std::pair<std::uint32_t, double>> curve;  // n, power
    };
    std::vector<Group> groups;
    for (const PowerPoint& p : points) {
        auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
            return g.crossing.test == p.test && g.crossing.level == p.level &&
                   g.crossing.alleleCount == p.alleleCount &&
                   sameSetting(g.crossing.model, p.model);
        });
        if (it == groups.end()) {
            groups.push_back({{p.model, p.test, p.level, p.alleleCount, {}, {}}, {}});
            it = groups.end() - 1;
        }
        it->curve.emplace_back(p.n, p.power);
    }
    std::vector<TargetCrossing> out;
    for (Group& g : groups) {
        std::stable_sort(g.curve.begin(), g.curve.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [n, power] : g.curve)
            if (power >= target) {
                g.crossing.firstReaching = n;
                break;
            }
        for (auto it = g.curve.rbegin(); it != g.curve.rend() && it->second >= target; ++it)
            g.crossing.staysFrom = it->first;
        out.push_back(g.crossing);
    }
    return out;
}

std::string studyCsv(const std::vector<PowerPoint>& points) {
    // The parameters every row carries come after the model; the rates of the
    // quality-control models, added later, close the row and are empty under
    // the other models.
    const auto parameterColumns = [](bool trailing) {
        std::string text;
        for (const ModelParameter& q : modelParameters())
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict)
            // on a literal plus a temporary string (GCC bug 105329).
            if (q.trailingColumn == trailing && q.loci.contains(LocusKind::Autosomal))
                (text += ",") += q.column;
        return text;
    };
    std::string out = "model";
    out += parameterColumns(false);
    out +=
        ",n,test,level,method,testable,power,conditional_power,se,low95,high95,nrep,"
        "seed,mass_left_out,allele_count";
    out += parameterColumns(true);
    // The locus and what only X reads close the row, empty on autosomal rows.
    out += ",locus,males";
    for (const ModelParameter& q : modelParameters())
        if (!q.loci.contains(LocusKind::Autosomal)) (out += ",") += q.column;
    out += "\n";
    for (const PowerPoint& x : points) {
        const bool simulated = x.method == PowerMethod::Simulate;
        CsvLine row;
        row.text(modelKey(x.model.model));
        for (const ModelParameter& q : modelParameters())
            if (!q.trailingColumn) row.number(q.get(x.model));
        row.whole(x.n).text(hweTestName(x.test)).number(x.level).text(methodName(x.method));
        row.number(x.testable).number(x.power).number(x.conditionalPower);
        row.number(x.se).number(x.low95).number(x.high95);
        if (simulated)
            row.whole(x.nrep);
        else
            row.empty();
        row.whole(x.seed ? std::optional<std::uint64_t>(*x.seed) : std::nullopt);
        if (simulated)
            row.empty();
        else
            row.number(x.massLeftOut);
        row.whole(x.alleleCount ? std::optional<std::uint64_t>(*x.alleleCount) : std::nullopt);
        for (const ModelParameter& q : modelParameters())
            if (q.trailingColumn && q.loci.contains(LocusKind::Autosomal))
                row.number(q.readBy(x.model.model) ? std::optional<double>(q.get(x.model))
                                                   : std::nullopt);
        const bool onX = x.model.locus != LocusKind::Autosomal;
        if (onX)
            row.text(locusKindEntry(x.model.locus).name).number(x.model.males);
        else
            row.empty().empty();
        for (const ModelParameter& q : modelParameters())
            if (!q.loci.contains(LocusKind::Autosomal))
                row.number(q.readBy(x.model.model, x.model.locus)
                               ? std::optional<double>(q.get(x.model))
                               : std::nullopt);
        out += row.str();
    }
    return out;
}

std::string studyTabText(const std::vector<PowerPoint>& points) {
    // X-linked points close each row with the locus, the numbers of each sex
    // and the males' allele frequency; autosomal ones keep the columns alone.
    const bool onX = std::any_of(points.begin(), points.end(), [](const PowerPoint& p) {
        return p.model.locus != LocusKind::Autosomal;
    });
    std::string out = "n\ttest\tlevel\tP(testable)\tpower\tconditional power\tse\tlow95\thigh95";
    out += onX ? "\tlocus\tnf\tnm\tp-male\n" : "\n";
    auto optional = [](const std::optional<double>& v) { return v ? shortestText(*v) : ""; };
    for (const PowerPoint& pt : points) {
        out += std::to_string(pt.n) + '\t' + testLabel(pt.test) + '\t' + shortestText(pt.level) +
               '\t' + shortestText(pt.testable) + '\t' + shortestText(pt.power) + '\t' +
               shortestText(pt.conditionalPower) + '\t' + optional(pt.se) + '\t' +
               optional(pt.low95) + '\t' + optional(pt.high95);
        if (onX) {
            const XSampleSize size = xSampleSize(pt.n, pt.model.males);
            (out += '\t') += locusKindEntry(pt.model.locus).name;
            (out += '\t') += std::to_string(size.females);
            (out += '\t') += std::to_string(size.males);
            (out += '\t') += shortestText(pt.model.pMale);
        }
        out += '\n';
    }
    return out;
}

std::string powerTable(const std::vector<PowerPoint>& points) {
    const bool simulated = std::any_of(points.begin(), points.end(), [](const PowerPoint& p) {
        return p.method == PowerMethod::Simulate;
    });
    const bool given = std::any_of(points.begin(), points.end(),
                                   [](const PowerPoint& p) { return p.alleleCount.has_value(); });
    // X-linked points: the numbers of each sex and the males' allele
    // frequency after n.
    const bool onX = std::any_of(points.begin(), points.end(), [](const PowerPoint& p) {
        return p.model.locus != LocusKind::Autosomal;
    });
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> head{"model", "p",        "parameter", "n",         "test",
                                  "level", "testable", "power",     "cond.power"};
    // Power given the allele count: the count after n.
    if (given) head.insert(head.begin() + 4, "a");
    if (onX) head.insert(head.begin() + 4, {"nf", "nm", "p-male"});
    if (simulated) {
        head.push_back("se");
        head.push_back("95% interval");
    }
    rows.push_back(head);
    for (const PowerPoint& x : points) {
        std::vector<std::string> row{std::string(modelKey(x.model.model)),
                                     shortestText(x.model.p),
                                     parameterText(x.model),
                                     std::to_string(x.n),
                                     std::string(hweTestName(x.test)),
                                     shortestText(x.level),
                                     proportion(x.testable),
                                     proportion(x.power),
                                     proportion(x.conditionalPower)};
        if (given) row.insert(row.begin() + 4, x.alleleCount ? std::to_string(*x.alleleCount) : "");
        if (onX) {
            const XSampleSize size = xSampleSize(x.n, x.model.males);
            row.insert(row.begin() + 4,
                       {std::to_string(size.females), std::to_string(size.males),
                        x.model.locus != LocusKind::Autosomal ? shortestText(x.model.pMale) : "-"});
        }
        if (simulated) {
            row.push_back(x.se ? fixedText(*x.se, 6) : "");
            row.push_back(x.low95 ? fixedText(*x.low95, 4) + " to " + fixedText(*x.high95, 4) : "");
        }
        rows.push_back(row);
    }
    std::string align = given ? "LLLRRL" : "LLLRL";
    if (onX) align.insert(4, "RRR");
    return alignedTable(rows, align);
}

std::string targetTable(const std::vector<TargetCrossing>& crossings, double target) {
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"model", "p", "parameter", "test", "level",
                    "first n with power >= " + shortestText(target), "power stays from n"});
    for (const TargetCrossing& c : crossings)
        rows.push_back({std::string(modelKey(c.model.model)), shortestText(c.model.p),
                        parameterText(c.model), std::string(hweTestName(c.test)),
                        shortestText(c.level),
                        c.firstReaching ? std::to_string(*c.firstReaching) : "not reached",
                        c.staysFrom ? std::to_string(*c.staysFrom) : "not reached"});
    return alignedTable(rows, "LLLL");
}

std::vector<std::string> resultLines(const std::vector<PowerPoint>& points) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < points.size();) {
        // The points of one model setting and n lie together.
        std::size_t j = i;
        while (j < points.size() && points[j].n == points[i].n &&
               sameSetting(points[j].model, points[i].model))
            ++j;
        const PowerPoint* x2 = nullptr;
        const PowerPoint* g = nullptr;
        for (std::size_t k = i; k < j; ++k) {
            if (points[k].method != PowerMethod::Simulate) continue;
            if (points[k].test == HweTest::X2 && !x2) x2 = &points[k];
            // g and g-window both carry the window's G from the same run.
            if ((points[k].test == HweTest::G || points[k].test == HweTest::GWindow) && !g)
                g = &points[k];
        }
        // The results file knows the window's models only.
        const bool windowModel = points[i].model.model != GenotypeModel::Error &&
                                 points[i].model.model != GenotypeModel::NullAllele;
        if ((x2 || g) && windowModel) {
            const PowerPoint& any = x2 ? *x2 : *g;
            ResultLineValues v;
            v.modelIndex = static_cast<int>(any.model.model);
            v.p = any.model.p;
            v.var = any.model.var;
            v.f = any.model.f;
            v.w11 = any.model.w11;
            v.w12 = any.model.w12;
            v.w22 = any.model.w22;
            v.nText = std::to_string(any.n);
            v.nrepText = std::to_string(any.nrep);
            v.nrep = any.nrep;
            if (x2) {
                v.x2On = true;
                v.x2At05 = shownProportion(x2->windowAbove05, x2->windowTested);
                v.x2At01 = shownProportion(x2->windowAbove01, x2->windowTested);
                v.x2Ok = static_cast<std::uint16_t>(x2->windowTested);
            }
            if (g) {
                v.gOn = true;
                v.gAt05 = shownProportion(g->windowAbove05, g->windowTested);
                v.gAt01 = shownProportion(g->windowAbove01, g->windowTested);
                v.gOk = static_cast<std::uint16_t>(g->windowTested);
            }
            lines.push_back(resultLine(v));
        }
        i = j;
    }
    return lines;
}

void appendResultLines(const std::string& path, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::string text;
    for (const std::string& line : lines) text += line;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        appendResult(path, headerLine(), text);
    else
        createResultsFile(path, headerLine(), text);
}

}  // namespace zyg
