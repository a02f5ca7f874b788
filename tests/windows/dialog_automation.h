// Driving a real dialog box from a second thread, as UI automation would: the thread that
// shows the dialog is blocked in the dialog's modal loop, so everything here works from
// outside it, through window messages and synthesised keyboard and mouse input.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace mendora::automation {

// How long a wait for the dialog under test may take before the test counts it as failed;
// a guard against hanging, not a measure of speed.
constexpr DWORD kPatience = 20000;

// A visible, captioned top-level window at (x, y) with the given outer size, standing in for
// the host's main window that owns the plug-in's dialogs. Null on failure.
HWND createHostWindow(int x, int y, int width, int height);

// Waits up to kPatience for a visible dialog box owned by `owner`; null when none appears.
HWND waitForOwnedDialog(HWND owner);

// Polls `condition` until it holds (true) or kPatience passes (false).
bool waitUntil(const std::function<bool()>& condition);

// Synthesised input: each character of `text` as a key press, a virtual key press, and a
// left click at a point in screen coordinates.
void typeText(const std::wstring& text);
void pressKey(WORD virtualKey);
void clickAt(POINT screen);

// Where the dialog centring rule puts the top-left corner of a window of `width` x `height`
// without a system menu over `owner`'s client area, as the system reports its geometry.
POINT centredCorner(HWND owner, int width, int height);

// The centre of a window, in screen coordinates.
POINT centreOf(HWND window);

// A window's text (read through WM_GETTEXT, so also across threads).
std::wstring textOf(HWND window);

// The window that has the keyboard focus in `dialog`'s thread, or null.
HWND focusOfThreadOf(HWND dialog);

// Runs `drive` on a second thread while `show` runs on this one (`show` opens the dialog and
// returns when it has ended). Afterwards, a dialog `drive` left open would block `show`
// forever, so when `drive` returns while a dialog owned by `owner` is still open, that dialog
// is ended with Cancel and the answer is false. True when `drive` closed what it opened.
bool driveDialog(HWND owner, const std::function<void()>& show, const std::function<void()>& drive);

} // namespace mendora::automation
