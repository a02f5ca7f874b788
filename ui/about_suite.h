// The host's file-list suite as the about box uses it: acquired on the first address click,
// kept while the library stays loaded, and given back when it unloads.
#pragma once

#include <string_view>

#include "sdk/vellumar_plugin.h"

namespace mendora {

// An address button was clicked: passes "http://" and `buttonText` to the fourth routine of
// the file-list suite, acquiring the suite through `access` when it is not held yet. Nothing
// happens when the host offers no suite access or no such suite (a later click asks again).
void browseAboutAddress(const BasicSuiteAccess* access, std::string_view buttonText);

// Gives the held suite back through the release routine of the access it was acquired
// through (kept at acquisition; the access record itself is not read again). Does nothing when no
// suite is held. Called when the library unloads.
void releaseAboutBoxSuite();

} // namespace mendora
