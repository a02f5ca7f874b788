// JPEG files damaged the ways the command line's tests need, made from a whole one's bytes.
// Header only: the Linux tests and the Windows ones under Wine share them.
#pragma once

#include <string>

namespace mendora::testing {

// `jpeg` cut halfway through the data after its first scan header and closed by an end marker
// (FF D9): libjpeg warns "premature end of data segment" and gives grey for the rest.
inline std::string closedHalfway(const std::string& jpeg) {
    const size_t scan = jpeg.find("\xff\xda");
    return jpeg.substr(0, scan + (jpeg.size() - scan) / 2) + "\xff\xd9";
}

// `jpeg` with three bytes that belong to no segment before its first scan header: libjpeg
// skips them with a warning ("3 extraneous bytes before marker 0xda") and decodes every pixel.
inline std::string withJunkBeforeScan(const std::string& jpeg) {
    const size_t scan = jpeg.find("\xff\xda");
    return jpeg.substr(0, scan) + std::string("\0\x11\x22", 3) + jpeg.substr(scan);
}

} // namespace mendora::testing
