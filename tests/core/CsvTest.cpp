#include <gtest/gtest.h>

#include <cmath>

#include "core/Csv.h"
#include "support/CommaLocale.h"

namespace zyg {
namespace {

TEST(Csv, FieldsAreQuotedOnlyWhenTheyMustBeAndNumbersReadBack) {
    zyg::testing::ScopedCommaLocale comma;
    CsvLine line;
    line.text("rs123")
        .text("a,b")
        .text("say \"hi\"")
        .number(0.1)
        .number(std::nan(""))
        .number(std::optional<double>())
        .whole(42)
        .empty()
        .number(1e-300);
    EXPECT_EQ(line.str(), "rs123,\"a,b\",\"say \"\"hi\"\"\",0.1,,,42,,1e-300\n");
    EXPECT_EQ(CsvLine().text("").str(), "\n");
    EXPECT_EQ(CsvLine().empty().empty().str(), ",\n");
}

}  // namespace
}  // namespace zyg
