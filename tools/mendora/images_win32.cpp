// The command line's image codec on Windows: the stb single-file libraries (compiled here,
// once), PNG and JPEG in, PNG and JPEG out. No orientation, profile or metadata: stb reads
// none of them (libvips, which the Linux build uses, has no build for this compiler).
// In: PNG and JPEG files. Out: decoded samples; encoded files.
#include <cstdio>
#include <memory>

#include "tools/mendora/images.h"

#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_IMPLEMENTATION
// GCC 14 cannot follow stb's PNG reader through its inlined paths: it takes the 16-bit
// transparency key, set only when a tRNS chunk was read, for one that may be used unset.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <stb_image.h>
#pragma GCC diagnostic pop
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace mendora::cli::codec {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

struct PixelsFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using Pixels = std::unique_ptr<stbi_uc, PixelsFree>;

std::string failureReason() {
    const char* reason = stbi_failure_reason();
    return reason != nullptr ? reason : "unknown error";
}

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    const auto* first = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), first, first + size);
}

// Reads the header of the open `file` into `width`, `height` and `channels` and checks it.
// Returns false with the reason in `error`.
bool checkedInfo(FILE* file, int& width, int& height, int& channels, std::string& error) {
    if (file == nullptr || !stbi_info_from_file(file, &width, &height, &channels)) {
        error = "not a readable PNG or JPEG image (" + failureReason() + ")";
        return false;
    }
    if (stbi_is_16_bit_from_file(file)) {
        error = "16-bit images are not supported (8 bits per sample needed)";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        error = std::to_string(width) + " x " + std::to_string(height) + " is too large (at most " +
                std::to_string(kMaxImageSide) + " pixels a side)";
        return false;
    }
    return true;
}

} // namespace

bool probe(const std::string& path, ImageHeader& header, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    int channels = 0;
    return checkedInfo(file.get(), header.width, header.height, channels, error);
}

bool decode(const std::string& path, DecodedImage& image, std::string& error) {
    File file(std::fopen(path.c_str(), "rb"));
    int width = 0;
    int height = 0;
    int channels = 0;
    if (!checkedInfo(file.get(), width, height, channels, error))
        return false;
    Pixels pixels(stbi_load_from_file(file.get(), &width, &height, &channels, 0));
    if (!pixels) {
        error = "cannot decode the image (" + failureReason() + ")";
        return false;
    }
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.samples.assign(pixels.get(), pixels.get() + static_cast<size_t>(width) *
                                                          static_cast<size_t>(height) *
                                                          static_cast<size_t>(channels));
    image.metadata = ImageMetadata{};
    return true;
}

bool canWrite(ImageFormat format) {
    return format == ImageFormat::png || format == ImageFormat::jpeg;
}

bool canHoldAlpha(ImageFormat format) {
    return format == ImageFormat::png;
}

bool canHold16Bits(ImageFormat) {
    return false;
}

bool encode(const SamplesView& image, ImageFormat format, int32_t quality, const ImageMetadata&,
            std::vector<uint8_t>& bytes, std::string& error) {
    const bool encoded =
        format == ImageFormat::jpeg
            ? stbi_write_jpg_to_func(appendBytes, &bytes, image.width, image.height, image.channels,
                                     image.samples, static_cast<int>(quality)) != 0
            : stbi_write_png_to_func(appendBytes, &bytes, image.width, image.height, image.channels,
                                     image.samples, image.width * image.channels) != 0;
    if (!encoded)
        error = "cannot encode the image";
    return encoded;
}

} // namespace mendora::cli::codec
