// The steps of a filter run: handle set-up and defaults, sizing and grid allocation,
// the dialog and the fill, the end of the exchange, and the release.
#include "host/steps.h"

#include <cstdint>

#include "engine/engine.h"
#include "host/handles.h"
#include "host/image_exchange.h"
#include "host/module_state.h"
#include "host/rect_access.h"
#include "ui/dialogs.h"

namespace mendora {

namespace {

// The image is exchanged as three interleaved 8-bit planes.
constexpr int16_t kPlanesUsed = 3;

void writeDefaults() {
    writeDefaultParameters(*hostParameterBlock, hostDataBlock, hostRecord->filterRect.right,
                           hostRecord->filterRect.bottom);
}

// Ends a prepare step that cannot give a run: no grids stay (not even a previous run's), a
// later start reports `code`, and so does this step unless a handle failure came first.
void refuseRun(int16_t code) {
    releaseFillGrids();
    hostFilterWidth = 0;
    hostFilterHeight = 0;
    hostStartRefusal = code;
    if (resultIsClear())
        writeResult(code);
}

// The bytes a run asks the host to hold: W x H x (planes x 2), where planes is the host's
// plane count plus one for a mask. In 64 bits: W x H x 8 alone overflows 32 bits for images
// beyond about 16,000 x 16,000.
int64_t estimateRunMemory(int32_t w, int32_t h, int32_t planeCount, bool hasMaskBuffer) {
    const int64_t planes = static_cast<int64_t>(planeCount) + (hasMaskBuffer ? 1 : 0);
    return static_cast<int64_t>(w) * h * (planes * 2);
}

void lowerMemoryLimit() {
    const bool hasMaskBuffer = hostRecord->maskBuffer != nullptr;
    const int64_t estimate =
        estimateRunMemory(hostFilterWidth, hostFilterHeight, hostRecord->planeCount, hasMaskBuffer);
    // The estimate is below the limit here, so it fits the 32-bit field.
    if (hostRecord->memoryLimit > estimate)
        hostRecord->memoryLimit = static_cast<int32_t>(estimate);
}

// Fixes the geometry, lowers the memory limit and allocates the grids.
void sizeRun() {
    const Rect32 filter = getFilterRect();
    // The grids, the buffers and the source rectangle all count from the image origin.
    if (filter.top != 0)
        return refuseRun(errBadParameters);
    if (filter.left != 0)
        return refuseRun(errBadParameters);
    if (filter.bottom <= 0)
        return refuseRun(errBadParameters);
    if (filter.right <= 0)
        return refuseRun(errBadParameters);
    // Only the 32-bit rectangle reaches beyond: its 16-bit copy, which the defaults and the
    // source bounds are checked against, would wrap.
    if (filter.bottom > kMaxImageSide)
        return refuseRun(errBadParameters);
    if (filter.right > kMaxImageSide)
        return refuseRun(errBadParameters);
    if (hostRecord->planeCount < kPlanesUsed)
        return refuseRun(errBadParameters);
    hostFilterWidth = filter.right;
    hostFilterHeight = filter.bottom;
    lowerMemoryLimit();
    if (!allocateFillGrids(hostFilterWidth, hostFilterHeight))
        return refuseRun(errOutOfMemory);
    hostStartRefusal = resultSuccess;
}

} // namespace

void parametersStep() {
    if (hostRecord->parameterHandle == nullptr)
        createParameterHandle();
    // Attempted also when the parameter handle could not be created.
    if (*hostDataSlot == 0)
        createDataHandle();
    if (!resultIsClear())
        return;
    if (lockStep())
        writeDefaults();
}

void prepareStep() {
    if (hostRecord->parameterHandle != nullptr && *hostDataSlot != 0) {
        // The stored parameters stay as they are.
        lockStep();
    } else {
        if (hostRecord->parameterHandle == nullptr)
            createParameterHandle();
        if (*hostDataSlot == 0)
            createDataHandle();
        // A run that had to create either handle starts from the defaults.
        if (resultIsClear() && lockStep())
            writeDefaults();
    }
    hostRecord->bufferRequest = 0;
    sizeRun();
}

void startStep() {
    if (!lockStep())
        return;
    if (hostStartRefusal != resultSuccess) {
        writeResult(hostStartRefusal);
        return;
    }
    const FillParameters before = *hostParameterBlock;
    const bool confirmed = runRegionDialog();
    writeResult(resultSuccess);
    if (!confirmed) {
        // The dialog edits the block live; a cancel takes back every edit.
        *hostParameterBlock = before;
        writeResult(errCanceled);
        return;
    }
    runFill();
}

void continueStep() {
    const Rect32 empty{0, 0, 0, 0};
    setInRect(empty);
    setOutRect(empty);
    // Cleared also without a mask, so no host keeps waiting on a mask request.
    setMaskRect(empty);
}

void finishStep() {
    // The lock's outcome does not matter here: the release needs no block.
    lockStep();
    releaseFillGrids();
    hostStartRefusal = errBadParameters;
}

} // namespace mendora
