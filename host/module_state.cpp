// Definitions of the module state and the result helpers.
#include "host/module_state.h"

#include <cassert>

namespace mendora {

HostRecord* hostRecord = nullptr;
const AboutRecord* aboutRecord = nullptr;
intptr_t* dataSlot = nullptr;
int16_t* result = nullptr;
FillParameters* parameterBlock = nullptr;
uint8_t* dataBlock = nullptr;
int32_t filterWidth = 0;
int32_t filterHeight = 0;
int16_t startRefusal = errBadParameters;
const BasicSuiteAccess* suiteAccess = nullptr;
ModuleInstance moduleInstance = nullptr;

void writeResult(int16_t code) {
    assert(result != nullptr);
    *result = code;
}

bool resultIsClear() {
    assert(result != nullptr);
    return *result == resultSuccess;
}

} // namespace mendora
