// Pixels between GIMP and the plug-in module. In: the drawable (any type and precision GIMP
// offers) and the image's selection. Out: 8-bit R'G'B' pixels and a 0/1 mask for the module;
// afterwards the filled pixels in the drawable's own format, alpha untouched.
#include "tools/gimp/gimp_pixels.h"

#include <cstring>

namespace mendora::gimp {

namespace {

// 8-bit R'G'B' in the colour space of the drawable's image, so that filling moves no colour
// into another space.
const Babl* moduleFormat(gint32 drawable) {
    return babl_format_with_space("R'G'B' u8", gimp_drawable_get_format(drawable));
}

GeglRectangle wholeDrawable(gint32 drawable) {
    return GeglRectangle{0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable)};
}

// Puts `bytes` (the drawable's own format, the whole drawable) into the drawable as one undo
// step. Merging GIMP's shadow buffer blends by the selection's values, which would mix a
// feathered edge with the old pixels; the selection is therefore set aside (kept as a
// channel) while merging and put back afterwards, all inside the same undo group.
void replacePixels(gint32 image, gint32 drawable, const std::vector<uint8_t>& bytes) {
    const GeglRectangle area = wholeDrawable(drawable);
    const gint32 activeChannel = gimp_image_get_active_channel(image);
    gimp_image_undo_group_start(image);
    const gint32 keptSelection = gimp_selection_save(image);
    gimp_selection_none(image);

    GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
    gegl_buffer_set(shadow, &area, 0, gimp_drawable_get_format(drawable), bytes.data(),
                    GEGL_AUTO_ROWSTRIDE);
    g_object_unref(shadow); // hands the pixels over to GIMP
    gimp_drawable_merge_shadow(drawable, TRUE);

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
    gimp_drawable_update(drawable, area.x, area.y, area.width, area.height);
    gimp_image_undo_group_end(image);
}

} // namespace

bool readDrawable(gint32 drawable, runner::RgbImage& pixels, std::string& error) {
    const GeglRectangle area = wholeDrawable(drawable);
    if (area.width > runner::kMaxImageSide || area.height > runner::kMaxImageSide) {
        error = "the layer is " + std::to_string(area.width) + " x " + std::to_string(area.height) +
                " pixels; at most " + std::to_string(runner::kMaxImageSide) +
                " on each side can be filled";
        return false;
    }
    pixels.width = area.width;
    pixels.height = area.height;
    pixels.pixels.resize(size_t{3} * area.width * area.height);
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, &area, 1.0, moduleFormat(drawable), pixels.pixels.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);
    return true;
}

std::vector<uint8_t> readSelection(gint32 image, gint32 drawable) {
    GeglRectangle area = wholeDrawable(drawable);
    gimp_drawable_offsets(drawable, &area.x, &area.y);
    // Floats, so that the faintest feathered value still reads as nonzero.
    std::vector<float> coverage(size_t{1} * area.width * area.height);
    GeglBuffer* selection = gimp_drawable_get_buffer(gimp_image_get_selection(image));
    gegl_buffer_get(selection, &area, 1.0, babl_format("Y float"), coverage.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(selection);
    std::vector<uint8_t> mask(coverage.size());
    for (size_t i = 0; i < coverage.size(); i++)
        mask[i] = coverage[i] > 0.0f ? 1 : 0;
    return mask;
}

void writeFilled(gint32 image, gint32 drawable, const runner::RgbImage& filled,
                 const std::vector<uint8_t>& mask) {
    const Babl* own = gimp_drawable_get_format(drawable);
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(own));
    const size_t count = mask.size();
    // Alpha is the last component of GIMP's formats; its bytes stay as they are.
    const size_t colourBytes =
        babl_format_has_alpha(own)
            ? pixelBytes - pixelBytes / static_cast<size_t>(babl_format_get_n_components(own))
            : pixelBytes;

    std::vector<uint8_t> bytes(pixelBytes * count);
    const GeglRectangle area = wholeDrawable(drawable);
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, &area, 1.0, own, bytes.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);

    std::vector<uint8_t> converted(pixelBytes * count);
    babl_process(babl_fish(moduleFormat(drawable), own), filled.pixels.data(), converted.data(),
                 static_cast<long>(count));
    for (size_t i = 0; i < count; i++)
        if (mask[i] != 0)
            std::memcpy(&bytes[i * pixelBytes], &converted[i * pixelBytes], colourBytes);
    replacePixels(image, drawable, bytes);
}

} // namespace mendora::gimp
