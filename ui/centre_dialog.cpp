// Dialog placement arithmetic, free of any window system.
#include "ui/centre_dialog.h"

#include <algorithm>
#include <limits>

namespace mendora {

namespace {

int32_t saturated(int64_t value) {
    const int64_t low = std::numeric_limits<int32_t>::min();
    const int64_t high = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(value, low, high));
}

} // namespace

ScreenPoint centredDialogPosition(const CentringGeometry& geometry) {
    const ScreenRect& parent = geometry.parentClient;
    const int64_t width = geometry.windowWidth;
    const int64_t height = geometry.windowHeight;

    int64_t inset = geometry.captionButtonWidth;
    if (!geometry.hasSystemMenu)
        inset -= inset / 3;

    int64_t x = std::max<int64_t>(0, (int64_t{parent.right} - parent.left) - width) / 2 +
                parent.left - inset;
    if (x + width > geometry.screenWidth)
        x = std::max<int64_t>(0, geometry.screenWidth - width);

    int64_t y =
        std::max<int64_t>(0, (int64_t{parent.bottom} - parent.top) - height) / 3 + parent.top;
    if (y + height > geometry.screenHeight)
        y = std::max<int64_t>(0, geometry.screenHeight - height);

    return ScreenPoint{saturated(x), saturated(y)};
}

} // namespace mendora
