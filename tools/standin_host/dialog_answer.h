// How the command line answers the plug-in's region dialog: as a person at the keyboard
// would, typing the given values into their boxes and confirming, or by handing the dialog to
// the person at the terminal. Each platform implements this in its own file (the terminal on
// Linux, UI automation of the real dialog box on Windows).
#pragma once

#include <array>
#include <optional>
#include <string>

#include "sdk/vellumar_plugin.h"

namespace mendora::runner {

// The text to type into each box of the region dialog, boxes 3 to 7 in this order (source
// left, top, right, bottom, patch radius); an empty optional leaves the box as it opens.
// Texts are typed exactly as given, so "70000" or "-5" reach the dialog as a person would
// type them and the plug-in reads them by its own rules.
using DialogValues = std::array<std::optional<std::string>, 5>;

// Prepares the window that parents the plug-in's dialogs for the next start step and arranges
// that the region dialog is answered: the values are typed, then with `interactive` the
// person goes on editing it; otherwise OK is pressed. Returns the window to put into the host's
// window data. On failure returns the platform's "no window" value with a message in `error`; a
// start step then finds no dialog and reports cancel.
VlmrParentWindow prepareRegionDialogAnswer(const DialogValues& typed, bool interactive,
                                           std::string& error);

// Called when the region dialog was confirmed (the plug-in asks for the image): ends what
// relays the person's keys to the dialog, so the terminal is itself again while the fill runs.
// Safe to call when nothing relays, and twice.
void regionDialogClosed();

// Restores the terminal an interactive region dialog is open on: leaves the alternate screen,
// shows the cursor and puts back the terminal's modes from before the dialog. For a signal
// handler that ends the program (async-signal-safe); does nothing while no dialog is open
// (and on Windows, whose dialog is a window).
void restoreDialogTerminal();

// Releases whatever prepareRegionDialogAnswer set up (pipes, threads, windows). Safe to call
// when nothing was prepared, and twice.
void endRegionDialogAnswer();

// True when the about box can be shown: always on Windows (a window); on Linux when the
// standard input and output are a terminal.
bool aboutBoxCanShow();

// The window for the about box: the terminal (Linux) or a window of the command line
// (Windows). On failure the platform's "no window" value.
VlmrParentWindow aboutBoxParent();

} // namespace mendora::runner
