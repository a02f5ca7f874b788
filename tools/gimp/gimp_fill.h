// The filter run both GIMP plug-ins share (GIMP 2.10 with its item IDs, GIMP 3 with its
// objects): the procedure's names and texts, its values, and the fill itself from the
// drawable's and the selection's buffers to the drawable's filled pixels.
#pragma once

#include <gegl.h>

#include <cstdint>
#include <string>
#include <vector>

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
constexpr int32_t kDefaultPatchRadius = 4;

// The procedure's values after GIMP's own arguments, in the order of its arguments. Four
// zeros for the rectangle: the whole image.
struct FillValues {
    int32_t patchRadius = kDefaultPatchRadius;
    int32_t sourceLeft = 0;
    int32_t sourceTop = 0;
    int32_t sourceRight = 0;
    int32_t sourceBottom = 0;
};

// What a fill reads from GIMP, as each version's layer takes it from the image.
struct FillTarget {
    // The drawable's pixels and its own format.
    GeglBuffer* pixels = nullptr;
    const Babl* format = nullptr;
    // The image's selection mask, in image coordinates.
    GeglBuffer* selection = nullptr;
    // The drawable in image coordinates: its offsets and size.
    GeglRectangle area{};
    // True when nothing at all is selected in the image.
    bool selectionEmpty = false;
};

// Fills the selection over the drawable with the module installed beside this program (on a
// worker thread while GIMP's progress bar pulses). Returns true with `bytes` holding the
// drawable's whole pixels in its own format, filled where the selection is nonzero, for the
// caller to write through the shadow buffer. Returns false with a one-line reason in `error`
// when nothing is selected, the selection does not touch the drawable, the drawable is too
// large, the module cannot run or reports a result code (in words), or memory runs out.
// Throws nothing.
bool fillDrawable(const FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                  std::string& error);

// Puts `bytes` (the drawable's own format `own`, the whole drawable of `size`) into `shadow`,
// the drawable's shadow buffer, and releases it; the caller merges the shadow.
void putIntoShadow(GeglBuffer* shadow, const Babl* own, const GeglRectangle& size,
                   const std::vector<uint8_t>& bytes);

} // namespace mendora::gimp
