// The plug-in module's state: the host's pointers of the current call, the locked persistent
// blocks and the geometry of the current run. Module-global, for one host thread. Every name
// here starts with `host`: the host module owns these (the engine keeps its own state).
#pragma once

#include <cstdint>

#include "params/fill_parameters.h"
#include "sdk/vellumar_plugin.h"

namespace mendora {

#ifdef _WIN32
using ModuleInstance = HINSTANCE;
#else
using ModuleInstance = void*;
#endif

// The record of the current call: a HostRecord for every selector but about, then null.
extern HostRecord* hostRecord;
// The record of an about call, null otherwise.
extern const AboutRecord* hostAboutRecord;
// The host's slot for the data handle, and the host's result code of the current call.
extern intptr_t* hostDataSlot;
extern int16_t* hostResult;
// The locked parameter and data blocks: set by a successful lock step, null again after the
// unlock step that ends every call.
extern FillParameters* hostParameterBlock;
extern uint8_t* hostDataBlock;
// W and H of the filter rectangle, fixed by the last prepare step (0 when it refused the
// geometry). The engine keeps its own copy for its grids.
extern int32_t hostFilterWidth;
extern int32_t hostFilterHeight;
// What a start step reports without asking the host for anything: 0 once a prepare step has
// allocated the grids for a valid geometry; the prepare step's failure code after it failed;
// errBadParameters before any prepare step and after the finish step.
extern int16_t hostStartRefusal;
// The host's access to further suites, kept on every call.
extern const BasicSuiteAccess* hostSuiteAccess;
// The library's own instance: set by the load entry on Windows, where dialogs and strings
// are loaded through it; null on Linux, where the module carries no resources.
extern ModuleInstance hostModuleInstance;

// Writes `code` into the host's result of the current call.
void writeResult(int16_t code);

// True while the result of the current call is still 0.
bool resultIsClear();

} // namespace mendora
