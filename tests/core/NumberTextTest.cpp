#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/NumberText.h"

using namespace zyg;

TEST(NumberText, FixedRoundsHalfAwayFromZeroAfterEighteenDigits) {
    EXPECT_EQ(formatFixed(0.03125L, 4, 18, "."), "0.0313");
    EXPECT_EQ(formatFixed(-0.03125L, 4, 18, "."), "-0.0313");
    EXPECT_EQ(formatFixed(0.125L, 2, 18, "."), "0.13");
    // 1 out of 800, as a percentage: not exactly 0.125 in binary, but it is
    // at 18 significant digits.
    EXPECT_EQ(formatFixed((1.0L / 800) * 100, 2, 18, "."), "0.13");
    EXPECT_EQ(formatFixed(0.125, 2, 18, "."), "0.13");
    EXPECT_EQ(formatFixed(-0.00001L, 4, 18, "."), "0.0000");
    EXPECT_EQ(formatFixed(0.4, 6, 15, "."), "0.400000");
    EXPECT_EQ(formatFixed(0.9999996, 6, 15, "."), "1.000000");
    EXPECT_EQ(formatFixed(99.995L, 2, 18, ","), "100,00");
    EXPECT_EQ(formatFixed(10, 4, 15, "."), "10.0000");
    EXPECT_EQ(formatFixed(0, 4, 15, "."), "0.0000");
    EXPECT_EQ(formatFixed(1234, 0, 15, "."), "1234");
    EXPECT_EQ(formatFixed(0.5, 0, 15, "."), "1");
    EXPECT_EQ(formatFixed(0.0004, 0, 15, "."), "0");
}

TEST(NumberText, FixedKeepsAtMostTheGivenSignificantDigits) {
    EXPECT_EQ(formatFixed(123456789.123456789L, 6, 15, "."), "123456789.123457");
    EXPECT_EQ(formatFixed(1234567890.1234567L, 6, 15, "."), "1234567890.123460");
    EXPECT_EQ(formatFixed(1234567890.1234567L, 6, 18, "."), "1234567890.123457");
}

TEST(NumberText, GeneralFormatOfTheCompletionPercentages) {
    auto percent = [](int k, int n) { return formatGeneral((Extended(k) / n) * 100, 15, "."); };
    EXPECT_EQ(percent(950, 1000), "95");
    EXPECT_EQ(percent(999, 1000), "99.9");
    EXPECT_EQ(percent(1, 3), "33.3333333333333");
    EXPECT_EQ(percent(2, 3), "66.6666666666667");
    EXPECT_EQ(percent(1, 50000), "0.002");
    EXPECT_EQ(formatGeneral(99.9L, 15, ","), "99,9");
}

TEST(NumberText, DecimalParseAcceptsOnlyTheNumberShape) {
    EXPECT_EQ(parseDecimal("0.4", "."), 0.4);
    EXPECT_EQ(parseDecimal("  -1.5e2  ", "."), -150.0);
    EXPECT_EQ(parseDecimal("+.5", "."), 0.5);
    EXPECT_EQ(parseDecimal("2.", "."), 2.0);
    EXPECT_EQ(parseDecimal("0,25", ","), 0.25);
    for (const char* bad : {"", " ", "-", "+", ".", "1-", "--1", "1.2.3", "1e", "1e+", "abc", "1,5",
                            "1 5", "0x10", "1e5000"})
        EXPECT_FALSE(parseDecimal(bad, ".").has_value()) << bad;
    EXPECT_FALSE(parseDecimal("0.5", ",").has_value());
    EXPECT_EQ(parseDecimal("1e-5000", "."), 0.0);
    EXPECT_FALSE(parseDecimal("1e400", ".").has_value());  // beyond double
}

TEST(NumberText, IntegerParseFollowsTheStandardConversion) {
    EXPECT_EQ(parseInteger("100"), 100);
    EXPECT_EQ(parseInteger("   42"), 42);
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("-5"), -5);
    EXPECT_EQ(parseInteger("$FF"), 255);
    EXPECT_EQ(parseInteger("x1a"), 26);
    EXPECT_EQ(parseInteger("0X10"), 16);
    EXPECT_EQ(parseInteger("-$10"), -16);
    EXPECT_EQ(parseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_EQ(parseInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(parseInteger("007"), 7);
    for (const char* bad : {"", " ", "-", "+", "$", "0x", "12 ", "1.0", "2147483648", "$100000000",
                            "1e3", "abc", "--1"})
        EXPECT_FALSE(parseInteger(bad).has_value()) << bad;
}

TEST(NumberText, IntegerErrorQuotesTheTextVerbatim) {
    try {
        textToInteger("%s%n");
        FAIL();
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "'%s%n' is not a valid integer value");
    }
    try {
        textToInteger("");
        FAIL();
    } catch (const CommandError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
}
