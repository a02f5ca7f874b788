// The GIMP 2.10 plug-in "plug-in-mendora-fill" (Filters > Enhance > Mendora Fill Selection...)
// with "plug-in-mendora-fill-context" (the same with the context width and the output, for
// scripts) and "plug-in-mendora-fill-sampling" (with the band width, tone matching and the
// source channel too): GIMP as a host of the plug-in module, over GIMP 2.10's item IDs. In: the
// image, the drawable, the selection and the procedure's values (from its dialog, its arguments or
// the last run). Out: the selection filled in the drawable or in a new layer above it as one undo
// step, or GIMP's error message with the plug-in's reason and the image unchanged. The fill itself
// is shared with the GIMP 3 plug-in (gimp_fill.h).
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

// Run mode, image, drawable and the five values of kProcedure; kContextProcedure takes the
// context width and the output as well, kSamplingProcedure the band width, tone matching and
// the source channel too. GIMP keeps the dialog's values between runs (gimp_set_data,
// LastValues).
constexpr gint kArgumentCount = 8;
constexpr gint kContextArgumentCount = 10;
constexpr gint kSamplingArgumentCount = 13;
// The source channel's argument's value for none.
constexpr gint32 kNoChannel = -1;

// What the dialog remembers: the values of the last run, the band width it offers when the
// source rectangle was chosen (the values' own is 0 then) and the source channel chosen
// (kNoChannel: none; offered again only while it is a channel of the image filled).
struct LastValues {
    FillValues values;
    int32_t aroundWidth = kDefaultBandWidth;
    gint32 sourceChannel = kNoChannel;
};

// What the dialog proposes on first use (no values kept): what fills photographs well, a band
// of kDefaultBandWidth pixels, tones matched.
LastValues firstUse() {
    LastValues proposed;
    proposed.values.bandWidth = kDefaultBandWidth;
    proposed.values.matchTone = true;
    return proposed;
}

gchar* text(const char* constant) {
    return const_cast<gchar*>(constant);
}

void query() {
    static const GimpParamDef arguments[kSamplingArgumentCount] = {
        {GIMP_PDB_INT32, text("run-mode"),
         text("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), "
              "RUN-WITH-LAST-VALS (2) }")},
        {GIMP_PDB_IMAGE, text("image"), text("The image")},
        {GIMP_PDB_DRAWABLE, text("drawable"), text("The layer to fill")},
        {GIMP_PDB_INT32, text("patch-radius"), text(kRadiusBlurb)},
        {GIMP_PDB_INT32, text("source-left"), text("Leftmost source column")},
        {GIMP_PDB_INT32, text("source-top"), text("Topmost source row")},
        {GIMP_PDB_INT32, text("source-right"),
         text("Source columns end before this one (all four 0: the whole image)")},
        {GIMP_PDB_INT32, text("source-bottom"), text("Source rows end before this one")},
        {GIMP_PDB_INT32, text("context-width"), text(kContextBlurb)},
        {GIMP_PDB_INT32, text("output"),
         text("Where the fill goes { INTO-THE-LAYER (0), INTO-A-NEW-LAYER (1) }")},
        {GIMP_PDB_INT32, text("band-width"), text(kBandBlurb)},
        {GIMP_PDB_INT32, text("match-tone"), text(kMatchToneBlurb)},
        {GIMP_PDB_CHANNEL, text("source-channel"), text(kSourceChannelBlurb)},
    };
    gimp_install_procedure(kProcedure, kBlurb, kHelp, kAuthor, kAuthor, kDate, kMenuLabel,
                           kImageTypes, GIMP_PLUGIN, kArgumentCount, 0, arguments, nullptr);
    gimp_plugin_menu_register(kProcedure, kMenuPath);
    gimp_install_procedure(kContextProcedure, kBlurb, kHelp, kAuthor, kAuthor, kDate, nullptr,
                           kImageTypes, GIMP_PLUGIN, kContextArgumentCount, 0, arguments, nullptr);
    gimp_install_procedure(kSamplingProcedure, kBlurb, kHelp, kAuthor, kAuthor, kDate, nullptr,
                           kImageTypes, GIMP_PLUGIN, kSamplingArgumentCount, 0, arguments, nullptr);
    gchar* help = g_filename_to_uri(helpFolder().c_str(), nullptr, nullptr);
    if (help != nullptr)
        gimp_plugin_help_register(kHelpDomain, help);
    g_free(help);
}

// A row of the dialog: a spin button from `lowest` to `highest` opened with `value`, after
// `label`.
GtkWidget* addValueRow(GtkWidget* table, int row, const char* label, gint32 highest, gint32 value,
                       gint32 lowest = 0) {
    GtkWidget* spin = gtk_spin_button_new_with_range(lowest, highest, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, spin, 1, TRUE);
    return spin;
}

gint32 valueOf(GtkWidget* spin) {
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

bool isActive(GtkWidget* toggle) {
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)) == TRUE;
}

// A radio button in row `row`'s second column after `label` (nullptr: none), in the group of
// `first` (nullptr: a group of its own), active when `active` is true.
GtkWidget* addRadio(GtkWidget* table, int row, const char* label, const char* text,
                    GtkWidget* first, bool active) {
    GtkWidget* button =
        first == nullptr
            ? gtk_radio_button_new_with_mnemonic(nullptr, text)
            : gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(first), text);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, button, 1, TRUE);
    if (active)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), TRUE);
    return button;
}

// The dialog's choice of the source channel: "None" (kNoChannel), then `image`'s channels by
// name, their IDs as values.
GtkWidget* channelChoice(gint32 image) {
    GtkWidget* combo = gimp_int_combo_box_new("None", kNoChannel, nullptr);
    gint count = 0;
    gint* channels = gimp_image_get_channels(image, &count);
    for (gint i = 0; i < count; i++) {
        gchar* name = gimp_item_get_name(channels[i]);
        gimp_int_combo_box_append(GIMP_INT_COMBO_BOX(combo), GIMP_INT_STORE_VALUE, channels[i],
                                  GIMP_INT_STORE_LABEL, name, -1);
        g_free(name);
    }
    g_free(channels);
    return combo;
}

// The dialog of the interactive run over `image`, opened with `kept`. Returns true with the
// values edited when OK is pressed, false when the dialog is canceled or closed. Help (and F1)
// opens the filter's page from its help domain.
bool askValues(LastValues& kept, gint32 image) {
    FillValues& values = kept.values;
    gimp_ui_init("mendora", FALSE);
    GtkWidget* dialog = gimp_dialog_new(kDialogTitle, "mendora-fill", nullptr, GtkDialogFlags(0),
                                        gimp_standard_help_func, kProcedure, "_Cancel",
                                        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                            GTK_RESPONSE_CANCEL, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* table = gtk_table_new(13, 2, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), table, TRUE, TRUE,
                       0);
    GtkWidget* radius =
        addValueRow(table, 0, "_Patch radius:", largestPatchRadius(), values.patchRadius);
    gimp_help_set_help_data(radius, kRadiusBlurb, nullptr);

    // Sample from: the source rectangle (its four rows follow) or the band of N pixels around
    // the selection (a script's context width, when the last values hold one, is offered as the
    // band's width).
    const bool aroundChosen = values.bandWidth > 0 || values.contextWidth > 0;
    const int32_t aroundWidth = values.bandWidth > 0      ? values.bandWidth
                                : values.contextWidth > 0 ? values.contextWidth
                                                          : kept.aroundWidth;
    GtkWidget* rectangle =
        addRadio(table, 1, "Sample from:", "The source rectan_gle", nullptr, !aroundChosen);
    GtkWidget* left =
        addValueRow(table, 2, "Source _left:", runner::kMaxImageSide, values.sourceLeft);
    GtkWidget* top = addValueRow(table, 3, "Source _top:", runner::kMaxImageSide, values.sourceTop);
    GtkWidget* right =
        addValueRow(table, 4, "Source _right:", runner::kMaxImageSide, values.sourceRight);
    GtkWidget* bottom =
        addValueRow(table, 5, "Source _bottom:", runner::kMaxImageSide, values.sourceBottom);
    GtkWidget* hint = gtk_label_new(kSourceHint);
    gtk_misc_set_alignment(GTK_MISC(hint), 0.0, 0.5);
    gtk_table_attach_defaults(GTK_TABLE(table), hint, 0, 2, 6, 7);
    GtkWidget* around =
        addRadio(table, 7, nullptr, "_Around the selection", rectangle, aroundChosen);
    GtkWidget* width =
        addValueRow(table, 8, "Band _width (pixels):", kMaxContextWidth, aroundWidth, 1);
    for (GtkWidget* side : {left, top, right, bottom, hint})
        g_object_bind_property(rectangle, "active", side, "sensitive", G_BINDING_SYNC_CREATE);
    g_object_bind_property(around, "active", width, "sensitive", G_BINDING_SYNC_CREATE);
    // The image's channels, "None" first; the kept one while it is still one of them.
    GtkWidget* channel = channelChoice(image);
    if (!gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(channel), kept.sourceChannel))
        gimp_int_combo_box_set_active(GIMP_INT_COMBO_BOX(channel), kNoChannel);
    const std::string channelLabel = std::string(kSourceChannelLabel) + ":";
    gimp_table_attach_aligned(GTK_TABLE(table), 0, 9, channelLabel.c_str(), 0.0, 0.5, channel, 1,
                              TRUE);
    gimp_help_set_help_data(channel, kSourceChannelBlurb, nullptr);

    GtkWidget* intoLayer = addRadio(table, 10, "Output:", "Into the la_yer", nullptr,
                                    values.output == FillOutput::intoLayer);
    GtkWidget* newLayer = addRadio(table, 11, nullptr, "Into a _new layer", intoLayer,
                                   values.output == FillOutput::newLayer);
    GtkWidget* matchTone = gtk_check_button_new_with_mnemonic(kMatchToneLabel);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(matchTone), values.matchTone);
    gtk_table_attach_defaults(GTK_TABLE(table), matchTone, 0, 2, 12, 13);
    gtk_widget_show_all(dialog);

    const bool confirmed = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (confirmed) {
        kept.aroundWidth = valueOf(width);
        values = FillValues{valueOf(radius),
                            valueOf(left),
                            valueOf(top),
                            valueOf(right),
                            valueOf(bottom),
                            0,
                            isActive(newLayer) ? FillOutput::newLayer : FillOutput::intoLayer,
                            isActive(around) ? kept.aroundWidth : 0,
                            isActive(matchTone)};
        if (!gimp_int_combo_box_get_active(GIMP_INT_COMBO_BOX(channel), &kept.sourceChannel))
            kept.sourceChannel = kNoChannel;
    }
    gtk_widget_destroy(dialog);
    return confirmed;
}

// The values of a call with `count` arguments: kProcedure's fill into the layer with the
// typed source rectangle; kContextProcedure's name the context width and the output too,
// kSamplingProcedure's the band width and tone matching as well (0 or 1; its source channel
// is read by the caller).
FillValues valuesFromArguments(const GimpParam* params, gint count) {
    FillValues values{params[3].data.d_int32, params[4].data.d_int32, params[5].data.d_int32,
                      params[6].data.d_int32, params[7].data.d_int32};
    if (count >= kContextArgumentCount) {
        values.contextWidth = params[8].data.d_int32;
        values.output = static_cast<FillOutput>(params[9].data.d_int32);
    }
    if (count == kSamplingArgumentCount) {
        values.bandWidth = params[10].data.d_int32;
        values.matchTone = params[11].data.d_int32 != 0;
    }
    return values;
}

GeglRectangle wholeDrawable(gint32 drawable) {
    return GeglRectangle{0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable)};
}

// Puts `bytes` (the drawable's own format, the whole drawable) into the drawable as one undo
// step. Merging GIMP's shadow buffer blends by the selection's values, which would mix a
// feathered edge with the old pixels; the selection is therefore set aside (kept as a
// channel) while merging and put back afterwards, all inside the same undo group. Returns
// false with GIMP's reason in `error` when the pixels could not be written.
bool replacePixels(gint32 image, gint32 drawable, const std::vector<uint8_t>& bytes,
                   std::string& error) {
    const GeglRectangle area = wholeDrawable(drawable);
    const gint32 activeChannel = gimp_image_get_active_channel(image);
    gimp_image_undo_group_start(image);
    const gint32 keptSelection = gimp_selection_save(image);
    gimp_selection_none(image);

    bool written = putPixels(gimp_drawable_get_shadow_buffer(drawable),
                             gimp_drawable_get_format(drawable), area, bytes, error);
    if (written && !gimp_drawable_merge_shadow(drawable, TRUE)) {
        error = std::string("GIMP could not write the filled pixels: ") + gimp_get_pdb_error();
        written = false;
    }

    // The kept channel replaces the empty selection value for value: no feathering.
    gimp_context_push();
    gimp_context_set_feather(FALSE);
    gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, keptSelection);
    gimp_context_pop();
    gimp_image_remove_channel(image, keptSelection);
    if (activeChannel != -1)
        gimp_image_set_active_channel(image, activeChannel);
    else
        gimp_image_unset_active_channel(image);
    if (written)
        gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    gimp_image_undo_group_end(image);
    return written;
}

// Puts `bytes` (newLayerBytes' pixels of the layer `drawable`) into a new layer named
// kNewLayerName of the drawable's size and offsets, inserted right above it, as one undo step;
// the drawable and the selection stay as they are, the new layer becomes the active one.
// Returns false with GIMP's reason in `error`, no layer added, when GIMP makes or takes none.
bool addFilledLayer(gint32 image, gint32 drawable, const std::vector<uint8_t>& bytes,
                    std::string& error) {
    const GeglRectangle area = wholeDrawable(drawable);
    gint x = 0, y = 0;
    gimp_drawable_offsets(drawable, &x, &y);
    gimp_image_undo_group_start(image);
    const gint32 layer =
        gimp_layer_new(image, kNewLayerName, area.width, area.height,
                       gimp_drawable_is_gray(drawable) ? GIMP_GRAYA_IMAGE : GIMP_RGBA_IMAGE, 100.0,
                       GIMP_LAYER_MODE_NORMAL);
    // Inserted at the drawable's position, which moves the drawable one down.
    bool written = layer != -1 &&
                   gimp_image_insert_layer(image, layer, gimp_item_get_parent(drawable),
                                           gimp_image_get_item_position(image, drawable)) &&
                   gimp_layer_set_offsets(layer, x, y);
    if (!written)
        error = std::string("GIMP could not add the new layer: ") + gimp_get_pdb_error();
    else
        written = putPixels(gimp_drawable_get_buffer(layer),
                            newLayerFormat(gimp_drawable_get_format(drawable)), area, bytes, error);
    if (written) {
        gimp_drawable_update(layer, 0, 0, area.width, area.height);
        // Active, as GIMP's own commands leave a layer they add.
        gimp_image_set_active_layer(image, layer);
    } else if (layer != -1 && gimp_item_is_valid(layer)) {
        gimp_image_remove_layer(image, layer);
    }
    gimp_image_undo_group_end(image);
    return written;
}

// True while `image` and `drawable` exist: the image may be closed at any moment.
bool present(gint32 image, gint32 drawable) {
    return gimp_image_is_valid(image) && gimp_item_is_valid(drawable);
}

// Fills the selection in `drawable` (a layer or a channel), texture taken from the visible
// image over a layer, into the drawable or into a new layer above it (values.output). Returns
// failed with the reason in `error`, the image unchanged, when
// nothing is selected over the drawable, the module cannot fill it or GIMP does not take the
// pixels; gone when the image was closed meanwhile. Texture comes only from where `channel`
// (kNoChannel: none) is nonzero.
FillOutcome fillSelection(gint32 image, gint32 drawable, const FillValues& values, gint32 channel,
                          std::string& error) {
    FillTarget target;
    target.area = wholeDrawable(drawable);
    gimp_drawable_offsets(drawable, &target.area.x, &target.area.y);
    target.format = gimp_drawable_get_format(drawable);
    target.selectionEmpty = gimp_selection_is_empty(image);
    target.pixels = gimp_drawable_get_buffer(drawable);
    target.selection = gimp_drawable_get_buffer(gimp_image_get_selection(image));
    if (channel != kNoChannel) {
        gint x = 0, y = 0;
        gimp_drawable_offsets(channel, &x, &y);
        target.sourceChannel = gimp_drawable_get_buffer(channel);
        gchar* name = gimp_item_get_name(channel);
        target.sourceChannelName = name != nullptr ? name : "";
        g_free(name);
        target.sourceChannelArea = GeglRectangle{target.area.x - x, target.area.y - y,
                                                 target.area.width, target.area.height};
    }
    const gint32 visible =
        gimp_item_is_layer(drawable) ? gimp_layer_new_from_visible(image, image, "visible") : -1;
    if (visible != -1)
        target.visible = gimp_drawable_get_buffer(visible);
    target.present = [image, drawable] { return present(image, drawable); };
    std::vector<uint8_t> bytes;
    FillOutcome outcome = fillDrawable(target, values, bytes, error);
    if (visible != -1 && gimp_item_is_valid(visible))
        gimp_item_delete(visible);
    if (outcome != FillOutcome::filled)
        return outcome;
    // The image may have been closed since the fill ended: GIMP would kill a plug-in that
    // writes into a drawable gone.
    if (testHookAt(kHookCloseAtWriteBack))
        gimp_image_delete(image);
    if (!target.present())
        return FillOutcome::gone;
    const bool written = values.output == FillOutput::newLayer
                             ? addFilledLayer(image, drawable, bytes, error)
                             : replacePixels(image, drawable, bytes, error);
    if (!written)
        outcome = target.present() ? FillOutcome::failed : FillOutcome::gone;
    return outcome;
}

// Why `drawable` cannot be filled in `image`, or nullptr when it can: only a layer or a
// channel (a layer mask, a saved selection) of `image` with pixels of its own can, and no
// layer of palette indices.
const char* refusal(gint32 image, gint32 drawable) {
    if (!gimp_item_is_valid(drawable))
        return kNotFillable;
    if (gimp_item_get_image(drawable) != image)
        return kOtherImage;
    if (gimp_item_is_group(drawable))
        return kNoGroup;
    if (!gimp_item_is_layer(drawable) && !gimp_item_is_channel(drawable))
        return kNotFillable;
    if (gimp_drawable_is_indexed(drawable))
        return kIndexed;
    return nullptr;
}

// Why `channel` cannot be the source channel of a fill in `image`, or nullptr when it can:
// kNoChannel, or a channel of `image`.
const char* channelRefusal(gint32 image, gint32 channel) {
    if (channel == kNoChannel)
        return nullptr;
    if (!gimp_item_is_valid(channel) || !gimp_item_is_channel(channel) ||
        gimp_item_get_image(channel) != image)
        return kOtherChannel;
    return nullptr;
}

// Reads the values of the last interactive run into `kept` (every procedure shares them).
// Returns false, `kept` as it was, when GIMP keeps none of this plug-in's size.
bool lastValues(LastValues& kept) {
    if (gimp_get_data_size(kProcedure) != static_cast<gint>(sizeof kept))
        return false;
    gimp_get_data(kProcedure, &kept);
    return true;
}

void run(const gchar* name, gint count, const GimpParam* params, gint* returnCount,
         GimpParam** returnValues) {
    static GimpParam values[2];
    static std::string reason; // outlives the call: GIMP reads it after run returns
    *returnCount = 1;
    *returnValues = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    const auto fail = [&](GimpPDBStatusType status, const std::string& why) {
        reason = why;
        values[0].data.d_status = status;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = text(reason.c_str());
        *returnCount = 2;
    };

    const gint expected = g_strcmp0(name, kSamplingProcedure) == 0  ? kSamplingArgumentCount
                          : g_strcmp0(name, kContextProcedure) == 0 ? kContextArgumentCount
                                                                    : kArgumentCount;
    if (count != expected) {
        values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
        return;
    }
    const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
    const gint32 image = params[1].data.d_image;
    const gint32 drawable = params[2].data.d_drawable;
    // Closed before the plug-in got to it: nothing to fill and nothing to tell.
    if (!gimp_image_is_valid(image)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    if (const char* why = refusal(image, drawable)) {
        fail(GIMP_PDB_CALLING_ERROR, why);
        return;
    }
    if (mode == GIMP_RUN_NONINTERACTIVE && count == kSamplingArgumentCount &&
        params[11].data.d_int32 != 0 && params[11].data.d_int32 != 1) {
        fail(GIMP_PDB_CALLING_ERROR, "match-tone is " + std::to_string(params[11].data.d_int32) +
                                         "; it must be 0 (the fill as it is) or 1 (tones matched)");
        return;
    }
    gegl_init(nullptr, nullptr);
    // Scripts' last values without a kept run are the defaults; the dialog proposes firstUse.
    LastValues kept;
    if (!lastValues(kept) && mode == GIMP_RUN_INTERACTIVE)
        kept = firstUse();
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        kept.values = valuesFromArguments(params, count);
        kept.sourceChannel =
            count == kSamplingArgumentCount ? params[12].data.d_channel : kNoChannel;
    } else if (mode == GIMP_RUN_INTERACTIVE && !askValues(kept, image)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    // The image may have been closed while the dialog was open.
    if (testHookAt(kHookCloseAtStart))
        gimp_image_delete(image);
    if (!present(image, drawable)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    const FillValues& chosen = kept.values;
    if (!checkValues(chosen, gimp_drawable_width(drawable), gimp_drawable_height(drawable),
                     gimp_item_is_layer(drawable), reason)) {
        fail(GIMP_PDB_CALLING_ERROR, reason);
        return;
    }
    if (const char* why = channelRefusal(image, kept.sourceChannel)) {
        fail(GIMP_PDB_CALLING_ERROR, why);
        return;
    }

    FillOutcome outcome = FillOutcome::failed;
    try {
        outcome = fillSelection(image, drawable, chosen, kept.sourceChannel, reason);
    } catch (const std::exception& failure) {
        reason = reasonOf(failure);
    }
    if (outcome == FillOutcome::gone) {
        // The image was closed: nothing to fill and nothing to tell.
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }
    if (outcome == FillOutcome::failed) {
        fail(GIMP_PDB_EXECUTION_ERROR, reason);
        return;
    }
    if (mode != GIMP_RUN_NONINTERACTIVE)
        gimp_displays_flush();
    if (mode == GIMP_RUN_INTERACTIVE)
        gimp_set_data(kProcedure, &kept, sizeof kept);
}

const GimpPlugInInfo pluginInfo = {nullptr, nullptr, query, run};

} // namespace

} // namespace mendora::gimp

int main(int argc, char* argv[]) {
    return gimp_main(&mendora::gimp::pluginInfo, argc, argv);
}
