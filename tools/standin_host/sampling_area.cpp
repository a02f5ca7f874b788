// The sampling area of our hosts: the band around each region, intersections, and whether any
// source window is left in it.
// In: the selection, a band width, other masks, a radius. Out: the area, or the answer.
#include "tools/standin_host/sampling_area.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace mendora::runner {

AreaMask bandAroundSelection(const uint8_t* mask, int32_t width, int32_t height, size_t rowStride,
                             int32_t band) {
    assert(width > 0 && height > 0 && band > 0 && band <= kMaxContextWidth);
    const size_t w = static_cast<size_t>(width);
    // Down each column, the distance to the nearest selected pixel of that column, held to
    // band + 1 (farther counts as "too far" for any column): a sweep down, then one up.
    const uint16_t far = static_cast<uint16_t>(band + 1);
    std::vector<uint16_t> vertical(w * static_cast<size_t>(height), far);
    std::vector<uint16_t> run(w, far);
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* row = mask + rowStride * static_cast<size_t>(y);
        for (size_t x = 0; x < w; x++) {
            run[x] = row[x] != 0 ? 0 : static_cast<uint16_t>(std::min<int32_t>(run[x] + 1, far));
            vertical[static_cast<size_t>(y) * w + x] = run[x];
        }
    }
    std::fill(run.begin(), run.end(), far);
    for (int32_t y = height - 1; y >= 0; y--) {
        uint16_t* row = &vertical[static_cast<size_t>(y) * w];
        for (size_t x = 0; x < w; x++) {
            run[x] = row[x] == 0 ? 0 : static_cast<uint16_t>(std::min<int32_t>(run[x] + 1, far));
            row[x] = std::min(row[x], run[x]);
        }
    }
    // Along each row: a column x' at vertical distance v <= band reaches the columns within
    // sqrt(band^2 - v^2) of it (whole columns: the largest dx with dx^2 + v^2 <= band^2). The
    // reach of each column is a precomputed table; a sweep carries the farthest reach.
    std::vector<int32_t> reachOf(static_cast<size_t>(band) + 1);
    for (int32_t v = 0; v <= band; v++) {
        int32_t dx = static_cast<int32_t>(
            std::sqrt(static_cast<double>(band) * band - static_cast<double>(v) * v));
        // The square root is rounded: settle the whole number exactly.
        while (static_cast<int64_t>(dx + 1) * (dx + 1) + static_cast<int64_t>(v) * v <=
               static_cast<int64_t>(band) * band)
            dx++;
        while (static_cast<int64_t>(dx) * dx + static_cast<int64_t>(v) * v >
               static_cast<int64_t>(band) * band)
            dx--;
        reachOf[static_cast<size_t>(v)] = dx;
    }
    AreaMask area{width, height, std::vector<uint8_t>(w * static_cast<size_t>(height), 0)};
    // farthest[x]: the largest column reached by a column starting at or before x.
    std::vector<int32_t> farthest(w);
    for (int32_t y = 0; y < height; y++) {
        const uint16_t* row = &vertical[static_cast<size_t>(y) * w];
        std::fill(farthest.begin(), farthest.end(), -1);
        for (int32_t x = 0; x < width; x++) {
            if (row[x] > band)
                continue;
            const int32_t reach = reachOf[row[x]];
            const size_t start = static_cast<size_t>(std::max(x - reach, 0));
            farthest[start] = std::max(farthest[start], x + reach);
        }
        int32_t covered = -1;
        uint8_t* out = &area.bytes[static_cast<size_t>(y) * w];
        for (int32_t x = 0; x < width; x++) {
            covered = std::max(covered, farthest[static_cast<size_t>(x)]);
            out[x] = x <= covered ? 1 : 0;
        }
    }
    return area;
}

void intersectArea(AreaMask& area, const AreaMask& other) {
    assert(area.width == other.width && area.height == other.height);
    for (size_t i = 0; i < area.bytes.size(); i++)
        area.bytes[i] = area.bytes[i] != 0 && other.bytes[i] != 0 ? 1 : 0;
}

bool anySourceWindow(const AreaMask& area, const uint8_t* mask, const SourceRectangle& source,
                     int32_t radius) {
    assert(radius >= 1);
    const int32_t side = 2 * radius + 1;
    const int32_t left = std::max(source.left, 0), top = std::max(source.top, 0);
    const int32_t right = std::min(source.right, area.width);
    const int32_t bottom = std::min(source.bottom, area.height);
    if (right - left < side || bottom - top < side)
        return false;
    const size_t w = static_cast<size_t>(area.width);
    // down[x]: how many rows in a row, ending at this one, have at least `side` usable pixels
    // in a row ending at column x.
    std::vector<int32_t> down(w, 0);
    for (int32_t y = top; y < bottom; y++) {
        int32_t count = 0;
        for (int32_t x = left; x < right; x++) {
            const size_t i = static_cast<size_t>(y) * w + static_cast<size_t>(x);
            count = area.bytes[i] != 0 && mask[i] == 0 ? count + 1 : 0;
            const size_t column = static_cast<size_t>(x);
            down[column] = count >= side ? down[column] + 1 : 0;
            if (down[column] >= side)
                return true;
        }
    }
    return false;
}

} // namespace mendora::runner
