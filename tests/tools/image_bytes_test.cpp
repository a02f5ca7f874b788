// The Windows codec's hand-written file bytes (tools/mendora/image_bytes.cpp): JPEG segments
// read (extent, EXIF orientation, colour profile in chunks) and refused when damaged, a PNG's
// header, and a profile put into JPEG, PNG and TIFF bytes and found again where a reader
// looks. Natively, and under Wine as the Windows build's program.
#include "tools/mendora/image_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#ifndef _WIN32
#include <zlib.h>
#endif

namespace mendora::cli::codec {
namespace {

using Bytes = std::vector<uint8_t>;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

// A temporary file holding `bytes`, read from its start.
std::unique_ptr<FILE, FileCloser> fileOf(const Bytes& bytes) {
    std::unique_ptr<FILE, FileCloser> file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    return file;
}

void appendBig(Bytes& bytes, uint32_t value, int size) {
    for (int i = size - 1; i >= 0; i--)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t readBig(const Bytes& bytes, size_t at, int size) {
    uint32_t value = 0;
    for (int i = 0; i < size; i++)
        value = value << 8 | bytes[at + static_cast<size_t>(i)];
    return value;
}

void appendSegment(Bytes& jpeg, uint8_t marker, const Bytes& payload) {
    jpeg.insert(jpeg.end(), {0xFF, marker});
    appendBig(jpeg, static_cast<uint32_t>(payload.size() + 2), 2);
    jpeg.insert(jpeg.end(), payload.begin(), payload.end());
}

// A little-endian EXIF block whose first IFD holds the orientation tag (type `type`).
Bytes exifBlock(uint16_t orientation, uint8_t type = 3) {
    return {'E', 'x',  'i', 'f',  0,
            0,   'I',  'I', 42,   0,
            8,   0,    0,   0,    1,
            0,   0x12, 1,   type, 0,
            1,   0,    0,   0,    static_cast<uint8_t>(orientation),
            0,   0,    0,   0,    0,
            0,   0};
}

// An ICC chunk `number` of `count` holding `data`.
Bytes iccChunk(uint8_t number, uint8_t count, const Bytes& data) {
    const std::string name("ICC_PROFILE\0", 12);
    Bytes payload(name.begin(), name.end());
    payload.push_back(number);
    payload.push_back(count);
    for (const uint8_t byte : data)
        payload.push_back(byte);
    return payload;
}

// A frame header: `bits` a sample, height x width, `components`.
Bytes frame(uint32_t width, uint32_t height, uint8_t bits = 8, uint8_t components = 3) {
    Bytes payload = {bits};
    appendBig(payload, height, 2);
    appendBig(payload, width, 2);
    payload.push_back(components);
    return payload;
}

// The start of a JPEG file: SOI, `segments`, then the start of a scan.
Bytes jpegOf(const std::vector<std::pair<uint8_t, Bytes>>& segments) {
    Bytes jpeg = {0xFF, 0xD8};
    for (const auto& [marker, payload] : segments)
        appendSegment(jpeg, marker, payload);
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0, 2});
    return jpeg;
}

bool readJpeg(const Bytes& jpeg, StoredHeader& header, Bytes* icc, std::string& error) {
    auto file = fileOf(jpeg);
    return readJpegSegments(file.get(), header, icc, error);
}

Bytes profileOf(size_t size) {
    Bytes profile(size);
    for (size_t i = 0; i < size; i++)
        profile[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return profile;
}

TEST(ImageBytes, JpegSegmentsGiveExtentOrientationAndTheProfileInItsChunks) {
    const Bytes jpeg = jpegOf({{0xE1, exifBlock(6)},
                               {0xE2, iccChunk(2, 2, {4, 5})},
                               {0xE2, iccChunk(1, 2, {1, 2, 3})},
                               {0xC0, frame(640, 480)}});
    StoredHeader header;
    Bytes icc;
    std::string error;
    ASSERT_TRUE(readJpeg(jpeg, header, &icc, error)) << error;
    EXPECT_EQ(header.width, 640u);
    EXPECT_EQ(header.height, 480u);
    EXPECT_EQ(header.orientation, 6);
    EXPECT_EQ(icc, (Bytes{1, 2, 3, 4, 5}));

    // Without EXIF the orientation is upright; progressive frames count too; bytes between
    // segments are skipped, as libjpeg skips them.
    Bytes junk = jpegOf({{0xC2, frame(3, 2, 8, 1)}});
    junk.insert(junk.end() - 4, {0, 0x11, 0x22});
    ASSERT_TRUE(readJpeg(junk, header, &icc, error)) << error;
    EXPECT_EQ(header.orientation, 1);
    EXPECT_EQ(header.width, 3u);
    EXPECT_TRUE(icc.empty());
}

TEST(ImageBytes, DamagedOrUnsupportedJpegsAreRefusedWithTheirReason) {
    const Bytes good = frame(8, 8);
    const std::vector<std::pair<Bytes, std::string>> cases = {
        {{0x89, 'P', 'N', 'G'}, "not a JPEG file"},
        {jpegOf({{0xE1, exifBlock(6, 4)}, {0xC0, good}}), "the EXIF block is damaged"},
        {jpegOf({{0xE2, iccChunk(3, 2, {1})}, {0xC0, good}}), "its chunks are misnumbered"},
        {jpegOf({{0xE2, iccChunk(1, 2, {1})}, {0xC0, good}}), "a chunk of it is missing"},
        {jpegOf({{0xC0, frame(8, 8, 12)}}), "12-bit JPEG images are not supported"},
        {jpegOf({{0xC0, frame(8, 8, 8, 4)}}), "JPEG images of 4 components (CMYK)"},
        {jpegOf({{0xE0, {'J', 'F', 'I', 'F', 0}}}), "cannot read the JPEG's frame header"},
        {Bytes{0xFF, 0xD8}, "the file is damaged or ends early"},
        {Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 40, 1}, "the file ends early"},
    };
    for (const auto& [jpeg, reason] : cases) {
        StoredHeader header;
        Bytes icc;
        std::string error;
        EXPECT_FALSE(readJpeg(jpeg, header, &icc, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(ImageBytes, AProfilePutIntoAJpegIsReadBackWhole) {
    // Larger than one segment: three chunks, after the application segments.
    const Bytes profile = profileOf(140000);
    Bytes jpeg = jpegOf({{0xE0, {'J', 'F', 'I', 'F', 0}}, {0xC0, frame(5, 4)}});
    insertJpegProfile(jpeg, profile);
    EXPECT_EQ(jpeg[2 + 2 + 7], 0xFF);
    EXPECT_EQ(jpeg[2 + 2 + 7 + 1], 0xE2);
    StoredHeader header;
    Bytes icc;
    std::string error;
    ASSERT_TRUE(readJpeg(jpeg, header, &icc, error)) << error;
    EXPECT_EQ(icc, profile);
    EXPECT_EQ(header.width, 5u);
}

TEST(ImageBytes, PngHeaderAndProfile) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    appendBig(png, 300, 4);
    appendBig(png, 200, 4);
    png.insert(png.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0}); // depth, RGB, ..., CRC (not checked)
    StoredHeader header;
    std::string error;
    ASSERT_TRUE(readPngHeader(fileOf(png).get(), header, error)) << error;
    EXPECT_EQ(header.width, 300u);
    EXPECT_EQ(header.height, 200u);
    Bytes deep = png;
    deep[24] = 16;
    EXPECT_FALSE(readPngHeader(fileOf(deep).get(), header, error));
    EXPECT_EQ(error, k16BitsRefused);

    // Larger than one stored block of zlib.
    const Bytes profile = profileOf(70000);
    ASSERT_TRUE(insertPngProfile(png, profile));
    const size_t at = 8 + 25;
    const uint32_t length = readBig(png, at, 4);
    ASSERT_EQ(std::string(png.begin() + at + 4, png.begin() + at + 8), "iCCP");
    ASSERT_EQ(png.size(), at + 12 + length); // length, type, data, CRC
    EXPECT_EQ(std::string(png.begin() + at + 8, png.begin() + at + 20),
              std::string("ICC Profile\0", 12));
#ifndef _WIN32
    const uint8_t* type = &png[at + 4];
    EXPECT_EQ(readBig(png, at + 8 + length, 4), ::crc32(::crc32(0, nullptr, 0), type, length + 4));
    Bytes inflated(profile.size());
    uLongf size = static_cast<uLongf>(inflated.size());
    const size_t compressed = at + 8 + 13;
    ASSERT_EQ(::uncompress(inflated.data(), &size, &png[compressed], length - 13), Z_OK);
    EXPECT_EQ(inflated, profile);
#endif
    Bytes notPng(40, 0);
    EXPECT_FALSE(insertPngProfile(notPng, profile));
}

// A TIFF of one IFD with width, height and orientation 8, in either byte order.
Bytes tiffOf(bool big) {
    const auto number = [big](Bytes& bytes, uint32_t value, int size) {
        for (int i = 0; i < size; i++)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * (big ? size - 1 - i : i))));
    };
    Bytes tiff = {static_cast<uint8_t>(big ? 'M' : 'I'), static_cast<uint8_t>(big ? 'M' : 'I')};
    number(tiff, 42, 2);
    number(tiff, 8, 4);
    number(tiff, 3, 2);
    const std::pair<uint32_t, uint32_t> entries[] = {{256, 7}, {257, 5}, {274, 8}};
    for (const auto& [tag, value] : entries) {
        number(tiff, tag, 2);
        number(tiff, 3, 2);
        number(tiff, 1, 4);
        number(tiff, value, 2);
        number(tiff, 0, 2);
    }
    number(tiff, 0, 4);
    tiff.push_back(0x5A); // a byte after the IFD, to be kept
    return tiff;
}

TEST(ImageBytes, AProfilePutIntoATiffIsItsFirstIfdsTagInOrder) {
    const Bytes profile = profileOf(301);
    for (const bool big : {false, true}) {
        Bytes tiff = tiffOf(big);
        const Bytes before = tiff;
        ASSERT_TRUE(insertTiffProfile(tiff, profile));
        const auto number = [&](size_t at, int size) {
            uint32_t value = 0;
            for (int i = 0; i < size; i++)
                value |= static_cast<uint32_t>(tiff[at + static_cast<size_t>(i)])
                         << (8 * (big ? size - 1 - i : i));
            return value;
        };
        EXPECT_TRUE(std::equal(before.begin() + 8, before.end(), tiff.begin() + 8));
        const size_t ifd = number(4, 4);
        ASSERT_EQ(number(ifd, 2), 4u);
        std::vector<uint32_t> tags;
        for (size_t i = 0; i < 4; i++)
            tags.push_back(number(ifd + 2 + 12 * i, 2));
        EXPECT_EQ(tags, (std::vector<uint32_t>{256, 257, 274, 34675}));
        const size_t entry = ifd + 2 + 12 * 3;
        EXPECT_EQ(number(entry + 2, 2), 7u); // undefined bytes
        ASSERT_EQ(number(entry + 4, 4), profile.size());
        const size_t at = number(entry + 8, 4);
        EXPECT_EQ(at % 2, 0u);
        EXPECT_EQ(Bytes(tiff.begin() + at, tiff.begin() + at + profile.size()), profile);
        EXPECT_EQ(number(ifd + 2 + 12 * 4, 4), 0u); // no next IFD, as before
        int orientation = 0;
        EXPECT_TRUE(tiffOrientation(tiff, orientation));
        EXPECT_EQ(orientation, 8);
    }
    Bytes notTiff = {'I', 'M', 42, 0, 8, 0, 0, 0};
    EXPECT_FALSE(insertTiffProfile(notTiff, profile));
    Bytes pastItsEnd = tiffOf(false);
    pastItsEnd[4] = 200;
    EXPECT_FALSE(insertTiffProfile(pastItsEnd, profile));
}

TEST(ImageBytes, TheShownExtentIsCheckedTurnedByTheOrientation) {
    std::string error;
    EXPECT_FALSE(checkShown(StoredHeader{32767, 40000, 1}, error));
    EXPECT_NE(error.find("32767 x 40000 is too large"), std::string::npos) << error;
    EXPECT_FALSE(checkShown(StoredHeader{40000, 20, 6}, error));
    EXPECT_NE(error.find("20 x 40000 is too large"), std::string::npos) << error;
    EXPECT_TRUE(checkShown(StoredHeader{32767, 20, 8}, error)) << error;
    EXPECT_FALSE(checkShown(StoredHeader{8, 8, 9}, error));
    EXPECT_EQ(error, "orientation 9 is not one of 1 to 8");
}

} // namespace
} // namespace mendora::cli::codec
