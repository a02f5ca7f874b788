// The sampling area our hosts hand to the plug-in module (host/host_hooks.h): a band around
// each region, a mask drawn by hand, their intersection, and the check that any source window
// is left. One definition for every host (the command line's --band and --source-mask, the
// GIMP filters' band and channel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/standin_host/context_source.h"

namespace mendora::runner {

// A mask of one byte a pixel in rows of exactly `width` bytes, nonzero marked.
struct AreaMask {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bytes;
};

// The band of `band` pixels around the selection `mask` (one byte a pixel, nonzero selected,
// rows `rowStride` bytes apart; width and height 1 to kMaxImageSide): every pixel whose
// distance to the nearest selected pixel, measured between pixel centres, is at most `band`
// (1 to kMaxContextWidth), selected pixels included. Each region gets its own band; bands of
// regions nearer than twice the band join. Memory: 3 bytes a pixel. Throws std::bad_alloc.
AreaMask bandAroundSelection(const uint8_t* mask, int32_t width, int32_t height, size_t rowStride,
                             int32_t band);

// Clears in `area` every pixel that `other` (the same extent) does not mark.
void intersectArea(AreaMask& area, const AreaMask& other);

// Whether a source window of side 2 radius + 1 fits wholly inside the pixels that `area`
// marks, inside `source` (clipped to the image), and outside the selection `mask` (one byte a
// pixel, rows `width` bytes apart): the plug-in's candidate rule, so that a sampling area that
// leaves none is refused before the fill. `radius` is 1 or more. Throws std::bad_alloc.
bool anySourceWindow(const AreaMask& area, const uint8_t* mask, const SourceRectangle& source,
                     int32_t radius);

} // namespace mendora::runner
