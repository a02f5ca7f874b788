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

#include "tools/mendora/output_file.h"

namespace mendora::cli {

namespace {

// Checks that `path` is a regular file that can be opened for reading, with the system's
// reason when not: the codecs' own messages for a missing file differ and repeat the name,
// and a pipe or a device would be waited on for ever.
bool openable(const std::string& path, std::string& error) {
    std::error_code failure;
    const std::filesystem::file_status status = std::filesystem::status(path, failure);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = std::filesystem::is_directory(status)
                    ? "is a folder, not an image file"
                    : "is not a regular file (a pipe or a device)";
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

const char* conversionNotice(int channels) {
    switch (channels) {
    case 1:
        return "grey image converted to RGB";
    case 2:
        return "grey image with alpha converted to RGB (alpha dropped)";
    case 4:
        return "RGBA image converted to RGB (alpha dropped)";
    default:
        return "";
    }
}

// The RGB of the decoded pixel at `samples`: grey repeated, alpha dropped.
void toRgb(const uint8_t* samples, int channels, uint8_t* rgb) {
    const bool grey = channels < 3;
    rgb[0] = samples[0];
    rgb[1] = grey ? samples[0] : samples[1];
    rgb[2] = grey ? samples[0] : samples[2];
}

// The value a mask pixel is compared with: its alpha when it has alpha, else its grey value
// or its largest colour value.
uint8_t maskValue(const uint8_t* samples, int channels) {
    switch (channels) {
    case 2:
        return samples[1];
    case 4:
        return samples[3];
    case 3:
        return std::max({samples[0], samples[1], samples[2]});
    default:
        return samples[0];
    }
}

} // namespace

bool outputFormatFromName(const std::string& path, ImageFormat& format, std::string& error) {
    std::string extension = std::filesystem::path(path).extension().string();
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

bool readImage(const std::string& path, RgbImage& image, ImageMetadata& metadata,
               std::string& notice, std::string& error) {
    notice.clear();
    DecodedImage decoded;
    if (!openable(path, error) || !codec::decode(path, decoded, error))
        return false;
    image.width = decoded.width;
    image.height = decoded.height;
    if (decoded.channels == 3) {
        image.pixels = std::move(decoded.samples);
    } else {
        const size_t count =
            static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height);
        image.pixels.resize(count * 3);
        for (size_t i = 0; i < count; i++)
            toRgb(&decoded.samples[i * static_cast<size_t>(decoded.channels)], decoded.channels,
                  &image.pixels[i * 3]);
    }
    metadata = std::move(decoded.metadata);
    notice = conversionNotice(decoded.channels);
    return true;
}

bool readMask(const std::string& path, int32_t threshold, Selection& selection,
              std::string& error) {
    DecodedImage decoded;
    if (!openable(path, error) || !codec::decode(path, decoded, error))
        return false;
    selection.width = decoded.width;
    selection.height = decoded.height;
    selection.byAlpha = decoded.channels == 2 || decoded.channels == 4;
    const size_t count = static_cast<size_t>(decoded.width) * static_cast<size_t>(decoded.height);
    selection.mask.assign(count, 0);
    for (size_t i = 0; i < count; i++) {
        const uint8_t value = maskValue(&decoded.samples[i * static_cast<size_t>(decoded.channels)],
                                        decoded.channels);
        selection.mask[i] = value >= threshold ? 1 : 0;
    }
    return true;
}

bool writeImage(const std::string& path, const RgbImage& image, ImageFormat format, int32_t quality,
                const ImageMetadata& metadata, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!codec::encode(image, format, quality, metadata, bytes, error))
        return false;
    return replaceWhole(path, bytes, error);
}

} // namespace mendora::cli
