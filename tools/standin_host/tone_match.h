// Tone matching at the seams: a post-step our hosts apply to a finished fill, outside the
// plug-in module's exact fill (whose bytes it never changes: it works on the host's copy).
// In: the filled image's samples and the region that was filled. Out: the region's colour
// samples with a smooth correction added, so that the fill's tone meets its surroundings.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mendora::tone {

// Where an image's samples lie: `colours` colour samples (1 to 4) at the start of each pixel,
// pixels `pixelStep` samples apart (at least `colours`; alpha and other samples after the
// colours are neither read nor written), rows `rowStep` samples apart (at least
// width x pixelStep). width and height are 1 to kMaxImageSide.
struct SampleLayout {
    int32_t width = 0;
    int32_t height = 0;
    int32_t colours = 3;
    int32_t pixelStep = 3;
    size_t rowStep = 0;
};

enum class ToneMatch {
    matched,     // every region with a known neighbour was corrected
    nothingDone, // no region pixel, or no region has a known neighbour (the image is all
                 // region): the samples are unchanged
    outOfMemory, // memory ran out; regions already corrected stay corrected, the others
                 // unchanged (every sample holds a valid value either way)
};

// Corrects the filled region of `samples` (8-bit, or 16-bit in the machine's byte order) laid
// out as `layout` says. `region` holds one byte a pixel, nonzero for a filled pixel, rows
// `regionRowStride` bytes apart (at least width); every other pixel is known image.
//
// Each 4-connected part of the region is corrected on its own, each colour channel on its own
// in the image's stored values: the correction u is the discrete membrane (harmonic field)
// over the part whose boundary values are the mismatches along its rim. For each pixel p of
// the part, with n(p) its 4-neighbours inside the image (neighbours beyond the image's border
// do not count), the equation is
//     n(p) u(p) - sum of u(q) over neighbours q in the part = sum of m(p, q) over known
//     neighbours q,
// v being the samples as they are and m(p, q) the mismatch across the seam: the step
// v(q) - v(p) less the image's own slope there, s = (s_out + s_in) / 2 with
// s_out = v(q + e) - v(q) and s_in = v(p) - v(p - e) for e = q - p (only the one that exists
// where q + e is not known or p - e is not in the region; 0 where neither exists). A fill that
// continues its surroundings (the same value, or the same ramp, across every seam) is left as
// it is, and one off by a constant c everywhere along its rim is moved by exactly c. Every
// corrected sample is v(p) + u(p) rounded to the nearest, held to 0 .. 255 (or 65535). A part
// without known neighbours (the whole image) is left unchanged.
//
// `picture`, when given, holds one byte a pixel laid out as `region`, 0 for a known pixel
// that is no picture (a fully transparent one): a seam against such a pixel has no mismatch
// (the correction comes to nothing there; only the picture pulls) and no slope is read from it.
//
// Memory is bounded by the region (its runs along rows and one equation a pixel), not by the
// image. Never throws.
ToneMatch matchTones(uint8_t* samples, const SampleLayout& layout, const uint8_t* region,
                     size_t regionRowStride, const uint8_t* picture = nullptr);
ToneMatch matchTones(uint16_t* samples, const SampleLayout& layout, const uint8_t* region,
                     size_t regionRowStride, const uint8_t* picture = nullptr);

// Test hook: parts of more than `pixels` pixels are solved by conjugate gradients, smaller
// ones by a sparse Cholesky factorisation (negative: the default limit). Both solve the same
// equations to far within the rounding of the samples.
void limitDirectSolve(int64_t pixels);

} // namespace mendora::tone
