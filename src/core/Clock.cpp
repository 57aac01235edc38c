#include "core/Clock.h"

#include <chrono>

namespace zyg {

namespace {

class SystemClock final : public Clock {
public:
    TimeOfDay utcTimeOfDay() const override {
        using namespace std::chrono;
        const auto now = time_point_cast<milliseconds>(system_clock::now());
        const auto sinceMidnight = now - floor<days>(now);
        const hh_mm_ss<milliseconds> t{sinceMidnight};
        return {static_cast<unsigned>(t.hours().count()),
                static_cast<unsigned>(t.minutes().count()),
                static_cast<unsigned>(t.seconds().count()),
                static_cast<unsigned>(t.subseconds().count())};
    }
};

const SystemClock systemClock;
const Clock* installedClock = nullptr;

}  // namespace

const Clock& currentClock() { return installedClock ? *installedClock : systemClock; }

void setClock(const Clock* clock) { installedClock = clock; }

}  // namespace zyg
