// Patch descriptors and the source index.
// In: the fill states, the L grid and the corrected source rectangle. Out: the cosine basis,
// the candidate source windows in column-major order, their zig-zag DCT descriptors and an
// ANN kd-tree over them.
#include <ANN/ANN.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <new>
#include <vector>

#include "engine/portable_math.h"

#include "engine/fill_internal.h"

namespace mendora {

int32_t engineRadius = 4;
int32_t engineWindowSide = 9;
double** descriptorBasis = nullptr;
static int32_t descriptorBasisRows = 0;
SourceCandidate* sourceCandidates = nullptr;
int32_t sourceCandidateCount = 0;
ZigZagCursor descriptorZigZag;
double** sourceDescriptors = nullptr;
ANNkd_tree* sourceIndex = nullptr;

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
    int32_t d = h * h / 10 + 1;
    int32_t s = 0;
    for (int32_t t = 1; t <= h; t++) {
        s += t;
        if (s >= d) {
            d = s;
            break;
        }
    }
    return d;
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

void collectSourceCandidates(const FillParameters& bounds) {
    const int32_t r = engineRadius;
    const int64_t columns = std::max<int64_t>(0, static_cast<int64_t>(gridWidth) - 2 * r);
    const int64_t rows = std::max<int64_t>(0, static_cast<int64_t>(gridHeight) - 2 * r);
    sourceCandidateCount = 0;
    sourceCandidates = new SourceCandidate[static_cast<size_t>(columns * rows)];
    // Half-open bounds: a window may reach column sourceRight - 1 at most. Whatever the bounds
    // say, a window must also lie inside the grid.
    const int32_t xEnd = std::min<int32_t>(bounds.sourceRight, gridWidth) - r;
    const int32_t yEnd = std::min<int32_t>(bounds.sourceBottom, gridHeight) - r;
    for (int32_t x = bounds.sourceLeft + r; x < xEnd; x++)
        for (int32_t y = bounds.sourceTop + r; y < yEnd; y++) {
            bool usable = true;
            for (int32_t i = x - r; usable && i <= x + r; i++)
                for (int32_t j = y - r; j <= y + r; j++)
                    if (fillStates[i][j] == kToFill) {
                        usable = false;
                        break;
                    }
            if (usable)
                sourceCandidates[sourceCandidateCount++] = SourceCandidate{x, y};
        }
}

void describeWindow(int32_t x, int32_t y, WindowVariant variant, int32_t d, double* out) {
    const int32_t r = engineRadius;
    const int32_t h = engineWindowSide;
    descriptorZigZag.reset();
    for (int32_t i = 0; i < d; i++) {
        descriptorZigZag.step(h);
        const double* basis = descriptorBasis[h * descriptorZigZag.fy + descriptorZigZag.fx];
        double sum = 0.0;
        for (int32_t dx = 0; dx < h; dx++) {
            int32_t px = x + dx - r;
            if (variant == WindowVariant::target)
                px = std::min(std::max(px, 0), gridWidth - 1);
            const int32_t* column = labL[px];
            for (int32_t dy = 0; dy < h; dy++) {
                int32_t py = y + dy - r;
                if (variant == WindowVariant::target)
                    py = std::min(std::max(py, 0), gridHeight - 1);
                sum += static_cast<double>(column[py]) * basis[h * dy + dx];
            }
        }
        out[i] = sum;
    }
}

void buildSourceIndex(int32_t d) {
    releaseSourceIndex();
    assert(sourceCandidateCount > 0);
    sourceDescriptors = annAllocPts(sourceCandidateCount, d);
    for (int32_t p = 0; p < sourceCandidateCount; p++)
        describeWindow(sourceCandidates[p].x, sourceCandidates[p].y, WindowVariant::source, d,
                       sourceDescriptors[p]);
    sourceIndex = new ANNkd_tree(sourceDescriptors, sourceCandidateCount, d, 1, ANN_KD_SUGGEST);
}

void releaseSourceIndex() {
    // The tree refers to the descriptor array, so it goes first.
    delete sourceIndex;
    sourceIndex = nullptr;
    if (sourceDescriptors != nullptr) {
        annDeallocPts(sourceDescriptors);
        sourceDescriptors = nullptr;
    }
}

void releaseDescriptorStructures() {
    if (descriptorBasis != nullptr) {
        for (int32_t row = 0; row < descriptorBasisRows; row++)
            delete[] descriptorBasis[row];
        delete[] descriptorBasis;
        descriptorBasis = nullptr;
        descriptorBasisRows = 0;
    }
    delete[] sourceCandidates;
    sourceCandidates = nullptr;
    sourceCandidateCount = 0;
}

} // namespace mendora
