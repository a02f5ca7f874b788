// Opening a plug-in module and finding its entry point: the stand-in host's one piece of
// platform code.
#pragma once

#include <string>

namespace mendora::standin {

// Opens the module at `path` (on Windows UTF-8, or the ANSI code page when it is not valid
// UTF-8). Returns an opaque module reference, or null with a message in
// `error`.
void* openModule(const std::string& path, std::string& error);

// The address of the exported symbol `name`, or null when the module exports none.
void* findModuleSymbol(void* module, const char* name);

// Closes a module opened by openModule. Null does nothing.
void closeModule(void* module);

#ifdef _WIN32
// `path` in UTF-8 as wide characters; empty when it is not valid UTF-8.
std::wstring wideFromUtf8(const std::string& path);
#endif

} // namespace mendora::standin
