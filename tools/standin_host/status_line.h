// A status line on the error output while a long step runs: what runs and the seconds it has
// taken so far, rewritten in place a few times a second.
#pragma once

#include <string>

namespace mendora::runner {

// True when the error output is a terminal (a status line only makes sense there).
bool errorOutputIsTerminal();

// Starts showing "`what` ... N.N s" on the error output, counting from now, until
// stopStatusLine. Does nothing while a status line is shown already, and shows none (without
// failing) when its thread cannot start.
void startStatusLine(const std::string& what);

// Stops the status line and erases it. Does nothing when none is shown.
void stopStatusLine();

} // namespace mendora::runner
