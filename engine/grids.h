// The engine's per-pixel grids and the two pixel buffers of a run: module-level state shared
// by the engine's stages. Every grid is a table of `width` column arrays of `height` cells,
// indexed [x][y].
#pragma once

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

using FillStateGrid = char**;
using ConfidenceGrid = double**;
using GreyGrid = int32_t**;
using LabGrid = int32_t**;
using FrontNodeGrid = TrelHeapNode***;

extern int32_t gridWidth;  // fixed by allocateFillGrids
extern int32_t gridHeight; // fixed by allocateFillGrids
extern FillStateGrid fillStates;
extern ConfidenceGrid confidences;
extern GreyGrid greys;
extern LabGrid labL;
extern LabGrid labA;
extern LabGrid labB;
extern FrontNodeGrid frontNodes; // a column is null until its first node

// The buffers of the current start step, stored by markFillStates.
extern const uint8_t* inputPixels;
extern uint8_t* outputPixels;

// True once allocateFillGrids succeeded and until releaseFillGrids.
bool fillGridsAllocated();

// Sets confidence, grey and CIELAB of every known pixel from the input buffer, confidence
// 0.0 for pixels to fill, and releases every node and node column. Cannot fail.
void initialiseKnownPixels();

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

// Releases the queue and its nodes, the cosine basis and the candidate list: everything of a
// run but the grids. Safe when they are absent.
void releaseRunStructures();

} // namespace mendora
