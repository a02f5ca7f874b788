// Definitions of the module state and the result helpers.
#include "host/module_state.h"

#include <cassert>

namespace mendora {

HostRecord* hostRecord = nullptr;
const AboutRecord* hostAboutRecord = nullptr;
intptr_t* hostDataSlot = nullptr;
int16_t* hostResult = nullptr;
FillParameters* hostParameterBlock = nullptr;
uint8_t* hostDataBlock = nullptr;
int32_t hostFilterWidth = 0;
int32_t hostFilterHeight = 0;
int16_t hostStartRefusal = errBadParameters;
const BasicSuiteAccess* hostSuiteAccess = nullptr;
ModuleInstance hostModuleInstance = nullptr;

void writeResult(int16_t code) {
    assert(hostResult != nullptr);
    *hostResult = code;
}

bool resultIsClear() {
    assert(hostResult != nullptr);
    return *hostResult == resultSuccess;
}

} // namespace mendora
