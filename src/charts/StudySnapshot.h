#pragma once

// What the study windows take from the main window: its model and
// parameters, sample size and tests, and the last sample of its last run.

#include <cstdint>
#include <functional>
#include <optional>

#include "core/Types.h"
#include "engine/ExactPower.h"

namespace zyg {

struct StudySnapshot {
    ModelSetting setting;
    std::uint32_t n = 0;
    bool x2On = true;
    bool gOn = false;
    std::optional<GenotypeCounts> lastSample;  // only after a run, while its sample is shown
};

// Reads the main window's study when called.
using StudySource = std::function<StudySnapshot()>;

}  // namespace zyg
