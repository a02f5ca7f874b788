// The command line's image files, through the stb single-file libraries (compiled here, once,
// for PNG and JPEG only).
// In: PNG and JPEG files. Out: RGB pixels and masks; PNG files written whole or not at all.
#include "tools/mendora/images.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace mendora::cli {

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

// Opens `path` and checks what it holds. On success `file` is open at its start and
// `channels` is the image's own channel count (1 grey, 2 grey and alpha, 3 RGB, 4 RGBA).
bool openImage(const std::string& path, File& file, int& channels, std::string& error) {
    file.reset(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    int width = 0;
    int height = 0;
    if (!stbi_info_from_file(file.get(), &width, &height, &channels)) {
        error = "not a readable PNG or JPEG image (" + failureReason() + ")";
        return false;
    }
    if (stbi_is_16_bit_from_file(file.get())) {
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

// Decodes the open image with `wanted` channels (0: its own).
Pixels decode(FILE* file, int wanted, int32_t& width, int32_t& height, std::string& error) {
    int w = 0;
    int h = 0;
    int channels = 0;
    Pixels pixels(stbi_load_from_file(file, &w, &h, &channels, wanted));
    if (!pixels) {
        error = "cannot decode the image (" + failureReason() + ")";
        return nullptr;
    }
    width = w;
    height = h;
    return pixels;
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

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    const auto* first = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), first, first + size);
}

// A name for the temporary file beside `target`, private to this process.
std::filesystem::path temporaryBeside(const std::filesystem::path& target) {
#ifdef _WIN32
    const long pid = _getpid();
#else
    const long pid = static_cast<long>(getpid());
#endif
    std::filesystem::path name = target.filename();
    name += ".tmp-" + std::to_string(pid);
    return target.parent_path() / ("." + name.string());
}

bool writeWholeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
    FILE* file = std::fopen(path.string().c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int savedErrno = errno;
    const bool flushed = std::fflush(file) == 0;
    if (written && !flushed)
        savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (written && flushed && !closed)
        savedErrno = errno;
    if (written && flushed && closed)
        return true;
    error = std::strerror(savedErrno);
    return false;
}

} // namespace

bool readImage(const std::string& path, RgbImage& image, std::string& notice, std::string& error) {
    notice.clear();
    File file;
    int channels = 0;
    if (!openImage(path, file, channels, error))
        return false;
    Pixels pixels = decode(file.get(), 3, image.width, image.height, error);
    if (!pixels)
        return false;
    image.pixels.assign(pixels.get(), pixels.get() + static_cast<size_t>(image.width) *
                                                         static_cast<size_t>(image.height) * 3);
    notice = conversionNotice(channels);
    return true;
}

bool readMask(const std::string& path, int32_t& width, int32_t& height, std::vector<uint8_t>& mask,
              std::string& error) {
    File file;
    int channels = 0;
    if (!openImage(path, file, channels, error))
        return false;
    Pixels pixels = decode(file.get(), channels, width, height, error);
    if (!pixels)
        return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const stbi_uc* samples = pixels.get();
    mask.assign(count, 0);
    for (size_t i = 0; i < count; i++) {
        const stbi_uc* pixel = samples + i * static_cast<size_t>(channels);
        bool marked = false;
        switch (channels) {
        case 2:
            marked = pixel[1] != 0; // alpha
            break;
        case 4:
            marked = pixel[3] != 0; // alpha
            break;
        case 3:
            marked = pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0;
            break;
        default:
            marked = pixel[0] != 0;
            break;
        }
        mask[i] = marked ? 1 : 0;
    }
    return true;
}

bool writePng(const std::string& path, const RgbImage& image, std::string& error) {
    std::vector<uint8_t> bytes;
    if (!stbi_write_png_to_func(appendBytes, &bytes, image.width, image.height, 3,
                                image.pixels.data(), image.width * 3)) {
        error = "cannot encode the image";
        return false;
    }
    const std::filesystem::path target(path);
    const std::filesystem::path temporary = temporaryBeside(target);
    if (!writeWholeFile(temporary, bytes, error)) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    std::error_code renameError;
    std::filesystem::rename(temporary, target, renameError);
    if (renameError) {
        error = renameError.message();
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

} // namespace mendora::cli
