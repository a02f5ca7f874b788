// The Windows command line's image files through the system's imaging component, run as a
// person runs mendora.exe: a phone photograph stored sideways (EXIF orientation 6) with a
// mask drawn upright is filled upright, a colour profile comes out in every output format
// and back in from each, and what the build cannot do ends with status 2 and one line.
// The inputs are made here: pixels through the codec under test (its PNG and TIFF through
// WIC's own encoders), the EXIF block added by hand; outputs are read back through WIC.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/damaged_jpeg.h"
#include "tools/mendora/images.h"
#include "tools/standin_host/module_loader.h"

namespace mendora::cli {
namespace {

const std::string kFolder = "cli-images";

std::string at(const std::string& name) {
    return kFolder + "\\" + name;
}

// Runs mendora.exe with `arguments` (UTF-8, given to it as wide characters as a Windows
// shell does); returns its exit status and its output in `output`.
int runCli(const std::string& arguments, std::string& output) {
    const std::string log = at("run.log");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process{};
    std::wstring line = standin::wideFromUtf8("\"" MENDORA_CLI "\" " + arguments);
    DWORD status = 255;
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(file);
    output.clear();
    if (FILE* text = std::fopen(log.c_str(), "rb")) {
        for (int c; (c = std::fgetc(text)) != EOF;)
            if (c != '\r')
                output += static_cast<char>(c);
        std::fclose(text);
    }
    return static_cast<int>(status);
}

void writeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(at(name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::string readFile(const std::string& path) {
    std::string bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            bytes += static_cast<char>(c);
        std::fclose(file);
    }
    return bytes;
}

void writeFile(const std::string& name, const std::string& bytes) {
    writeFile(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

void encodeFile(const std::string& name, const DecodedImage& image, ImageFormat format,
                const std::vector<uint8_t>& icc = {}) {
    std::vector<uint8_t> bytes;
    std::string error;
    ImageMetadata metadata;
    metadata.iccProfile = icc;
    const SamplesView view{image.width, image.height, image.channels, image.bits,
                           image.samples.data()};
    ASSERT_TRUE(codec::encode(view, format, 95, metadata, bytes, error)) << error;
    writeFile(name, bytes);
}

DecodedImage decodeFile(const std::string& name) {
    DecodedImage image;
    std::string error;
    EXPECT_TRUE(codec::decode(at(name), image, error)) << name << ": " << error;
    return image;
}

// An RGB image of smooth shapes (a fill of noise would say little) of `width` x `height`.
DecodedImage picture(int32_t width, int32_t height) {
    DecodedImage image{width, height, 3, 8, {}, {}, {}};
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            for (int32_t c = 0; c < 3; c++)
                image.samples.push_back(
                    static_cast<uint8_t>((x * (3 + c) + y * (7 - c)) * 5 % 256));
    return image;
}

// A grey mask of `width` x `height` marking the rectangle from (left, top), 4 x 6 pixels.
DecodedImage mask(int32_t width, int32_t height, int32_t left, int32_t top) {
    DecodedImage image{width, height, 1, 8, std::vector<uint8_t>(width * height, 0), {}, {}};
    for (int32_t y = top; y < top + 6; y++)
        for (int32_t x = left; x < left + 4; x++)
            image.samples[y * width + x] = 255;
    return image;
}

// A colour profile as the PNG reader checks it: a 132-byte header (RGB, XYZ connection
// space, D50 white, "acsp" signature) and an empty tag table.
std::vector<uint8_t> profile() {
    std::vector<uint8_t> icc(132, 0);
    const auto put = [&](size_t offset, const char* text) {
        std::copy(text, text + 4, icc.begin() + offset);
    };
    icc[3] = 132;
    icc[8] = 2;
    icc[9] = 0x10;
    put(12, "mntr");
    put(16, "RGB ");
    put(20, "XYZ ");
    put(36, "acsp");
    const uint8_t white[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
    std::copy(white, white + 12, icc.begin() + 68);
    return icc;
}

// The JPEG `jpeg` with an EXIF block saying `orientation` right after its start.
std::vector<uint8_t> withOrientation(std::vector<uint8_t> jpeg, uint8_t orientation) {
    const std::vector<uint8_t> segment = {
        0xFF, 0xE1, 0,    34, 'E', 'x', 'i', 'f', 0, 0, // APP1, its length
        'I',  'I',  42,   0,  8,   0,   0,   0,         // TIFF header, IFD at 8
        1,    0,    0x12, 1,  3,   0,   1,   0,   0, 0, orientation, 0, 0, 0, // tag 274, one short
        0,    0,    0,    0};                                                 // no next IFD
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    return jpeg;
}

// A PNG file that ends after its IHDR chunk (whose checksum is left zero): only a reader of
// the header alone gets its extent and sample depth from it.
std::vector<uint8_t> pngHeaderOnly(uint32_t width, uint8_t bits) {
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    for (int shift = 24; shift >= 0; shift -= 8)
        png.push_back(static_cast<uint8_t>(width >> shift));
    png.insert(png.end(), {0, 0, 0, 24, bits, 2, 0, 0, 0, 0, 0, 0, 0});
    return png;
}

class CliImages : public ::testing::Test {
  protected:
    void SetUp() override { CreateDirectoryA(kFolder.c_str(), nullptr); }
};

TEST_F(CliImages, SidewaysPhotographIsFilledUpright) {
    // Stored 40 x 24, shown 24 x 40: turned 90 degrees clockwise, the stored bottom-left pixel
    // shows at the top left.
    const DecodedImage stored = picture(40, 24);
    std::vector<uint8_t> jpeg;
    std::string error;
    const SamplesView view{40, 24, 3, 8, stored.samples.data()};
    ASSERT_TRUE(codec::encode(view, ImageFormat::jpeg, 95, {}, jpeg, error)) << error;
    writeFile("stored.jpg", jpeg);
    writeFile("sideways.jpg", withOrientation(jpeg, 6));
    const DecodedImage decoded = decodeFile("stored.jpg");
    ASSERT_EQ(decoded.width, 40);
    DecodedImage shown{24, 40, 3, 8, std::vector<uint8_t>(decoded.samples.size()), {}, {}};
    for (int32_t y = 0; y < 40; y++)
        for (int32_t x = 0; x < 24; x++)
            for (int32_t c = 0; c < 3; c++)
                shown.samples[(y * 24 + x) * 3 + c] = decoded.samples[((23 - x) * 40 + y) * 3 + c];
    encodeFile("shown.png", shown, ImageFormat::png);
    encodeFile("mask.png", mask(24, 40, 5, 20), ImageFormat::png);

    std::string output;
    ASSERT_EQ(runCli("fill " + at("sideways.jpg") + " " + at("mask.png") + " -o " +
                         at("sideways-filled.png") + " --quiet",
                     output),
              0)
        << output;
    ASSERT_EQ(runCli("fill " + at("shown.png") + " " + at("mask.png") + " -o " +
                         at("shown-filled.png") + " --quiet",
                     output),
              0)
        << output;
    const DecodedImage filled = decodeFile("sideways-filled.png");
    const DecodedImage expected = decodeFile("shown-filled.png");
    EXPECT_EQ(filled.width, 24);
    EXPECT_EQ(filled.height, 40);
    EXPECT_TRUE(filled.samples == expected.samples);
    EXPECT_FALSE(filled.samples == shown.samples) << "nothing was filled";
}

TEST_F(CliImages, ColourProfileGoesThroughEveryFormat) {
    // JPEG in (its ICC chunks), PNG, JPEG and TIFF out; each output read back by WIC or, for
    // the JPEG whose profile Wine's decoder does not report, filled again into a PNG.
    const std::vector<uint8_t> icc = profile();
    encodeFile("profiled.jpg", picture(32, 24), ImageFormat::jpeg, icc);
    encodeFile("mask-32.png", mask(32, 24, 10, 8), ImageFormat::png);
    std::string output;
    for (const char* name : {"profiled.png", "profiled.tif", "profiled-out.jpg"}) {
        ASSERT_EQ(runCli("fill " + at("profiled.jpg") + " " + at("mask-32.png") + " -o " +
                             at(name) + " --quiet",
                         output),
                  0)
            << output;
    }
    EXPECT_EQ(decodeFile("profiled.png").metadata.iccProfile, icc);
    EXPECT_EQ(decodeFile("profiled.tif").metadata.iccProfile, icc);
    ASSERT_EQ(runCli("fill " + at("profiled-out.jpg") + " " + at("mask-32.png") + " -o " +
                         at("again.png") + " --quiet",
                     output),
              0)
        << output;
    EXPECT_EQ(decodeFile("again.png").metadata.iccProfile, icc);
    ASSERT_EQ(runCli("fill " + at("profiled.png") + " " + at("mask-32.png") + " -o " +
                         at("from-png.tif") + " --quiet",
                     output),
              0)
        << output;
    EXPECT_EQ(decodeFile("from-png.tif").metadata.iccProfile, icc);
}

TEST_F(CliImages, WhatTheBuildCannotDoIsRefusedInOneLine) {
    encodeFile("plain.png", picture(32, 24), ImageFormat::png);
    encodeFile("mask-32.png", mask(32, 24, 10, 8), ImageFormat::png);
    std::vector<uint8_t> jpeg;
    std::string error;
    const DecodedImage image = picture(32, 24);
    const SamplesView view{32, 24, 3, 8, image.samples.data()};
    ASSERT_TRUE(codec::encode(view, ImageFormat::jpeg, 95, {}, jpeg, error)) << error;
    writeFile("bad-orientation.jpg", withOrientation(jpeg, 9));
    jpeg.resize(jpeg.size() / 2);
    writeFile("truncated.jpg", jpeg);
    // Refused from their headers, before any pixel is decoded.
    writeFile("wide.png", pngHeaderOnly(40000, 8));
    writeFile("deep.png", pngHeaderOnly(32, 16));
    const struct {
        std::string arguments;
        std::string reason;
    } cases[] = {
        {at("plain.png") + " " + at("mask-32.png") + " -o " + at("out.webp"),
         "cannot write .webp files"},
        {at("bad-orientation.jpg") + " " + at("mask-32.png") + " -o " + at("out.png"),
         "orientation 9 is not one of 1 to 8"},
        {at("truncated.jpg") + " " + at("mask-32.png") + " -o " + at("out.png"), "truncated.jpg: "},
    };
    for (const auto& refused : cases) {
        std::string output;
        EXPECT_EQ(runCli("fill " + refused.arguments, output), 2) << output;
        EXPECT_NE(output.find(refused.reason), std::string::npos) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
        EXPECT_EQ(GetFileAttributesA(at("out.png").c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(CliImages, JpegDataLostIsRefusedAndHarmlessWarningsSaySo) {
    // The demo photograph, and its mask as a JPEG, cut halfway through their scans and closed
    // by an end marker: the system's decoder gives grey rows, which as a mask select nearly
    // everything. libjpeg's warning refuses either, before anything is written.
    const std::string photo = readFile(MENDORA_DEMO_DIR "/kite.jpg");
    ASSERT_FALSE(photo.empty());
    writeFile("kite.jpg", photo);
    writeFile("kite-closed.jpg", testing::closedHalfway(photo));
    // A name outside the code page (凧, "kite") is checked as well as read.
    ASSERT_TRUE(CopyFileW(standin::wideFromUtf8(at("kite-closed.jpg")).c_str(),
                          standin::wideFromUtf8(at(u8"凧.jpg")).c_str(), FALSE));
    DecodedImage drawn;
    std::string error;
    ASSERT_TRUE(codec::decode(MENDORA_DEMO_DIR "/kite-mask.png", drawn, error)) << error;
    encodeFile("kite-mask.png", drawn, ImageFormat::png);
    encodeFile("kite-mask.jpg", drawn, ImageFormat::jpeg);
    writeFile("kite-mask-closed.jpg", testing::closedHalfway(readFile(at("kite-mask.jpg"))));
    const std::string lost = "cannot decode the image: Corrupt JPEG data: premature end of data "
                             "segment";
    for (const auto& [image, mask] :
         {std::pair<std::string, std::string>{"kite-closed.jpg", "kite-mask.png"},
          {u8"凧.jpg", "kite-mask.png"},
          {"kite.jpg", "kite-mask-closed.jpg"}}) {
        const std::string damaged = image == "kite.jpg" ? mask : image;
        DeleteFileA(at("kite-out.png").c_str()); // left by an earlier run
        std::string output;
        EXPECT_EQ(
            runCli("fill " + at(image) + " " + at(mask) + " -o " + at("kite-out.png"), output), 2)
            << output;
        EXPECT_EQ(output, "mendora: " + at(damaged) + ": " + lost + "\n");
        EXPECT_EQ(GetFileAttributesA(at("kite-out.png").c_str()), INVALID_FILE_ATTRIBUTES);
    }

    // Bytes before a marker: skipped with a warning, every pixel decoded, filled with a notice.
    encodeFile("plain.jpg", picture(32, 24), ImageFormat::jpeg);
    writeFile("junk.jpg", testing::withJunkBeforeScan(readFile(at("plain.jpg"))));
    encodeFile("mask-32.png", mask(32, 24, 10, 8), ImageFormat::png);
    std::string output;
    ASSERT_EQ(
        runCli("fill " + at("junk.jpg") + " " + at("mask-32.png") + " -o " + at("junk-filled.png"),
               output),
        0)
        << output;
    // The notice, then the summary.
    EXPECT_EQ(output.find("mendora: " + at("junk.jpg") +
                          ": Corrupt JPEG data: 3 extraneous bytes before marker 0xda (every "
                          "pixel decoded)\n"),
              0u)
        << output;
    EXPECT_EQ(decodeFile("junk-filled.png").width, 32);
}

// The bytes of the file `name` (UTF-8) in the test's folder; empty when it cannot be read.
std::vector<uint8_t> fileBytes(const std::string& name) {
    std::vector<uint8_t> bytes;
    if (FILE* file = _wfopen(standin::wideFromUtf8(at(name)).c_str(), L"rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;)
            bytes.push_back(static_cast<uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

TEST_F(CliImages, NamesOutsideTheCodePageAreReadAndWritten) {
    // 画像 ("image"), マスク ("mask"), 結果 ("result") and 出力 ("output") are in no Western
    // ANSI code page: a name passed through one arrives as question marks.
    encodeFile("plain.jpg", picture(32, 24), ImageFormat::jpeg);
    encodeFile("mask-32.png", mask(32, 24, 10, 8), ImageFormat::png);
    const auto wide = [](const std::string& name) { return standin::wideFromUtf8(at(name)); };
    ASSERT_TRUE(CopyFileW(wide("plain.jpg").c_str(), wide(u8"画像.jpg").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(wide("mask-32.png").c_str(), wide(u8"マスク.png").c_str(), FALSE));
    CreateDirectoryW(wide(u8"結果").c_str(), nullptr);
    std::string output;
    ASSERT_EQ(runCli("fill " + at("plain.jpg") + " " + at("mask-32.png") + " -o " +
                         at("plain-filled.png") + " --quiet",
                     output),
              0)
        << output;
    ASSERT_EQ(runCli("fill " + at(u8"画像.jpg") + " " + at(u8"マスク.png") + " -o " +
                         at(u8"結果\\出力.png"),
                     output),
              0)
        << output;
    // The summary line, nothing else: no notice of a name it could not read.
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    const std::vector<uint8_t> filled = fileBytes(u8"結果\\出力.png");
    EXPECT_FALSE(filled.empty());
    EXPECT_TRUE(filled == fileBytes("plain-filled.png"));
}

} // namespace
} // namespace mendora::cli
