// The activation context of the library's own manifest around its modal dialogs. The
// context functions are looked up at run time: a system without them still shows the
// dialogs, and the library loads there at all.
#include "ui/activation_context_win32.h"

#include <algorithm>
#include <string>

#include "host/module_state.h"
#include "resources/resource_ids.h"
#include "ui/dialog_rules.h"

namespace mendora {

namespace {

using CreateContextProc = HANDLE(WINAPI*)(PCACTCTXW);
using ActivateContextProc = BOOL(WINAPI*)(HANDLE, ULONG_PTR*);
using DeactivateContextProc = BOOL(WINAPI*)(DWORD, ULONG_PTR);
using ReleaseContextProc = void(WINAPI*)(HANDLE);

struct ContextFunctions {
    CreateContextProc create = nullptr;
    ActivateContextProc activate = nullptr;
    DeactivateContextProc deactivate = nullptr;
    ReleaseContextProc release = nullptr;
};

// The longest file name the system knows, in characters.
constexpr size_t kLongestPathLength = 32767;

template <typename Proc> Proc systemFunction(HMODULE kernel, const char* name) {
    // Through the generic function type, which converts to any other without a warning.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

// All four functions, or none.
ContextFunctions contextFunctions() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return {};
    ContextFunctions f;
    f.create = systemFunction<CreateContextProc>(kernel, "CreateActCtxW");
    f.activate = systemFunction<ActivateContextProc>(kernel, "ActivateActCtx");
    f.deactivate = systemFunction<DeactivateContextProc>(kernel, "DeactivateActCtx");
    f.release = systemFunction<ReleaseContextProc>(kernel, "ReleaseActCtx");
    if (!f.create || !f.activate || !f.deactivate || !f.release)
        return {};
    return f;
}

// The library's own file name, in wide characters so that no code page can lose a character
// of it, and of any length: the buffer grows until the name fits. Empty on failure.
std::wstring moduleFileName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(hostModuleInstance, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        // A cut name fills the whole buffer.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() > kLongestPathLength)
            return {};
        path.resize(std::min(path.size() * 2, kLongestPathLength + 1));
    }
}

INT_PTR showDialog(LPCSTR templateName, HWND owner, DLGPROC procedure) {
    return DialogBoxParamA(hostModuleInstance, templateName, owner, procedure, 0);
}

} // namespace

INT_PTR showModuleDialog(LPCSTR templateName, HWND owner, DLGPROC procedure) {
    const ContextFunctions functions = contextFunctions();
    if (functions.create == nullptr)
        return showDialog(templateName, owner, procedure);

    // The library's own file: the manifest is a resource of it.
    const std::wstring path = moduleFileName();
    if (path.empty())
        return kDialogFailed;
    ACTCTXW request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = hostModuleInstance;
    request.lpResourceName = MAKEINTRESOURCEW(kManifestId);
    request.lpSource = path.c_str();

    HANDLE context = functions.create(&request);
    if (context == INVALID_HANDLE_VALUE)
        return kDialogFailed;
    ULONG_PTR cookie = 0;
    if (!functions.activate(context, &cookie)) {
        functions.release(context);
        return kDialogFailed;
    }
    const INT_PTR end = showDialog(templateName, owner, procedure);
    functions.deactivate(0, cookie);
    functions.release(context);
    return end;
}

} // namespace mendora
