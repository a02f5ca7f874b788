// Whether a JPEG file decodes whole: libjpeg reports damaged data as warnings and fills what it
// could not decode with grey, which libvips (Linux) and the system's decoder (Windows) pass on
// as pixels. Both codecs call jpegDecodesWhole before decoding a file.
#pragma once

#include <string>

namespace mendora::cli {

// What a JPEG's decoding met.
struct JpegCheck {
    bool whole = true;  // false when a warning lost pixels (damaged or missing data)
    std::string reason; // the first warning that lost pixels, in the decoder's words
    std::string notice; // the first warning that lost none (extraneous bytes, a bad ICC marker)
    bool outOfMemory = false; // libjpeg could not have the memory it asked for
};

// True when the file `path` (UTF-8) starts as a JPEG file does (FF D8 FF).
bool looksLikeJpeg(const std::string& path);

// Decodes every scan of the JPEG file `path` (scaled down by 8, into one row at a time: its
// memory is the decoder's own, at most what a whole decoding takes) and sorts its warnings:
// premature end of data, bad Huffman or arithmetic codes, lost restart markers, an
// inconsistent progression and an end of file before the last row lose pixels; every other
// warning, and an end of file met after the last row, loses none. A file that libjpeg
// refuses outright gives whole = false with its error. Never throws.
JpegCheck checkJpeg(const std::string& path);

// The check both codecs make before decoding `path` (a UTF-8 name, opened by its wide name on
// Windows): a file that does not start as a JPEG passes untouched. Returns false with "cannot
// decode the image: " and the decoder's reason in `error` when decoding the file loses
// pixels; a warning that lost none is put into `notice` (with "(every pixel decoded)"),
// which is left alone otherwise. Throws std::bad_alloc when libjpeg ran out of memory.
bool jpegDecodesWhole(const std::string& path, std::string& notice, std::string& error);

} // namespace mendora::cli
