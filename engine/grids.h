// The engine's per-pixel grids and the two pixel buffers of a run: module-level state shared
// by the engine's stages. The whole-image grids are tables of `width` column arrays of
// `height` cells, indexed [x][y]: the fill states and one packed colour word a pixel. The
// confidences and the front's node references are read and written only near the region, so
// they are held over the front's reach alone (see allocateFrontReach).
#pragma once

#include <cassert>
#include <cstdint>

#include "engine/engine.h"
#include "lib/trel_heap.h"

namespace mendora {

// Fill states.
constexpr char kKnown = '0';
constexpr char kToFill = '1';
constexpr char kFront = '2';

// One pixel, red in bits 0-7, green in 8-15, blue in 16-23.
using PackedColour = uint32_t;

// The measures of one pixel in one word: CIELAB L (0..100) in bits 0-7, a and b (-128..127,
// two's complement) in bits 8-15 and 16-23, the grey level (0..255) in bits 24-31. One word
// is what the re-rank reads a pixel.
using LabWord = uint32_t;
constexpr LabWord kLabBits = 0x00FFFFFFu; // L, a and b without the grey level

// Columns of the word grid hold this many words beyond the last row, zero: the re-rank reads
// four rows at a time and may run past a window's last row.
constexpr int32_t kLabColumnPadding = 3;

using FillStateGrid = char**;
using LabWordGrid = LabWord**;

extern int32_t gridWidth;  // fixed by allocateFillGrids
extern int32_t gridHeight; // fixed by allocateFillGrids
extern FillStateGrid fillStates;
extern LabWordGrid labWords;

// The front's reach: the rectangle (grid coordinates, half-open) outside which no front pixel
// lies and no window around a front pixel reads a confidence or a grey level, so everything
// outside it stays known with confidence 1.0 for the whole run. Confidences and node
// references are held only inside it, column tables indexed [x - left][y - top].
extern PixelRect frontReach;
extern double** reachConfidences;
extern TrelHeapNode*** reachNodes; // null until the pixel's first node

// The words of a pixel.
inline int32_t lightness(int32_t x, int32_t y) {
    return static_cast<int32_t>(labWords[x][y] & 0xFF);
}
inline int32_t colourA(int32_t x, int32_t y) {
    return static_cast<int8_t>(labWords[x][y] >> 8 & 0xFF);
}
inline int32_t colourB(int32_t x, int32_t y) {
    return static_cast<int8_t>(labWords[x][y] >> 16 & 0xFF);
}
inline int32_t greyAt(int32_t x, int32_t y) {
    return static_cast<int32_t>(labWords[x][y] >> 24);
}

// The word of L, a, b and grey; each must lie in its range above.
inline LabWord packLab(int32_t L, int32_t a, int32_t b, int32_t grey) {
    assert(L >= 0 && L <= 100 && a >= -128 && a <= 127 && b >= -128 && b <= 127 && grey >= 0 &&
           grey <= 255);
    return static_cast<LabWord>(L) | (static_cast<LabWord>(a) & 0xFF) << 8 |
           (static_cast<LabWord>(b) & 0xFF) << 16 | static_cast<LabWord>(grey) << 24;
}

// The word of a colour: its CIELAB and its grey level.
LabWord labWordOf(PackedColour colour);

inline bool insideReach(int32_t x, int32_t y) {
    return x >= frontReach.left && x < frontReach.right && y >= frontReach.top &&
           y < frontReach.bottom;
}
inline double& confidenceAt(int32_t x, int32_t y) {
    assert(insideReach(x, y));
    return reachConfidences[x - frontReach.left][y - frontReach.top];
}
inline TrelHeapNode*& nodeAt(int32_t x, int32_t y) {
    assert(insideReach(x, y));
    return reachNodes[x - frontReach.left][y - frontReach.top];
}

// The buffers of the current start step, stored by markFillStates.
extern const uint8_t* inputPixels;
extern uint8_t* outputPixels;

// True once allocateFillGrids succeeded and until releaseFillGrids.
bool fillGridsAllocated();

// Sets the words of every pixel from the input buffer (0 for pixels to fill) and allocates the
// front's reach for the pixels to fill and the current radius. Throws std::bad_alloc.
void initialiseKnownPixels();

// Allocates the confidences (1.0 at known and front pixels, 0.0 at pixels to fill) and the
// node references (none) over `reach`, clipped to the grid, after releasing the reach before.
// Throws std::bad_alloc, leaving no reach.
void allocateFrontReach(PixelRect reach);

// Releases the reach's nodes, confidences and node references. Safe when absent.
void releaseFrontReach();

// The colour of pixel (x, y) of the input buffer.
inline PackedColour readPixel(int32_t x, int32_t y) {
    const uint8_t* p = inputPixels + 3 * (static_cast<int64_t>(y) * gridWidth + x);
    return static_cast<PackedColour>(p[0]) | static_cast<PackedColour>(p[1]) << 8 |
           static_cast<PackedColour>(p[2]) << 16;
}

// Stores a colour into pixel (x, y) of the output buffer.
inline void writePixel(int32_t x, int32_t y, PackedColour colour) {
    uint8_t* p = outputPixels + 3 * (static_cast<int64_t>(y) * gridWidth + x);
    p[0] = static_cast<uint8_t>(colour & 0xFF);
    p[1] = static_cast<uint8_t>(colour >> 8 & 0xFF);
    p[2] = static_cast<uint8_t>(colour >> 16 & 0xFF);
}

// Releases the queue and its nodes, the front's reach, the cosine basis and the candidate
// list: everything of a run but the whole-image grids. Safe when they are absent.
void releaseRunStructures();

} // namespace mendora
