// The filter run both GIMP plug-ins share (GIMP 2.10 with its item IDs, GIMP 3 with its
// objects): the procedure's names and texts, its values, and the fill itself from the
// drawable's and the selection's buffers to the drawable's filled pixels.
#pragma once

#include <gegl.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "params/fill_parameters.h"

namespace mendora::gimp {

constexpr char kProcedure[] = "plug-in-mendora-fill";
constexpr char kMenuLabel[] = "Mendora Fill Selection...";
constexpr char kMenuPath[] = "<Image>/Filters/Enhance";
constexpr char kDialogTitle[] = "Mendora Fill Selection";
constexpr char kImageTypes[] = "RGB*, GRAY*";
constexpr char kBlurb[] = "Fill the selection with texture from the rest of the image";
constexpr char kHelp[] = "Replaces every selected pixel of the layer (any nonzero selection "
                         "value) by texture copied patch by patch from the source rectangle, "
                         "starting where image edges run into the selection.";
constexpr char kAuthor[] = "Mendora";
constexpr char kDate[] = "2026";
constexpr char kSourceHint[] = "Texture comes from columns left to right - 1 and rows top to "
                               "bottom - 1;\nall four 0: the whole image.";
constexpr char kRadiusBlurb[] =
    "Patch radius (0: the radius of the previous fill, 4 in a fresh run)";
constexpr char kOneDrawable[] = "Mendora fills one layer at a time: select a single layer";
constexpr char kNoGroup[] =
    "Mendora fills a layer's own pixels and a layer group has none: select a layer in it";
constexpr char kNotFillable[] = "Mendora fills a layer or a channel: select one";

// The procedure's values after GIMP's own arguments, in the order of its arguments. Four
// zeros for the rectangle: the whole image.
struct FillValues {
    int32_t patchRadius = kDefaultPatchRadius;
    int32_t sourceLeft = 0;
    int32_t sourceTop = 0;
    int32_t sourceRight = 0;
    int32_t sourceBottom = 0;
};

// Checks `values` for a drawable of `width` x `height` before anything runs: the patch radius
// from 0 to largestPatchRadius(), each side of the source rectangle from 0 to kMaxImageSide,
// and a rectangle other than four zeros starting inside the drawable. Returns false with a
// one-line reason in `error` otherwise.
bool checkValues(const FillValues& values, int32_t width, int32_t height, std::string& error);

// What a fill reads from GIMP, as each version's layer takes it from the image.
struct FillTarget {
    // The drawable's pixels and its own format.
    GeglBuffer* pixels = nullptr;
    const Babl* format = nullptr;
    // The image's visible composite in image coordinates (a layer made from the visible
    // image), which texture is taken from over the drawable's area; its fully transparent
    // pixels, and the area outside the image, give no texture. nullptr (a channel): the
    // drawable's own pixels give the texture.
    GeglBuffer* visible = nullptr;
    // The image's selection mask, in image coordinates.
    GeglBuffer* selection = nullptr;
    // The drawable in image coordinates: its offsets and size.
    GeglRectangle area{};
    // True when nothing at all is selected in the image.
    bool selectionEmpty = false;
    // Answers, on GIMP's thread, whether the image and the drawable still exist.
    std::function<bool()> present;
};

enum class FillOutcome {
    filled,
    failed,
    // The image or the drawable was deleted (the image closed) while the module filled.
    gone,
};

// Fills the selection over the drawable with the module installed beside this program (on a
// worker thread while GIMP's progress bar pulses and `target.present` is asked). Returns
// filled with `bytes` holding the drawable's whole pixels in its own format, filled where the
// selection is nonzero, for the caller to write through the shadow buffer. Returns gone when
// the image or the drawable ceased to exist meanwhile (nothing to write). Returns failed with
// a one-line reason in `error` when nothing is selected, the selection does not touch the
// drawable, no visible pixel outside the selection is left to take texture from, the
// drawable is too large, the module cannot run or reports a result code (in words), or
// memory runs out. Either way the target's buffers are released before it returns, and an
// image or drawable gone by then makes the outcome gone. Throws nothing.
FillOutcome fillDrawable(FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                         std::string& error);

// Puts `bytes` (the drawable's own format `own`, the whole drawable of `size`) into `shadow`,
// the drawable's shadow buffer, and releases it; the caller merges the shadow. Returns false
// with the reason in `error` when GIMP gave no shadow buffer (nullptr).
bool putIntoShadow(GeglBuffer* shadow, const Babl* own, const GeglRectangle& size,
                   const std::vector<uint8_t>& bytes, std::string& error);

} // namespace mendora::gimp
