// `mendora`: the command line that drives the plug-in module as the image editor does.
// In: the command line, image files. Out: the filled image file, messages, the exit status
// (0 done, 1 the plug-in reported an error, 2 a usage or file error).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "resources/maker_texts.h"
#include "tools/mendora/batch.h"
#include "tools/mendora/file_names.h"
#include "tools/mendora/fill_job.h"
#include "tools/mendora/memory_budget.h"
#include "tools/mendora/options.h"
#include "tools/mendora/output_file.h"
#include "tools/standin_host/dialog_answer.h"
#include "tools/standin_host/filter_run.h"
#include "tools/standin_host/status_line.h"

namespace mendora::cli {

using runner::aboutBoxCanShow;
using runner::errorOutputIsTerminal;
using runner::pluginModulePath;
using runner::runAbout;

namespace {

constexpr int kExitDone = 0;
constexpr int kExitUsageOrFile = 2;

// The bundled sample: a photograph and the mask of the object the demo removes.
const char kDemoImage[] = MENDORA_DEMO_DIR "/kite.jpg";
const char kDemoMask[] = MENDORA_DEMO_DIR "/kite-mask.png";

void message(const std::string& text) {
    std::fprintf(stderr, "mendora: %s\n", text.c_str());
}

// Reads IN and MASK, runs the plug-in over them and writes OUT. Nothing is written unless the
// whole run succeeded.
int fill(const Options& options, const std::string& input, const std::string& maskPath,
         const std::string& output) {
    const runner::ProgressShown shown = options.progress ? runner::ProgressShown::lines
                                        : !options.quiet && errorOutputIsTerminal()
                                            ? runner::ProgressShown::statusLine
                                            : runner::ProgressShown::none;
    const FillReport report = fillFiles(options, input, maskPath, output, shown, message, {}, true);
    if (report.failure != Failure::none) {
        message(report.reason);
        return exitStatus(report.failure);
    }
    if (!options.quiet)
        std::printf("%s\n", summaryLine(report).c_str());
    return kExitDone;
}

int demo(const Options& options) {
    const std::string output = options.output.empty() ? MENDORA_DEMO_OUTPUT : options.output;
    std::error_code ignored;
    const std::filesystem::path folder = pathOf(output).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ignored);
    const int status = fill(options, kDemoImage, kDemoMask, output);
    if (status == kExitDone)
        std::printf("%s\n", nameOf(std::filesystem::absolute(pathOf(output), ignored)).c_str());
    return status;
}

int about(const Options& options) {
    if (!aboutBoxCanShow()) {
        // No terminal for the box: its text and its two addresses as plain lines.
        std::printf("%s\nhttp://%s\nhttp://%s\n", kAboutText, kAddress1, kAddress2);
        return kExitDone;
    }
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
    case Command::batch:
        return runBatch(options);
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
    mendora::cli::fitAllocatorToLimits();
    mendora::cli::removeOnSignals(mendora::runner::restoreDialogTerminal);
    try {
        return mendora::cli::runCommandLine(mendora::cli::commandLineArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        // The program's own buffers (decoding, encoding) ran out as the plug-in's would have.
        mendora::runner::stopStatusLine();
        std::fprintf(stderr, "mendora: %s; nothing was written\n",
                     mendora::runner::resultInWords(errOutOfMemory).c_str());
        return 1;
    } catch (const std::exception& failure) {
        mendora::runner::stopStatusLine();
        std::fprintf(stderr, "mendora: %s\n", failure.what());
    } catch (...) {
        mendora::runner::stopStatusLine();
        std::fprintf(stderr, "mendora: unexpected failure\n");
    }
    return 2;
}
