// Finding our own hosts' hooks through the loader, and the engine's observer made of them.
#include "host/our_host_hooks.h"

#include <cstddef>

#include "engine/engine.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace mendora {

namespace {

#ifdef _WIN32

// The exported function of the module holding `address`, or null.
void* exportedBeside(const void* address, const char* name) {
    HMODULE module = nullptr;
    // No reference is taken: the host's binary outlives the call that handed us its callback.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}

#else

// The object `address` lies in, by its base address; null when the loader knows none.
const void* objectBase(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0)
        return nullptr;
    return info.dli_fbase;
}

// The exported symbol `name` of the object holding `address`, or null. The object is a shared
// library opened by name (never loaded anew) or the main program; a symbol found elsewhere (a
// library the object depends on, another in the global scope) is not taken.
void* exportedBeside(const void* address, const char* name) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fbase == nullptr)
        return nullptr;
    void* symbol = nullptr;
    if (info.dli_fname != nullptr && *info.dli_fname != '\0') {
        if (void* object = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
            symbol = dlsym(object, name);
            dlclose(object);
        }
    }
    if (symbol == nullptr) {
        // The main program is not found by its name (the loader records it without one).
        if (void* program = dlopen(nullptr, RTLD_LAZY)) {
            symbol = dlsym(program, name);
            dlclose(program);
        }
    }
    if (symbol == nullptr || objectBase(symbol) != info.dli_fbase)
        return nullptr;
    return symbol;
}

#endif

// Whether `hooks`, as large as it says, holds the field ending at `end`.
bool holds(const MendoraHostHooks& hooks, size_t end) {
    return hooks.size >= end;
}

void progressOf(void* context, FillStage stage, int64_t done, int64_t total) {
    const MendoraHostHooks* hooks = static_cast<const MendoraHostHooks*>(context);
    hooks->progress(hooks->context, static_cast<int32_t>(stage), done, total);
}

bool stopOf(void* context) {
    const MendoraHostHooks* hooks = static_cast<const MendoraHostHooks*>(context);
    return hooks->stopRequested(hooks->context) != 0;
}

} // namespace

const MendoraHostHooks* findOurHostHooks(const void* callback) {
    if (callback == nullptr)
        return nullptr;
    void* exported = exportedBeside(callback, MENDORA_HOST_HOOKS_SYMBOL);
    if (exported == nullptr)
        return nullptr;
    const MendoraHostHooks* hooks = reinterpret_cast<MendoraHostHooksProc>(exported)();
    if (hooks == nullptr)
        return nullptr;
    if (!holds(*hooks, offsetof(MendoraHostHooks, context) + sizeof hooks->context))
        return nullptr;
    return hooks;
}

bool observeWithOurHostHooks(const MendoraHostHooks* hooks, int32_t width) {
    const bool area = hooks != nullptr &&
                      holds(*hooks, offsetof(MendoraHostHooks, samplingAreaRowStride) +
                                        sizeof hooks->samplingAreaRowStride) &&
                      hooks->samplingArea != nullptr;
    if (area && hooks->samplingAreaRowStride < width)
        return false;
    setSamplingArea(area ? hooks->samplingArea : nullptr, area ? hooks->samplingAreaRowStride : 0);
    FillObserver observer;
    if (hooks != nullptr) {
        observer.context = const_cast<MendoraHostHooks*>(hooks);
        if (holds(*hooks, offsetof(MendoraHostHooks, progress) + sizeof hooks->progress) &&
            hooks->progress != nullptr)
            observer.progress = progressOf;
        if (holds(*hooks,
                  offsetof(MendoraHostHooks, stopRequested) + sizeof hooks->stopRequested) &&
            hooks->stopRequested != nullptr)
            observer.stopRequested = stopOf;
    }
    setFillObserver(observer);
    return true;
}

void stopObserving() {
    setFillObserver(FillObserver{});
    setSamplingArea(nullptr, 0);
}

} // namespace mendora
