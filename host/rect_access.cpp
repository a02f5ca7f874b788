// Rectangle accessors over the host record's 16-bit and 32-bit rectangle fields.
#include "host/rect_access.h"

#include <cassert>

#include "host/module_state.h"

namespace mendora {

namespace {

Rect32 widen(const Rect16& rect) {
    return Rect32{rect.top, rect.left, rect.bottom, rect.right};
}

// The low 16 bits of a coordinate, read as a signed value (two's complement wrap).
int16_t low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

Rect16 narrow(const Rect32& rect) {
    return Rect16{low16(rect.top), low16(rect.left), low16(rect.bottom), low16(rect.right)};
}

} // namespace

bool uses32BitCoordinates() {
    assert(hostRecord != nullptr);
    return hostRecord->bigCoordinates != nullptr &&
           hostRecord->bigCoordinates->uses32BitCoordinates != 0;
}

Rect32 getFilterRect() {
    return uses32BitCoordinates() ? hostRecord->bigCoordinates->filterRect32
                                  : widen(hostRecord->filterRect);
}

Rect32 getInRect() {
    return uses32BitCoordinates() ? hostRecord->bigCoordinates->inRect32
                                  : widen(hostRecord->inRect);
}

Rect32 getOutRect() {
    return uses32BitCoordinates() ? hostRecord->bigCoordinates->outRect32
                                  : widen(hostRecord->outRect);
}

Rect32 getMaskRect() {
    return uses32BitCoordinates() ? hostRecord->bigCoordinates->maskRect32
                                  : widen(hostRecord->maskRect);
}

void setInRect(const Rect32& rect) {
    if (uses32BitCoordinates())
        hostRecord->bigCoordinates->inRect32 = rect;
    else
        hostRecord->inRect = narrow(rect);
}

void setOutRect(const Rect32& rect) {
    if (uses32BitCoordinates())
        hostRecord->bigCoordinates->outRect32 = rect;
    else
        hostRecord->outRect = narrow(rect);
}

void setMaskRect(const Rect32& rect) {
    if (uses32BitCoordinates())
        hostRecord->bigCoordinates->maskRect32 = rect;
    else
        hostRecord->maskRect = narrow(rect);
}

bool sameRect(const Rect32& a, const Rect32& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

} // namespace mendora
