// The filter run of the GIMP plug-ins: the module driven through the hosts' common runner over
// the drawable's pixels and the selection, GIMP's progress bar showing how far it is.
#include "tools/gimp/gimp_fill.h"

#include <libgimp/gimp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>
#include <thread>

#include "host/host_hooks.h"
#include "tools/gimp/gimp_pixels.h"
#include "tools/standin_host/context_source.h"
#include "tools/standin_host/filter_run.h"
#include "tools/standin_host/host_limits.h"
#include "tools/standin_host/sampling_area.h"
#include "tools/standin_host/status_line.h"
#include "tools/standin_host/tone_match.h"

namespace mendora::gimp {

namespace {

// The module is installed beside this program.
constexpr char kModuleName[] = "Zendrel.so";
// The progress bar is updated this often while the module fills.
constexpr std::chrono::milliseconds kPulseInterval{100};

// Four zeros for the source rectangle: the whole layer.
bool wholeLayer(const FillValues& values) {
    return values.sourceLeft == 0 && values.sourceTop == 0 && values.sourceRight == 0 &&
           values.sourceBottom == 0;
}

// The part of a drawable of `width` x `height` the module is given: the smallest rectangle
// holding every pixel that is selected or not transparent (`transparent` may be empty: none
// is). Transparent pixels outside it neither give texture nor need filling, so a mostly
// transparent layer costs no more than its visible part.
GeglRectangle usedArea(const std::vector<uint8_t>& selected,
                       const std::vector<uint8_t>& transparent, int32_t width, int32_t height) {
    if (transparent.empty())
        return GeglRectangle{0, 0, width, height};
    int32_t left = width, top = height, right = 0, bottom = 0;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            const size_t i = size_t{1} * y * width + x;
            if (selected[i] == 0 && transparent[i] != 0)
                continue;
            left = std::min(left, x);
            top = std::min(top, y);
            right = std::max(right, x + 1);
            bottom = std::max(bottom, y + 1);
        }
    return GeglRectangle{left, top, right - left, bottom - top};
}

// The source rectangle `source` (drawable coordinates; four zeros the whole of `used`), moved
// into `used`'s coordinates and held inside it.
runner::SourceRectangle usedSource(const runner::SourceRectangle& source,
                                   const GeglRectangle& used) {
    const bool wholeImage =
        source.left == 0 && source.top == 0 && source.right == 0 && source.bottom == 0;
    const auto across = [&](int32_t x) { return std::clamp(x - used.x, 0, used.width); };
    const auto down = [&](int32_t y) { return std::clamp(y - used.y, 0, used.height); };
    return runner::SourceRectangle{wholeImage ? 0 : across(source.left),
                                   wholeImage ? 0 : down(source.top),
                                   wholeImage ? used.width : across(source.right),
                                   wholeImage ? used.height : down(source.bottom)};
}

// The texts typed into the module's region dialog, as the command line types them: the
// source rectangle (usedSource's) and the patch radius.
runner::DialogValues typedValues(const FillValues& values, const runner::SourceRectangle& source) {
    return runner::DialogValues{std::to_string(source.left), std::to_string(source.top),
                                std::to_string(source.right), std::to_string(source.bottom),
                                std::to_string(values.patchRadius)};
}

// The source rectangle of `values` over the drawable of `width` x `height` whose pixels to
// fill `selected` marks: the typed one, or for a context width above 0 the selection's
// bounding box grown by it (the one definition the command line's --context uses too).
runner::SourceRectangle sourceOf(const FillValues& values, const std::vector<uint8_t>& selected,
                                 int32_t width, int32_t height) {
    if (values.contextWidth == 0)
        return runner::SourceRectangle{values.sourceLeft, values.sourceTop, values.sourceRight,
                                       values.sourceBottom};
    runner::SourceRectangle source;
    // checkValues held the width in its range and the caller found a selected pixel, so the
    // rectangle is always made.
    runner::contextSourceRectangle(selected.data(), width, height, static_cast<size_t>(width),
                                   values.contextWidth, source);
    return source;
}

// The rows and columns of `image` (or of a mask, `channels` 1) inside `used`.
std::vector<uint8_t> cut(const std::vector<uint8_t>& image, int32_t width, int32_t channels,
                         const GeglRectangle& used) {
    std::vector<uint8_t> part(size_t{1} * channels * used.width * used.height);
    const size_t row = size_t{1} * channels * used.width;
    for (int32_t y = 0; y < used.height; y++)
        std::copy_n(&image[(size_t{1} * (used.y + y) * width + used.x) * channels], row,
                    &part[row * y]);
    return part;
}

// `name` in the folder of the running program (empty when the program cannot be found).
std::filesystem::path besideProgram(const char* name) {
    std::error_code failed;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", failed);
    return failed ? std::filesystem::path() : program.parent_path() / name;
}

std::string modulePath() {
    std::error_code failed;
    const std::filesystem::path beside = besideProgram(kModuleName);
    if (!beside.empty() && std::filesystem::exists(beside, failed))
        return beside.string();
    return runner::pluginModulePath("");
}

// What went wrong, in the dialog's terms (no result codes): when no patch fits, where the
// texture was to come from (the context width or the source rectangle) and what to change.
std::string describeResult(int16_t code, const FillValues& values) {
    // (A radius of 0 fills with the default: every fill starts the module afresh.)
    const std::string radius =
        std::to_string(values.patchRadius > 0 ? values.patchRadius : kDefaultPatchRadius);
    if (code == errBadParameters && values.contextWidth > 0)
        return "no patch of radius " + radius +
               " fits outside the selection within the context width of " +
               std::to_string(values.contextWidth) +
               " pixels: widen the context width, lower the patch radius or select less";
    if (code == errBadParameters)
        return "no patch of radius " + radius +
               " fits outside the selection within the source rectangle: widen the source "
               "rectangle, lower the patch radius or select less";
    if (code == errOutOfMemory)
        return "out of memory: select less, or fill a smaller part of the image";
    if (code == errCanceled)
        return "the fill was canceled";
    return runner::resultInWords(code);
}

// The subject of the refusal when a sampling area leaves no source window: the band of
// values.bandWidth (when above 0), the target's source channel (when it has one), or both.
std::string samplingSubject(const FillValues& values, const FillTarget& target) {
    const std::string band = "the band of " + std::to_string(values.bandWidth) +
                             (values.bandWidth == 1 ? " pixel" : " pixels");
    const std::string channel = "the channel \"" + target.sourceChannelName + "\"";
    if (values.bandWidth > 0 && target.sourceChannel != nullptr)
        return band + " within " + channel;
    return values.bandWidth > 0 ? band : channel;
}

// The sampling area of a fill over `used` into `sampling` (one byte a pixel of `used`, nonzero
// where texture may come from; left empty when every pixel may): the visible pixels (`visible`,
// one byte a pixel of the target's drawable), within values.bandWidth of the selection
// `selected` (the drawable's) when it is above 0, and where the target's source channel is
// nonzero when it has one. `region` is `selected` over `used`, `source` the source rectangle
// there (usedSource's). Returns false with a one-line reason in `error` when the band or the
// channel leaves the module no source window outside the selection, checked before the fill.
// Throws std::bad_alloc.
bool samplingArea(const FillValues& values, const FillTarget& target,
                  const std::vector<uint8_t>& selected, const std::vector<uint8_t>& visible,
                  const GeglRectangle& used, const std::vector<uint8_t>& region,
                  const runner::SourceRectangle& source, std::vector<uint8_t>& sampling,
                  std::string& error) {
    const int32_t width = target.area.width;
    runner::AreaMask area{used.width, used.height, cut(visible, width, 1, used)};
    if (values.bandWidth > 0) {
        // Each region's band measured over the whole drawable, then cut to the used part.
        const runner::AreaMask band =
            runner::bandAroundSelection(selected.data(), width, target.area.height,
                                        static_cast<size_t>(width), values.bandWidth);
        runner::intersectArea(
            area, runner::AreaMask{used.width, used.height, cut(band.bytes, width, 1, used)});
    }
    if (target.sourceChannel != nullptr) {
        // Any nonzero value allows, as the command line's --source-mask reads a mask.
        const std::vector<float> strength =
            readSelection(target.sourceChannel, target.sourceChannelArea);
        std::vector<uint8_t> allowed(strength.size());
        for (size_t i = 0; i < strength.size(); i++)
            allowed[i] = strength[i] > 0.0f ? 1 : 0;
        runner::intersectArea(
            area, runner::AreaMask{used.width, used.height, cut(allowed, width, 1, used)});
    }
    if (values.bandWidth > 0 || target.sourceChannel != nullptr) {
        // A fresh module fills with the typed radius when it is above 0, else with the default.
        const int32_t radius = values.patchRadius > 0 ? values.patchRadius : kDefaultPatchRadius;
        if (!runner::anySourceWindow(area, region.data(), source, radius)) {
            const std::string side = std::to_string(2 * radius + 1);
            error = samplingSubject(values, target) + " leaves no " + side + " x " + side +
                    " window outside the selection to take texture from: widen it";
            return false;
        }
    }
    // Every pixel allowed is no sampling area at all: the module's own fill.
    if (std::find(area.bytes.begin(), area.bytes.end(), 0) == area.bytes.end())
        area.bytes.clear();
    sampling = std::move(area.bytes);
    return true;
}

// Shows the fill's progress on GIMP's bar: the stage's name while the module sets up (the bar
// pulsing), then the pixels filled of the region as a determinate bar with its percentage and
// the time left (runner::statusText). `shown` is the text on the bar, `fraction` the bar's
// value: GIMP is told only what changed.
void showProgress(const runner::ProgressSnapshot& progress, std::string& shown, double& fraction) {
    if (progress.stage == 0) {
        // Nothing reported yet: the bar keeps its first text.
        gimp_progress_pulse();
        return;
    }
    const std::string text = "Mendora: " + runner::statusText(progress);
    if (text != shown) {
        gimp_progress_set_text(text.c_str());
        shown = text;
    }
    if (progress.stage != MENDORA_STAGE_FILLING || progress.total <= 0) {
        gimp_progress_pulse();
        return;
    }
    const double now = static_cast<double>(progress.done) / static_cast<double>(progress.total);
    if (now - fraction >= 0.001 || (now == 1.0 && fraction != 1.0)) {
        gimp_progress_update(now);
        fraction = now;
    }
}

// Runs the module over `pixels` on a worker thread while this thread, GIMP's, shows its
// progress and asks `present` whether the image is still there. `sampling` is the sampling
// area (one byte a pixel of `pixels`, nonzero where texture may come from; empty: every
// pixel). Answers like runner::runFilter, with `gone` set when it was not at some point.
// GIMP's Cancel ends this process at once (nothing has been written to the image by then).
bool runWithProgress(const runner::RgbImage& pixels, const std::vector<uint8_t>& mask,
                     const std::vector<uint8_t>& sampling, const runner::DialogValues& typed,
                     const std::function<bool()>& present, runner::FillRun& run, bool& gone,
                     std::string& error) {
    gimp_progress_init("Mendora: filling the selection");
    std::atomic<bool> done{false};
    bool ran = false;
    standin::FillHooks hooks;
    if (!sampling.empty()) {
        hooks.samplingArea = sampling.data();
        hooks.samplingAreaRowStride = pixels.width;
    }
    // The test hook: the fill step at which the plug-in ends itself as GIMP's Cancel ends it
    // (GIMP kills a plug-in whose progress is canceled).
    const long cancelAt = runner::testHookNumber("MENDORA_TEST_CANCEL_AT_STEP");
    hooks.progress = [cancelAt, steps = 0L](int32_t stage, int64_t filled, int64_t total) mutable {
        runner::noteProgress(stage, filled, total);
        if (cancelAt > 0 && stage == MENDORA_STAGE_FILLING && filled > 0 && ++steps == cancelAt)
            std::raise(SIGKILL);
    };
    std::thread worker([&] {
        try {
            if (testHookAt(kHookThrow))
                throw std::runtime_error("a failure injected by a test into the fill");
            ran = runner::runFilter(modulePath(), pixels, mask, typed, false,
                                    runner::ProgressShown::none, run, error, hooks);
        } catch (const std::exception& failure) {
            error = reasonOf(failure);
        }
        done = true;
    });
    // The module cannot be stopped from here: once the image is closed, the fill ends unseen.
    std::string shown;
    double fraction = 0.0;
    while (!done) {
        gone = gone || !present();
        if (!gone)
            showProgress(runner::progressNow(), shown, fraction);
        std::this_thread::sleep_for(kPulseInterval);
    }
    worker.join();
    if (gone)
        return false;
    gimp_progress_update(1.0);
    gimp_progress_end();
    return ran;
}

FillOutcome fillOrThrow(const FillTarget& target, const FillValues& values,
                        std::vector<uint8_t>& bytes, std::string& error) {
    if (target.selectionEmpty) {
        error = "nothing is selected: select the region to fill first";
        return FillOutcome::failed;
    }
    const GeglRectangle size{0, 0, target.area.width, target.area.height};
    runner::RgbImage pixels;
    std::vector<uint8_t> transparent;
    const bool read =
        target.visible != nullptr
            ? readVisible(target.visible, target.format, target.area, pixels, transparent, error)
            : readDrawable(target.pixels, target.format, size, pixels, error);
    if (!read)
        return FillOutcome::failed;
    const std::vector<float> strength = readSelection(target.selection, target.area);
    std::vector<uint8_t> selected(strength.size());
    for (size_t i = 0; i < strength.size(); i++)
        selected[i] = strength[i] > 0.0f ? 1 : 0;
    if (std::find(selected.begin(), selected.end(), 1) == selected.end()) {
        error = "the selection does not touch the layer";
        return FillOutcome::failed;
    }
    // Fully transparent pixels are no texture, and outside the selection they are not filled
    // either: the module samples only the visible pixels (its sampling area), and fills only
    // the selection. Without a transparent pixel there is no sampling area: the module's fill.
    std::vector<uint8_t> visible(selected.size(), 1);
    for (size_t i = 0; i < transparent.size(); i++)
        visible[i] = transparent[i] != 0 ? 0 : 1;
    bool anySource = false;
    for (size_t i = 0; i < selected.size() && !anySource; i++)
        anySource = selected[i] == 0 && visible[i] != 0;
    if (!anySource) {
        error = "no visible pixel is left outside the selection to take texture from";
        return FillOutcome::failed;
    }
    const GeglRectangle used = usedArea(selected, transparent, size.width, size.height);
    runner::RgbImage part{used.width, used.height, cut(pixels.pixels, size.width, 3, used)};
    runner::FillRun run;
    bool gone = false;
    const runner::SourceRectangle source =
        usedSource(sourceOf(values, selected, size.width, size.height), used);
    const runner::DialogValues typed = typedValues(values, source);
    const std::vector<uint8_t> region = cut(selected, size.width, 1, used);
    std::vector<uint8_t> sampling;
    if (!samplingArea(values, target, selected, visible, used, region, source, sampling, error))
        return FillOutcome::failed;
    const bool ran =
        runWithProgress(part, region, sampling, typed, target.present, run, gone, error);
    if (gone)
        return FillOutcome::gone;
    if (!ran)
        return FillOutcome::failed;
    if (run.result != resultSuccess) {
        error = describeResult(run.result, values);
        return FillOutcome::failed;
    }
    // Tone matching on the fill before the blend by the selection's strength.
    // A fully transparent pixel beside the region is no picture for the fill to meet: the
    // correction comes to nothing at such seams, and only visible pixels pull.
    if (values.matchTone) {
        const std::vector<uint8_t> picture = cut(visible, size.width, 1, used);
        const tone::SampleLayout layout{used.width, used.height, 3, 3, size_t{3} * used.width};
        if (tone::matchTones(run.output.pixels.data(), layout, region.data(),
                             static_cast<size_t>(used.width),
                             picture.data()) == tone::ToneMatch::outOfMemory) {
            error = "out of memory";
            return FillOutcome::failed;
        }
    }
    const size_t row = size_t{3} * used.width;
    for (int32_t y = 0; y < used.height; y++)
        std::copy_n(&run.output.pixels[row * y], row,
                    &pixels.pixels[(size_t{1} * (used.y + y) * size.width + used.x) * 3]);
    bytes = filledBytes(target.pixels, target.format, size, pixels, strength);
    if (values.output == FillOutput::newLayer)
        bytes = newLayerBytes(bytes, target.format, strength);
    return FillOutcome::filled;
}

} // namespace

bool checkValues(const FillValues& values, int32_t width, int32_t height, bool layer,
                 std::string& error) {
    if (values.patchRadius < 0 || values.patchRadius > largestPatchRadius()) {
        error = "the patch radius is " + std::to_string(values.patchRadius) +
                "; it must be from 0 to " + std::to_string(largestPatchRadius());
        return false;
    }
    const int32_t sides[] = {values.sourceLeft, values.sourceTop, values.sourceRight,
                             values.sourceBottom};
    for (const int32_t side : sides)
        if (side < 0 || side > runner::kMaxImageSide) {
            error = "the source rectangle's side " + std::to_string(side) +
                    " is out of range: each must be from 0 to " +
                    std::to_string(runner::kMaxImageSide);
            return false;
        }
    if (values.contextWidth < 0 || values.contextWidth > runner::kMaxContextWidth) {
        error = "the context width is " + std::to_string(values.contextWidth) +
                "; it must be from 0 (the source rectangle) to " +
                std::to_string(runner::kMaxContextWidth);
        return false;
    }
    if (values.bandWidth < 0 || values.bandWidth > runner::kMaxContextWidth) {
        error = "the band width is " + std::to_string(values.bandWidth) +
                "; it must be from 0 (no band) to " + std::to_string(runner::kMaxContextWidth);
        return false;
    }
    if (values.output != FillOutput::intoLayer && values.output != FillOutput::newLayer) {
        error = "the output is " + std::to_string(static_cast<int32_t>(values.output)) +
                "; it must be 0 (into the layer) or 1 (into a new layer)";
        return false;
    }
    if (values.output == FillOutput::newLayer && !layer) {
        error = kChannelIntoLayer;
        return false;
    }
    // A context width replaces the typed rectangle, which then only has to be in range.
    if (values.contextWidth == 0 && !wholeLayer(values) &&
        (values.sourceLeft >= width || values.sourceTop >= height)) {
        error = "the source rectangle starts at " + std::to_string(values.sourceLeft) + ", " +
                std::to_string(values.sourceTop) + ", outside the layer of " +
                std::to_string(width) + " x " + std::to_string(height) +
                " pixels: give one that overlaps it, or four zeros for the whole layer";
        return false;
    }
    return true;
}

FillOutcome fillDrawable(FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                         std::string& error) {
    FillOutcome outcome = FillOutcome::failed;
    try {
        outcome = fillOrThrow(target, values, bytes, error);
    } catch (const std::exception& failure) {
        error = reasonOf(failure);
    }
    for (GeglBuffer* buffer :
         {target.sourceChannel, target.visible, target.selection, target.pixels})
        if (buffer != nullptr)
            g_object_unref(buffer);
    target.sourceChannel = target.visible = target.selection = target.pixels = nullptr;
    if (outcome != FillOutcome::gone && !target.present())
        outcome = FillOutcome::gone;
    return outcome;
}

std::string helpFolder() {
    return besideProgram(kHelpFolder).string();
}

std::string reasonOf(const std::exception& failure) {
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return "out of memory";
    return failure.what();
}

bool testHookAt(const char* moment) {
    const char* path = std::getenv(kTestHookVariable);
    if (path == nullptr || *path == '\0')
        return false;
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text != moment)
        return false;
    file.close();
    std::remove(path);
    return true;
}

bool putPixels(GeglBuffer* buffer, const Babl* format, const GeglRectangle& size,
               const std::vector<uint8_t>& bytes, std::string& error) {
    if (buffer == nullptr) {
        error = "GIMP gave no buffer to write the filled pixels into";
        return false;
    }
    gegl_buffer_set(buffer, &size, 0, format, bytes.data(), GEGL_AUTO_ROWSTRIDE);
    gegl_buffer_flush(buffer);
    g_object_unref(buffer); // hands the pixels over to GIMP
    return true;
}

} // namespace mendora::gimp
