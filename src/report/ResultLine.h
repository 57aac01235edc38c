#pragma once

// The two kinds of line in a results file: the header, written once when the
// file is created, and one fixed-width result line per saved run. Every
// number is written with "." as the decimal separator, whatever the locale,
// and every line ends with CR LF.

#include <cstdint>
#include <string>
#include <string_view>

namespace zyg {

// Every line of a results file ends with CR LF.
inline constexpr std::string_view kLineEnd = "\r\n";

// The program title followed by the release notice; it closes the header.
inline constexpr std::string_view kIdentification =
    "Q9 Zygomet - Copyright (C) 2026 The Zygomet Project";

// The column titles, 124 characters, then kIdentification and CR LF.
std::string headerLine();

// The name written for a model index (0 Hardy-Weinberg, 1 Wahlund,
// 2 Inbreeding, 3 Selection); any other index is a "Range check error".
std::string_view modelName(int modelIndex);

// Everything one result line describes, as the window shows it when the run
// has finished.
struct ResultLineValues {
    int modelIndex = 0;  // 0..3, in the order of the model radio buttons

    // The spin fields' values. Only those the model uses are written; the
    // others appear as the integers 0 (var, f) and 1 (w11, w12, w22).
    double p = 0;
    double var = 0;
    double f = 0;
    double w11 = 1;
    double w12 = 1;
    double w22 = 1;

    // The sample size and replicate texts exactly as typed.
    std::string nText;
    std::string nrepText;

    // Which tests were on; a test that was off leaves its two proportion
    // columns blank, a test that was on but tested no replicate (ok count 0)
    // writes "NA" in both.
    bool x2On = false;
    bool gOn = false;

    // The proportions as read back from the result fields (4 decimals).
    double x2At05 = 0;
    double x2At01 = 0;
    double gAt05 = 0;
    double gAt01 = 0;

    // The run's replicates and, per test, how many of them could be tested.
    std::uint32_t nrep = 0;
    std::uint16_t x2Ok = 0;
    std::uint16_t gOk = 0;
};

// The result line: the model name in 10 characters, then fourteen columns of
// 8, right-justified, CR LF at the end. A text wider than its column is
// written whole and shifts the rest of the line to the right. The two
// percentages are ok ÷ nrep × 100; a run of 0 replicates writes "0.00" in
// both, as it tested nothing.
std::string resultLine(const ResultLineValues& values);

}  // namespace zyg
