// The drawable and the selection as the plug-in module takes them, and the fill put back into
// the drawable's own format: GEGL buffers in and out, the same for every GIMP version.
#pragma once

#include <gegl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/standin_host/rgb_image.h"

namespace mendora::gimp {

// Reads `buffer` (a drawable's pixels, `size` its extent from 0, 0, `own` its format) as 8-bit
// R'G'B' in the format's colour space, whatever its type and precision (alpha dropped).
// Returns false with the reason in `error` when the drawable is wider or taller than the
// host's rectangles can describe.
bool readDrawable(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                  runner::RgbImage& pixels, std::string& error);

// Reads the image's visible composite `visible` (image coordinates, `own` the drawable's
// format for its colour space) over the drawable at `area` as 8-bit R'G'B' into `pixels`,
// with `transparent` 1 where the composite is transparent (alpha below half of 1/255) or
// outside the image, else 0. Fails like readDrawable.
bool readVisible(GeglBuffer* visible, const Babl* own, const GeglRectangle& area,
                 runner::RgbImage& pixels, std::vector<uint8_t>& transparent, std::string& error);

// The selection mask `selection` (image coordinates) over the drawable at `area` (its offsets
// and size): one byte per pixel, 1 where the selection is nonzero, feathered edges included,
// and 0 elsewhere and outside the image.
std::vector<uint8_t> readSelection(GeglBuffer* selection, const GeglRectangle& area);

// The drawable's whole pixels in its own format `own` (read from `buffer`, `size` its extent
// from 0, 0) with the pixels that `mask` marks taken from `filled` (8-bit R'G'B', the
// drawable's size) and converted; alpha stays, every other pixel keeps its bytes.
std::vector<uint8_t> filledBytes(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                                 const runner::RgbImage& filled, const std::vector<uint8_t>& mask);

} // namespace mendora::gimp
