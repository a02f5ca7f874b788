// Whether a JPEG file decodes whole. In: a JPEG file. Out: the warnings of its decoding, sorted
// into those that lost pixels and those that did not.
#include "tools/mendora/jpeg_check.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "tools/mendora/file_names.h"

// jpeglib.h needs FILE and size_t declared first; jerror.h needs jpeglib.h's configuration
// (the arithmetic decoder's messages).
#include <jpeglib.h>

#include <jerror.h>

namespace mendora::cli {

namespace {

// libjpeg's error manager with a way back out of a fatal error, and what the warnings said.
// Plain data only: longjmp skips destructors.
struct Reporter {
    jpeg_error_mgr base;
    std::jmp_buf escape;
    bool lastRowRead;
    bool lost;
    bool outOfMemory;
    char reason[JMSG_LENGTH_MAX];
    char notice[JMSG_LENGTH_MAX];
};

// The warnings after which some pixels are libjpeg's grey instead of the file's.
bool losesPixels(int code) {
    switch (code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
        return true;
    default:
        return false;
    }
}

extern "C" void keepMessage(j_common_ptr decoder, int level) {
    auto* reporter = reinterpret_cast<Reporter*>(decoder->err);
    if (level >= 0)
        return; // trace messages
    // After the last row only the end of the file is still read: nothing is lost there.
    const bool lost = losesPixels(reporter->base.msg_code) && !reporter->lastRowRead;
    char* kept = lost ? reporter->reason : reporter->notice;
    if (kept[0] == '\0')
        (*reporter->base.format_message)(decoder, kept);
    reporter->lost = reporter->lost || lost;
}

extern "C" void leave(j_common_ptr decoder) {
    auto* reporter = reinterpret_cast<Reporter*>(decoder->err);
    reporter->outOfMemory = reporter->base.msg_code == JERR_OUT_OF_MEMORY;
    if (reporter->reason[0] == '\0')
        (*reporter->base.format_message)(decoder, reporter->reason);
    std::longjmp(reporter->escape, 1);
}

// Runs the decoding; the state lives in the caller's frame, so that a longjmp out of libjpeg
// leaves nothing to destroy. Returns false when libjpeg gave up with an error.
bool decodeAll(std::FILE* file, jpeg_decompress_struct& decoder, Reporter& reporter,
               JSAMPARRAY& row) {
    if (setjmp(reporter.escape) != 0)
        return false;
    jpeg_create_decompress(&decoder);
    jpeg_stdio_src(&decoder, file);
    jpeg_read_header(&decoder, TRUE);
    // Every coefficient is still decoded: only the inverse transform is scaled down.
    decoder.scale_num = 1;
    decoder.scale_denom = 8;
    decoder.dct_method = JDCT_IFAST;
    decoder.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&decoder);
    row = (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
                                       decoder.output_width * decoder.output_components, 1);
    while (decoder.output_scanline < decoder.output_height)
        jpeg_read_scanlines(&decoder, row, 1);
    reporter.lastRowRead = true;
    jpeg_finish_decompress(&decoder);
    return true;
}

} // namespace

bool looksLikeJpeg(const std::string& path) {
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr)
        return false;
    unsigned char start[3] = {};
    const bool jpeg = std::fread(start, 1, 3, file) == 3 && start[0] == 0xFF && start[1] == 0xD8 &&
                      start[2] == 0xFF;
    std::fclose(file);
    return jpeg;
}

JpegCheck checkJpeg(const std::string& path) {
    JpegCheck check;
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        check.whole = false;
        check.reason = std::strerror(errno);
        return check;
    }
    jpeg_decompress_struct decoder{};
    Reporter reporter{};
    decoder.err = jpeg_std_error(&reporter.base);
    reporter.base.emit_message = keepMessage;
    reporter.base.error_exit = leave;
    JSAMPARRAY row = nullptr;
    const bool finished = decodeAll(file, decoder, reporter, row);
    jpeg_destroy_decompress(&decoder);
    std::fclose(file);
    check.whole = finished && !reporter.lost;
    check.reason = reporter.reason;
    check.notice = reporter.notice;
    check.outOfMemory = reporter.outOfMemory;
    return check;
}

bool jpegDecodesWhole(const std::string& path, std::string& notice, std::string& error) {
    if (!looksLikeJpeg(path))
        return true;
    const JpegCheck check = checkJpeg(path);
    if (check.outOfMemory)
        throw std::bad_alloc();
    if (!check.whole) {
        error = "cannot decode the image: " + check.reason;
        return false;
    }
    if (!check.notice.empty())
        notice = check.notice + " (every pixel decoded)";
    return true;
}

} // namespace mendora::cli
