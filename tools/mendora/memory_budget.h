// What the command line knows of the memory a fill may have, before anything is decoded.
#pragma once

#include <cstdint>

namespace mendora::cli {

// Bytes a pixel that every fill takes, whatever is selected: the engine's grids
// (kGridBytesPerPixel) and the host's input, output and mask buffers (3 + 3 + 1). A fill
// needs more (the descriptors and the search tree of the source windows), never less.
uint64_t leastFillBytesPerPixel();

// The most memory this process can have: the machine's memory and swap, the address space of
// a 32-bit process, and a limit set on the process (its address space or data size),
// whichever is least. 0 when none of them can be read.
uint64_t memoryCeiling();

} // namespace mendora::cli
