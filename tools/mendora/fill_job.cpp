// One fill as the command line makes it: from files (`mendora fill`, `mendora batch`) or from
// samples in memory (the Python module).
// In: options, file names or samples. Out: the written file or the filled samples, a report.
#include "tools/mendora/fill_job.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>

#include "host/host_hooks.h"
#include "tools/mendora/file_names.h"
#include "tools/mendora/fill_interrupt.h"
#include "tools/mendora/memory_budget.h"
#include "tools/mendora/output_file.h"
#include "tools/standin_host/context_source.h"
#include "tools/standin_host/host_limits.h"
#include "tools/standin_host/sampling_area.h"
#include "tools/standin_host/tone_match.h"

namespace mendora::cli {

using runner::FillRun;
using runner::pluginModulePath;
using runner::resultInWords;
using runner::runFilter;

namespace {

// A failed report: `name: reason`, or the reason alone without a name.
FillReport failed(Failure failure, const std::string& name, const std::string& reason) {
    FillReport report;
    report.failure = failure;
    report.reason = name.empty() ? reason : name + ": " + reason;
    return report;
}

std::string describeResult(int16_t code) {
    if (code == errBadParameters)
        return resultInWords(code) + " (widen --source, lower --radius or shrink the mask)";
    return resultInWords(code);
}

// "`what` is W x H, the image W x H".
std::string sizesDiffer(const char* what, int32_t maskWidth, int32_t maskHeight, int32_t width,
                        int32_t height) {
    return std::string(what) + " is " + std::to_string(maskWidth) + " x " +
           std::to_string(maskHeight) + ", the image " + std::to_string(width) + " x " +
           std::to_string(height);
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

// Checks a selection of the image's size: that it leaves some pixel to copy texture from.
// `named` names the mask in the reason (empty: none). Counts the selected pixels into
// `report.selected`; tells through `notice` when none is selected.
bool selectionLeavesSource(const Selection& selection, const std::string& named,
                           const NoticeSink& notice, FillReport& report) {
    report.selected = static_cast<size_t>(
        std::count_if(selection.mask.begin(), selection.mask.end(), [](uint8_t v) { return v; }));
    // The plug-in would find no source patch and report bad parameters (-30100); the reason
    // is plainer here.
    if (report.selected == selection.mask.size()) {
        report = failed(Failure::usage, named,
                        std::string("the mask selects every pixel") +
                            (selection.byAlpha ? " by its alpha (an opaque mask selects "
                                                 "everything)"
                                               : "") +
                            ", so no pixel is left to copy texture from");
        return false;
    }
    if (report.selected == 0 && notice)
        notice((named.empty() ? "" : named + ": ") +
               "the mask marks no pixel, so the image is written unchanged");
    return true;
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

// --match-tone: matches the fill's tone to its surroundings in the input's own bits, in
// `kept` when it has samples of its own (which then hold the fill, and `selected` is emptied
// for writeImage or composeOutput), else in the fill's RGB. Returns false when memory ran out.
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

// The patch radius a fresh module fills with: the typed one when it is above 0, else 4.
int32_t typedRadius(const Options& options) {
    const std::optional<std::string>& radiusText = options.typed[4];
    const int32_t typed = radiusText ? std::atoi(radiusText->c_str()) : 0;
    return typed > 0 ? typed : 4;
}

// The least memory of the descriptors of the windows of `source` in a width x height image
// with `selected` pixels selected (leastDescriptorBytes); 0 under a sampling area (--band,
// --source-mask), whose windows are not known before it is made.
uint64_t descriptorLeast(const Options& options, int32_t width, int32_t height,
                         const runner::SourceRectangle& source, uint64_t selected) {
    if (options.band || !options.sourceMask.empty())
        return 0;
    return leastDescriptorBytes(width, height, source.left, source.top, source.right, source.bottom,
                                selected, typedRadius(options));
}

// The sampling area of --band and --source-mask into `area` (left empty without them, or when
// nothing is selected), checked to leave the plug-in a source window. Returns a report
// without failure when it does.
FillReport readSamplingArea(const Options& options, const Selection& selection, size_t selected,
                            const NoticeSink& tell, runner::AreaMask& area) {
    area = runner::AreaMask{};
    if ((!options.band && options.sourceMask.empty()) || selected == 0)
        return FillReport{};
    if (options.band)
        area = runner::bandAroundSelection(selection.mask.data(), selection.width, selection.height,
                                           static_cast<size_t>(selection.width), *options.band);
    if (!options.sourceMask.empty()) {
        Selection drawn;
        std::string error;
        std::string notice;
        if (!readMask(options.sourceMask, kLowestMaskThreshold, drawn, notice, error))
            return failed(Failure::file, options.sourceMask, error);
        if (!notice.empty() && tell)
            tell(options.sourceMask + ": " + notice);
        if (drawn.width != selection.width || drawn.height != selection.height)
            return failed(Failure::usage, options.sourceMask,
                          sizesDiffer("the source mask", drawn.width, drawn.height, selection.width,
                                      selection.height));
        runner::AreaMask marked{drawn.width, drawn.height, std::move(drawn.mask)};
        if (area.bytes.empty())
            area = std::move(marked);
        else
            runner::intersectArea(area, marked);
    }
    const int32_t radius = typedRadius(options);
    if (!runner::anySourceWindow(area, selection.mask.data(), typedSource(options, selection),
                                 radius)) {
        const std::string side = std::to_string(2 * radius + 1);
        return failed(Failure::usage, "",
                      "the sampling area (" + std::string(options.band ? "--band" : "") +
                          (options.band && !options.sourceMask.empty() ? " and " : "") +
                          (options.sourceMask.empty() ? "" : "--source-mask") + ") leaves no " +
                          side + " x " + side +
                          " window outside the region to copy texture from: widen it; nothing "
                          "was written");
    }
    return FillReport{};
}

// Says what of the input's alpha and bits `output` cannot keep, and when transparent pixels
// outside the selection lend their hidden colours as texture.
void tellWhatOutputKeeps(const std::string& input, const std::string& output, ImageFormat format,
                         const KeptSamples& kept, const std::vector<uint8_t>& mask,
                         const NoticeSink& notice) {
    const bool alpha = kept.channels == 2 || kept.channels == 4;
    if (alpha && !codec::canHoldAlpha(format))
        notice(input + ": alpha dropped: " + output + "'s format holds none");
    if (kept.bits == 16 && !codec::canHold16Bits(format))
        notice(input + ": 16-bit samples written as 8 bits: " + output + "'s format holds no more");
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
        notice(input + ": " + std::to_string(hidden) +
               " fully transparent pixels outside the selection lend their hidden colours as "
               "texture");
}

// Checks that `least` bytes for a `width` x `height` image fit this process (memoryCeiling).
// Returns false with the reason, naming what the bytes are for (`what`), in `error`.
bool withinCeiling(int32_t width, int32_t height, uint64_t least, const char* what,
                   std::string& error) {
    const uint64_t ceiling = memoryCeiling();
    if (ceiling == 0 || least <= ceiling)
        return true;
    error = std::to_string(width) + " x " + std::to_string(height) + " needs at least " +
            std::to_string(least >> 20) + " MB to " + what + ", more than the " +
            std::to_string(ceiling >> 20) + " MB this process can have";
    return false;
}

// Checks before anything is decoded what the headers tell: the output can be written and its
// format holds the image, the mask has the image's size, and the least memory of the run
// (decoding both files and filling, leastRunBytes; with --region the descriptors of the source
// windows too) fits this process. Gives the headers read in `image` and `mask` (the mask's
// untouched with --region). Returns a report without failure when all holds.
FillReport checkBeforeDecoding(const Options& options, const std::string& input,
                               const std::string& maskPath, const std::string& output,
                               ImageFormat format, ImageHeader& image, ImageHeader& mask) {
    std::string error;
    if (!checkWritable(output, error))
        return failed(Failure::file, output, error);
    if (!readImageHeader(input, image, error))
        return failed(Failure::file, input, error);
    if (!formatHolds(format, image, error))
        return failed(Failure::usage, output, error);
    if (!options.region && !readImageHeader(maskPath, mask, error))
        return failed(Failure::file, maskPath, error);
    if (!options.region && (mask.width != image.width || mask.height != image.height))
        return failed(Failure::usage, maskPath,
                      sizesDiffer("the mask", mask.width, mask.height, image.width, image.height));
    ImageHeader drawn;
    if (!options.sourceMask.empty() && !readImageHeader(options.sourceMask, drawn, error))
        return failed(Failure::file, options.sourceMask, error);
    if (!options.sourceMask.empty() && (drawn.width != image.width || drawn.height != image.height))
        return failed(
            Failure::usage, options.sourceMask,
            sizesDiffer("the source mask", drawn.width, drawn.height, image.width, image.height));
    // --region's selection is known already: so are the windows of the source.
    uint64_t descriptors = 0;
    if (options.region) {
        const std::array<int32_t, 4>& r = *options.region;
        const int64_t across = std::min(r[2], image.width) - std::max(r[0], 0);
        const int64_t down = std::min(r[3], image.height) - std::max(r[1], 0);
        const uint64_t selected = across > 0 && down > 0
                                      ? static_cast<uint64_t>(across) * static_cast<uint64_t>(down)
                                      : 0;
        runner::SourceRectangle source{0, 0, image.width, image.height};
        if (options.source)
            source = runner::SourceRectangle{(*options.source)[0], (*options.source)[1],
                                             (*options.source)[2], (*options.source)[3]};
        else if (options.context)
            source = runner::SourceRectangle{std::max(r[0], 0) - *options.context,
                                             std::max(r[1], 0) - *options.context,
                                             std::min(r[2], image.width) + *options.context,
                                             std::min(r[3], image.height) + *options.context};
        descriptors = descriptorLeast(options, image.width, image.height, source, selected);
    }
    if (!withinCeiling(image.width, image.height,
                       leastRunBytes(image, options.region ? nullptr : &mask, descriptors),
                       "read and fill", error))
        return failed(Failure::memory, input, error);
    return FillReport{};
}

// `hooks` with Ctrl+C's stop: a SIGINT stops the fill; the test hook
// MENDORA_TEST_INTERRUPT_AT_STEP sends one at its fill step.
standin::FillHooks interruptibleHooks(standin::FillHooks hooks) {
    hooks.stopRequested = [stop = std::move(hooks.stopRequested)] {
        return fillInterrupted() || (stop && stop());
    };
    const long interruptAt = runner::testHookNumber("MENDORA_TEST_INTERRUPT_AT_STEP");
    if (interruptAt > 0)
        hooks.progress = [progress = std::move(hooks.progress), interruptAt,
                          steps = 0L](int32_t stage, int64_t done, int64_t total) mutable {
            if (progress)
                progress(stage, done, total);
            if (stage == MENDORA_STAGE_FILLING && done > 0 && ++steps == interruptAt)
                std::raise(SIGINT);
        };
    return hooks;
}

// Runs the plug-in over `image` and `selection` (both moved into the host) with `typed`,
// showing its progress as `shown` says; with `stopOnInterrupt` Ctrl+C stops the fill.
// Fills `report` with the run's figures; `filled` receives the output image.
void runPlugin(const Options& options, RgbImage image, Selection selection,
               const runner::DialogValues& typed, runner::ProgressShown shown, bool stopOnInterrupt,
               const std::string& output, const standin::FillHooks& hooks, FillReport& report,
               RgbImage& filled) {
    FillRun run;
    std::string error;
    bool ran = false;
    bool interrupted = false;
    {
        std::optional<InterruptibleFill> interruptible;
        if (stopOnInterrupt)
            interruptible.emplace(output);
        // The image and the mask move into the host: the fill's peak holds no copy of them here.
        ran = runFilter(pluginModulePath(options.module), std::move(image),
                        std::move(selection.mask), typed, options.interactive, shown, run, error,
                        stopOnInterrupt ? interruptibleHooks(hooks) : hooks);
        interrupted = stopOnInterrupt && fillInterrupted();
    }
    if (!ran) {
        report = failed(Failure::file, "", error);
        return;
    }
    if (interrupted && run.result == errCanceled) {
        const size_t selected = report.selected;
        report = failed(Failure::interrupted, "",
                        "interrupted" + (output.empty() ? "" : "; " + output + " was not written"));
        report.pluginResult = run.result;
        report.selected = selected;
        return;
    }
    if (run.result != resultSuccess) {
        const size_t selected = report.selected;
        report = failed(Failure::plugin, "",
                        "the plug-in reported " + describeResult(run.result) +
                            (output.empty() ? "" : "; " + output + " was not written"));
        report.pluginResult = run.result;
        report.selected = selected;
        return;
    }
    report.fillSeconds = run.fillSeconds;
    report.width = run.output.width;
    report.height = run.output.height;
    report.parameters = run.parameters;
    filled = std::move(run.output);
}

// The fill of `image` where `selection` marks, with what the options add around the plug-in's
// run: the sampling area of --band and --source-mask (checked first), and --match-tone after
// it. `kept` are the image's own samples (empty for 8-bit RGB); `selectedPixels` receives the
// selection for writing them back (emptied when the tone was matched into `kept`, which then
// holds the fill). Fills `report`; `filled` receives the filled RGB.
void fillSelection(const Options& options, RgbImage image, KeptSamples& kept, Selection selection,
                   runner::ProgressShown shown, bool stopOnInterrupt, const std::string& output,
                   const standin::FillHooks& hooks, const NoticeSink& tell, FillReport& report,
                   RgbImage& filled, std::vector<uint8_t>& selectedPixels) {
    // Writing the kept samples back and matching the tone need the selection after it moved
    // into the host.
    selectedPixels =
        kept.channels != 0 || options.matchTone ? selection.mask : std::vector<uint8_t>{};
    const runner::DialogValues typed = typedValues(options, selection);
    runner::AreaMask area;
    const FillReport sampled = readSamplingArea(options, selection, report.selected, tell, area);
    if (sampled.failure != Failure::none) {
        report = sampled;
        return;
    }
    standin::FillHooks withArea = hooks;
    if (!area.bytes.empty()) {
        withArea.samplingArea = area.bytes.data();
        withArea.samplingAreaRowStride = area.width;
    }
    runPlugin(options, std::move(image), std::move(selection), typed, shown, stopOnInterrupt,
              output, withArea, report, filled);
    if (report.failure != Failure::none || !options.matchTone || report.selected == 0)
        return;
    const auto start = std::chrono::steady_clock::now();
    if (!matchFillTone(filled, kept, selectedPixels)) {
        const size_t selected = report.selected;
        report = failed(Failure::plugin, "",
                        "matching the tone ran " + resultInWords(errOutOfMemory) +
                            (output.empty() ? "" : "; " + output + " was not written"));
        report.pluginResult = errOutOfMemory;
        report.selected = selected;
        return;
    }
    report.toneSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

bool memoryFits(int32_t width, int32_t height, uint64_t descriptorBytes, std::string& error) {
    return withinCeiling(width, height,
                         static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                                 kLeastFillBytesPerPixel +
                             descriptorBytes,
                         "fill", error);
}

int exitStatus(Failure failure) {
    switch (failure) {
    case Failure::none:
        return 0;
    case Failure::plugin:
        return 1;
    case Failure::interrupted:
        return kExitInterrupted;
    default:
        return 2;
    }
}

std::string summaryLine(const FillReport& report) {
    const FillParameters& p = report.parameters;
    const auto seconds = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value);
        return std::string(text);
    };
    return std::to_string(report.width) + " x " + std::to_string(report.height) + " pixels, " +
           std::to_string(report.selected) + " filled in " + seconds(report.fillSeconds) +
           " s (source rectangle " + std::to_string(p.sourceLeft) + "," +
           std::to_string(p.sourceTop) + " to " + std::to_string(p.sourceRight) + "," +
           std::to_string(p.sourceBottom) + ", patch radius " + std::to_string(p.patchRadius) +
           ")" +
           (report.toneSeconds < 0 ? ""
                                   : ", tone matched in " + seconds(report.toneSeconds) + " s");
}

FillReport fillFiles(const Options& options, const std::string& input, const std::string& maskPath,
                     const std::string& output, runner::ProgressShown shown,
                     const NoticeSink& notice, const standin::FillHooks& hooks,
                     bool stopOnInterrupt) {
    const NoticeSink tell = options.quiet ? NoticeSink{} : notice;
    ImageFormat format = ImageFormat::png;
    std::string error;
    if (!outputFormatFromName(output, format, error))
        return failed(Failure::usage, output, error);
    if (!maskPath.empty() && sameFile(output, maskPath))
        return failed(Failure::usage, output,
                      "the output names the mask file, which is left untouched (choose another "
                      "output name)");
    ImageHeader imageHeader;
    ImageHeader maskHeader;
    FillReport report =
        checkBeforeDecoding(options, input, maskPath, output, format, imageHeader, maskHeader);
    if (report.failure != Failure::none)
        return report;

    // The mask first, checked whole: what it selects tells how many source windows the fill
    // describes, which can be more than this process may have before the image is decoded.
    Selection selection;
    const std::string named = options.region ? "--region" : maskPath;
    if (!options.region) {
        std::string maskNotice;
        if (!readMask(maskPath, options.maskThreshold, selection, maskNotice, error))
            return failed(Failure::file, maskPath, error);
        if (!maskNotice.empty() && tell)
            tell(maskPath + ": " + maskNotice);
        if (!selectionLeavesSource(selection, named, tell, report))
            return report;
        const uint64_t descriptors =
            descriptorLeast(options, selection.width, selection.height,
                            typedSource(options, selection), report.selected);
        if (!withinCeiling(imageHeader.width, imageHeader.height,
                           leastRunBytes(imageHeader, &maskHeader, descriptors), "read and fill",
                           error))
            return failed(Failure::memory, input, error);
    }

    RgbImage image;
    KeptSamples kept;
    ImageMetadata metadata;
    std::string notice8;
    if (!readImage(input, image, kept, metadata, notice8, error))
        return failed(Failure::file, input, error);
    if (!notice8.empty() && tell)
        tell(input + ": " + notice8);
    if (options.region && !regionSelection(*options.region, image, selection, error))
        return failed(Failure::usage, "", error);
    if (selection.width != image.width || selection.height != image.height)
        return failed(
            Failure::usage, named,
            sizesDiffer("the mask", selection.width, selection.height, image.width, image.height));
    if (options.region && !selectionLeavesSource(selection, named, tell, report))
        return report;
    if (tell)
        tellWhatOutputKeeps(input, output, format, kept, selection.mask, tell);
    RgbImage filled;
    std::vector<uint8_t> selectedPixels;
    fillSelection(options, std::move(image), kept, std::move(selection), shown, stopOnInterrupt,
                  output, hooks, tell, report, filled, selectedPixels);
    if (report.failure != Failure::none)
        return report;
    if (!writeImage(output, filled, kept, selectedPixels, format, options.quality, metadata,
                    error)) {
        const FillReport done = report;
        report = failed(Failure::file, output, "cannot write: " + error);
        report.selected = done.selected;
    }
    return report;
}

FillReport fillSamples(const Options& options, DecodedImage decoded, std::vector<uint8_t> selected,
                       std::vector<uint8_t>& samples, const standin::FillHooks& hooks) {
    samples.clear();
    std::string error;
    if (!sidesWithinLimit(decoded.width, decoded.height, error))
        return failed(Failure::usage, "", error);
    if (!memoryFits(decoded.width, decoded.height, 0, error))
        return failed(Failure::memory, "", error);
    Selection selection{decoded.width, decoded.height, std::move(selected), false};
    for (uint8_t& value : selection.mask)
        value = value != 0 ? 1 : 0;
    FillReport report;
    if (!selectionLeavesSource(selection, "", NoticeSink{}, report))
        return report;
    const uint64_t descriptors = descriptorLeast(options, selection.width, selection.height,
                                                 typedSource(options, selection), report.selected);
    if (!memoryFits(decoded.width, decoded.height, descriptors, error))
        return failed(Failure::memory, "", error);

    RgbImage image;
    KeptSamples kept;
    std::string notice;
    splitDecoded(std::move(decoded), image, kept, notice);
    RgbImage filled;
    std::vector<uint8_t> selectedPixels;
    fillSelection(options, std::move(image), kept, std::move(selection),
                  runner::ProgressShown::none, false, "", hooks, NoticeSink{}, report, filled,
                  selectedPixels);
    if (report.failure != Failure::none)
        return report;
    // As a PNG output keeps them: every channel and bit of the image (with the tone matched,
    // `kept` holds the fill already).
    if (kept.channels == 0)
        samples = std::move(filled.pixels);
    else if (selectedPixels.empty())
        samples = std::move(kept.samples);
    else
        samples = composeOutput(filled, kept, selectedPixels, kept.channels, kept.bits);
    return report;
}

} // namespace mendora::cli
