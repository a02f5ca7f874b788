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
// (null for a --region selection), the largest of its steps: decoding the mask (its samples and
// the decoder's buffers beside the selection made of them); decoding the image beside the
// selection (its samples, the decoder's whole-image buffers, the RGB made from the samples);
// the fill's least (kLeastFillBytesPerPixel: its grids and the host's buffers, and
// `descriptorBytes`, leastDescriptorBytes or 0 when not known yet) beside the kept samples
// (16 bits or alpha, which the output keeps) and the selection kept to write them back;
// composing the output from them.
uint64_t leastRunBytes(const ImageHeader& image, const ImageHeader* mask, uint64_t descriptorBytes);

// The least memory the descriptors of a fill's source windows take: every window of side
// 2 radius + 1 inside the rectangle left, top .. right, bottom (clipped to the width x height
// image) holding none of the `selected` pixels is described by descriptorCoefficients numbers.
// A selected pixel lies in at most (2 radius + 1)^2 windows, so at least the rectangle's
// windows less that many for each selected pixel are; 0 when that leaves none.
uint64_t leastDescriptorBytes(int32_t width, int32_t height, int32_t left, int32_t top,
                              int32_t right, int32_t bottom, uint64_t selected, int32_t radius);

// Under an address-space or data-size limit, makes the C library's allocator keep one arena
// for every thread: each further arena reserves 64 MB of address space at once, and glibc's
// own start of an arena fails badly when the limit refuses it (the program crashed instead of
// reporting out of memory). Call once, at start-up, before any thread starts.
void fitAllocatorToLimits();

} // namespace mendora::cli
