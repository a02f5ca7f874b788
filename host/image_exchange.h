// The image exchange of the start step: one request for the whole filter rectangle, one
// delivery, the fill, one progress report and one abort test.
#pragma once

namespace mendora {

// Called by the start step after the region dialog was confirmed, with both blocks locked and
// the grids of the prepare step allocated. Requests planes 0 to 2 of the whole filter
// rectangle (and the mask when the host has one), has the host deliver the buffers, fills the
// selected pixels of the output buffer, then reports progress (1 of W x H) and asks for an
// abort. Outcome, in the result:
// - errBadParameters, nothing requested: an output tile side of 0, no delivery callback, or a
//   filter rectangle other than the prepared (0, 0, H, W);
// - the host's code, unchanged, when the delivery answers non-zero; nothing is written;
// - errBadParameters, nothing written: the host delivered another output rectangle than the
//   one requested, a null pixel buffer, or mask rows narrower than the rectangle;
// - errBadParameters: pixels are selected but no source window exists; nothing is filled,
//   progress is still reported (the engine is done with the image), no abort test follows;
// - errOutOfMemory: the engine ran out of memory (the selection may be partly filled);
//   neither progress nor abort follow;
// - errCanceled when the abort test answers true after the complete fill; else 0;
// - errCanceled, neither progress nor abort following, when our own host's hooks asked to
//   stop the fill (host/host_hooks.h; the selection may be partly filled).
void runFill();

} // namespace mendora
