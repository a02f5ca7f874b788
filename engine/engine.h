// The fill engine's entry, as the host module and the tools call it.
// In: the image extent, the two pixel buffers, the selection mask and the parameter block.
// Out: filled pixels in the output buffer, the corrected parameter block, and an outcome.
#pragma once

#include <cstdint>

#include "engine/fill_limits.h"
#include "params/fill_parameters.h"

namespace mendora {

// A rectangle of pixels, rows top..bottom - 1 and columns left..right - 1.
struct PixelRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
};

enum class FillOutcome {
    filled,        // every selected pixel was filled
    nothingToFill, // the mask selected no pixel; nothing was written
    noSource,      // pixels were selected but no source window exists; nothing was written
    outOfMemory,   // memory ran out; the run's structures are released (the output buffer may
                   // hold part of the fill, never anything outside the selection)
    notPrepared,   // markFillStates without grids (no allocateFillGrids, or it failed)
    stopped,       // the observer asked to stop; the run's structures are released (the output
                   // buffer may hold part of the fill, never anything outside the selection)
};

// The stages of a run as the observer sees them, in their order (the values of
// host/host_hooks.h's MENDORA_STAGE_*).
enum class FillStage : int32_t {
    preparing = 1,  // marking, the candidate windows, the colours: 0 of 1, then 1 of 1
    describing = 2, // candidate windows described of all
    indexing = 3,   // the search index: 0 of 1, then 1 of 1
    filling = 4,    // pixels filled of the region's pixels
};

// Our own hosts' view of a run, never the image editor's. `progress` gets a stage's start
// (done 0) and end (done == total), the describing stage's chunks and every fill step; done
// never falls within a stage. `stopRequested` is asked between the set-up stages, between the
// describing chunks and once a fill step; true ends the run with FillOutcome::stopped. Both
// are called on the thread that called markFillStates only, and either may be null.
struct FillObserver {
    void (*progress)(void* context, FillStage stage, int64_t done, int64_t total) = nullptr;
    bool (*stopRequested)(void* context) = nullptr;
    void* context = nullptr;
};

// Installs the observer of later runs (an empty one removes it). Without one the engine does
// no observing work and runs exactly as before.
void setFillObserver(const FillObserver& observer);

// Allocates every per-pixel grid for a width x height image and sets all fill states to
// known. Releases whatever a previous run left first. Returns false when memory runs out
// (or the extent is not positive, or its cell count does not fit in 32 bits), with every
// grid released; the engine stays usable.
bool allocateFillGrids(int32_t width, int32_t height);

// Runs a whole fill over the grids of the last allocateFillGrids. `input` and `output` hold
// 3 bytes per pixel (red, green, blue) in rows of exactly 3 x width bytes; the output must
// already hold the input image. `mask` (may be null) holds one byte per pixel, any nonzero
// byte selecting it, `maskRowStride` bytes from one row to the next, covering `maskRect`;
// mask positions outside the grid are ignored. `params` is corrected in place against
// `boundRight` and `boundBottom` (the host filter rectangle's right and bottom edges) and
// gives the source rectangle and radius. Reads only `input`, writes only selected pixels of
// `output`. Never throws. May run worker threads (up to the machine's cores), every one of
// them joined before it returns; the fill is the same on any number of them.
FillOutcome markFillStates(const uint8_t* input, uint8_t* output, const uint8_t* mask,
                           int32_t maskRowStride, PixelRect maskRect, FillParameters& params,
                           int32_t boundRight, int32_t boundBottom);

// The sampling area of the runs that follow: a source window is a candidate only when every
// one of its pixels is marked in `allowed` (one byte a pixel, nonzero allowed, rows
// `rowStride` bytes apart, covering the whole grid of each run), besides the source rectangle's
// rule and holding no pixel to fill. Pixels outside the area still count as known image around
// the region (their colours are matched and they confine the front). Null, as at load, allows
// every pixel: the module's own fill. The bytes are read during markFillStates only and stay the
// caller's. Set by our hosts (command line, GIMP), never by the image editor.
void setSamplingArea(const uint8_t* allowed, int32_t rowStride);

// Releases the grids, the queue and its nodes, the cosine basis and the candidate list.
// Does nothing for what is already released; safe to call at any time, and twice.
void releaseFillGrids();

// The radius the engine fills with: 4 when the library is loaded, then the last positive
// radius a parameter block asked for.
int32_t enginePatchRadius();

// Allocate, mark and fill, release: one whole run over a width x height image whose mask
// rows are `maskRowStride` bytes apart, with the bounds taken from the image extent.
// For tools and tests; the host module runs the three steps in its own selectors.
FillOutcome fillImage(int32_t width, int32_t height, const uint8_t* input, uint8_t* output,
                      const uint8_t* mask, int32_t maskRowStride, FillParameters& params);

// Per-step values of the fill loop, handed to the trace hook (when one is set) after each
// step. Pointers are valid for the duration of the hook call only.
struct FillStepTrace {
    int32_t step;
    int32_t x0, y0;
    double priority;
    int32_t left, right, up, down;
    double windowConfidence;
    int32_t unknownCount;     // J
    const int32_t* estimates; // J L estimates, in window scan order (rows, then columns)
    int32_t coefficientCount; // d
    const double* query;      // d coefficients
    int32_t returnedCount;    // neighbours the search returned
    const int32_t* returned;  // candidate indices, nearest first
    int32_t bestX, bestY;
    double bestDifference;
    int64_t bestSquaredDistance;
    int32_t copied;
};

// Summary of the set-up of the last run, for the trace hook's owner.
struct FillSetupTrace {
    int32_t radius;
    int32_t coefficientCount;
    int32_t k;
    int32_t candidates;
    int32_t initialFront;
};

using FillStepHook = void (*)(const FillStepTrace& step, void* context);
using FillSetupHook = void (*)(const FillSetupTrace& setup, void* context);

// Installs hooks called by the fill loop (null removes them). Tests use them to compare a
// run with a recorded trace; without hooks the engine does no tracing work.
void setFillTraceHooks(FillSetupHook setup, FillStepHook step, void* context);

} // namespace mendora
