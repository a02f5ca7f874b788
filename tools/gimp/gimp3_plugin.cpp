// The GIMP 3 plug-in "plug-in-mendora-fill" (Filters > Enhance > Mendora Fill Selection...):
// GIMP as a host of the plug-in module, over GIMP 3's objects. In: the image, exactly one
// selected drawable (not a layer group), the selection and the procedure's values (from its
// dialog, its arguments or the last run, kept by GIMP's procedure config). Out: the selection
// filled in the drawable or in a new layer above it as one undo step, or GIMP's error message
// with the plug-in's reason and the image unchanged. The fill itself is shared with the GIMP 2.10
// plug-in (gimp_fill.h).
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <exception>
#include <string>
#include <vector>

#include "tools/gimp/gimp_fill.h"
#include "tools/gimp/gimp_pixels.h"
#include "tools/standin_host/host_limits.h"
#include "tools/standin_host/rgb_image.h"

namespace mendora::gimp {

namespace {

// The six whole-number arguments after GIMP's own (run mode, image, drawables), in the order
// of FillValues; `output` (kOutput) follows them. GIMP refuses a value outside an argument's
// range before this plug-in runs.
struct IntArgument {
    const char* name;
    const char* label;
    const char* blurb;
    int32_t highest;
    int32_t standard;
};
// The labels' mnemonics (the choices' below too) differ from one another and from those of the
// procedure dialog's own buttons (_Help, _Reset, _Cancel, _OK, _Load Saved Settings, _Save
// Settings).
constexpr IntArgument kArguments[] = {
    {"patch-radius", "_Patch radius", kRadiusBlurb, largestPatchRadius(), kDefaultPatchRadius},
    {"source-left", "Source l_eft", "Leftmost source column", runner::kMaxImageSide, 0},
    {"source-top", "Source _top", "Topmost source row", runner::kMaxImageSide, 0},
    {"source-right", "Source r_ight",
     "Source columns end before this one (all four 0: the whole image)", runner::kMaxImageSide, 0},
    {"source-bottom", "Source _bottom", "Source rows end before this one", runner::kMaxImageSide,
     0},
    {"context-width", "Conte_xt width", kContextBlurb, kMaxContextWidth, 0},
};
constexpr size_t kIntArguments = sizeof kArguments / sizeof kArguments[0];
// The output argument, a choice of kIntoLayer and kNewLayer (their ids FillOutput's).
constexpr char kOutput[] = "output";
// After the output: the band width (0 to kMaxContextWidth, 0 none) and tone matching (FALSE),
// whose defaults keep the fill of the arguments before them.
constexpr char kBandWidth[] = "band-width";
constexpr char kMatchTone[] = "match-tone";
// After tone matching: the source channel (none by default), whose nonzero pixels alone may
// lend texture.
constexpr char kSourceChannel[] = "source-channel";
constexpr char kIntoLayer[] = "layer";
constexpr char kNewLayer[] = "new-layer";
// The dialog's own values, kept with the others but no arguments: where to sample from
// (kRectangle or kAround, the band), the band width it offers for kAround, and its check box
// for tone matching. On first use they propose what fills photographs well: the band of
// kDefaultBandWidth pixels, tones matched; GIMP keeps what was chosen after that.
constexpr char kSampleFrom[] = "sample-from";
constexpr char kRectangle[] = "rectangle";
constexpr char kAround[] = "around";
constexpr char kAroundWidth[] = "around-width";
constexpr char kMatchToneChoice[] = "match-tone-choice";
// The dialog's choice of the source channel: the ID of one of the image's channels, or
// kNoChannel.
constexpr char kSourceChannelChoice[] = "source-channel-choice";
constexpr gint kNoChannel = -1;

GimpValueArray* failure(GimpProcedure* procedure, GimpPDBStatusType status,
                        const std::string& reason) {
    return gimp_procedure_new_return_values(
        procedure, status, g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, reason.c_str()));
}

FillValues valuesOf(GimpProcedureConfig* config) {
    gint values[kIntArguments] = {};
    for (size_t i = 0; i < kIntArguments; i++)
        g_object_get(config, kArguments[i].name, &values[i], nullptr);
    gint band = 0;
    gboolean matchTone = FALSE;
    g_object_get(config, kBandWidth, &band, kMatchTone, &matchTone, nullptr);
    return FillValues{values[0],
                      values[1],
                      values[2],
                      values[3],
                      values[4],
                      values[5],
                      static_cast<FillOutput>(gimp_procedure_config_get_choice_id(config, kOutput)),
                      band,
                      matchTone == TRUE};
}

// A new array of the one value kRectangle, for the dialog to take over (each
// gimp_procedure_dialog_set_sensitive_if_in call frees its own with the dialog).
GimpValueArray* rectangleChoice() {
    GimpValueArray* values = gimp_value_array_new(1);
    GValue choice = G_VALUE_INIT;
    g_value_init(&choice, G_TYPE_STRING);
    g_value_set_static_string(&choice, kRectangle);
    gimp_value_array_append(values, &choice);
    g_value_unset(&choice);
    return values;
}

// The source channel `config` holds (nullptr: none; a new reference otherwise).
GimpChannel* sourceChannelOf(GimpProcedureConfig* config) {
    GimpChannel* channel = nullptr;
    g_object_get(config, kSourceChannel, &channel, nullptr);
    return channel;
}

// Whether `channel` may be the source channel of a fill in `image`: none, or one of its
// channels.
bool channelAllowed(GimpChannel* channel, GimpImage* image) {
    if (channel == nullptr)
        return true;
    GimpImage* owner = gimp_item_get_image(GIMP_ITEM(channel));
    return owner != nullptr && gimp_image_get_id(owner) == gimp_image_get_id(image);
}

// The choices of the dialog's source channel: "None" (kNoChannel), then `image`'s channels
// by name, their IDs as values.
GimpIntStore* channelChoices(GimpImage* image) {
    GtkListStore* store = gimp_int_store_new("None", kNoChannel, nullptr);
    GimpChannel** channels = gimp_image_get_channels(image);
    for (size_t i = 0; channels != nullptr && channels[i] != nullptr; i++) {
        gchar* name = gimp_item_get_name(GIMP_ITEM(channels[i]));
        GtkTreeIter row;
        gtk_list_store_append(store, &row);
        gtk_list_store_set(store, &row, GIMP_INT_STORE_VALUE,
                           gimp_item_get_id(GIMP_ITEM(channels[i])), GIMP_INT_STORE_LABEL, name,
                           -1);
        g_free(name);
    }
    g_free(channels);
    return GIMP_INT_STORE(store);
}

// The dialog of the interactive run over `config` for `image`, opened around the selection
// when the config's band or context width is above 0 (a script's; offered as the band's
// width), with the config's source channel when it is one of the image's. Returns true with
// the config edited when OK is pressed (its band width kAroundWidth's for kAround, else 0; its
// context width 0; tone matching as the check box says; the source channel chosen), false when
// the dialog is canceled or closed. Help (and F1) opens the filter's page from its help domain.
bool askValues(GimpProcedure* procedure, GimpProcedureConfig* config, GimpImage* image) {
    gint context = 0, band = 0;
    g_object_get(config, kArguments[5].name, &context, kBandWidth, &band, nullptr);
    if (band > 0 || context > 0)
        g_object_set(config, kSampleFrom, kAround, kAroundWidth, band > 0 ? band : context,
                     nullptr);
    GimpChannel* kept = sourceChannelOf(config);
    g_object_set(config, kSourceChannelChoice,
                 kept != nullptr && channelAllowed(kept, image) ? gimp_item_get_id(GIMP_ITEM(kept))
                                                                : kNoChannel,
                 nullptr);
    if (kept != nullptr)
        g_object_unref(kept);
    gimp_ui_init("mendora");
    GtkWidget* dialog = gimp_procedure_dialog_new(procedure, config, kDialogTitle);
    auto* procedureDialog = GIMP_PROCEDURE_DIALOG(dialog);
    gimp_procedure_dialog_get_label(procedureDialog, "source-hint", kSourceHint, FALSE, FALSE);
    // The dialog takes the store over.
    gimp_procedure_dialog_get_int_combo(procedureDialog, kSourceChannelChoice,
                                        channelChoices(image));
    // Choices as labeled combo boxes: GIMP's dialog looks for a property's mnemonic on its
    // widget's label, which a radio frame's title does not point to ("no mnemonic for
    // property" on the error output).
    gimp_procedure_dialog_get_widget(procedureDialog, kSampleFrom, GTK_TYPE_COMBO_BOX);
    gimp_procedure_dialog_get_widget(procedureDialog, kOutput, GTK_TYPE_COMBO_BOX);
    // The rectangle's sides count only when sampling from it, the width only around. Each
    // widget is made first: the dialog sets the sensitivity of widgets it already has.
    for (const char* name :
         {kArguments[1].name, kArguments[2].name, kArguments[3].name, kArguments[4].name}) {
        gimp_procedure_dialog_get_widget(procedureDialog, name, G_TYPE_NONE);
        gimp_procedure_dialog_set_sensitive_if_in(procedureDialog, name, nullptr, kSampleFrom,
                                                  rectangleChoice(), TRUE);
    }
    gimp_procedure_dialog_get_widget(procedureDialog, kAroundWidth, G_TYPE_NONE);
    gimp_procedure_dialog_set_sensitive_if_in(procedureDialog, kAroundWidth, nullptr, kSampleFrom,
                                              rectangleChoice(), FALSE);
    gimp_procedure_dialog_fill(procedureDialog, kArguments[0].name, kSampleFrom, kArguments[1].name,
                               kArguments[2].name, kArguments[3].name, kArguments[4].name,
                               "source-hint", kAroundWidth, kSourceChannelChoice, kOutput,
                               kMatchToneChoice, nullptr);
    const bool confirmed = gimp_procedure_dialog_run(procedureDialog);
    gtk_widget_destroy(dialog);
    if (confirmed) {
        gint around = 0;
        gboolean matchTone = FALSE;
        g_object_get(config, kAroundWidth, &around, kMatchToneChoice, &matchTone, nullptr);
        const bool sampleAround = gimp_procedure_config_get_choice_id(config, kSampleFrom) == 1;
        gint channel = kNoChannel;
        g_object_get(config, kSourceChannelChoice, &channel, nullptr);
        g_object_set(config, kArguments[5].name, 0, kBandWidth, sampleAround ? around : 0,
                     kMatchTone, matchTone, kSourceChannel,
                     channel != kNoChannel ? gimp_channel_get_by_id(channel) : nullptr, nullptr);
    }
    return confirmed;
}

// The drawables selected for the run, zero-terminated as GIMP hands them over.
size_t countOf(GimpDrawable** drawables) {
    size_t count = 0;
    while (drawables != nullptr && drawables[count] != nullptr)
        count++;
    return count;
}

// Puts `bytes` (the drawable's own format, the whole drawable) into the drawable as one undo
// step. Merging GIMP's shadow buffer blends by the selection's values, which would mix a
// feathered edge with the old pixels; the selection is therefore set aside (kept as a
// channel) while merging and put back afterwards, all inside the same undo group, and the
// selected layers and channels are as before. Returns false with GIMP's reason in `error`
// when the pixels could not be written.
bool replacePixels(GimpImage* image, GimpDrawable* drawable, const GeglRectangle& size,
                   const std::vector<uint8_t>& bytes, std::string& error) {
    GimpLayer** layers = gimp_image_get_selected_layers(image);
    GimpChannel** channels = gimp_image_get_selected_channels(image);
    gimp_image_undo_group_start(image);
    GimpChannel* keptSelection = gimp_selection_save(image);
    gimp_selection_none(image);

    bool written = putPixels(gimp_drawable_get_shadow_buffer(drawable),
                             gimp_drawable_get_format(drawable), size, bytes, error);
    if (written && !gimp_drawable_merge_shadow(drawable, TRUE)) {
        error = std::string("GIMP could not write the filled pixels: ") +
                gimp_pdb_get_last_error(gimp_get_pdb());
        written = false;
    }

    // The kept channel replaces the empty selection value for value: no feathering.
    gimp_context_push();
    gimp_context_set_feather(FALSE);
    gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, GIMP_ITEM(keptSelection));
    gimp_context_pop();
    gimp_image_remove_channel(image, keptSelection);
    if (layers != nullptr && layers[0] != nullptr)
        gimp_image_set_selected_layers(image, const_cast<const GimpLayer**>(layers));
    if (channels != nullptr && channels[0] != nullptr)
        gimp_image_set_selected_channels(image, const_cast<const GimpChannel**>(channels));
    if (written)
        gimp_drawable_update(drawable, 0, 0, size.width, size.height);
    gimp_image_undo_group_end(image);
    g_free(layers);
    g_free(channels);
    return written;
}

// Puts `bytes` (newLayerBytes' pixels of the layer `drawable`) into a new layer named
// kNewLayerName of the drawable's size and offsets, inserted right above it, as one undo step;
// the drawable and the selection stay as they are, the new layer becomes the selected one.
// Returns false with GIMP's reason in `error`, no layer added, when GIMP makes or takes none.
bool addFilledLayer(GimpImage* image, GimpDrawable* drawable, const GeglRectangle& size,
                    const std::vector<uint8_t>& bytes, std::string& error) {
    gint x = 0, y = 0;
    gimp_drawable_get_offsets(drawable, &x, &y);
    gimp_image_undo_group_start(image);
    GimpLayer* layer =
        gimp_layer_new(image, kNewLayerName, size.width, size.height,
                       gimp_drawable_is_gray(drawable) ? GIMP_GRAYA_IMAGE : GIMP_RGBA_IMAGE, 100.0,
                       GIMP_LAYER_MODE_NORMAL);
    GimpItem* parent = gimp_item_get_parent(GIMP_ITEM(drawable));
    // Inserted at the drawable's position, which moves the drawable one down.
    bool written =
        layer != nullptr &&
        gimp_image_insert_layer(image, layer, parent != nullptr ? GIMP_LAYER(parent) : nullptr,
                                gimp_image_get_item_position(image, GIMP_ITEM(drawable))) &&
        gimp_layer_set_offsets(layer, x, y);
    if (!written)
        error = std::string("GIMP could not add the new layer: ") +
                gimp_pdb_get_last_error(gimp_get_pdb());
    else
        written = putPixels(gimp_drawable_get_buffer(GIMP_DRAWABLE(layer)),
                            newLayerFormat(gimp_drawable_get_format(drawable)), size, bytes, error);
    if (written) {
        gimp_drawable_update(GIMP_DRAWABLE(layer), 0, 0, size.width, size.height);
        // Selected, as GIMP's own commands leave a layer they add.
        const GimpLayer* selected[] = {layer, nullptr};
        gimp_image_set_selected_layers(image, selected);
    } else if (layer != nullptr && gimp_item_is_valid(GIMP_ITEM(layer))) {
        gimp_image_remove_layer(image, layer);
    }
    gimp_image_undo_group_end(image);
    return written;
}

// True while `image` and `drawable` exist: the image may be closed at any moment.
bool present(GimpImage* image, GimpDrawable* drawable) {
    return gimp_image_is_valid(image) && gimp_item_is_valid(GIMP_ITEM(drawable));
}

// Fills the selection in `drawable` (a layer or a channel), texture taken from the visible
// image over a layer, into the drawable or into a new layer above it (values.output). Returns
// failed with the reason in `error`, the image unchanged, when
// nothing is selected over the drawable, the module cannot fill it or GIMP does not take the
// pixels; gone when the image was closed meanwhile. Texture comes only from where `channel`
// (nullptr: none) is nonzero.
FillOutcome fillSelection(GimpImage* image, GimpDrawable* drawable, const FillValues& values,
                          GimpChannel* channel, std::string& error) {
    FillTarget target;
    target.area.width = gimp_drawable_get_width(drawable);
    target.area.height = gimp_drawable_get_height(drawable);
    gimp_drawable_get_offsets(drawable, &target.area.x, &target.area.y);
    target.format = gimp_drawable_get_format(drawable);
    target.selectionEmpty = gimp_selection_is_empty(image);
    target.pixels = gimp_drawable_get_buffer(drawable);
    target.selection = gimp_drawable_get_buffer(GIMP_DRAWABLE(gimp_image_get_selection(image)));
    if (channel != nullptr) {
        gint x = 0, y = 0;
        gimp_drawable_get_offsets(GIMP_DRAWABLE(channel), &x, &y);
        target.sourceChannel = gimp_drawable_get_buffer(GIMP_DRAWABLE(channel));
        gchar* name = gimp_item_get_name(GIMP_ITEM(channel));
        target.sourceChannelName = name != nullptr ? name : "";
        g_free(name);
        target.sourceChannelArea = GeglRectangle{target.area.x - x, target.area.y - y,
                                                 target.area.width, target.area.height};
    }
    GimpLayer* visible = gimp_item_is_layer(GIMP_ITEM(drawable))
                             ? gimp_layer_new_from_visible(image, image, "visible")
                             : nullptr;
    if (visible != nullptr)
        target.visible = gimp_drawable_get_buffer(GIMP_DRAWABLE(visible));
    target.present = [image, drawable] { return present(image, drawable); };
    std::vector<uint8_t> bytes;
    FillOutcome outcome = fillDrawable(target, values, bytes, error);
    if (visible != nullptr && gimp_item_is_valid(GIMP_ITEM(visible)))
        gimp_item_delete(GIMP_ITEM(visible));
    if (outcome != FillOutcome::filled)
        return outcome;
    // The image may have been closed since the fill ended.
    if (testHookAt(kHookCloseAtWriteBack))
        gimp_image_delete(image);
    if (!target.present())
        return FillOutcome::gone;
    const GeglRectangle size{0, 0, target.area.width, target.area.height};
    const bool written = values.output == FillOutput::newLayer
                             ? addFilledLayer(image, drawable, size, bytes, error)
                             : replacePixels(image, drawable, size, bytes, error);
    if (!written)
        outcome = target.present() ? FillOutcome::failed : FillOutcome::gone;
    return outcome;
}

GimpValueArray* runOrThrow(GimpProcedure* procedure, GimpRunMode mode, GimpImage* image,
                           GimpDrawable** drawables, GimpProcedureConfig* config) {
    // Closed before the plug-in got to it: nothing to fill and nothing to tell.
    if (image != nullptr && !gimp_image_is_valid(image))
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
    if (countOf(drawables) != 1)
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kOneDrawable);
    GimpDrawable* drawable = drawables[0];
    GimpItem* item = GIMP_ITEM(drawable);
    GimpImage* owner = gimp_item_get_image(item);
    if (image == nullptr || owner == nullptr ||
        gimp_image_get_id(owner) != gimp_image_get_id(image))
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kOtherImage);
    if (gimp_item_is_group(item))
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kNoGroup);
    if (!gimp_item_is_layer(item) && !gimp_item_is_channel(item))
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kNotFillable);
    // The menu entry is greyed on indexed images, but scripts reach the procedure.
    if (gimp_drawable_is_indexed(drawable))
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kIndexed);
    if (mode == GIMP_RUN_INTERACTIVE && !askValues(procedure, config, image))
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
    // The image may have been closed while the dialog was open.
    if (testHookAt(kHookCloseAtStart))
        gimp_image_delete(image);
    if (!present(image, drawable))
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);

    // GIMP holds the arguments in their ranges; what reaches the fill is checked all the same.
    const FillValues values = valuesOf(config);
    std::string reason;
    if (!checkValues(values, gimp_drawable_get_width(drawable), gimp_drawable_get_height(drawable),
                     gimp_item_is_layer(GIMP_ITEM(drawable)), reason))
        return failure(procedure, GIMP_PDB_CALLING_ERROR, reason);
    GimpChannel* channel = sourceChannelOf(config);
    const bool allowed = channelAllowed(channel, image);
    const FillOutcome outcome =
        allowed ? fillSelection(image, drawable, values, channel, reason) : FillOutcome::failed;
    if (channel != nullptr)
        g_object_unref(channel);
    if (!allowed)
        return failure(procedure, GIMP_PDB_CALLING_ERROR, kOtherChannel);
    // The image was closed: nothing to fill and nothing to tell.
    if (outcome == FillOutcome::gone)
        return gimp_procedure_new_return_values(procedure, GIMP_PDB_CANCEL, nullptr);
    if (outcome == FillOutcome::failed)
        return failure(procedure, GIMP_PDB_EXECUTION_ERROR, reason);
    if (mode != GIMP_RUN_NONINTERACTIVE)
        gimp_displays_flush();
    return gimp_procedure_new_return_values(procedure, GIMP_PDB_SUCCESS, nullptr);
}

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode mode, GimpImage* image,
                    GimpDrawable** drawables, GimpProcedureConfig* config, gpointer) {
    try {
        return runOrThrow(procedure, mode, image, drawables, config);
    } catch (const std::exception& thrown) {
        return failure(procedure, GIMP_PDB_EXECUTION_ERROR, reasonOf(thrown));
    }
}

GList* queryProcedures(GimpPlugIn* plugIn) {
    GFile* help = g_file_new_for_path(helpFolder().c_str());
    gimp_plug_in_set_help_domain(plugIn, kHelpDomain, help);
    g_object_unref(help);
    return g_list_append(nullptr, g_strdup(kProcedure));
}

GimpProcedure* createProcedure(GimpPlugIn* plugIn, const gchar* name) {
    if (g_strcmp0(name, kProcedure) != 0)
        return nullptr;
    GimpProcedure* procedure =
        gimp_image_procedure_new(plugIn, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
    gimp_procedure_set_image_types(procedure, kImageTypes);
    gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
    gimp_procedure_set_menu_label(procedure, kMenuLabel);
    gimp_procedure_add_menu_path(procedure, kMenuPath);
    gimp_procedure_set_documentation(procedure, kBlurb, kHelp, name);
    gimp_procedure_set_attribution(procedure, kAuthor, kAuthor, kDate);
    for (const IntArgument& argument : kArguments)
        gimp_procedure_add_int_argument(procedure, argument.name, argument.label, argument.blurb, 0,
                                        argument.highest, argument.standard, G_PARAM_READWRITE);
    gimp_procedure_add_choice_argument(
        procedure, kOutput, "O_utput", kOutputBlurb,
        gimp_choice_new_with_values(kIntoLayer, static_cast<gint>(FillOutput::intoLayer),
                                    "Into the layer", nullptr, kNewLayer,
                                    static_cast<gint>(FillOutput::newLayer), "Into a new layer",
                                    nullptr, nullptr),
        kIntoLayer, G_PARAM_READWRITE);
    gimp_procedure_add_int_argument(procedure, kBandWidth, "Band width", kBandBlurb, 0,
                                    kMaxContextWidth, 0, G_PARAM_READWRITE);
    gimp_procedure_add_boolean_argument(procedure, kMatchTone, "Match tones", kMatchToneBlurb,
                                        FALSE, G_PARAM_READWRITE);
    gimp_procedure_add_channel_argument(procedure, kSourceChannel, "Source channel",
                                        kSourceChannelBlurb, TRUE, G_PARAM_READWRITE);
    gimp_procedure_add_choice_aux_argument(
        procedure, kSampleFrom, "Sample _from", "Where texture is taken from",
        gimp_choice_new_with_values(kRectangle, 0, "The source rectangle", nullptr, kAround, 1,
                                    "Around the selection", nullptr, nullptr),
        kAround, G_PARAM_READWRITE);
    gimp_procedure_add_int_aux_argument(procedure, kAroundWidth, "Band _width (pixels)",
                                        "The band of pixels around the selection sampled", 1,
                                        kMaxContextWidth, kDefaultBandWidth, G_PARAM_READWRITE);
    gimp_procedure_add_boolean_aux_argument(procedure, kMatchToneChoice, kMatchToneLabel,
                                            kMatchToneBlurb, TRUE, G_PARAM_READWRITE);
    gimp_procedure_add_int_aux_argument(procedure, kSourceChannelChoice, kSourceChannelLabel,
                                        kSourceChannelBlurb, kNoChannel, G_MAXINT, kNoChannel,
                                        G_PARAM_READWRITE);
    return procedure;
}

// The plug-in's texts are English only: no translation catalogue to look for.
gboolean noTranslation(GimpPlugIn*, const gchar*, gchar**, gchar**) {
    return FALSE;
}

} // namespace

} // namespace mendora::gimp

// The GimpPlugIn subclass GIMP 3 loads: its class methods name and create the procedure.
struct MendoraFill {
    GimpPlugIn parent_instance;
};
struct MendoraFillClass {
    GimpPlugInClass parent_class;
};
G_DEFINE_TYPE(MendoraFill, mendora_fill, GIMP_TYPE_PLUG_IN)

static void mendora_fill_class_init(MendoraFillClass* klass) {
    GimpPlugInClass* plugIn = GIMP_PLUG_IN_CLASS(klass);
    plugIn->query_procedures = mendora::gimp::queryProcedures;
    plugIn->create_procedure = mendora::gimp::createProcedure;
    plugIn->set_i18n = mendora::gimp::noTranslation;
}

static void mendora_fill_init(MendoraFill*) {}

int main(int argc, char* argv[]) {
    return gimp_main(mendora_fill_get_type(), argc, argv);
}
