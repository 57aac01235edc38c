#include "engine/SampleStatistics.h"

#include <cmath>

#include "engine/Sampling.h"

namespace zyg {

void sampleStatistics(const GenotypeCounts& counts, std::uint16_t n, bool x2On, bool gOn,
                      Extended& x2, Extended& g) {
    const Extended size = n;
    const Extended o11 = counts.o11, o12 = counts.o12, o22 = counts.o22;
    // The sample's own Hardy-Weinberg expectation.
    const Extended p = ((o12 * 0.5L) + o11) / size;
    const Extended q = 1 - p;
    const Extended e11 = (p * p) * size;
    const Extended e12 = ((p * 2) * q) * size;
    const Extended e22 = (q * q) * size;
    const bool expectedPositive = e11 > 0 && e12 > 0 && e22 > 0;

    if (x2On) {
        if (expectedPositive) {
            Extended sum = 0;
            const Extended d11 = o11 - e11;
            sum = ((d11 * d11) / e11) + sum;
            const Extended d12 = o12 - e12;
            sum = ((d12 * d12) / e12) + sum;
            const Extended d22 = o22 - e22;
            sum = ((d22 * d22) / e22) + sum;
            x2 = sum;
        } else {
            x2 = kNotComputable;
        }
    }
    if (gOn) {
        if (expectedPositive && counts.o11 != 0 && counts.o12 != 0 && counts.o22 != 0) {
            Extended sum = 0;
            sum = (std::log(o11 / e11) * o11) + sum;
            sum = (std::log(o12 / e12) * o12) + sum;
            sum = (std::log(o22 / e22) * o22) + sum;
            g = computedG(2 * sum);
        } else {
            g = kNotComputable;
        }
    }
}

}  // namespace zyg
