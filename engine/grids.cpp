// Fill-state grids: allocation and release, mask marking, known-pixel initialisation.
// In: the image extent, the selection mask and the input buffer. Out: the per-pixel grids
// (states, confidence, grey, CIELAB, node references) the other stages work on.
#include "engine/grids.h"

#include <climits>
#include <cstddef>
#include <new>

#include "engine/colour.h"
#include "engine/fill_internal.h"
#include "engine/workers.h"

namespace mendora {

int32_t gridWidth = 0;
int32_t gridHeight = 0;
FillStateGrid fillStates = nullptr;
ConfidenceGrid confidences = nullptr;
GreyGrid greys = nullptr;
LabGrid labL = nullptr;
LabGrid labA = nullptr;
LabGrid labB = nullptr;
FrontNodeGrid frontNodes = nullptr;
const uint8_t* inputPixels = nullptr;
uint8_t* outputPixels = nullptr;

bool fillGridsAllocated() {
    return fillStates != nullptr && confidences != nullptr;
}

// Releases the six value grids (everything but the states), columns first, and clears their
// references. Nodes are not touched. `columns` is the number of complete columns.
static void releaseValueGrids(int32_t columns) {
    if (confidences != nullptr) {
        for (int32_t x = 0; x < columns; x++) {
            delete[] confidences[x];
            delete[] labL[x];
            delete[] labA[x];
            delete[] labB[x];
            delete[] greys[x];
            delete[] frontNodes[x];
        }
    }
    delete[] confidences;
    delete[] labL;
    delete[] labA;
    delete[] labB;
    delete[] greys;
    delete[] frontNodes;
    confidences = nullptr;
    labL = labA = labB = greys = nullptr;
    frontNodes = nullptr;
}

static void releaseStateGrid(int32_t columns) {
    if (fillStates == nullptr)
        return;
    for (int32_t x = 0; x < columns; x++)
        delete[] fillStates[x];
    delete[] fillStates;
    fillStates = nullptr;
}

static_assert(kGridBytesPerPixel == sizeof(**fillStates) + sizeof(**confidences) + sizeof(**greys) +
                                        sizeof(**labL) + sizeof(**labA) + sizeof(**labB),
              "kGridBytesPerPixel names every whole-image grid");

bool allocateFillGrids(int32_t newWidth, int32_t newHeight) {
    releaseFillGrids();
    if (newWidth <= 0 || newHeight <= 0)
        return false;
    // The queue holds up to width x height entries in a signed 32-bit count.
    if (static_cast<int64_t>(newWidth) * newHeight > INT32_MAX)
        return false;
    const size_t w = static_cast<size_t>(newWidth);
    const size_t h = static_cast<size_t>(newHeight);

    fillStates = new (std::nothrow) char*[w];
    if (fillStates == nullptr)
        return false;
    for (int32_t x = 0; x < newWidth; x++) {
        fillStates[x] = new (std::nothrow) char[h];
        if (fillStates[x] == nullptr) {
            releaseStateGrid(x);
            return false;
        }
        for (size_t y = 0; y < h; y++)
            fillStates[x][y] = kKnown;
    }

    confidences = new (std::nothrow) double*[w]();
    labL = new (std::nothrow) int32_t*[w]();
    labA = new (std::nothrow) int32_t*[w]();
    labB = new (std::nothrow) int32_t*[w]();
    greys = new (std::nothrow) int32_t*[w]();
    frontNodes = new (std::nothrow) TrelHeapNode**[w]();
    bool ok = confidences && labL && labA && labB && greys && frontNodes;
    // Tables are zero-initialised, so a partly built column set releases cleanly.
    for (int32_t x = 0; ok && x < newWidth; x++) {
        confidences[x] = new (std::nothrow) double[h];
        labL[x] = new (std::nothrow) int32_t[h];
        labA[x] = new (std::nothrow) int32_t[h];
        labB[x] = new (std::nothrow) int32_t[h];
        greys[x] = new (std::nothrow) int32_t[h];
        // Node columns come with their first node (computePriority).
        ok = confidences[x] && labL[x] && labA[x] && labB[x] && greys[x];
    }
    if (!ok) {
        // delete[] of a null column is a no-op, so every column can be released.
        releaseValueGrids(confidences && labL && labA && labB && greys && frontNodes ? newWidth
                                                                                     : 0);
        releaseStateGrid(newWidth);
        return false;
    }
    gridWidth = newWidth;
    gridHeight = newHeight;
    return true;
}

void markSelection(const uint8_t* mask, int32_t maskRowStride, PixelRect maskRect) {
    // A start step that ran on these grids before may have left pixels to fill or front pixels
    // (a run that found no source fills nothing); this run's mask alone decides.
    for (int32_t x = 0; x < gridWidth; x++)
        for (int32_t y = 0; y < gridHeight; y++)
            fillStates[x][y] = kKnown;
    if (mask != nullptr) {
        const int64_t rows = static_cast<int64_t>(maskRect.bottom) - maskRect.top;
        const int64_t columns = static_cast<int64_t>(maskRect.right) - maskRect.left;
        // Mask positions outside the grid are ignored.
        const int64_t lastRow = rows < gridHeight ? rows : gridHeight;
        const int64_t lastColumn = columns < gridWidth ? columns : gridWidth;
        for (int64_t i = 0; i < lastRow; i++) {
            const uint8_t* row = mask + i * static_cast<int64_t>(maskRowStride);
            for (int64_t j = 0; j < lastColumn; j++)
                if (row[j] != 0)
                    fillStates[j][i] = kToFill;
        }
    }
    // The front: every known pixel that touches a pixel to fill in its 3 x 3 neighbourhood.
    for (int32_t x = 0; x < gridWidth; x++)
        for (int32_t y = 0; y < gridHeight; y++) {
            if (fillStates[x][y] != kToFill)
                continue;
            const int32_t x1 = x > 0 ? x - 1 : x, x2 = x < gridWidth - 1 ? x + 1 : x;
            const int32_t y1 = y > 0 ? y - 1 : y, y2 = y < gridHeight - 1 ? y + 1 : y;
            for (int32_t i = x1; i <= x2; i++)
                for (int32_t j = y1; j <= y2; j++)
                    if (fillStates[i][j] == kKnown)
                        fillStates[i][j] = kFront;
        }
}

// Releases the nodes of column x and the column itself (a node left by an earlier start step
// on the same grids is released, not lost).
static void releaseNodeColumn(int32_t x) {
    if (frontNodes[x] == nullptr)
        return;
    for (int32_t y = 0; y < gridHeight; y++)
        delete frontNodes[x][y];
    delete[] frontNodes[x];
    frontNodes[x] = nullptr;
}

void initialiseKnownPixels() {
    // Columns are independent, so they are spread over the workers.
    runInRanges(gridWidth, [](int64_t begin, int64_t end) {
        for (int32_t x = static_cast<int32_t>(begin); x < end; x++) {
            for (int32_t y = 0; y < gridHeight; y++) {
                if (fillStates[x][y] == kToFill) {
                    confidences[x][y] = 0.0;
                } else {
                    confidences[x][y] = 1.0;
                    const PackedColour colour = readPixel(x, y);
                    greys[x][y] = greyLevel(colour);
                    rgbToLab(colour, labL[x][y], labA[x][y], labB[x][y]);
                }
            }
            releaseNodeColumn(x);
        }
    });
}

void releaseFillGrids() {
    releaseStateGrid(gridWidth);
    if (frontNodes != nullptr)
        for (int32_t x = 0; x < gridWidth; x++)
            releaseNodeColumn(x);
    releaseValueGrids(gridWidth);
    releaseRunStructures();
}

} // namespace mendora
