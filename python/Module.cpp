// The compiled half of the Python module zygomet: the tests of many samples
// over numpy arrays and the studies as CSV text, with the interpreter's lock
// released while C++ computes. The Python half (zygomet/__init__.py) checks
// and broadcasts the arrays and makes the tables.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Bindings.h"
#include "engine/ExactPower.h"
#include "engine/XLinked.h"

namespace py = pybind11;
using namespace zyg;
using namespace zyg::bindings;

namespace {

using Counts = py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>;

// The tests of autosomal samples.
std::vector<std::string> testNames() {
    std::vector<std::string> names;
    for (HweTest t : observedSampleTests())
        if (appliesTo(t, LocusKind::Autosomal) && !parseXTest(hweTestName(t)))
            names.emplace_back(hweTestName(t));
    return names;
}

std::vector<py::array_t<double>> columnArrays(std::size_t columns, std::size_t count,
                                              std::vector<double*>& out) {
    std::vector<py::array_t<double>> arrays;
    for (std::size_t c = 0; c < columns; ++c) {
        arrays.emplace_back(static_cast<py::ssize_t>(count));
        out.push_back(arrays.back().mutable_data());
    }
    return arrays;
}

// Column arrays of X-linked samples, in the order of xSampleColumnNames.
py::list testXCounts(const Counts& aa, const Counts& ab, const Counts& bb, const Counts& a,
                     const Counts& b, const std::vector<std::string>& names, unsigned threads) {
    const XTests tests = parseXTests(names);
    const std::size_t count = static_cast<std::size_t>(aa.size());
    for (const Counts* c : {&ab, &bb, &a, &b})
        if (c->size() != aa.size())
            throw ArgumentError("aa, ab, bb, a and b must hold as many counts");
    std::vector<double*> out;
    std::vector<py::array_t<double>> arrays =
        columnArrays(xSampleColumnNames(tests).size(), count, out);
    const XCountArrays counts{aa.data(), ab.data(), bb.data(), a.data(), b.data()};
    {
        py::gil_scoped_release release;
        testXSamples(counts, count, tests, out, threads);
    }
    py::list list;
    for (auto& array : arrays) list.append(array);
    return list;
}

// Column arrays of the samples, in the order of sampleColumnNames.
py::list testCounts(const Counts& aa, const Counts& ab, const Counts& bb,
                    const std::vector<std::string>& names, unsigned threads) {
    const std::vector<HweTest> tests = parseTests(names);
    const std::size_t count = static_cast<std::size_t>(aa.size());
    if (ab.size() != aa.size() || bb.size() != aa.size())
        throw ArgumentError("aa, ab and bb must hold as many counts");
    std::vector<double*> out;
    std::vector<py::array_t<double>> arrays =
        columnArrays(sampleColumnNames(tests).size(), count, out);
    const std::uint64_t* a = aa.data();
    const std::uint64_t* h = ab.data();
    const std::uint64_t* b = bb.data();
    {
        py::gil_scoped_release release;
        testSamples(a, h, b, count, tests, out, threads);
    }
    py::list list;
    for (auto& array : arrays) list.append(array);
    return list;
}

std::string runStudyText(const std::string& model,
                         const std::map<std::string, std::vector<double>>& values,
                         const std::optional<std::vector<std::string>>& tests,
                         const std::string& method, std::optional<double> nrep,
                         std::optional<double> seed, std::optional<double> target,
                         const std::string& solve) {
    StudyArguments arguments;
    arguments.model = model;
    arguments.values = values;
    arguments.tests = tests;
    arguments.method = method;
    arguments.nrep = nrep;
    arguments.seed = seed;
    arguments.target = target;
    arguments.solve = solve;
    py::gil_scoped_release release;
    return studyCsvText(arguments);
}

py::list columnsOf(const std::string& text) {
    py::list list;
    for (const CsvColumn& column : csvColumns(text)) {
        if (column.numeric) {
            py::array_t<double> numbers(static_cast<py::ssize_t>(column.numbers.size()));
            std::copy(column.numbers.begin(), column.numbers.end(), numbers.mutable_data());
            list.append(py::make_tuple(column.name, numbers));
        } else {
            list.append(py::make_tuple(column.name, column.texts));
        }
    }
    return list;
}

}  // namespace

PYBIND11_MODULE(_zygomet, m) {
    m.doc() = "The compiled half of zygomet; use the functions of the zygomet module.";
    py::register_exception<ArgumentError>(m, "_ArgumentError", PyExc_ValueError);
    m.attr("max_count") = kMaxSampleGenotypeCount;
    m.def("test_names", &testNames);
    m.def("value_names", &studyValueNames);
    m.def("column_names", [](const std::vector<std::string>& names) {
        return sampleColumnNames(parseTests(names));
    });
    m.def("test_counts", &testCounts, py::arg("aa"), py::arg("ab"), py::arg("bb"), py::arg("tests"),
          py::arg("threads") = 0);
    m.def("x_test_names", &xTestNames);
    m.def("x_column_names", [](const std::vector<std::string>& names) {
        return xSampleColumnNames(parseXTests(names));
    });
    m.def("test_x_counts", &testXCounts, py::arg("aa"), py::arg("ab"), py::arg("bb"), py::arg("a"),
          py::arg("b"), py::arg("tests"), py::arg("threads") = 0);
    m.def("study_csv", &runStudyText, py::arg("model"), py::arg("values"), py::arg("tests"),
          py::arg("method"), py::arg("nrep"), py::arg("seed"), py::arg("target"), py::arg("solve"));
    m.def("csv_columns", &columnsOf);
    m.def("solvable_parameters", [] {
        py::dict parameters;
        for (const SolvableParameter* q : solvableParameters())
            parameters[py::str(std::string(q->column))] = py::make_tuple(
                q->model ? std::string(modelKey(*q->model)) : std::string(), q->none);
        return parameters;
    });
}
