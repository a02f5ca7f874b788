// What the command line knows of the memory a fill may have, before anything is decoded.
#pragma once

#include <cstdint>

namespace mendora::cli {

// The most memory this process can have: the machine's memory and swap, the address space of
// a 32-bit process, and a limit set on the process (its address space or data size),
// whichever is least. 0 when none of them can be read.
uint64_t memoryCeiling();

} // namespace mendora::cli
