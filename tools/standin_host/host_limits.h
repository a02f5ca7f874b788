// The limits our hosts (the command line and the GIMP filters) check where a value enters:
// the least memory a fill takes with the host's buffers, the command line's values and
// outputs, the context width. With them, through the includes, the fill's own limits
// (engine/fill_limits.h) and the image side and field range of the parameter block
// (params/fill_parameters.h), so that a host includes one header for every limit it checks.
// The README's limits table says the same for users.
#pragma once

#include <cstdint>

#include "engine/fill_limits.h"
#include "params/fill_parameters.h"

namespace mendora {

// --- The least memory of a fill -------------------------------------------------------------

// Bytes a pixel of the host's buffers: input and output RGB, and the mask.
constexpr uint64_t kHostBytesPerPixel = 3 + 3 + 1;

// Bytes a pixel that every fill takes, whatever is selected: 12. The descriptors and the
// search tree of the source windows come on top (about 100 more at the peak), never less.
constexpr uint64_t kLeastFillBytesPerPixel = kGridBytesPerPixel + kHostBytesPerPixel;

// --- The command line's values and outputs --------------------------------------------------

// JPEG and WebP quality.
constexpr int32_t kLowestQuality = 1;
constexpr int32_t kHighestQuality = 100;

// The least mask value that selects a pixel.
constexpr int32_t kLowestMaskThreshold = 1;
constexpr int32_t kHighestMaskThreshold = 255;

// The most fills `mendora batch --jobs N` runs at once (each a process of its own, whose
// memory counts in full: more would only crowd the machine's memory).
constexpr int32_t kMaxBatchJobs = 64;

// The largest width and height WebP can hold.
constexpr int32_t kMaxWebpSide = 16383;

// The largest context width (the pixels sampled around the selection's bounding box: the
// command line's --context, the GIMP filters' context): one image side. A wider band is the
// whole image already, and every bound it gives stays far inside int32_t.
constexpr int32_t kMaxContextWidth = kMaxImageSide;

} // namespace mendora
