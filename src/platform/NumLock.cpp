#include "platform/NumLock.h"

namespace zyg {

std::optional<bool> platformNumLockOn() { return std::nullopt; }

}  // namespace zyg
