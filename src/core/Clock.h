#pragma once

// The system clock, read through an interface so that tests can fix the time
// of day.

namespace zyg {

struct TimeOfDay {
    unsigned hour = 0;    // 0 to 23, UTC
    unsigned minute = 0;  // 0 to 59
    unsigned second = 0;  // 0 to 59
    unsigned millisecond = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimeOfDay utcTimeOfDay() const = 0;
};

// The clock in use: the system clock unless a test installed another one.
const Clock& currentClock();
// Installs a clock (not owned); nullptr puts the system clock back.
void setClock(const Clock* clock);

}  // namespace zyg
