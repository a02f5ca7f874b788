// Fill-state grids: allocation and release, mask marking, known-pixel initialisation.
// In: the image extent, the selection mask and the input buffer. Out: the per-pixel grids
// (states, colour words, and over the front's reach confidences and node references) the other
// stages work on.
#include "engine/grids.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <new>
#include <vector>

#include "engine/colour.h"
#include "engine/fill_internal.h"
#include "engine/workers.h"

namespace mendora {

int32_t gridWidth = 0;
int32_t gridHeight = 0;
FillStateGrid fillStates = nullptr;
LabWordGrid labWords = nullptr;
PixelRect frontReach{0, 0, 0, 0};
double** reachConfidences = nullptr;
TrelHeapNode*** reachNodes = nullptr;
const uint8_t* inputPixels = nullptr;
uint8_t* outputPixels = nullptr;

bool fillGridsAllocated() {
    return fillStates != nullptr && labWords != nullptr;
}

LabWord labWordOf(PackedColour colour) {
    int32_t L = 0, a = 0, b = 0;
    rgbToLab(colour, L, a, b);
    return packLab(L, a, b, greyLevel(colour));
}

// The words of the colours met last on one thread, so that a colour met again is not converted
// again (three cube roots a conversion). Direct-mapped: a colour has one place, which holds
// the colour plus one (0: none yet) above its word, 512 KB a thread, about a core's second-level
// cache; fewer places convert many more colours again (bench/PERFORMANCE.md).
constexpr int kLabCacheBits = 16;
using LabWordCache = std::vector<uint64_t>;

static LabWord cachedLabWord(LabWordCache& cache, PackedColour colour) {
    // Fibonacci hashing of the colour to kLabCacheBits bits.
    uint64_t& entry = cache[(colour * 2654435769u) >> (32 - kLabCacheBits)];
    const uint64_t tag = static_cast<uint64_t>(colour) + 1;
    if (entry >> 32 != tag)
        entry = tag << 32 | labWordOf(colour);
    return static_cast<LabWord>(entry);
}

// Releases the first `columns` columns of a column table (a null column is skipped) and the
// table, and clears the reference.
template <class Cell> static void releaseColumns(Cell**& table, int32_t columns) {
    if (table == nullptr)
        return;
    for (int32_t x = 0; x < columns; x++)
        delete[] table[x];
    delete[] table;
    table = nullptr;
}

static_assert(kGridBytesPerPixel == sizeof(**fillStates) + sizeof(**labWords),
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

    // Tables are zero-initialised, so a partly built column set releases cleanly.
    fillStates = new (std::nothrow) char*[w]();
    labWords = new (std::nothrow) LabWord*[w]();
    bool ok = fillStates != nullptr && labWords != nullptr;
    for (int32_t x = 0; ok && x < newWidth; x++) {
        fillStates[x] = new (std::nothrow) char[h];
        labWords[x] = new (std::nothrow) LabWord[h + kLabColumnPadding];
        ok = fillStates[x] != nullptr && labWords[x] != nullptr;
        if (!ok)
            break;
        for (size_t y = 0; y < h; y++)
            fillStates[x][y] = kKnown;
        for (size_t y = h; y < h + kLabColumnPadding; y++)
            labWords[x][y] = 0;
    }
    if (!ok) {
        // delete[] of a null column is a no-op, so every column can be released.
        releaseColumns(fillStates, newWidth);
        releaseColumns(labWords, newWidth);
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

void releaseFrontReach() {
    const int32_t columns = frontReach.right - frontReach.left;
    const int32_t rows = frontReach.bottom - frontReach.top;
    if (reachNodes != nullptr)
        for (int32_t i = 0; i < columns; i++)
            if (reachNodes[i] != nullptr)
                for (int32_t j = 0; j < rows; j++)
                    delete reachNodes[i][j];
    releaseColumns(reachNodes, columns);
    releaseColumns(reachConfidences, columns);
    frontReach = PixelRect{0, 0, 0, 0};
}

void allocateFrontReach(PixelRect reach) {
    releaseFrontReach();
    reach.left = std::max(reach.left, 0);
    reach.top = std::max(reach.top, 0);
    reach.right = std::min(reach.right, gridWidth);
    reach.bottom = std::min(reach.bottom, gridHeight);
    if (reach.left >= reach.right || reach.top >= reach.bottom)
        return;
    const size_t columns = static_cast<size_t>(reach.right - reach.left);
    const size_t rows = static_cast<size_t>(reach.bottom - reach.top);
    // Recorded first, with zeroed tables, so that a failure part way releases what was made.
    frontReach = reach;
    try {
        reachConfidences = new double*[columns]();
        reachNodes = new TrelHeapNode**[columns]();
        for (size_t i = 0; i < columns; i++) {
            reachConfidences[i] = new double[rows];
            reachNodes[i] = new TrelHeapNode*[rows]();
            const char* states = fillStates[reach.left + static_cast<int32_t>(i)] + reach.top;
            for (size_t j = 0; j < rows; j++)
                reachConfidences[i][j] = states[j] == kToFill ? 0.0 : 1.0;
        }
    } catch (const std::bad_alloc&) {
        releaseFrontReach();
        throw;
    }
}

void initialiseKnownPixels() {
    // Columns are independent, so they are spread over the workers; each also notes the
    // first and last row of its pixels to fill (first > last: none).
    std::vector<int32_t> firstRows(static_cast<size_t>(gridWidth));
    std::vector<int32_t> lastRows(static_cast<size_t>(gridWidth));
    runInRanges(gridWidth, [&](int64_t begin, int64_t end) {
        LabWordCache cache(size_t{1} << kLabCacheBits, 0);
        for (int32_t x = static_cast<int32_t>(begin); x < end; x++) {
            int32_t first = gridHeight, last = -1;
            for (int32_t y = 0; y < gridHeight; y++) {
                if (fillStates[x][y] == kToFill) {
                    labWords[x][y] = 0;
                    first = std::min(first, y);
                    last = y;
                } else {
                    labWords[x][y] = cachedLabWord(cache, readPixel(x, y));
                }
            }
            firstRows[static_cast<size_t>(x)] = first;
            lastRows[static_cast<size_t>(x)] = last;
        }
    });
    PixelRect box{gridHeight, gridWidth, 0, 0};
    for (int32_t x = 0; x < gridWidth; x++)
        if (firstRows[static_cast<size_t>(x)] <= lastRows[static_cast<size_t>(x)]) {
            box.left = std::min(box.left, x);
            box.right = x + 1;
            box.top = std::min(box.top, firstRows[static_cast<size_t>(x)]);
            box.bottom = std::max(box.bottom, lastRows[static_cast<size_t>(x)] + 1);
        }
    if (box.left >= box.right) {
        allocateFrontReach(PixelRect{0, 0, 0, 0});
        return;
    }
    // Front pixels lie within one pixel of a pixel to fill, and the windows around them reach
    // r further: confidences and nodes are read and written nowhere else.
    const int32_t grow = engineRadius + 1;
    allocateFrontReach(
        PixelRect{box.top - grow, box.left - grow, box.bottom + grow, box.right + grow});
}

void releaseFillGrids() {
    releaseRunStructures();
    releaseColumns(fillStates, gridWidth);
    releaseColumns(labWords, gridWidth);
}

} // namespace mendora
