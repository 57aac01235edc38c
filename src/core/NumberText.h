#pragma once

// Conversions between numbers and their texts, independent of the C library's
// locale: the window passes in the separators it shows, and the results file
// always passes ".".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Types.h"

namespace zyg {

// Fixed notation with exactly `decimals` decimals. The value is first rounded
// to 18 significant digits; then the digits up to the last decimal are kept,
// but never more than `maxSignificant` of them, and a first dropped digit of 5
// or more rounds the last kept digit up (ties away from zero). A value that
// rounds to zero has no minus sign.
std::string formatFixed(Extended value, int decimals, int maxSignificant,
                        std::string_view decimalSeparator);

// The general format with `significant` significant digits: fixed notation
// without trailing zeros (and without a trailing separator) for exponents from
// -5 to significant - 1, scientific notation otherwise.
std::string formatGeneral(Extended value, int significant, std::string_view decimalSeparator);

// Reads a decimal number: leading blanks, an optional sign, digits with at
// most one decimal separator, an optional exponent, trailing blanks and
// nothing else. The value is read in extended precision and then rounded to
// double; a text that is no such number, or out of the double range, gives
// nothing.
std::optional<double> parseDecimal(std::string_view text, std::string_view decimalSeparator);

// Reads an integer: leading blanks, an optional sign, then decimal digits or
// hexadecimal digits after "$", "x", "X", "0x" or "0X", nothing after, and a
// value that fits in 32 bits.
std::optional<std::int32_t> parseInteger(std::string_view text);

// The shortest text that reads back to the same double, with "." ("0.1",
// "1e-05"); the empty text for NaN.
std::string shortestText(double value);

// Fixed notation with `decimals` decimals and "." ("0.800000"), from the
// double's exact binary value.
std::string fixedText(double value, int decimals);

// `significant` significant digits, without trailing zeros, with "."
// ("0.4", "1e-06"): figures in titles and legends.
std::string significantText(double value, int significant);

// Fixed notation with `decimals` decimals, "-" for NaN (a proportion of
// nothing): the columns of tables.
std::string proportionText(double value, int decimals);

// A value with `significant` significant digits in fixed notation, trailing
// zeros kept ("0.1980", "0.09890", "1.250"): a solved value.
std::string fixedSignificantText(double value, int significant);

// A power as people write a target: at least two decimals ("0.80", "0.95",
// "0.805").
std::string targetText(double value);

// A computed bound such as p*q for a message, to 12 significant digits:
// 0.1 * 0.9 reads "0.09", not the "0.09000000000000001" of its rounding.
std::string boundText(double value);

// parseInteger, raising "'<text>' is not a valid integer value" when the text
// is no integer.
std::int32_t textToInteger(const std::string& text);

}  // namespace zyg
