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

// A decoded image file as a viewer shows it (its orientation applied): samples of `bits`
// bits (8, or 16 in the machine's byte order) of `channels` channels (1 grey, 2 grey and
// alpha, 3 RGB, 4 RGBA) in rows of width x channels.
struct DecodedImage {
    int32_t width = 0;
    int32_t height = 0;
    int channels = 0;
    int bits = 8;
    std::vector<uint8_t> samples;
    ImageMetadata metadata;
    // What decoding converted or left out, in a few words ("only the first of its 2 pages or
    // frames is read"); empty when nothing.
    std::string notice;
};

// Samples to encode, without owning them: laid out as in DecodedImage.
struct SamplesView {
    int32_t width = 0;
    int32_t height = 0;
    int channels = 0;
    int bits = 8;
    const uint8_t* samples = nullptr;
};

// What an output keeps of the input's own samples besides the fill's 8-bit RGB: the decoded
// samples of an image with alpha or of 16 bits, so that the output keeps the alpha and the
// unselected pixels' bits where its format can hold them. Empty (channels 0) for an 8-bit
// image without alpha, whose RGB is the fill's input as it is.
using KeptSamples = DecodedImage;

enum class ImageFormat { png, jpeg, tiff, webp };

// The extent of an image file as a viewer shows it (its orientation applied), and what
// decoding it takes.
struct ImageHeader {
    int32_t width = 0;
    int32_t height = 0;
    int channels = 4; // as decoded (DecodedImage); a codec that cannot tell leaves 4 and 8
    int bits = 8;
    // Bytes the decoder holds besides the decoded samples when it decodes the whole image at
    // once (a progressive JPEG's coefficients, a GIF's or WebP's frame), 0 when it decodes
    // row by row.
    uint64_t decoderBytes = 0;
};

// The format an output name asks for, by its extension (case ignored): .png, .jpg or .jpeg,
// .tif or .tiff, .webp. Returns false with the reason in `error` for any other name, and
// for a format this build cannot write.
bool outputFormatFromName(const std::string& path, ImageFormat& format, std::string& error);

// Reads the extent of the image file `path` from its header, before any pixel is decoded,
// and checks what the header tells: its type, its samples (8 or 16 bits, grey or RGB with or
// without alpha) and its size (at most kMaxImageSide a side). Returns false with the reason
// in `error` (without the file name) when the file is missing, unreadable, not a regular
// file (a folder, a pipe or a device), or fails one of these checks.
bool readImageHeader(const std::string& path, ImageHeader& header, std::string& error);

// Checks `width` x `height` against kMaxImageSide. Returns false with the reason
// ("W x H is too large (at most 32767 pixels a side)") in `error`.
bool sidesWithinLimit(int64_t width, int64_t height, std::string& error);

// Checks that an image of `header`'s extent fits `format` (WebP: at most kMaxWebpSide a
// side). Returns false with the reason in `error`.
bool formatHolds(ImageFormat format, const ImageHeader& header, std::string& error);

// Reads an image as the fill's 8-bit RGB, as viewers show it: grey repeated, 16-bit samples
// rounded to 8 bits, alpha left out. An image with alpha or of 16 bits also leaves its own
// samples in `kept` (with its metadata there empty); otherwise `kept` is empty. `notice` says
// in a few words what was converted or left out ("grey image converted to RGB"; a CIELAB
// image converted, the pages after the first, a JPEG's warning that lost no pixel), or is
// empty. Returns
// false with the reason in `error` (without the file name) when the file fails
// readImageHeader's checks or cannot be decoded whole (a truncated or damaged file is
// refused, never filled in with made-up pixels).
bool readImage(const std::string& path, RgbImage& image, KeptSamples& kept, ImageMetadata& metadata,
               std::string& notice, std::string& error);

// What readImage makes of the decoded samples: the fill's 8-bit RGB in `image`, and for an
// image with alpha or of 16 bits its own samples in `kept` (otherwise `kept` is empty); what
// was converted is added to `notice` as readImage gives it.
void splitDecoded(DecodedImage decoded, RgbImage& image, KeptSamples& kept, std::string& notice);

// The output's samples from the fill's 8-bit RGB `filled` and the input's `kept` samples, in
// `channels` channels (kept's, or one fewer without alpha) of `bits` bits (kept's, or 8):
// selected pixels (`selected`, nonzero) take the fill's colours (times 257 for 16 bits) and
// keep their alpha; every other pixel keeps its own samples, exactly when the bits are kept's.
std::vector<uint8_t> composeOutput(const RgbImage& filled, const KeptSamples& kept,
                                   const std::vector<uint8_t>& selected, int channels, int bits);

// A selection read from a mask image: one byte per pixel in rows of `width` bytes, 1 where
// selected. `byAlpha` is true when the mask had alpha and its alpha decided.
struct Selection {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> mask;
    bool byAlpha = false;
};

// Reads a mask: a pixel is selected when its alpha (when the mask has alpha), else its grey
// value or its largest colour value, is at least `threshold` (1 to 255); a 16-bit value v
// counts as v / 257 rounded up, so that any nonzero value selects at threshold 1. `notice` says
// what decoding left out or met that lost no pixel, or is empty. Fails like readImage.
bool readMask(const std::string& path, int32_t threshold, Selection& selection, std::string& notice,
              std::string& error);

// Puts the fill's colours of the pixels `selected` marks (one byte a pixel, nonzero selected)
// into `kept`'s colour samples (times 257 for 16 bits; a grey image takes the red), so that
// kept holds the whole output in its own bits.
void placeFill(const RgbImage& filled, const std::vector<uint8_t>& selected, KeptSamples& kept);

// The reverse of placeFill: the selected pixels of `filled` from `kept`'s colours, rounded to
// 8 bits (a grey image's repeated).
void takeFill(const KeptSamples& kept, const std::vector<uint8_t>& selected, RgbImage& filled);

// Writes the fill's `image` in `format` (JPEG and WebP at `quality`, 1 to 100) with `metadata`
// (the colour profile always; EXIF and XMP in JPEG only; the orientation set to upright) to
// `path`, whole or not at all (replaceWhole in output_file.h). With `kept` samples, the
// output keeps their alpha (PNG, TIFF, WebP) and their 16 bits (PNG, TIFF): the pixels that
// `selected` marks (one byte per pixel, nonzero selected) take the fill's colours, every other
// pixel keeps its own samples exactly; with `selected` empty, kept holds the fill already
// (placeFill) and every pixel keeps its samples. Returns false with the reason in `error`.
bool writeImage(const std::string& path, const RgbImage& image, const KeptSamples& kept,
                const std::vector<uint8_t>& selected, ImageFormat format, int32_t quality,
                const ImageMetadata& metadata, std::string& error);

// The platform's codec, for images.cpp.
namespace codec {

// Reads the header of `path` as readImageHeader describes (the file is known to be a
// readable regular file).
bool probe(const std::string& path, ImageHeader& header, std::string& error);

// Decodes `path` as a viewer shows it. The extent is checked against kMaxImageSide before the
// pixels are decoded. Returns false with the reason in `error` (see readImage); throws
// std::bad_alloc when memory runs out, in the decoder too (probe and encode likewise).
bool decode(const std::string& path, DecodedImage& image, std::string& error);

// True when this build can write `format`.
bool canWrite(ImageFormat format);

// True when this build writes `format` with alpha, and with 16 bits per sample.
bool canHoldAlpha(ImageFormat format);
bool canHold16Bits(ImageFormat format);

// Encodes `image` (whose channels and bits `format` can hold) as writeImage describes into
// `bytes`. Returns false with the reason.
bool encode(const SamplesView& image, ImageFormat format, int32_t quality,
            const ImageMetadata& metadata, std::vector<uint8_t>& bytes, std::string& error);

} // namespace codec

} // namespace mendora::cli
