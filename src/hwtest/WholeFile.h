#pragma once

// Writes a text to a file whole or not at all.

#include <string>

namespace zyg {

// A regular file (or a new one) is written to a temporary file beside it and
// renamed over it once every byte is stored, so a failed write never leaves
// part of the text under the name; a device or a pipe is written in place.
// Every write is checked. Returns the empty text, or what went wrong.
std::string writeWholeFile(const std::string& path, const std::string& text);

}  // namespace zyg
