// The GIMP 2.10 plug-in "plug-in-mendora-fill" (Filters > Enhance > Mendora Fill Selection...):
// GIMP as a host of the plug-in module. In: the image, the drawable, the selection and the
// procedure's values (from its dialog, its arguments or the last run). Out: the selection
// filled in the drawable as one undo step, or GIMP's error message with the plug-in's reason
// and the image unchanged.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>

#include "tools/gimp/gimp_pixels.h"
#include "tools/standin_host/filter_run.h"

namespace mendora::gimp {

namespace {

constexpr char kProcedure[] = "plug-in-mendora-fill";
constexpr char kMenuLabel[] = "Mendora Fill Selection...";
constexpr char kMenuPath[] = "<Image>/Filters/Enhance";
// The module is installed beside this program.
constexpr char kModuleName[] = "Zendrel.so";
// The progress bar pulses this often while the module fills (it reports progress only once,
// at the end).
constexpr std::chrono::milliseconds kPulseInterval{100};
// The dialog's limits: the parameter block keeps signed 16-bit values.
constexpr gdouble kLowestValue = -32768;
constexpr gdouble kHighestValue = 32767;

// The procedure's values after run mode, image and drawable, in the order of its arguments;
// kept between runs by GIMP (gimp_set_data). Four zeros for the rectangle: the whole image.
struct FillValues {
    gint32 patchRadius = 4;
    gint32 sourceLeft = 0;
    gint32 sourceTop = 0;
    gint32 sourceRight = 0;
    gint32 sourceBottom = 0;
};
constexpr gint kArgumentCount = 8;

gchar* text(const char* constant) {
    return const_cast<gchar*>(constant);
}

void query() {
    static const GimpParamDef arguments[kArgumentCount] = {
        {GIMP_PDB_INT32, text("run-mode"),
         text("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), "
              "RUN-WITH-LAST-VALS (2) }")},
        {GIMP_PDB_IMAGE, text("image"), text("The image")},
        {GIMP_PDB_DRAWABLE, text("drawable"), text("The layer to fill")},
        {GIMP_PDB_INT32, text("patch-radius"),
         text("Patch radius (0 or less: the plug-in's default, 4)")},
        {GIMP_PDB_INT32, text("source-left"), text("Leftmost source column")},
        {GIMP_PDB_INT32, text("source-top"), text("Topmost source row")},
        {GIMP_PDB_INT32, text("source-right"),
         text("Source columns end before this one (all four 0: the whole image)")},
        {GIMP_PDB_INT32, text("source-bottom"), text("Source rows end before this one")},
    };
    gimp_install_procedure(
        kProcedure, "Fill the selection with texture from the rest of the image",
        "Replaces every selected pixel of the layer (any nonzero selection value) by texture "
        "copied patch by patch from the source rectangle, starting where image edges run into "
        "the selection.",
        "Mendora", "Mendora", "2026", kMenuLabel, "RGB*, GRAY*", GIMP_PLUGIN, kArgumentCount, 0,
        arguments, nullptr);
    gimp_plugin_menu_register(kProcedure, kMenuPath);
}

GtkWidget* addValueRow(GtkWidget* table, int row, const char* label, gint32 value) {
    GtkWidget* spin = gtk_spin_button_new_with_range(kLowestValue, kHighestValue, 1);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), value);
    gtk_entry_set_activates_default(GTK_ENTRY(spin), TRUE);
    gimp_table_attach_aligned(GTK_TABLE(table), 0, row, label, 0.0, 0.5, spin, 1, TRUE);
    return spin;
}

gint32 valueOf(GtkWidget* spin) {
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

// The dialog of the interactive run, opened with `values`. Returns true with the values
// edited when OK is pressed, false when the dialog is canceled or closed.
bool askValues(FillValues& values) {
    gimp_ui_init("mendora", FALSE);
    GtkWidget* dialog =
        gimp_dialog_new("Mendora Fill Selection", "mendora-fill", nullptr, GtkDialogFlags(0),
                        gimp_standard_help_func, kProcedure, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
                        GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                            GTK_RESPONSE_CANCEL, -1);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gimp_window_set_transient(GTK_WINDOW(dialog));

    GtkWidget* table = gtk_table_new(6, 2, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 6);
    gtk_container_set_border_width(GTK_CONTAINER(table), 12);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), table, TRUE, TRUE,
                       0);
    GtkWidget* radius = addValueRow(table, 0, "_Patch radius:", values.patchRadius);
    GtkWidget* left = addValueRow(table, 1, "Source _left:", values.sourceLeft);
    GtkWidget* top = addValueRow(table, 2, "Source _top:", values.sourceTop);
    GtkWidget* right = addValueRow(table, 3, "Source _right:", values.sourceRight);
    GtkWidget* bottom = addValueRow(table, 4, "Source _bottom:", values.sourceBottom);
    GtkWidget* hint = gtk_label_new("Texture comes from columns left to right - 1 and rows top "
                                    "to bottom - 1;\nall four 0: the whole image.");
    gtk_misc_set_alignment(GTK_MISC(hint), 0.0, 0.5);
    gtk_table_attach_defaults(GTK_TABLE(table), hint, 0, 2, 5, 6);
    gtk_widget_show_all(dialog);

    const bool confirmed = gimp_dialog_run(GIMP_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (confirmed)
        values = FillValues{valueOf(radius), valueOf(left), valueOf(top), valueOf(right),
                            valueOf(bottom)};
    gtk_widget_destroy(dialog);
    return confirmed;
}

FillValues valuesFromArguments(const GimpParam* params) {
    return FillValues{params[3].data.d_int32, params[4].data.d_int32, params[5].data.d_int32,
                      params[6].data.d_int32, params[7].data.d_int32};
}

// The texts typed into the module's region dialog, as the command line types them: the
// source rectangle (the whole layer for four zeros) and the patch radius.
runner::DialogValues typedValues(const FillValues& values, const runner::RgbImage& pixels) {
    const bool wholeImage = values.sourceLeft == 0 && values.sourceTop == 0 &&
                            values.sourceRight == 0 && values.sourceBottom == 0;
    const gint32 right = wholeImage ? pixels.width : values.sourceRight;
    const gint32 bottom = wholeImage ? pixels.height : values.sourceBottom;
    return runner::DialogValues{std::to_string(values.sourceLeft), std::to_string(values.sourceTop),
                                std::to_string(right), std::to_string(bottom),
                                std::to_string(values.patchRadius)};
}

std::string modulePath() {
    std::error_code failed;
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe", failed).parent_path() / kModuleName;
    if (!failed && std::filesystem::exists(beside, failed))
        return beside.string();
    return runner::pluginModulePath("");
}

// The module's result code in words, with what to change in GIMP when no patch fits.
std::string describeResult(int16_t code) {
    if (code == errBadParameters)
        return runner::resultInWords(code) +
               " (widen the source rectangle, lower the patch radius or select less)";
    return runner::resultInWords(code);
}

// Runs the module over `pixels` on a worker thread while this thread, GIMP's, pulses the
// progress bar. Answers like runner::runFilter.
bool runWithProgress(const runner::RgbImage& pixels, const std::vector<uint8_t>& mask,
                     const runner::DialogValues& typed, runner::FillRun& run, std::string& error) {
    gimp_progress_init("Mendora: filling the selection");
    std::atomic<bool> done{false};
    bool ran = false;
    std::thread worker([&] {
        try {
            ran = runner::runFilter(modulePath(), pixels, mask, typed, false, false, run, error);
        } catch (const std::exception&) {
            error = "out of memory";
        }
        done = true;
    });
    while (!done) {
        gimp_progress_pulse();
        std::this_thread::sleep_for(kPulseInterval);
    }
    worker.join();
    gimp_progress_update(1.0);
    gimp_progress_end();
    return ran;
}

// Fills the selection in `drawable`. Returns false with the reason in `error`, the image
// unchanged, when nothing is selected over the drawable or the module cannot fill it.
bool fillSelection(gint32 image, gint32 drawable, const FillValues& values, std::string& error) {
    if (gimp_selection_is_empty(image)) {
        error = "nothing is selected: select the region to fill first";
        return false;
    }
    runner::RgbImage pixels;
    if (!readDrawable(drawable, pixels, error))
        return false;
    const std::vector<uint8_t> mask = readSelection(image, drawable);
    if (std::find(mask.begin(), mask.end(), 1) == mask.end()) {
        error = "the selection does not touch the layer";
        return false;
    }
    runner::FillRun run;
    if (!runWithProgress(pixels, mask, typedValues(values, pixels), run, error))
        return false;
    if (run.result != resultSuccess) {
        error = "the plug-in reported " + describeResult(run.result);
        return false;
    }
    writeFilled(image, drawable, run.output, mask);
    return true;
}

void run(const gchar*, gint count, const GimpParam* params, gint* returnCount,
         GimpParam** returnValues) {
    static GimpParam values[2];
    static std::string reason; // outlives the call: GIMP reads it after run returns
    *returnCount = 1;
    *returnValues = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_SUCCESS;

    const auto mode = static_cast<GimpRunMode>(params[0].data.d_int32);
    const gint32 image = params[1].data.d_image;
    const gint32 drawable = params[2].data.d_drawable;
    gegl_init(nullptr, nullptr);
    FillValues chosen;
    gimp_get_data(kProcedure, &chosen);
    if (mode == GIMP_RUN_NONINTERACTIVE) {
        if (count != kArgumentCount) {
            values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
            return;
        }
        chosen = valuesFromArguments(params);
    } else if (mode == GIMP_RUN_INTERACTIVE && !askValues(chosen)) {
        values[0].data.d_status = GIMP_PDB_CANCEL;
        return;
    }

    bool filled = false;
    try {
        filled = fillSelection(image, drawable, chosen, reason);
    } catch (const std::exception&) {
        reason = "out of memory";
    }
    if (!filled) {
        values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = text(reason.c_str());
        *returnCount = 2;
        return;
    }
    if (mode != GIMP_RUN_NONINTERACTIVE)
        gimp_displays_flush();
    if (mode == GIMP_RUN_INTERACTIVE)
        gimp_set_data(kProcedure, &chosen, sizeof chosen);
}

const GimpPlugInInfo pluginInfo = {nullptr, nullptr, query, run};

} // namespace

} // namespace mendora::gimp

int main(int argc, char* argv[]) {
    return gimp_main(&mendora::gimp::pluginInfo, argc, argv);
}
