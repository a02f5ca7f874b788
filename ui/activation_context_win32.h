// Showing the plug-in's dialog templates inside the activation context of the library's own
// manifest, so that the dialogs look the same whichever manifest the host process carries.
#pragma once

#include <windows.h>

namespace mendora {

// Shows the dialog template `templateName` of the library (hostModuleInstance) modally, owned by
// `owner` (may be null), with `procedure` and initialisation value 0, and answers the value
// the dialog ended with. Where the system offers activation contexts, the dialog runs inside
// one made from the library's manifest (resource 2); when that context cannot be made or
// entered, no dialog is shown and the answer is -1. Where the system offers none, the dialog
// is shown without one. A dialog the system cannot create also answers -1.
INT_PTR showModuleDialog(LPCSTR templateName, HWND owner, DLGPROC procedure);

} // namespace mendora
