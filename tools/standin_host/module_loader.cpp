// Module loading through the platform's dynamic loader: LoadLibrary on Windows, dlopen
// elsewhere.
#include "tools/standin_host/module_loader.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace mendora::standin {

#ifdef _WIN32

void* openModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
}

void* findModuleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void closeModule(void* module) {
    if (module != nullptr)
        FreeLibrary(static_cast<HMODULE>(module));
}

#else

void* openModule(const std::string& path, std::string& error) {
    // Local symbols, resolved at once: a module with missing symbols fails here, not later
    // inside a call.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        error = "cannot load " + path + (reason != nullptr ? ": " + std::string(reason) : "");
    }
    return module;
}

void* findModuleSymbol(void* module, const char* name) {
    return dlsym(module, name);
}

void closeModule(void* module) {
    if (module != nullptr)
        dlclose(module);
}

#endif

} // namespace mendora::standin
