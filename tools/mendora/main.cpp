// `mendora`: the command line that drives the plug-in module as the image editor does.
// In: the command line, image files. Out: the filled image file, messages, the exit status
// (0 done, 1 the plug-in reported an error, 2 a usage or file error).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "resources/maker_texts.h"
#include "tools/mendora/file_names.h"
#include "tools/mendora/images.h"
#include "tools/mendora/memory_budget.h"
#include "tools/mendora/options.h"
#include "tools/mendora/output_file.h"
#include "tools/standin_host/context_source.h"
#include "tools/standin_host/dialog_answer.h"
#include "tools/standin_host/filter_run.h"
#include "tools/standin_host/host_limits.h"
#include "tools/standin_host/sampling_area.h"
#include "tools/standin_host/status_line.h"
#include "tools/standin_host/tone_match.h"

namespace mendora::cli {

using runner::aboutBoxCanShow;
using runner::errorOutputIsTerminal;
using runner::FillRun;
using runner::pluginModulePath;
using runner::resultInWords;
using runner::runAbout;
using runner::runFilter;

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

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// `toneSeconds` is negative when the tone was not matched.
std::string summary(size_t selected, const FillRun& run, double toneSeconds) {
    const RgbImage& image = run.output;
    const FillParameters& p = run.parameters;
    return std::to_string(image.width) + " x " + std::to_string(image.height) + " pixels, " +
           std::to_string(selected) + " filled in " + seconds(run.fillSeconds) +
           " s (source rectangle " + std::to_string(p.sourceLeft) + "," +
           std::to_string(p.sourceTop) + " to " + std::to_string(p.sourceRight) + "," +
           std::to_string(p.sourceBottom) + ", patch radius " + std::to_string(p.patchRadius) +
           ")" + (toneSeconds < 0 ? "" : ", tone matched in " + seconds(toneSeconds) + " s");
}

// --match-tone: matches the fill's tone to its surroundings in the input's own bits, in
// `kept` when it has samples of its own (which then hold the fill, and `selected` is emptied
// for writeImage), else in the fill's RGB. Returns false when memory ran out.
bool matchFillTone(RgbImage& filled, KeptSamples& kept, std::vector<uint8_t>& selected) {
    const size_t width = static_cast<size_t>(filled.width);
    tone::ToneMatch outcome;
    if (kept.channels == 0) {
        const tone::SampleLayout layout{filled.width, filled.height, 3, 3, width * 3};
        outcome = tone::matchTones(filled.pixels.data(), layout, selected.data(), width);
    } else {
        placeFill(filled, selected, kept);
        const int32_t channels = kept.channels;
        const tone::SampleLayout layout{kept.width, kept.height, channels >= 3 ? 3 : 1, channels,
                                        width * static_cast<size_t>(channels)};
        outcome = kept.bits == 16
                      ? tone::matchTones(reinterpret_cast<uint16_t*>(kept.samples.data()), layout,
                                         selected.data(), width)
                      : tone::matchTones(kept.samples.data(), layout, selected.data(), width);
        takeFill(kept, selected, filled);
        selected.clear();
    }
    return outcome != tone::ToneMatch::outOfMemory;
}

// True when `a` and `b` name the same existing file.
bool sameFile(const std::string& a, const std::string& b) {
    std::error_code failure;
    return std::filesystem::equivalent(pathOf(a), pathOf(b), failure) && !failure;
}

// The selection of --region: the rectangle clipped to the image. Returns false with the
// reason when nothing of it lies inside the image.
bool regionSelection(const std::array<int32_t, 4>& region, const RgbImage& image,
                     Selection& selection, std::string& error) {
    const int32_t left = std::max(region[0], 0);
    const int32_t top = std::max(region[1], 0);
    const int32_t right = std::min(region[2], image.width);
    const int32_t bottom = std::min(region[3], image.height);
    if (left >= right || top >= bottom) {
        error = "--region " + std::to_string(region[0]) + "," + std::to_string(region[1]) + "," +
                std::to_string(region[2]) + "," + std::to_string(region[3]) +
                " selects no pixel of the " + std::to_string(image.width) + " x " +
                std::to_string(image.height) + " image";
        return false;
    }
    selection = Selection{image.width, image.height, {}, false};
    selection.mask.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0);
    for (int32_t y = top; y < bottom; y++)
        std::fill_n(selection.mask.begin() + static_cast<ptrdiff_t>(y) * image.width + left,
                    right - left, uint8_t{1});
    return true;
}

// Reads the mask (or makes the region's selection) for `image` and checks it against the
// image: its size, and that it leaves some pixel to copy texture from. Returns the exit
// status of a failure, or kExitDone.
int readSelection(const Options& options, const std::string& maskPath, const RgbImage& image,
                  Selection& selection, size_t& selected) {
    std::string error;
    if (options.region) {
        if (!regionSelection(*options.region, image, selection, error)) {
            message(error);
            return kExitUsageOrFile;
        }
    } else {
        std::string notice;
        if (!readMask(maskPath, options.maskThreshold, selection, notice, error))
            return fileError(maskPath, error);
        if (!notice.empty() && !options.quiet)
            message(maskPath + ": " + notice);
    }
    const std::string named = options.region ? "--region" : maskPath;
    if (selection.width != image.width || selection.height != image.height)
        return fileError(named, "the mask is " + std::to_string(selection.width) + " x " +
                                    std::to_string(selection.height) + ", the image " +
                                    std::to_string(image.width) + " x " +
                                    std::to_string(image.height));
    selected = static_cast<size_t>(std::count(selection.mask.begin(), selection.mask.end(), 1));
    // The plug-in would find no source patch and report bad parameters (-30100); the reason
    // is plainer here.
    if (selected == selection.mask.size())
        return fileError(named, std::string("the mask selects every pixel") +
                                    (selection.byAlpha ? " by its alpha (an opaque mask selects "
                                                         "everything)"
                                                       : "") +
                                    ", so no pixel is left to copy texture from");
    if (selected == 0 && !options.quiet)
        message(named + ": the mask marks no pixel, so the image is written unchanged");
    return kExitDone;
}

// The texts to type into the region dialog: those of the options, with --context the source
// rectangle around `selection`'s region. An empty selection leaves the boxes as they open (the
// image is written unchanged then, as without --context).
runner::DialogValues typedValues(const Options& options, const Selection& selection) {
    runner::DialogValues typed = options.typed;
    if (!options.context)
        return typed;
    runner::SourceRectangle source;
    if (runner::contextSourceRectangle(selection.mask.data(), selection.width, selection.height,
                                       static_cast<size_t>(selection.width), *options.context,
                                       source) != runner::ContextSource::ok)
        return typed;
    typeSourceRectangle(source, typed);
    return typed;
}

// The source rectangle the plug-in will sample, as the options type it, for the check of a
// sampling area (values beyond the image are clipped there, as the plug-in corrects them).
runner::SourceRectangle typedSource(const Options& options, const Selection& selection) {
    runner::SourceRectangle source{0, 0, selection.width, selection.height};
    if (options.source)
        source = runner::SourceRectangle{(*options.source)[0], (*options.source)[1],
                                         (*options.source)[2], (*options.source)[3]};
    else if (options.context)
        runner::contextSourceRectangle(selection.mask.data(), selection.width, selection.height,
                                       static_cast<size_t>(selection.width), *options.context,
                                       source);
    return source;
}

// The sampling area of --band and --source-mask into `area` (left empty without them, or when
// nothing is selected), checked to leave the plug-in a source window. Returns the exit status
// of a failure, or kExitDone.
int readSamplingArea(const Options& options, const Selection& selection, size_t selected,
                     runner::AreaMask& area) {
    area = runner::AreaMask{};
    if ((!options.band && options.sourceMask.empty()) || selected == 0)
        return kExitDone;
    if (options.band)
        area = runner::bandAroundSelection(selection.mask.data(), selection.width, selection.height,
                                           static_cast<size_t>(selection.width), *options.band);
    if (!options.sourceMask.empty()) {
        Selection drawn;
        std::string error;
        std::string notice;
        if (!readMask(options.sourceMask, kLowestMaskThreshold, drawn, notice, error))
            return fileError(options.sourceMask, error);
        if (!notice.empty() && !options.quiet)
            message(options.sourceMask + ": " + notice);
        if (drawn.width != selection.width || drawn.height != selection.height)
            return fileError(options.sourceMask, "the source mask is " +
                                                     std::to_string(drawn.width) + " x " +
                                                     std::to_string(drawn.height) + ", the image " +
                                                     std::to_string(selection.width) + " x " +
                                                     std::to_string(selection.height));
        runner::AreaMask marked{drawn.width, drawn.height, std::move(drawn.mask)};
        if (area.bytes.empty())
            area = std::move(marked);
        else
            runner::intersectArea(area, marked);
    }
    // A fresh module fills with the typed radius when it is above 0, else with 4.
    const std::optional<std::string>& radiusText = options.typed[4];
    const int32_t typedRadius = radiusText ? std::atoi(radiusText->c_str()) : 0;
    const int32_t radius = typedRadius > 0 ? typedRadius : 4;
    if (!runner::anySourceWindow(area, selection.mask.data(), typedSource(options, selection),
                                 radius)) {
        const std::string side = std::to_string(2 * radius + 1);
        message("the sampling area (" + std::string(options.band ? "--band" : "") +
                (options.band && !options.sourceMask.empty() ? " and " : "") +
                (options.sourceMask.empty() ? "" : "--source-mask") + ") leaves no " + side +
                " x " + side +
                " window outside the region to copy texture from: widen it; nothing was "
                "written");
        return kExitUsageOrFile;
    }
    return kExitDone;
}

// Says what of the input's alpha and bits `output` cannot keep, and when transparent pixels
// outside the selection lend their hidden colours as texture.
void tellWhatOutputKeeps(const std::string& input, const std::string& output, ImageFormat format,
                         const KeptSamples& kept, const std::vector<uint8_t>& mask) {
    const bool alpha = kept.channels == 2 || kept.channels == 4;
    if (alpha && !codec::canHoldAlpha(format))
        message(input + ": alpha dropped: " + output + "'s format holds none");
    if (kept.bits == 16 && !codec::canHold16Bits(format))
        message(input + ": 16-bit samples written as 8 bits: " + output +
                "'s format holds no more");
    if (!alpha)
        return;
    const size_t channels = static_cast<size_t>(kept.channels);
    const size_t bytes = static_cast<size_t>(kept.bits / 8);
    size_t hidden = 0;
    for (size_t i = 0; i < mask.size(); i++) {
        const uint8_t* alphaSample = &kept.samples[((i + 1) * channels - 1) * bytes];
        const bool transparent =
            bytes == 2 ? alphaSample[0] == 0 && alphaSample[1] == 0 : alphaSample[0] == 0;
        hidden += transparent && mask[i] == 0 ? 1 : 0;
    }
    if (hidden > 0)
        message(input + ": " + std::to_string(hidden) +
                " fully transparent pixels outside the selection lend their hidden colours "
                "as texture");
}

// Checks before anything is decoded what the headers tell: the output can be written and its
// format holds the image, the mask has the image's size, and the least memory of the run
// (decoding both files and filling, leastRunBytes) fits this process. Returns the exit status of a
// failure, or kExitDone.
int checkBeforeDecoding(const Options& options, const std::string& input,
                        const std::string& maskPath, const std::string& output,
                        ImageFormat format) {
    std::string error;
    if (!checkWritable(output, error))
        return fileError(output, error);
    ImageHeader image;
    if (!readImageHeader(input, image, error))
        return fileError(input, error);
    if (!formatHolds(format, image, error))
        return fileError(output, error);
    ImageHeader mask;
    if (!options.region && !readImageHeader(maskPath, mask, error))
        return fileError(maskPath, error);
    if (!options.region && (mask.width != image.width || mask.height != image.height))
        return fileError(maskPath, "the mask is " + std::to_string(mask.width) + " x " +
                                       std::to_string(mask.height) + ", the image " +
                                       std::to_string(image.width) + " x " +
                                       std::to_string(image.height));
    ImageHeader drawn;
    if (!options.sourceMask.empty() && !readImageHeader(options.sourceMask, drawn, error))
        return fileError(options.sourceMask, error);
    if (!options.sourceMask.empty() && (drawn.width != image.width || drawn.height != image.height))
        return fileError(options.sourceMask, "the source mask is " + std::to_string(drawn.width) +
                                                 " x " + std::to_string(drawn.height) +
                                                 ", the image " + std::to_string(image.width) +
                                                 " x " + std::to_string(image.height));
    const uint64_t least = leastRunBytes(image, options.region ? nullptr : &mask);
    const uint64_t ceiling = memoryCeiling();
    if (ceiling != 0 && least > ceiling)
        return fileError(input, std::to_string(image.width) + " x " + std::to_string(image.height) +
                                    " needs at least " + std::to_string(least >> 20) +
                                    " MB to read and fill, more than the " +
                                    std::to_string(ceiling >> 20) + " MB this process can have");
    return kExitDone;
}

// Reads IN and MASK, runs the plug-in over them and writes OUT. Nothing is written unless the
// whole run succeeded.
int fill(const Options& options, const std::string& input, const std::string& maskPath,
         const std::string& output) {
    ImageFormat format = ImageFormat::png;
    std::string error;
    if (!outputFormatFromName(output, format, error))
        return fileError(output, error);
    if (!maskPath.empty() && sameFile(output, maskPath))
        return fileError(output, "the output names the mask file, which is left untouched "
                                 "(choose another output name)");
    const int checked = checkBeforeDecoding(options, input, maskPath, output, format);
    if (checked != kExitDone)
        return checked;

    RgbImage image;
    KeptSamples kept;
    ImageMetadata metadata;
    std::string notice;
    if (!readImage(input, image, kept, metadata, notice, error))
        return fileError(input, error);
    if (!notice.empty() && !options.quiet)
        message(input + ": " + notice);

    Selection selection;
    size_t selected = 0;
    const int status = readSelection(options, maskPath, image, selection, selected);
    if (status != kExitDone)
        return status;
    if (!options.quiet)
        tellWhatOutputKeeps(input, output, format, kept, selection.mask);
    // Writing the kept samples back and matching the tone need the selection after it moved
    // into the host.
    std::vector<uint8_t> selectedPixels =
        kept.channels != 0 || options.matchTone ? selection.mask : std::vector<uint8_t>{};
    const runner::DialogValues typed = typedValues(options, selection);
    runner::AreaMask area;
    const int sampled = readSamplingArea(options, selection, selected, area);
    if (sampled != kExitDone)
        return sampled;
    standin::FillHooks hooks;
    if (!area.bytes.empty()) {
        hooks.samplingArea = area.bytes.data();
        hooks.samplingAreaRowStride = area.width;
    }

    FillRun run;
    const bool statusLine = !options.quiet && errorOutputIsTerminal();
    // The image and the mask move into the host: the fill's peak holds no copy of them here.
    if (!runFilter(pluginModulePath(options.module), std::move(image), std::move(selection.mask),
                   typed, options.interactive, statusLine, run, error, hooks)) {
        message(error);
        return kExitUsageOrFile;
    }
    if (run.result != resultSuccess) {
        message("the plug-in reported " + describeResult(run.result) + "; " + output +
                " was not written");
        return kExitPluginError;
    }
    double toneSeconds = -1.0;
    if (options.matchTone && selected > 0) {
        const auto start = std::chrono::steady_clock::now();
        if (!matchFillTone(run.output, kept, selectedPixels)) {
            message("matching the tone ran " + resultInWords(errOutOfMemory) + "; " + output +
                    " was not written");
            return kExitPluginError;
        }
        toneSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (!writeImage(output, run.output, kept, selectedPixels, format, options.quality, metadata,
                    error))
        return fileError(output, "cannot write: " + error);
    if (!options.quiet)
        std::printf("%s\n", summary(selected, run, toneSeconds).c_str());
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
