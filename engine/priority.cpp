// Fill priority of a front pixel, and the clipped window and mean confidence it is made of.
// In: fill states, confidences and grey levels around the pixel (inside the front's reach). Out:
// the pixel's queue node holding confidence term x data term.
#include <cmath>

#include "engine/fill_internal.h"

namespace mendora {

TrelHeap* frontQueue = nullptr;

// One-sided grey difference at the grid's edges (not halved), central difference inside.
// A difference whose neighbour does not exist (an image one pixel wide or high) is 0.
static double gradientX(int32_t i, int32_t j) {
    if (gridWidth == 1)
        return 0.0;
    if (i == 0)
        return static_cast<double>(greyAt(1, j) - greyAt(0, j));
    if (i == gridWidth - 1)
        return static_cast<double>(greyAt(i, j) - greyAt(i - 1, j));
    return static_cast<double>(greyAt(i + 1, j) - greyAt(i - 1, j)) / 2.0;
}

static double gradientY(int32_t i, int32_t j) {
    if (gridHeight == 1)
        return 0.0;
    if (j == 0)
        return static_cast<double>(greyAt(i, 1) - greyAt(i, 0));
    if (j == gridHeight - 1)
        return static_cast<double>(greyAt(i, j) - greyAt(i, j - 1));
    return static_cast<double>(greyAt(i, j + 1) - greyAt(i, j - 1)) / 2.0;
}

// True when a four-neighbour of (i, j) inside the grid is still to be filled: the grey
// differences there would reach into the hole.
static bool touchesHole(int32_t i, int32_t j) {
    return (i > 0 && fillStates[i - 1][j] == kToFill) ||
           (i < gridWidth - 1 && fillStates[i + 1][j] == kToFill) ||
           (j > 0 && fillStates[i][j - 1] == kToFill) ||
           (j < gridHeight - 1 && fillStates[i][j + 1] == kToFill);
}

WindowExtents clipWindow(int32_t x0, int32_t y0) {
    const int32_t r = engineRadius;
    return WindowExtents{x0 < r ? x0 : r, x0 > gridWidth - r - 1 ? gridWidth - 1 - x0 : r,
                         y0 < r ? y0 : r, y0 > gridHeight - r - 1 ? gridHeight - 1 - y0 : r};
}

double windowConfidence(int32_t x0, int32_t y0, const WindowExtents& e) {
    double confidenceSum = 0.0;
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++)
            if (fillStates[x][y] != kToFill)
                confidenceSum += confidenceAt(x, y);
    return confidenceSum / ((e.left + e.right + 1) * (e.up + e.down + 1));
}

TrelHeapNode* computePriority(int32_t x, int32_t y) {
    const WindowExtents e = clipWindow(x, y);

    // Confidence term: mean confidence over the clipped window, unknown pixels counting 0.
    const double confidence = windowConfidence(x, y, e);

    // Strongest grey gradient among known pixels whose four-neighbours are all known. Ties keep
    // the earlier pixel in scan order.
    double bestGx = 0.0, bestGy = 0.0, bestM = 0.0;
    for (int32_t i = x - e.left; i <= x + e.right; i++)
        for (int32_t j = y - e.up; j <= y + e.down; j++) {
            if (fillStates[i][j] == kToFill || touchesHole(i, j))
                continue;
            const double gx = gradientX(i, j);
            const double gy = gradientY(i, j);
            const double m = gx * gx + gy * gy;
            if (m > bestM) {
                bestGx = gx;
                bestGy = gy;
                bestM = m;
            }
        }
    // The isophote runs across the gradient.
    const double isoX = bestGy;
    const double isoY = -bestGx;

    // Front direction from the first two front neighbours in scan order. The differences are
    // exchanged without a change of sign, so two diagonal neighbours give a diagonal direction.
    int32_t found = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    const int32_t nx0 = x > 0 ? x - 1 : x, nx1 = x < gridWidth - 1 ? x + 1 : x;
    const int32_t ny0 = y > 0 ? y - 1 : y, ny1 = y < gridHeight - 1 ? y + 1 : y;
    for (int32_t i = nx0; i <= nx1 && found < 2; i++)
        for (int32_t j = ny0; j <= ny1; j++) {
            if ((i == x && j == y) || fillStates[i][j] != kFront)
                continue;
            if (found == 0) {
                x1 = i;
                y1 = j;
            } else {
                x2 = i;
                y2 = j;
            }
            if (++found == 2)
                break;
        }
    double normalX = 0.6, normalY = 0.8;
    if (found == 2) {
        const int32_t dA = x2 - x1;
        const int32_t dB = y2 - y1;
        // (dA^2 + dB^2)^0.5 through the correctly rounded square root: dA^2 + dB^2 is one of
        // 1, 2, 4, 5 and 8, where pow(v, 0.5) gives the same bits (tested), and sqrt is one
        // IEEE instruction with one result on every platform, unlike pow.
        const double length = std::sqrt(static_cast<double>(dA * dA + dB * dB));
        normalX = dB / length;
        normalY = dA / length;
    }
    const double data = std::fabs((normalX * isoX + normalY * isoY) / 255.0);

    TrelHeapNode*& node = nodeAt(x, y);
    if (node == nullptr) {
        node = new TrelHeapNode();
        node->x = x;
        node->y = y;
    }
    node->priority = confidence * data;
    return node;
}

} // namespace mendora
