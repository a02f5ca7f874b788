// The source rectangle of a context width around the selection.
// In: the selection mask, the context width. Out: the rectangle typed into the region dialog.
#include "tools/standin_host/context_source.h"

#include <algorithm>

namespace mendora::runner {

ContextSource contextSourceRectangle(const uint8_t* mask, int32_t width, int32_t height,
                                     size_t rowStride, int32_t context, SourceRectangle& source) {
    source = SourceRectangle{0, 0, width, height};
    if (context < 0 || context > kMaxContextWidth)
        return ContextSource::widthOutOfRange;
    if (context == 0)
        return ContextSource::ok;
    // The bounding box, right and bottom exclusive; left > right - 1 while nothing is found.
    int32_t left = width, top = height, right = 0, bottom = 0;
    for (int32_t y = 0; y < height; y++) {
        const uint8_t* row = mask + rowStride * static_cast<size_t>(y);
        const uint8_t* end = row + width;
        const uint8_t* first = std::find_if(row, end, [](uint8_t v) { return v != 0; });
        if (first == end)
            continue;
        // Searching back from the end stops at `first` at the latest.
        const uint8_t* last = end - 1;
        while (*last == 0)
            last--;
        left = std::min(left, static_cast<int32_t>(first - row));
        right = std::max(right, static_cast<int32_t>(last - row) + 1);
        top = std::min(top, y);
        bottom = y + 1;
    }
    if (bottom == 0)
        return ContextSource::nothingSelected;
    source.left = std::max(left - context, 0);
    source.top = std::max(top - context, 0);
    source.right = std::min(right + context, width);
    source.bottom = std::min(bottom + context, height);
    return ContextSource::ok;
}

} // namespace mendora::runner
