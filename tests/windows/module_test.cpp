// The plug-in module's image as the host sees it: it loads, its export directory names the
// module and exactly the two entry points, and it imports nothing but system DLLs (the C and
// C++ runtime are linked in statically).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "resources/registration.h"
#include "test_module.h"

namespace mendora {

std::wstring pluginPath() {
    std::wstring path(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], MAX_PATH);
    path.resize(length);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + MENDORA_MODULE_FILE;
}

HMODULE pluginModule() {
    static HMODULE module = LoadLibraryW(pluginPath().c_str());
    EXPECT_NE(module, nullptr) << "LoadLibrary failed, error " << GetLastError();
    return module;
}

namespace {

const IMAGE_DATA_DIRECTORY& directory(HMODULE module, int entry) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

template <typename T> const T* at(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(module) + rva);
}

TEST(Module, ExportsTheModuleNameAndExactlyTheEntryPoints) {
    HMODULE module = pluginModule();
    ASSERT_NE(module, nullptr);
    const IMAGE_DATA_DIRECTORY& entry = directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(entry.VirtualAddress, 0u) << "no export directory";
    const auto* exports = at<IMAGE_EXPORT_DIRECTORY>(module, entry.VirtualAddress);
    EXPECT_STREQ(at<char>(module, exports->Name), "Zendrel.qwf");

    std::vector<std::string> names;
    const auto* nameTable = at<DWORD>(module, exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(at<char>(module, nameTable[i]));
    // The names come sorted; the dialog procedure keeps its decorated standard-call name.
    const std::vector<std::string> expected = {kEntryPointName, "_ZendrelProc@16"};
    EXPECT_EQ(names, expected);
    // No entry point reachable by ordinal alone.
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);

    // The name the property list gives the host is the one it can resolve.
    EXPECT_NE(GetProcAddress(module, kEntryPointName), nullptr);
    EXPECT_NE(GetProcAddress(module, "_ZendrelProc@16"), nullptr);
}

TEST(Module, ImportsOnlySystemLibraries) {
    HMODULE module = pluginModule();
    ASSERT_NE(module, nullptr);
    wchar_t system[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);

    const IMAGE_DATA_DIRECTORY& entry = directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    ASSERT_NE(entry.VirtualAddress, 0u);
    int count = 0;
    for (const auto* import = at<IMAGE_IMPORT_DESCRIPTOR>(module, entry.VirtualAddress);
         import->Name != 0; ++import, ++count) {
        const std::string name = at<char>(module, import->Name);
        SCOPED_TRACE(name);
        const std::wstring path =
            std::wstring(system) + L"\\" + std::wstring(name.begin(), name.end());
        EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES)
            << "not a system library";
        // The runtimes that a dynamically linked build would pull in.
        EXPECT_EQ(name.rfind("lib", 0), std::string::npos);
    }
    EXPECT_GT(count, 0);
}

} // namespace
} // namespace mendora
