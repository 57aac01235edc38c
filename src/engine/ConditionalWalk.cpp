#include "engine/ConditionalWalk.h"

namespace zyg {

Reciprocals::Reciprocals(std::size_t limit) : one_(limit + 3), pair_(2 * limit + 1) {
    for (std::size_t k = 1; k < one_.size(); ++k) one_[k] = 1.0 / static_cast<double>(k);
    for (std::size_t h = 0; h < pair_.size(); ++h)
        pair_[h] = 1.0 / (static_cast<double>(h + 1) * static_cast<double>(h + 2));
}

const Reciprocals& reciprocals(std::uint32_t n) {
    static const Reciprocals small(kSmallWalkTable);
    if (n <= kSmallWalkTable) return small;
    static const Reciprocals large(kLargestWalk);
    return large;
}

int rowMode(int a, int m, int lo, int hi, Extended ratio) {
    if (lo >= hi) return lo;
    auto up = [&](int h) {
        const Extended n11 = (a - h) / 2, n22 = (m - h) / 2;
        return (n11 * n22 * ratio) /
               ((static_cast<Extended>(h) + 1) * (static_cast<Extended>(h) + 2));
    };
    const Extended k4 = ratio / 4;
    const Extended am = static_cast<Extended>(a) * m;
    const Extended size = static_cast<Extended>(a) + m;
    // The root written so that nothing cancels: 2 c / (b + sqrt(b^2 - 4 a c)).
    const Extended root = std::sqrt(k4 * (k4 * size * size - 4 * (k4 - 1) * am));
    const Extended guess = (2 * k4 * am) / (k4 * size + root);
    int mode = static_cast<int>(std::floor(guess));
    if ((mode - lo) % 2 != 0) --mode;
    mode = std::clamp(mode, lo, hi);
    while (mode + 2 <= hi && up(mode) > 1) mode += 2;
    while (mode - 2 >= lo && up(mode - 2) < 1) mode -= 2;
    return mode;
}

}  // namespace zyg
