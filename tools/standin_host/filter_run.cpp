// The hosts' common runner: a filter run and the about box through the stand-in host.
// In: the module path, the image, the selection and the dialog's answer. Out: the filled
// image, the kept parameters and the plug-in's result code.
#include "tools/standin_host/filter_run.h"

#include <chrono>
#include <cstdlib>
#include <utility>

#include "tools/standin_host/standin_host.h"
#include "tools/standin_host/status_line.h"

namespace mendora::runner {

namespace {

// The stand-in host's own delivery, called by ours, which first starts the fill clock: the
// plug-in asks for the image only after its region dialog was confirmed.
DeliverBuffersProc hostDelivery = nullptr;
ProgressShown progressShown = ProgressShown::none;
std::chrono::steady_clock::time_point fillStarted;

int16_t VLMR_CALLBACK deliverAndStartClock() {
    regionDialogClosed();
    fillStarted = std::chrono::steady_clock::now();
    beginProgress(progressShown == ProgressShown::lines);
    const int16_t answer = hostDelivery();
    if (answer == resultSuccess && progressShown == ProgressShown::statusLine)
        startStatusLine("filling");
    return answer;
}

// The host's run sequence (standin::runSteps, with parameters) on the record begun; once the
// start step returns, the status line stops and `fillSeconds` gets the time since the plug-in
// asked for the image, when it did. Answers the first non-zero result, or 0.
int16_t callRunSteps(double& fillSeconds) {
    fillStarted = {};
    const auto startReturned = [&fillSeconds] {
        stopStatusLine();
        if (fillStarted != std::chrono::steady_clock::time_point{}) {
            const std::chrono::duration<double> took =
                std::chrono::steady_clock::now() - fillStarted;
            fillSeconds = took.count();
        }
    };
    return standin::runSteps(true, startReturned).result;
}

// Loads the module at `modulePath` into a host reset to its defaults. Returns false with the
// reason in `error` when it does not load.
bool loadFreshHost(const std::string& modulePath, std::string& error) {
    std::string loadError;
    if (!standin::loadPlugin(modulePath, loadError)) {
        error = "cannot load the plug-in module: " + loadError;
        return false;
    }
    standin::resetHost();
    return true;
}

} // namespace

std::string pluginModulePath(const std::string& chosen) {
    if (!chosen.empty())
        return chosen;
    const char* fromEnvironment = std::getenv("MENDORA_MODULE");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0')
        return fromEnvironment;
    return MENDORA_DEFAULT_MODULE;
}

bool runFilter(const std::string& modulePath, RgbImage image, std::vector<uint8_t> mask,
               const DialogValues& typed, bool interactive, ProgressShown shown, FillRun& run,
               std::string& error, const standin::FillHooks& hooks) {
    if (!loadFreshHost(modulePath, error))
        return false;
    // The shown progress comes through the hooks too, before the caller's own; a run that
    // shows nothing and has no hooks offers none (the module runs unobserved).
    standin::hostSettings().fillHooks = hooks;
    if (shown != ProgressShown::none)
        standin::hostSettings().fillHooks.progress =
            [progress = hooks.progress](int32_t stage, int64_t done, int64_t total) {
                noteProgress(stage, done, total);
                if (progress)
                    progress(stage, done, total);
            };
    standin::hostSettings().deliverInPlace = true;
    // The plug-in writes only pixels it fills and reads only pixels it never fills, so its
    // output can be the image itself.
    standin::hostSettings().outputInPlace = true;
    standin::setImage(standin::HostImage{image.width, image.height, std::move(image.pixels)});
    standin::setSelection(std::move(mask));

    error.clear();
    const VlmrParentWindow parent = prepareRegionDialogAnswer(typed, interactive, error);
    if (!error.empty()) {
        endRegionDialogAnswer();
        standin::unloadPlugin();
        return false;
    }
    standin::hostSettings().parentWindow = parent;

    standin::beginRun();
    hostDelivery = standin::hostRecord().deliverBuffers;
    standin::hostRecord().deliverBuffers = deliverAndStartClock;
    progressShown = shown;
    run = FillRun{};
    run.result = callRunSteps(run.fillSeconds);
    endRegionDialogAnswer();

    const standin::HostImage& input = standin::hostImage();
    run.output.width = input.width;
    run.output.height = input.height;
    run.output.pixels = standin::outputBuffer();
    // A run that asked for no image (nothing to do, or a failure) leaves the image as it was.
    if (run.output.pixels.size() != input.pixels.size())
        run.output.pixels = input.pixels;
    standin::readParameterBlock(run.parameters);
    standin::unloadPlugin();
    return true;
}

long testHookNumber(const char* name) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
        return 0;
    char* end = nullptr;
    const long step = std::strtol(text, &end, 10);
    return *end == '\0' && step >= 1 ? step : 0;
}

std::string resultInWords(int16_t code) {
    switch (code) {
    case errOutOfMemory:
        return "out of memory (-108)";
    case errCanceled:
        return "canceled (-128)";
    case errBadParameters:
        return "bad parameters (-30100): no source patch fits the source rectangle outside the "
               "region";
    default:
        return "error " + std::to_string(code);
    }
}

bool runAbout(const std::string& modulePath, std::vector<std::string>& addresses,
              std::string& error) {
    if (!loadFreshHost(modulePath, error))
        return false;
    standin::hostSettings().parentWindow = aboutBoxParent();
    standin::beginRun();
    standin::callAbout();
    addresses.clear();
    for (const standin::HostCall& call : standin::hostCalls())
        if (call.kind == standin::HostCallKind::browseUrl)
            addresses.push_back(call.text);
    // Unloading lets the plug-in give back the suite it acquired for the addresses.
    standin::unloadPlugin();
    return true;
}

} // namespace mendora::runner
