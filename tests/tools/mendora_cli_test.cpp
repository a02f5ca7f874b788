// The `mendora` command line as a person runs it: a subprocess with files, messages and an
// exit status; --interactive on a pseudo-terminal.
#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <png.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// AddressSanitizer reserves terabytes of shadow address space as a program starts, so a program
// built with it cannot start under an address-space limit at all.
#if defined(__SANITIZE_ADDRESS__)
#define MENDORA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MENDORA_UNDER_ASAN 1
#endif
#endif
#ifdef MENDORA_UNDER_ASAN
constexpr bool kAddressSpaceCanBeLimited = false;
#else
constexpr bool kAddressSpaceCanBeLimited = true;
#endif

#include <vips/vips.h>

#include "engine/engine.h"
#include "support/damaged_jpeg.h"
#include "support/png_read.h"
#include "support/texture.h"
#include "tools/standin_host/sampling_area.h"
#include "tools/standin_host/tone_match.h"

namespace mendora::testing {
namespace {

// In a forked child: replaces it with the program and `arguments`, or ends it with 127.
[[noreturn]] void execProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(MENDORA_PROGRAM)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(MENDORA_PROGRAM, argv.data());
    _exit(127);
}

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    int signal = 0; // the signal that ended the program, 0 when it exited
    std::string out;
    std::string err;
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t lineCount(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    return lines;
}

// Test files through libvips: an image made from samples, and what a written file holds.
struct VipsImageUnref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsPtr = std::unique_ptr<VipsImage, VipsImageUnref>;

VipsPtr imageOf(const std::vector<uint8_t>& samples, int32_t width, int32_t height, int bands) {
    return VipsPtr(vips_image_new_from_memory_copy(samples.data(), samples.size(), width, height,
                                                   bands, VIPS_FORMAT_UCHAR));
}

VipsPtr opened(const std::string& path) {
    return VipsPtr(vips_image_new_from_file(path.c_str(), nullptr));
}

// The pixels of `path` as a viewer shows them (orientation applied).
std::vector<uint8_t> uprightPixels(const std::string& path, int32_t& width, int32_t& height) {
    VipsPtr stored = opened(path);
    VipsImage* rotated = nullptr;
    if (!stored || vips_autorot(stored.get(), &rotated, nullptr) != 0)
        return {};
    VipsPtr upright(rotated);
    width = vips_image_get_width(upright.get());
    height = vips_image_get_height(upright.get());
    size_t size = 0;
    void* pixels = vips_image_write_to_memory(upright.get(), &size);
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(pixels), static_cast<uint8_t*>(pixels) + size);
    g_free(pixels);
    return bytes;
}

std::vector<uint8_t> blobOf(VipsImage* image, const char* name) {
    const void* data = nullptr;
    size_t size = 0;
    if (vips_image_get_typeof(image, name) == 0 || vips_image_get_blob(image, name, &data, &size))
        return {};
    return std::vector<uint8_t>(static_cast<const uint8_t*>(data),
                                static_cast<const uint8_t*>(data) + size);
}

std::string bigEndian(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    return bigEndian(static_cast<uint32_t>(data.size())) + body +
           bigEndian(static_cast<uint32_t>(crc));
}

// A PNG of `width` x `height` pixels (8-bit grey, or `depth` bits of PNG colour type
// `colourType`) whose data is a few zero bytes: its header alone.
std::string pngHeaderOnly(uint32_t width, uint32_t height, char depth = 8, char colourType = 0) {
    const Bytef nothing[16] = {};
    Bytef packed[64];
    uLongf packedSize = sizeof packed;
    compress(packed, &packedSize, nothing, sizeof nothing);
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR", bigEndian(width) + bigEndian(height) + depth + colourType +
                                std::string("\0\0\0", 3)) +
           pngChunk("IDAT", std::string(reinterpret_cast<const char*>(packed), packedSize)) +
           pngChunk("IEND", "");
}

class MendoraCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(VIPS_INIT("mendora_cli_tests"), 0); }

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "mendora-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string file(const std::string& name) const { return (folder / name).string(); }

    // Runs the program with `arguments`, `input` on its standard input, files it writes
    // limited to `fileSizeLimit` bytes and its address space to `memoryLimit` bytes.
    // `prepare`, when given, runs in the child just before the program (signal dispositions,
    // the environment, the user).
    Outcome run(const std::vector<std::string>& arguments, const std::string& input = "",
                rlim_t fileSizeLimit = RLIM_INFINITY, rlim_t memoryLimit = RLIM_INFINITY,
                const std::function<void()>& prepare = {}) {
        const std::string outPath = file("stdout.txt");
        const std::string errPath = file("stderr.txt");
        const std::string inPath = file("stdin.txt");
        std::ofstream(inPath, std::ios::binary) << input;
        const pid_t child = fork();
        if (child == 0) {
            const rlimit limit{fileSizeLimit, fileSizeLimit};
            const rlimit memory{memoryLimit, memoryLimit};
            if (!freopen(inPath.c_str(), "rb", stdin) || !freopen(outPath.c_str(), "wb", stdout) ||
                !freopen(errPath.c_str(), "wb", stderr) || setrlimit(RLIMIT_FSIZE, &limit) != 0 ||
                setrlimit(RLIMIT_AS, &memory) != 0)
                _exit(127);
            if (prepare)
                prepare();
            execProgram(arguments);
        }
        Outcome outcome;
        int status = 0;
        waitpid(child, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        outcome.out = fileText(outPath);
        outcome.err = fileText(errPath);
        return outcome;
    }

    // Writes an 8- or 16-bit PNG of `channels` channels (1 grey, 2 grey and alpha, 3 RGB,
    // 4 RGBA) from samples of one byte (or two for 16 bits, native order).
    static void writePngFile(const std::string& path, int32_t width, int32_t height, int channels,
                             const void* samples, bool sixteenBits = false) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        image.width = static_cast<png_uint_32>(width);
        image.height = static_cast<png_uint_32>(height);
        const png_uint_32 formats[] = {PNG_FORMAT_GRAY, PNG_FORMAT_GA, PNG_FORMAT_RGB,
                                       PNG_FORMAT_RGBA};
        image.format = formats[channels - 1] | (sixteenBits ? PNG_FORMAT_FLAG_LINEAR : 0);
        ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, samples, 0, nullptr))
            << image.message;
    }

    // A small textured image and a disc of a mask beside it.
    void writeSample(const std::string& imageName = "in.png",
                     const std::string& maskName = "mask.png") {
        pixels = texturedImage(kWidth, kHeight, 777);
        mask = discMask(kWidth, kHeight, 20, 15, 5, 255);
        writePngFile(file(imageName), kWidth, kHeight, 3, pixels.data());
        writePngFile(file(maskName), kWidth, kHeight, 1, mask.data());
    }

    // The engine's own fill of the sample with `params`, for comparison.
    std::vector<uint8_t> engineFill(FillParameters params) const {
        std::vector<uint8_t> out = pixels;
        EXPECT_EQ(
            fillImage(kWidth, kHeight, pixels.data(), out.data(), mask.data(), kWidth, params),
            FillOutcome::filled);
        return out;
    }

    static constexpr int32_t kWidth = 48;
    static constexpr int32_t kHeight = 36;
    fs::path folder;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> mask;
};

TEST_F(MendoraCli, FillsTheBundledPhotographAsTheEngineDoes) {
    const std::string image = MENDORA_DEMO_DIR "/kite.jpg";
    const std::string maskPath = MENDORA_DEMO_DIR "/kite-mask.png";
    const Outcome fill = run({"fill", image, maskPath, "-o", file("kite.png")});
    ASSERT_EQ(fill.status, 0) << fill.err;
    EXPECT_EQ(fill.err, "");
    EXPECT_EQ(lineCount(fill.out), 1u);
    EXPECT_NE(fill.out.find("640 x 400 pixels, 1416 filled in "), std::string::npos) << fill.out;
    EXPECT_NE(fill.out.find("(source rectangle 0,0 to 640,400, patch radius 4)"), std::string::npos)
        << fill.out;

    // The same photograph and mask through the engine directly give the same bytes.
    int32_t w = 0, h = 0;
    const std::vector<uint8_t> input = uprightPixels(image, w, h);
    ASSERT_EQ(input.size(), static_cast<size_t>(w) * h * 3);
    const TestImage maskImage = readPng(maskPath);
    std::vector<uint8_t> expected = input;
    FillParameters params{0, 0, 640, 400, 4};
    ASSERT_EQ(fillImage(w, h, input.data(), expected.data(), maskImage.data.data(), w, params),
              FillOutcome::filled);
    const TestImage written = readPng(file("kite.png"));
    ASSERT_EQ(written.channels, 3);
    EXPECT_TRUE(written.data == expected);
    EXPECT_FALSE(written.data == input);

    // The demo fills the same sample and prints where the result is.
    const Outcome demo = run({"demo", "-o", file("demo.png"), "--quiet"});
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_EQ(demo.out, fs::absolute(file("demo.png")).string() + "\n");
    EXPECT_EQ(fileText(file("demo.png")), fileText(file("kite.png")));
}

TEST_F(MendoraCli, ValuesTypedIntoTheDialogReachTheBlock) {
    writeSample();
    const Outcome chosen = run({"fill", file("in.png"), file("mask.png"), "-o", file("a.png"),
                                "--radius", "3", "--source", "2,3,46,30"});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find("(source rectangle 2,3 to 46,30, patch radius 3)"), std::string::npos)
        << chosen.out;
    EXPECT_TRUE(readPng(file("a.png")).data == engineFill(FillParameters{2, 3, 46, 30, 3}));

    // Out-of-range values are typed as given and corrected by the plug-in; a radius of 0 is
    // kept in the block and the fill uses the previous radius, 4 in a freshly loaded module.
    const Outcome corrected = run({"fill", file("in.png"), file("mask.png"), "-o", file("b.png"),
                                   "--source=-5,0,700,480", "--radius=0"});
    ASSERT_EQ(corrected.status, 0) << corrected.err;
    EXPECT_NE(corrected.out.find("(source rectangle 0,0 to 48,36, patch radius 0)"),
              std::string::npos)
        << corrected.out;
    EXPECT_TRUE(readPng(file("b.png")).data == engineFill(FillParameters{0, 0, 48, 36, 4}));
    // Four zeros are the whole image, as in the GIMP filter (typed, they would leave no source).
    const Outcome zeros = run({"fill", file("in.png"), file("mask.png"), "-o", file("c.png"),
                               "--source", "2,3,46,30", "--source", "0,0,0,0"});
    ASSERT_EQ(zeros.status, 0) << zeros.err;
    EXPECT_NE(zeros.out.find("(source rectangle 0,0 to 48,36, patch radius 4)"), std::string::npos)
        << zeros.out;
}

// --context N types the region's bounding box grown by N, clipped (the disc's box is columns
// 15 to 25, rows 10 to 20): the same bytes as that rectangle given with --source; 0 is the
// whole image.
TEST_F(MendoraCli, ContextWidthIsTypedAsItsSourceRectangle) {
    writeSample();
    const struct {
        const char* context;
        const char* source;
    } cases[] = {{"10", "5,0,36,31"}, {"20", "0,0,46,36"}, {"0", "0,0,48,36"}};
    for (const auto& c : cases) {
        const Outcome context = run({"fill", file("in.png"), file("mask.png"), "-o",
                                     file("context.png"), "--context", c.context});
        ASSERT_EQ(context.status, 0) << context.err;
        const Outcome source = run({"fill", file("in.png"), file("mask.png"), "-o",
                                    file("source.png"), "--source", c.source});
        ASSERT_EQ(source.status, 0) << source.err;
        // The rectangle the plug-in kept (the seconds before it differ).
        const auto kept = [](const std::string& out) { return out.substr(out.find(" s (")); };
        EXPECT_EQ(kept(context.out), kept(source.out)) << c.context;
        EXPECT_EQ(fileText(file("context.png")), fileText(file("source.png"))) << c.context;
    }
    EXPECT_NE(
        run({"fill", file("in.png"), file("mask.png"), "-o", file("o.png"), "--context", "20"})
            .out.find("(source rectangle 0,0 to 46,36,"),
        std::string::npos);
}

TEST_F(MendoraCli, PlainLimitsAreCheckedBeforeThePluginRuns) {
    writeSample();
    const std::vector<uint8_t> wide(33000, 0);
    writePngFile(file("wide.png"), 33000, 1, 1, wide.data());
    const std::string before = fileText(file("mask.png"));
    const std::string largest = std::to_string(largestPatchRadius());
    const std::string tooLarge = std::to_string(largestPatchRadius() + 1);
    const struct {
        std::vector<std::string> arguments;
        std::string reason;
    } cases[] = {
        {{"--radius", "99999"}, "--radius 99999 is outside -32768..32767"},
        {{"--radius", tooLarge},
         "patch radius " + tooLarge + " is too large: the largest is " + largest},
        {{"--source", "0,0,131100,300"}, "--source value 131100 is outside -32768..32767"},
        {{"--context", "32768"}, "--context 32768 is outside 0..32767"},
        {{"--context", "-1"}, "--context -1 is outside 0..32767"},
        {{"--quality", "0"}, "--quality 0 is outside 1..100"},
        {{"-o", file("o.bmp")}, "must end in .png, .jpg"},
        {{"-o", file("mask.png")}, "names the mask file"},
        {{"-o", file("o.png"), file("wide.png")}, "33000 x 1 is too large"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"fill", file("in.png"), file("mask.png"), "-o",
                                              file("o.png")};
        if (c.arguments.size() == 3) // another image in place of the input
            arguments[1] = c.arguments[2];
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.begin() + 2);
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 2) << c.reason;
        EXPECT_EQ(lineCount(outcome.err), 1u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
    }
    EXPECT_FALSE(fs::exists(file("o.png")));
    EXPECT_EQ(fileText(file("mask.png")), before);
}

TEST_F(MendoraCli, FileErrorsNameTheFileAndWriteNothing) {
    writeSample();
    std::ofstream(file("text.png")) << "not an image\n";
    const std::vector<uint8_t> small(20 * 20, 255);
    writePngFile(file("small.png"), 20, 20, 1, small.data());
    std::ofstream(file("kept.png")) << "earlier result";
    // Files that end early: the decoder must refuse them, not fill in grey or black rows.
    ASSERT_EQ(vips_image_write_to_file(imageOf(pixels, kWidth, kHeight, 3).get(),
                                       file("photo.jpg").c_str(), nullptr),
              0);
    const std::string jpeg = fileText(file("photo.jpg"));
    std::ofstream(file("cut.jpg"), std::ios::binary) << jpeg.substr(0, jpeg.size() / 2);
    // Cut in half and closed by an end marker: libjpeg warns and makes the rest grey (as a
    // mask, the grey would select everything).
    std::ofstream(file("closed.jpg"), std::ios::binary) << closedHalfway(jpeg);
    ASSERT_EQ(vips_image_write_to_file(imageOf(mask, kWidth, kHeight, 1).get(),
                                       file("mask.jpg").c_str(), nullptr),
              0);
    const std::string maskJpeg = fileText(file("mask.jpg"));
    std::ofstream(file("closed-mask.jpg"), std::ios::binary) << closedHalfway(maskJpeg);
    // A TIFF cut short (its directory lost) and a PPM: the TIFF loader's reason; PPM's loader
    // is one blocked here.
    ASSERT_EQ(vips_image_write_to_file(imageOf(pixels, kWidth, kHeight, 3).get(),
                                       file("photo.tif").c_str(), nullptr),
              0);
    const std::string tiff = fileText(file("photo.tif"));
    std::ofstream(file("cut.tif"), std::ios::binary) << tiff.substr(0, tiff.size() * 2 / 3);
    ASSERT_EQ(vips_image_write_to_file(imageOf(pixels, kWidth, kHeight, 3).get(),
                                       file("photo.ppm").c_str(), nullptr),
              0);
    const std::string png = fileText(file("in.png"));
    std::ofstream(file("cut.png"), std::ios::binary) << png.substr(0, png.size() * 2 / 3);
    const std::string maskPng = fileText(file("mask.png"));
    std::ofstream(file("cut-mask.png"), std::ios::binary) << maskPng.substr(0, maskPng.size() - 20);
    // Headers that claim what no fill here could hold, with almost no data: refused from the
    // header, before gigabytes are decoded (a 32767 x 32767 fill needs at least 92 GB with its
    // windows' descriptors, more than the 8 GB of address space its run is given; a mask of
    // 30000 x 30000 would take 900 MB to decode before its size could be compared).
    std::ofstream(file("huge.png"), std::ios::binary) << pngHeaderOnly(32767, 32767);
    std::ofstream(file("huge-mask.png"), std::ios::binary) << pngHeaderOnly(30000, 30000);
    std::ofstream(file("drawing.svg"))
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"36\"/>";
    ASSERT_EQ(mkfifo(file("pipe.png").c_str(), 0600), 0);
    fs::create_directory(file("folder.png"));
    const std::vector<uint8_t> wide(16384 * 3, 100);
    writePngFile(file("wide.png"), 16384, 1, 3, wide.data());

    const struct {
        std::string image;
        std::string mask;
        std::string output;
        std::string named; // the file the message names
        const char* reason;
    } cases[] = {
        {file("none.png"), file("mask.png"), file("kept.png"), file("none.png"), "No such file"},
        {file("in.png"), file("none.png"), file("kept.png"), file("none.png"), "No such file"},
        {file("text.png"), file("mask.png"), file("kept.png"), file("text.png"), "not an image"},
        {file("in.png"), file("small.png"), file("kept.png"), file("small.png"), "20 x 20"},
        {file("in.png"), file("mask.png"), file("no/such/dir/out.png"), file("no/such/dir/out.png"),
         "cannot write"},
        {file("cut.jpg"), file("mask.png"), file("kept.png"), file("cut.jpg"), "cannot "},
        {file("closed.jpg"), file("mask.png"), file("kept.png"), file("closed.jpg"),
         "cannot decode the image: Corrupt JPEG data: premature end of data segment"},
        {file("in.png"), file("closed-mask.jpg"), file("kept.png"), file("closed-mask.jpg"),
         "cannot decode the image: Corrupt JPEG data: premature end of data segment"},
        {file("cut.tif"), file("mask.png"), file("kept.png"), file("cut.tif"),
         "cannot read the image: "},
        {file("photo.ppm"), file("mask.png"), file("kept.png"), file("photo.ppm"),
         "(ppmload), which is blocked here"},
        {file("cut.png"), file("mask.png"), file("kept.png"), file("cut.png"), "cannot decode"},
        {file("in.png"), file("cut-mask.png"), file("kept.png"), file("cut-mask.png"),
         "cannot decode"},
        {file("huge.png"), "--region=0,0,9,9", file("kept.png"), file("huge.png"),
         "needs at least 94161 MB"},
        {file("in.png"), file("huge-mask.png"), file("kept.png"), file("huge-mask.png"),
         "the mask is 30000 x 30000"},
        {file("drawing.svg"), file("mask.png"), file("kept.png"), file("drawing.svg"), "blocked"},
        {file("pipe.png"), file("mask.png"), file("kept.png"), file("pipe.png"), "not a regular"},
        {file("in.png"), file("mask.png"), file("folder.png"), file("folder.png"), "is a folder"},
        {file("wide.png"), "--region=0,0,9,1", file("out.webp"), file("out.webp"), "16383"},
    };
    for (const auto& c : cases) {
        const bool region = c.mask.rfind("--region", 0) == 0;
        const bool huge = c.image == file("huge.png");
        if (huge && !kAddressSpaceCanBeLimited)
            continue; // the plain build runs it
        const rlim_t memory = huge ? rlim_t{8} << 30 : RLIM_INFINITY;
        const Outcome outcome =
            region ? run({"fill", c.image, c.mask, "-o", c.output}, "", RLIM_INFINITY, memory)
                   : run({"fill", c.image, c.mask, "-o", c.output, "--quiet"}, "", RLIM_INFINITY,
                         memory);
        EXPECT_EQ(outcome.status, 2) << c.named;
        EXPECT_EQ(lineCount(outcome.err), 1u) << outcome.err;
        EXPECT_EQ(outcome.err.rfind("mendora: " + c.named + ": ", 0), 0u) << outcome.err;
        EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
        // Blocked loaders are named only when one of them was chosen.
        const bool blocked = c.image == file("drawing.svg") || c.image == file("photo.ppm");
        EXPECT_EQ(outcome.err.find("blocked") != std::string::npos, blocked) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_EQ(fileText(file("kept.png")), "earlier result");
    EXPECT_TRUE(fs::is_directory(file("folder.png")));
    EXPECT_FALSE(fs::exists(file("out.webp")));
    // No temporary file stays behind.
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// The output goes through a new file of its own: a link named as the output is replaced, not
// written through; a name of 255 bytes, the most a folder entry takes, is written; a new file
// gets the permissions any new file gets.
TEST_F(MendoraCli, OutputsReplaceLinksAndTakeLongNames) {
    writeSample();
    std::ofstream(file("elsewhere.txt")) << "not to be overwritten";
    fs::create_symlink(file("elsewhere.txt"), file("link.png"));
    const std::string longName = std::string(251, 'n') + ".png";
    const mode_t mask = umask(022);
    for (const std::string& output : {file("link.png"), file(longName)}) {
        const Outcome outcome = run({"fill", file("in.png"), file("mask.png"), "-o", output});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(output))) << output;
        EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                        fs::perms::group_read |
                                                        fs::perms::others_read);
    }
    umask(mask);
    EXPECT_EQ(fileText(file("elsewhere.txt")), "not to be overwritten");

    // A write that fails half-way (here the process's file size limit; the system's signal
    // for it would end the program with the temporary file left): a reason, and no file.
    const Outcome full =
        run({"fill", file("in.png"), file("mask.png"), "-o", file("big.png")}, "", 1000);
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("cannot write: File too large"), std::string::npos) << full.err;
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string().rfind(".mendora-", 0), 0u) << entry.path();
    EXPECT_FALSE(fs::exists(file("big.png")));
}

// A signal that ends the program while the output is written (delivered by the program
// itself once the temporary file is complete, before its rename) removes the temporary file
// first; a signal the caller ignores (nohup, a script's background run) stays ignored.
TEST_F(MendoraCli, SignalsLeaveNoTemporaryFileAndIgnoredOnesStayIgnored) {
    writeSample();
    const auto deliverBeforeRename = [](int signal, bool ignored) {
        return [signal, ignored] {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::signal(signal, ignored ? SIG_IGN : SIG_DFL);
            setenv("MENDORA_TEST_SIGNAL_BEFORE_RENAME", std::to_string(signal).c_str(), 1);
        };
    };
    const std::vector<std::string> fill = {"fill", file("in.png"), file("mask.png"),
                                           "-o",   file("o.png"),  "--quiet"};
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM}) {
        const Outcome ended =
            run(fill, "", RLIM_INFINITY, RLIM_INFINITY, deliverBeforeRename(signal, false));
        EXPECT_EQ(ended.signal, signal) << ended.err;
        EXPECT_FALSE(fs::exists(file("o.png"))) << signal;
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_NE(entry.path().filename().string().rfind(".mendora-", 0), 0u)
                << entry.path() << " after signal " << signal;
    }
    for (const int signal : {SIGHUP, SIGINT}) {
        const Outcome ignored =
            run(fill, "", RLIM_INFINITY, RLIM_INFINITY, deliverBeforeRename(signal, true));
        EXPECT_EQ(ignored.status, 0) << signal << ignored.err;
        EXPECT_TRUE(fs::exists(file("o.png"))) << signal;
        fs::remove(file("o.png"));
    }
}

// Replacing a file keeps its owner and group where the program may set them (root: always)
// and its permissions, but never a set-user-ID or set-group-ID bit, which would make the
// new file run with its owner's rights.
TEST_F(MendoraCli, ReplacedFilesKeepTheirOwnerButNoSetIdBits) {
    writeSample();
    const std::string theirs = file("theirs.png");
    std::ofstream(theirs) << "earlier result";
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(theirs.c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(chmod(theirs.c_str(), 06640), 0);
    const Outcome outcome = run({"fill", file("in.png"), file("mask.png"), "-o", theirs});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    struct stat written {};
    ASSERT_EQ(stat(theirs.c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(written.st_uid, 4321u);
        EXPECT_EQ(written.st_gid, 4322u);
    }
    EXPECT_NE(fileText(theirs), "earlier result");
}

// The output's name and path against the file system's own limits, before the fill: a name
// longer than the folder takes and a path longer than the system takes are refused, a path
// just inside the limit (4,092 bytes through nested folders) is written; a file of another
// user in a sticky folder, which cannot be replaced there, is refused (root runs the program
// as another user for it).
TEST_F(MendoraCli, OutputNamesMeetTheFileSystemsLimitsBeforeTheFill) {
    writeSample();
    const std::vector<std::string> fill = {"fill", file("in.png"), file("mask.png"), "-o"};
    const auto fillTo = [&](const std::string& output) {
        std::vector<std::string> arguments = fill;
        arguments.push_back(output);
        return run(arguments);
    };
    const Outcome longName = fillTo(file(std::string(252, 'n') + ".png"));
    EXPECT_EQ(longName.status, 2);
    EXPECT_EQ(longName.err, "mendora: " + file(std::string(252, 'n') + ".png") +
                                ": cannot write: its name is 256 bytes, more than the 255 its "
                                "folder takes\n");
    EXPECT_EQ(longName.out, "");

    // Folders of 200 bytes a name down to a path of 4,092 bytes with the output's name.
    std::string deep = folder.string();
    const std::string outputName = "o.png";
    while (deep.size() + 1 + 200 + 1 + outputName.size() <= 4092)
        deep += "/" + std::string(200, 'd');
    deep += "/" + std::string(4092 - deep.size() - 2 - outputName.size(), 'e');
    fs::create_directories(deep);
    const std::string longest = deep + "/" + outputName;
    ASSERT_EQ(longest.size(), 4092u);
    const Outcome longPath = fillTo(longest);
    EXPECT_EQ(longPath.status, 0) << longPath.err;
    EXPECT_TRUE(fs::exists(longest));
    const std::string tooLong = deep + "/" + std::string(10, 'p') + ".png";
    const Outcome overLimit = fillTo(tooLong);
    EXPECT_EQ(overLimit.status, 2);
    EXPECT_NE(overLimit.err.find(": cannot write: the path is 4101 bytes, more than the 4095 "
                                 "the system takes"),
              std::string::npos)
        << overLimit.err;

    if (geteuid() != 0)
        GTEST_SKIP() << "the sticky folder's case needs root to act as two users";
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    const std::string shared = file("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string theirs = shared + "/theirs.png";
    std::ofstream(theirs) << "earlier result";
    std::vector<std::string> arguments = fill;
    arguments.push_back(theirs);
    const Outcome sticky = run(arguments, "", RLIM_INFINITY, RLIM_INFINITY, [] {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(126);
    });
    EXPECT_EQ(sticky.status, 2) << sticky.err;
    EXPECT_EQ(sticky.err, "mendora: " + theirs +
                              ": cannot replace it: it belongs to another user, and its folder "
                              "lets only a file's owner replace it (sticky bit)\n");
    EXPECT_EQ(fileText(theirs), "earlier result");
}

// Headers that claim more than the run could hold are refused from the headers: the count
// takes in what decoding holds besides the fill (a 16-bit RGBA image's 8 bytes a pixel, kept
// through the fill to write them back; a GIF's frame) and the descriptors of the source's
// windows, against the address space the run is given. With a mask, the mask is decoded first
// and the image not at all when what it selects leaves too many windows to describe.
TEST_F(MendoraCli, PixelBombsAreRefusedFromTheirHeaders) {
    if (!kAddressSpaceCanBeLimited)
        GTEST_SKIP() << "the plain build runs it";
    writeSample();
    std::ofstream(file("deep.png"), std::ios::binary) << pngHeaderOnly(12000, 12000, 16, 6);
    std::ofstream(file("deepest.png"), std::ios::binary) << pngHeaderOnly(32767, 32767, 16, 6);
    // 35 bytes: a 32767 x 32767 GIF of one empty LZW block.
    const std::string side("\xff\x7f", 2);
    std::ofstream(file("huge.gif"), std::ios::binary)
        << "GIF89a" << side << side << std::string("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 14)
        << side << side << std::string("\0\x02\x02\x4c\x01\0;", 7);
    // A plain image whose data never comes, and a real mask of its size: only the mask can be
    // decoded.
    std::ofstream(file("wide.png"), std::ios::binary) << pngHeaderOnly(12000, 12000, 8, 2);
    const std::vector<uint8_t> spot = discMask(12000, 12000, 6000, 6000, 20, 255);
    writePngFile(file("wide-mask.png"), 12000, 12000, 1, spot.data());
    const struct {
        const char* name;
        const char* selection;
        const char* source; // a source of no window leaves the decoders' count alone
        rlim_t memory;
        const char* reason;
    } cases[] = {
        // 21 bytes a pixel: the fill's 12, the kept samples' 8 and the selection kept.
        {"deep.png", "--region=0,0,9,9", "--source=0,0,9,9", rlim_t{2} << 30,
         "12000 x 12000 needs at least 2883 MB to read and fill"},
        {"deepest.png", "--region=0,0,9,9", "--source=0,0,9,9", rlim_t{8} << 30,
         "32767 x 32767 needs at least 21502 MB to read and fill"},
        // The fill's 12 bytes a pixel and 80 for each of the 1.07 G windows' descriptors.
        {"huge.gif", "--region=0,0,9,9", "--quiet", rlim_t{8} << 30,
         "32767 x 32767 needs at least 94161 MB to read and fill"},
        // 12 bytes a pixel and 80 for each window but those of the disc.
        {"wide.png", "wide-mask.png", "--quiet", rlim_t{4} << 30,
         "12000 x 12000 needs at least 12611 MB to read and fill"},
    };
    for (const auto& c : cases) {
        const std::string selection =
            c.selection[0] == '-' ? std::string(c.selection) : file(c.selection);
        const Outcome outcome =
            run({"fill", file(c.name), selection, c.source, "-o", file("o.png")}, "", RLIM_INFINITY,
                c.memory);
        EXPECT_EQ(outcome.status, 2) << c.name;
        EXPECT_EQ(lineCount(outcome.err), 1u) << outcome.err;
        EXPECT_EQ(outcome.err.rfind("mendora: " + file(c.name) + ": " + c.reason, 0), 0u)
            << outcome.err;
    }
}

// Memory running out anywhere, inside libvips and glib's threads too, ends the run with the
// out-of-memory line and status 1 (or the refusal from the headers), never a crash or a file
// error: an 11 MP photograph under address-space limits from 140 MB to 300 MB.
TEST_F(MendoraCli, OutOfMemoryUnderTightLimitsIsReportedNeverACrash) {
    if (!kAddressSpaceCanBeLimited)
        GTEST_SKIP() << "the plain build runs it";
    const int32_t width = 4000, height = 2750;
    ASSERT_EQ(
        vips_image_write_to_file(imageOf(texturedImage(width, height, 5), width, height, 3).get(),
                                 file("photo.jpg").c_str(), nullptr),
        0);
    const std::vector<uint8_t> spot = discMask(width, height, 2000, 1300, 30, 255);
    writePngFile(file("spot.png"), width, height, 1, spot.data());
    for (rlim_t megabytes = 140; megabytes <= 300; megabytes += 10) {
        const Outcome outcome =
            run({"fill", file("photo.jpg"), file("spot.png"), "-o", file("o.png"), "--quiet"}, "",
                RLIM_INFINITY, megabytes << 20);
        EXPECT_EQ(outcome.signal, 0) << megabytes << " MB";
        const bool outOfMemory =
            outcome.status == 1 && outcome.err.find("out of memory (-108)") != std::string::npos;
        const bool refused =
            outcome.status == 2 && outcome.err.find("to read and fill") != std::string::npos;
        EXPECT_TRUE(outcome.status == 0 || outOfMemory || refused)
            << megabytes << " MB: " << outcome.status << " " << outcome.err;
    }
}

// A JPEG written from a camera JPEG carries no picture of what was removed: the EXIF
// thumbnail is dropped, and XMP's orientation says upright like the pixels.
TEST_F(MendoraCli, JpegMetadataShowsNothingOfTheRemovedContent) {
    writeSample();
    ExifData* exif = exif_data_new();
    ExifEntry* make = exif_entry_new();
    exif_content_add_entry(exif->ifd[EXIF_IFD_0], make);
    exif_entry_initialize(make, EXIF_TAG_X_RESOLUTION);
    exif_entry_unref(make);
    const unsigned char thumbnail[] = {0xff, 0xd8, 0xff, 0xd9}; // the smallest JPEG
    exif->data = static_cast<unsigned char*>(std::malloc(sizeof thumbnail));
    std::memcpy(exif->data, thumbnail, sizeof thumbnail);
    exif->size = sizeof thumbnail;
    unsigned char* block = nullptr;
    unsigned int blockSize = 0;
    exif_data_save_data(exif, &block, &blockSize);
    exif_data_unref(exif);
    VipsPtr camera = imageOf(pixels, kWidth, kHeight, 3);
    vips_image_set_blob_copy(camera.get(), VIPS_META_EXIF_NAME, block, blockSize);
    std::free(block);
    ASSERT_EQ(vips_image_write_to_file(camera.get(), file("camera.jpg").c_str(), nullptr), 0);
    // An XMP packet of about 65,000 bytes, legal in one segment (libvips writes none this
    // long), saying the pixels are turned.
    const std::string artist(64700, 'a');
    {
        Exiv2::XmpData camerasXmp;
        camerasXmp["Xmp.tiff.Orientation"] = "6";
        camerasXmp["Xmp.tiff.Artist"] = artist;
        std::string packet;
        ASSERT_EQ(Exiv2::XmpParser::encode(packet, camerasXmp,
                                           Exiv2::XmpParser::useCompactFormat |
                                               Exiv2::XmpParser::omitPacketWrapper),
                  0);
        auto cameraFile = Exiv2::ImageFactory::open(file("camera.jpg"));
        cameraFile->readMetadata();
        cameraFile->setXmpPacket(packet);
        cameraFile->writeXmpFromPacket(true);
        cameraFile->writeMetadata();
    }
    // The input carries its thumbnail, as a camera's does.
    const auto thumbnailBytes = [](const std::vector<uint8_t>& block) {
        ExifData* data = exif_data_new_from_data(block.data(), block.size());
        const unsigned int size = data->size;
        exif_data_unref(data);
        return size;
    };
    VipsPtr input = opened(file("camera.jpg"));
    ASSERT_EQ(thumbnailBytes(blobOf(input.get(), VIPS_META_EXIF_NAME)), sizeof thumbnail);

    const Outcome outcome =
        run({"fill", file("camera.jpg"), file("mask.png"), "-o", file("out.jpg")});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    VipsPtr written = opened(file("out.jpg"));
    const std::vector<uint8_t> writtenExif = blobOf(written.get(), VIPS_META_EXIF_NAME);
    ASSERT_FALSE(writtenExif.empty());
    EXPECT_EQ(thumbnailBytes(writtenExif), 0u);
    ExifData* kept = exif_data_new_from_data(writtenExif.data(), writtenExif.size());
    EXPECT_EQ(kept->ifd[EXIF_IFD_1]->count, 0u);
    EXPECT_NE(exif_content_get_entry(kept->ifd[EXIF_IFD_0], EXIF_TAG_X_RESOLUTION), nullptr);
    exif_data_unref(kept);
    auto writtenFile = Exiv2::ImageFactory::open(file("out.jpg"));
    writtenFile->readMetadata();
    const Exiv2::XmpData& writtenXmp = writtenFile->xmpData();
    const auto orientation = writtenXmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    ASSERT_NE(orientation, writtenXmp.end());
    EXPECT_EQ(orientation->toString(), "1");
    const auto artistKept = writtenXmp.findKey(Exiv2::XmpKey("Xmp.tiff.Artist"));
    ASSERT_NE(artistKept, writtenXmp.end());
    EXPECT_EQ(artistKept->toString(), artist);
}

// Files that decode whole but not as plain RGB or not whole: CIELAB (8-bit LabQ, 16-bit LabS)
// converted as libvips converts it, the first page of several, a JPEG whose warning lost no
// pixel: each is filled, with one notice line naming the file.
TEST_F(MendoraCli, ConvertedAndPartlyReadFilesSaySo) {
    writeSample();
    VipsPtr shown = imageOf(pixels, kWidth, kHeight, 3);
    VipsImage* lab = nullptr;
    ASSERT_EQ(vips_colourspace(shown.get(), &lab, VIPS_INTERPRETATION_LABQ, nullptr), 0);
    ASSERT_EQ(vips_image_write_to_file(VipsPtr(lab).get(), file("lab8.tif").c_str(), nullptr), 0);
    ASSERT_EQ(vips_colourspace(shown.get(), &lab, VIPS_INTERPRETATION_LABS, nullptr), 0);
    ASSERT_EQ(vips_image_write_to_file(VipsPtr(lab).get(), file("lab16.tif").c_str(), nullptr), 0);
    // Two pages: the picture, then a blank one.
    std::vector<uint8_t> twoPages = pixels;
    twoPages.resize(pixels.size() * 2, 0);
    VipsPtr pages = imageOf(twoPages, kWidth, kHeight * 2, 3);
    vips_image_set_int(pages.get(), VIPS_META_PAGE_HEIGHT, kHeight);
    ASSERT_EQ(vips_image_write_to_file(pages.get(), file("pages.tif").c_str(), nullptr), 0);
    // Bytes that belong to no segment before the scan: libjpeg skips them with a warning.
    ASSERT_EQ(vips_image_write_to_file(shown.get(), file("clean.jpg").c_str(), nullptr), 0);
    std::ofstream(file("junk.jpg"), std::ios::binary)
        << withJunkBeforeScan(fileText(file("clean.jpg")));

    const struct {
        std::string image;
        std::string named;
        std::string notice;
    } cases[] = {
        {file("lab8.tif"), file("lab8.tif"), "CIELAB image converted to sRGB"},
        {file("lab16.tif"), file("lab16.tif"), "CIELAB image converted to 16-bit RGB"},
        {file("pages.tif"), file("pages.tif"), "only the first of its 2 pages or frames is read"},
        {file("junk.jpg"), file("junk.jpg"),
         "Corrupt JPEG data: 3 extraneous bytes before marker 0xda (every pixel decoded)"},
    };
    for (const auto& c : cases) {
        // An output of its own: libvips' cache in this process keeps files read by name.
        const std::string output = c.image + ".png";
        const Outcome outcome = run({"fill", c.image, file("mask.png"), "-o", output});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(outcome.err, "mendora: " + c.named + ": " + c.notice + "\n");
        int32_t w = 0, h = 0;
        const std::vector<uint8_t> written = uprightPixels(output, w, h);
        ASSERT_EQ(h, kHeight) << c.image;
        // Where nothing was filled: the pixels libvips' own conversion to RGB gives.
        const bool deep = c.image == file("lab16.tif");
        VipsImage* rgb = nullptr;
        ASSERT_EQ(vips_colourspace(opened(c.image).get(), &rgb,
                                   deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB,
                                   nullptr),
                  0);
        VipsImage* firstPage = nullptr;
        ASSERT_EQ(vips_crop(VipsPtr(rgb).get(), &firstPage, 0, 0, kWidth, kHeight, nullptr), 0);
        size_t size = 0;
        void* expected = vips_image_write_to_memory(VipsPtr(firstPage).get(), &size);
        ASSERT_EQ(written.size(), size) << c.image;
        const size_t bytes = pixels.size() == 0 ? 0 : size / pixels.size();
        for (size_t i = 0; i < size; i++)
            ASSERT_TRUE(mask[i / bytes / 3] != 0 ||
                        written[i] == static_cast<uint8_t*>(expected)[i])
                << c.image << " byte " << i;
        g_free(expected);
    }
    EXPECT_TRUE(readPng(file("pages.tif.png")).data == engineFill(FillParameters{0, 0, 48, 36, 4}));
    EXPECT_EQ(run({"fill", file("clean.jpg"), file("mask.png"), "-o", file("c.png")}).status, 0);
    EXPECT_EQ(fileText(file("junk.jpg.png")), fileText(file("c.png")));
}

TEST_F(MendoraCli, MasksThatLeaveNoSourceAndRegions) {
    writeSample();
    const size_t count = static_cast<size_t>(kWidth) * kHeight;
    const std::vector<uint8_t> everything(count, 255);
    writePngFile(file("all.png"), kWidth, kHeight, 1, everything.data());
    writePngFile(file("opaque.png"), kWidth, kHeight, 4,
                 std::vector<uint8_t>(count * 4, 255).data());
    // Every pixel selected, by grey value or by an opaque alpha: said before the plug-in runs
    // (which would report bad parameters, -30100).
    for (const char* name : {"all.png", "opaque.png"}) {
        const Outcome outcome = run({"fill", file("in.png"), file(name), "-o", file("o.png")});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(lineCount(outcome.err), 1u);
        EXPECT_NE(outcome.err.find("the mask selects every pixel"), std::string::npos)
            << outcome.err;
        EXPECT_EQ(outcome.err.find("by its alpha") != std::string::npos,
                  std::string(name) == "opaque.png")
            << outcome.err;
    }
    // A source rectangle too small for a patch: the plug-in's own code.
    const Outcome small =
        run({"fill", file("in.png"), file("mask.png"), "-o", file("o.png"), "--source", "0,0,3,3"});
    EXPECT_EQ(small.status, 1);
    EXPECT_NE(small.err.find("bad parameters (-30100)"), std::string::npos) << small.err;
    EXPECT_FALSE(fs::exists(file("o.png")));

    // --region fills a rectangle, right and bottom exclusive, as a mask of it does.
    const Outcome region =
        run({"fill", file("in.png"), "--region", "10,8,20,14", "-o", file("r.png")});
    ASSERT_EQ(region.status, 0) << region.err;
    EXPECT_NE(region.out.find(" 60 filled"), std::string::npos) << region.out;
    mask.assign(count, 0);
    for (int32_t y = 8; y < 14; y++)
        for (int32_t x = 10; x < 20; x++)
            mask[static_cast<size_t>(y) * kWidth + x] = 1;
    EXPECT_TRUE(readPng(file("r.png")).data == engineFill(FillParameters{0, 0, 48, 36, 4}));

    // A soft-edged mask: --mask-threshold leaves out the faint rim.
    std::vector<uint8_t> soft(count, 0);
    for (size_t i = 0; i < count; i++)
        soft[i] = mask[i] != 0 ? 200 : 40;
    writePngFile(file("soft.png"), kWidth, kHeight, 1, soft.data());
    const Outcome thresholded = run(
        {"fill", file("in.png"), file("soft.png"), "-o", file("t.png"), "--mask-threshold", "128"});
    ASSERT_EQ(thresholded.status, 0) << thresholded.err;
    EXPECT_EQ(fileText(file("t.png")), fileText(file("r.png")));
}

// The process the program `parent` started last, or 0 when it has none; waits for it to be
// stopped when `stopped` (at most 60 s: past that the test fails instead of hanging).
static pid_t childOf(pid_t parent, bool stopped) {
    for (int tries = 0; tries < 60000; tries++) {
        pid_t child = 0;
        std::ifstream(std::string("/proc/") + std::to_string(parent) + "/task/" +
                      std::to_string(parent) + "/children") >>
            child;
        std::string stat;
        if (child > 0)
            std::getline(std::ifstream("/proc/" + std::to_string(child) + "/stat"), stat);
        // "pid (name) state ...": the state follows the name's closing bracket.
        const size_t bracket = stat.rfind(')');
        if (child > 0 &&
            (!stopped || (bracket != std::string::npos && stat.compare(bracket, 3, ") T") == 0)))
            return child;
        usleep(1000);
    }
    return 0;
}

// A batch stopped by SIGTERM passes it on to its running fill (stopped here, forced by the
// test hook, just before renaming its finished output into place), starts no further row and
// ends as SIGTERM ends it, its fill gone and no temporary file left.
TEST_F(MendoraCli, BatchPassesItsStopSignalOnToItsFills) {
    writeSample();
    std::string list;
    for (const char* output : {"s1.png", "s2.png"})
        list += file("in.png") + "," + file("mask.png") + "," + file(output) + "\n";
    std::ofstream(file("list.csv"), std::ios::binary) << list;
    const pid_t batch = fork();
    if (batch == 0) {
        if (!freopen("/dev/null", "wb", stdout) || !freopen("/dev/null", "wb", stderr) ||
            setenv("MENDORA_TEST_SIGNAL_BEFORE_RENAME", std::to_string(SIGSTOP).c_str(), 1) != 0)
            _exit(127);
        execProgram({"batch", file("list.csv"), "--jobs", "1", "--radius", "3"});
    }
    const pid_t fill = childOf(batch, true);
    ASSERT_GT(fill, 0);
    ASSERT_EQ(kill(batch, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(batch, &status, 0), batch);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    // The batch waited for its fill: it is gone, not left running on its own.
    EXPECT_EQ(kill(fill, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    kill(fill, SIGKILL); // a fill left behind stops no later test
    // s1.png is not asserted: the fill was stopped with its output complete, a moment before
    // the rename, and the signal the batch passed on may be taken by another of its threads
    // while the main one goes on to rename (a complete file either way). No further row began.
    EXPECT_FALSE(fs::exists(file("s2.png")));
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".mendora-"), std::string::npos)
            << entry.path();
}

TEST_F(MendoraCli, BatchFillsEachRowAsFillDoesAndGoesOnAfterFailures) {
    writeSample();
    const std::vector<uint8_t> other = texturedImage(kWidth, kHeight, 31);
    writePngFile(file("in2.png"), kWidth, kHeight, 3, other.data());
    const size_t count = static_cast<size_t>(kWidth) * kHeight;
    writePngFile(file("all.png"), kWidth, kHeight, 1, std::vector<uint8_t>(count, 255).data());
    for (const char* name : {"in.png", "in2.png"}) {
        const Outcome one = run({"fill", file(name), file("mask.png"), "-o",
                                 file(std::string("ref-") + name), "--radius", "3"});
        ASSERT_EQ(one.status, 0) << one.err;
    }
    // Tabs and commas, a comment, a missing image and a mask selecting everything; the list
    // on the standard input.
    const std::string list = file("in.png") + "\t" + file("mask.png") + "\t" + file("a.png") +
                             "\n# a comment\n\n" + file("missing.png") + "," + file("mask.png") +
                             "," + file("c.png") + "\r\n" + file("in.png") + "," + file("all.png") +
                             "," + file("d.png") + "\n" + file("in2.png") + "," + file("mask.png") +
                             "," + file("b.png") + "\n";
    const Outcome batch = run({"batch", "-", "--jobs", "2", "--radius=3"}, list);
    EXPECT_EQ(batch.status, 1) << batch.err;
    EXPECT_EQ(lineCount(batch.err), 2u) << batch.err;
    EXPECT_NE(batch.err.find("mendora: " + file("missing.png") + ": "), std::string::npos)
        << batch.err;
    EXPECT_NE(batch.err.find(file("all.png") + ": the mask selects every pixel"), std::string::npos)
        << batch.err;
    EXPECT_NE(batch.out.find("4 images: 2 filled, 2 failed, 0 skipped"), std::string::npos)
        << batch.out;
    EXPECT_EQ(fileText(file("a.png")), fileText(file("ref-in.png")));
    EXPECT_EQ(fileText(file("b.png")), fileText(file("ref-in2.png")));
    EXPECT_FALSE(fs::exists(file("c.png")));
    EXPECT_FALSE(fs::exists(file("d.png")));

    // --skip-existing leaves a row whose output is there; one at a time, from a list file.
    std::ofstream(file("a.png"), std::ios::binary) << "kept";
    fs::remove(file("b.png"));
    std::ofstream(file("list.csv"), std::ios::binary) << list;
    const Outcome resumed = run({"batch", file("list.csv"), "--skip-existing", "--radius", "3"});
    EXPECT_EQ(resumed.status, 1) << resumed.err;
    EXPECT_NE(resumed.out.find("4 images: 1 filled, 2 failed, 1 skipped"), std::string::npos)
        << resumed.out;
    EXPECT_EQ(fileText(file("a.png")), "kept");
    EXPECT_EQ(fileText(file("b.png")), fileText(file("ref-in2.png")));
    for (const auto& entry : fs::directory_iterator(folder))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    // A list it cannot take runs nothing: a row without three fields, an output named twice.
    const std::string row = file("in.png") + "," + file("mask.png") + "," + file("e.png") + "\n";
    for (const std::string& bad : {row + file("in.png") + "," + file("e2.png") + "\n", row + row}) {
        const Outcome refused = run({"batch", "-"}, bad);
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("standard input: line 2: "), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(file("e.png")));
    }
    // Its own options, checked as fill's are.
    EXPECT_NE(run({"batch", "-", "--jobs", "0"}, row).err.find("--jobs 0 is outside 1..64"),
              std::string::npos);
    EXPECT_EQ(run({"batch", "-", "-o", file("x.png")}, row).status, 2);
    EXPECT_EQ(
        run({"fill", file("in.png"), file("mask.png"), "-o", file("x.png"), "--jobs", "2"}).status,
        2);
    EXPECT_FALSE(fs::exists(file("x.png")));
}

TEST_F(MendoraCli, PhotographsOrientationProfilesAndFormats) {
    writeSample();
    // A camera JPEG stored sideways with orientation 6 (rotate 90 degrees clockwise to
    // show) and a colour profile; the mask is drawn on the picture as shown (48 x 36).
    VipsPtr shown = imageOf(pixels, kWidth, kHeight, 3);
    VipsImage* turned = nullptr;
    ASSERT_EQ(vips_rot270(shown.get(), &turned, nullptr), 0);
    VipsPtr stored(turned);
    VipsBlob* profile = nullptr;
    ASSERT_EQ(vips_profile_load("srgb", &profile, nullptr), 0);
    size_t profileSize = 0;
    const auto* profileData = static_cast<const uint8_t*>(vips_area_get_data(
        reinterpret_cast<VipsArea*>(profile), &profileSize, nullptr, nullptr, nullptr));
    const std::vector<uint8_t> icc(profileData, profileData + profileSize);
    vips_area_unref(reinterpret_cast<VipsArea*>(profile));
    vips_image_set_blob_copy(stored.get(), VIPS_META_ICC_NAME, icc.data(), icc.size());
    vips_image_set_int(stored.get(), VIPS_META_ORIENTATION, 6);
    ASSERT_EQ(vips_image_write_to_file(stored.get(), file("camera.jpg").c_str(), "Q", 95, nullptr),
              0);
    // The same picture upright as PNG with the profile.
    vips_image_set_blob_copy(shown.get(), VIPS_META_ICC_NAME, icc.data(), icc.size());
    ASSERT_EQ(vips_image_write_to_file(shown.get(), file("profiled.png").c_str(), nullptr), 0);

    int32_t w = 0, h = 0;
    pixels = uprightPixels(file("camera.jpg"), w, h);
    ASSERT_EQ(w, kWidth);
    const std::vector<uint8_t> expected = engineFill(FillParameters{0, 0, 48, 36, 4});
    for (const char* output : {"out.png", "out.jpg", "out.tif"}) {
        const Outcome outcome =
            run({"fill", file("camera.jpg"), file("mask.png"), "-o", file(output)});
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        VipsPtr written = opened(file(output));
        ASSERT_TRUE(written) << output;
        EXPECT_EQ(blobOf(written.get(), VIPS_META_ICC_NAME), icc) << output;
        int orientation = 1;
        if (vips_image_get_typeof(written.get(), VIPS_META_ORIENTATION) != 0)
            vips_image_get_int(written.get(), VIPS_META_ORIENTATION, &orientation);
        EXPECT_EQ(orientation, 1) << output;
        EXPECT_EQ(vips_image_get_width(written.get()), kWidth) << output;
    }
    // Filled where the mask says, written upright.
    EXPECT_TRUE(readPng(file("out.png")).data == expected);
    // The JPEG output is JPEG, with the EXIF data carried over; the TIFF is TIFF.
    EXPECT_EQ(fileText(file("out.jpg")).substr(0, 3), "\xff\xd8\xff");
    VipsPtr jpeg = opened(file("out.jpg"));
    EXPECT_FALSE(blobOf(jpeg.get(), VIPS_META_EXIF_NAME).empty());
    EXPECT_EQ(fileText(file("out.tif")).substr(0, 4), std::string("II*\0", 4));

    // A PNG with a profile keeps it in a PNG; replacing the input keeps its permissions.
    fs::permissions(file("profiled.png"), fs::perms::owner_read | fs::perms::owner_write);
    const Outcome png =
        run({"fill", file("profiled.png"), file("mask.png"), "-o", file("profiled.png")});
    ASSERT_EQ(png.status, 0) << png.err;
    VipsPtr replaced = opened(file("profiled.png"));
    EXPECT_EQ(blobOf(replaced.get(), VIPS_META_ICC_NAME), icc);
    EXPECT_EQ(fs::status(file("profiled.png")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

// Runs the program on a pseudo-terminal, types `keys` once `shown` was drawn (by default the
// region dialog's radius label), and answers the exit status and everything the terminal
// showed.
// With `signal`, sends it instead of typing, and leaves in `modes` the terminal's modes after
// the program ended.
Outcome runOnTerminal(const std::vector<std::string>& arguments, const std::string& keys,
                      const std::string& shown = "coefficient:", int signal = 0,
                      termios* modes = nullptr) {
    int master = -1;
    const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) {
        execProgram(arguments);
    }
    Outcome outcome;
    bool typed = false;
    char buffer[4096];
    for (;;) {
        pollfd request{master, POLLIN, 0};
        // A guard against a program that hangs, not a measurement.
        if (poll(&request, 1, 20000) <= 0)
            break;
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            break; // the program ended and closed the terminal
        outcome.out.append(buffer, static_cast<size_t>(got));
        if (!typed && outcome.out.find(shown) != std::string::npos) {
            typed = signal != 0 ? kill(child, signal) == 0
                                : write(master, keys.data(), keys.size()) ==
                                      static_cast<ssize_t>(keys.size());
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (modes != nullptr)
        tcgetattr(master, modes);
    close(master);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

TEST_F(MendoraCli, InteractiveDialogOnTheTerminal) {
    writeSample();
    const Outcome canceled = runOnTerminal(
        {"fill", file("in.png"), file("mask.png"), "-o", file("o.png"), "--interactive"}, "\x1b");
    EXPECT_EQ(canceled.status, 1);
    EXPECT_NE(canceled.out.find("canceled (-128)"), std::string::npos);
    EXPECT_FALSE(fs::exists(file("o.png")));

    // Shift-Tab three times from box 3 reaches the radius box.
    const Outcome confirmed = runOnTerminal(
        {"fill", file("in.png"), file("mask.png"), "-o", file("o.png"), "--interactive"},
        "\x1b[Z\x1b[Z\x1b[Z"
        "2\r");
    EXPECT_EQ(confirmed.status, 0) << confirmed.out;
    EXPECT_NE(confirmed.out.find("patch radius 2)"), std::string::npos);
    EXPECT_TRUE(readPng(file("o.png")).data == engineFill(FillParameters{0, 0, 48, 36, 2}));

    // Values given on the command line are typed first; the person confirms them.
    const Outcome given =
        runOnTerminal({"fill", file("in.png"), file("mask.png"), "-o", file("g.png"),
                       "--interactive", "--radius", "3", "--source", "2,3,46,30"},
                      "\r");
    EXPECT_EQ(given.status, 0) << given.out;
    EXPECT_NE(given.out.find("(source rectangle 2,3 to 46,30, patch radius 3)"), std::string::npos)
        << given.out;

    // Ended by a signal while the dialog is open: the normal screen, the cursor and the
    // terminal's modes come back before the program ends.
    termios modes{};
    const Outcome terminated = runOnTerminal(
        {"fill", file("in.png"), file("mask.png"), "-o", file("t.png"), "--interactive"}, "",
        "coefficient:", SIGTERM, &modes);
    EXPECT_EQ(terminated.signal, SIGTERM);
    const size_t entered = terminated.out.rfind("\x1b[?1049h");
    ASSERT_NE(entered, std::string::npos);
    EXPECT_NE(terminated.out.find("\x1b[?1049l", entered), std::string::npos);
    EXPECT_NE(modes.c_lflag & ECHO, 0u);
    EXPECT_NE(modes.c_lflag & ICANON, 0u);
    EXPECT_FALSE(fs::exists(file("t.png")));
}

// --progress: plain lines for programs, every stage in order from its start to its end, done
// never falling, the last line all the region's pixels; without it (and no terminal) nothing
// on the error output. A Ctrl+C at a fill step (the program's test hook sends SIGINT there)
// ends the run with status 130, nothing written and no temporary file left.
TEST_F(MendoraCli, ProgressLinesAndInterruptedFills) {
    writeSample();
    const Outcome lines =
        run({"fill", file("in.png"), file("mask.png"), "-o", file("out.png"), "--progress"});
    ASSERT_EQ(lines.status, 0) << lines.err;
    std::istringstream text(lines.err);
    std::vector<std::string> stages;
    long long done = 0, total = 0;
    for (std::string line; std::getline(text, line);) {
        char stage[32] = "";
        long long lineDone = 0, lineTotal = 0;
        int percent = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "progress stage=%31s done=%lld total=%lld percent=%d",
                              stage, &lineDone, &lineTotal, &percent),
                  4)
            << line;
        if (stages.empty() || stages.back() != stage) {
            EXPECT_TRUE(stages.empty() || done == total) << "a stage ends before its total";
            EXPECT_EQ(lineDone, 0) << line;
            stages.push_back(stage);
        } else {
            EXPECT_GE(lineDone, done) << line;
        }
        EXPECT_EQ(percent, static_cast<int>(lineDone * 100 / lineTotal)) << line;
        done = lineDone;
        total = lineTotal;
    }
    EXPECT_EQ(stages, (std::vector<std::string>{"preparing", "describing", "indexing", "filling"}));
    EXPECT_EQ(done, std::count(mask.begin(), mask.end(), 255));
    EXPECT_EQ(done, total);
    EXPECT_TRUE(readPng(file("out.png")).data == engineFill(FillParameters{0, 0, 48, 36, 4}));

    const Outcome quiet = run({"fill", file("in.png"), file("mask.png"), "-o", file("q.png")});
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");

    std::ofstream(file("old.png")) << "kept";
    const auto before = std::distance(fs::directory_iterator(folder), fs::directory_iterator());
    ASSERT_EQ(setenv("MENDORA_TEST_INTERRUPT_AT_STEP", "2", 1), 0);
    const Outcome stopped = run({"fill", file("in.png"), file("mask.png"), "-o", file("old.png")});
    unsetenv("MENDORA_TEST_INTERRUPT_AT_STEP");
    EXPECT_EQ(stopped.status, 130);
    EXPECT_EQ(stopped.err, "mendora: interrupted; " + file("old.png") + " was not written\n");
    EXPECT_EQ(stopped.out, "");
    EXPECT_EQ(fileText(file("old.png")), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), before)
        << "a file was left beside the output";
}

// A 16-bit image is filled through 8 bits: its unselected pixels keep their 16 bits exactly
// in PNG, the filled ones hold the fill's colours; a 16-bit mask's faintest value selects.
// An RGBA image keeps its alpha, and transparent source pixels are named.
TEST_F(MendoraCli, SixteenBitsAndAlphaAreKept) {
    writeSample();
    const size_t count = static_cast<size_t>(kWidth) * kHeight;
    std::vector<uint16_t> deep(count * 3);
    for (size_t i = 0; i < deep.size(); i++) // the 8-bit texture with low bits of its own
        deep[i] = static_cast<uint16_t>(pixels[i] * 256 + (i * 37) % 256);
    std::vector<uint16_t> deepMask(count);
    for (size_t i = 0; i < count; i++)
        deepMask[i] = mask[i] != 0 ? 1 : 0; // the faintest nonzero 16-bit value
    writePngFile(file("deep.png"), kWidth, kHeight, 3, deep.data(), true);
    writePngFile(file("deep-mask.png"), kWidth, kHeight, 1, deepMask.data(), true);
    std::vector<uint8_t> rounded(count * 3);
    for (size_t i = 0; i < rounded.size(); i++)
        rounded[i] = static_cast<uint8_t>((deep[i] + 128) / 257);
    pixels = rounded;
    const std::vector<uint8_t> filled = engineFill(FillParameters{0, 0, 48, 36, 4});

    const Outcome outcome =
        run({"fill", file("deep.png"), file("deep-mask.png"), "-o", file("deep-out.png")});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    int32_t w = 0, h = 0;
    const std::vector<uint8_t> written = uprightPixels(file("deep-out.png"), w, h);
    ASSERT_EQ(written.size(), count * 3 * 2);
    const auto* samples = reinterpret_cast<const uint16_t*>(written.data());
    for (size_t i = 0; i < count * 3; i++) {
        const uint16_t expected =
            mask[i / 3] != 0 ? static_cast<uint16_t>(filled[i] * 257) : deep[i];
        ASSERT_EQ(samples[i], expected) << "sample " << i;
    }

    // RGBA: the colours filled as the fill does them, the alpha as it was; the transparent
    // pixels outside the selection are counted; JPEG says it drops the alpha.
    std::vector<uint8_t> rgba(count * 4);
    size_t transparent = 0;
    for (size_t i = 0; i < count; i++) {
        std::copy_n(&rounded[i * 3], 3, &rgba[i * 4]);
        rgba[i * 4 + 3] = static_cast<uint8_t>(i % 7 == 0 ? 0 : 40 + i % 200);
        transparent += i % 7 == 0 && mask[i] == 0 ? 1 : 0;
    }
    writePngFile(file("rgba.png"), kWidth, kHeight, 4, rgba.data());
    const Outcome withAlpha =
        run({"fill", file("rgba.png"), file("mask.png"), "-o", file("rgba-out.png")});
    ASSERT_EQ(withAlpha.status, 0) << withAlpha.err;
    EXPECT_EQ(withAlpha.err, "mendora: " + file("rgba.png") + ": " + std::to_string(transparent) +
                                 " fully transparent pixels outside the selection lend their "
                                 "hidden colours as texture\n");
    const std::vector<uint8_t> keptAlpha = uprightPixels(file("rgba-out.png"), w, h);
    ASSERT_EQ(keptAlpha.size(), count * 4);
    for (size_t i = 0; i < count; i++) {
        ASSERT_EQ(keptAlpha[i * 4 + 3], rgba[i * 4 + 3]) << "pixel " << i;
        ASSERT_TRUE(std::equal(&keptAlpha[i * 4], &keptAlpha[i * 4 + 3], &filled[i * 3]))
            << "pixel " << i;
    }
    const Outcome jpeg =
        run({"fill", file("rgba.png"), file("mask.png"), "-o", file("rgba-out.jpg"), "--quiet"});
    EXPECT_EQ(jpeg.status, 0);
    EXPECT_EQ(jpeg.err, "");
    const Outcome told =
        run({"fill", file("rgba.png"), file("mask.png"), "-o", file("rgba-out.jpg")});
    EXPECT_NE(told.err.find("alpha dropped"), std::string::npos) << told.err;
}

// --match-tone adds the membrane of tone_match.h to the engine's fill, in 8 bits for an 8-bit
// image and in the input's 16 bits for a 16-bit one (whose unselected pixels stay exact).
TEST_F(MendoraCli, MatchToneCorrectsTheFillInTheInputsOwnBits) {
    writeSample();
    std::vector<uint8_t> expected = engineFill(FillParameters{0, 0, 48, 36, 4});
    const tone::SampleLayout rgb{kWidth, kHeight, 3, 3, kWidth * 3};
    ASSERT_EQ(tone::matchTones(expected.data(), rgb, mask.data(), kWidth),
              tone::ToneMatch::matched);
    const Outcome plain =
        run({"fill", file("in.png"), file("mask.png"), "-o", file("tone.png"), "--match-tone"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_NE(plain.out.find("patch radius 4), tone matched in "), std::string::npos) << plain.out;
    EXPECT_TRUE(readPng(file("tone.png")).data == expected);

    const size_t count = static_cast<size_t>(kWidth) * kHeight;
    std::vector<uint16_t> deep(count * 3);
    for (size_t i = 0; i < deep.size(); i++)
        deep[i] = static_cast<uint16_t>(pixels[i] * 256 + (i * 37) % 256);
    writePngFile(file("deep.png"), kWidth, kHeight, 3, deep.data(), true);
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = static_cast<uint8_t>((deep[i] + 128) / 257);
    const std::vector<uint8_t> filled = engineFill(FillParameters{0, 0, 48, 36, 4});
    std::vector<uint16_t> deepExpected = deep;
    for (size_t i = 0; i < deep.size(); i++)
        if (mask[i / 3] != 0)
            deepExpected[i] = static_cast<uint16_t>(filled[i] * 257);
    ASSERT_EQ(tone::matchTones(deepExpected.data(), rgb, mask.data(), kWidth),
              tone::ToneMatch::matched);
    const Outcome deepRun = run({"fill", file("deep.png"), file("mask.png"), "-o",
                                 file("deep-tone.png"), "--match-tone", "--quiet"});
    ASSERT_EQ(deepRun.status, 0) << deepRun.err;
    int32_t w = 0, h = 0;
    const std::vector<uint8_t> written = uprightPixels(file("deep-tone.png"), w, h);
    ASSERT_EQ(written.size(), count * 3 * 2);
    EXPECT_TRUE(std::equal(deepExpected.begin(), deepExpected.end(),
                           reinterpret_cast<const uint16_t*>(written.data())));
}

// --band and --source-mask hand the plug-in its sampling area: the band around the region,
// intersected with the drawn mask, gives the engine's fill from that area; an area leaving no
// source window is refused in one line before the fill, and nothing is written.
TEST_F(MendoraCli, BandAndSourceMaskAreTheSamplingArea) {
    writeSample();
    runner::AreaMask area = runner::bandAroundSelection(mask.data(), kWidth, kHeight, kWidth, 14);
    std::vector<uint8_t> drawn(mask.size(), 255);
    for (int32_t y = 0; y < kHeight; y++)
        for (int32_t x = 0; x < 18; x++)
            drawn[static_cast<size_t>(y * kWidth + x)] = 0; // not from the left
    writePngFile(file("drawn.png"), kWidth, kHeight, 1, drawn.data());
    const auto expectFill = [&](const std::vector<std::string>& extra, const uint8_t* allowed) {
        setSamplingArea(allowed, kWidth);
        const std::vector<uint8_t> expected = engineFill(FillParameters{0, 0, 48, 36, 4});
        setSamplingArea(nullptr, 0);
        std::vector<std::string> arguments{"fill", file("in.png"),   file("mask.png"),
                                           "-o",   file("band.png"), "--quiet"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_TRUE(outcome.status == 0 && readPng(file("band.png")).data == expected);
        return expected;
    };
    const std::vector<uint8_t> banded = expectFill({"--band", "14"}, area.bytes.data());
    EXPECT_FALSE(banded == engineFill(FillParameters{0, 0, 48, 36, 4}));
    runner::intersectArea(area, runner::AreaMask{kWidth, kHeight, drawn});
    expectFill({"--band=14", "--source-mask", file("drawn.png")}, area.bytes.data());

    // A band of 1 holds no 9 x 9 window outside the disc.
    fs::remove(file("band.png"));
    const Outcome thin =
        run({"fill", file("in.png"), file("mask.png"), "-o", file("band.png"), "--band", "1"});
    EXPECT_EQ(thin.status, 2);
    EXPECT_EQ(thin.err, "mendora: the sampling area (--band) leaves no 9 x 9 window outside the "
                        "region to copy texture from: widen it; nothing was written\n");
    EXPECT_FALSE(fs::exists(file("band.png")));
    const Outcome sized = run({"fill", file("in.png"), file("mask.png"), "-o", file("band.png"),
                               "--source-mask", MENDORA_DEMO_DIR "/kite-mask.png"});
    EXPECT_EQ(sized.status, 2);
    EXPECT_NE(sized.err.find("the source mask is 640 x 400, the image 48 x 36"), std::string::npos)
        << sized.err;
    EXPECT_EQ(run({"fill", file("in.png"), file("mask.png"), "-o", file("band.png"), "--band", "0"})
                  .status,
              2);
}

TEST_F(MendoraCli, ImageFormatsAndMaskChannels) {
    writeSample();
    // A grey image is converted with a notice; an RGBA mask marks by its alpha alone.
    std::vector<uint8_t> grey(static_cast<size_t>(kWidth) * kHeight);
    std::vector<uint8_t> alphaMask(static_cast<size_t>(kWidth) * kHeight * 4, 0);
    for (size_t i = 0; i < grey.size(); i++) {
        grey[i] = pixels[i * 3];
        alphaMask[i * 4 + 3] = mask[i];
    }
    writePngFile(file("grey.png"), kWidth, kHeight, 1, grey.data());
    writePngFile(file("alpha.png"), kWidth, kHeight, 4, alphaMask.data());
    const Outcome outcome = run({"fill", file("grey.png"), file("alpha.png"), "-o", file("o.png")});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "mendora: " + file("grey.png") + ": grey image converted to RGB\n");
    size_t selected = 0;
    for (uint8_t m : mask)
        selected += m != 0 ? 1 : 0;
    EXPECT_NE(outcome.out.find(" " + std::to_string(selected) + " filled"), std::string::npos)
        << outcome.out;
}

TEST_F(MendoraCli, UsageHelpVersionAndAbout) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{},
          {"paint"},
          {"fill", "a.png"},
          {"fill", "a", "b"},
          {"fill", "a", "b", "-o", "c", "--radius", "four"},
          {"fill", "a", "b", "-o", "c", "--source", "1,2,3"},
          {"fill", "a", "b", "-o", "c", "--context", "5", "--source", "1,2,3,4"},
          {"fill", "a", "b", "-o"},
          {"demo", "--colour"}}) {
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(lineCount(outcome.err), 1u) << outcome.err;
    }
    // An output named without -o is taken for what it is.
    const Outcome noDashO = run({"fill", "a.png", "b.png", "c.png"});
    EXPECT_NE(noDashO.err.find("the output 'c.png' is named with -o"), std::string::npos)
        << noDashO.err;
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("mendora fill IN (MASK | --region L,T,R,B) -o OUT"), std::string::npos);
    EXPECT_NE(help.out.find("./mendora gimp-install"), std::string::npos);
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "mendora 10.0\n");

    // Without a terminal the about text and its two addresses are plain lines.
    const Outcome plain = run({"about"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
    EXPECT_NE(plain.out.find("Version 10.0 (7 December 2026)\n"), std::string::npos);
    EXPECT_NE(plain.out.find("\nhttp://www.mendora.example\nhttp://www.aldermoor.example\n"),
              std::string::npos);

    // On a terminal, the box: Space clicks the first address, Tab and Space the second,
    // Escape closes; the host names what the plug-in asked it to open.
    const Outcome box = runOnTerminal({"about"}, " \t \x1b", "Version 10.0");
    EXPECT_EQ(box.status, 0);
    EXPECT_NE(box.out.find("the plug-in asked to open http://www.mendora.example\r\n"
                           "the plug-in asked to open http://www.aldermoor.example"),
              std::string::npos)
        << box.out;
}

} // namespace
} // namespace mendora::testing
