// `mendora`: the command line that drives the plug-in module as the image editor does.
// In: the command line, image files. Out: the filled image file, messages, the exit status
// (0 done, 1 the plug-in reported an error, 2 a usage or file error).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "resources/maker_texts.h"
#include "tools/mendora/images.h"
#include "tools/mendora/options.h"
#include "tools/mendora/plugin_run.h"
#include "tools/mendora/status_line.h"

namespace mendora::cli {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitPluginError = 1;
constexpr int kExitUsageOrFile = 2;

// The bundled sample: a photograph and the mask of the object the demo removes.
const char kDemoImage[] = MENDORA_DEMO_DIR "/kite.jpg";
const char kDemoMask[] = MENDORA_DEMO_DIR "/kite-mask.png";

void message(const std::string& text) {
    std::fprintf(stderr, "mendora: %s\n", text.c_str());
}

int fileError(const std::string& path, const std::string& reason) {
    message(path + ": " + reason);
    return kExitUsageOrFile;
}

std::string describeResult(int16_t code) {
    if (code == errBadParameters)
        return resultInWords(code) + " (widen --source, lower --radius or shrink the mask)";
    return resultInWords(code);
}

std::string summary(const RgbImage& image, size_t selected, const FillRun& run) {
    const FillParameters& p = run.parameters;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", run.fillSeconds);
    return std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels, " +
           std::to_string(selected) + " filled in " + seconds + " s (source rectangle " +
           std::to_string(p.sourceLeft) + "," + std::to_string(p.sourceTop) + " to " +
           std::to_string(p.sourceRight) + "," + std::to_string(p.sourceBottom) +
           ", patch radius " + std::to_string(p.patchRadius) + ")";
}

// Reads IN and MASK, runs the plug-in over them and writes OUT. Nothing is written unless the
// whole run succeeded.
int fill(const Options& options, const std::string& input, const std::string& maskPath,
         const std::string& output) {
    RgbImage image;
    std::string notice;
    std::string error;
    if (!readImage(input, image, notice, error))
        return fileError(input, error);
    if (!notice.empty())
        message(input + ": " + notice);

    int32_t maskWidth = 0;
    int32_t maskHeight = 0;
    std::vector<uint8_t> mask;
    if (!readMask(maskPath, maskWidth, maskHeight, mask, error))
        return fileError(maskPath, error);
    if (maskWidth != image.width || maskHeight != image.height)
        return fileError(maskPath, "the mask is " + std::to_string(maskWidth) + " x " +
                                       std::to_string(maskHeight) + ", the image " +
                                       std::to_string(image.width) + " x " +
                                       std::to_string(image.height));
    size_t selected = 0;
    for (uint8_t marked : mask)
        selected += marked != 0 ? 1 : 0;
    if (selected == 0 && !options.quiet)
        message(maskPath + ": the mask marks no pixel, so the image is written unchanged");

    FillRun run;
    const bool statusLine = !options.quiet && errorOutputIsTerminal();
    if (!runFilter(pluginModulePath(options.module), image, mask, options.typed,
                   options.interactive, statusLine, run, error)) {
        message(error);
        return kExitUsageOrFile;
    }
    if (run.result != resultSuccess) {
        message("the plug-in reported " + describeResult(run.result) + "; " + output +
                " was not written");
        return kExitPluginError;
    }
    if (!writePng(output, run.output, error))
        return fileError(output, "cannot write: " + error);
    if (!options.quiet)
        std::printf("%s\n", summary(image, selected, run).c_str());
    return kExitDone;
}

int demo(const Options& options) {
    const std::string output = options.output.empty() ? MENDORA_DEMO_OUTPUT : options.output;
    std::error_code ignored;
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);
    const int status = fill(options, kDemoImage, kDemoMask, output);
    if (status == kExitDone)
        std::printf("%s\n", std::filesystem::absolute(output, ignored).string().c_str());
    return status;
}

int about(const Options& options) {
    std::vector<std::string> addresses;
    std::string error;
    if (!runAbout(pluginModulePath(options.module), addresses, error)) {
        message(error);
        return kExitUsageOrFile;
    }
    // This host opens no browser; it names what the plug-in asked it to open.
    for (const std::string& address : addresses)
        std::printf("the plug-in asked to open %s\n", address.c_str());
    return kExitDone;
}

int runCommandLine(const std::vector<std::string>& arguments) {
    Options options;
    std::string error;
    if (!parseOptions(arguments, options, error)) {
        message(error + " (mendora --help shows the usage)");
        return kExitUsageOrFile;
    }
    switch (options.command) {
    case Command::help:
        std::fputs(usageText().c_str(), stdout);
        return kExitDone;
    case Command::version:
        std::printf("mendora %s\n", MENDORA_VERSION_TEXT);
        return kExitDone;
    case Command::fill:
        return fill(options, options.input, options.mask, options.output);
    case Command::demo:
        return demo(options);
    case Command::about:
        return about(options);
    }
    return kExitUsageOrFile;
}

} // namespace

} // namespace mendora::cli

int main(int argc, char** argv) {
    try {
        std::vector<std::string> arguments(argv + 1, argv + argc);
        return mendora::cli::runCommandLine(arguments);
    } catch (const std::exception& failure) {
        mendora::cli::stopStatusLine();
        std::fprintf(stderr, "mendora: %s\n", failure.what());
    } catch (...) {
        mendora::cli::stopStatusLine();
        std::fprintf(stderr, "mendora: unexpected failure\n");
    }
    return 2;
}
