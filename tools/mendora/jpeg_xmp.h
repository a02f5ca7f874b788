// A JPEG's XMP packet carried into the filled output through Exiv2 (jpeg_xmp.cpp).
#pragma once

#include <cstdint>
#include <vector>

namespace mendora::cli::codec {

// Writes the XMP packet `xmp` (read from the input JPEG) into the encoded JPEG `jpeg`, with
// its TIFF orientation, where it has one, set to upright like the pixels; the JPEG's other
// segments (EXIF, the colour profile) stay as they are. Returns false and leaves `jpeg` as it
// is when the packet cannot be read as XMP, does not fit the one segment a JPEG's XMP has, or
// `jpeg` is not a JPEG that Exiv2 can write.
bool writeUprightXmp(std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& xmp);

} // namespace mendora::cli::codec
