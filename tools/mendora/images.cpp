// The command line's image files, the part common to both platforms: the output format by
// name, RGB and selections from decoded samples.
// In: file names, decoded samples (from the platform's codec). Out: RGB pixels, selections,
// written files.
#include "tools/mendora/images.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "tools/mendora/file_names.h"
#include "tools/mendora/output_file.h"
#include "tools/standin_host/host_limits.h"

namespace mendora::cli {

namespace {

// Checks that `path` is a regular file that can be opened for reading, with the system's
// reason when not: the codecs' own messages for a missing file differ and repeat the name,
// and a pipe or a device would be waited on for ever.
bool openable(const std::string& path, std::string& error) {
    std::error_code failure;
    const std::filesystem::file_status status = std::filesystem::status(pathOf(path), failure);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = std::filesystem::is_directory(status)
                    ? "is a folder, not an image file"
                    : "is not a regular file (a pipe or a device)";
        return false;
    }
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

// One sample of a decoded image, 8 or 16 bits (copied out of the bytes: they are no uint16_t
// objects to read through a cast).
uint32_t sampleAt(const DecodedImage& image, size_t index) {
    if (image.bits == 16) {
        uint16_t value = 0;
        std::memcpy(&value, &image.samples[index * 2], sizeof value);
        return value;
    }
    return image.samples[index];
}

// A 16-bit sample to 8 bits, rounded to the nearest: 65535 / 257 = 255.
uint8_t roundTo8(uint32_t value) {
    return static_cast<uint8_t>((value + 128) / 257);
}

// A mask's 16-bit sample to 8 bits, rounded up: the faintest nonzero value still selects.
uint8_t roundUpTo8(uint32_t value) {
    return static_cast<uint8_t>((value + 256) / 257);
}

// The RGB of every decoded pixel into `rgb`: grey repeated, 16 bits rounded, alpha left out.
void toRgb(const DecodedImage& decoded, std::vector<uint8_t>& rgb) {
    const size_t count = static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height);
    const size_t channels = static_cast<size_t>(decoded.channels);
    const bool grey = channels < 3;
    rgb.resize(count * 3);
    for (size_t i = 0; i < count; i++) {
        for (size_t c = 0; c < 3; c++) {
            const uint32_t value = sampleAt(decoded, i * channels + (grey ? 0 : c));
            rgb[i * 3 + c] = decoded.bits == 16 ? roundTo8(value) : static_cast<uint8_t>(value);
        }
    }
}

// The value a mask pixel is compared with: its alpha when it has alpha, else its grey value
// or its largest colour value; 16 bits rounded up.
uint8_t maskValue(const DecodedImage& mask, size_t pixel) {
    const size_t channels = static_cast<size_t>(mask.channels);
    const size_t first = pixel * channels;
    uint32_t value = 0;
    if (channels == 2 || channels == 4)
        value = sampleAt(mask, first + channels - 1);
    else if (channels == 3)
        value =
            std::max({sampleAt(mask, first), sampleAt(mask, first + 1), sampleAt(mask, first + 2)});
    else
        value = sampleAt(mask, first);
    return mask.bits == 16 ? roundUpTo8(value) : static_cast<uint8_t>(value);
}

} // namespace

std::vector<uint8_t> composeOutput(const RgbImage& filled, const KeptSamples& kept,
                                   const std::vector<uint8_t>& selected, int channels, int bits) {
    const size_t count = static_cast<size_t>(kept.width) * static_cast<size_t>(kept.height);
    const size_t keptChannels = static_cast<size_t>(kept.channels);
    const size_t colours = keptChannels >= 3 ? 3 : 1;
    const size_t outChannels = static_cast<size_t>(channels);
    std::vector<uint8_t> out(count * outChannels * static_cast<size_t>(bits / 8));
    const auto put = [&](size_t index, uint32_t value) {
        if (bits == 16) {
            const uint16_t sample = static_cast<uint16_t>(value);
            std::memcpy(&out[index * 2], &sample, sizeof sample);
        } else
            out[index] = static_cast<uint8_t>(value);
    };
    const auto own = [&](size_t index) {
        const uint32_t value = sampleAt(kept, index);
        return kept.bits == bits ? value : roundTo8(value);
    };
    for (size_t i = 0; i < count; i++) {
        for (size_t c = 0; c < outChannels; c++) {
            uint32_t value = own(i * keptChannels + c);
            if (c < colours && !selected.empty() && selected[i] != 0)
                value = filled.pixels[i * 3 + c] * (bits == 16 ? 257u : 1u);
            put(i * outChannels + c, value);
        }
    }
    return out;
}

bool outputFormatFromName(const std::string& path, ImageFormat& format, std::string& error) {
    std::string extension = nameOf(pathOf(path).extension());
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") {
        format = ImageFormat::png;
    } else if (extension == ".jpg" || extension == ".jpeg") {
        format = ImageFormat::jpeg;
    } else if (extension == ".tif" || extension == ".tiff") {
        format = ImageFormat::tiff;
    } else if (extension == ".webp") {
        format = ImageFormat::webp;
    } else {
        error = "the output name must end in .png, .jpg, .jpeg, .tif, .tiff or .webp";
        return false;
    }
    if (!codec::canWrite(format)) {
        error = "this build cannot write " + extension + " files";
        return false;
    }
    return true;
}

bool readImageHeader(const std::string& path, ImageHeader& header, std::string& error) {
    return openable(path, error) && codec::probe(path, header, error);
}

bool sidesWithinLimit(int64_t width, int64_t height, std::string& error) {
    if (width <= kMaxImageSide && height <= kMaxImageSide)
        return true;
    error = std::to_string(width) + " x " + std::to_string(height) + " is too large (at most " +
            std::to_string(kMaxImageSide) + " pixels a side)";
    return false;
}

bool formatHolds(ImageFormat format, const ImageHeader& header, std::string& error) {
    if (format == ImageFormat::webp &&
        (header.width > kMaxWebpSide || header.height > kMaxWebpSide)) {
        error = "WebP holds at most " + std::to_string(kMaxWebpSide) +
                " pixels a side, the image is " + std::to_string(header.width) + " x " +
                std::to_string(header.height) + " (write .png, .jpg or .tif)";
        return false;
    }
    return true;
}

bool readImage(const std::string& path, RgbImage& image, KeptSamples& kept, ImageMetadata& metadata,
               std::string& notice, std::string& error) {
    notice.clear();
    kept = KeptSamples{};
    DecodedImage decoded;
    if (!openable(path, error) || !codec::decode(path, decoded, error))
        return false;
    metadata = std::move(decoded.metadata);
    decoded.metadata = ImageMetadata{};
    notice = decoded.notice;
    splitDecoded(std::move(decoded), image, kept, notice);
    return true;
}

void splitDecoded(DecodedImage decoded, RgbImage& image, KeptSamples& kept, std::string& notice) {
    kept = KeptSamples{};
    image.width = decoded.width;
    image.height = decoded.height;
    if (decoded.channels == 3 && decoded.bits == 8) {
        // The common case: the decoded samples are the fill's input as they are.
        image.pixels = std::move(decoded.samples);
        return;
    }
    toRgb(decoded, image.pixels);
    if (decoded.channels == 1 && decoded.bits == 8)
        notice += std::string(notice.empty() ? "" : "; ") + "grey image converted to RGB";
    else
        kept = std::move(decoded);
}

bool readMask(const std::string& path, int32_t threshold, Selection& selection, std::string& notice,
              std::string& error) {
    DecodedImage decoded;
    if (!openable(path, error) || !codec::decode(path, decoded, error))
        return false;
    notice = decoded.notice;
    selection.width = decoded.width;
    selection.height = decoded.height;
    selection.byAlpha = decoded.channels == 2 || decoded.channels == 4;
    const size_t count = static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height);
    selection.mask.assign(count, 0);
    for (size_t i = 0; i < count; i++)
        selection.mask[i] = maskValue(decoded, i) >= threshold ? 1 : 0;
    return true;
}

void placeFill(const RgbImage& filled, const std::vector<uint8_t>& selected, KeptSamples& kept) {
    const size_t channels = static_cast<size_t>(kept.channels);
    const size_t colours = channels >= 3 ? 3 : 1;
    for (size_t i = 0; i < selected.size(); i++) {
        if (selected[i] == 0)
            continue;
        for (size_t c = 0; c < colours; c++) {
            const uint32_t value = filled.pixels[i * 3 + c];
            if (kept.bits == 16)
                reinterpret_cast<uint16_t*>(kept.samples.data())[i * channels + c] =
                    static_cast<uint16_t>(value * 257u);
            else
                kept.samples[i * channels + c] = static_cast<uint8_t>(value);
        }
    }
}

void takeFill(const KeptSamples& kept, const std::vector<uint8_t>& selected, RgbImage& filled) {
    const size_t channels = static_cast<size_t>(kept.channels);
    for (size_t i = 0; i < selected.size(); i++) {
        if (selected[i] == 0)
            continue;
        for (size_t c = 0; c < 3; c++) {
            const uint32_t value = sampleAt(kept, i * channels + (channels >= 3 ? c : 0));
            filled.pixels[i * 3 + c] =
                kept.bits == 16 ? roundTo8(value) : static_cast<uint8_t>(value);
        }
    }
}

bool writeImage(const std::string& path, const RgbImage& image, const KeptSamples& kept,
                const std::vector<uint8_t>& selected, ImageFormat format, int32_t quality,
                const ImageMetadata& metadata, std::string& error) {
    const bool alpha = (kept.channels == 2 || kept.channels == 4) && codec::canHoldAlpha(format);
    const int bits = kept.bits == 16 && codec::canHold16Bits(format) ? 16 : 8;
    std::vector<uint8_t> composed;
    SamplesView view{image.width, image.height, 3, 8, image.pixels.data()};
    if (kept.channels != 0 && (alpha || bits == 16)) {
        const int channels = alpha ? kept.channels : kept.channels - (kept.channels % 2 == 0);
        composed = composeOutput(image, kept, selected, channels, bits);
        view = SamplesView{image.width, image.height, channels, bits, composed.data()};
    }
    std::vector<uint8_t> bytes;
    if (!codec::encode(view, format, quality, metadata, bytes, error))
        return false;
    return replaceWhole(path, bytes, error);
}

} // namespace mendora::cli
