// The compiled half of the R package: the tests of many samples and the
// studies as CSV text, read back into columns. The R half (R/zygomet.R)
// checks and recycles the counts and makes the data frames.

#include <Rcpp.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "Bindings.h"

using namespace zyg;
using namespace zyg::bindings;

namespace {

std::vector<std::string> strings(const Rcpp::CharacterVector& v) {
    return std::vector<std::string>(v.begin(), v.end());
}

Rcpp::List columnsOf(const std::string& text) {
    const std::vector<CsvColumn> columns = csvColumns(text);
    Rcpp::List list(columns.size());
    Rcpp::CharacterVector names(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        names[c] = columns[c].name;
        if (columns[c].numeric) {
            Rcpp::NumericVector v(columns[c].numbers.begin(), columns[c].numbers.end());
            // An empty field is a missing value, as R reads an empty CSV field.
            for (R_xlen_t i = 0; i < v.size(); ++i)
                if (std::isnan(v[i])) v[i] = NA_REAL;
            list[c] = v;
        } else {
            list[c] = Rcpp::CharacterVector(columns[c].texts.begin(), columns[c].texts.end());
        }
    }
    list.attr("names") = names;
    return list;
}

std::vector<std::uint64_t> wholeCounts(const Rcpp::NumericVector& v) {
    std::vector<std::uint64_t> out(static_cast<std::size_t>(v.size()));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint64_t>(v[i]);
    return out;
}

// The columns as an R list, NaN (a sample that cannot be tested) as NA.
Rcpp::List namedColumns(const std::vector<std::string>& names,
                        const std::vector<std::vector<double>>& columns) {
    Rcpp::List list(names.size());
    for (std::size_t c = 0; c < names.size(); ++c) {
        Rcpp::NumericVector v(columns[c].begin(), columns[c].end());
        for (R_xlen_t i = 0; i < v.size(); ++i)
            if (std::isnan(v[i])) v[i] = NA_REAL;
        list[c] = v;
    }
    list.attr("names") = Rcpp::CharacterVector(names.begin(), names.end());
    return list;
}

std::vector<double*> pointers(std::vector<std::vector<double>>& columns) {
    std::vector<double*> out;
    for (auto& column : columns) out.push_back(column.data());
    return out;
}

}  // namespace

// The tests of autosomal samples.
// [[Rcpp::export(.test_names)]]
Rcpp::CharacterVector testNamesR() {
    Rcpp::CharacterVector names;
    for (HweTest t : observedSampleTests())
        if (appliesTo(t, LocusKind::Autosomal) && !parseXTest(hweTestName(t)))
            names.push_back(std::string(hweTestName(t)));
    return names;
}

// The tests of X-linked samples.
// [[Rcpp::export(.x_test_names)]]
Rcpp::CharacterVector xTestNamesR() {
    const std::vector<std::string> names = xTestNames();
    return Rcpp::CharacterVector(names.begin(), names.end());
}

// The parameters a study can be solved for: the model that reads each and
// its value without a departure.
// [[Rcpp::export(.solvable)]]
Rcpp::List solvable() {
    Rcpp::CharacterVector names, models;
    Rcpp::NumericVector none;
    for (const SolvableParameter* q : solvableParameters()) {
        names.push_back(std::string(q->column));
        // A parameter of every model (an empty name) is solved under the one
        // given.
        models.push_back(q->model ? std::string(modelKey(*q->model)) : std::string());
        none.push_back(q->none);
    }
    return Rcpp::List::create(Rcpp::Named("name") = names, Rcpp::Named("model") = models,
                              Rcpp::Named("none") = none);
}

// [[Rcpp::export(.test_counts)]]
Rcpp::List testCounts(Rcpp::NumericVector aa, Rcpp::NumericVector ab, Rcpp::NumericVector bb,
                      Rcpp::CharacterVector tests) {
    const std::vector<HweTest> parsed = parseTests(strings(tests));
    const std::vector<std::string> names = sampleColumnNames(parsed);
    const std::size_t count = static_cast<std::size_t>(aa.size());
    const std::vector<std::uint64_t> a = wholeCounts(aa), h = wholeCounts(ab), b = wholeCounts(bb);
    std::vector<std::vector<double>> columns(names.size(), std::vector<double>(count));
    testSamples(a.data(), h.data(), b.data(), count, parsed, pointers(columns));
    return namedColumns(names, columns);
}

// [[Rcpp::export(.test_x_counts)]]
Rcpp::List testXCounts(Rcpp::NumericVector aa, Rcpp::NumericVector ab, Rcpp::NumericVector bb,
                       Rcpp::NumericVector a, Rcpp::NumericVector b, Rcpp::CharacterVector tests) {
    const XTests parsed = parseXTests(strings(tests));
    const std::vector<std::string> names = xSampleColumnNames(parsed);
    const std::size_t count = static_cast<std::size_t>(aa.size());
    const std::vector<std::uint64_t> faa = wholeCounts(aa), fab = wholeCounts(ab),
                                     fbb = wholeCounts(bb), ma = wholeCounts(a),
                                     mb = wholeCounts(b);
    std::vector<std::vector<double>> columns(names.size(), std::vector<double>(count));
    testXSamples({faa.data(), fab.data(), fbb.data(), ma.data(), mb.data()}, count, parsed,
                 pointers(columns));
    return namedColumns(names, columns);
}

// [[Rcpp::export(.run_study)]]
Rcpp::List study(std::string model, Rcpp::List values, Rcpp::Nullable<Rcpp::CharacterVector> tests,
                 std::string method, Rcpp::Nullable<Rcpp::NumericVector> nrep,
                 Rcpp::Nullable<Rcpp::NumericVector> seed,
                 Rcpp::Nullable<Rcpp::NumericVector> target, std::string solve) {
    StudyArguments arguments;
    arguments.model = model;
    const Rcpp::CharacterVector names = values.names();
    for (R_xlen_t i = 0; i < values.size(); ++i) {
        const Rcpp::NumericVector v = values[i];
        arguments.values[std::string(names[i])] = std::vector<double>(v.begin(), v.end());
    }
    if (tests.isNotNull()) arguments.tests = strings(Rcpp::CharacterVector(tests.get()));
    arguments.method = method;
    const auto scalar = [](const Rcpp::Nullable<Rcpp::NumericVector>& v) -> std::optional<double> {
        if (v.isNull()) return std::nullopt;
        return Rcpp::NumericVector(v.get())[0];
    };
    arguments.nrep = scalar(nrep);
    arguments.seed = scalar(seed);
    arguments.target = scalar(target);
    arguments.solve = solve;
    return columnsOf(studyCsvText(arguments));
}

// [[Rcpp::export(.read_numbers)]]
Rcpp::NumericVector readNumbers(Rcpp::CharacterVector texts) {
    Rcpp::NumericVector numbers(texts.size());
    for (R_xlen_t i = 0; i < texts.size(); ++i) {
        const auto v = readNumber(std::string(texts[i]));
        numbers[i] = v ? *v : NA_REAL;
    }
    return numbers;
}
