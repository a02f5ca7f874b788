// The status line: a thread that rewrites one line of the error output while the caller's
// thread is busy inside the plug-in.
// In: what runs. Out: the elapsed time on the error output.
#include "tools/standin_host/status_line.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mendora::runner {

namespace {

constexpr auto kRefresh = std::chrono::milliseconds(100);

std::mutex statusMutex;
std::condition_variable statusWake;
bool statusRunning = false;
std::thread statusThread;

void showStatus(std::string what) {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(statusMutex);
    while (statusRunning) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        std::fprintf(stderr, "\r%s ... %.1f s", what.c_str(), elapsed.count());
        std::fflush(stderr);
        statusWake.wait_for(lock, kRefresh);
    }
    // Erase the line: carriage return, then clear to its end.
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
}

} // namespace

bool errorOutputIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void startStatusLine(const std::string& what) {
    std::lock_guard<std::mutex> lock(statusMutex);
    if (statusRunning)
        return;
    // Marked running before the thread starts, which waits for this lock and then reads it.
    statusRunning = true;
    try {
        statusThread = std::thread(showStatus, what);
    } catch (const std::system_error&) {
        // No thread (out of threads or memory): the work goes on without a status line.
        statusRunning = false;
    }
}

void stopStatusLine() {
    {
        std::lock_guard<std::mutex> lock(statusMutex);
        if (!statusRunning)
            return;
        statusRunning = false;
    }
    statusWake.notify_all();
    if (statusThread.joinable())
        statusThread.join();
}

} // namespace mendora::runner
