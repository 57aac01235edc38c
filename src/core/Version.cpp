#include "core/Version.h"

namespace zyg {

const char* const kZygometVersion = ZYGOMET_VERSION;

}  // namespace zyg
