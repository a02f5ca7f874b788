// File names of the command line. Inside this program a name is UTF-8 text on every platform;
// on Windows it comes from the wide-character command line and goes to the wide-character file
// functions, so that any name works, not only those of the ANSI code page (画像.jpg).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace mendora::cli {

// The program's arguments after its name, as UTF-8: `argv`'s on Linux; on Windows the wide
// command line's (argv holds them in the ANSI code page, where a name outside it is lost).
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The file system's path of the UTF-8 name `name`.
std::filesystem::path pathOf(const std::string& name);

// The UTF-8 name of `path`.
std::string nameOf(const std::filesystem::path& path);

// std::fopen of the UTF-8 name `name`; nullptr with errno set when it cannot be opened.
FILE* openFile(const std::string& name, const char* mode);

#ifdef _WIN32
// `text` (UTF-16, as the wide-character functions give it) in UTF-8; standin::wideFromUtf8
// turns it back.
std::string utf8Of(const std::wstring& text);
#endif

} // namespace mendora::cli
