// Declarations shared by the engine's stages: the run structures (radius, basis, candidates,
// queue, search index) and the stage entry points. Not part of the engine's public entry.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/grids.h"
#include "lib/trel_heap.h"

class ANNkd_tree;

namespace mendora {

// The clipped target window around (x0, y0): each extent is r, or less at a grid edge
// (clipWindow, priority.cpp).
struct WindowExtents {
    int32_t left, right, up, down;
};

// A private copy of the fill states and L values of one clipped window, column by column
// (x outer, y inner): everything its estimate and its target descriptor read. The estimate
// writes into the copy, never into the grids (whose L holds one byte, and known pixels only).
struct WindowSnapshot {
    int32_t x0 = 0, y0 = 0;
    WindowExtents extents{};
    int32_t xFirst = 0, yFirst = 0, columns = 0, rows = 0;
    std::vector<char> states;
    std::vector<int32_t> l;
};

// --- descriptors.cpp: patch descriptors and the source index --------------------------------

extern int32_t engineRadius;     // r: 4 at load, then the last positive radius asked for
extern int32_t engineWindowSide; // h = 2r + 1

// h^2 rows of h^2 doubles: row h*fy + fx, column h*dy + dx.
extern double** descriptorBasis;

struct SourceCandidate {
    int32_t x;
    int32_t y;
};
// The candidates (centres of source windows), numbered 0 .. sourceCandidateCount - 1 in the
// order the index numbers its points, are held as runs: each run the candidates from `first`
// on, centred at (x, y), (x, y + 1), ... down one column, until the next run's first.
// A few runs a column instead of 8 bytes a candidate.
struct CandidateRun {
    int32_t first;
    int32_t x;
    int32_t y;
};
extern std::vector<CandidateRun> candidateRuns;
extern int32_t sourceCandidateCount;

// The run holding candidate `index` (0 <= index < sourceCandidateCount).
inline const CandidateRun& candidateRunOf(int32_t index) {
    size_t low = 0, count = candidateRuns.size();
    // The last run whose first is not above index: runs are in the order of their firsts.
    while (count > 1) {
        const size_t half = count / 2;
        if (candidateRuns[low + half].first <= index)
            low += half;
        count -= half;
    }
    return candidateRuns[low];
}

// The centre of candidate `index`.
inline SourceCandidate sourceCandidate(int32_t index) {
    const CandidateRun& run = candidateRunOf(index);
    return SourceCandidate{run.x, run.y + (index - run.first)};
}

// Appends a candidate: to the last run when it continues it down the column, else as a new
// run. Throws std::bad_alloc.
void appendSourceCandidate(int32_t x, int32_t y);

// The zig-zag cursor over frequency pairs (fx, fy): (0,0) (1,0) (0,1) (0,2) (1,1) (2,0) ...
struct ZigZagCursor {
    bool started = false;
    bool atEdge = false;
    bool secondHalf = false;
    bool direction = false;
    int32_t fx = 0;
    int32_t fy = 0;

    // Clears the started flag only: the next step yields (0, 0).
    void reset() { started = false; }
    // Advances to the next pair of an h x h cycle; after (h-1, h-1) the cycle starts again.
    void step(int32_t h);
};

// Length of every descriptor: the smallest triangular number not below h*h/10 + 1.
int32_t coefficientCount(int32_t h);

// Allocates and fills the cosine basis for the current h. Throws std::bad_alloc.
void buildDctBasis();
// Collects the candidates (as runs) from the fill states and the corrected source
// bounds. Candidate windows lie inside the grid whatever the bounds. Throws std::bad_alloc.
void collectSourceCandidates(const FillParameters& bounds);

// Fills d coefficients for the source window centred at (x, y), which lies inside the grid.
void describeWindow(int32_t x, int32_t y, int32_t d, double* out);
// The target descriptor of a window from its private copy: the full window with every
// coordinate clamped into the clipped window (so into the grid), its edges repeated.
void describeSnapshot(const WindowSnapshot& window, int32_t d, double* out);

// The compact tree over the descriptor array (blocks of whole descriptors, descriptors.cpp's),
// which holds the descriptors in its own order once built; null when absent.
extern ANNkd_tree* sourceIndex;
// Describes every candidate and builds the kd-tree, reporting the describing and indexing
// stages to the observer. Returns false when the observer asked to stop (checked between the
// describing chunks, before the tree and after it); releaseSourceIndex releases what was
// built. Throws std::bad_alloc.
bool buildSourceIndex(int32_t d);
// Destroys the tree, then releases the descriptor array. Safe when absent.
void releaseSourceIndex();
// Test hook: later runs hold the descriptors in blocks of at most `bytes` (at least one
// descriptor each) instead of 16 MB; 0 restores 16 MB. The fill is the same.
void limitDescriptorBlocks(size_t bytes);

// Releases the basis and the candidate list. Safe when absent.
void releaseDescriptorStructures();

// --- priority.cpp: fill priority -------------------------------------------------------------

extern TrelHeap* frontQueue;
// The window around (x0, y0) clipped to the grids.
WindowExtents clipWindow(int32_t x0, int32_t y0);
// Mean confidence over the clipped window `e` around (x0, y0): unknown pixels count in the
// area but add nothing. The priority's confidence term, and the confidence a fill step gives
// the pixels it copies.
double windowConfidence(int32_t x0, int32_t y0, const WindowExtents& e);
// Computes the priority of front pixel (x, y), creating its node on first use, and stores x, y
// and the priority in the node. Returns the node. Throws std::bad_alloc for a first node.
TrelHeapNode* computePriority(int32_t x, int32_t y);

// --- estimate.cpp: least-squares estimate of unknown window pixels ---------------------------

// Copies the window around (x0, y0) from the grids. Throws std::bad_alloc.
void takeSnapshot(int32_t x0, int32_t y0, WindowSnapshot& window);

// Overwrites L at every unknown pixel of the window copy with a membrane over its known L
// values. When `estimates` is given it receives the values written, in window scan order (rows,
// then columns). The grids are not read. Throws std::bad_alloc.
void estimateSnapshot(WindowSnapshot& window, std::vector<int32_t>* estimates = nullptr);

// --- grids.cpp --------------------------------------------------------------------------------

// Turns nonzero mask bytes into pixels to fill and marks the front around them.
void markSelection(const uint8_t* mask, int32_t maskRowStride, PixelRect maskRect);

// --- fill_loop.cpp ----------------------------------------------------------------------------

struct BestSource {
    int32_t x = 0, y = 0;
    double difference = 999999.0;
    int64_t squaredDistance = -1; // -1: no best chosen yet
};

// Re-ranks the `count` candidates `indices` (in the order the search returned them) by the
// CIELAB difference over the known pixels of the window around (x0, y0). Among equal
// differences the source centre nearer to (x0, y0) wins, among equal distances the candidate
// returned first. With count 0 the result has squaredDistance -1.
BestSource rerankCandidates(int32_t x0, int32_t y0, const WindowExtents& e, const int32_t* indices,
                            int32_t count);

// Runs the fill loop over the prepared index, queue and grids, reporting the pixels filled of
// `regionPixels` after every step to the observer. Returns false, with the loop left part way,
// when the observer asked to stop (checked once a step). Throws std::bad_alloc.
bool runFillLoop(int32_t d, int64_t regionPixels);

// --- search_split.cpp: the loop's searches split over threads ---------------------------------

// Starts the crew of threads that search parts of the loop thread's searches of k neighbours
// beside it, when the machine has enough threads and k is large enough; else the searches stay
// whole. Its threads and the one searching ahead are at most workerCount() with the loop's.
// Throws std::bad_alloc (no thread started then).
void startSplitSearches(int32_t k);
// Joins the crew; the loop thread's searches are whole again. Never throws.
void stopSplitSearches();
// Test hook: the least k whose searches are split (negative: the default).
void splitSearchesFromK(int32_t k);

// --- search_ahead.cpp -------------------------------------------------------------------------

// Starts the worker that searches ahead with d coefficients and `searched` neighbours, when
// searching ahead is allowed and there are at least two workers; otherwise every later call
// does nothing (and the loop searches alone).
void startSearchAhead(int32_t d, int32_t searched);
// Stops the worker and joins it; drops every job. Safe when none runs.
void stopSearchAhead();
// Asks for a search for the front pixel (x0, y0), on a copy of its window as the grids hold it
// now. Ignored when a job for it is in hand, and for a window whose estimate would take more
// than a small share of the loop's own (a second large one at the same time would make
// running out of memory depend on the thread count); with too many in hand, the oldest not
// under way goes.
void requestSearchAhead(int32_t x0, int32_t y0);
// Drops the jobs of other pixels whose windows meet the window of (x0, y0): the step about to
// run there writes what they copied.
void dropSearchAhead(int32_t x0, int32_t y0, const WindowExtents& e);
// When a search for (x0, y0) was made with exactly `query`, copies its neighbours into
// `indices` and returns true. Waits for a search of it under way; drops the pixel's job.
bool takeSearchAhead(int32_t x0, int32_t y0, const double* query, int32_t* indices);
// Test hooks: whether later runs may search ahead (true at load); results used in the last
// run; waiting until every job in hand has been searched (a job not yet started is otherwise
// left to the loop, which is then as quick).
void allowSearchAhead(bool allowed);
int64_t searchAheadHits();
void waitForSearchAhead();

// --- engine.cpp: the observer of our own hosts ----------------------------------------------

extern FillObserver fillObserver;

// Hands a stage's progress to the observer, when one listens.
inline void observeProgress(FillStage stage, int64_t done, int64_t total) {
    if (fillObserver.progress != nullptr)
        fillObserver.progress(fillObserver.context, stage, done, total);
}

// True once the observer asked to stop in this run; the observer is asked until it does.
bool fillStopRequested();

// The trace hooks (null when none is installed).
extern FillSetupHook traceSetupHook;
extern FillStepHook traceStepHook;
extern void* traceHookContext;

} // namespace mendora
