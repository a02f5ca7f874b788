// The stand-in host's side of the interface: handle procedures, buffer delivery, progress,
// abort and suites. Every callback is logged before it acts.
#include <algorithm>
#include <cstring>
#include <new>

#include "tools/standin_host/standin_state.h"

namespace mendora::standin {

namespace {

void logCall(HostCallKind kind, int32_t first = 0, int32_t second = 0, const char* text = "") {
    state().calls.push_back(HostCall{kind, first, second, text != nullptr ? text : ""});
}

int32_t idOf(VlmrHandle handle) {
    const HandleBlock* block = findHandle(handle);
    return block != nullptr ? block->id : 0;
}

// ---- Handle procedures ----------------------------------------------------------------------

VlmrHandle VLMR_CALLBACK newHandle(int32_t size) {
    HostState& host = state();
    if (host.settings.newHandleFails || size < 0) {
        logCall(HostCallKind::newHandle, size, 0);
        return nullptr;
    }
    auto block = std::make_unique<HandleBlock>();
    block->id = host.nextHandleId++;
    // Fresh host memory is not cleared; a plug-in must not rely on its contents.
    block->bytes.assign(static_cast<size_t>(size), 0xEE);
    VlmrHandle handle = reinterpret_cast<VlmrHandle>(block.get());
    logCall(HostCallKind::newHandle, size, block->id);
    host.handles.push_back(std::move(block));
    return handle;
}

void VLMR_CALLBACK disposeHandle(VlmrHandle handle) {
    logCall(HostCallKind::disposeHandle, idOf(handle));
    auto& handles = state().handles;
    handles.erase(std::remove_if(handles.begin(), handles.end(),
                                 [handle](const std::unique_ptr<HandleBlock>& block) {
                                     return reinterpret_cast<VlmrHandle>(block.get()) == handle;
                                 }),
                  handles.end());
}

int32_t VLMR_CALLBACK getHandleSize(VlmrHandle handle) {
    logCall(HostCallKind::getHandleSize, idOf(handle));
    const HandleBlock* block = findHandle(handle);
    return block != nullptr ? static_cast<int32_t>(block->bytes.size()) : 0;
}

uint8_t* VLMR_CALLBACK lockHandle(VlmrHandle handle, VlmrBoolean moveHigh) {
    logCall(HostCallKind::lockHandle, idOf(handle), moveHigh);
    HandleBlock* block = findHandle(handle);
    const HostSettings& settings = state().settings;
    if (block == nullptr || settings.lockHandleFails || settings.lockFailsForHandleId == block->id)
        return nullptr;
    block->lockDepth++;
    return block->bytes.data();
}

void VLMR_CALLBACK unlockHandle(VlmrHandle handle) {
    logCall(HostCallKind::unlockHandle, idOf(handle));
    HandleBlock* block = findHandle(handle);
    // Unlocking an unlocked handle is harmless, as with the editor's memory manager.
    if (block != nullptr && block->lockDepth > 0)
        block->lockDepth--;
}

// ---- Image exchange -------------------------------------------------------------------------

bool isEmpty(const Rect32& rect) {
    return rect.bottom <= rect.top || rect.right <= rect.left;
}

bool insideImage(const Rect32& rect) {
    const HostImage& image = state().image;
    return rect.top >= 0 && rect.left >= 0 && rect.bottom <= image.height &&
           rect.right <= image.width && !isEmpty(rect);
}

bool wholeImage(const Rect32& rect, int16_t first, int16_t last) {
    const HostImage& image = state().image;
    return rect.top == 0 && rect.left == 0 && rect.bottom == image.height &&
           rect.right == image.width && first == 0 && last == 2;
}

bool planesServable(int16_t first, int16_t last) {
    const int16_t available = std::min<int16_t>(state().settings.planeCount, 3);
    return first >= 0 && first <= last && last < available;
}

size_t bytesOf(const Rect32& rect, int16_t first, int16_t last) {
    return static_cast<size_t>(rect.bottom - rect.top) *
           static_cast<size_t>(rect.right - rect.left) * static_cast<size_t>(last - first + 1);
}

// Copies planes first..last of the pixels in `rect` to `to`, interleaved, rows without
// padding.
void copyPixels(const Rect32& rect, int16_t first, int16_t last, uint8_t* to) {
    const HostImage& image = state().image;
    const size_t columns = static_cast<size_t>(rect.right - rect.left);
    const size_t planes = static_cast<size_t>(last - first + 1);
    for (int32_t y = rect.top; y < rect.bottom; y++) {
        const uint8_t* from = &image.pixels[(static_cast<size_t>(y) * image.width + rect.left) * 3];
        // All three planes are whole rows of the image: one copy a row, not a byte at a time.
        if (planes == 3) {
            to = std::copy_n(from, columns * 3, to);
            continue;
        }
        for (size_t x = 0; x < columns; x++)
            for (size_t plane = 0; plane < planes; plane++)
                *to++ = from[x * 3 + static_cast<size_t>(first) + plane];
    }
}

} // namespace

std::vector<uint8_t> pixelsOf(const Rect32& rect, int16_t first, int16_t last) {
    std::vector<uint8_t> bytes(bytesOf(rect, first, last));
    copyPixels(rect, first, last, bytes.data());
    return bytes;
}

namespace {

DeliveryRequest readRequest() {
    const HostState& host = state();
    const HostRecord& record = host.record;
    DeliveryRequest request;
    request.used32BitCoordinates = hostIn32BitMode();
    if (request.used32BitCoordinates) {
        request.inRect = host.big.inRect32;
        request.outRect = host.big.outRect32;
        request.maskRect = host.big.maskRect32;
    } else {
        request.inRect = {record.inRect.top, record.inRect.left, record.inRect.bottom,
                          record.inRect.right};
        request.outRect = {record.outRect.top, record.outRect.left, record.outRect.bottom,
                           record.outRect.right};
        request.maskRect = {record.maskRect.top, record.maskRect.left, record.maskRect.bottom,
                            record.maskRect.right};
    }
    request.inFirstPlane = record.inFirstPlane;
    request.inLastPlane = record.inLastPlane;
    request.outFirstPlane = record.outFirstPlane;
    request.outLastPlane = record.outLastPlane;
    request.inSampleRate = record.inSampleRate;
    request.maskSampleRate = record.maskSampleRate;
    return request;
}

bool servable(const DeliveryRequest& request) {
    if (!insideImage(request.inRect) || !insideImage(request.outRect))
        return false;
    if (!planesServable(request.inFirstPlane, request.inLastPlane))
        return false;
    if (!planesServable(request.outFirstPlane, request.outLastPlane))
        return false;
    // The host delivers full resolution only.
    if (request.inSampleRate != VLMR_FIXED_ONE)
        return false;
    const bool maskWanted = state().selection.has_value() && !isEmpty(request.maskRect);
    if (maskWanted && !insideImage(request.maskRect))
        return false;
    return true;
}

int16_t VLMR_CALLBACK deliverBuffers() {
    logCall(HostCallKind::deliverBuffers);
    HostState& host = state();
    if (host.settings.deliverAnswer != 0)
        return host.settings.deliverAnswer;
    if (host.settings.deliverThrowsOutOfMemory)
        throw std::bad_alloc();
    DeliveryRequest request = readRequest();
    request.served = servable(request);
    host.delivery = request;
    if (!request.served)
        return errBadParameters;

    host.inputInPlace = host.settings.deliverInPlace &&
                        wholeImage(request.inRect, request.inFirstPlane, request.inLastPlane);
    host.inBuffer = host.inputInPlace
                        ? std::vector<uint8_t>{}
                        : pixelsOf(request.inRect, request.inFirstPlane, request.inLastPlane);
    // The output buffer comes holding the input image: the plug-in writes only what it fills.
    host.outputInPlace = host.settings.outputInPlace &&
                         wholeImage(request.outRect, request.outFirstPlane, request.outLastPlane);
    host.outStorage.clear();
    if (!host.outputInPlace) {
        const size_t outputSize =
            bytesOf(request.outRect, request.outFirstPlane, request.outLastPlane);
        host.outStorage.assign(outputSize + 2 * kGuardBytes, kGuardValue);
        copyPixels(request.outRect, request.outFirstPlane, request.outLastPlane,
                   host.outStorage.data() + kGuardBytes);
    }
    host.served = request;
    host.record.inBuffer = host.inputInPlace ? host.image.pixels.data() : host.inBuffer.data();
    host.record.outBuffer =
        host.outputInPlace ? host.image.pixels.data() : host.outStorage.data() + kGuardBytes;
    if (host.record.hasMask)
        buildMaskBuffer(request.maskRect);
    return resultSuccess;
}

void VLMR_CALLBACK reportProgress(int32_t done, int32_t total) {
    logCall(HostCallKind::reportProgress, done, total);
}

VlmrBoolean VLMR_CALLBACK queryAbort() {
    logCall(HostCallKind::queryAbort);
    return state().settings.abortAnswer ? 1 : 0;
}

// ---- Our own hosts' hooks -------------------------------------------------------------------

void VLMR_CALLBACK forwardProgress(void* context, int32_t stage, int64_t done, int64_t total) {
    static_cast<HostState*>(context)->settings.fillHooks.progress(stage, done, total);
}

VlmrBoolean VLMR_CALLBACK forwardStopRequest(void* context) {
    return static_cast<HostState*>(context)->settings.fillHooks.stopRequested() ? 1 : 0;
}

// ---- Suites ---------------------------------------------------------------------------------

void VLMR_CALLBACK reservedRoutine() {}

int16_t VLMR_CALLBACK browseUrl(const char* url) {
    logCall(HostCallKind::browseUrl, 0, 0, url);
    return resultSuccess;
}

int16_t VLMR_CALLBACK acquireSuite(const char* name, int32_t version, const void** suite) {
    logCall(HostCallKind::acquireSuite, version, 0, name);
    if (suite == nullptr)
        return errBadParameters;
    *suite = nullptr;
    if (name == nullptr || std::strcmp(name, VLMR_FILE_LIST_SUITE_NAME) != 0)
        return errBadParameters;
    if (version != VLMR_FILE_LIST_SUITE_VERSION)
        return errBadParameters;
    *suite = &state().fileList;
    return resultSuccess;
}

int16_t VLMR_CALLBACK releaseSuite(const char* name, int32_t version) {
    logCall(HostCallKind::releaseSuite, version, 0, name);
    return resultSuccess;
}

} // namespace

const MendoraHostHooks* offeredHooks() {
    HostState& host = state();
    const FillHooks& hooks = host.settings.fillHooks;
    if (!hooks.progress && !hooks.stopRequested && hooks.samplingArea == nullptr)
        return nullptr;
    host.hooks.size = sizeof host.hooks;
    host.hooks.context = &host;
    host.hooks.progress = hooks.progress ? forwardProgress : nullptr;
    host.hooks.stopRequested = hooks.stopRequested ? forwardStopRequest : nullptr;
    host.hooks.samplingArea = hooks.samplingArea;
    host.hooks.samplingAreaRowStride = hooks.samplingAreaRowStride;
    return &host.hooks;
}

HandleBlock* findHandle(VlmrHandle handle) {
    for (const auto& block : state().handles)
        if (reinterpret_cast<VlmrHandle>(block.get()) == handle)
            return block.get();
    return nullptr;
}

void buildMaskBuffer(const Rect32& rect) {
    HostState& host = state();
    host.maskStorage.clear();
    host.record.maskBuffer = nullptr;
    if (!host.selection || isEmpty(rect))
        return;
    const int32_t columns = rect.right - rect.left;
    const int32_t rows = rect.bottom - rect.top;
    const int32_t stride = host.settings.maskRowStride > 0 ? host.settings.maskRowStride : columns;
    if (host.settings.deliverInPlace && stride == columns && wholeImage(rect, 0, 2)) {
        host.record.maskBuffer = host.selection->data();
        host.record.maskRowStride = stride;
        return;
    }
    // Rows may overlap when the stride is narrower than the rectangle; the last row ends the
    // buffer either way.
    const size_t size = static_cast<size_t>(rows - 1) * stride + std::max(columns, stride);
    host.maskStorage.assign(size, host.settings.maskPadding);
    const std::vector<uint8_t>& selection = *host.selection;
    const int32_t width = host.image.width;
    for (int32_t r = 0; r < rows; r++) {
        const int32_t y = rect.top + r;
        uint8_t* row = &host.maskStorage[static_cast<size_t>(r) * stride];
        // The part of the row inside the image is one copy; the rest is unselected.
        const int32_t from = std::clamp(-rect.left, 0, columns);
        const int32_t to =
            y >= 0 && y < host.image.height ? std::clamp(width - rect.left, from, columns) : from;
        std::fill(row, row + from, uint8_t{0});
        if (to > from)
            std::copy_n(&selection[static_cast<size_t>(y) * width + rect.left + from], to - from,
                        row + from);
        std::fill(row + to, row + columns, uint8_t{0});
    }
    host.record.maskBuffer = host.maskStorage.data();
    host.record.maskRowStride = stride;
}

void installCallbacks() {
    HostState& host = state();
    host.procedures =
        HandleProcedures{1, 5, newHandle, disposeHandle, getHandleSize, lockHandle, unlockHandle};
    host.fileList = FileListSuite4{reservedRoutine, reservedRoutine, reservedRoutine, browseUrl};
    host.suites = BasicSuiteAccess{acquireSuite, releaseSuite};
    host.record.queryAbort = queryAbort;
    host.record.reportProgress = reportProgress;
    host.record.deliverBuffers = deliverBuffers;
    host.record.handleProcedures = &host.procedures;
    host.record.suiteAccess = &host.suites;
}

} // namespace mendora::standin

// The plug-in module looks this up in the binary holding the host's callbacks
// (host/host_hooks.h): exported from the program, or from the shared library, the stand-in host
// is linked into.
#ifdef _WIN32
extern "C" __declspec(dllexport) const MendoraHostHooks* VLMR_CALLBACK mendoraHostHooks() {
#else
extern "C" __attribute__((visibility("default"))) const MendoraHostHooks* VLMR_CALLBACK
mendoraHostHooks() {
#endif
    return mendora::standin::offeredHooks();
}
