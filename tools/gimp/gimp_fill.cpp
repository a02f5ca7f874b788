// The filter run of the GIMP plug-ins: the module driven through the hosts' common runner over
// the drawable's pixels and the selection, GIMP's progress bar pulsing meanwhile.
#include "tools/gimp/gimp_fill.h"

#include <libgimp/gimp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <thread>

#include "tools/gimp/gimp_pixels.h"
#include "tools/standin_host/filter_run.h"

namespace mendora::gimp {

namespace {

// The module is installed beside this program.
constexpr char kModuleName[] = "Zendrel.so";
// The progress bar pulses this often while the module fills (it reports progress only once,
// at the end).
constexpr std::chrono::milliseconds kPulseInterval{100};

// The texts typed into the module's region dialog, as the command line types them: the
// source rectangle (the whole layer for four zeros) and the patch radius.
runner::DialogValues typedValues(const FillValues& values, const runner::RgbImage& pixels) {
    const bool wholeImage = values.sourceLeft == 0 && values.sourceTop == 0 &&
                            values.sourceRight == 0 && values.sourceBottom == 0;
    const int32_t right = wholeImage ? pixels.width : values.sourceRight;
    const int32_t bottom = wholeImage ? pixels.height : values.sourceBottom;
    return runner::DialogValues{std::to_string(values.sourceLeft), std::to_string(values.sourceTop),
                                std::to_string(right), std::to_string(bottom),
                                std::to_string(values.patchRadius)};
}

std::string modulePath() {
    std::error_code failed;
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe", failed).parent_path() / kModuleName;
    if (!failed && std::filesystem::exists(beside, failed))
        return beside.string();
    return runner::pluginModulePath("");
}

// The module's result code in words, with what to change in GIMP when no patch fits.
std::string describeResult(int16_t code) {
    if (code == errBadParameters)
        return runner::resultInWords(code) +
               " (widen the source rectangle, lower the patch radius or select less)";
    return runner::resultInWords(code);
}

// Runs the module over `pixels` on a worker thread while this thread, GIMP's, pulses the
// progress bar. Answers like runner::runFilter.
bool runWithProgress(const runner::RgbImage& pixels, const std::vector<uint8_t>& mask,
                     const runner::DialogValues& typed, runner::FillRun& run, std::string& error) {
    gimp_progress_init("Mendora: filling the selection");
    std::atomic<bool> done{false};
    bool ran = false;
    std::thread worker([&] {
        try {
            ran = runner::runFilter(modulePath(), pixels, mask, typed, false, false, run, error);
        } catch (const std::exception&) {
            error = "out of memory";
        }
        done = true;
    });
    while (!done) {
        gimp_progress_pulse();
        std::this_thread::sleep_for(kPulseInterval);
    }
    worker.join();
    gimp_progress_update(1.0);
    gimp_progress_end();
    return ran;
}

bool fillOrThrow(const FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                 std::string& error) {
    if (target.selectionEmpty) {
        error = "nothing is selected: select the region to fill first";
        return false;
    }
    const GeglRectangle size{0, 0, target.area.width, target.area.height};
    runner::RgbImage pixels;
    if (!readDrawable(target.pixels, target.format, size, pixels, error))
        return false;
    const std::vector<uint8_t> mask = readSelection(target.selection, target.area);
    if (std::find(mask.begin(), mask.end(), 1) == mask.end()) {
        error = "the selection does not touch the layer";
        return false;
    }
    runner::FillRun run;
    if (!runWithProgress(pixels, mask, typedValues(values, pixels), run, error))
        return false;
    if (run.result != resultSuccess) {
        error = "the plug-in reported " + describeResult(run.result);
        return false;
    }
    bytes = filledBytes(target.pixels, target.format, size, run.output, mask);
    return true;
}

} // namespace

bool fillDrawable(const FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                  std::string& error) {
    try {
        return fillOrThrow(target, values, bytes, error);
    } catch (const std::exception&) {
        error = "out of memory";
        return false;
    }
}

void putIntoShadow(GeglBuffer* shadow, const Babl* own, const GeglRectangle& size,
                   const std::vector<uint8_t>& bytes) {
    gegl_buffer_set(shadow, &size, 0, own, bytes.data(), GEGL_AUTO_ROWSTRIDE);
    g_object_unref(shadow); // hands the pixels over to GIMP
}

} // namespace mendora::gimp
