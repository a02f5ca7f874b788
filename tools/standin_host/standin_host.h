// The stand-in host: loads a plug-in module and drives it as the image editor would, through
// the records, callbacks and handle procedures of the plug-in interface. It owns the
// parameter handle and the data slot across runs, builds the image buffers the plug-in asks
// for, records every callback the plug-in makes, and can be told to fail.
//
// All state is module-level: the interface's callbacks carry no context, so there is one
// stand-in host per process, used from one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "params/fill_parameters.h"
#include "sdk/vellumar_plugin.h"

namespace mendora::standin {

// ---- Loading -------------------------------------------------------------------------------

// Loads the plug-in module at `path` (closing any module loaded before) and looks up its
// entry point. Returns false with a message in `error` when the module cannot be opened or
// exports no entry point; no module is loaded then.
bool loadPlugin(const std::string& path, std::string& error);

// Closes the loaded module. Handles and the data slot stay, as a host keeps them when it
// unloads a plug-in between runs.
void unloadPlugin();

bool pluginLoaded();

// ---- What the host offers ------------------------------------------------------------------

// An RGB image: rows of exactly 3 x width bytes, red, green, blue per pixel.
struct HostImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// The parent window of a host without one: no terminal on Linux, no window on Windows.
VlmrParentWindow noParentWindow();

// Our own hosts' hooks (host/host_hooks.h), which the plug-in module finds in the binary that
// holds the stand-in host; the image editor offers none. Called inside the start step, on the
// thread that called it.
struct FillHooks {
    // The fill's stage (MENDORA_STAGE_*) and how far it is: done rises to total within a
    // stage. Keep it cheap: the fill waits for it once a step.
    std::function<void(int32_t stage, int64_t done, int64_t total)> progress;
    // Answers true to stop the fill at its next check (once a fill step, between the set-up
    // stages): the start step then answers errCanceled without reporting progress or asking
    // for an abort, and the output buffer may hold part of the fill.
    std::function<bool()> stopRequested;
    // The sampling area handed to the plug-in (host/host_hooks.h): one byte a pixel of the
    // filter rectangle, nonzero where source windows may lie, rows samplingAreaRowStride bytes
    // apart; null for every pixel. The bytes stay the caller's and must outlive the run.
    const uint8_t* samplingArea = nullptr;
    int32_t samplingAreaRowStride = 0;
};

struct HostSettings {
    // Offer the 32-bit coordinate record (the plug-in switches to it).
    bool offerBigCoordinates = true;
    int16_t planeCount = 3;
    int32_t memoryLimit = 256 * 1024 * 1024;
    int16_t outputTileWidth = 256;
    int16_t outputTileHeight = 256;
    // The filter rectangle; absent means the whole image, (0, 0, height, width).
    std::optional<Rect32> filterRect;
    // Distance between mask rows; 0 means rows exactly as wide as the mask rectangle.
    int32_t maskRowStride = 0;
    // The byte between the end of a mask row and the start of the next. Non-zero by default,
    // so that a plug-in reading it as mask selects pixels it should not.
    uint8_t maskPadding = 0xA5;
    // The window that parents the plug-in's dialogs.
    VlmrParentWindow parentWindow = noParentWindow();
    // Failure injection: newHandle answers null; lockHandle answers null for every handle, or
    // only for the handle with the id given (0: none).
    bool newHandleFails = false;
    bool lockHandleFails = false;
    int32_t lockFailsForHandleId = 0;
    // A non-zero answer of deliverBuffers, given without delivering anything.
    int16_t deliverAnswer = 0;
    // deliverBuffers runs out of memory inside the host's own C++ code: std::bad_alloc
    // unwinds into the plug-in, which must stop it.
    bool deliverThrowsOutOfMemory = false;
    // The answer of queryAbort.
    bool abortAnswer = false;
    // Offered to the plug-in when either hook is set.
    FillHooks fillHooks;
    // Hand the plug-in the host's own image as its input, and the selection as its mask, when
    // it asks for the whole of them (all planes; mask rows without padding), instead of
    // copies: for a host that trusts the plug-in not to write there, as the command line does
    // (a copy less at the fill's peak). Writes into the input then go unnoticed.
    bool deliverInPlace = false;
    // Hand the plug-in the host's own image as its output buffer too, when it asks for the
    // whole of it: its writes change the image, which is then the result (a copy less at the
    // fill's peak). Without guards around it, and deliveredOutputBuffer() is empty.
    bool outputInPlace = false;
};

// Resets the host to a fresh one: default settings, no image, no selection, every handle
// disposed, a data slot of 0, empty logs. The loaded module stays loaded.
void resetHost();

// The settings the next beginRun (and runFilter) builds the record from.
HostSettings& hostSettings();

// The image to filter and the selection over it (one byte per pixel, rows of `width` bytes,
// non-zero selects). Without a selection the host has no mask. A caller that no longer needs
// its pixels moves them in: the host keeps them, not a copy.
void setImage(HostImage image);
void setSelection(std::vector<uint8_t> mask);
// The image as set.
const HostImage& hostImage();
void clearSelection();

// The value the host keeps in every rectangle it has not been asked for, in both the 16-bit
// and the 32-bit fields, so that a write to the wrong set shows.
constexpr int16_t kUntouchedCoordinate = -7;

// A filter run calls continue until the requested rectangles are empty, at most this often.
constexpr int32_t kMaxContinueCalls = 16;

// ---- Calling the plug-in -------------------------------------------------------------------

// Builds a fresh host record for a run from the settings, the image and the selection: the
// callbacks and handle procedures, the kept parameter handle, the filter rectangle in both
// coordinate sets, the memory limit, the tile sizes, and a mask buffer over the whole filter
// rectangle when there is a selection. Clears the logs and the delivered buffers.
void beginRun();

// Calls the entry point with `selector`, the current record, the data slot and a result of 0,
// and answers the result. Builds a record first when none was built since resetHost.
// Requires a loaded module.
int16_t callSelector(int16_t selector);

// Calls the entry point with selector about and an AboutRecord of the host's window data and
// suite access. Answers the result.
int16_t callAbout();

struct FilterRunResult {
    int16_t parametersResult = 0;
    int16_t prepareResult = 0;
    int16_t startResult = 0;
    int16_t continueResult = 0;
    int16_t finishResult = 0;
    int32_t continueCalls = 0;
    // True when a continue call left the input, output and mask rectangles empty.
    bool exchangeEnded = false;
    // The first non-zero result of the run, or 0.
    int16_t result = 0;
};

// The calls of a filter run on the record already built, in the host's order: `parameters`
// when asked for, `prepare`, `start`, `continue` until the requested rectangles are empty (at
// most kMaxContinueCalls), `finish`. A failing `parameters` ends the run; after a failing
// `prepare` or `start` only `finish` follows. `afterStart`, when given, is called as soon as
// `start` returns, whatever it answered. The one run sequence of every host.
FilterRunResult runSteps(bool withParameters, const std::function<void()>& afterStart = {});

// A whole filter run: beginRun, then runSteps.
FilterRunResult runFilter(bool withParameters);

// ---- What the host saw ---------------------------------------------------------------------

enum class HostCallKind {
    newHandle,     // first: the size asked for; second: id of the new handle, 0 for none
    disposeHandle, // first: handle id
    getHandleSize, // first: handle id
    lockHandle,    // first: handle id; second: the moveHigh flag
    unlockHandle,  // first: handle id
    deliverBuffers,
    reportProgress, // first: done; second: total
    queryAbort,
    acquireSuite, // text: suite name; first: version
    releaseSuite, // text: suite name; first: version
    browseUrl,    // text: the address
};

struct HostCall {
    HostCallKind kind;
    int32_t first = 0;
    int32_t second = 0;
    std::string text;
};

// Every callback since the last beginRun (or resetHost), in order.
const std::vector<HostCall>& hostCalls();
int32_t countCalls(HostCallKind kind);

// The request as deliverBuffers found it, read in the coordinate set the plug-in had chosen.
struct DeliveryRequest {
    bool used32BitCoordinates = false;
    Rect32 inRect{};
    Rect32 outRect{};
    Rect32 maskRect{};
    int16_t inFirstPlane = 0;
    int16_t inLastPlane = 0;
    int16_t outFirstPlane = 0;
    int16_t outLastPlane = 0;
    VlmrFixed inSampleRate = 0;
    VlmrFixed maskSampleRate = 0;
    // False when the request was refused (the answer was errBadParameters).
    bool served = false;
};

// The last request deliverBuffers saw; absent when it was not called since beginRun.
std::optional<DeliveryRequest> lastDelivery();

// The record and the coordinate record the plug-in is called with (open to tests that need
// to set up a host the settings do not describe).
HostRecord& hostRecord();
BigCoordinateRecord& bigCoordinateRecord();

// The delivered buffers as they are now: the input buffer, and the output buffer with the
// plug-in's writes. Empty before a delivery.
std::vector<uint8_t> inputBuffer();
std::vector<uint8_t> outputBuffer();
// The output buffer as it was delivered, before the plug-in wrote into it.
std::vector<uint8_t> deliveredOutputBuffer();
// False when the plug-in wrote past either end of the output buffer or into the input buffer.
bool buffersIntact();

// ---- The persistent handles ----------------------------------------------------------------

bool hasParameterHandle();
bool hasDataHandle();
// Ids of the handles in the call log; 0 when absent.
int32_t parameterHandleId();
int32_t dataHandleId();
// The parameter block stored in the parameter handle. False (block untouched) without one.
bool readParameterBlock(FillParameters& block);
// Stores `block` in the parameter handle, as a user's earlier run would have. False without
// a parameter handle.
bool writeParameterBlock(const FillParameters& block);
// The bytes of the data handle; empty without one.
std::vector<uint8_t> dataBlockBytes();
// The host forgets a handle, as one that did not keep it would: the parameter handle in the
// record, or the value in the data slot.
void forgetParameterHandle();
void forgetDataHandle();
// Handles locked more often than unlocked.
int32_t lockedHandleCount();

} // namespace mendora::standin
