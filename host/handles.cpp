// Creation, locking and unlocking of the persistent handles through the host's procedures.
#include "host/handles.h"

#include <cassert>

#include "host/module_state.h"

namespace mendora {

namespace {

// Index one past the last procedure the plug-in calls (unlockHandle) in the host's table.
constexpr int16_t kProceduresUsed = 5;

// The host's handle procedures when the table holds every procedure the plug-in calls;
// otherwise null.
const HandleProcedures* usableProcedures() {
    const HandleProcedures* procedures = hostRecord->handleProcedures;
    if (procedures == nullptr)
        return nullptr;
    if (procedures->count < kProceduresUsed)
        return nullptr;
    if (procedures->newHandle == nullptr)
        return nullptr;
    if (procedures->getHandleSize == nullptr)
        return nullptr;
    if (procedures->lockHandle == nullptr)
        return nullptr;
    if (procedures->unlockHandle == nullptr)
        return nullptr;
    return procedures;
}

VlmrHandle dataHandle() {
    return reinterpret_cast<VlmrHandle>(*hostDataSlot);
}

bool refuseLock(int16_t code) {
    hostParameterBlock = nullptr;
    hostDataBlock = nullptr;
    writeResult(code);
    return false;
}

} // namespace

void createParameterHandle() {
    const HandleProcedures* procedures = usableProcedures();
    if (procedures == nullptr) {
        writeResult(errBadParameters);
        return;
    }
    hostRecord->parameterHandle = procedures->newHandle(kParameterBlockSize);
    if (hostRecord->parameterHandle == nullptr)
        writeResult(errOutOfMemory);
}

void createDataHandle() {
    const HandleProcedures* procedures = usableProcedures();
    if (procedures == nullptr) {
        writeResult(errBadParameters);
        return;
    }
    VlmrHandle handle = procedures->newHandle(kDataBlockSize);
    if (handle == nullptr) {
        writeResult(errOutOfMemory);
        return;
    }
    *hostDataSlot = reinterpret_cast<intptr_t>(handle);
}

bool lockStep() {
    const HandleProcedures* procedures = usableProcedures();
    if (hostRecord->parameterHandle == nullptr)
        return refuseLock(errBadParameters);
    if (dataHandle() == nullptr)
        return refuseLock(errBadParameters);
    if (procedures == nullptr)
        return refuseLock(errBadParameters);
    // A handle kept by the host from some other plug-in version may be smaller than the block
    // written into it.
    if (procedures->getHandleSize(hostRecord->parameterHandle) < kParameterBlockSize)
        return refuseLock(errBadParameters);
    if (procedures->getHandleSize(dataHandle()) < kDataBlockSize)
        return refuseLock(errBadParameters);
    uint8_t* parameters = procedures->lockHandle(hostRecord->parameterHandle, 1);
    uint8_t* data = procedures->lockHandle(dataHandle(), 1);
    if (parameters == nullptr || data == nullptr)
        return refuseLock(errOutOfMemory);
    // The block is read through its 16-bit fields in place.
    if (reinterpret_cast<uintptr_t>(parameters) % alignof(FillParameters) != 0)
        return refuseLock(errBadParameters);
    hostParameterBlock = reinterpret_cast<FillParameters*>(parameters);
    hostDataBlock = data;
    return true;
}

void unlockStep() {
    hostParameterBlock = nullptr;
    hostDataBlock = nullptr;
    const HandleProcedures* procedures = usableProcedures();
    if (procedures == nullptr)
        return;
    if (dataHandle() != nullptr)
        procedures->unlockHandle(dataHandle());
    if (hostRecord->parameterHandle != nullptr)
        procedures->unlockHandle(hostRecord->parameterHandle);
}

} // namespace mendora
