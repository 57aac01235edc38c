#include "engine/Random.h"

#include "core/Clock.h"

namespace zyg {

namespace {
std::uint32_t seed = 0;
}

std::uint32_t randomSeed() { return seed; }

void setRandomSeed(std::uint32_t value) { seed = value; }

void randomize() {
    const TimeOfDay t = currentClock().utcTimeOfDay();
    seed = ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

Extended nextRandom() {
    seed = stepSeed(seed);
    return static_cast<Extended>(seed) * kTwoToMinus32;
}

}  // namespace zyg
