// The bytes of image files that the Windows build reads and writes by hand (image_bytes.cpp):
// what Wine's imaging component does not give or does not keep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/mendora/images.h"

namespace mendora::cli::codec {

constexpr char k16BitsRefused[] =
    "16-bit images are not supported by the Windows build (8 bits per sample needed)";

// What a file's header tells of its pixels as stored: their extent and their EXIF orientation.
struct StoredHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    int orientation = 1;
};

// The orientation tag of the first IFD of the TIFF structure `tiff` (an EXIF block's), 1 when
// it has none. Returns false when the structure is damaged.
bool tiffOrientation(const std::vector<uint8_t>& tiff, int& orientation);

// Reads the segments of the JPEG file `file` before its first scan: the frame's extent, the
// orientation of its first EXIF block (1 when none) and, when `icc` is given, its colour
// profile, the ICC chunks joined in their order (empty when none). Returns false with the
// reason in `error` when the file does not start as a JPEG, ends within its segments, has no
// frame header or one of other than 8 bits, 1 or 3 components, or holds a damaged EXIF block
// or an incomplete profile.
bool readJpegSegments(FILE* file, StoredHeader& header, std::vector<uint8_t>* icc,
                      std::string& error);

// Reads the PNG file `file`'s IHDR chunk (the file read from its start): its extent (PNG has
// no orientation here). Returns false with the reason in `error` when it is not there or the
// samples have 16 bits.
bool readPngHeader(FILE* file, StoredHeader& header, std::string& error);

// Checks the stored `header`'s orientation and the extent shown. Returns false with the
// reason in `error`.
bool checkShown(const StoredHeader& header, std::string& error);

// Puts `icc` into the encoded JPEG `jpeg` as ICC chunks after its application segments.
void insertJpegProfile(std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& icc);

// Puts `icc` into the encoded PNG `png` as its iCCP chunk, right after IHDR. The profile is
// stored in zlib's uncompressed blocks: no compressor is at hand, and profiles are small.
// Returns false when `png` does not start with IHDR.
bool insertPngProfile(std::vector<uint8_t>& png, const std::vector<uint8_t>& icc);

// Puts `icc` into the encoded TIFF `tiff` as its first IFD's profile tag: the profile and a
// copy of the IFD with the tag added are appended, and the header points at the copy.
// Returns false when `tiff` is not laid out as a TIFF file.
bool insertTiffProfile(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& icc);

} // namespace mendora::cli::codec
