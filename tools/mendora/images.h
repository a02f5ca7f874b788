// Reading and writing the command line's image files. The decoding and encoding is the
// platform's (images_linux.cpp: libvips; images_win32.cpp: stb); what the command line does
// with the samples, the output's name and the whole-or-nothing write is common (images.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/standin_host/rgb_image.h"

namespace mendora::cli {

using runner::kMaxImageSide;
using runner::RgbImage;

// What an output keeps of the input file besides its pixels.
struct ImageMetadata {
    std::vector<uint8_t> iccProfile; // the embedded colour profile, empty when none
    std::vector<uint8_t> exif;       // the raw EXIF block of a JPEG, empty otherwise
    std::vector<uint8_t> xmp;        // the XMP packet of a JPEG, empty otherwise
};

// A decoded image file as a viewer shows it (its orientation applied): 8-bit samples of
// `channels` channels (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA) in rows of width x channels.
struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    int channels = 0;
    std::vector<uint8_t> samples;
    ImageMetadata metadata;
};

enum class ImageFormat { png, jpeg, tiff, webp };

// The extent of an image file as a viewer shows it (its orientation applied).
struct ImageHeader {
    int32_t width = 0;
    int32_t height = 0;
};

// The largest width and height WebP can hold.
constexpr int32_t kMaxWebpSide = 16383;

// The format an output name asks for, by its extension (case ignored): .png, .jpg or .jpeg,
// .tif or .tiff, .webp. Returns false with the reason in `error` for any other name, and
// for a format this build cannot write.
bool outputFormatFromName(const std::string& path, ImageFormat& format, std::string& error);

// Reads the extent of the image file `path` from its header, before any pixel is decoded,
// and checks what the header tells: its type, its samples (8 bits, grey or RGB with or
// without alpha) and its size (at most kMaxImageSide a side). Returns false with the reason
// in `error` (without the file name) when the file is missing, unreadable, not a regular
// file (a folder, a pipe or a device), or fails one of these checks.
bool readImageHeader(const std::string& path, ImageHeader& header, std::string& error);

// Checks that an image of `header`'s extent fits `format` (WebP: at most kMaxWebpSide a
// side). Returns false with the reason in `error`.
bool formatHolds(ImageFormat format, const ImageHeader& header, std::string& error);

// Reads an 8-bit image as RGB, as viewers show it. Grey, grey with alpha and RGBA images are
// converted (alpha dropped), and `notice` then says so in a few words ("grey image converted
// to RGB"); otherwise it is empty. Returns false with the reason in `error` (without the file
// name) when the file fails readImageHeader's checks or cannot be decoded whole (a truncated
// or damaged file is refused, never filled in with made-up pixels).
bool readImage(const std::string& path, RgbImage& image, ImageMetadata& metadata,
               std::string& notice, std::string& error);

// A selection read from a mask image: one byte per pixel in rows of `width` bytes, 1 where
// selected. `byAlpha` is true when the mask had alpha and its alpha decided.
struct Selection {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> mask;
    bool byAlpha = false;
};

// Reads a mask: a pixel is selected when its alpha (when the mask has alpha), else its grey
// value or its largest colour value, is at least `threshold` (1 to 255). Fails like readImage.
bool readMask(const std::string& path, int32_t threshold, Selection& selection, std::string& error);

// Writes `image` in `format` (JPEG and WebP at `quality`, 1 to 100) with `metadata` (the
// colour profile always; EXIF and XMP in JPEG only; the orientation set to upright) to `path`,
// whole or not at all (replaceWhole in output_file.h). Returns false with the reason in
// `error`.
bool writeImage(const std::string& path, const RgbImage& image, ImageFormat format, int32_t quality,
                const ImageMetadata& metadata, std::string& error);

// The platform's codec, for images.cpp.
namespace codec {

// Reads the header of `path` as readImageHeader describes (the file is known to be a
// readable regular file).
bool probe(const std::string& path, ImageHeader& header, std::string& error);

// Decodes `path` as a viewer shows it. The extent is checked against kMaxImageSide before the
// pixels are decoded. Returns false with the reason in `error` (see readImage).
bool decode(const std::string& path, DecodedImage& image, std::string& error);

// True when this build can write `format`.
bool canWrite(ImageFormat format);

// Encodes `image` as writeImage describes into `bytes`. Returns false with the reason.
bool encode(const RgbImage& image, ImageFormat format, int32_t quality,
            const ImageMetadata& metadata, std::vector<uint8_t>& bytes, std::string& error);

} // namespace codec

} // namespace mendora::cli
