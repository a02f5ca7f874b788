// Finding the dialog box a plug-in shows for a window of the host, from any thread.
#pragma once

#include <windows.h>

namespace mendora::standin {

// The visible dialog box (window class "#32770") owned by `owner`, or null when none is shown.
// A dialog box becomes visible only after its initialisation, so a found dialog already shows
// its opening values.
HWND findOwnedDialog(HWND owner);

} // namespace mendora::standin
