// Placement of the plug-in's dialogs over their parent window: horizontally centred but
// shifted left by a caption-button inset, a third of the way down, and pushed back onto the
// screen at the right and bottom edges only.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace mendora {

struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
};

// Everything the placement depends on, in screen pixels.
struct CentringGeometry {
    ScreenRect parentClient;        // the parent's client rectangle in screen coordinates
    int32_t captionButtonWidth = 0; // the system's caption-button width
    bool hasSystemMenu = false;     // whether the dialog's style has a system menu
    int32_t windowWidth = 0;        // the dialog's own window size
    int32_t windowHeight = 0;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
};

// Where the dialog's top-left corner goes. With s the caption-button width, less a third of
// it (truncated) when there is no system menu, and the parent's client rectangle L, T, R, B:
//   x = max(0, (R - L) - width) / 2 + L - s, then max(0, screenWidth - width) if x + width
//       passes the screen's right edge;
//   y = max(0, (B - T) - height) / 3 + T, then max(0, screenHeight - height) if y + height
//       passes the screen's bottom edge.
// Divisions truncate; x may be negative (nothing pushes the dialog back at the left or top).
// Computed in 64 bits and saturated to the 32-bit range, so no input overflows. Never fails.
ScreenPoint centredDialogPosition(const CentringGeometry& geometry);

#ifdef _WIN32
// Moves `window` to centredDialogPosition over its parent (the desktop window when it has
// none), keeping its size and its place in the stacking order. Leaves the window where it is
// when the parent's or its own geometry cannot be read.
void centreDialog(HWND window);
#endif

} // namespace mendora
