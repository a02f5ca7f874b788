// The last warning an image library gave, kept for the one-line reason of a failure instead
// of reaching the terminal raw. libvips warns from its worker threads while the caller's
// thread reads and clears it: every access is under one lock.
#pragma once

#include <string>

namespace mendora::cli {

// Keeps `text` as the last warning in place of any earlier one (null keeps an empty one).
// Safe from any thread.
void keepLastWarning(const char* text);

// The last warning kept (empty when none), which is cleared. Safe from any thread.
std::string takeLastWarning();

} // namespace mendora::cli
