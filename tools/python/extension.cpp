// The Python module's extension `mendora._mendora`: the command line's fill (tools/mendora/
// fill_job.h) over NumPy samples or files, with the command line's options and reasons.
// In: samples or file names, the command line's option arguments, a thread count, a progress
// callable. Out: the filled samples or the written file, a summary; failures as Python
// exceptions (ValueError, OSError, MemoryError, PluginError, or what the progress callable or
// a signal's handler raised).
//
// The plug-in module and the stand-in host keep their state in the process, so fills run one
// at a time: a fill waits for the one under way, without the GIL, and fills without it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/host_hooks.h"
#include "tools/mendora/fill_job.h"
#include "tools/mendora/options.h"
#include "tools/standin_host/host_limits.h"

namespace py = pybind11;

namespace mendora::python {

namespace {

using cli::Failure;
using cli::FillReport;
using cli::Options;

// One fill at a time in this process; runWaiters counts the calls waiting for their turn.
std::mutex runLock;
std::atomic<int> runWaiters{0};

PyObject* pluginErrorType = nullptr;

// Raises the Python exception that fits a failed report.
[[noreturn]] void raiseFor(const FillReport& report) {
    switch (report.failure) {
    case Failure::usage:
        throw py::value_error(report.reason);
    case Failure::file:
        PyErr_SetString(PyExc_OSError, report.reason.c_str());
        break;
    case Failure::memory:
        PyErr_SetString(PyExc_MemoryError, report.reason.c_str());
        break;
    default:
        PyErr_SetString(report.pluginResult == errOutOfMemory ? PyExc_MemoryError : pluginErrorType,
                        report.reason.c_str());
        break;
    }
    throw py::error_already_set();
}

// The command line's options from its arguments; ValueError with its reason.
Options optionsFrom(const std::vector<std::string>& arguments) {
    Options options;
    std::string error;
    if (!cli::parseFillOptions(arguments, options, error))
        throw py::value_error(error);
    return options;
}

// MENDORA_THREADS set to a count for one fill (the engine reads it as each stage starts) and
// put back afterwards. Made and undone with the GIL held, so that no Python code changes the
// environment meanwhile; the run lock keeps other fills from reading it.
class ThreadLimit {
  public:
    explicit ThreadLimit(std::optional<int> threads) : set_(threads.has_value()) {
        if (!set_)
            return;
        if (const char* value = std::getenv(kThreadLimitVariable))
            before_ = value;
        setenv(kThreadLimitVariable, std::to_string(*threads).c_str(), 1);
    }
    ~ThreadLimit() {
        if (!set_)
            return;
        if (before_)
            setenv(kThreadLimitVariable, before_->c_str(), 1);
        else
            unsetenv(kThreadLimitVariable);
    }
    ThreadLimit(const ThreadLimit&) = delete;
    ThreadLimit& operator=(const ThreadLimit&) = delete;

  private:
    bool set_;
    std::optional<std::string> before_;
};

// The hooks of a fill for Python: `progress` (None or a callable) called with the fraction
// filled at each of the engine's reports of its filling stage, and a stop at the engine's next
// check when the callable raised or a signal's handler did (Ctrl+C: KeyboardInterrupt). The
// hooks run on the filling thread and take the GIL while they call Python; what was raised is
// kept in `raised` for the caller to raise again once the fill has ended.
struct PythonHooks {
    py::object progress;
    std::optional<py::error_already_set> raised;

    // Runs `call` with the GIL; keeps what it raised. True when nothing was raised so far.
    template <typename Call> bool withPython(Call call) {
        py::gil_scoped_acquire held;
        if (raised)
            return false;
        try {
            call();
        } catch (py::error_already_set& error) {
            raised.emplace(std::move(error));
        }
        return !raised;
    }

    standin::FillHooks hooks() {
        standin::FillHooks made;
        if (!progress.is_none())
            made.progress = [this](int32_t stage, int64_t done, int64_t total) {
                if (stage == MENDORA_STAGE_FILLING)
                    withPython(
                        [&] { progress(static_cast<double>(done) / static_cast<double>(total)); });
            };
        made.stopRequested = [this] {
            return !withPython([] {
                if (PyErr_CheckSignals() != 0)
                    throw py::error_already_set();
            });
        };
        return made;
    }

    // Raises again what a hook raised, if anything.
    void raiseKept() {
        if (raised) {
            py::error_already_set error = std::move(*raised);
            raised.reset();
            throw error;
        }
    }
};

// Runs `work` as this process's one fill: waits for the turn and works without the GIL, with
// `threads` as the thread limit.
template <typename Work> FillReport asTheOneFill(std::optional<int> threads, Work work) {
    std::unique_lock<std::mutex> turn(runLock, std::defer_lock);
    {
        py::gil_scoped_release released;
        runWaiters++;
        turn.lock();
        runWaiters--;
    }
    const ThreadLimit limit(threads);
    py::gil_scoped_release released;
    return work();
}

py::dict summaryOf(const FillReport& report) {
    const FillParameters& p = report.parameters;
    py::dict summary;
    summary["width"] = report.width;
    summary["height"] = report.height;
    summary["filled"] = report.selected;
    summary["seconds"] = report.fillSeconds;
    summary["source"] = py::make_tuple(p.sourceLeft, p.sourceTop, p.sourceRight, p.sourceBottom);
    summary["radius"] = static_cast<int>(p.patchRadius);
    return summary;
}

// fill(image, mask, arguments, threads, progress): `image` a C-contiguous H x W x C buffer (C 3 or
// 4) of uint8 or uint16 in the machine's order, `mask` a C-contiguous H x W buffer of bytes
// (nonzero selected), both checked by the caller. Answers (result bytes, summary).
py::tuple fillSamples(const py::buffer& image, const py::buffer& mask,
                      const std::vector<std::string>& arguments, std::optional<int> threads,
                      const py::object& progress) {
    const Options options = optionsFrom(arguments);
    const py::buffer_info pixels = image.request();
    const py::buffer_info selection = mask.request();
    if (pixels.ndim != 3 || selection.ndim != 2 || pixels.shape[0] != selection.shape[0] ||
        pixels.shape[1] != selection.shape[1] || (pixels.itemsize != 1 && pixels.itemsize != 2) ||
        selection.itemsize != 1)
        throw py::value_error("the image and the mask do not match (checked by mendora.fill)");
    std::string error;
    if (!cli::sidesWithinLimit(pixels.shape[1], pixels.shape[0], error))
        throw py::value_error(error);
    // Before the samples are copied: the copy alone may not fit.
    if (!cli::memoryFits(static_cast<int32_t>(pixels.shape[1]),
                         static_cast<int32_t>(pixels.shape[0]), 0, error)) {
        PyErr_SetString(PyExc_MemoryError, error.c_str());
        throw py::error_already_set();
    }
    cli::DecodedImage decoded;
    decoded.width = static_cast<int32_t>(pixels.shape[1]);
    decoded.height = static_cast<int32_t>(pixels.shape[0]);
    decoded.channels = static_cast<int>(pixels.shape[2]);
    decoded.bits = static_cast<int>(pixels.itemsize) * 8;
    const size_t bytes = static_cast<size_t>(pixels.size) * static_cast<size_t>(pixels.itemsize);
    const auto* from = static_cast<const uint8_t*>(pixels.ptr);
    decoded.samples.assign(from, from + bytes);
    const auto* marks = static_cast<const uint8_t*>(selection.ptr);
    std::vector<uint8_t> selected(marks, marks + selection.size);

    std::vector<uint8_t> samples;
    PythonHooks hooks{progress, {}};
    const standin::FillHooks fillHooks = hooks.hooks();
    const FillReport report = asTheOneFill(threads, [&] {
        return cli::fillSamples(options, std::move(decoded), std::move(selected), samples,
                                fillHooks);
    });
    hooks.raiseKept();
    if (report.failure != Failure::none)
        raiseFor(report);
    return py::make_tuple(py::bytes(reinterpret_cast<const char*>(samples.data()), samples.size()),
                          summaryOf(report));
}

// fill_file(input, mask, output, arguments, threads, progress): as `mendora fill --quiet`; answers
// the summary with the notices the command line would have printed.
py::dict fillFile(const std::string& input, const std::string& mask, const std::string& output,
                  const std::vector<std::string>& arguments, std::optional<int> threads,
                  const py::object& progress) {
    const Options options = optionsFrom(arguments);
    std::vector<std::string> notices;
    PythonHooks hooks{progress, {}};
    const standin::FillHooks fillHooks = hooks.hooks();
    const FillReport report = asTheOneFill(threads, [&] {
        return cli::fillFiles(
            options, input, mask, output, runner::ProgressShown::none,
            [&notices](const std::string& text) { notices.push_back(text); }, fillHooks);
    });
    hooks.raiseKept();
    if (report.failure != Failure::none)
        raiseFor(report);
    py::dict summary = summaryOf(report);
    summary["notices"] = notices;
    return summary;
}

} // namespace

} // namespace mendora::python

PYBIND11_MODULE(_mendora, module) {
    using namespace mendora::python;
    module.doc() = "The fill of the mendora command line; use the package mendora.";
    static py::exception<std::runtime_error> pluginError(module, "PluginError", PyExc_RuntimeError);
    pluginErrorType = pluginError.ptr();
    module.def("fill", &fillSamples, py::arg("image"), py::arg("mask"), py::arg("arguments"),
               py::arg("threads"), py::arg("progress"));
    module.def("fill_file", &fillFile, py::arg("input"), py::arg("mask"), py::arg("output"),
               py::arg("arguments"), py::arg("threads"), py::arg("progress"));
    module.def(
        "check_options", [](const std::vector<std::string>& arguments) { optionsFrom(arguments); },
        py::arg("arguments"));
    module.attr("LARGEST_RADIUS") = mendora::largestPatchRadius();
    module.attr("MAX_IMAGE_SIDE") = mendora::kMaxImageSide;
    module.attr("MAX_THREADS") = mendora::kMaxWorkers;
    // For the tests: hold the turn of every fill, and count the fills waiting for it (a fill
    // that waited with the GIL held would stop the caller of these for ever).
    module.def("_hold_runs", [] { runLock.lock(); });
    module.def("_release_runs", [] { runLock.unlock(); });
    module.def("_waiting_runs", [] { return runWaiters.load(); });
}
