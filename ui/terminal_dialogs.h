// The region dialog and the about box as terminal forms, independent of the plug-in's module
// state so that they can run on any terminal: the plug-in's dialog entry points call them with
// the host's terminal and the locked parameter block.
#pragma once

#include <cstdint>

#include "params/fill_parameters.h"
#include "sdk/vellumar_plugin.h"

namespace mendora {

// Runs the region dialog on `terminal`. It opens showing the five fields of `block` in boxes
// 3 to 7, with box 3 focused and its whole text selected; every edit of a box is stored in
// its field at once by the shared dialog rules; Tab and Shift-Tab move through the controls in
// template order (OK, Cancel, boxes 3 to 6, box 7); Enter presses the default button OK, or
// Cancel while Cancel has the focus; Space presses the focused button; Alt+O and Alt+C are the
// buttons' access keys; Escape, Ctrl-C and the end of the input cancel. Returns the end value:
// 1 for OK, 2 for Cancel, kDialogFailed (-1) when the form cannot be created (no terminal).
// The block keeps the edits in every case: restoring it on cancel is the caller's business.
int32_t runRegionForm(FillParameters& block, const VlmrParentWindow& terminal);

// Runs the about box on `terminal`: the about text and the maker's two address buttons. Tab
// moves between the buttons; Space on a button hands "http://" and its text to the host
// through the fourth routine of its file-list suite, "Vellumar GetFileList Suite for
// Plug-ins" version 4, and leaves the box open. The suite is acquired through `access` on the
// first click that finds it and kept while the library stays loaded; it is released through
// the same access when the library is unloaded. Without the suite a click does nothing. Escape,
// Enter, Ctrl-C and the end of the input close it. Shows nothing when the form cannot be created.
void runAboutForm(const VlmrParentWindow& terminal, const BasicSuiteAccess* access);

} // namespace mendora
