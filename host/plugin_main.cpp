// The plug-in's entry point: keeps the host's pointers of the call, switches the host to
// 32-bit coordinates, dispatches the selector and unlocks the persistent handles. No
// exception leaves it.
#include <new>

#include "host/handles.h"
#include "host/module_state.h"
#include "host/steps.h"
#include "ui/about_suite.h"
#include "ui/dialogs.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define MENDORA_EXPORT __attribute__((visibility("default")))
#else
// The Windows build names its exports in the module definition file.
#define MENDORA_EXPORT
#endif

namespace mendora {

namespace {

void dispatch(int16_t selector) {
    switch (selector) {
    case selectorParameters:
        parametersStep();
        break;
    case selectorPrepare:
        prepareStep();
        break;
    case selectorStart:
        startStep();
        break;
    case selectorContinue:
        continueStep();
        break;
    case selectorFinish:
        finishStep();
        break;
    default:
        // Unknown selectors run no step; the result stays 0.
        break;
    }
}

// Runs `step` and turns any exception into a result code, so that none reaches the host and
// the module stays usable: the module state is rebuilt from the host's pointers on every call
// and the engine releases a failed run's structures itself.
template <typename Step> void guarded(Step step) {
    try {
        step();
    } catch (const std::bad_alloc&) {
        writeResult(errOutOfMemory);
    } catch (...) {
        // Nothing else is thrown by the plug-in's own code; whatever it is, the step could not
        // be done for want of resources, and out of memory is the code that tells the host so
        // without blaming its input.
        writeResult(errOutOfMemory);
    }
}

} // namespace

} // namespace mendora

// Contract: see sdk/vellumar_plugin.h (PluginEntryProc). A null result pointer leaves nothing
// to report to, so the call does nothing; a null record, or a null data slot for a selector
// other than about, gives errBadParameters.
extern "C" MENDORA_EXPORT void VLMR_CALLBACK PluginMain(int16_t selector, void* record,
                                                        intptr_t* slot, int16_t* resultCode) {
    using namespace mendora;
    if (resultCode == nullptr)
        return;
    hostResult = resultCode;
    hostDataSlot = slot;
    hostRecord = nullptr;
    hostAboutRecord = nullptr;
    hostParameterBlock = nullptr;
    hostDataBlock = nullptr;
    if (record == nullptr) {
        writeResult(errBadParameters);
        return;
    }
    if (selector == selectorAbout) {
        hostAboutRecord = static_cast<const AboutRecord*>(record);
        hostSuiteAccess = hostAboutRecord->suiteAccess;
        guarded([] { showAboutBox(hostAboutRecord); });
        return;
    }
    hostRecord = static_cast<HostRecord*>(record);
    hostSuiteAccess = hostRecord->suiteAccess;
    if (hostRecord->bigCoordinates != nullptr)
        hostRecord->bigCoordinates->uses32BitCoordinates = 1;
    if (hostDataSlot == nullptr) {
        writeResult(errBadParameters);
        return;
    }
    guarded([selector] { dispatch(selector); });
    guarded(unlockStep);
}

#ifdef _WIN32
// The library's load entry: keeps the instance for the dialogs and strings, for every reason
// it is called with, and always reports success. Unloaded by FreeLibrary (reserved is null;
// not at the end of the process, when the host may be gone already), it gives back the host
// suite the about box holds.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    mendora::hostModuleInstance = instance;
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
        mendora::releaseAboutBoxSuite();
    return TRUE;
}
#endif
