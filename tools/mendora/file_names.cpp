// The command line's file names: UTF-8 inside the program, the platform's own outside it.
// In: the command line, UTF-8 names. Out: UTF-8 arguments, paths, open files.
#include "tools/mendora/file_names.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "tools/standin_host/module_loader.h"
#endif

namespace mendora::cli {

#ifdef _WIN32

std::string utf8Of(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], length,
                        nullptr, nullptr);
    return utf8;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 1; i < count; i++)
        arguments.push_back(utf8Of(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::filesystem::path pathOf(const std::string& name) {
    return std::filesystem::path(standin::wideFromUtf8(name));
}

std::string nameOf(const std::filesystem::path& path) {
    return utf8Of(path.wstring());
}

FILE* openFile(const std::string& name, const char* mode) {
    return _wfopen(standin::wideFromUtf8(name).c_str(), standin::wideFromUtf8(mode).c_str());
}

#else

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

std::filesystem::path pathOf(const std::string& name) {
    return std::filesystem::path(name);
}

std::string nameOf(const std::filesystem::path& path) {
    return path.string();
}

FILE* openFile(const std::string& name, const char* mode) {
    return std::fopen(name.c_str(), mode);
}

#endif

} // namespace mendora::cli
