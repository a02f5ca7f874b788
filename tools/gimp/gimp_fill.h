// The filter run both GIMP plug-ins share (GIMP 2.10 with its item IDs, GIMP 3 with its
// objects): the procedure's names and texts, its values, and the fill itself from the
// drawable's and the selection's buffers to the drawable's filled pixels.
#pragma once

#include <gegl.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "params/fill_parameters.h"

namespace mendora::gimp {

constexpr char kProcedure[] = "plug-in-mendora-fill";
// GIMP 2.10's procedure with the context width and the output as well (GIMP 3's one procedure
// takes them as its last arguments), so that scripts calling kProcedure keep working.
constexpr char kContextProcedure[] = "plug-in-mendora-fill-context";
// GIMP 2.10's procedure with the band width and tone matching after kContextProcedure's
// arguments (GIMP 3's procedure takes them as its last arguments).
constexpr char kSamplingProcedure[] = "plug-in-mendora-fill-sampling";
// With an access key, as the menu's other entries have.
constexpr char kMenuLabel[] = "_Mendora Fill Selection...";
constexpr char kMenuPath[] = "<Image>/Filters/Enhance";
constexpr char kDialogTitle[] = "Mendora Fill Selection";
constexpr char kImageTypes[] = "RGB*, GRAY*";
constexpr char kBlurb[] = "Fill the selection with texture from the rest of the image";
constexpr char kHelp[] = "Fills every selected pixel of the layer (any nonzero selection value) "
                         "with texture copied patch by patch from the source rectangle (or from "
                         "the pixels around the selection), starting where image edges run into "
                         "the selection; a partly selected pixel is blended with its old value by "
                         "the selection's strength. The fill goes into the layer or into a new "
                         "layer above it.";
// The name of the help domain the plug-ins register, and its folder beside the installed
// program (holding en/gimp-help.xml and the page, installed by `./mendora gimp-install`).
constexpr char kHelpDomain[] = "mendora-fill";
constexpr char kHelpFolder[] = "help";
constexpr char kAuthor[] = "Mendora";
constexpr char kDate[] = "2026";
constexpr char kSourceHint[] = "Texture comes from columns left to right - 1 and rows top to "
                               "bottom - 1;\nall four 0: the whole image.";
constexpr char kContextBlurb[] =
    "Context width: sample only the selection's bounding box grown by this many pixels on each "
    "side (0: the source rectangle)";
constexpr char kOutputBlurb[] = "Where the fill goes: into the layer, or into a new layer above it";
constexpr char kBandBlurb[] =
    "Band width: sample only the pixels within this many pixels of the selection, each region "
    "its own band (0: no band; with a context width or a source rectangle, their common part)";
constexpr char kMatchToneBlurb[] =
    "Match tones at the edges: after the fill, a smooth correction takes away the steps along "
    "the selection's edge, the fill's texture kept (0 or FALSE: the fill as it is)";
constexpr char kMatchToneLabel[] = "_Match tones at the edges";
constexpr char kSourceChannelBlurb[] =
    "Source channel: a channel (a saved selection) whose nonzero pixels alone may lend texture, "
    "a patch wholly inside them; pixels outside still count as the picture around the selection "
    "(none, or -1 in GIMP 2.10: no such limit)";
constexpr char kSourceChannelLabel[] = "Te_xture only from channel";
constexpr char kOtherChannel[] = "the source channel is not a channel of the image filled: pass "
                                 "one of its channels, or none";
// The band width the dialogs offer for "around the selection" until another is chosen, and
// on first use, when they propose sampling around the selection with tones matched.
constexpr int32_t kDefaultBandWidth = 50;
// The name of the layer a fill into a new layer makes.
constexpr char kNewLayerName[] = "Mendora Fill Selection";
constexpr char kRadiusBlurb[] =
    "Half the side of the square patches compared and copied (a radius r compares squares of "
    "2r + 1 pixels): small radii follow fine texture, larger ones keep larger structures "
    "together but need more room around the selection. 0: the default, 4";
constexpr char kOneDrawable[] = "Mendora fills one layer at a time: select a single layer";
constexpr char kNoGroup[] =
    "Mendora fills a layer's own pixels and a layer group has none: select a layer in it";
constexpr char kNotFillable[] = "Mendora fills a layer or a channel: select one";
constexpr char kChannelIntoLayer[] =
    "a channel is filled in itself: choose \"Into the layer\" to fill a channel or a mask";
// An indexed layer holds palette indices, which neither a fill nor a blend may mix.
constexpr char kIndexed[] = "Mendora fills RGB and grey layers, not the palette indices of an "
                            "indexed image: convert it to RGB first (Image > Mode > RGB)";
constexpr char kOtherImage[] =
    "the drawable belongs to another image than the one given: pass one of that image's";
// The moments of a fill a test can inject a failure at (testHookAt): the image closed once
// the values are known and before any pixel is read, the image closed when the filled
// pixels are about to be written back, and an exception (not std::bad_alloc) thrown while
// the module fills.
constexpr char kHookCloseAtStart[] = "close-at-start";
constexpr char kHookCloseAtWriteBack[] = "close-at-write-back";
constexpr char kHookThrow[] = "throw";
// The environment variable naming the hook file of testHookAt.
constexpr char kTestHookVariable[] = "MENDORA_GIMP_TEST_HOOK";

// Where the fill goes; the numbers are GIMP 2.10's `output` argument.
enum class FillOutput : int32_t {
    // The drawable's own pixels, blended by the selection's strength.
    intoLayer = 0,
    // A new layer above the drawable, holding the blended pixels inside the selection and
    // transparent elsewhere; the drawable untouched.
    newLayer = 1,
};

// The procedure's values after GIMP's own arguments, in the order of its arguments. Four
// zeros for the rectangle: the whole image. A context width above 0 replaces the rectangle by
// the selection's bounding box grown by that many pixels (runner::contextSourceRectangle).
struct FillValues {
    int32_t patchRadius = kDefaultPatchRadius;
    int32_t sourceLeft = 0;
    int32_t sourceTop = 0;
    int32_t sourceRight = 0;
    int32_t sourceBottom = 0;
    int32_t contextWidth = 0;
    FillOutput output = FillOutput::intoLayer;
    // The band around each region as the sampling area (runner::bandAroundSelection), 0: none.
    int32_t bandWidth = 0;
    // Tone matching at the seams after the fill (tone::matchTones), before the blend by the
    // selection's strength.
    bool matchTone = false;
};

// Checks `values` for a drawable of `width` x `height` before anything runs: the patch radius
// from 0 to largestPatchRadius(), each side of the source rectangle from 0 to kMaxImageSide,
// a rectangle other than four zeros starting inside the drawable (unless a context width
// replaces it), the context width and the band width from 0 to kMaxContextWidth and the output one
// of FillOutput's, a new layer only for a `layer` (not a channel). Returns false with a one-line
// reason in `error` otherwise.
bool checkValues(const FillValues& values, int32_t width, int32_t height, bool layer,
                 std::string& error);

// The folder of the filter's help pages (kHelpFolder) beside the running program.
std::string helpFolder();

// The reason to report for `failure`, caught at the edge of the plug-in: "out of memory" for
// std::bad_alloc, else the exception's own message.
std::string reasonOf(const std::exception& failure);

// A test's injected failure: true when the environment variable kTestHookVariable names a
// file holding `moment` (one of the kHook* names), which is then removed, so that the hook
// fires once, in the call the test set it up for. False without the variable or that text.
bool testHookAt(const char* moment);

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
    // A channel (a saved selection) whose nonzero pixels alone may lend texture, nullptr for
    // none; its name, for messages; and the drawable's area in the channel's coordinates (a
    // saved selection's are the image's, a layer mask's its layer's). Beyond the channel
    // nothing may lend.
    GeglBuffer* sourceChannel = nullptr;
    std::string sourceChannelName;
    GeglRectangle sourceChannelArea{};
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
// worker thread while GIMP's progress bar shows the stage, then the pixels filled, and
// `target.present` is asked). Returns filled with `bytes` holding the drawable's whole pixels,
// filled where the selection is nonzero (its tone matched first with values.matchTone) and
// blended there by its strength (filledBytes): for
// FillOutput::intoLayer in the drawable's own format, for the caller to write through the shadow
// buffer; for FillOutput::newLayer in newLayerFormat(target.format), transparent where nothing is
// selected (newLayerBytes), for the caller to put into a new layer. Returns gone when
// the image or the drawable ceased to exist meanwhile (nothing to write). Returns failed with
// a one-line reason in `error` when nothing is selected, the selection does not touch the
// drawable, no visible pixel outside the selection is left to take texture from, the band
// (values.bandWidth) or the source channel leaves no source window (checked before the fill),
// the drawable is too large, the module cannot run or reports a result code (in words), or
// memory runs out. Either way the target's buffers are released before it returns, and an
// image or drawable gone by then makes the outcome gone. Throws nothing.
FillOutcome fillDrawable(FillTarget& target, const FillValues& values, std::vector<uint8_t>& bytes,
                         std::string& error);

// Puts `bytes` (in `format`, the whole drawable of `size`) into `buffer` (a drawable's shadow
// buffer, or a new layer's own buffer) and releases it, which hands the pixels to GIMP; for a
// shadow buffer the caller merges the shadow. Returns false with the reason in `error` when
// GIMP gave no buffer (nullptr).
bool putPixels(GeglBuffer* buffer, const Babl* format, const GeglRectangle& size,
               const std::vector<uint8_t>& bytes, std::string& error);

} // namespace mendora::gimp
