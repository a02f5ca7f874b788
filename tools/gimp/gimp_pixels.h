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

// The selection `selection` (image coordinates) over the drawable at `area` (its offsets and
// size): one float per pixel, its strength from 0 (not selected, and outside the image) to 1
// (fully selected), feathered edges in between. A pixel is filled wherever it is above 0.
std::vector<float> readSelection(GeglBuffer* selection, const GeglRectangle& area);

// The drawable's whole pixels in its own format `own` (read from `buffer`, `size` its extent
// from 0, 0), where `strength` is above 0 blended towards `filled` (8-bit R'G'B', the
// drawable's size, converted to `own`) by the strength, colour components only: alpha and
// every unselected pixel keep their bytes. A fully selected pixel (strength 1) gets the
// converted fill's bytes exactly. A partly selected one gets o + (f - o) * s per component,
// o the old and f the fill's value: for 8-bit formats on the bytes themselves, rounded to the
// nearest (floor(x + 0.5) in double; no exact half can arise with a selection of 8 bits);
// for every other precision in the format's float variant (same model and space), turned
// back into the format by babl (which rounds integer types to the nearest).
std::vector<uint8_t> filledBytes(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                                 const runner::RgbImage& filled,
                                 const std::vector<float>& strength);

// The format of a new layer holding the fill of a drawable of format `own`: `own` with alpha
// (the same model, type and space).
const Babl* newLayerFormat(const Babl* own);

// A new layer's pixels from `bytes` (filledBytes' result in `own`): converted to
// newLayerFormat(own) where `strength` is above 0 (an opaque drawable's alpha becomes
// opaque, a drawable's own alpha stays), all bytes zero, fully transparent, elsewhere.
std::vector<uint8_t> newLayerBytes(const std::vector<uint8_t>& bytes, const Babl* own,
                                   const std::vector<float>& strength);

} // namespace mendora::gimp
