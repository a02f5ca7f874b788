// One fill as the command line makes it, shared by `mendora fill`, the runs of `mendora batch`
// and the Python module: the checks before anything is decoded, the selection, the plug-in
// run through the hosts' runner and the output, with every refusal as one line.
// In: options, and file names or samples in memory. Out: the written file or the filled
// samples, and a report (what failed and why, or the summary of the fill).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/mendora/images.h"
#include "tools/mendora/options.h"
#include "tools/standin_host/filter_run.h"

namespace mendora::cli {

// What stopped a fill. The command line's exit status follows from it (exitStatus).
enum class Failure {
    none,
    usage,       // a value or name it cannot take, a mask of another size or selecting every pixel
    file,        // a file missing, unreadable, not an image, damaged, or that cannot be written;
                 // a plug-in module that does not load
    memory,      // the image needs more memory than this process can have (refused before decoding)
    plugin,      // the plug-in reported an error (its code in pluginResult; -108: out of memory)
    interrupted, // Ctrl+C stopped the fill (fillFiles with stopOnInterrupt); nothing written
};

struct FillReport {
    Failure failure = Failure::none;
    // The one line naming the file or value and the reason (as `mendora:` prints it).
    std::string reason;
    // The plug-in's result code with Failure::plugin.
    int16_t pluginResult = 0;
    // The pixels the selection marks.
    size_t selected = 0;
    // The fill's seconds and the parameters the plug-in kept.
    double fillSeconds = 0.0;
    int32_t width = 0;
    int32_t height = 0;
    FillParameters parameters{};
    // Seconds of --match-tone's work after the fill; negative when the tone was not matched.
    double toneSeconds = -1.0;
};

// Receives a notice while the fill goes on (what was converted, what the output cannot keep).
using NoticeSink = std::function<void(const std::string&)>;

// 0 done, 1 the plug-in reported an error, 130 interrupted (kExitInterrupted), 2 any other
// failure.
int exitStatus(Failure failure);

// The summary line of a done fill: size, pixels filled, seconds and kept parameters.
std::string summaryLine(const FillReport& report);

// Checks that the least memory a fill of `width` x `height` takes (kLeastFillBytesPerPixel a
// pixel, and `descriptorBytes` for its source windows' descriptors when they are known)
// fits this process (memoryCeiling). Returns false with the reason ("W x H needs at least N MB
// to fill, more than the M MB this process can have") in `error`.
bool memoryFits(int32_t width, int32_t height, uint64_t descriptorBytes, std::string& error);

// Reads `input` and `mask` (or makes options.region's selection), runs the plug-in over them
// and writes `output` whole or not at all, as `mendora fill` does. Notices go to `notice`
// unless options.quiet. The fill's progress is shown as `shown` says. Never throws but
// std::bad_alloc (the program's own buffers).
// `hooks` learn the fill's progress and may stop it (a stopped fill fails as the plug-in's
// canceled, -128, with nothing written). With `stopOnInterrupt`, Ctrl+C during the fill stops
// it (fill_interrupt.h; Failure::interrupted).
FillReport fillFiles(const Options& options, const std::string& input, const std::string& mask,
                     const std::string& output, runner::ProgressShown shown,
                     const NoticeSink& notice, const standin::FillHooks& hooks = {},
                     bool stopOnInterrupt = false);

// Fills `image` (as decoded from a file: 3 or 4 channels of 8 or 16 bits, in the machine's
// byte order) where `selected` (one byte a pixel, nonzero selected) marks, with the fill
// options of `options` (radius, source, context, band, source mask, tone, module; no region).
// On success `samples` holds the result as `mendora fill` writes it into a PNG: the image's
// channels and bits, its alpha and every unselected pixel's samples kept exactly, the selected
// pixels' colours the fill's (times 257 for 16 bits). On failure `samples` is left empty.
// `hooks` as for fillFiles. Never throws but std::bad_alloc.
FillReport fillSamples(const Options& options, DecodedImage image, std::vector<uint8_t> selected,
                       std::vector<uint8_t>& samples, const standin::FillHooks& hooks = {});

} // namespace mendora::cli
