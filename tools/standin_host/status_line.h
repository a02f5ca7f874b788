// What our hosts show of a fill: the module's stages and progress as they come through the
// stand-in host's hooks, the time left from the fill's own rate, a status line on the error
// output while it runs, and plain progress lines for programs that wrap the command line.
#pragma once

#include <cstdint>
#include <string>

namespace mendora::runner {

// A fill as a host knows it at one moment.
struct ProgressSnapshot {
    int32_t stage = 0; // MENDORA_STAGE_* (host/host_hooks.h); 0 before the first report
    int64_t done = 0;
    int64_t total = 0;
    double seconds = 0.0;        // since the fill began (the image was delivered)
    double fillingSeconds = 0.0; // since the filling stage began; 0 before it
};

// The stage's name as a person reads it: "preparing", "describing the candidate windows",
// "building the index", "filling" ("starting" before any report).
std::string stageName(int32_t stage);

// The stage's one-word name in progress lines: preparing, describing, indexing, filling.
std::string stageKey(int32_t stage);

// Whole percent of the stage done, rounded down (100 only when done reaches total).
int32_t percentDone(const ProgressSnapshot& progress);

// Seconds left of the filling stage: its pixels still to fill at the rate it has filled so far
// (pixels filled / seconds of filling; the fill's steps cost about the same from its start to
// its end, bench/PERFORMANCE.md). Negative while unknown: before the filling stage, before its
// first pixel, and in its first second.
double secondsLeft(const ProgressSnapshot& progress);

// The status line's text: "filling 37 % · 12 s · about 21 s left" while filling (without the
// time left while it is unknown), "describing the candidate windows 40 % · 2 s" and
// "building the index · 3 s" during the set-up.
std::string statusText(const ProgressSnapshot& progress);

// One progress line for programs: "progress stage=filling done=D total=T percent=P
// seconds=S left=L" (seconds with one decimal; left only while known).
std::string progressLine(const ProgressSnapshot& progress);

// The progress of the current fill: beginProgress starts its clock (at the image's delivery),
// noteProgress takes each report of the module (on the filling thread, cheap), progressNow
// reads it from any thread. With `lines`, noteProgress also writes a progressLine to the error
// output at each stage's first and last report and at most four a second between.
void beginProgress(bool lines);
void noteProgress(int32_t stage, int64_t done, int64_t total);
ProgressSnapshot progressNow();

// True when the error output is a terminal (a status line only makes sense there).
bool errorOutputIsTerminal();

// Starts rewriting one line of the error output a few times a second with statusText of the
// current fill (or "`what` ... N.N s" while no progress was reported), until stopStatusLine.
// Does nothing while a status line is shown already, and shows none (without failing) when
// its thread cannot start.
void startStatusLine(const std::string& what);

// Stops the status line and erases it. Does nothing when none is shown.
void stopStatusLine();

} // namespace mendora::runner
