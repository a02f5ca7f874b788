// Fill loop.
// In: the marked grids, the candidate list and its kd-tree. Out: every pixel to fill copied
// from the best of the k nearest source windows, in priority order, into the output buffer.
#include <ANN/ANN.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/colour.h"
#include "engine/fill_internal.h"

namespace mendora {

FillSetupHook setupHook = nullptr;
FillStepHook stepHook = nullptr;
void* hookContext = nullptr;

void setFillTraceHooks(FillSetupHook setup, FillStepHook step, void* context) {
    setupHook = setup;
    stepHook = step;
    hookContext = context;
}

namespace {

// The clipped target window around (x0, y0): each extent is r, or less at a grid edge.
struct Extents {
    int32_t left, right, up, down;
};

Extents clipWindow(int32_t x0, int32_t y0) {
    const int32_t r = patchRadius;
    return Extents{x0 < r ? x0 : r, x0 > width - r - 1 ? width - 1 - x0 : r, y0 < r ? y0 : r,
                   y0 > height - r - 1 ? height - 1 - y0 : r};
}

// The search objects of one run, released on every way out of the loop.
struct SearchObjects {
    ANNpoint query = nullptr;
    std::unique_ptr<ANNidx[]> indices;
    std::unique_ptr<ANNdist[]> distances;
    ~SearchObjects() {
        if (query != nullptr)
            annDeallocPt(query);
    }
};

struct BestSource {
    int32_t x = 0, y = 0;
    double difference = 999999.0;
    int32_t squaredDistance = -1; // -1: no best chosen yet
};

// Sum of squared CIELAB differences over the known pixels of the target window, against the
// source window centred at (cx, cy). Integer differences, each squared in double.
double windowDifference(int32_t x0, int32_t y0, const Extents& e, int32_t cx, int32_t cy) {
    double difference = 0.0;
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++) {
        const int32_t sx = x - x0 + cx;
        const char* states = fillStates[x];
        const int32_t *tL = labL[x], *ta = labA[x], *tb = labB[x];
        const int32_t *sL = labL[sx], *sa = labA[sx], *sb = labB[sx];
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
            if (states[y] == kToFill)
                continue;
            const int32_t sy = y - y0 + cy;
            const double dL = tL[y] - sL[sy];
            const double da = ta[y] - sa[sy];
            const double db = tb[y] - sb[sy];
            difference += dL * dL + da * da + db * db;
        }
    }
    return difference;
}

} // namespace

void runFillLoop(int32_t d) {
    const int32_t r = patchRadius;
    // k grows with the image, one neighbour per thousand pixels and at least 10, but never
    // beyond the number of candidates: the search cannot return more points than it holds.
    int32_t k = static_cast<int32_t>(static_cast<int64_t>(width) * height / 1000);
    if (k < 10)
        k = 10;
    const int32_t searched = std::min(k, candidateCount);

    SearchObjects search;
    search.query = annAllocPt(d, 0.0);
    search.indices.reset(new ANNidx[static_cast<size_t>(searched)]);
    search.distances.reset(new ANNdist[static_cast<size_t>(searched)]);

    delete frontQueue;
    frontQueue = nullptr;
    frontQueue = new TrelHeap(width * height, false);
    int32_t initialFront = 0;
    for (int32_t x = 0; x < width; x++)
        for (int32_t y = 0; y < height; y++)
            if (fillStates[x][y] == kFront) {
                frontQueue->insert(computePriority(x, y));
                initialFront++;
            }

    if (setupHook != nullptr) {
        // The corrected bounds are not known here; the entry fills them in before the call.
        FillSetupTrace setup{r, d, k, candidateCount, initialFront, PixelRect{0, 0, 0, 0}};
        setupHook(setup, hookContext);
    }

    std::vector<int32_t> estimates;
    int32_t step = 0;
    while (!frontQueue->isEmpty()) {
        TrelHeapNode* node = frontQueue->popHighest();
        const int32_t x0 = node->x, y0 = node->y;
        const double priority = node->priority;
        const Extents e = clipWindow(x0, y0);

        double confidenceSum = 0.0;
        for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
            for (int32_t y = y0 - e.up; y <= y0 + e.down; y++)
                if (fillStates[x][y] != kToFill)
                    confidenceSum += confidences[x][y];
        const double windowConfidence =
            confidenceSum / ((e.left + e.right + 1) * (e.up + e.down + 1));

        estimates.clear();
        estimateWindow(x0, y0, e.left, e.right, e.up, e.down,
                       stepHook != nullptr ? &estimates : nullptr);
        describeWindow(x0, y0, WindowVariant::target, d, search.query);
        sourceIndex->annkSearch(search.query, searched, search.indices.get(),
                                search.distances.get(), 0.0);

        // Re-rank by the full CIELAB difference; among equal differences the source nearer to
        // the target wins, and among equal distances the one the search returned first.
        BestSource best;
        for (int32_t i = 0; i < searched; i++) {
            const SourceCandidate& c = sourceCandidates[search.indices[i]];
            const double difference = windowDifference(x0, y0, e, c.x, c.y);
            const int32_t distance = (c.x - x0) * (c.x - x0) + (c.y - y0) * (c.y - y0);
            if (difference < best.difference || best.squaredDistance == -1) {
                best = BestSource{c.x, c.y, difference, distance};
            } else if (difference == best.difference && distance < best.squaredDistance) {
                best.x = c.x;
                best.y = c.y;
                best.squaredDistance = distance;
            }
        }
        // searched >= 1 here (the entry does not run the loop without candidates), so a best
        // source always exists.

        // Copy the missing pixels; front pixels inside the window stop being front pixels.
        int32_t copied = 0;
        fillStates[x0][y0] = kKnown;
        for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
            for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
                char& state = fillStates[x][y];
                if (state == kToFill) {
                    const PackedColour colour = readPixel(x - x0 + best.x, y - y0 + best.y);
                    writePixel(x, y, colour);
                    state = kKnown;
                    confidences[x][y] = windowConfidence;
                    rgbToLab(colour, labL[x][y], labA[x][y], labB[x][y]);
                    greys[x][y] = greyLevel(colour);
                    copied++;
                } else if (state == kFront) {
                    state = kKnown;
                    frontQueue->remove(frontNodes[x][y]);
                }
            }

        // Priorities change only within r of the window.
        const int32_t rx0 = std::max(x0 - e.left - r, 0);
        const int32_t rx1 = std::min(x0 + e.right + r, width - 1);
        const int32_t ry0 = std::max(y0 - e.up - r, 0);
        const int32_t ry1 = std::min(y0 + e.down + r, height - 1);
        for (int32_t x = rx0; x <= rx1; x++)
            for (int32_t y = ry0; y <= ry1; y++)
                if (fillStates[x][y] == kFront)
                    frontQueue->reposition(computePriority(x, y));

        // The window is all known now, so only its border ring can touch pixels to fill.
        for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
            for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
                const bool ring =
                    x == x0 - e.left || x == x0 + e.right || y == y0 - e.up || y == y0 + e.down;
                if (!ring)
                    continue;
                const int32_t nx0 = x > 0 ? x - 1 : x, nx1 = x < width - 1 ? x + 1 : x;
                const int32_t ny0 = y > 0 ? y - 1 : y, ny1 = y < height - 1 ? y + 1 : y;
                bool touches = false;
                for (int32_t i = nx0; i <= nx1 && !touches; i++)
                    for (int32_t j = ny0; j <= ny1; j++)
                        if (fillStates[i][j] == kToFill) {
                            touches = true;
                            break;
                        }
                if (touches) {
                    fillStates[x][y] = kFront;
                    frontQueue->insert(computePriority(x, y));
                }
            }

        if (stepHook != nullptr) {
            FillStepTrace trace{step,
                                x0,
                                y0,
                                priority,
                                e.left,
                                e.right,
                                e.up,
                                e.down,
                                windowConfidence,
                                static_cast<int32_t>(estimates.size()),
                                estimates.data(),
                                d,
                                search.query,
                                searched,
                                search.indices.get(),
                                best.x,
                                best.y,
                                best.difference,
                                best.squaredDistance,
                                copied};
            stepHook(trace, hookContext);
        }
        step++;
    }
}

} // namespace mendora
