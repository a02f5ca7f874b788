// Our own hosts' hooks (host/host_hooks.h) for the start step: found without a call to the
// host, and handed to the engine as its observer for the one fill.
#pragma once

#include "host/host_hooks.h"

namespace mendora {

// The hooks the binary holding `callback` (a callback of the current host record) answers
// through its exported MENDORA_HOST_HOOKS_SYMBOL, or null: for a host that exports no such
// function (the image editor), that answers null, or whose hooks are too small to hold their
// own size and context. Asks the operating system's loader only, never the host.
const MendoraHostHooks* findOurHostHooks(const void* callback);

// Makes `hooks` (may be null: no observer) the engine's observer of the coming run, and their
// sampling area the engine's for a filter rectangle `width` pixels wide; the hooks' fields
// beyond their size count as absent. Returns false, with neither set, when the area's row
// stride is below `width`.
bool observeWithOurHostHooks(const MendoraHostHooks* hooks, int32_t width);

// Removes the observer and the sampling area, so that no hook is called and no area is read
// after the start step.
void stopObserving();

} // namespace mendora
