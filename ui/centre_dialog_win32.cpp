// Centring a dialog window over its parent with the system's window geometry.
#include "ui/centre_dialog.h"

namespace mendora {

void centreDialog(HWND window) {
    HWND parent = GetParent(window);
    if (parent == nullptr)
        parent = GetDesktopWindow();
    RECT client;
    if (!GetClientRect(parent, &client))
        return;
    POINT topLeft = {client.left, client.top};
    POINT bottomRight = {client.right, client.bottom};
    if (!ClientToScreen(parent, &topLeft) || !ClientToScreen(parent, &bottomRight))
        return;
    RECT own;
    if (!GetWindowRect(window, &own))
        return;

    CentringGeometry geometry;
    geometry.parentClient = ScreenRect{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    geometry.captionButtonWidth = GetSystemMetrics(SM_CXSIZE);
    geometry.hasSystemMenu = (GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU) != 0;
    geometry.windowWidth = own.right - own.left;
    geometry.windowHeight = own.bottom - own.top;
    geometry.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    geometry.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const ScreenPoint at = centredDialogPosition(geometry);
    SetWindowPos(window, nullptr, at.x, at.y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

} // namespace mendora
