// The start step's exchange with the host and the hand-over to the fill engine.
#include "host/image_exchange.h"

#include <cassert>
#include <cstdint>

#include "engine/engine.h"
#include "host/module_state.h"
#include "host/our_host_hooks.h"
#include "host/rect_access.h"

namespace mendora {

namespace {

// The one value reported as done. The module reports progress once, after the fill, as
// (1, W x H): the whole fill runs inside the one deliverBuffers exchange, between two host
// calls, so there is no moment to report a share of the pixels; done = 1 is the module's
// fixed value (the exchange has ended), not a count of pixels, and the editor's bar only
// learns that the filter is done. Our own hosts learn the fill's progress through their
// hooks instead (host/host_hooks.h).
constexpr int32_t kProgressDone = 1;

// W x H for the progress total; a count beyond 32 bits is reported as the largest one.
int32_t progressTotal() {
    const int64_t pixels = static_cast<int64_t>(hostFilterWidth) * hostFilterHeight;
    return pixels > INT32_MAX ? INT32_MAX : static_cast<int32_t>(pixels);
}

void requestWholeRectangle(const Rect32& request) {
    hostRecord->inSampleRate = VLMR_FIXED_ONE;
    hostRecord->maskSampleRate = VLMR_FIXED_ONE;
    setInRect(request);
    setOutRect(request);
    // Without a selection the mask rectangle stays as the host has it.
    if (hostRecord->hasMask)
        setMaskRect(request);
    hostRecord->inFirstPlane = 0;
    hostRecord->inLastPlane = 2;
    hostRecord->outFirstPlane = 0;
    hostRecord->outLastPlane = 2;
}

// Maps the engine's outcome to the result. Answers whether the engine went over the whole
// selection (progress is reported then) and whether the run succeeded (the abort test follows).
struct OutcomeReport {
    bool engineDone;
    bool succeeded;
};

OutcomeReport reportOutcome(FillOutcome outcome) {
    switch (outcome) {
    case FillOutcome::filled:
    case FillOutcome::nothingToFill:
        return {true, true};
    case FillOutcome::noSource:
        // The selection cannot be filled with these parameters: the user has to widen the
        // source rectangle or shrink the radius. The engine is done with the image, though.
        writeResult(errBadParameters);
        return {true, false};
    case FillOutcome::outOfMemory:
    case FillOutcome::notPrepared:
    case FillOutcome::stopped: // answered by runFill before
        break;
    }
    writeResult(errOutOfMemory);
    return {false, false};
}

} // namespace

void runFill() {
    assert(hostRecord != nullptr && hostParameterBlock != nullptr);
    // Read only to refuse hosts that cannot deliver at all: the whole rectangle comes at once.
    if (hostRecord->outputTileHeight == 0)
        return writeResult(errBadParameters);
    if (hostRecord->outputTileWidth == 0)
        return writeResult(errBadParameters);
    if (hostRecord->deliverBuffers == nullptr)
        return writeResult(errBadParameters);
    const Rect32 request = getFilterRect();
    // The grids were sized for this rectangle by the prepare step.
    if (!sameRect(request, Rect32{0, 0, hostFilterHeight, hostFilterWidth}))
        return writeResult(errBadParameters);

    requestWholeRectangle(request);
    const int16_t answer = hostRecord->deliverBuffers();
    writeResult(answer);
    if (answer != resultSuccess)
        return;

    // The buffers hold rows of exactly 3 x W bytes for the requested rectangle only.
    const Rect32 delivered = getOutRect();
    if (!sameRect(delivered, request))
        return writeResult(errBadParameters);
    if (hostRecord->inBuffer == nullptr)
        return writeResult(errBadParameters);
    if (hostRecord->outBuffer == nullptr)
        return writeResult(errBadParameters);
    const uint8_t* mask = hostRecord->hasMask ? hostRecord->maskBuffer : nullptr;
    const int32_t maskRowStride = hostRecord->maskRowStride;
    if (mask != nullptr && maskRowStride < delivered.right - delivered.left)
        return writeResult(errBadParameters);

    const PixelRect walked{delivered.top, delivered.left, delivered.bottom, delivered.right};
    // Our own hosts observe the fill and may stop it; the editor offers no hooks, and the run
    // is then exactly the unobserved one (host/host_hooks.h).
    if (!observeWithOurHostHooks(
            findOurHostHooks(reinterpret_cast<const void*>(hostRecord->deliverBuffers)),
            delivered.right - delivered.left))
        return writeResult(errBadParameters);
    // The source bounds are checked against the 16-bit rectangle's edges, read directly.
    const FillOutcome outcome = markFillStates(
        hostRecord->inBuffer, hostRecord->outBuffer, mask, maskRowStride, walked,
        *hostParameterBlock, hostRecord->filterRect.right, hostRecord->filterRect.bottom);
    stopObserving();
    if (outcome == FillOutcome::stopped)
        return writeResult(errCanceled);
    const OutcomeReport report = reportOutcome(outcome);
    // Done is 1 of W x H: the one report after the whole fill (kProgressDone says why).
    if (report.engineDone && hostRecord->reportProgress != nullptr)
        hostRecord->reportProgress(kProgressDone, progressTotal());
    if (report.succeeded && hostRecord->queryAbort != nullptr && hostRecord->queryAbort() != 0)
        writeResult(errCanceled);
}

} // namespace mendora
