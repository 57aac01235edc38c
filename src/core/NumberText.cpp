#include "core/NumberText.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "core/Errors.h"

namespace zyg {

namespace {

constexpr int kFirstRounding = 18;  // significant digits of the first rounding

// A finite non-zero value as decimal digits d[0] d[1] ... times 10^(exponent
// - index), d[0] being the digit at 10^exponent.
struct Digits {
    std::array<int, kFirstRounding + 1> d{};
    int count = 0;
    int exponent = 0;
    bool negative = false;
};

Digits toDigits(Extended value, int significant) {
    Digits r;
    r.negative = std::signbit(value);
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific, significant - 1);
    const char* p = buffer;
    for (; p != result.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9') r.d[r.count++] = *p - '0';
    }
    std::from_chars(p + 1 + (p[1] == '+'), result.ptr, r.exponent);
    return r;
}

// Keeps `keep` leading digits, rounding half away from zero on the first
// dropped one. A carry out of the first digit raises the exponent.
void roundTo(Digits& r, int keep) {
    if (keep >= r.count) return;
    if (keep < 0) {
        r.count = 0;
        return;
    }
    const bool up = r.d[keep] >= 5;
    r.count = keep;
    if (!up) return;
    int i = keep - 1;
    while (i >= 0 && r.d[i] == 9) r.d[i--] = 0;
    if (i >= 0) {
        ++r.d[i];
    } else {
        for (int j = keep; j > 0; --j) r.d[j] = r.d[j - 1];
        r.d[0] = 1;
        r.count = keep + 1;
        ++r.exponent;
    }
}

int digitAt(const Digits& r, int power) {
    const int index = r.exponent - power;
    return index >= 0 && index < r.count ? r.d[index] : 0;
}

bool allZero(const Digits& r) {
    for (int i = 0; i < r.count; ++i)
        if (r.d[i] != 0) return false;
    return true;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string formatFixed(Extended value, int decimals, int maxSignificant,
                        std::string_view decimalSeparator) {
    Digits r;
    if (value != 0 && std::isfinite(value)) {
        r = toDigits(value, kFirstRounding);
        roundTo(r, std::min(r.exponent + 1 + decimals, maxSignificant));
    }
    const bool zero = allZero(r);
    std::string text;
    if (r.negative && !zero) text += '-';
    const int top = zero ? 0 : std::max(r.exponent, 0);
    for (int power = top; power >= 0; --power) text += static_cast<char>('0' + digitAt(r, power));
    if (decimals > 0) {
        text += decimalSeparator;
        for (int power = -1; power >= -decimals; --power)
            text += static_cast<char>('0' + digitAt(r, power));
    }
    return text;
}

std::string formatGeneral(Extended value, int significant, std::string_view decimalSeparator) {
    if (value == 0 || !std::isfinite(value)) return "0";
    Digits r = toDigits(value, significant);
    while (r.count > 1 && r.d[r.count - 1] == 0) --r.count;
    std::string text = r.negative ? "-" : "";
    if (r.exponent < -5 || r.exponent >= significant) {
        text += static_cast<char>('0' + r.d[0]);
        if (r.count > 1) {
            text += decimalSeparator;
            for (int i = 1; i < r.count; ++i) text += static_cast<char>('0' + r.d[i]);
        }
        text += 'E';
        text += std::to_string(r.exponent);
        return text;
    }
    for (int power = std::max(r.exponent, 0); power >= 0; --power)
        text += static_cast<char>('0' + digitAt(r, power));
    const int lowest = r.exponent - (r.count - 1);
    if (lowest < 0) {
        text += decimalSeparator;
        for (int power = -1; power >= lowest; --power)
            text += static_cast<char>('0' + digitAt(r, power));
    }
    return text;
}

std::optional<double> parseDecimal(std::string_view text, std::string_view decimalSeparator) {
    text = trimBlanks(text);
    std::string plain;  // the number with "." as separator, for from_chars
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int mantissaDigits = 0, integerDigits = 0;
    bool separatorSeen = false, leadingZeros = true;
    while (i < text.size()) {
        if (isDigit(text[i])) {
            ++mantissaDigits;
            if (text[i] != '0') leadingZeros = false;
            if (!separatorSeen && !leadingZeros) ++integerDigits;
            plain += text[i++];
        } else if (!separatorSeen && !decimalSeparator.empty() &&
                   text.substr(i, decimalSeparator.size()) == decimalSeparator) {
            separatorSeen = true;
            plain += '.';
            i += decimalSeparator.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return std::nullopt;
    long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i])) plain += text[i++];
        if (i == start) return std::nullopt;
        const char* first = plain.data() + plain.find('e') + 1;
        if (*first == '+') ++first;
        if (std::from_chars(first, plain.data() + plain.size(), exponent).ec != std::errc())
            exponent = *first == '-' ? std::numeric_limits<long>::min() / 2
                                     : std::numeric_limits<long>::max() / 2;
    }
    if (i != text.size()) return std::nullopt;

    long double value = 0;
    const auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for the extended range reads as 0; too large is no number.
        if (leadingZeros || exponent + integerDigits < 0) return negative ? -0.0 : 0.0;
        return std::nullopt;
    }
    if (result.ec != std::errc() || result.ptr != plain.data() + plain.size()) return std::nullopt;
    const double rounded = static_cast<double>(value);
    if (std::isinf(rounded)) return std::nullopt;
    return negative ? -rounded : rounded;
}

std::optional<std::int32_t> parseInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = hex ? hexValue(text[i]) : (isDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    }
    if (hex) {
        // Hexadecimal digits fill the 32 bits, the top one being the sign.
        const auto bits = static_cast<std::uint32_t>(magnitude);
        const auto value = static_cast<std::int32_t>(negative ? 0u - bits : bits);
        return value;
    }
    const std::uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    if (magnitude > limit) return std::nullopt;
    return static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
}

std::int32_t textToInteger(const std::string& text) {
    if (const auto value = parseInteger(text)) return *value;
    throw CommandError("'" + text + "' is not a valid integer value");
}

std::string shortestText(double value) {
    if (std::isnan(value)) return {};
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

std::string fixedText(double value, int decimals) {
    char buffer[400];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return written.ec == std::errc() ? std::string(buffer, written.ptr) : shortestText(value);
}

std::string boundText(double value) {
    char buffer[32];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 12);
    return std::string(buffer, written.ptr);
}

std::string significantText(double value, int significant) {
    return formatGeneral(value, significant, ".");
}

std::string proportionText(double value, int decimals) {
    return std::isnan(value) ? "-" : fixedText(value, decimals);
}

std::string fixedSignificantText(double value, int significant) {
    if (value == 0) return "0";
    const int decimals =
        significant - 1 - static_cast<int>(std::floor(std::log10(std::fabs(value))));
    return formatFixed(value, std::max(decimals, 0), 17, ".");
}

std::string targetText(double value) {
    const std::string s = shortestText(value);
    const auto dot = s.find('.');
    if (s.find('e') == std::string::npos && (dot == std::string::npos || s.size() - dot - 1 < 2))
        return fixedText(value, 2);
    return s;
}

}  // namespace zyg
