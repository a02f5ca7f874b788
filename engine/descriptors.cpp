// Patch descriptors and the source index.
// In: the fill states, the L grid and the corrected source rectangle. Out: the cosine basis,
// the candidate source windows in column-major order, their zig-zag DCT descriptors and an
// ANN kd-tree over them.
#include <ANN/ANN.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "engine/portable_math.h"

#include "engine/fill_internal.h"
#include "engine/workers.h"

namespace mendora {

// Source windows described together down a column: four registers of two.
constexpr int32_t kSourceBatch = 8;

int32_t engineRadius = 4;
int32_t engineWindowSide = 9;
double** descriptorBasis = nullptr;
static int32_t descriptorBasisRows = 0;
std::vector<CandidateRun> candidateRuns;
int32_t sourceCandidateCount = 0;
ANNkd_tree* sourceIndex = nullptr;
// descriptors.cpp's: the descriptor array, in blocks of 2^descriptorBlockBits descriptors
// (whole descriptors of at most descriptorBlockBytes, the last block shorter), and the
// blocks' addresses as the tree takes them.
static std::vector<std::unique_ptr<double[]>> descriptorBlocks;
static std::vector<double*> descriptorBlockList;
static int32_t descriptorBlockBits = 0;
static size_t descriptorBlockBytes = kDescriptorBlockBytes;
static int32_t descriptorLength = 0;

// Where candidate p's descriptor lies.
static double* descriptorRow(int32_t p) {
    const auto at = static_cast<uint32_t>(p);
    return descriptorBlockList[at >> descriptorBlockBits] +
           (at & ((1u << descriptorBlockBits) - 1)) * static_cast<size_t>(descriptorLength);
}

int32_t enginePatchRadius() {
    return engineRadius;
}

void ZigZagCursor::step(int32_t h) {
    if (!started) {
        fx = 0;
        fy = 0;
        started = true;
        atEdge = true;
        secondHalf = false;
        direction = false;
        return;
    }
    if (!secondHalf) {
        if (atEdge) {
            if (direction) {
                fy++;
                direction = false;
            } else {
                fx++;
                direction = true;
            }
            atEdge = false;
        } else if (direction) {
            fx--;
            fy++;
            if (fx == 0)
                atEdge = true;
        } else {
            fx++;
            fy--;
            if (fy == 0)
                atEdge = true;
            if (fx == h - 1)
                secondHalf = true;
        }
        return;
    }
    if (atEdge) {
        if (direction) {
            fx++;
            direction = false;
            if (fx == h - 1 && fy == h - 1)
                started = false;
        } else {
            fy++;
            direction = true;
        }
        atEdge = false;
    } else if (direction) {
        fx--;
        fy++;
        if (fy == h - 1)
            atEdge = true;
    } else {
        fx++;
        fy--;
        if (fx == h - 1)
            atEdge = true;
    }
}

int32_t coefficientCount(int32_t h) {
    return descriptorCoefficients(h);
}

void buildDctBasis() {
    releaseDescriptorStructures();
    const int32_t h = engineWindowSide;
    const int32_t n = h * h; // the caller keeps h * h within 32 bits
    const double pi = 3.141592653589793;
    // Each entry is the product of two one-dimensional cosines, cos((d + 0.5) pi f / h), so
    // the h x h of them are computed once: the same arguments give the same cosines, and each
    // entry is still the one rounded product, but h^4 cosine calls become h^2. The portable
    // cosine: the platforms' own cosines differ in the last bit, which would let the two
    // builds order nearly tied descriptors differently.
    std::vector<double> cosines(static_cast<size_t>(n));
    for (int32_t f = 0; f < h; f++)
        for (int32_t d = 0; d < h; d++)
            cosines[static_cast<size_t>(h * f + d)] = portableCos((d + 0.5) * pi * f / h);
    descriptorBasis = new double*[static_cast<size_t>(n)]();
    descriptorBasisRows = n;
    for (int32_t row = 0; row < n; row++)
        descriptorBasis[row] = new double[static_cast<size_t>(n)];
    for (int32_t fy = 0; fy < h; fy++)
        for (int32_t fx = 0; fx < h; fx++)
            for (int32_t dy = 0; dy < h; dy++)
                for (int32_t dx = 0; dx < h; dx++)
                    descriptorBasis[h * fy + fx][h * dy + dx] =
                        cosines[static_cast<size_t>(h * fy + dy)] *
                        cosines[static_cast<size_t>(h * fx + dx)];
}

// The sampling area (setSamplingArea): null allows every pixel.
static const uint8_t* samplingArea = nullptr;
static int32_t samplingAreaStride = 0;

// Adds `sign` to counts[y] for every pixel of column x that no source window may hold: a
// pixel to fill, or one outside the sampling area.
static void countColumn(int32_t x, int32_t sign, std::vector<int32_t>& counts) {
    const char* states = fillStates[x];
    if (samplingArea == nullptr) {
        for (int32_t y = 0; y < gridHeight; y++)
            counts[static_cast<size_t>(y)] += sign * (states[y] == kToFill);
        return;
    }
    const uint8_t* allowed = samplingArea + x;
    const size_t stride = static_cast<size_t>(samplingAreaStride);
    for (int32_t y = 0; y < gridHeight; y++)
        counts[static_cast<size_t>(y)] +=
            sign * (states[y] == kToFill || allowed[stride * static_cast<size_t>(y)] == 0);
}

void setSamplingArea(const uint8_t* allowed, int32_t rowStride) {
    samplingArea = allowed;
    samplingAreaStride = rowStride;
}

void appendSourceCandidate(int32_t x, int32_t y) {
    if (!candidateRuns.empty()) {
        const CandidateRun& last = candidateRuns.back();
        if (last.x == x && last.y + (sourceCandidateCount - last.first) == y) {
            sourceCandidateCount++;
            return;
        }
    }
    candidateRuns.push_back(CandidateRun{sourceCandidateCount, x, y});
    sourceCandidateCount++;
}

void collectSourceCandidates(const FillParameters& bounds) {
    const int32_t r = engineRadius;
    sourceCandidateCount = 0;
    candidateRuns.clear();
    // Half-open bounds: a window may reach column sourceRight - 1 at most. Whatever the bounds
    // say, a window must also lie inside the grid.
    const int32_t xBegin = bounds.sourceLeft + r, yBegin = bounds.sourceTop + r;
    const int32_t xEnd = std::min<int32_t>(bounds.sourceRight, gridWidth) - r;
    const int32_t yEnd = std::min<int32_t>(bounds.sourceBottom, gridHeight) - r;
    if (xBegin >= xEnd || yBegin >= yEnd)
        return;
    assert(bounds.sourceLeft >= 0 && bounds.sourceTop >= 0);
    assert(samplingArea == nullptr || samplingAreaStride >= gridWidth);
    // A window is usable when it holds no pixel to fill (nor one outside the sampling area).
    // Counts of such pixels slide along x
    // (per row, over the window's columns) and then along y, so each state is read twice
    // instead of h^2 times; the candidates and their order are those of the window by window
    // test, x outer and y inner.
    std::vector<int32_t> rowCounts(static_cast<size_t>(gridHeight), 0);
    for (int32_t x = xBegin - r; x < xBegin + r; x++)
        countColumn(x, 1, rowCounts);
    for (int32_t x = xBegin; x < xEnd; x++) {
        countColumn(x + r, 1, rowCounts);
        if (x > xBegin)
            countColumn(x - r - 1, -1, rowCounts);
        int32_t windowCount = 0;
        for (int32_t y = yBegin - r; y < yBegin + r; y++)
            windowCount += rowCounts[static_cast<size_t>(y)];
        for (int32_t y = yBegin; y < yEnd; y++) {
            windowCount += rowCounts[static_cast<size_t>(y + r)];
            if (y > yBegin)
                windowCount -= rowCounts[static_cast<size_t>(y - r - 1)];
            if (windowCount == 0)
                appendSourceCandidate(x, y);
        }
    }
}

// The basis rows of the first d zig-zag pairs, in descriptor order.
static std::vector<const double*> zigZagRows(int32_t d) {
    const int32_t h = engineWindowSide;
    std::vector<const double*> rows(static_cast<size_t>(d));
    ZigZagCursor cursor;
    for (int32_t i = 0; i < d; i++) {
        cursor.step(h);
        rows[static_cast<size_t>(i)] = descriptorBasis[h * cursor.fy + cursor.fx];
    }
    return rows;
}

// The d coefficients of the full h x h window centred at (x, y), reading L through `value`
// with every coordinate clamped into [xLow, xHigh] x [yLow, yHigh]. Each sum runs over dx
// outer and dy inner.
template <class ReadL>
static void describeClamped(int32_t x, int32_t y, int32_t xLow, int32_t xHigh, int32_t yLow,
                            int32_t yHigh, int32_t d, double* out, const ReadL& value) {
    const int32_t r = engineRadius;
    const int32_t h = engineWindowSide;
    ZigZagCursor cursor; // local: windows are described on several threads at once
    for (int32_t i = 0; i < d; i++) {
        cursor.step(h);
        const double* basis = descriptorBasis[h * cursor.fy + cursor.fx];
        double sum = 0.0;
        for (int32_t dx = 0; dx < h; dx++) {
            const int32_t px = std::min(std::max(x + dx - r, xLow), xHigh);
            for (int32_t dy = 0; dy < h; dy++) {
                const int32_t py = std::min(std::max(y + dy - r, yLow), yHigh);
                sum += static_cast<double>(value(px, py)) * basis[h * dy + dx];
            }
        }
        out[i] = sum;
    }
}

void describeWindow(int32_t x, int32_t y, int32_t d, double* out) {
    // A source window lies inside the grid, where clamping changes nothing.
    assert(x >= engineRadius && x < gridWidth - engineRadius && y >= engineRadius &&
           y < gridHeight - engineRadius);
    describeClamped(x, y, 0, gridWidth - 1, 0, gridHeight - 1, d, out,
                    [](int32_t px, int32_t py) { return lightness(px, py); });
}

void describeSnapshot(const WindowSnapshot& window, int32_t d, double* out) {
    // The full window clamped into the grid is the clipped window with its edges repeated.
    describeClamped(
        window.x0, window.y0, window.xFirst, window.xFirst + window.columns - 1, window.yFirst,
        window.yFirst + window.rows - 1, d, out, [&window](int32_t px, int32_t py) {
            return window
                .l[static_cast<size_t>(px - window.xFirst) * static_cast<size_t>(window.rows) +
                   static_cast<size_t>(py - window.yFirst)];
        });
}

// The lightness of the columns x - r .. x + r over the rows y - r .. y + kSourceBatch - 1 + r
// as doubles (the conversion is exact), column after column, kBatchRows apart: read once for
// the kSourceBatch windows centred at (x, y) .. (x, y + kSourceBatch - 1) instead of once a
// coefficient.
constexpr int32_t kBatchRows = 2 * largestPatchRadius() + kSourceBatch;
using BatchLightness = double[(2 * largestPatchRadius() + 1) * kBatchRows];

static void readBatchLightness(int32_t x, int32_t y, BatchLightness& l) {
    const int32_t r = engineRadius;
    const int32_t h = engineWindowSide;
    for (int32_t dx = 0; dx < h; dx++)
        for (int32_t dy = 0; dy < h + kSourceBatch - 1; dy++)
            l[dx * kBatchRows + dy] = static_cast<double>(lightness(x + dx - r, y + dy - r));
}

// Four doubles, one window each. GCC lowers their arithmetic to whatever vector unit the
// function is compiled for (two SSE2 registers, or one AVX register); each lane is still one
// IEEE multiply or add.
typedef double FourWindows __attribute__((vector_size(4 * sizeof(double))));

// On 64-bit Linux the batch is compiled twice, for AVX and for any x86-64, and the loader picks
// one for the processor: AVX's wider registers describe faster (bench/PERFORMANCE.md).
#if defined(__x86_64__) && defined(__linux__)
#define DESCRIBE_FOR_EACH_VECTOR_UNIT __attribute__((target_clones("avx", "default")))
#else
#define DESCRIBE_FOR_EACH_VECTOR_UNIT
#endif

// Coefficients summed together per batch. On x86-64 five coefficients of two vectors each are
// ten independent chains of adds, enough to keep both adders busy. One coefficient at a time,
// the batch's two chains waited on each add's latency. The 32-bit build has eight vector
// registers, which one coefficient's sums and operands already fill.
#if defined(__x86_64__) || defined(_M_X64)
constexpr int32_t kCoefficientGroup = 5;
#else
constexpr int32_t kCoefficientGroup = 1;
#endif

// Sums coefficients first .. first + G - 1 of the kSourceBatch windows whose lightness is `l`
// into out[w][first ..], through the bases `basis[0 .. G - 1]`; each sum over dx outer and dy
// inner.
template <int32_t G>
__attribute__((always_inline)) static inline void
describeGroup(const double* l, const double* const* basis, double* const* out, int32_t first) {
    const int32_t h = engineWindowSide;
    FourWindows sums[G][kSourceBatch / 4] = {};
    for (int32_t dx = 0; dx < h; dx++)
        for (int32_t dy = 0; dy < h; dy++) {
            // One vector at a time: a single copy of both would be stored in halves and
            // reloaded whole, which the processor cannot forward.
            FourWindows four[kSourceBatch / 4];
            for (int32_t quad = 0; quad < kSourceBatch / 4; quad++)
                std::memcpy(&four[quad], l + dx * kBatchRows + dy + 4 * quad, sizeof four[quad]);
            for (int32_t g = 0; g < G; g++) {
                const double b = basis[g][h * dy + dx];
                const FourWindows bs = {b, b, b, b};
                for (int32_t quad = 0; quad < kSourceBatch / 4; quad++)
                    sums[g][quad] = sums[g][quad] + four[quad] * bs;
            }
        }
    for (int32_t g = 0; g < G; g++)
        for (int32_t w = 0; w < kSourceBatch; w++)
            out[w][first + g] = sums[g][w / 4][w % 4];
}

// Describes the kSourceBatch source windows centred at (x, y) .. (x, y + kSourceBatch - 1)
// at once, four windows a vector, kCoefficientGroup coefficients at a time. Each coefficient
// of each window is still one sum over dx outer and dy inner, every term rounded as in
// describeWindow (the conversion of an int to double is exact, each multiply and add one IEEE
// operation), so the bits are the same.
DESCRIBE_FOR_EACH_VECTOR_UNIT
static void describeSourceBatch(int32_t x, int32_t y, const std::vector<const double*>& rows,
                                double* const* out) {
    static_assert(kSourceBatch % 4 == 0, "whole vectors of windows");
    static_assert(kCoefficientGroup >= 1 && kCoefficientGroup <= 5, "groups describeGroup has");
    BatchLightness l;
    readBatchLightness(x, y, l);
    const int32_t d = static_cast<int32_t>(rows.size());
    for (int32_t i = 0; i < d; i += kCoefficientGroup) {
        const double* const* basis = rows.data() + i;
        switch (std::min(kCoefficientGroup, d - i)) {
        case 5:
            describeGroup<5>(l, basis, out, i);
            break;
        case 4:
            describeGroup<4>(l, basis, out, i);
            break;
        case 3:
            describeGroup<3>(l, basis, out, i);
            break;
        case 2:
            describeGroup<2>(l, basis, out, i);
            break;
        default:
            describeGroup<1>(l, basis, out, i);
            break;
        }
    }
}

// Describes candidates begin .. end - 1 into the descriptor array: runs of kSourceBatch
// windows down one column together, the rest one by one.
static void describeSources(int32_t begin, int32_t end, int32_t d) {
    const std::vector<const double*> rows = zigZagRows(d);
    int32_t p = begin;
    while (p < end) {
        const CandidateRun* run = &candidateRunOf(p);
        const SourceCandidate first{run->x, run->y + (p - run->first)};
        const int32_t runEnd = run + 1 < candidateRuns.data() + candidateRuns.size()
                                   ? run[1].first
                                   : sourceCandidateCount;
        if (p + kSourceBatch <= std::min(end, runEnd)) {
            double* out[kSourceBatch];
            for (int32_t w = 0; w < kSourceBatch; w++)
                out[w] = descriptorRow(p + w);
            describeSourceBatch(first.x, first.y, rows, out);
            p += kSourceBatch;
        } else {
            describeWindow(first.x, first.y, d, descriptorRow(p));
            p++;
        }
    }
}

// Allocates the descriptor array: n descriptors of d doubles in candidate order, in blocks of
// the largest power of two of descriptors that fits descriptorBlockBytes (at least one; at
// d = 10, 2^17 descriptors, 10 MB). No array of pointers: the tree takes the blocks (8 bytes
// a candidate saved at the fill's peak, which comes at the tree's last node). Throws
// std::bad_alloc; what was allocated stays recorded for releaseSourceIndex.
static void allocateDescriptors(int32_t n, int32_t d) {
    const size_t bytesEach = sizeof(double) * static_cast<size_t>(d);
    int32_t bits = 0;
    while (bits < 30 && (bytesEach << (bits + 1)) <= descriptorBlockBytes)
        bits++;
    descriptorBlockBits = bits;
    descriptorLength = d;
    const size_t perBlock = size_t{1} << bits;
    const size_t count = static_cast<size_t>(n);
    const size_t blocks = (count + perBlock - 1) / perBlock;
    descriptorBlocks.reserve(blocks);
    descriptorBlockList.reserve(blocks);
    for (size_t first = 0; first < count; first += perBlock) {
        const size_t points = std::min(perBlock, count - first);
        // reserve() made room, so the block is recorded before anything else can throw.
        descriptorBlocks.emplace_back(new double[points * static_cast<size_t>(d)]);
        descriptorBlockList.push_back(descriptorBlocks.back().get());
    }
}

void limitDescriptorBlocks(size_t bytes) {
    descriptorBlockBytes = bytes == 0 ? kDescriptorBlockBytes : bytes;
}

// Candidates the describing threads take at a time: 2^14 is a millisecond or two of work
// (bench/PERFORMANCE.md), so a thread that the machine slows keeps the others waiting that
// long at most.
constexpr int64_t kDescribeChunk = 1 << 14;

bool buildSourceIndex(int32_t d) {
    releaseSourceIndex();
    assert(sourceCandidateCount > 0);
    allocateDescriptors(sourceCandidateCount, d);
    const int64_t total = sourceCandidateCount;
    observeProgress(FillStage::describing, 0, total);
    // The observer is called on this thread only: between the chunks this thread takes, with
    // the count of every thread's finished candidates (which only grows). Once it asks to
    // stop, the chunks still to be taken are skipped.
    const std::thread::id caller = std::this_thread::get_id();
    const bool observed = fillObserver.progress != nullptr || fillObserver.stopRequested != nullptr;
    std::atomic<int64_t> described{0};
    std::atomic<bool> stop{false};
    runInChunks(total, kDescribeChunk, [&](int64_t begin, int64_t end) {
        if (stop.load(std::memory_order_relaxed))
            return;
        describeSources(static_cast<int32_t>(begin), static_cast<int32_t>(end), d);
        if (!observed)
            return;
        const int64_t done = described += end - begin;
        if (std::this_thread::get_id() != caller)
            return;
        observeProgress(FillStage::describing, done, total);
        if (fillStopRequested())
            stop = true;
    });
    if (stop)
        return false;
    observeProgress(FillStage::describing, total, total);
    if (fillStopRequested())
        return false;
    observeProgress(FillStage::indexing, 0, 1);
    // The compact form of the bucket-size-1, sliding-midpoint tree: the same tree and the same
    // search results in about 17.4 bytes and an index a point, built on the workers. It rearranges
    // the descriptors into its leaf order, so they are not read through the array afterwards.
    sourceIndex = new ANNkd_tree(descriptorBlockList.data(), descriptorBlockBits,
                                 sourceCandidateCount, d, ANN_KD_COMPACT, workerCount());
    observeProgress(FillStage::indexing, 1, 1);
    return !fillStopRequested();
}

void releaseSourceIndex() {
    // The tree refers to the descriptor array, so it goes first.
    delete sourceIndex;
    sourceIndex = nullptr;
    std::vector<double*>().swap(descriptorBlockList);
    std::vector<std::unique_ptr<double[]>>().swap(descriptorBlocks); // its storage too
}

void releaseDescriptorStructures() {
    if (descriptorBasis != nullptr) {
        for (int32_t row = 0; row < descriptorBasisRows; row++)
            delete[] descriptorBasis[row];
        delete[] descriptorBasis;
        descriptorBasis = nullptr;
        descriptorBasisRows = 0;
    }
    std::vector<CandidateRun>().swap(candidateRuns); // its storage too
    sourceCandidateCount = 0;
}

} // namespace mendora
