#pragma once

// The program's version, as written once in the project() line of the build.

namespace zyg {

extern const char* const kZygometVersion;

}  // namespace zyg
