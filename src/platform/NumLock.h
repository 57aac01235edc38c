#pragma once

#include <optional>

namespace zyg {

// Whether Num Lock is on, read from the windowing system; nothing where the
// state cannot be known.
std::optional<bool> platformNumLockOn();

}  // namespace zyg
