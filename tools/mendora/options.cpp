// Parsing the command line of `mendora`.
// In: the arguments. Out: the options, or a one-line usage error.
#include "tools/mendora/options.h"

#include <cstddef>

#include "tools/standin_host/host_limits.h"

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

// The value of a whole number, or a value beyond every range here when it has more digits
// than an int64_t holds.
int64_t wholeValue(const std::string& text) {
    const bool negative = text[0] == '-';
    const size_t first = text.find_first_not_of("+-0");
    const std::string digits = first == std::string::npos ? "0" : text.substr(first);
    const int64_t magnitude = digits.size() > 12 ? int64_t{1} << 50 : std::stoll(digits);
    return negative ? -magnitude : magnitude;
}

// Reads `text` as a whole number in lowest..highest, for the option `name`.
bool readNumber(const std::string& name, const std::string& text, int64_t lowest, int64_t highest,
                int32_t& value, std::string& error) {
    if (!wholeNumber(text)) {
        error = name + " needs a whole number, not '" + text + "'";
        return false;
    }
    const int64_t number = wholeValue(text);
    if (number < lowest || number > highest) {
        error = name + " " + text + " is outside " + std::to_string(lowest) + ".." +
                std::to_string(highest);
        return false;
    }
    value = static_cast<int32_t>(number);
    return true;
}

// LEFT,TOP,RIGHT,BOTTOM, each in the plug-in's 16-bit range.
bool readRectangle(const std::string& name, const std::string& text, std::array<int32_t, 4>& values,
                   std::string& error) {
    std::string parts[4];
    size_t part = 0;
    for (char c : text) {
        if (c != ',') {
            parts[part] += c;
            continue;
        }
        if (++part == 4)
            break;
    }
    if (part != 3) {
        error = name + " needs four whole numbers LEFT,TOP,RIGHT,BOTTOM, not '" + text + "'";
        return false;
    }
    for (size_t i = 0; i < 4; i++)
        if (!readNumber(name + " value", parts[i], kLowestFieldValue, kHighestFieldValue, values[i],
                        error))
            return false;
    return true;
}

// The patch radius: typed as given (0 or less: the module's default, 4, as every run loads it
// afresh), up to the largest the plug-in accepts.
bool readRadius(const std::string& text, Options& options, std::string& error) {
    int32_t radius = 0;
    if (!readNumber("--radius", text, kLowestFieldValue, kHighestFieldValue, radius, error))
        return false;
    if (radius > largestPatchRadius()) {
        error = "patch radius " + std::to_string(radius) + " is too large: the largest is " +
                std::to_string(largestPatchRadius());
        return false;
    }
    options.typed[kPatchRadiusBox] = text;
    return true;
}

bool readSource(const std::string& text, Options& options, std::string& error) {
    std::array<int32_t, 4> values{};
    if (!readRectangle("--source", text, values, error))
        return false;
    // Four zeros mean the whole image, as in the GIMP filter: the boxes are left as the dialog
    // opens them, with the whole image (typed, an empty rectangle would leave no source).
    if (values == std::array<int32_t, 4>{}) {
        for (size_t i = 0; i < 4; i++)
            options.typed[kSourceLeftBox + i].reset();
        options.source.reset();
        return true;
    }
    options.source = values;
    typeSourceRectangle(runner::SourceRectangle{values[0], values[1], values[2], values[3]},
                        options.typed);
    return true;
}

// Takes the value of an option that has one (noting in `sourceGiven` a --source). Returns
// false with the reason for an unknown option or a value it cannot take.
bool readValueOption(const std::string& name, const std::string& value, Options& options,
                     bool& sourceGiven, std::string& error) {
    if (name == "-o" || name == "--output") {
        options.output = value;
        return true;
    }
    if (name == "--module") {
        options.module = value;
        return true;
    }
    if (name == "--radius")
        return readRadius(value, options, error);
    if (name == "--source") {
        sourceGiven = true;
        return readSource(value, options, error);
    }
    if (name == "--context") {
        options.context.emplace();
        return readNumber(name, value, 0, kMaxContextWidth, *options.context, error);
    }
    if (name == "--band") {
        options.band.emplace();
        return readNumber(name, value, 1, kMaxContextWidth, *options.band, error);
    }
    if (name == "--source-mask") {
        options.sourceMask = value;
        return true;
    }
    if (name == "--region") {
        options.region.emplace();
        return readRectangle("--region", value, *options.region, error);
    }
    if (name == "--quality")
        return readNumber(name, value, kLowestQuality, kHighestQuality, options.quality, error);
    if (name == "--mask-threshold")
        return readNumber(name, value, kLowestMaskThreshold, kHighestMaskThreshold,
                          options.maskThreshold, error);
    if (name == "--jobs")
        return readNumber(name, value, 1, kMaxBatchJobs, options.jobs, error);
    error = "unknown option '" + name + "'";
    return false;
}

// True for the options that a batch hands to each of its fills.
bool isFillOption(const std::string& name) {
    return name == "--radius" || name == "--source" || name == "--context" || name == "--band" ||
           name == "--source-mask" || name == "--mask-threshold" || name == "--quality" ||
           name == "--module";
}

// Reads the options from arguments[first] on; other arguments go to `files`. Returns false
// with the reason for an option it cannot take; stops early (true) at --help.
bool readArguments(const std::vector<std::string>& arguments, size_t first, Options& options,
                   std::vector<std::string>& files, std::string& error) {
    bool optionsEnded = false;
    bool sourceGiven = false;
    for (size_t i = first; i < arguments.size(); i++) {
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
        if (argument == "--progress") {
            options.progress = true;
            continue;
        }
        if (argument == "--skip-existing") {
            options.skipExisting = true;
            continue;
        }
        if (argument == "--match-tone") {
            options.matchTone = true;
            options.fillArguments.push_back(argument);
            continue;
        }
        // Options with a value: "--name value" or "--name=value".
        std::string name = argument;
        std::string value;
        const size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            error = "option '" + name + "' needs a value";
            return false;
        }
        if (!readValueOption(name, value, options, sourceGiven, error))
            return false;
        if (isFillOption(name))
            options.fillArguments.push_back(name + "=" + value);
    }
    if (sourceGiven && options.context) {
        error = "--context and --source both set the source rectangle: give one of them";
        return false;
    }
    return true;
}

// The list of `batch`, and what a batch cannot take: outputs, a region, the dialog.
bool takeBatchList(const std::vector<std::string>& files, Options& options, std::string& error) {
    if (files.size() != 1) {
        error = "batch needs one list of images, masks and outputs (mendora batch LIST)";
        return false;
    }
    if (!options.output.empty() || options.region || options.interactive) {
        error = "batch takes each image's mask and output from its list: -o, --region and "
                "--interactive are for fill";
        return false;
    }
    options.list = files[0];
    return true;
}

bool parseCommand(const std::string& word, Command& command) {
    if (word == "fill")
        command = Command::fill;
    else if (word == "batch")
        command = Command::batch;
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

// The files of `fill`: the image and the mask, or the image alone with --region.
bool takeFillFiles(const std::vector<std::string>& files, Options& options, std::string& error) {
    const size_t wanted = options.region ? 1 : 2;
    // One name too many and no -o: the output, named without -o.
    if (files.size() == wanted + 1 && options.output.empty()) {
        error = "the output '" + files.back() + "' is named with -o (mendora fill IN " +
                (options.region ? "--region L,T,R,B" : "MASK") + " -o OUT)";
        return false;
    }
    if (files.size() != wanted) {
        error = options.region ? "fill takes an image and either a mask or --region, not both"
                               : "fill needs an image and a mask (mendora fill IN MASK -o OUT)";
        return false;
    }
    if (options.output.empty()) {
        error = "fill needs an output file (-o OUT)";
        return false;
    }
    options.input = files[0];
    if (!options.region)
        options.mask = files[1];
    return true;
}

} // namespace

void typeSourceRectangle(const runner::SourceRectangle& source, runner::DialogValues& typed) {
    typed[kSourceLeftBox] = std::to_string(source.left);
    typed[kSourceLeftBox + 1] = std::to_string(source.top);
    typed[kSourceLeftBox + 2] = std::to_string(source.right);
    typed[kSourceLeftBox + 3] = std::to_string(source.bottom);
}

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
    if (!readArguments(arguments, 1, options, files, error))
        return false;
    if (options.command == Command::help)
        return true;
    if ((options.jobs != 1 || options.skipExisting) && options.command != Command::batch) {
        error = "--jobs and --skip-existing are for batch";
        return false;
    }

    if (options.command == Command::fill)
        return takeFillFiles(files, options, error);
    if (options.command == Command::batch)
        return takeBatchList(files, options, error);
    if (!files.empty()) {
        error = "unexpected argument '" + files[0] + "'";
        return false;
    }
    return true;
}

bool parseFillOptions(const std::vector<std::string>& arguments, Options& options,
                      std::string& error) {
    options = Options{};
    options.command = Command::fill;
    std::vector<std::string> files;
    if (!readArguments(arguments, 0, options, files, error))
        return false;
    if (!files.empty()) {
        error = "unexpected argument '" + files[0] + "'";
        return false;
    }
    return true;
}

std::string usageText() {
    const std::string largest = std::to_string(largestPatchRadius());
    return "Usage:\n"
           "  mendora fill IN (MASK | --region L,T,R,B) -o OUT [--radius N]\n"
           "               [--source L,T,R,B | --context N] [--band N]\n"
           "               [--source-mask FILE] [--match-tone] [--mask-threshold N]\n"
           "               [--quality N] [--interactive] [--quiet] [--progress]\n"
           "  mendora batch LIST [--jobs N] [--skip-existing] [fill's options but -o,\n"
           "               --region and --interactive] [--quiet]\n"
           "  mendora demo [-o OUT] [--radius N] [--source L,T,R,B | --context N]\n"
           "               [--band N] [--source-mask FILE] [--match-tone] [--interactive]\n"
           "               [--quiet] [--progress]\n"
           "  mendora about\n"
           "  mendora --help | --version\n"
           "  ./mendora gimp-install   (the repository's script: builds the GIMP plug-in and\n"
           "                           installs it for the GIMP installed; --help says more)\n"
           "\n"
           "fill   Fills the region of the image IN that MASK marks with texture from the rest\n"
           "       of the image, and writes the result to OUT in the format its name gives.\n"
#ifdef _WIN32
           "       IN is an 8-bit PNG, JPEG, TIFF, GIF or BMP image, grey or RGB, with or\n"
           "       without alpha (PNG and TIFF outputs keep it; 16-bit and CMYK images are\n"
           "       refused), read as viewers show it (a JPEG's or TIFF's orientation\n"
           "       applied); MASK is an image of the same\n"
#else
           "       IN is a grey or RGB image of 8 or 16 bits a sample, with or without alpha,\n"
           "       read as viewers show it (its orientation applied); the fill works on its\n"
           "       8-bit RGB; PNG and TIFF outputs keep the 16 bits of the pixels not filled,\n"
           "       PNG, TIFF and WebP outputs every pixel's alpha. MASK is an image of the same\n"
#endif
           "       size whose pixels of at least the threshold (by grey value, largest colour\n"
           "       value, or alpha when it has alpha) mark the region. The Zendrel plug-in\n"
           "       module does the fill, driven as the image editor drives it; its region\n"
           "       dialog is answered as a person would: the given values are typed into its\n"
           "       boxes and OK is pressed.\n"
           "batch  Fills every row of LIST (a file, or - for the standard input): an image, its\n"
           "       mask and its output a line, separated by tabs or commas. --jobs N fills N\n"
           "       images at once (1 to 64, default 1), each in a process of its own with its\n"
           "       share of the threads; --skip-existing leaves out rows whose output is there.\n"
           "       A failure names its file and the others go on; exit status 1 if any failed.\n"
           "       (Linux only.)\n"
           "demo   Fills the bundled sample photograph and prints the path of the result.\n"
           "about  Shows the plug-in's about box (Tab moves, Space presses a button, Escape or\n"
           "       Enter closes it); without a terminal prints its text and addresses.\n"
           "\n"
           "Options:\n"
           "  -o, --output OUT     the file to write (written whole or not at all): .png,\n"
#ifdef _WIN32
           "                       .jpg/.jpeg or .tif/.tiff (not .webp); the input's\n"
           "                       colour profile is kept, its EXIF and XMP data are not\n"
#else
           "                       .jpg/.jpeg, .tif/.tiff or .webp; the input's colour\n"
           "                       profile is kept, and for JPEG from JPEG its EXIF (no\n"
           "                       thumbnail) and XMP data, the orientation upright\n"
#endif
           "  --region L,T,R,B     fill columns L to R - 1, rows T to B - 1 (instead of MASK)\n"
           "  --radius N           the patch radius to type into the dialog (default 4, at\n"
           "                       most " +
           largest +
           "; 0 or less: the default, as every run loads the plug-in afresh)\n"
           "  --source L,T,R,B     the source rectangle to type into the dialog: columns L to\n"
           "                       R - 1, rows T to B - 1 (default, and 0,0,0,0: the whole\n"
           "                       image; values -32768..32767, out of the image corrected\n"
           "                       by the plug-in)\n"
           "  --context N          sample around the selection: the source rectangle is the\n"
           "                       region's bounding box grown by N pixels on each side,\n"
           "                       clipped to the image (0 to " +
           std::to_string(kMaxContextWidth) +
           "; 0: the whole image);\n"
           "                       not with --source\n"
           "  --band N             sample from the pixels within N pixels of the selection\n"
           "                       only (1 to " +
           std::to_string(kMaxContextWidth) +
           "), a band around each region of its\n"
           "                       own: on textured photographs (ground, foliage, walls) a\n"
           "                       band of about 50 keeps more texture than the whole image,\n"
           "                       the default, and fills faster; on smooth skies the whole\n"
           "                       image is steadier. Combines with --source or --context\n"
           "  --source-mask FILE   sample only from the pixels FILE marks (an image of the\n"
           "                       same size, nonzero marked), within --source, --context\n"
           "                       and --band when given\n"
           "  --match-tone         after the fill, match its tone to the pixels around it: a\n"
           "                       smooth correction added to the fill (its texture kept)\n"
           "                       takes away the steps along the region's edge, as on skies\n"
           "                       and walls whose patches came from lighter or darker parts;\n"
           "                       off by default: the plug-in's fill as it is\n"
           "  --mask-threshold N   the least mask value that selects (1 to 255, default 1)\n"
#ifdef _WIN32
           "  --quality N          JPEG quality (1 to 100, default 92)\n"
#else
           "  --quality N          JPEG and WebP quality (1 to 100, default 92)\n"
#endif
           "  --interactive        edit the dialog yourself on the terminal (Tab moves,\n"
           "                       Enter is OK, Escape is Cancel); --radius and --source\n"
           "                       (or --context) are typed into it first\n"
           "  -q, --quiet          no status line and no summary\n"
           "  --progress           fill, demo: progress lines for programs on the error output\n"
           "                       instead of the status line: progress stage=S done=D\n"
           "                       total=T percent=P seconds=E [left=L], at each stage's\n"
           "                       start and end and a few a second between\n"
           "  --module PATH        the plug-in module to load (default: $MENDORA_MODULE, or\n"
           "                       the module built with this program)\n"
           "  -h, --help           this text\n"
           "  --version            the version\n"
           "\n"
           "Exit status: 0 done; 1 the plug-in reported an error (out of memory -108,\n"
           "canceled -128, bad parameters -30100); 2 a usage error, a value out of range, or\n"
           "a file that cannot be read or written (nothing is written then); 130 the fill was\n"
           "interrupted (Ctrl+C; nothing is written).\n";
}

} // namespace mendora::cli
