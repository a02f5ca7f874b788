// The persistent parameter block: a source rectangle and a patch radius, stored by the
// host between runs, edited by the region dialog and brought into range when a fill starts.
#pragma once

#include <cstdint>

namespace mendora {

// Exactly 10 bytes, five signed 16-bit little-endian fields with no padding. The host
// stores these bytes and hands them back on later runs, so order, widths and signedness
// are binding.
struct FillParameters {
    int16_t sourceLeft;   // smallest column a source patch may cover, inclusive
    int16_t sourceTop;    // smallest row a source patch may cover, inclusive
    int16_t sourceRight;  // column bound of the source rectangle, exclusive
    int16_t sourceBottom; // row bound of the source rectangle, exclusive
    int16_t patchRadius;  // requested radius r; a patch is the (2r + 1)-square around a pixel
};
static_assert(sizeof(FillParameters) == 10, "the host stores exactly 10 bytes");

constexpr int32_t kParameterBlockSize = 10;
constexpr int32_t kDataBlockSize = 32;
// The one byte of the private data block that is ever written (and never read).
constexpr int32_t kDefaultsWrittenOffset = 20;
constexpr int16_t kDefaultPatchRadius = 4;
// The widest and tallest image a run accepts: the block's 16-bit bounds, and the host's 16-bit
// filter rectangle, cannot describe more.
constexpr int32_t kMaxImageSide = INT16_MAX;
// The range of the block's signed 16-bit fields (source rectangle, patch radius).
constexpr int32_t kLowestFieldValue = INT16_MIN;
constexpr int32_t kHighestFieldValue = INT16_MAX;

// Writes the defaults into `block`, in this order: patchRadius 4, sourceLeft 0, sourceTop 0,
// sourceRight = filterRight, sourceBottom = filterBottom (the right and bottom edges of the
// host's 16-bit filter rectangle). Then sets the defaults-written byte of `dataBlock`, which
// must hold kDataBlockSize bytes. Cannot fail.
void writeDefaultParameters(FillParameters& block, uint8_t* dataBlock, int16_t filterRight,
                            int16_t filterBottom);

// The check run once at the start of every fill. `right` and `bottom` are the right and bottom
// edges of the host's 16-bit filter rectangle at this moment. When patchRadius is positive it
// becomes `radius`; otherwise `radius` keeps its value (that of an earlier run) and the block
// keeps its zero or negative radius. Each bound outside 0..right (or 0..bottom) is reset: left
// and top to 0, right to `right`, bottom to `bottom`. Nothing else is tested: reversed or
// too small rectangles pass and simply yield no source windows. Never fails; the corrected
// bounds stay in the block, so the host stores them.
void normaliseSourceBounds(FillParameters& block, int32_t right, int32_t bottom, int32_t& radius);

} // namespace mendora
