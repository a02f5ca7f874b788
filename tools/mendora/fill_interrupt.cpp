// Ctrl+C during the fill: a flag the module's stop hook reads, and a watch that ends the
// program when the module takes more than a second to stop.
// In: SIGINT. Out: the stop request, or the program's end with status 130.
#include "tools/mendora/fill_interrupt.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "tools/mendora/output_file.h"

namespace mendora::cli {

namespace {

// Longest wait for the module to stop before the program ends itself.
constexpr auto kStopGrace = std::chrono::milliseconds(900);
constexpr auto kWatchInterval = std::chrono::milliseconds(50);

// Written by the signal handler: a lock-free atomic is safe there.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler sets it");

#ifdef _WIN32
using Handler = void (*)(int);
Handler previousHandler = SIG_DFL;
#else
struct sigaction previousAction {};
bool handlerInstalled = false;
#endif

std::mutex watchMutex;
std::condition_variable watchWake;
bool watching = false;
std::thread watchThread;
std::string unwrittenOutput;

extern "C" void askToStop(int) {
    interrupted.store(true);
}

// Ends the program when the fill has not come back within kStopGrace of the interrupt.
void watch() {
    std::unique_lock<std::mutex> lock(watchMutex);
    std::chrono::steady_clock::time_point seen{};
    while (watching) {
        if (interrupted.load()) {
            const auto now = std::chrono::steady_clock::now();
            if (seen == std::chrono::steady_clock::time_point{})
                seen = now;
            if (now - seen >= kStopGrace) {
                std::fprintf(stderr, "\nmendora: interrupted; %s was not written\n",
                             unwrittenOutput.c_str());
                std::fflush(stderr);
                std::_Exit(kExitInterrupted);
            }
        }
        watchWake.wait_for(lock, kWatchInterval);
    }
}

} // namespace

void beginInterruptibleFill(const std::string& output) {
    interrupted.store(false);
    unwrittenOutput = output;
#ifdef _WIN32
    previousHandler = std::signal(SIGINT, askToStop);
#else
    // A SIGINT the caller set to be ignored (nohup, a script's background run) stays ignored.
    handlerInstalled = catchUnlessIgnored(SIGINT, askToStop, &previousAction);
#endif
    const std::lock_guard<std::mutex> lock(watchMutex);
    watching = true;
    try {
        watchThread = std::thread(watch);
    } catch (const std::system_error&) {
        // No thread (out of threads or memory): the module's own stop has to do.
        watching = false;
    }
}

bool fillInterrupted() {
    return interrupted.load();
}

void endInterruptibleFill() {
    {
        const std::lock_guard<std::mutex> lock(watchMutex);
        watching = false;
    }
    watchWake.notify_all();
    if (watchThread.joinable())
        watchThread.join();
#ifdef _WIN32
    std::signal(SIGINT, previousHandler == SIG_ERR ? SIG_DFL : previousHandler);
#else
    if (handlerInstalled)
        sigaction(SIGINT, &previousAction, nullptr);
#endif
}

} // namespace mendora::cli
