// The status line and the progress of a fill: what the module reports through the stand-in
// host's hooks, kept for a thread that rewrites one line of the error output while the
// caller's thread is busy inside the plug-in.
// In: the module's stage reports. Out: the status line's text, progress lines, the time left.
#include "tools/standin_host/status_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "host/host_hooks.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace mendora::runner {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRefresh = std::chrono::milliseconds(250);
// Progress lines between a stage's first and last come at most this often.
constexpr auto kLineInterval = std::chrono::milliseconds(250);
// The rate of the filling stage's first second is mostly its first steps': no estimate yet.
constexpr double kLeastFillingSeconds = 1.0;

std::mutex statusMutex;
std::condition_variable statusWake;
bool statusRunning = false;
std::thread statusThread;

// The current fill's reports, written on the filling thread and read by the status thread.
std::mutex progressMutex;
Clock::time_point progressStarted;
Clock::time_point fillingStarted;
int32_t progressStage = 0;
int64_t progressDone = 0;
int64_t progressTotal = 0;
bool progressLines = false;
Clock::time_point lastLine;
int64_t lastLineDone = -1;

double secondsSince(Clock::time_point start, Clock::time_point now);

// The fill at `now`; progressMutex held.
ProgressSnapshot snapshot(Clock::time_point now) {
    ProgressSnapshot progress;
    progress.stage = progressStage;
    progress.done = progressDone;
    progress.total = progressTotal;
    // No clock before the first fill began.
    if (progressStarted != Clock::time_point{})
        progress.seconds = secondsSince(progressStarted, now);
    if (progressStage == MENDORA_STAGE_FILLING)
        progress.fillingSeconds = secondsSince(fillingStarted, now);
    return progress;
}

double secondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration<double>(now - start).count();
}

// "12 s", "3 min 05 s", "1 h 02 min".
std::string duration(double seconds) {
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole < 60)
        std::snprintf(text, sizeof text, "%ld s", whole);
    else if (whole < 3600)
        std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole % 3600 / 60);
    return text;
}

// A stage with a count worth showing: describing and filling (the others are 0 of 1, 1 of 1).
bool counted(int32_t stage) {
    return stage == MENDORA_STAGE_DESCRIBING || stage == MENDORA_STAGE_FILLING;
}

// Columns `text` takes: its characters, not its UTF-8 bytes.
size_t columns(const std::string& text) {
    size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// Writes `text` (UTF-8) to the error output: on a Windows console as wide characters, which it
// shows whatever its code page; elsewhere as it is.
void writeError(const std::string& text) {
#ifdef _WIN32
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            length);
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void showStatus(std::string what) {
    const Clock::time_point started = Clock::now();
    // The line is rewritten over itself, blanks covering the end of a longer one before
    // (no terminal control sequences: a Windows console may not take them).
    size_t shown = 0;
    std::unique_lock<std::mutex> lock(statusMutex);
    while (statusRunning) {
        const ProgressSnapshot progress = progressNow();
        std::string text;
        if (progress.stage != 0) {
            text = statusText(progress);
        } else {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " ... %.1f s",
                          secondsSince(started, Clock::now()));
            text = what + seconds;
        }
        const size_t width = columns(text);
        writeError("\r" + text + std::string(shown > width ? shown - width : 0, ' '));
        shown = width;
        statusWake.wait_for(lock, kRefresh);
    }
    writeError("\r" + std::string(shown, ' ') + "\r");
}

} // namespace

std::string stageName(int32_t stage) {
    switch (stage) {
    case MENDORA_STAGE_PREPARING:
        return "preparing";
    case MENDORA_STAGE_DESCRIBING:
        return "describing the candidate windows";
    case MENDORA_STAGE_INDEXING:
        return "building the index";
    case MENDORA_STAGE_FILLING:
        return "filling";
    default:
        return "starting";
    }
}

std::string stageKey(int32_t stage) {
    switch (stage) {
    case MENDORA_STAGE_DESCRIBING:
        return "describing";
    case MENDORA_STAGE_INDEXING:
        return "indexing";
    default:
        return stageName(stage);
    }
}

int32_t percentDone(const ProgressSnapshot& progress) {
    if (progress.total <= 0 || progress.done <= 0)
        return 0;
    if (progress.done >= progress.total)
        return 100;
    return static_cast<int32_t>(progress.done * 100 / progress.total);
}

double secondsLeft(const ProgressSnapshot& progress) {
    if (progress.stage != MENDORA_STAGE_FILLING || progress.done <= 0 ||
        progress.fillingSeconds < kLeastFillingSeconds)
        return -1.0;
    const double rate = static_cast<double>(progress.done) / progress.fillingSeconds;
    return static_cast<double>(progress.total - progress.done) / rate;
}

std::string statusText(const ProgressSnapshot& progress) {
    std::string text = stageName(progress.stage);
    if (counted(progress.stage))
        text += " " + std::to_string(percentDone(progress)) + " %";
    text += " \u00b7 " + duration(progress.seconds);
    const double left = secondsLeft(progress);
    if (left >= 0.0)
        text += " \u00b7 about " + duration(left) + " left";
    return text;
}

std::string progressLine(const ProgressSnapshot& progress) {
    char text[192];
    std::snprintf(text, sizeof text,
                  "progress stage=%s done=%lld total=%lld percent=%d seconds=%.1f",
                  stageKey(progress.stage).c_str(), static_cast<long long>(progress.done),
                  static_cast<long long>(progress.total), percentDone(progress), progress.seconds);
    std::string line = text;
    const double left = secondsLeft(progress);
    if (left >= 0.0) {
        std::snprintf(text, sizeof text, " left=%.1f", left);
        line += text;
    }
    return line;
}

void beginProgress(bool lines) {
    const std::lock_guard<std::mutex> hold(progressMutex);
    progressStarted = Clock::now();
    fillingStarted = Clock::time_point{};
    lastLine = Clock::time_point{};
    lastLineDone = -1;
    progressLines = lines;
    progressStage = 0;
    progressDone = 0;
    progressTotal = 0;
}

void noteProgress(int32_t stage, int64_t done, int64_t total) {
    const std::lock_guard<std::mutex> hold(progressMutex);
    const bool newStage = stage != progressStage;
    // The clock is read only when something may use it: a stage's start, or a line.
    if (newStage && stage == MENDORA_STAGE_FILLING)
        fillingStarted = Clock::now();
    progressStage = stage;
    progressDone = done;
    progressTotal = total;
    if (!progressLines)
        return;
    // A line at each stage's start and end, and a few a second between.
    const Clock::time_point now = Clock::now();
    if (!newStage && done < total && now - lastLine < kLineInterval)
        return;
    // Steps that fill nothing after the last pixel repeat the stage's end: one line for it.
    if (!newStage && done == total && lastLineDone == done)
        return;
    lastLine = now;
    lastLineDone = done;
    std::fprintf(stderr, "%s\n", progressLine(snapshot(now)).c_str());
    std::fflush(stderr);
}

ProgressSnapshot progressNow() {
    const Clock::time_point now = Clock::now();
    const std::lock_guard<std::mutex> hold(progressMutex);
    return snapshot(now);
}

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
