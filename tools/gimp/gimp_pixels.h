// The drawable and the selection as the plug-in module takes them, and the fill written back
// into the drawable in its own format.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/standin_host/rgb_image.h"

namespace mendora::gimp {

// Reads the drawable's pixels as 8-bit R'G'B' in its image's colour space, whatever its type
// and precision (alpha dropped). Returns false with the reason in `error` when the drawable
// is wider or taller than the host's rectangles can describe.
bool readDrawable(gint32 drawable, runner::RgbImage& pixels, std::string& error);

// The selection over the drawable's pixels (the selection is in image coordinates, the
// drawable at its offsets): one byte per pixel, 1 where the selection is nonzero, feathered
// edges included, and 0 elsewhere and outside the image.
std::vector<uint8_t> readSelection(gint32 image, gint32 drawable);

// Writes the pixels that `mask` marks from `filled` (8-bit R'G'B', the drawable's size) into
// the drawable, converted to its own format and precision, its alpha kept; every other pixel
// keeps its bytes. One undo step, the selection as it was afterwards.
void writeFilled(gint32 image, gint32 drawable, const runner::RgbImage& filled,
                 const std::vector<uint8_t>& mask);

} // namespace mendora::gimp
