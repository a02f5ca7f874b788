# Python for scripts/test-gimp in GIMP 3 (python-fu-eval in gimp-console-3.0): fills selections
# with plug-in-mendora-fill and writes what the script compares: each layer's colours before
# and after the fill as PPM (its alpha as PGM), the selection over it as a PGM mask (255
# wherever the selection is nonzero), and in DIR/calls.txt one line per call the script
# checks: "NAME STATUS MESSAGE".
import array

import gi

gi.require_version("Gimp", "3.0")
gi.require_version("Gegl", "0.4")
from gi.repository import Gegl, Gimp, Gio  # noqa: E402

PROCEDURE = "plug-in-mendora-fill"


def mendora_read(drawable, babl_format):
    width, height = drawable.get_width(), drawable.get_height()
    area = Gegl.Rectangle.new(0, 0, width, height)
    data = drawable.get_buffer().get(area, 1.0, babl_format, Gegl.AbyssPolicy.NONE)
    return width, height, data


def mendora_write(path, magic, width, height, data):
    with open(path, "wb") as out:
        out.write(b"%s\n%d %d\n255\n" % (magic, width, height))
        out.write(data)


# DIR/NAME.ppm with the layer's colours, and DIR/NAME-alpha.pgm with its alpha when it has one.
def mendora_export(layer, dir, name):
    width, height, rgba = mendora_read(layer, "R'G'B'A u8")
    rgb = bytearray(width * height * 3)
    for c in range(3):
        rgb[c::3] = rgba[c::4]
    mendora_write("%s/%s.ppm" % (dir, name), b"P6", width, height, bytes(rgb))
    if layer.has_alpha():
        mendora_write("%s/%s-alpha.pgm" % (dir, name), b"P5", width, height, rgba[3::4])


# The selection over `layer` (at its offsets) as DIR/NAME.pgm.
def mendora_export_mask(img, layer, dir, name):
    _, x, y = layer.get_offsets()
    selection = img.get_selection()
    width, height = layer.get_width(), layer.get_height()
    area = Gegl.Rectangle.new(x, y, width, height)
    data = selection.get_buffer().get(area, 1.0, "Y float", Gegl.AbyssPolicy.NONE)
    mask = bytes(255 if v > 0.0 else 0 for v in array.array("f", data))
    mendora_write("%s/%s.pgm" % (dir, name), b"P5", width, height, mask)


# The selection's 8-bit values (an 8-bit image's) over the photograph's layer as a plain PGM of
# the selection's bounds at DIR/NAME-strength.pgm, placed by its comment "# at X Y".
def mendora_export_strength(img, dir, name):
    # (success, non-empty, x1, y1, x2, y2): the corners are the last four
    x1, y1, x2, y2 = Gimp.Selection.bounds(img)[-4:]
    area = Gegl.Rectangle.new(x1, y1, x2 - x1, y2 - y1)
    data = img.get_selection().get_buffer().get(area, 1.0, "Y u8", Gegl.AbyssPolicy.NONE)
    with open("%s/%s-strength.pgm" % (dir, name), "w") as out:
        out.write("P2\n# at %d %d\n%d %d\n255\n" % (x1, y1, x2 - x1, y2 - y1))
        for row in range(y2 - y1):
            out.write(" ".join(str(v) for v in data[row * (x2 - x1):(row + 1) * (x2 - x1)]))
            out.write("\n")


# Runs the filter over `drawables` (the source rectangle `source`, left, top, right, bottom;
# the context width `context`; the output "layer" or "new-layer"; the band width `band` and
# tone matching `match_tone`; the source channel `channel`) and appends "NAME STATUS MESSAGE"
# to DIR/calls.txt.
def mendora_fill(img, drawables, radius, dir, name, source=(0, 0, 0, 0), context=0,
                 output="layer", band=0, match_tone=False, channel=None):
    procedure = Gimp.get_pdb().lookup_procedure(PROCEDURE)
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.NONINTERACTIVE)
    config.set_property("image", img)
    config.set_core_object_array("drawables", drawables)
    config.set_property("patch-radius", radius)
    for side, value in zip(("left", "top", "right", "bottom"), source):
        config.set_property("source-" + side, value)
    config.set_property("context-width", context)
    config.set_property("output", output)
    # Left at their defaults unless given: every other call fills as a script without them.
    if band:
        config.set_property("band-width", band)
    if match_tone:
        config.set_property("match-tone", match_tone)
    if channel is not None:
        config.set_property("source-channel", channel)
    result = procedure.run(config)
    status = result.index(0)
    message = result.index(1) if status != Gimp.PDBStatusType.SUCCESS else ""
    mendora_note(dir, name, status.value_nick, message)
    return status


def mendora_note(dir, name, status, message):
    with open(dir + "/calls.txt", "a") as out:
        out.write("%s %s %s\n" % (name, status, " ".join(str(message).split())))


def mendora_load(path):
    return Gimp.file_load(Gimp.RunMode.NONINTERACTIVE, Gio.File.new_for_path(path))


def mendora_fill_and_export(img, layer, dir, name):
    mendora_export(layer, dir, name + "-in")
    mendora_export_mask(img, layer, dir, name + "-mask")
    mendora_fill(img, [layer], 4, dir, name)
    mendora_export(layer, dir, name + "-out")


# Script-Fu hands GIMP the values as given, so an argument out of its range reaches GIMP's
# own check (a Python config refuses it before the call).
def mendora_fill_script(img, layer, radius, dir, name):
    script = "(plug-in-mendora-fill RUN-NONINTERACTIVE %d (vector %d) %d 0 0 0 0)" % (
        img.get_id(), layer.get_id(), radius)
    procedure = Gimp.get_pdb().lookup_procedure("plug-in-script-fu-eval")
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.NONINTERACTIVE)
    config.set_property("script", script)
    result = procedure.run(config)
    status = result.index(0)
    message = result.index(1) if status != Gimp.PDBStatusType.SUCCESS else ""
    mendora_note(dir, name, status.value_nick, message)


# Hard selections (not antialiased: every selected pixel takes the fill's bytes): an ellipse on
# the photograph; a smaller layer at an offset, the selection reaching past its left edge; an
# RGBA layer whose alpha varies across the selection; two layers at once, a layer group,
# nothing selected, a radius out of range and a new layer from a channel, all refused. Then
# a feathered ellipse, a new layer, a context width and the visible-pixel cases.
def mendora_batch_tests(photo, dir):
    img = mendora_load(photo)
    base = img.get_selected_layers()[0]
    Gimp.context_set_antialias(False)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    mendora_fill_and_export(img, base, dir, "ellipse")
    mendora_export_mask(img, base, dir, "ellipse-mask-after")
    selected = [d.get_id() for d in img.get_selected_drawables()]
    mendora_note(dir, "ellipse-selected", "same" if selected == [base.get_id()] else "other", "")

    small = base.copy()
    img.insert_layer(small, None, 0)
    small.resize(300, 200, -100, -80)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 60, 120, 150, 100)
    mendora_fill_and_export(img, small, dir, "offset")
    img.remove_layer(small)
    mendora_export(base, dir, "offset-base")

    rgba = base.copy()
    img.insert_layer(rgba, None, 0)
    rgba.add_alpha()
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 200, 60, 240, 200)
    rgba.levels(Gimp.HistogramChannel.ALPHA, 0.0, 1.0, True, 1.0, 0.0, 0.4, True)
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 300, 150, 200, 200)
    rgba.levels(Gimp.HistogramChannel.ALPHA, 0.0, 1.0, True, 1.0, 0.0, 0.7, True)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 280, 120, 140, 110)
    mendora_fill_and_export(img, rgba, dir, "rgba")

    mendora_export(base, dir, "refused-in")
    mendora_fill(img, [base, rgba], 4, dir, "two-layers")
    group = Gimp.GroupLayer.new(img, "group")
    img.insert_layer(group, None, 0)
    mendora_fill(img, [group], 4, dir, "group")
    Gimp.Selection.none(img)
    mendora_fill(img, [base], 4, dir, "empty")
    # The plug-in itself would answer "nothing is selected".
    mendora_fill_script(img, base, 22, dir, "radius-22")
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 385, 95, 100, 95)
    mendora_fill(img, [base], 4, dir, "source-outside", (700, 0, 800, 400))
    # No patch of radius 21 fits within a context of 1 pixel around the ellipse.
    mendora_fill(img, [base], 21, dir, "narrow-context", context=1)
    mendora_fill(img, [Gimp.Selection.save(img)], 4, dir, "channel-new-layer", output="new-layer")
    mendora_export(base, dir, "refused-out")
    img.delete()
    # A value out of range never reaches a config, so no call can carry it.
    config = Gimp.get_pdb().lookup_procedure(PROCEDURE).create_config()
    config.set_property("patch-radius", 22)
    mendora_note(dir, "config-radius-22", "kept", config.get_property("patch-radius"))
    mendora_feather_test(photo, dir)
    mendora_new_layer_test(photo, dir)
    mendora_context_test(photo, dir)
    mendora_band_test(photo, dir)
    mendora_channel_test(photo, dir)
    mendora_visible_tests(photo, dir)
    mendora_cutout_test(photo, dir)


# A feathered ellipse filled into the photograph's layer, with NAME-strength.pgm: "feather",
# and "feather16" in 16 bits, which blends in floats.
def mendora_feather_test(photo, dir):
    mendora_feather(photo, dir, "feather", False)
    mendora_feather(photo, dir, "feather16", True)


def mendora_feather(photo, dir, name, deep):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    if deep:
        img.convert_precision(Gimp.Precision.U16_NON_LINEAR)
    Gimp.context_push()
    Gimp.context_set_feather(True)
    Gimp.context_set_feather_radius(16, 16)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    Gimp.context_pop()
    mendora_export_strength(img, dir, name)
    mendora_fill_and_export(img, layer, dir, name)
    img.delete()


# The photograph with a hard ellipse selected, its layer exported as NAME-in and the selection
# as NAME-mask: the image and the layer.
def mendora_hard_ellipse(photo, dir, name):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    Gimp.context_set_antialias(False)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    mendora_export(layer, dir, name + "-in")
    mendora_export_mask(img, layer, dir, name + "-mask")
    return img, layer


# A hard ellipse filled into a new layer: "newlayer-after" the photograph's layer after,
# "newlayer-out" the top layer after (with its alpha), and DIR/newlayer-layers the number of
# layers and the top one's name.
def mendora_new_layer_test(photo, dir):
    img, layer = mendora_hard_ellipse(photo, dir, "newlayer")
    mendora_fill(img, [layer], 4, dir, "newlayer", output="new-layer")
    mendora_export(layer, dir, "newlayer-after")
    top = img.get_layers()[0]
    mendora_export(top, dir, "newlayer-out")
    with open(dir + "/newlayer-layers", "w") as out:
        out.write("%d %s\n" % (len(img.get_layers()), top.get_name()))
    selected = [layer.get_id() for layer in img.get_selected_layers()]
    mendora_note(dir, "newlayer-selected", "new" if selected == [top.get_id()] else "other", "")
    img.delete()


# A hard ellipse filled with texture from 30 pixels around it only: "context".
def mendora_context_test(photo, dir):
    img, layer = mendora_hard_ellipse(photo, dir, "context")
    mendora_fill(img, [layer], 4, dir, "context", context=30)
    mendora_export(layer, dir, "context-out")
    img.delete()


# The same ellipse filled from the band of 30 pixels around it, tones matched: "band".
def mendora_band_test(photo, dir):
    img, layer = mendora_hard_ellipse(photo, dir, "band")
    mendora_fill(img, [layer], 4, dir, "band", band=30, match_tone=True)
    mendora_export(layer, dir, "band-out")
    img.delete()


# The same ellipse filled with texture only from a channel, a feathered rectangle beside it
# saved as a selection (its faintest values allow too): "channel", the channel over the layer
# as channel-area.pgm. Then refused before the fill, the layer left as channel-out: a channel
# "speck" of 5 x 5 pixels, too small for a patch, a band of 1 pixel, a channel of another image.
def mendora_channel_test(photo, dir):
    img, layer = mendora_hard_ellipse(photo, dir, "channel")
    Gimp.context_push()
    Gimp.context_set_feather(True)
    Gimp.context_set_feather_radius(8, 8)
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 400, 40, 180, 220)
    Gimp.context_pop()
    area = Gimp.Selection.save(img)
    img.select_item(Gimp.ChannelOps.REPLACE, area)
    mendora_export_mask(img, layer, dir, "channel-area")
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    mendora_fill(img, [layer], 4, dir, "channel", channel=area)
    mendora_export(layer, dir, "channel-out")

    img.select_rectangle(Gimp.ChannelOps.REPLACE, 450, 50, 5, 5)
    speck = Gimp.Selection.save(img)
    speck.set_name("speck")
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 385, 95, 100, 95)
    mendora_fill(img, [layer], 4, dir, "channel-speck", channel=speck)
    mendora_fill(img, [layer], 4, dir, "band-1", band=1)
    other = mendora_load(photo)
    mendora_fill(img, [layer], 4, dir, "channel-other", channel=Gimp.Selection.save(other))
    other.delete()
    mendora_export(layer, dir, "channel-refused-out")
    img.delete()


def mendora_fill_visible(img, layer, dir, name):
    mendora_export(layer, dir, name + "-in")
    mendora_fill(img, [layer], 4, dir, name)
    mendora_export(layer, dir, name + "-out")


# Texture only from visible pixels: "hidden", the photograph's only layer with a red block
# around the selection made fully transparent; "letters", an opaque black block on a
# transparent layer over the photograph, filled where it is opaque.
def mendora_visible_tests(photo, dir):
    img = mendora_load(photo)
    base = img.get_selected_layers()[0]
    base.add_alpha()
    Gimp.context_push()
    Gimp.context_set_foreground(Gegl.Color.new("red"))
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 280, 110, 160, 120)
    base.edit_fill(Gimp.FillType.FOREGROUND)
    base.levels(Gimp.HistogramChannel.ALPHA, 0.0, 1.0, True, 1.0, 0.0, 0.0, True)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 320, 140, 80, 60)
    mendora_fill_visible(img, base, dir, "hidden")
    img.delete()

    img = mendora_load(photo)
    letters = Gimp.Layer.new(img, "letters", 640, 400, Gimp.ImageType.RGBA_IMAGE, 100,
                             Gimp.LayerMode.NORMAL)
    img.insert_layer(letters, None, 0)
    letters.fill(Gimp.FillType.TRANSPARENT)
    Gimp.context_set_foreground(Gegl.Color.new("black"))
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 260, 180, 120, 40)
    letters.edit_fill(Gimp.FillType.FOREGROUND)
    img.select_item(Gimp.ChannelOps.REPLACE, letters)
    mendora_fill_visible(img, letters, dir, "letters")
    Gimp.context_pop()
    img.delete()


# In GIMP with a display, three steps, each ended by the test script pressing Ctrl+Z in the
# image's window: mendora_undo_fill fills a feathered ellipse into the layer (undo on) and
# names the image "mendora-filled"; mendora_undo_export exports the layer once the fill is
# undone, fills a hard ellipse into a new layer and names the image "mendora-newlayer";
# mendora_undo_newlayer_export exports the layer left once the new layer is gone, and notes
# how many layers there are. The keys may be handled before a step starts, so each waits
# (bounded) for what undoing gives rather than for a change; pixels are read through the PDB,
# as a buffer in this process may hold its tiles from before the undo.
def mendora_undo_fill(photo, dir):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    if not img.undo_is_enabled():
        img.undo_enable()
    mendora_export(layer, dir, "undo-in")
    Gimp.context_push()
    Gimp.context_set_feather(True)
    Gimp.context_set_feather_radius(16, 16)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    Gimp.context_pop()
    Gimp.Display.new(img)
    mendora_fill(img, [layer], 4, dir, "undo")
    mendora_export(layer, dir, "undo-filled")
    img.set_file(Gio.File.new_for_path(dir + "/mendora-filled.xcf"))
    Gimp.displays_flush()


def mendora_undo_export(photo, dir):
    import time

    img = Gimp.get_images()[0]
    layer = img.get_selected_layers()[0]
    original = mendora_load(photo)
    before = original.get_selected_layers()[0].get_pixel(310, 145).get_rgba()
    original.delete()
    for _ in range(600):
        if layer.get_pixel(310, 145).get_rgba() == before:
            break
        time.sleep(0.1)
    mendora_export(layer, dir, "undo-out")
    Gimp.context_set_antialias(False)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    mendora_fill(img, [layer], 4, dir, "undo-newlayer", output="new-layer")
    mendora_export(img.get_layers()[0], dir, "undo-newlayer-filled")
    img.set_file(Gio.File.new_for_path(dir + "/mendora-newlayer.xcf"))
    Gimp.displays_flush()


def mendora_undo_newlayer_export(dir):
    import time

    img = Gimp.get_images()[0]
    for _ in range(600):
        if len(img.get_layers()) == 1:
            break
        time.sleep(0.1)
    mendora_export(img.get_layers()[0], dir, "undo-newlayer-out")
    with open(dir + "/undo-newlayer-layers", "w") as out:
        out.write("%d\n" % len(img.get_layers()))


# In GIMP with a display: a long fill (the photograph at twice its size, a large ellipse) in
# an image named "mendora-closing" for the test script to close while the fill runs; notes
# the call and then how many images are left.
def mendora_closing_fill(photo, dir):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    img.scale(1280, 800)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 420, 240, 440, 320)
    img.set_file(Gio.File.new_for_path(dir + "/mendora-closing.xcf"))
    Gimp.Display.new(img)
    img.clean_all()  # closed without a question
    Gimp.displays_flush()
    mendora_fill(img, [layer], 4, dir, "closing")
    mendora_wait_for_plug_in_exit()
    mendora_note(dir, "closing-left", len(Gimp.get_images()), "")


# Waits (up to a minute) until no process of the plug-in is left. Its process sends GIMP a last
# message after the call has returned; GIMP quitting before that leaves the plug-in a broken
# pipe to warn of, on GIMP's output, which the test reads.
def mendora_wait_for_plug_in_exit():
    import os
    import time

    def running():
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                    if b"/plug-ins/mendora/" in cmdline.read():
                        return True
            except OSError:
                pass  # ended meanwhile
        return False

    for _ in range(600):
        if not running():
            return
        time.sleep(0.1)


# In GIMP with a display: the dialog of an interactive run over the hard ellipse of "dialog"
# and the image's one channel, the right part of the photograph (dialog-area; the test script
# chooses a band of 30 pixels within it, into a new layer, by keyboard), then the same again
# with the last values; exports the top layer after each ("dialog-out", "dialog-again") and
# DIR/dialog-layers, how many layers there are at the end.
def mendora_dialog_fill(photo, dir):
    img, layer = mendora_hard_ellipse(photo, dir, "dialog")
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 300, 0, 340, 400)
    Gimp.Selection.save(img)
    mendora_export_mask(img, layer, dir, "dialog-area")
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    Gimp.Display.new(img)
    Gimp.displays_flush()
    procedure = Gimp.get_pdb().lookup_procedure(PROCEDURE)
    for mode, name in ((Gimp.RunMode.INTERACTIVE, "dialog-out"),
                       (Gimp.RunMode.WITH_LAST_VALS, "dialog-again")):
        config = procedure.create_config()
        config.set_property("run-mode", mode)
        config.set_property("image", img)
        config.set_core_object_array("drawables", [layer])
        procedure.run(config)
        mendora_export(img.get_layers()[0], dir, name)
    with open(dir + "/dialog-layers", "w") as out:
        out.write("%d\n" % len(img.get_layers()))


# The dialog of an interactive run over an ellipse around the kite, for a screenshot.
def mendora_show_dialog(photo):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 385, 95, 100, 95)
    Gimp.Display.new(img)
    Gimp.displays_flush()
    procedure = Gimp.get_pdb().lookup_procedure(PROCEDURE)
    config = procedure.create_config()
    config.set_property("run-mode", Gimp.RunMode.INTERACTIVE)
    config.set_property("image", img)
    config.set_core_object_array("drawables", [layer])
    procedure.run(config)


def mendora_select_feathered(img):
    Gimp.context_push()
    Gimp.context_set_feather(True)
    Gimp.context_set_feather_radius(16, 16)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    Gimp.context_pop()


# Calls refused before anything runs, each with a feathered ellipse selected: an indexed image
# into the layer ("indexed-layer") and into a new layer ("indexed-new-layer"), a layer of
# another image ("other-image"). Then fills with a failure injected at a moment (the
# plug-in's test hook, through the file DIR/hook that MENDORA_GIMP_TEST_HOOK names): the image
# closed at the start of the fill ("hook-start") and at its write-back, into the layer and
# into a new layer ("hook-back", "hook-back-new"), and an exception thrown while the module
# fills ("hook-throw"); notes how many images are left ("hook-left"): GIMP 3 keeps a closed
# image until the call ends, and none once it has.
def mendora_guard_tests(photo, dir):
    for output in ("layer", "new-layer"):
        img = mendora_load(photo)
        img.convert_indexed(Gimp.ConvertDitherType.NONE, Gimp.ConvertPaletteType.GENERATE, 16,
                            False, False, "")
        mendora_select_feathered(img)
        mendora_fill(img, img.get_selected_layers(), 4, dir, "indexed-" + output, output=output)
        img.delete()
    img, other = mendora_load(photo), mendora_load(photo)
    mendora_select_feathered(img)
    mendora_fill(img, other.get_selected_layers(), 4, dir, "other-image")
    img.delete()
    other.delete()
    for moment, name, output in (("close-at-start", "hook-start", "layer"),
                                 ("close-at-write-back", "hook-back", "layer"),
                                 ("close-at-write-back", "hook-back-new", "new-layer"),
                                 ("throw", "hook-throw", "layer")):
        img = mendora_load(photo)
        img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
        with open(dir + "/hook", "w") as hook:
            hook.write(moment)
        mendora_fill(img, img.get_selected_layers(), 4, dir, name, output=output)
        if moment == "throw":
            img.delete()
    mendora_wait_for_plug_in_exit()
    mendora_note(dir, "hook-left", len(Gimp.get_images()), "")


# A cut-out with nothing below: the photograph's layer made transparent outside a large
# ellipse, and a 40 x 40 square selected across the cut-out's edge: "cutout" (the visible
# image over the layer as "cutout-visible"), filled with texture from the visible pixels only,
# the transparent ones around not filled.
def mendora_cutout_test(photo, dir):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    layer.add_alpha()
    Gimp.context_set_antialias(False)
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 80, 40, 480, 320)
    Gimp.Selection.invert(img)
    layer.edit_clear()
    img.select_rectangle(Gimp.ChannelOps.REPLACE, 130, 67, 40, 40)
    visible = Gimp.Layer.new_from_visible(img, img, "visible")
    img.insert_layer(visible, None, 0)
    mendora_export(visible, dir, "cutout-visible")
    img.remove_layer(visible)
    mendora_export_mask(img, layer, dir, "cutout-mask")
    mendora_fill_visible(img, layer, dir, "cutout")
    img.delete()


# A fill that GIMP's Cancel ends at its third step: GIMP kills a plug-in whose progress is
# canceled, and the test has the plug-in end itself so there (MENDORA_TEST_CANCEL_AT_STEP=3 in
# GIMP's environment). Exports the layer before ("cancel-in") and after ("cancel-out"), notes
# the call's outcome ("cancel") and "cancel-state LAYERS DIRTY": the layers and whether the
# image is dirty (an undo step would make it so).
def mendora_cancel_fill(photo, dir):
    img = mendora_load(photo)
    layer = img.get_selected_layers()[0]
    img.select_ellipse(Gimp.ChannelOps.REPLACE, 250, 100, 120, 90)
    mendora_export(layer, dir, "cancel-in")
    img.clean_all()
    mendora_fill(img, [layer], 4, dir, "cancel")
    mendora_wait_for_plug_in_exit()
    mendora_note(dir, "cancel-state", len(img.get_layers()), "dirty" if img.is_dirty() else "clean")
    mendora_export(layer, dir, "cancel-out")
