// The steps of a filter run, one per selector, as the entry point dispatches them. Each runs
// with the current call's host record, data slot and result set in the module state, and
// reports only through the result.
#pragma once

namespace mendora {

// Makes sure both handles exist, then resets the parameter block to its defaults. A handle
// that cannot be created leaves its code and skips the lock and the defaults.
void parametersStep();

// Makes sure both handles exist (defaults when one had to be created), then sizes the run:
// takes W and H from the filter rectangle, lowers the host's memory limit to the run's
// estimate and allocates the engine's grids. A filter rectangle that does not begin at (0, 0)
// or is empty, or fewer than three planes, gives errBadParameters; failing grids give
// errOutOfMemory with every grid released. A handle failure written earlier stays the result.
void prepareStep();

// Runs the region dialog over the locked block; on confirmation exchanges the image with the
// host and fills it; otherwise restores the block and writes errCanceled. Without a prepared
// run it writes the refusal of the last prepare step and asks the host for nothing.
void startStep();

// Sets the input, output and mask rectangles to (0, 0, 0, 0): no more data is wanted.
void continueStep();

// Releases everything the run allocated. A start after it is refused.
void finishStep();

} // namespace mendora
