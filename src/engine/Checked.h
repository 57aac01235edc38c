#pragma once

// Checked integer narrowing, counter increments and extended-real arithmetic.
// Every narrowing and table index is range-checked, every counter increment is
// overflow-checked, and the divisions and conversions that can go wrong raise
// the floating-point errors instead of producing infinities or NaNs.

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/Errors.h"
#include "core/Types.h"

namespace zyg {

inline std::uint16_t narrowToU16(std::uint32_t value) {
    if (value > std::numeric_limits<std::uint16_t>::max()) throw CommandError(kRangeCheckError);
    return static_cast<std::uint16_t>(value);
}

inline std::uint32_t narrowToU32(std::int64_t value) {
    if (value < 0 || value > std::numeric_limits<std::uint32_t>::max())
        throw CommandError(kRangeCheckError);
    return static_cast<std::uint32_t>(value);
}

inline void checkedIncrement(std::uint16_t& counter) {
    if (counter == std::numeric_limits<std::uint16_t>::max()) throw CommandError(kIntegerOverflow);
    ++counter;
}

// A product or sum of finite reals that is no longer finite has overflowed
// (a NaN can only follow from an infinity, so the overflow came first).
inline Extended checkedResult(Extended value) {
    if (!std::isfinite(value)) throw CommandError(kFloatingPointOverflow);
    return value;
}

// One rounded extended division, with 0/0 and x/0 raised as errors.
inline Extended checkedDivide(Extended numerator, Extended denominator) {
    if (denominator == 0) {
        if (numerator == 0 || std::isnan(numerator))
            throw CommandError(kInvalidFloatingPointOperation);
        throw CommandError(kFloatingPointDivisionByZero);
    }
    return checkedResult(numerator / denominator);
}

// Rounds an extended real to double, as a store into a double does; a finite
// value beyond the double range is a floating-point overflow.
inline double toDouble(Extended value) {
    const double result = static_cast<double>(value);
    if (std::isinf(result) && !std::isinf(value)) throw CommandError(kFloatingPointOverflow);
    return result;
}

}  // namespace zyg
