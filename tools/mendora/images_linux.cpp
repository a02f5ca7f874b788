// The command line's image codec on Linux: libvips reads and writes every common format by
// file name, applies the EXIF orientation, and carries the colour profile and metadata.
// In: image files. Out: decoded samples as viewers show them; encoded files.
#include <libexif/exif-data.h>
#include <vips/vips.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "tools/mendora/images.h"
#include "tools/mendora/jpeg_check.h"
#include "tools/mendora/jpeg_xmp.h"
#include "tools/mendora/warning_store.h"

namespace mendora::cli::codec {

namespace {

struct ImageUnref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using Image = std::unique_ptr<VipsImage, ImageUnref>;

// libvips' warnings (a damaged file's details), called from its worker threads: the last is
// kept for the one-line reason (warning_store.cpp).
void keepWarning(const gchar*, GLogLevelFlags, const gchar* text, gpointer) {
    keepLastWarning(text);
}

// libvips is started once, on first use, and shut down when the program ends (its worker
// threads released, so leak checkers see none of them). Its operation cache is off: every
// file is read once, and a cached load would keep the decoded pixels alive through the fill
// (4 MP RGB: 12 MB). Loaders meant for trusted input only (SVG, PDF, ImageMagick and the
// like, which run scripts, fetch resources or have no size limits) are blocked: any file may
// come in here.
bool start() {
    if (VIPS_INIT("mendora") != 0 || std::atexit(vips_shutdown) != 0)
        return false;
    vips_cache_set_max(0);
    vips_block_untrusted_set(TRUE);
    g_log_set_handler("VIPS",
                      static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                      keepWarning, nullptr);
    return true;
}

bool started() {
    static const bool ready = start();
    return ready;
}

// The first line of libvips' error buffer (which is cleared), or its last warning when the
// buffer says nothing.
std::string libraryError() {
    std::string text = vips_error_buffer();
    vips_error_clear();
    if (text.empty())
        text = takeLastWarning();
    if (text.empty())
        text = "damaged or unsupported file";
    const size_t end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

// libvips' reason for a failed step (libraryError). Memory or threads running out inside
// libvips (its allocations, glib's thread start under an address-space limit, the codec
// libraries' own allocations: libjpeg's "Insufficient memory", libpng's and libtiff's "Out of
// memory") are thrown as std::bad_alloc: out of memory anywhere ends the run as the plug-in's
// own would.
std::string failureReason() {
    std::string reason = libraryError();
    for (const char* exhausted :
         {"out of memory", "Out of memory", "Insufficient memory", "failed to allocate",
          "Error creating thread", "Cannot allocate memory"})
        if (reason.find(exhausted) != std::string::npos)
            throw std::bad_alloc();
    return reason;
}

std::vector<uint8_t> blob(VipsImage* image, const char* name) {
    const void* data = nullptr;
    size_t size = 0;
    if (vips_image_get_typeof(image, name) == 0 || vips_image_get_blob(image, name, &data, &size))
        return {};
    const auto* first = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(first, first + size);
}

int orientation(VipsImage* image) {
    int value = 1;
    if (vips_image_get_typeof(image, VIPS_META_ORIENTATION) != 0)
        vips_image_get_int(image, VIPS_META_ORIENTATION, &value);
    return value;
}

// Opens `path` as a viewer shows it (its header only: the pixels are decoded when written
// out). An upright file is read in one pass from top to bottom, straight into the caller's
// samples; one to be turned is read whole first (turning reads it out of order). A file that
// ends early fails the decoding instead of being padded with made-up pixels. Null with
// libvips' error buffer set on failure.
Image openUpright(const std::string& path) {
    Image stored(vips_image_new_from_file(path.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                          VIPS_FAIL_ON_TRUNCATED, nullptr));
    if (stored && orientation(stored.get()) > 1)
        stored.reset(
            vips_image_new_from_file(path.c_str(), "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr));
    VipsImage* rotated = nullptr;
    if (!stored || vips_autorot(stored.get(), &rotated, nullptr) != 0)
        return nullptr;
    return Image(rotated);
}

bool isJpegFile(VipsImage* image) {
    const char* loader = nullptr;
    return vips_image_get_typeof(image, VIPS_META_LOADER) != 0 &&
           vips_image_get_string(image, VIPS_META_LOADER, &loader) == 0 &&
           std::string(loader) == "jpegload";
}

// True for the interpretations of grey and RGB samples (MULTIBAND: bands without a colour
// space, as some loaders leave grey and alpha).
bool plainInterpretation(VipsInterpretation interpretation) {
    switch (interpretation) {
    case VIPS_INTERPRETATION_MULTIBAND:
    case VIPS_INTERPRETATION_B_W:
    case VIPS_INTERPRETATION_GREY16:
    case VIPS_INTERPRETATION_sRGB:
    case VIPS_INTERPRETATION_RGB:
    case VIPS_INTERPRETATION_RGB16:
        return true;
    default:
        return false;
    }
}

// Checks the layout of the upright image before its pixels are decoded: its extent, its
// coding (none: LabQ is converted before), its samples and its colour space.
bool checkLayout(VipsImage* image, std::string& error) {
    const int width = vips_image_get_width(image);
    const int height = vips_image_get_height(image);
    if (!sidesWithinLimit(width, height, error))
        return false;
    if (vips_image_get_format(image) != VIPS_FORMAT_UCHAR &&
        vips_image_get_format(image) != VIPS_FORMAT_USHORT) {
        error = "only images of 8 or 16 bits per sample are supported";
        return false;
    }
    if (vips_image_get_coding(image) != VIPS_CODING_NONE ||
        !plainInterpretation(vips_image_get_interpretation(image)) ||
        vips_image_get_bands(image) > 4) {
        const char* space =
            vips_enum_nick(VIPS_TYPE_INTERPRETATION, vips_image_get_interpretation(image));
        error = std::string("only grey and RGB images (with or without alpha) are supported, "
                            "not ") +
                (vips_image_get_coding(image) == VIPS_CODING_RAD ? "Radiance" : space);
        return false;
    }
    return true;
}

// An image in CIELAB (8-bit LabQ-coded or 16-bit LabS) converted to sRGB as libvips converts
// colour spaces (8-bit sRGB, 16-bit RGB for 16-bit samples), without the input's profile
// (which described the Lab values). `image` itself when it is not Lab; null with libvips'
// error buffer set on failure.
Image labToRgb(Image image, std::string& notice) {
    const VipsInterpretation space = vips_image_get_interpretation(image.get());
    if (vips_image_get_coding(image.get()) != VIPS_CODING_LABQ &&
        space != VIPS_INTERPRETATION_LAB && space != VIPS_INTERPRETATION_LABS &&
        space != VIPS_INTERPRETATION_LABQ)
        return image;
    const VipsBandFormat format = vips_image_get_format(image.get());
    const bool deep = vips_image_get_coding(image.get()) == VIPS_CODING_NONE &&
                      format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_CHAR;
    VipsImage* converted = nullptr;
    if (vips_colourspace(image.get(), &converted,
                         deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB, nullptr) != 0)
        return nullptr;
    Image rgb(converted);
    vips_image_remove(rgb.get(), VIPS_META_ICC_NAME);
    notice = deep ? "CIELAB image converted to 16-bit RGB" : "CIELAB image converted to sRGB";
    return rgb;
}

struct ExifUnref {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// The EXIF block `exif` without its thumbnail (IFD1 and the preview image): the thumbnail
// shows the picture before the fill, and sideways once the pixels are turned upright. Every
// other tag is kept as stored (libexif's fixing of tags to the standard is off). Empty when
// the block holds no readable tag: a block that cannot be cleaned is not carried over.
std::vector<uint8_t> exifWithoutThumbnail(const std::vector<uint8_t>& exif) {
    std::unique_ptr<ExifData, ExifUnref> data(exif_data_new());
    if (!data)
        return {};
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), exif.data(), static_cast<unsigned int>(exif.size()));
    if (data->ifd[EXIF_IFD_0]->count == 0)
        return {};
    ExifContent* thumbnailTags = data->ifd[EXIF_IFD_1];
    while (thumbnailTags->count > 0)
        exif_content_remove_entry(thumbnailTags, thumbnailTags->entries[0]);
    // The preview's bytes belong to the block's allocator, libexif's default (malloc).
    std::free(data->data);
    data->data = nullptr;
    data->size = 0;
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data.get(), &saved, &size);
    if (saved == nullptr)
        return {};
    std::vector<uint8_t> cleaned(saved, saved + size);
    std::free(saved);
    return cleaned;
}

void setBlob(VipsImage* image, const char* name, const std::vector<uint8_t>& bytes) {
    if (!bytes.empty())
        vips_image_set_blob_copy(image, name, bytes.data(), bytes.size());
}

// Attaches what the output keeps: the profile always; in JPEG, EXIF without its thumbnail,
// upright. (XMP is written into the encoded JPEG afterwards: writeUprightXmp.)
void attachMetadata(VipsImage* image, ImageFormat format, const ImageMetadata& metadata) {
    setBlob(image, VIPS_META_ICC_NAME, metadata.iccProfile);
    if (format != ImageFormat::jpeg)
        return;
    if (!metadata.exif.empty())
        setBlob(image, VIPS_META_EXIF_NAME, exifWithoutThumbnail(metadata.exif));
    // The pixels are upright; the EXIF block written is rebuilt with this orientation.
    vips_image_set_int(image, VIPS_META_ORIENTATION, 1);
}

// The loader libvips chooses for `path` when none is blocked: libvips 8.14 chooses among all
// loaders and refuses a blocked one as it starts, 8.16 passes blocked ones over, so they are
// let in for the choice alone. Null when no loader takes the file.
const char* chosenLoader(const std::string& path) {
    const char* loader = vips_foreign_find_load(path.c_str());
    if (loader == nullptr) {
        vips_block_untrusted_set(FALSE);
        loader = vips_foreign_find_load(path.c_str());
        vips_block_untrusted_set(TRUE);
    }
    vips_error_clear();
    return loader;
}

// The class of the loader named `loader` (a type name, as vips_foreign_find_load gives).
// Fills `nickname` ("ppmload") and answers whether it is blocked here.
bool loaderBlocked(const char* loader, std::string& nickname) {
    const GType type = g_type_from_name(loader);
    if (type == 0)
        return false;
    gpointer loaderClass = g_type_class_ref(type);
    const auto* operation = static_cast<VipsOperationClass*>(loaderClass);
    const auto* object = static_cast<VipsObjectClass*>(loaderClass);
    nickname = object->nickname != nullptr ? object->nickname : loader;
    const bool blocked =
        (operation->flags & (VIPS_OPERATION_UNTRUSTED | VIPS_OPERATION_BLOCKED)) != 0;
    g_type_class_unref(loaderClass);
    return blocked;
}

// The loader of the trusted types by the file's first bytes (TIFF, PNG, JPEG, GIF, WebP), or
// null. When libvips chose none of them for such a file, that loader's own error is the
// file's real reason (a TIFF cut short is passed over by the TIFF loader's quick test).
const char* ownLoaderByMagic(const std::string& path) {
    unsigned char start[12] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return nullptr;
    const size_t got = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    const auto is = [&](const char* magic, size_t at, size_t length) {
        return got >= at + length && std::memcmp(start + at, magic, length) == 0;
    };
    if (is("II*\0", 0, 4) || is("MM\0*", 0, 4) || is("II+\0", 0, 4) || is("MM\0+", 0, 4))
        return "tiffload";
    if (is("\x89PNG\r\n\x1a\n", 0, 8))
        return "pngload";
    if (is("\xff\xd8\xff", 0, 3))
        return "jpegload";
    if (is("GIF87a", 0, 6) || is("GIF89a", 0, 6))
        return "gifload";
    if (is("RIFF", 0, 4) && is("WEBP", 8, 4))
        return "webpload";
    return nullptr;
}

// `reason` without a leading "`path`: " (libvips' messages name the file again).
std::string withoutName(std::string reason, const std::string& path) {
    const std::string named = path + ": ";
    if (reason.rfind(named, 0) == 0)
        reason.erase(0, named.size());
    return reason;
}

// Why `path` cannot be opened when libvips chose no loader for it or a blocked one (`loader`,
// null for none): the trusted loader's own error for a file of its type, else which loader
// was blocked, else that no loader reads it.
std::string whyNotOpened(const std::string& path, const char* loader) {
    if (const char* own = ownLoaderByMagic(path)) {
        VipsImage* image = nullptr;
        if (vips_call(own, path.c_str(), &image, nullptr) == 0) {
            g_object_unref(image);
            vips_error_clear();
            return "cannot read the image: damaged or unsupported file";
        }
        return "cannot read the image: " + withoutName(libraryError(), path);
    }
    std::string nickname;
    if (loader != nullptr && loaderBlocked(loader, nickname))
        return "not read: libvips reads files of this type only with a loader it does not vouch "
               "for with untrusted files (" +
               nickname + "), which is blocked here as SVG's, PDF's and others' are";
    return "not an image file of any type read here";
}

// Opens `path` upright, converts CIELAB to RGB (saying so in `notice`) and checks its layout,
// as probe describes. Null with the reason in `error` on failure.
Image openChecked(const std::string& path, std::string& notice, std::string& error) {
    if (!started()) {
        error = "cannot start the image library: " + libraryError();
        return nullptr;
    }
    takeLastWarning();
    const char* loader = chosenLoader(path);
    std::string nickname;
    if (loader == nullptr || loaderBlocked(loader, nickname)) {
        error = whyNotOpened(path, loader);
        return nullptr;
    }
    Image upright = openUpright(path);
    if (upright)
        upright = labToRgb(std::move(upright), notice);
    if (!upright) {
        error = "cannot read the image: " + withoutName(failureReason(), path);
        return nullptr;
    }
    if (!checkLayout(upright.get(), error))
        return nullptr;
    return upright;
}

const char* suffix(ImageFormat format) {
    switch (format) {
    case ImageFormat::jpeg:
        return ".jpg";
    case ImageFormat::tiff:
        return ".tif";
    case ImageFormat::webp:
        return ".webp";
    case ImageFormat::png:
        break;
    }
    return ".png";
}

// PNG's deflate effort: level 1 of the left differences was the fastest setting tried and
// its files nearly the smallest (bench/PERFORMANCE.md).
constexpr int kPngCompression = 1;
constexpr VipsForeignPngFilter kPngFilter = VIPS_FOREIGN_PNG_FILTER_SUB;

int writeToBuffer(VipsImage* image, ImageFormat format, int32_t quality, void** buffer,
                  size_t* size) {
    switch (format) {
    case ImageFormat::png:
        return vips_image_write_to_buffer(image, suffix(format), buffer, size, "compression",
                                          kPngCompression, "filter", kPngFilter, nullptr);
    case ImageFormat::jpeg:
    case ImageFormat::webp:
        return vips_image_write_to_buffer(image, suffix(format), buffer, size, "Q",
                                          static_cast<int>(quality), nullptr);
    case ImageFormat::tiff:
        break;
    }
    return vips_image_write_to_buffer(image, suffix(format), buffer, size, nullptr);
}

// The integer field `name` of `image`, or 0 when it has none.
int intField(VipsImage* image, const char* name) {
    int value = 0;
    if (vips_image_get_typeof(image, name) != 0)
        vips_image_get_int(image, name, &value);
    return value;
}

// The bytes a loader holds besides the samples it delivers when it decodes the whole image
// before the first row comes out (`header` gives the samples): libjpeg's coefficients of a
// progressive JPEG (2 bytes a sample, at most one a pixel and band), the frame GIF and WebP
// decode into (4 bytes a pixel), an interlaced PNG's or a HEIF's whole image. 0 for loaders
// that decode row by row.
uint64_t wholeImageBuffer(VipsImage* image, const ImageHeader& header) {
    const char* loader = nullptr;
    if (vips_image_get_typeof(image, VIPS_META_LOADER) == 0 ||
        vips_image_get_string(image, VIPS_META_LOADER, &loader) != 0)
        return 0;
    const std::string name = loader;
    const uint64_t pixels =
        static_cast<uint64_t>(header.width) * static_cast<uint64_t>(header.height);
    const uint64_t samples = pixels * static_cast<uint64_t>(header.channels);
    if (name == "jpegload")
        return intField(image, "jpeg-multiscan") != 0 ? samples * 2 : 0;
    if (name == "gifload" || name == "webpload")
        return pixels * 4;
    if ((name == "pngload" && intField(image, "interlaced") != 0) || name == "heifload")
        return samples * static_cast<uint64_t>(header.bits / 8);
    return 0;
}

// The number of pages or frames in `image` (a multi-page TIFF, an animated GIF or WebP).
int pageCount(VipsImage* image) {
    return std::max(1, intField(image, VIPS_META_N_PAGES));
}

// Adds `part` to the notice `notice` ("a; b").
void addNotice(std::string& notice, const std::string& part) {
    if (!part.empty())
        notice += (notice.empty() ? "" : "; ") + part;
}

} // namespace

bool probe(const std::string& path, ImageHeader& header, std::string& error) {
    std::string converted;
    Image upright = openChecked(path, converted, error);
    if (!upright)
        return false;
    header.width = vips_image_get_width(upright.get());
    header.height = vips_image_get_height(upright.get());
    header.channels = vips_image_get_bands(upright.get());
    header.bits = vips_image_get_format(upright.get()) == VIPS_FORMAT_USHORT ? 16 : 8;
    header.decoderBytes = wholeImageBuffer(upright.get(), header);
    return true;
}

bool decode(const std::string& path, DecodedImage& image, std::string& error) {
    image.notice.clear();
    // libjpeg turns damaged data into grey pixels with a warning, which libvips passes on as
    // pixels: the file's scans are decoded first and such a warning refuses it.
    if (!jpegDecodesWhole(path, image.notice, error))
        return false;
    std::string converted;
    Image upright = openChecked(path, converted, error);
    if (!upright)
        return false;
    addNotice(image.notice, converted);
    const int pages = pageCount(upright.get());
    if (pages > 1)
        addNotice(image.notice,
                  "only the first of its " + std::to_string(pages) + " pages or frames is read");
    const int width = vips_image_get_width(upright.get());
    const int height = vips_image_get_height(upright.get());
    const int bands = vips_image_get_bands(upright.get());
    const VipsBandFormat format = vips_image_get_format(upright.get());
    const int bits = format == VIPS_FORMAT_USHORT ? 16 : 8;
    // Decoded straight into the samples: no whole copy in between.
    image.samples.resize(static_cast<size_t>(width) * static_cast<size_t>(height) *
                         static_cast<size_t>(bands) * static_cast<size_t>(bits / 8));
    Image target(vips_image_new_from_memory(image.samples.data(), image.samples.size(), width,
                                            height, bands, format));
    if (!target || vips_image_write(upright.get(), target.get()) != 0) {
        error = "cannot decode the image: " + failureReason();
        return false;
    }
    image.width = width;
    image.height = height;
    image.channels = bands;
    image.bits = bits;
    image.metadata.iccProfile = blob(upright.get(), VIPS_META_ICC_NAME);
    if (isJpegFile(upright.get())) {
        image.metadata.exif = blob(upright.get(), VIPS_META_EXIF_NAME);
        image.metadata.xmp = blob(upright.get(), VIPS_META_XMP_NAME);
    }
    return true;
}

bool canWrite(ImageFormat format) {
    return started() && vips_foreign_find_save_buffer(suffix(format)) != nullptr;
}

bool canHoldAlpha(ImageFormat format) {
    return format != ImageFormat::jpeg;
}

bool canHold16Bits(ImageFormat format) {
    return format == ImageFormat::png || format == ImageFormat::tiff;
}

bool encode(const SamplesView& image, ImageFormat format, int32_t quality,
            const ImageMetadata& metadata, std::vector<uint8_t>& bytes, std::string& error) {
    const bool deep = image.bits == 16;
    const size_t sampleBytes =
        static_cast<size_t>(image.width) * static_cast<size_t>(image.height) *
        static_cast<size_t>(image.channels) * static_cast<size_t>(image.bits / 8);
    Image pixels(vips_image_new_from_memory(image.samples, sampleBytes, image.width, image.height,
                                            image.channels,
                                            deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR));
    const VipsInterpretation interpretation =
        image.channels < 3 ? (deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                           : (deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
    VipsImage* copied = nullptr;
    if (!pixels || vips_copy(pixels.get(), &copied, "interpretation", interpretation, nullptr)) {
        error = "cannot encode the image: " + failureReason();
        return false;
    }
    Image out(copied);
    attachMetadata(out.get(), format, metadata);
    void* buffer = nullptr;
    size_t size = 0;
    const int failed = writeToBuffer(out.get(), format, quality, &buffer, &size);
    if (failed != 0) {
        error = "cannot encode the image: " + failureReason();
        return false;
    }
    const auto* first = static_cast<const uint8_t*>(buffer);
    bytes.assign(first, first + size);
    g_free(buffer);
    if (format == ImageFormat::jpeg && !metadata.xmp.empty())
        writeUprightXmp(bytes, metadata.xmp);
    return true;
}

} // namespace mendora::cli::codec
