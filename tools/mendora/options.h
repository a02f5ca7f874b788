// The command line of `mendora`: its commands, options and usage text.
#pragma once

#include <string>
#include <vector>

#include "tools/mendora/dialog_answer.h"

namespace mendora::cli {

enum class Command { help, version, fill, demo, about };

struct Options {
    Command command = Command::help;
    // fill: the image and the mask; demo ignores them.
    std::string input;
    std::string mask;
    // fill: required; demo: where the result goes (empty: the build's demo result).
    std::string output;
    // The texts typed into the region dialog's boxes 3 to 7.
    DialogValues typed;
    bool interactive = false;
    bool quiet = false;
    // The plug-in module to load; empty: MENDORA_MODULE, else the module of this build.
    std::string module;
};

// Reads the arguments after the program name. Returns false with a one-line message in
// `error` for anything it cannot take: an unknown command or option, a missing value or
// file, a radius or source rectangle that is not made of whole numbers. The numbers are kept
// as typed (0, negative and out-of-range values included): the plug-in reads them.
bool parseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

// The text of --help.
std::string usageText();

} // namespace mendora::cli
