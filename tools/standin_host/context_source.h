// Sampling around the selection: the source rectangle of a context width, one definition for
// every host (the command line's --context, the GIMP filters). The plug-in itself knows
// nothing of it: the rectangle is typed into its region dialog like any other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/standin_host/host_limits.h"

namespace mendora::runner {

using mendora::kMaxContextWidth; // tools/standin_host/host_limits.h

// A source rectangle as the region dialog takes it (and as --source L,T,R,B types it):
// columns left to right - 1 and rows top to bottom - 1, left and top inclusive, right and
// bottom exclusive, in the coordinates of the image the plug-in is given.
struct SourceRectangle {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

enum class ContextSource {
    ok,              // `source` is the rectangle of the context width
    nothingSelected, // the mask selects no pixel (context width above 0): no rectangle
    widthOutOfRange, // the context width is below 0 or above kMaxContextWidth
};

// The source rectangle for the context width `context` around the selection `mask` of an
// image of `width` x `height` pixels (each 1 to kMaxImageSide): one byte a pixel, nonzero
// selected, rows `rowStride` bytes apart (at least `width`; the mask holds
// (height - 1) * rowStride + width bytes).
//
// The rectangle is the bounding box of every selected pixel, grown by `context` pixels on
// each side and clipped to the image: left = max(0, leftmost selected column - context),
// right = min(width, rightmost selected column + 1 + context), and so for top and bottom.
// Separate selected regions share one bounding box. A context of 0 means the whole image,
// {0, 0, width, height}, whatever the mask (it is not read); typed into the dialog this is the
// rectangle the dialog opens with in a fresh run, so it fills as the default does.
//
// Failure: a context outside 0..kMaxContextWidth gives widthOutOfRange, and a context above 0
// with no pixel selected gives nothingSelected; either way `source` is set to the whole image,
// so a caller that goes on regardless samples as by default. Callers check the width where
// it enters and name it in their own words; a run over an empty selection fails (or, on the
// command line, leaves the image unchanged) as it does without a context. Never throws; no
// arithmetic can overflow (every bound stays within -kMaxContextWidth..2 * kMaxImageSide).
ContextSource contextSourceRectangle(const uint8_t* mask, int32_t width, int32_t height,
                                     size_t rowStride, int32_t context, SourceRectangle& source);

} // namespace mendora::runner
