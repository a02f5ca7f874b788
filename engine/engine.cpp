// The engine's entry: marking, set-up, fill loop and teardown of one run.
// In: the buffers, the mask and the parameter block of a start step. Out: the filled output
// buffer, the corrected parameter block and the run's outcome.
#include "engine/engine.h"

#include <ANN/ANN.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "engine/fill_internal.h"

namespace mendora {

namespace {

bool anyPixelToFill() {
    for (int32_t x = 0; x < gridWidth; x++)
        for (int32_t y = 0; y < gridHeight; y++)
            if (fillStates[x][y] == kToFill)
                return true;
    return false;
}

// The pixels to fill, counted only for an observer (the fill itself never needs the count).
int64_t pixelsToFill() {
    if (fillObserver.progress == nullptr)
        return 0;
    int64_t count = 0;
    for (int32_t x = 0; x < gridWidth; x++)
        count += std::count(fillStates[x], fillStates[x] + gridHeight, kToFill);
    return count;
}

// True when a window of side h fits in the grid, so that a source window can exist at all.
bool windowFits(int32_t h) {
    return h <= gridWidth && h <= gridHeight;
}

FillOutcome runEngine(FillParameters& params, int32_t boundRight, int32_t boundBottom) {
    normaliseSourceBounds(params, boundRight, boundBottom, engineRadius);
    engineWindowSide = 2 * engineRadius + 1;
    if (!anyPixelToFill())
        return FillOutcome::nothingToFill;
    if (!windowFits(engineWindowSide))
        return FillOutcome::noSource;
    if (!windowWithinMemoryCaps(engineWindowSide))
        return FillOutcome::outOfMemory;

    observeProgress(FillStage::preparing, 0, 1);
    buildDctBasis();
    collectSourceCandidates(params);
    if (sourceCandidateCount == 0)
        return FillOutcome::noSource;
    initialiseKnownPixels();
    const int32_t d = coefficientCount(engineWindowSide);
    // The descriptors are held in bounded blocks, so their total is limited only by what the
    // process can address: a 48-megapixel photograph at radius 4 needs 3.8 GB of them.
    const uint64_t descriptorBytes =
        static_cast<uint64_t>(sourceCandidateCount) * static_cast<uint64_t>(d) * sizeof(double);
    if (descriptorBytes > SIZE_MAX)
        return FillOutcome::outOfMemory;
    const int64_t regionPixels = pixelsToFill();
    observeProgress(FillStage::preparing, 1, 1);
    if (fillStopRequested())
        return FillOutcome::stopped;
    if (!buildSourceIndex(d))
        return FillOutcome::stopped;
    if (!runFillLoop(d, regionPixels))
        return FillOutcome::stopped;
    releaseSourceIndex();
    annClose();
    return FillOutcome::filled;
}

} // namespace

FillObserver fillObserver;
bool fillStopSeen = false;

void setFillObserver(const FillObserver& observer) {
    fillObserver = observer;
}

bool fillStopRequested() {
    if (!fillStopSeen && fillObserver.stopRequested != nullptr)
        fillStopSeen = fillObserver.stopRequested(fillObserver.context);
    return fillStopSeen;
}

void releaseRunStructures() {
    releaseSourceIndex();
    delete frontQueue;
    frontQueue = nullptr;
    releaseFrontReach();
    releaseDescriptorStructures();
}

FillOutcome markFillStates(const uint8_t* input, uint8_t* output, const uint8_t* mask,
                           int32_t maskRowStride, PixelRect maskRect, FillParameters& params,
                           int32_t boundRight, int32_t boundBottom) {
    if (!fillGridsAllocated())
        return FillOutcome::notPrepared;
    inputPixels = input;
    outputPixels = output;
    // A previous start step on the same grids leaves its structures; a run starts from none.
    releaseRunStructures();
    markSelection(mask, maskRowStride, maskRect);
    fillStopSeen = false;
    try {
        const FillOutcome outcome = runEngine(params, boundRight, boundBottom);
        if (outcome == FillOutcome::stopped) {
            // As after running out of memory: nothing of the run stays but the grids.
            releaseRunStructures();
            annClose();
        }
        return outcome;
    } catch (const std::bad_alloc&) {
        // Everything of the run goes; the grids stay for releaseFillGrids, and the engine
        // is ready for another run.
        releaseRunStructures();
        annClose();
        return FillOutcome::outOfMemory;
    }
}

FillOutcome fillImage(int32_t imageWidth, int32_t imageHeight, const uint8_t* input,
                      uint8_t* output, const uint8_t* mask, int32_t maskRowStride,
                      FillParameters& params) {
    if (!allocateFillGrids(imageWidth, imageHeight))
        return FillOutcome::outOfMemory;
    const FillOutcome outcome =
        markFillStates(input, output, mask, maskRowStride, PixelRect{0, 0, imageHeight, imageWidth},
                       params, imageWidth, imageHeight);
    releaseFillGrids();
    return outcome;
}

} // namespace mendora
