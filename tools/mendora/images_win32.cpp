// The command line's image codec on Windows: the Windows Imaging Component (WIC) decodes every
// format it has a decoder for (PNG, JPEG, TIFF, GIF, BMP, ...) and encodes PNG and TIFF; JPEG
// is encoded by stb's writer (compiled here, once), because Wine's WIC JPEG encoder ignores the
// quality asked for. What Wine's WIC does not do is done on the file's bytes (image_bytes.cpp),
// the same on every Windows: a PNG's and a JPEG's header are read without WIC (Wine decodes
// these files whole on opening them), a JPEG's EXIF orientation and colour profile are read
// from its segments (Wine reports neither), the orientation is applied to the decoded pixels
// here, and the colour profile is put into every output (Wine has no SetColorContexts).
// A JPEG's scans are first decoded by libjpeg (jpeg_check.cpp), which tells damaged data that
// WIC would fill with grey. Samples of 16 bits are refused, as are CMYK and premultiplied
// alpha; EXIF and XMP are not carried over.
// In: image files. Out: decoded samples as viewers show them; encoded files.
#include <windows.h>

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/mendora/file_names.h"
#include "tools/mendora/image_bytes.h"
#include "tools/mendora/images.h"
#include "tools/mendora/jpeg_check.h"
#include "tools/standin_host/module_loader.h"

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace mendora::cli::codec {

namespace {

template <typename T> struct ComRelease {
    void operator()(T* object) const { object->Release(); }
};
template <typename T> using Com = std::unique_ptr<T, ComRelease<T>>;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string hresultText(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(result));
    return text;
}

// The imaging factory, made on first use and kept for the program's life. Null when COM or
// WIC cannot be started.
IWICImagingFactory* imagingFactory() {
    static IWICImagingFactory* const made = [] {
        // Already started in another mode (RPC_E_CHANGED_MODE) serves as well.
        const HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(started) && started != RPC_E_CHANGED_MODE)
            return static_cast<IWICImagingFactory*>(nullptr);
        IWICImagingFactory* factory = nullptr;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&factory))))
            return static_cast<IWICImagingFactory*>(nullptr);
        return factory;
    }();
    return made;
}

// Reads the header of a PNG or JPEG file by hand: Wine's WIC decodes these whole when they
// are opened, which would undo the checks made before any pixel is decoded. `byHand` is
// false for any other type, left to WIC. Returns false with the reason in `error`.
bool readHeaderByHand(const std::string& path, StoredHeader& header, bool& byHand,
                      std::string& error) {
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    File file(openFile(path, "rb"));
    uint8_t start[8] = {};
    if (!file || std::fread(start, 1, sizeof start, file.get()) != sizeof start) {
        byHand = false;
        return true;
    }
    std::rewind(file.get());
    byHand = true;
    if (std::equal(start, start + 8, kPngSignature))
        return readPngHeader(file.get(), header, error);
    if (start[0] == 0xFF && start[1] == 0xD8)
        return readJpegSegments(file.get(), header, nullptr, error);
    byHand = false;
    return true;
}

// ---- Decoding ---------------------------------------------------------------------------

// How a frame's pixel format is copied out: as `copyAs` (the frame's own format, or 32-bit
// BGRA made by WIC's converter, the one target Wine's converter reaches from every format), in
// `copied` bytes a pixel, blue first when `bgr`, then kept to `channels` channels (grey takes
// the first). An indexed format keeps its alpha only when its palette has any.
struct Layout {
    GUID copyAs{};
    int copied = 0;
    bool bgr = false;
    int channels = 0;
    bool indexed = false;
};

// The layout of the pixel format `format`. Returns false with the reason in `error` for a
// format the fill cannot take.
bool layoutOf(const WICPixelFormatGUID& format, Layout& layout, std::string& error) {
    const auto is = [&](const GUID& other) { return IsEqualGUID(format, other) != 0; };
    const GUID& bgra = GUID_WICPixelFormat32bppBGRA;
    if (is(GUID_WICPixelFormat8bppGray)) {
        layout = {format, 1, false, 1, false};
    } else if (is(GUID_WICPixelFormatBlackWhite) || is(GUID_WICPixelFormat2bppGray) ||
               is(GUID_WICPixelFormat4bppGray)) {
        layout = {bgra, 4, false, 1, false};
    } else if (is(GUID_WICPixelFormat24bppBGR) || is(GUID_WICPixelFormat24bppRGB)) {
        layout = {format, 3, is(GUID_WICPixelFormat24bppBGR), 3, false};
    } else if (is(GUID_WICPixelFormat32bppBGR)) {
        layout = {bgra, 4, true, 3, false};
    } else if (is(GUID_WICPixelFormat32bppBGRA) || is(GUID_WICPixelFormat32bppRGBA)) {
        layout = {format, 4, is(GUID_WICPixelFormat32bppBGRA), 4, false};
    } else if (is(GUID_WICPixelFormat1bppIndexed) || is(GUID_WICPixelFormat2bppIndexed) ||
               is(GUID_WICPixelFormat4bppIndexed) || is(GUID_WICPixelFormat8bppIndexed)) {
        layout = {bgra, 4, true, 4, true};
    } else if (is(GUID_WICPixelFormat16bppGray) || is(GUID_WICPixelFormat48bppRGB) ||
               is(GUID_WICPixelFormat48bppBGR) || is(GUID_WICPixelFormat64bppRGBA) ||
               is(GUID_WICPixelFormat64bppBGRA) || is(GUID_WICPixelFormat64bppPRGBA) ||
               is(GUID_WICPixelFormat64bppPBGRA)) {
        error = k16BitsRefused;
        return false;
    } else if (is(GUID_WICPixelFormat32bppCMYK) || is(GUID_WICPixelFormat64bppCMYK)) {
        error = "only grey and RGB images (with or without alpha) are supported, not CMYK";
        return false;
    } else if (is(GUID_WICPixelFormat32bppPBGRA) || is(GUID_WICPixelFormat32bppPRGBA)) {
        error = "images with premultiplied alpha are not supported (its colours cannot be "
                "restored exactly)";
        return false;
    } else {
        error = "samples of this kind are not supported (8-bit grey or RGB, with or without "
                "alpha, needed)";
        return false;
    }
    return true;
}

// An opened image file: its first frame, its container and its orientation (1 to 8).
struct Opened {
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    bool jpeg = false;
    StoredHeader stored;
    Layout layout;
};

// The TIFF orientation of `frame` through WIC's metadata (1 when it has none). Returns false
// with the reason in `error` when it cannot be read.
bool tiffFrameOrientation(IWICBitmapFrameDecode* frame, int& orientation, std::string& error) {
    orientation = 1;
    IWICMetadataQueryReader* rawReader = nullptr;
    const HRESULT opened = frame->GetMetadataQueryReader(&rawReader);
    Com<IWICMetadataQueryReader> reader(rawReader);
    PROPVARIANT value;
    PropVariantInit(&value);
    const HRESULT found =
        SUCCEEDED(opened) ? reader->GetMetadataByName(L"/ifd/{ushort=274}", &value) : opened;
    if (found == WINCODEC_ERR_PROPERTYNOTFOUND)
        return true;
    const bool read = SUCCEEDED(found) && value.vt == VT_UI2;
    if (read)
        orientation = value.uiVal;
    PropVariantClear(&value);
    if (!read)
        error = "cannot read the TIFF's orientation (" + hresultText(found) + ")";
    return read;
}

// Opens `path` and reads what its header tells, as probe describes; the JPEG's profile into
// `icc` when given. Returns false with the reason in `error`.
bool openImage(const std::string& path, Opened& image, std::vector<uint8_t>* icc,
               std::string& error) {
    IWICImagingFactory* factory = imagingFactory();
    if (factory == nullptr) {
        error = "cannot start the Windows Imaging Component";
        return false;
    }
    const std::wstring widePath = standin::wideFromUtf8(path);
    IWICBitmapDecoder* rawDecoder = nullptr;
    HRESULT result = factory->CreateDecoderFromFilename(
        widePath.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &rawDecoder);
    image.decoder.reset(rawDecoder);
    if (result == WINCODEC_ERR_COMPONENTNOTFOUND) {
        error = "not an image file of any type this system decodes";
        return false;
    }
    if (FAILED(result)) {
        error = "cannot read the image: damaged or unsupported (" + hresultText(result) + ")";
        return false;
    }
    IWICBitmapFrameDecode* rawFrame = nullptr;
    result = image.decoder->GetFrame(0, &rawFrame);
    image.frame.reset(rawFrame);
    GUID container{};
    WICPixelFormatGUID format{};
    UINT width = 0;
    UINT height = 0;
    if (SUCCEEDED(result))
        result = image.decoder->GetContainerFormat(&container);
    if (SUCCEEDED(result))
        result = image.frame->GetSize(&width, &height);
    if (SUCCEEDED(result))
        result = image.frame->GetPixelFormat(&format);
    if (FAILED(result)) {
        error = "cannot read the image's header (" + hresultText(result) + ")";
        return false;
    }
    if (!layoutOf(format, image.layout, error))
        return false;
    image.jpeg = IsEqualGUID(container, GUID_ContainerFormatJpeg) != 0;
    image.stored.width = width;
    image.stored.height = height;
    if (image.jpeg) {
        File file(openFile(path, "rb"));
        StoredHeader segments;
        if (!file) {
            error = "cannot open the file again";
            return false;
        }
        if (!readJpegSegments(file.get(), segments, icc, error))
            return false;
        image.stored.orientation = segments.orientation;
    } else if (IsEqualGUID(container, GUID_ContainerFormatTiff) &&
               !tiffFrameOrientation(image.frame.get(), image.stored.orientation, error)) {
        return false;
    }
    return checkShown(image.stored, error);
}

// The frame's colour profile through WIC (empty when it has none or its format keeps none).
std::vector<uint8_t> frameProfile(IWICBitmapFrameDecode* frame) {
    IWICImagingFactory* factory = imagingFactory();
    UINT count = 0;
    if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0)
        return {};
    std::vector<IWICColorContext*> contexts(count, nullptr);
    std::vector<Com<IWICColorContext>> owned;
    for (IWICColorContext*& context : contexts) {
        if (FAILED(factory->CreateColorContext(&context)))
            return {};
        owned.emplace_back(context);
    }
    UINT got = 0;
    if (FAILED(frame->GetColorContexts(count, contexts.data(), &got)))
        return {};
    for (UINT i = 0; i < got; i++) {
        WICColorContextType type{};
        UINT size = 0;
        if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile ||
            FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0)
            continue;
        std::vector<uint8_t> profile(size);
        if (SUCCEEDED(contexts[i]->GetProfileBytes(size, profile.data(), &size)))
            return profile;
    }
    return {};
}

// Copies every pixel of `image`'s frame as its layout says into `samples`, RGB order.
// Returns false with the reason in `error` (a truncated or damaged file).
bool copyPixels(const Opened& image, std::vector<uint8_t>& samples, int& channels,
                std::string& error) {
    const Layout& layout = image.layout;
    IWICBitmapSource* source = image.frame.get();
    Com<IWICFormatConverter> converter;
    WICPixelFormatGUID format{};
    HRESULT result = image.frame->GetPixelFormat(&format);
    if (SUCCEEDED(result) && !IsEqualGUID(format, layout.copyAs)) {
        IWICFormatConverter* raw = nullptr;
        result = imagingFactory()->CreateFormatConverter(&raw);
        converter.reset(raw);
        if (SUCCEEDED(result))
            result = converter->Initialize(source, layout.copyAs, WICBitmapDitherTypeNone, nullptr,
                                           0.0, WICBitmapPaletteTypeCustom);
        source = converter.get();
    }
    const size_t width = image.stored.width;
    const size_t height = image.stored.height;
    const size_t copied = static_cast<size_t>(layout.copied);
    samples.resize(width * copied * height);
    if (SUCCEEDED(result))
        result = source->CopyPixels(nullptr, static_cast<UINT>(width * copied),
                                    static_cast<UINT>(samples.size()), samples.data());
    if (FAILED(result)) {
        error = "cannot decode the image: damaged, truncated or unsupported (" +
                hresultText(result) + ")";
        return false;
    }
    channels = layout.channels;
    if (layout.indexed) {
        // A palette without transparency gives RGB: the file holds no alpha.
        IWICPalette* raw = nullptr;
        BOOL alpha = TRUE;
        if (SUCCEEDED(imagingFactory()->CreatePalette(&raw))) {
            Com<IWICPalette> palette(raw);
            if (SUCCEEDED(image.frame->CopyPalette(raw)))
                palette->HasAlpha(&alpha);
        }
        channels = alpha ? 4 : 3;
    }
    const size_t count = width * height;
    const size_t kept = static_cast<size_t>(channels);
    for (size_t i = 0; i < count; i++) {
        uint8_t* from = &samples[i * copied];
        if (layout.bgr)
            std::swap(from[0], from[2]);
        if (kept != copied)
            std::copy_n(from, kept, &samples[i * kept]);
    }
    samples.resize(count * kept);
    return true;
}

// `samples` (width x height pixels of `channels` bytes, as stored) turned upright by the EXIF
// `orientation` (2 to 8): the stored pixel each upright pixel shows.
std::vector<uint8_t> upright(const std::vector<uint8_t>& samples, size_t width, size_t height,
                             size_t channels, int orientation) {
    const bool turned = orientation >= 5;
    const size_t outWidth = turned ? height : width;
    const size_t outHeight = turned ? width : height;
    std::vector<uint8_t> out(samples.size());
    // 5 to 8 swap the axes; then 2, 3, 7 and 8 mirror the columns, 3, 4, 6 and 7 the rows.
    const bool mirrorColumns = orientation == 2 || orientation == 3 || orientation >= 7;
    const bool mirrorRows =
        (orientation >= 3 && orientation <= 4) || (orientation >= 6 && orientation <= 7);
    for (size_t y = 0; y < outHeight; y++) {
        for (size_t x = 0; x < outWidth; x++) {
            const size_t across = turned ? y : x;
            const size_t down = turned ? x : y;
            const size_t column = mirrorColumns ? width - 1 - across : across;
            const size_t row = mirrorRows ? height - 1 - down : down;
            std::copy_n(&samples[(row * width + column) * channels], channels,
                        &out[(y * outWidth + x) * channels]);
        }
    }
    return out;
}

// ---- Encoding ---------------------------------------------------------------------------

void appendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    const auto* first = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), first, first + size);
}

// Encodes 8-bit `image` as PNG or TIFF through WIC into `bytes`: grey as grey, RGB as BGR,
// grey with alpha and RGBA as BGRA (WIC has no grey-and-alpha format). Returns false with
// the reason in `error`.
bool encodeWithWic(const SamplesView& image, const GUID& container, std::vector<uint8_t>& bytes,
                   std::string& error) {
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    const size_t inChannels = static_cast<size_t>(image.channels);
    const size_t channels = inChannels == 2 ? 4 : inChannels;
    WICPixelFormatGUID format = channels == 1   ? GUID_WICPixelFormat8bppGray
                                : channels == 3 ? GUID_WICPixelFormat24bppBGR
                                                : GUID_WICPixelFormat32bppBGRA;
    const WICPixelFormatGUID wanted = format;
    std::vector<uint8_t> pixels(count * channels);
    for (size_t i = 0; i < count; i++) {
        const uint8_t* from = image.samples + i * inChannels;
        uint8_t* to = &pixels[i * channels];
        if (channels == 1) {
            to[0] = from[0];
            continue;
        }
        const bool grey = inChannels == 2;
        to[0] = from[grey ? 0 : 2];
        to[1] = from[grey ? 0 : 1];
        to[2] = from[0];
        if (channels == 4)
            to[3] = from[inChannels - 1];
    }
    IWICImagingFactory* factory = imagingFactory();
    IStream* rawStream = nullptr;
    IWICBitmapEncoder* rawEncoder = nullptr;
    IWICBitmapFrameEncode* rawFrame = nullptr;
    IPropertyBag2* rawOptions = nullptr;
    HRESULT result = factory == nullptr ? E_FAIL : CreateStreamOnHGlobal(nullptr, TRUE, &rawStream);
    Com<IStream> stream(rawStream);
    if (SUCCEEDED(result))
        result = factory->CreateEncoder(container, nullptr, &rawEncoder);
    Com<IWICBitmapEncoder> encoder(rawEncoder);
    if (SUCCEEDED(result))
        result = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(result))
        result = encoder->CreateNewFrame(&rawFrame, &rawOptions);
    Com<IWICBitmapFrameEncode> frame(rawFrame);
    Com<IPropertyBag2> options(rawOptions);
    if (SUCCEEDED(result))
        result = frame->Initialize(options.get());
    if (SUCCEEDED(result))
        result = frame->SetSize(static_cast<UINT>(image.width), static_cast<UINT>(image.height));
    if (SUCCEEDED(result))
        result = frame->SetPixelFormat(&format);
    if (SUCCEEDED(result) && !IsEqualGUID(format, wanted))
        result = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    const size_t stride = static_cast<size_t>(image.width) * channels;
    if (SUCCEEDED(result))
        result = frame->WritePixels(static_cast<UINT>(image.height), static_cast<UINT>(stride),
                                    static_cast<UINT>(pixels.size()), pixels.data());
    if (SUCCEEDED(result))
        result = frame->Commit();
    if (SUCCEEDED(result))
        result = encoder->Commit();
    HGLOBAL memory = nullptr;
    if (SUCCEEDED(result))
        result = GetHGlobalFromStream(stream.get(), &memory);
    STATSTG status{};
    if (SUCCEEDED(result))
        result = stream->Stat(&status, STATFLAG_NONAME);
    const void* locked = SUCCEEDED(result) ? GlobalLock(memory) : nullptr;
    if (locked == nullptr) {
        error = "cannot encode the image (" + hresultText(FAILED(result) ? result : E_FAIL) + ")";
        return false;
    }
    const auto* first = static_cast<const uint8_t*>(locked);
    bytes.assign(first, first + status.cbSize.QuadPart);
    GlobalUnlock(memory);
    return true;
}

} // namespace

bool probe(const std::string& path, ImageHeader& header, std::string& error) {
    StoredHeader stored;
    bool byHand = false;
    if (!readHeaderByHand(path, stored, byHand, error))
        return false;
    if (byHand && !checkShown(stored, error))
        return false;
    Opened image;
    if (!byHand) {
        if (!openImage(path, image, nullptr, error))
            return false;
        stored = image.stored;
    }
    const bool turned = stored.orientation >= 5;
    header.width = static_cast<int32_t>(turned ? stored.height : stored.width);
    header.height = static_cast<int32_t>(turned ? stored.width : stored.height);
    return true;
}

bool decode(const std::string& path, DecodedImage& image, std::string& error) {
    image.notice.clear();
    // The system's JPEG decoder, like libjpeg, turns damaged data into grey pixels without a
    // word: the file's scans are decoded by libjpeg first and a warning that lost pixels
    // refuses it, as on Linux.
    if (!jpegDecodesWhole(path, image.notice, error))
        return false;
    Opened opened;
    std::vector<uint8_t> jpegProfile;
    if (!openImage(path, opened, &jpegProfile, error))
        return false;
    int channels = 0;
    if (!copyPixels(opened, image.samples, channels, error))
        return false;
    const StoredHeader& stored = opened.stored;
    if (stored.orientation != 1)
        image.samples = upright(image.samples, stored.width, stored.height,
                                static_cast<size_t>(channels), stored.orientation);
    const bool turned = stored.orientation >= 5;
    image.width = static_cast<int32_t>(turned ? stored.height : stored.width);
    image.height = static_cast<int32_t>(turned ? stored.width : stored.height);
    image.channels = channels;
    image.bits = 8;
    image.metadata = ImageMetadata{};
    image.metadata.iccProfile = opened.jpeg ? jpegProfile : frameProfile(opened.frame.get());
    return true;
}

bool canWrite(ImageFormat format) {
    return format != ImageFormat::webp;
}

bool canHoldAlpha(ImageFormat format) {
    return format == ImageFormat::png || format == ImageFormat::tiff;
}

bool canHold16Bits(ImageFormat) {
    return false;
}

bool encode(const SamplesView& image, ImageFormat format, int32_t quality,
            const ImageMetadata& metadata, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    if (format == ImageFormat::jpeg) {
        if (stbi_write_jpg_to_func(appendBytes, &bytes, image.width, image.height, image.channels,
                                   image.samples, static_cast<int>(quality)) == 0) {
            error = "cannot encode the image";
            return false;
        }
    } else if (format == ImageFormat::png || format == ImageFormat::tiff) {
        const GUID& container =
            format == ImageFormat::png ? GUID_ContainerFormatPng : GUID_ContainerFormatTiff;
        if (!encodeWithWic(image, container, bytes, error))
            return false;
    } else {
        error = "this build cannot write this format";
        return false;
    }
    const std::vector<uint8_t>& icc = metadata.iccProfile;
    if (icc.empty())
        return true;
    if (format == ImageFormat::jpeg)
        insertJpegProfile(bytes, icc);
    else if (!(format == ImageFormat::png ? insertPngProfile(bytes, icc)
                                          : insertTiffProfile(bytes, icc))) {
        error = "cannot put the colour profile into the encoded file";
        return false;
    }
    return true;
}

} // namespace mendora::cli::codec
