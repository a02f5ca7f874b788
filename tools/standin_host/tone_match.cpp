// Tone matching at the seams: the membrane over each filled region whose boundary values are
// the mismatches along its rim, added to the fill.
// In: the filled image's samples and the filled region. Out: the region's colour samples
// corrected in place.
#include "tools/standin_host/tone_match.h"

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <new>
#include <numeric>
#include <vector>

namespace mendora::tone {

namespace {

// A part of the region with more pixels than this is solved by conjugate gradients, whose
// memory is a few numbers a pixel; a smaller one by a sparse Cholesky factorisation, once for
// every channel, whose factor grows faster than the pixels (about n log n on a grid).
constexpr int64_t kDirectSolveLimit = 1 << 20;
int64_t directSolveLimit = kDirectSolveLimit;
// Conjugate gradients stop when the residual is this small relative to the right-hand side:
// the correction is then far within the half step that rounding to the samples allows.
constexpr double kIterativeTolerance = 1e-9;

// A run of region pixels along one row: columns x0 .. x1 - 1 of row y, maximal (the pixels
// left of x0 and at x1 are not region pixels, or beyond the border).
struct Run {
    int32_t y;
    int32_t x0;
    int32_t x1;
};

// The region as runs, row after row, each row's runs from left to right.
struct RegionRuns {
    std::vector<Run> runs;
    int32_t top = 0;
    // Runs of row top + i are runs[rowFirst[i]] .. runs[rowFirst[i + 1] - 1].
    std::vector<size_t> rowFirst;

    // The run of row y holding column x, or -1.
    int64_t find(int32_t y, int32_t x) const {
        if (y < top || y >= top + static_cast<int32_t>(rowFirst.size()) - 1)
            return -1;
        const size_t row = static_cast<size_t>(y - top);
        const auto begin = runs.begin() + static_cast<ptrdiff_t>(rowFirst[row]);
        const auto end = runs.begin() + static_cast<ptrdiff_t>(rowFirst[row + 1]);
        // The last run starting at or left of x.
        auto after =
            std::upper_bound(begin, end, x, [](int32_t v, const Run& r) { return v < r.x0; });
        if (after == begin)
            return -1;
        --after;
        return x < after->x1 ? after - runs.begin() : -1;
    }
};

RegionRuns findRuns(const uint8_t* region, size_t stride, int32_t width, int32_t height) {
    RegionRuns found;
    int32_t last = -1;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* row = region + stride * static_cast<size_t>(y);
        for (int32_t x = 0; x < width;) {
            if (row[x] == 0) {
                x++;
                continue;
            }
            const int32_t x0 = x;
            while (x < width && row[x] != 0)
                x++;
            if (found.runs.empty())
                found.top = y;
            // Rows without runs between this one and the last one with runs.
            for (; last < y; last++)
                found.rowFirst.push_back(found.runs.size());
            found.runs.push_back(Run{y, x0, x});
        }
    }
    if (!found.runs.empty())
        found.rowFirst.push_back(found.runs.size());
    // rowFirst was pushed for rows 0 .. last: keep rows top .. last and the end.
    if (!found.runs.empty())
        found.rowFirst.erase(found.rowFirst.begin(), found.rowFirst.begin() + found.top);
    return found;
}

// Union-find over the runs: two runs in neighbouring rows that share a column are one part.
struct Parts {
    std::vector<size_t> parent;
    size_t root(size_t i) {
        while (parent[i] != i) {
            parent[i] = parent[parent[i]];
            i = parent[i];
        }
        return i;
    }
    void join(size_t a, size_t b) {
        a = root(a);
        b = root(b);
        if (a != b)
            parent[std::max(a, b)] = std::min(a, b);
    }
};

// The runs of each part, in row order: every part's list starts with its root run.
std::vector<std::vector<size_t>> groupParts(const RegionRuns& region) {
    Parts parts;
    parts.parent.resize(region.runs.size());
    std::iota(parts.parent.begin(), parts.parent.end(), size_t{0});
    const size_t rows = region.rowFirst.size() - 1;
    for (size_t row = 0; row + 1 < rows; row++) {
        // Two pointers over two sorted rows of runs: join each overlapping pair.
        size_t a = region.rowFirst[row], b = region.rowFirst[row + 1];
        const size_t aEnd = region.rowFirst[row + 1], bEnd = region.rowFirst[row + 2];
        while (a < aEnd && b < bEnd) {
            const Run& upper = region.runs[a];
            const Run& lower = region.runs[b];
            if (upper.x0 < lower.x1 && lower.x0 < upper.x1)
                parts.join(a, b);
            if (upper.x1 < lower.x1)
                a++;
            else
                b++;
        }
    }
    std::vector<std::vector<size_t>> grouped;
    std::vector<size_t> partOfRoot(region.runs.size(), SIZE_MAX);
    for (size_t i = 0; i < region.runs.size(); i++) {
        const size_t root = parts.root(i);
        if (partOfRoot[root] == SIZE_MAX) {
            partOfRoot[root] = grouped.size();
            grouped.emplace_back();
        }
        grouped[partOfRoot[root]].push_back(i);
    }
    return grouped;
}

template <class Sample> struct Image {
    Sample* samples;
    SampleLayout layout;
    const uint8_t* picture; // nonzero for a pixel that is picture (none: every pixel is)
    size_t pictureRowStride;
    Sample* at(int32_t x, int32_t y) const {
        return samples + layout.rowStep * static_cast<size_t>(y) +
               static_cast<size_t>(x) * static_cast<size_t>(layout.pixelStep);
    }
    bool contains(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < layout.width && y < layout.height;
    }
    bool isPicture(int32_t x, int32_t y) const {
        return picture == nullptr ||
               picture[pictureRowStride * static_cast<size_t>(y) + static_cast<size_t>(x)] != 0;
    }
};

using SparseMatrix = Eigen::SparseMatrix<double>;

// Adds to row p of `rhs` the mismatch across the seam between the region pixel (x, y) and its
// known neighbour q = (qx, qy): the step v(q) - v(p) less the image's own slope there, read
// one pixel on either side of the seam (from q on outwards, when that pixel is known, and from
// inside the region into p, when that pixel is in the region): the mean of both where both
// exist, the one that exists, else none. A fill that continues the surroundings' ramp then has
// no mismatch; the bare step would read the ramp's slope as one and flatten the ramp. A
// neighbour that is no picture has no mismatch, and no slope is read from such a pixel.
template <class Sample>
void addSeamMismatch(const Image<Sample>& image, const RegionRuns& region, int32_t x, int32_t y,
                     int32_t qx, int32_t qy, Eigen::MatrixXd& rhs, int64_t p) {
    if (!image.isPicture(qx, qy))
        return;
    const int32_t ex = qx - x, ey = qy - y;
    const int32_t ox = qx + ex, oy = qy + ey; // one further out
    const int32_t ix = x - ex, iy = y - ey;   // one further in
    const bool outside =
        image.contains(ox, oy) && region.find(oy, ox) < 0 && image.isPicture(ox, oy);
    const bool inside = image.contains(ix, iy) && region.find(iy, ix) >= 0;
    const Sample* own = image.at(x, y);
    const Sample* other = image.at(qx, qy);
    for (int32_t c = 0; c < image.layout.colours; c++) {
        const double step = static_cast<double>(other[c]) - static_cast<double>(own[c]);
        const double slopeOut =
            outside ? static_cast<double>(image.at(ox, oy)[c]) - static_cast<double>(other[c]) : 0;
        const double slopeIn =
            inside ? static_cast<double>(own[c]) - static_cast<double>(image.at(ix, iy)[c]) : 0;
        const double slope = outside && inside ? (slopeOut + slopeIn) / 2 : slopeOut + slopeIn;
        rhs(p, c) += step - slope;
    }
}

// Solves A u = b for every column of b: A is the part's symmetric positive definite matrix
// (every part has a known neighbour, so its membrane is pinned). Throws std::bad_alloc.
Eigen::MatrixXd solveMembrane(const SparseMatrix& a, const Eigen::MatrixXd& b) {
    if (a.rows() <= directSolveLimit) {
        Eigen::SimplicialLDLT<SparseMatrix> factor(a);
        if (factor.info() != Eigen::Success)
            throw std::bad_alloc();
        return factor.solve(b);
    }
    Eigen::ConjugateGradient<SparseMatrix, Eigen::Lower | Eigen::Upper> cg(a);
    cg.setTolerance(kIterativeTolerance);
    Eigen::MatrixXd u(b.rows(), b.cols());
    for (Eigen::Index c = 0; c < b.cols(); c++)
        u.col(c) = cg.solve(b.col(c));
    return u;
}

// Corrects one part of the region. Returns false when it has no known neighbour (nothing is
// changed then). Throws std::bad_alloc.
template <class Sample>
bool correctPart(const Image<Sample>& image, const RegionRuns& region,
                 const std::vector<size_t>& part) {
    const int32_t width = image.layout.width, height = image.layout.height;
    const int32_t colours = image.layout.colours;
    // Each run's first equation; the part's pixels are numbered run after run.
    std::vector<int64_t> firstOf(part.size());
    int64_t count = 0;
    for (size_t i = 0; i < part.size(); i++) {
        firstOf[i] = count;
        count += region.runs[part[i]].x1 - region.runs[part[i]].x0;
    }
    // The equation of a pixel of a neighbouring row's run: the runs of a part are in row order.
    const auto equationOf = [&](size_t run, int32_t x) {
        const auto found = std::lower_bound(part.begin(), part.end(), run);
        assert(found != part.end() && *found == run);
        return firstOf[static_cast<size_t>(found - part.begin())] + (x - region.runs[run].x0);
    };

    std::vector<Eigen::Triplet<double>> entries;
    entries.reserve(static_cast<size_t>(count) * 5);
    Eigen::MatrixXd rhs = Eigen::MatrixXd::Zero(count, colours);
    bool anyKnown = false;
    for (size_t i = 0; i < part.size(); i++) {
        const Run& run = region.runs[part[i]];
        for (int32_t x = run.x0; x < run.x1; x++) {
            const int64_t p = firstOf[i] + (x - run.x0);
            int32_t neighbours = 0;
            const auto known = [&](int32_t qx, int32_t qy) {
                addSeamMismatch(image, region, x, run.y, qx, qy, rhs, p);
                anyKnown = true;
            };
            // Left and right: inside the run, or known (runs are maximal).
            for (const int32_t qx : {x - 1, x + 1}) {
                if (qx < 0 || qx >= width)
                    continue;
                neighbours++;
                if (qx >= run.x0 && qx < run.x1)
                    entries.emplace_back(p, p + (qx - x), -1.0);
                else
                    known(qx, run.y);
            }
            for (const int32_t qy : {run.y - 1, run.y + 1}) {
                if (qy < 0 || qy >= height)
                    continue;
                neighbours++;
                const int64_t other = region.find(qy, x);
                if (other >= 0)
                    entries.emplace_back(p, equationOf(static_cast<size_t>(other), x), -1.0);
                else
                    known(x, qy);
            }
            entries.emplace_back(p, p, static_cast<double>(neighbours));
        }
    }
    if (!anyKnown)
        return false;
    SparseMatrix a(count, count);
    a.setFromTriplets(entries.begin(), entries.end());
    std::vector<Eigen::Triplet<double>>().swap(entries);
    const Eigen::MatrixXd u = solveMembrane(a, rhs);

    const double top = static_cast<double>(static_cast<Sample>(~Sample{0}));
    for (size_t i = 0; i < part.size(); i++) {
        const Run& run = region.runs[part[i]];
        for (int32_t x = run.x0; x < run.x1; x++) {
            const int64_t p = firstOf[i] + (x - run.x0);
            Sample* own = image.at(x, run.y);
            for (int32_t c = 0; c < colours; c++) {
                const double value = std::floor(static_cast<double>(own[c]) + u(p, c) + 0.5);
                own[c] = static_cast<Sample>(std::min(std::max(value, 0.0), top));
            }
        }
    }
    return true;
}

template <class Sample>
ToneMatch matchSamples(Sample* samples, const SampleLayout& layout, const uint8_t* region,
                       size_t regionRowStride, const uint8_t* picture) {
    assert(layout.width > 0 && layout.height > 0);
    assert(layout.colours >= 1 && layout.colours <= 4 && layout.pixelStep >= layout.colours);
    assert(layout.rowStep >= static_cast<size_t>(layout.width) * layout.pixelStep);
    assert(regionRowStride >= static_cast<size_t>(layout.width));
    const Image<Sample> image{samples, layout, picture, regionRowStride};
    bool corrected = false;
    try {
        const RegionRuns runs = findRuns(region, regionRowStride, layout.width, layout.height);
        if (runs.runs.empty())
            return ToneMatch::nothingDone;
        for (const std::vector<size_t>& part : groupParts(runs))
            corrected = correctPart(image, runs, part) || corrected;
    } catch (const std::bad_alloc&) {
        return ToneMatch::outOfMemory;
    }
    return corrected ? ToneMatch::matched : ToneMatch::nothingDone;
}

} // namespace

void limitDirectSolve(int64_t pixels) {
    directSolveLimit = pixels < 0 ? kDirectSolveLimit : pixels;
}

ToneMatch matchTones(uint8_t* samples, const SampleLayout& layout, const uint8_t* region,
                     size_t regionRowStride, const uint8_t* picture) {
    return matchSamples(samples, layout, region, regionRowStride, picture);
}

ToneMatch matchTones(uint16_t* samples, const SampleLayout& layout, const uint8_t* region,
                     size_t regionRowStride, const uint8_t* picture) {
    return matchSamples(samples, layout, region, regionRowStride, picture);
}

} // namespace mendora::tone
