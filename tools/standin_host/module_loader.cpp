// Module loading through the platform's dynamic loader: LoadLibrary on Windows, dlopen
// elsewhere.
#include "tools/standin_host/module_loader.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <dlfcn.h>
#endif

namespace mendora::standin {

#ifdef _WIN32

std::wstring wideFromUtf8(const std::string& path) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                           static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                        &wide[0], length);
    return wide;
}

void* openModule(const std::string& path, std::string& error) {
    // UTF-8 reaches every file name; a path that is not UTF-8 is taken in the ANSI code page.
    const std::wstring wide = wideFromUtf8(path);
    HMODULE module = wide.empty() ? LoadLibraryA(path.c_str()) : LoadLibraryW(wide.c_str());
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
