// The stand-in host's module state, shared by its record building and its callbacks.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "host/host_hooks.h"
#include "tools/standin_host/standin_host.h"

namespace mendora::standin {

// One host handle: its bytes and how often it is locked. A VlmrHandle is the address of one.
struct HandleBlock {
    int32_t id = 0;
    std::vector<uint8_t> bytes;
    int32_t lockDepth = 0;
};

// Bytes of known value on either side of the output buffer; a write past its ends shows.
constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardValue = 0xCD;

struct HostState {
    void* module = nullptr;
    PluginEntryProc entry = nullptr;

    HostSettings settings;
    HostImage image;
    std::optional<std::vector<uint8_t>> selection;

    // The records handed to the plug-in. The record's parameterHandle and the data slot are
    // kept across runs.
    bool recordBuilt = false;
    HostRecord record{};
    BigCoordinateRecord big{};
    HandleProcedures procedures{};
    VlmrWindowData window{};
    BasicSuiteAccess suites{};
    FileListSuite4 fileList{};
    intptr_t dataSlot = 0;
    // The hooks record answered to the plug-in, forwarding to settings.fillHooks.
    MendoraHostHooks hooks{};

    std::vector<std::unique_ptr<HandleBlock>> handles;
    int32_t nextHandleId = 1;

    std::vector<HostCall> calls;
    std::optional<DeliveryRequest> delivery;
    // The last request served: what was delivered is read again from the image (rather than
    // kept), to notice writes into the input and to answer the output as delivered.
    std::optional<DeliveryRequest> served;
    bool inputInPlace = false;  // the input buffer is the image itself (deliverInPlace)
    bool outputInPlace = false; // so is the output buffer (outputInPlace)
    std::vector<uint8_t> inBuffer;
    std::vector<uint8_t> outStorage; // guard, output buffer, guard
    std::vector<uint8_t> maskStorage;
};

HostState& state();

// The handle block behind `handle`, or null when the host never gave out that handle.
HandleBlock* findHandle(VlmrHandle handle);

// True while the plug-in has switched the host to 32-bit coordinates.
bool hostIn32BitMode();

// The filter rectangle of the settings, or the whole image.
Rect32 filterRectOfSettings();

// Planes first..last of the image's pixels in `rect`, interleaved, rows without padding.
std::vector<uint8_t> pixelsOf(const Rect32& rect, int16_t first, int16_t last);

// Builds the mask buffer over `rect` (rows `maskRowStride` apart, padding bytes between) and
// points the record at it; null without a selection or for an empty rectangle. With
// deliverInPlace, a mask over the whole image without padding is the selection itself.
void buildMaskBuffer(const Rect32& rect);

// The hooks record for our own hosts' hooks of the settings, or null when none is set.
const MendoraHostHooks* offeredHooks();

// Installs the callbacks, handle procedures and suite access into the record.
void installCallbacks();

} // namespace mendora::standin
