// The stand-in host: loading, the host record of a run, calls of the entry point, whole
// filter runs, and what tests and tools read back.
#include "tools/standin_host/standin_host.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "tools/standin_host/module_loader.h"
#include "tools/standin_host/standin_state.h"

namespace mendora::standin {

namespace {

constexpr Rect16 kUntouched16{kUntouchedCoordinate, kUntouchedCoordinate, kUntouchedCoordinate,
                              kUntouchedCoordinate};
constexpr Rect32 kUntouched32{kUntouchedCoordinate, kUntouchedCoordinate, kUntouchedCoordinate,
                              kUntouchedCoordinate};

// The low 16 bits of a coordinate, as a host keeps a 32-bit rectangle in its 16-bit fields.
int16_t low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

bool isEmpty(const Rect32& rect) {
    return rect.bottom <= rect.top || rect.right <= rect.left;
}

Rect32 activeRect(const Rect16& rect16, const Rect32& rect32) {
    if (hostIn32BitMode())
        return rect32;
    return Rect32{rect16.top, rect16.left, rect16.bottom, rect16.right};
}

bool requestedRectsEmpty() {
    const HostState& host = state();
    return isEmpty(activeRect(host.record.inRect, host.big.inRect32)) &&
           isEmpty(activeRect(host.record.outRect, host.big.outRect32)) &&
           isEmpty(activeRect(host.record.maskRect, host.big.maskRect32));
}

void clearExchange() {
    HostState& host = state();
    host.calls.clear();
    host.delivery.reset();
    host.served.reset();
    host.inputInPlace = false;
    host.outputInPlace = false;
    host.inBuffer.clear();
    host.outStorage.clear();
    host.maskStorage.clear();
}

} // namespace

HostState& state() {
    static HostState host;
    return host;
}

bool hostIn32BitMode() {
    const HostState& host = state();
    return host.record.bigCoordinates != nullptr && host.big.uses32BitCoordinates != 0;
}

Rect32 filterRectOfSettings() {
    const HostState& host = state();
    if (host.settings.filterRect)
        return *host.settings.filterRect;
    return Rect32{0, 0, host.image.height, host.image.width};
}

VlmrParentWindow noParentWindow() {
#ifdef _WIN32
    return nullptr;
#else
    return VlmrParentWindow{-1, -1};
#endif
}

// ---- Loading -------------------------------------------------------------------------------

bool loadPlugin(const std::string& path, std::string& error) {
    unloadPlugin();
    HostState& host = state();
    void* module = openModule(path, error);
    if (module == nullptr)
        return false;
    void* entry = findModuleSymbol(module, VLMR_ENTRY_POINT_NAME);
    if (entry == nullptr) {
        error = path + " exports no " VLMR_ENTRY_POINT_NAME;
        closeModule(module);
        return false;
    }
    host.module = module;
    host.entry = reinterpret_cast<PluginEntryProc>(entry);
    return true;
}

void unloadPlugin() {
    HostState& host = state();
    closeModule(host.module);
    host.module = nullptr;
    host.entry = nullptr;
}

bool pluginLoaded() {
    return state().entry != nullptr;
}

// ---- Set-up --------------------------------------------------------------------------------

void resetHost() {
    HostState& host = state();
    host.settings = HostSettings{};
    host.image = HostImage{};
    host.selection.reset();
    host.recordBuilt = false;
    host.record = HostRecord{};
    host.big = BigCoordinateRecord{};
    host.dataSlot = 0;
    host.handles.clear();
    host.nextHandleId = 1;
    clearExchange();
}

HostSettings& hostSettings() {
    return state().settings;
}

void setImage(HostImage image) {
    if (image.width < 0 || image.height < 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3)
        throw std::invalid_argument("image pixels do not match its extent");
    state().image = std::move(image);
}

const HostImage& hostImage() {
    return state().image;
}

void setSelection(std::vector<uint8_t> mask) {
    const HostImage& image = state().image;
    if (mask.size() != static_cast<size_t>(image.width) * image.height)
        throw std::invalid_argument("selection does not match the image extent");
    state().selection = std::move(mask);
}

void clearSelection() {
    state().selection.reset();
}

void beginRun() {
    HostState& host = state();
    clearExchange();
    VlmrHandle keptParameterHandle = host.record.parameterHandle;
    host.record = HostRecord{};
    host.record.parameterHandle = keptParameterHandle;
    installCallbacks();

    const Rect32 filter = filterRectOfSettings();
    host.record.planeCount = host.settings.planeCount;
    host.record.filterRect =
        Rect16{low16(filter.top), low16(filter.left), low16(filter.bottom), low16(filter.right)};
    host.record.memoryLimit = host.settings.memoryLimit;
    host.record.bufferRequest = -1;
    host.record.inRect = kUntouched16;
    host.record.outRect = kUntouched16;
    host.record.maskRect = kUntouched16;
    host.record.outputTileHeight = host.settings.outputTileHeight;
    host.record.outputTileWidth = host.settings.outputTileWidth;
    host.window.parentWindow = host.settings.parentWindow;
    host.record.windowData = &host.window;

    host.big = BigCoordinateRecord{};
    host.big.imageWidth32 = host.image.width;
    host.big.imageHeight32 = host.image.height;
    host.big.filterRect32 = filter;
    host.big.inRect32 = kUntouched32;
    host.big.outRect32 = kUntouched32;
    host.big.maskRect32 = kUntouched32;
    host.record.bigCoordinates = host.settings.offerBigCoordinates ? &host.big : nullptr;

    // A host with a selection has a mask buffer before the exchange; the plug-in counts it
    // into its memory estimate.
    host.record.hasMask = host.selection ? 1 : 0;
    buildMaskBuffer(filter);
    host.recordBuilt = true;
}

// ---- Calls ---------------------------------------------------------------------------------

int16_t callSelector(int16_t selector) {
    HostState& host = state();
    if (host.entry == nullptr)
        throw std::logic_error("no plug-in module is loaded");
    if (!host.recordBuilt)
        beginRun();
    int16_t result = resultSuccess;
    host.entry(selector, &host.record, &host.dataSlot, &result);
    return result;
}

int16_t callAbout() {
    HostState& host = state();
    if (host.entry == nullptr)
        throw std::logic_error("no plug-in module is loaded");
    if (!host.recordBuilt)
        beginRun();
    // The suite access lives only as long as the call, as a host may build it per call: once
    // the call has returned it is blanked and freed, so a plug-in that kept it finds nothing.
    auto access = std::make_unique<BasicSuiteAccess>(host.suites);
    AboutRecord about{&host.window, access.get()};
    int16_t result = resultSuccess;
    host.entry(selectorAbout, &about, &host.dataSlot, &result);
    volatile BasicSuiteAccess* spent = access.get();
    spent->acquireSuite = nullptr;
    spent->releaseSuite = nullptr;
    return result;
}

FilterRunResult runSteps(bool withParameters, const std::function<void()>& afterStart) {
    FilterRunResult run;
    auto note = [&run](int16_t code) {
        if (run.result == resultSuccess)
            run.result = code;
        return code;
    };
    if (withParameters && note(run.parametersResult = callSelector(selectorParameters)) != 0)
        return run;
    if (note(run.prepareResult = callSelector(selectorPrepare)) == resultSuccess) {
        note(run.startResult = callSelector(selectorStart));
        if (afterStart)
            afterStart();
        while (run.startResult == resultSuccess && run.continueCalls < kMaxContinueCalls) {
            run.continueCalls++;
            if (note(run.continueResult = callSelector(selectorContinue)) != resultSuccess)
                break;
            if (requestedRectsEmpty()) {
                run.exchangeEnded = true;
                break;
            }
        }
    }
    note(run.finishResult = callSelector(selectorFinish));
    return run;
}

FilterRunResult runFilter(bool withParameters) {
    beginRun();
    return runSteps(withParameters);
}

// ---- Inspection ----------------------------------------------------------------------------

const std::vector<HostCall>& hostCalls() {
    return state().calls;
}

int32_t countCalls(HostCallKind kind) {
    int32_t count = 0;
    for (const HostCall& call : state().calls)
        if (call.kind == kind)
            count++;
    return count;
}

std::optional<DeliveryRequest> lastDelivery() {
    return state().delivery;
}

HostRecord& hostRecord() {
    return state().record;
}

BigCoordinateRecord& bigCoordinateRecord() {
    return state().big;
}

std::vector<uint8_t> inputBuffer() {
    return state().inBuffer;
}

std::vector<uint8_t> outputBuffer() {
    const HostState& host = state();
    if (host.outputInPlace)
        return host.image.pixels;
    if (host.outStorage.size() < 2 * kGuardBytes)
        return {};
    return std::vector<uint8_t>(host.outStorage.begin() + kGuardBytes,
                                host.outStorage.end() - kGuardBytes);
}

std::vector<uint8_t> deliveredOutputBuffer() {
    const std::optional<DeliveryRequest>& served = state().served;
    if (!served || state().outputInPlace)
        return {};
    return pixelsOf(served->outRect, served->outFirstPlane, served->outLastPlane);
}

bool buffersIntact() {
    const HostState& host = state();
    if (host.served && !host.inputInPlace && !host.outputInPlace && // (the image is written)
        host.inBuffer !=
            pixelsOf(host.served->inRect, host.served->inFirstPlane, host.served->inLastPlane))
        return false;
    if (host.outStorage.empty())
        return true;
    for (size_t i = 0; i < kGuardBytes; i++) {
        if (host.outStorage[i] != kGuardValue)
            return false;
        if (host.outStorage[host.outStorage.size() - 1 - i] != kGuardValue)
            return false;
    }
    return true;
}

// ---- Persistent handles --------------------------------------------------------------------

bool hasParameterHandle() {
    return findHandle(state().record.parameterHandle) != nullptr;
}

bool hasDataHandle() {
    return findHandle(reinterpret_cast<VlmrHandle>(state().dataSlot)) != nullptr;
}

int32_t parameterHandleId() {
    const HandleBlock* block = findHandle(state().record.parameterHandle);
    return block != nullptr ? block->id : 0;
}

int32_t dataHandleId() {
    const HandleBlock* block = findHandle(reinterpret_cast<VlmrHandle>(state().dataSlot));
    return block != nullptr ? block->id : 0;
}

bool readParameterBlock(FillParameters& block) {
    const HandleBlock* handle = findHandle(state().record.parameterHandle);
    if (handle == nullptr || handle->bytes.size() < sizeof(FillParameters))
        return false;
    std::memcpy(&block, handle->bytes.data(), sizeof(FillParameters));
    return true;
}

bool writeParameterBlock(const FillParameters& block) {
    HandleBlock* handle = findHandle(state().record.parameterHandle);
    if (handle == nullptr || handle->bytes.size() < sizeof(FillParameters))
        return false;
    std::memcpy(handle->bytes.data(), &block, sizeof(FillParameters));
    return true;
}

std::vector<uint8_t> dataBlockBytes() {
    const HandleBlock* handle = findHandle(reinterpret_cast<VlmrHandle>(state().dataSlot));
    return handle != nullptr ? handle->bytes : std::vector<uint8_t>{};
}

void forgetParameterHandle() {
    state().record.parameterHandle = nullptr;
}

void forgetDataHandle() {
    state().dataSlot = 0;
}

int32_t lockedHandleCount() {
    int32_t count = 0;
    for (const auto& block : state().handles)
        if (block->lockDepth > 0)
            count++;
    return count;
}

} // namespace mendora::standin
