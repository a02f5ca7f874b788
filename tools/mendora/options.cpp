// Parsing the command line of `mendora`.
// In: the arguments. Out: the options, or a one-line usage error.
#include "tools/mendora/options.h"

#include <cstddef>

namespace mendora::cli {

namespace {

// Box indices in DialogValues: boxes 3 to 7 of the region dialog.
constexpr size_t kSourceLeftBox = 0;
constexpr size_t kPatchRadiusBox = 4;

// A whole number as a person would type it: an optional sign and at least one digit.
bool wholeNumber(const std::string& text) {
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        i++;
    if (i == text.size())
        return false;
    for (; i < text.size(); i++)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// LEFT,TOP,RIGHT,BOTTOM into boxes 3 to 6.
bool readSource(const std::string& text, DialogValues& typed) {
    std::string parts[4];
    size_t part = 0;
    for (char c : text) {
        if (c != ',') {
            parts[part] += c;
            continue;
        }
        if (++part == 4)
            return false;
    }
    if (part != 3)
        return false;
    for (size_t i = 0; i < 4; i++) {
        if (!wholeNumber(parts[i]))
            return false;
        typed[kSourceLeftBox + i] = parts[i];
    }
    return true;
}

bool parseCommand(const std::string& word, Command& command) {
    if (word == "fill")
        command = Command::fill;
    else if (word == "demo")
        command = Command::demo;
    else if (word == "about")
        command = Command::about;
    else if (word == "--help" || word == "-h" || word == "help")
        command = Command::help;
    else if (word == "--version")
        command = Command::version;
    else
        return false;
    return true;
}

} // namespace

bool parseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    options = Options{};
    if (arguments.empty()) {
        error = "no command given";
        return false;
    }
    if (!parseCommand(arguments[0], options.command)) {
        error = "unknown command '" + arguments[0] + "'";
        return false;
    }
    if (options.command == Command::help || options.command == Command::version)
        return true;

    std::vector<std::string> files;
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); i++) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            options.command = Command::help;
            return true;
        }
        if (argument == "--interactive") {
            options.interactive = true;
            continue;
        }
        if (argument == "--quiet" || argument == "-q") {
            options.quiet = true;
            continue;
        }
        // Options with a value: "--name value" or "--name=value".
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        const size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        if (name != "-o" && name != "--output" && name != "--radius" && name != "--source" &&
            name != "--module") {
            error = "unknown option '" + argument + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 == arguments.size()) {
                error = "option '" + name + "' needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (name == "-o" || name == "--output") {
            options.output = value;
        } else if (name == "--module") {
            options.module = value;
        } else if (name == "--radius") {
            if (!wholeNumber(value)) {
                error = "--radius needs a whole number, not '" + value + "'";
                return false;
            }
            options.typed[kPatchRadiusBox] = value;
        } else if (!readSource(value, options.typed)) {
            error = "--source needs four whole numbers LEFT,TOP,RIGHT,BOTTOM, not '" + value + "'";
            return false;
        }
    }

    if (options.command == Command::fill) {
        if (files.size() != 2) {
            error = "fill needs an image and a mask (mendora fill IN MASK -o OUT)";
            return false;
        }
        if (options.output.empty()) {
            error = "fill needs an output file (-o OUT)";
            return false;
        }
        options.input = files[0];
        options.mask = files[1];
        return true;
    }
    if (!files.empty()) {
        error = "unexpected argument '" + files[0] + "'";
        return false;
    }
    return true;
}

std::string usageText() {
    return "Usage:\n"
           "  mendora fill IN MASK -o OUT [--radius N] [--source LEFT,TOP,RIGHT,BOTTOM]\n"
           "                              [--interactive] [--quiet]\n"
           "  mendora demo [-o OUT] [--radius N] [--source LEFT,TOP,RIGHT,BOTTOM]\n"
           "               [--interactive] [--quiet]\n"
           "  mendora about\n"
           "  mendora --help | --version\n"
           "\n"
           "fill   Fills the region of the image IN that MASK marks with texture from the rest\n"
           "       of the image, and writes the result to OUT as PNG. IN is an 8-bit PNG or\n"
           "       JPEG (grey and RGBA images are converted to RGB); MASK is an image of the\n"
           "       same size whose nonzero pixels (grey value, or alpha when it has alpha) mark\n"
           "       the region. The Zendrel plug-in module does the fill, driven as the image\n"
           "       editor drives it; its region dialog is answered as a person would: the given\n"
           "       values are typed into its boxes and OK is pressed.\n"
           "demo   Fills the bundled sample photograph and prints the path of the result.\n"
           "about  Shows the plug-in's about box (Tab moves, Space presses a button, Escape or\n"
           "       Enter closes it).\n"
           "\n"
           "Options:\n"
           "  -o, --output OUT     the PNG file to write (written whole or not at all)\n"
           "  --radius N           the patch radius to type into the dialog (default 4;\n"
           "                       0 or less keeps the radius of the previous fill)\n"
           "  --source L,T,R,B     the source rectangle to type into the dialog: columns L to\n"
           "                       R - 1, rows T to B - 1 (default the whole image; values out\n"
           "                       of range are corrected by the plug-in)\n"
           "  --interactive        edit the dialog yourself on the terminal (Tab moves,\n"
           "                       Enter is OK, Escape is Cancel); --radius and --source\n"
           "                       are not typed then\n"
           "  -q, --quiet          no status line and no summary\n"
           "  --module PATH        the plug-in module to load (default: $MENDORA_MODULE, or\n"
           "                       the module built with this program)\n"
           "  -h, --help           this text\n"
           "  --version            the version\n"
           "\n"
           "Exit status: 0 done; 1 the plug-in reported an error (out of memory -108,\n"
           "canceled -128, bad parameters -30100); 2 a usage error, or a file that cannot be\n"
           "read or written (nothing is written then).\n";
}

} // namespace mendora::cli
