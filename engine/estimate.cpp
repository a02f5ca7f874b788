// Least-squares estimate of the unknown L values of a target window.
// In: a private copy of the clipped window's fill states and L values (takeSnapshot takes it
// from the grids). Out: every unknown pixel of the window carries, in the copy, the truncated
// mean of its in-window four-neighbours (a discrete membrane over the known L values around
// the hole).
//
// Each unknown pixel gives one equation "this pixel equals that neighbour" per four-neighbour
// inside the window, a pair of unknown pixels one equation for the pair. The least-squares
// solution solves the normal equations MTM s = TM b. The matrices are dense although M has at
// most two nonzero entries a row: with the default radius J <= 80, and the whole estimate
// takes a small share of a fill, far behind the search (bench/PERFORMANCE.md).
#include <cstring>
#include <memory>

#include "engine/fill_internal.h"
#include "lib/trel_matrix.h"

namespace mendora {

namespace {

struct UnknownPixel {
    int32_t x;
    int32_t y;
};

// The clipped window and the unknown pixels in it, in scan order (rows from the top, each row
// from the left), so the unknown left of an unknown pixel is the entry just before it.
struct Window {
    int32_t xFirst, xLast, yFirst, yLast;
    std::vector<UnknownPixel> unknowns;
};

// Reads and writes a private copy of one window.
struct SnapshotAccess {
    WindowSnapshot& w;
    size_t cell(int32_t x, int32_t y) const {
        return static_cast<size_t>(x - w.xFirst) * static_cast<size_t>(w.rows) +
               static_cast<size_t>(y - w.yFirst);
    }
    bool unknown(int32_t x, int32_t y) const { return w.states[cell(x, y)] == kToFill; }
    int32_t l(int32_t x, int32_t y) const { return w.l[cell(x, y)]; }
    void setL(int32_t x, int32_t y, int32_t value) const { w.l[cell(x, y)] = value; }
};

template <class Access>
Window listUnknowns(const Access& g, int32_t x0, int32_t y0, const WindowExtents& e) {
    Window w{x0 - e.left, x0 + e.right, y0 - e.up, y0 + e.down, {}};
    for (int32_t y = w.yFirst; y <= w.yLast; y++)
        for (int32_t x = w.xFirst; x <= w.xLast; x++)
            if (g.unknown(x, y))
                w.unknowns.push_back(UnknownPixel{x, y});
    return w;
}

// Index of (x, y) in the unknown list, searched from the start.
int32_t unknownIndex(const Window& w, int32_t x, int32_t y) {
    for (size_t i = 0; i < w.unknowns.size(); i++)
        if (w.unknowns[i].x == x && w.unknowns[i].y == y)
            return static_cast<int32_t>(i);
    return -1;
}

// Writes the solution back: each estimate truncated toward zero.
template <class Access>
void writeEstimates(const Access& g, const Window& w, const double* s,
                    std::vector<int32_t>* estimates) {
    for (size_t j = 0; j < w.unknowns.size(); j++) {
        const int32_t value = static_cast<int32_t>(s[j]);
        g.setL(w.unknowns[j].x, w.unknowns[j].y, value);
        if (estimates != nullptr)
            estimates->push_back(value);
    }
}

struct MatrixHolder {
    double** m = nullptr;
    int rows = 0;
    int columns = 0;
    MatrixHolder(int r, int c) : rows(r), columns(c) { TrelMatrixLib::allocateMatrix(m, r, c); }
    ~MatrixHolder() { TrelMatrixLib::releaseMatrix(m, rows, columns); }
    MatrixHolder(const MatrixHolder&) = delete;
    MatrixHolder& operator=(const MatrixHolder&) = delete;
};

template <class Access>
void estimateIn(const Access& g, int32_t x0, int32_t y0, const WindowExtents& e,
                std::vector<int32_t>* estimates) {
    const Window w = listUnknowns(g, x0, y0, e);
    const int J = static_cast<int>(w.unknowns.size());
    if (J == 0)
        return;
    // Equations: four per unknown, less those leaving the window, less one per unknown pair.
    int I = 0;
    for (const UnknownPixel& p : w.unknowns) {
        I += p.x == w.xFirst;
        I += p.y == w.yFirst;
        I += p.x > w.xFirst && g.unknown(p.x - 1, p.y);
        I += p.y > w.yFirst && g.unknown(p.x, p.y - 1);
        I += p.x == w.xLast;
        I += p.y == w.yLast;
    }
    const int E = 4 * J - I;
    std::vector<double> b(static_cast<size_t>(E), 0.0);
    std::vector<double> s(static_cast<size_t>(J), 0.0);
    MatrixHolder M(E, J), TM(J, E), MTM(J, J);

    int t = 0;
    for (int j = 0; j < J; j++) {
        const int32_t x = w.unknowns[j].x, y = w.unknowns[j].y;
        if (x > w.xFirst) {
            M.m[t][j] = 1;
            if (g.unknown(x - 1, y))
                M.m[t][j - 1] = -1;
            else
                b[t] = g.l(x - 1, y);
            t++;
        }
        if (x < w.xLast && !g.unknown(x + 1, y)) {
            M.m[t][j] = 1;
            b[t] = g.l(x + 1, y);
            t++;
        }
        if (y > w.yFirst) {
            M.m[t][j] = 1;
            if (g.unknown(x, y - 1))
                M.m[t][unknownIndex(w, x, y - 1)] = -1;
            else
                b[t] = g.l(x, y - 1);
            t++;
        }
        if (y < w.yLast && !g.unknown(x, y + 1)) {
            M.m[t][j] = 1;
            b[t] = g.l(x, y + 1);
            t++;
        }
    }
    TrelMatrixLib::transposeMatrix(M.m, E, J, TM.m);
    TrelMatrixLib::multiplyMatrices(TM.m, M.m, J, E, J, MTM.m);
    TrelMatrixLib::multiplyMatrixVector(TM.m, b.data(), J, E, s.data());
    // The system is symmetric positive definite (every group of unknown pixels has a known
    // neighbour in the window), so the outcome is not tested.
    TrelMatrixLib::solveLinearSystem(MTM.m, J, s.data());
    writeEstimates(g, w, s.data(), estimates);
}

} // namespace

void takeSnapshot(int32_t x0, int32_t y0, WindowSnapshot& window) {
    const WindowExtents e = clipWindow(x0, y0);
    window.x0 = x0;
    window.y0 = y0;
    window.extents = e;
    window.xFirst = x0 - e.left;
    window.yFirst = y0 - e.up;
    window.columns = e.left + e.right + 1;
    window.rows = e.up + e.down + 1;
    const size_t cells = static_cast<size_t>(window.columns) * static_cast<size_t>(window.rows);
    window.states.resize(cells);
    window.l.resize(cells);
    for (int32_t i = 0; i < window.columns; i++) {
        const size_t at = static_cast<size_t>(i) * static_cast<size_t>(window.rows);
        std::memcpy(&window.states[at], fillStates[window.xFirst + i] + window.yFirst,
                    static_cast<size_t>(window.rows));
        for (int32_t j = 0; j < window.rows; j++)
            window.l[at + static_cast<size_t>(j)] = lightness(window.xFirst + i, window.yFirst + j);
    }
}

void estimateSnapshot(WindowSnapshot& window, std::vector<int32_t>* estimates) {
    estimateIn(SnapshotAccess{window}, window.x0, window.y0, window.extents, estimates);
}

} // namespace mendora
