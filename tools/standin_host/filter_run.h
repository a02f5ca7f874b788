// The hosts' common runner: the plug-in module driven as the image editor drives it, a
// filter run over one image with a selection, and the about box. The command line and the GIMP
// filters are hosts through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "params/fill_parameters.h"
#include "tools/standin_host/dialog_answer.h"
#include "tools/standin_host/rgb_image.h"
#include "tools/standin_host/standin_host.h"

namespace mendora::runner {

// The module this program loads: `chosen` when given, else the MENDORA_MODULE environment
// variable when set, else the module built together with this program.
std::string pluginModulePath(const std::string& chosen);

struct FillRun {
    // The first non-zero result code of the run's calls, or 0.
    int16_t result = 0;
    // The output image: the input with the selection filled (valid when result is 0).
    RgbImage output;
    // The parameter block the host kept after the run (corrected by the plug-in).
    FillParameters parameters{};
    // Seconds from the image delivery to the end of the fill (the dialog not counted).
    double fillSeconds = 0.0;
};

// How a filter run shows the fill's progress on the error output.
enum class ProgressShown {
    none,
    // One status line rewritten in place (for a terminal): statusText.
    statusLine,
    // Plain lines for programs: progressLine at each stage's start and end, a few a second.
    lines,
};

// One whole filter run: loads the module at `modulePath`, gives the host `image` with the
// selection `mask` (one byte per pixel, nonzero selected; a caller done with them moves them
// in, so that no second copy lives through the fill), prepares the region dialog's
// answer (`typed`, `interactive`), calls parameters, prepare, start, continue and finish,
// and unloads the module. While the fill runs its progress is shown as `shown` says, and
// `hooks` learn it and may stop the fill (standin::FillHooks; a stopped fill ends with
// errCanceled). Returns false with a one-line message in `error` when the run cannot be made
// (the module does not load, no terminal for the dialog); the plug-in's own result codes are
// reported in `run.result` instead.
bool runFilter(const std::string& modulePath, RgbImage image, std::vector<uint8_t> mask,
               const DialogValues& typed, bool interactive, ProgressShown shown, FillRun& run,
               std::string& error, const standin::FillHooks& hooks = {});

// The number a test hook's environment variable `name` holds (a fill step counted from 1, a
// signal): every test hook of our hosts reads its value here. 0 (never) when it is unset or
// not a whole number from 1.
long testHookNumber(const char* name);

// A result code of the plug-in in words: "out of memory (-108)", "canceled (-128)", "bad
// parameters (-30100): no source patch fits the source rectangle outside the region", or
// "error N" for any other code.
std::string resultInWords(int16_t code);

// Shows the about box of the module at `modulePath` and answers the web addresses the
// plug-in handed to the host meanwhile. Returns false with a message in `error` when the
// module does not load.
bool runAbout(const std::string& modulePath, std::vector<std::string>& addresses,
              std::string& error);

} // namespace mendora::runner
