// What the command line knows of the memory a run may have and takes, before anything is
// decoded.
#pragma once

#include <cstdint>

#include "tools/mendora/images.h"

namespace mendora::cli {

// The most memory this process can have: the machine's memory and swap, the address space of
// a 32-bit process, a limit set on the process (its address space or data size) and its
// control group's limit (memory and swap), whichever is least. 0 when none of them can be
// read.
uint64_t memoryCeiling();

// The least memory a run holds at its peak, from the headers of the image and of the mask
// (null for a --region selection), the largest of its steps: decoding the image (its samples,
// the decoder's whole-image buffers, the RGB made from the samples); decoding the mask beside
// the image's RGB and kept samples (16 bits or alpha, which the output keeps); the fill's
// least (kLeastFillBytesPerPixel: its grids and the host's buffers) beside the kept samples
// and the selection kept to write them back; composing the output from them.
uint64_t leastRunBytes(const ImageHeader& image, const ImageHeader* mask);

// Under an address-space or data-size limit, makes the C library's allocator keep one arena
// for every thread: each further arena reserves 64 MB of address space at once, and glibc's
// own start of an arena fails badly when the limit refuses it (the program crashed instead of
// reporting out of memory). Call once, at start-up, before any thread starts.
void fitAllocatorToLimits();

} // namespace mendora::cli
