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
bool statusWanted = false;
std::chrono::steady_clock::time_point fillStarted;

int16_t VLMR_CALLBACK deliverAndStartClock() {
    regionDialogClosed();
    fillStarted = std::chrono::steady_clock::now();
    const int16_t answer = hostDelivery();
    if (answer == resultSuccess && statusWanted)
        startStatusLine("filling");
    return answer;
}

bool isEmpty(const Rect32& rect) {
    return rect.bottom <= rect.top || rect.right <= rect.left;
}

bool isEmpty(const Rect16& rect) {
    return rect.bottom <= rect.top || rect.right <= rect.left;
}

// True when the plug-in wants no more data: every requested rectangle is empty, read in the
// coordinate set it chose.
bool exchangeEnded() {
    const HostRecord& record = standin::hostRecord();
    if (record.bigCoordinates != nullptr && record.bigCoordinates->uses32BitCoordinates != 0) {
        const BigCoordinateRecord& big = *record.bigCoordinates;
        return isEmpty(big.inRect32) && isEmpty(big.outRect32) && isEmpty(big.maskRect32);
    }
    return isEmpty(record.inRect) && isEmpty(record.outRect) && isEmpty(record.maskRect);
}

// The calls of a run, in the host's order: parameters, prepare, start, continue until the
// exchange ends, finish. A failing parameters call ends the run; after a failing prepare or
// start only finish follows. Answers the first non-zero result, or 0.
int16_t callRunSteps(double& fillSeconds) {
    int16_t first = resultSuccess;
    auto note = [&first](int16_t code) {
        if (first == resultSuccess)
            first = code;
        return code;
    };
    if (note(standin::callSelector(selectorParameters)) != resultSuccess)
        return first;
    if (note(standin::callSelector(selectorPrepare)) == resultSuccess) {
        fillStarted = {};
        const int16_t started = note(standin::callSelector(selectorStart));
        stopStatusLine();
        if (fillStarted != std::chrono::steady_clock::time_point{}) {
            const std::chrono::duration<double> took =
                std::chrono::steady_clock::now() - fillStarted;
            fillSeconds = took.count();
        }
        for (int32_t calls = 0; started == resultSuccess && calls < standin::kMaxContinueCalls;
             calls++) {
            if (note(standin::callSelector(selectorContinue)) != resultSuccess || exchangeEnded())
                break;
        }
    }
    note(standin::callSelector(selectorFinish));
    return first;
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
               const DialogValues& typed, bool interactive, bool statusLine, FillRun& run,
               std::string& error, const standin::FillHooks& hooks) {
    if (!loadFreshHost(modulePath, error))
        return false;
    standin::hostSettings().fillHooks = hooks;
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
    statusWanted = statusLine;
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
