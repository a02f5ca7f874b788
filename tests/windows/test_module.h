// The plug-in module as the Windows tests see it: loaded once with LoadLibrary from the
// test program's own directory and kept loaded.
#pragma once

#include <windows.h>

#include <string>

namespace mendora {

// Full path of the module file beside the running test program.
std::wstring pluginPath();

// The loaded module; null (and a test failure) when it cannot be loaded.
HMODULE pluginModule();

} // namespace mendora
