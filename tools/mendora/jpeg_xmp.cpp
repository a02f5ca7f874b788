// XMP through Exiv2 (Debian's libexiv2): the input JPEG's packet decoded, its orientation set
// to upright, encoded compactly and written into the output JPEG as its XMP segment.
// libvips leaves out packets above 60,000 bytes ("large XMP not saved") that one segment
// holds, so the packet is written here for every size.
// In: the input's XMP packet and the encoded output JPEG. Out: the JPEG with the packet.
#include "tools/mendora/jpeg_xmp.h"

#include <exiv2/exiv2.hpp>

#include <exception>
#include <string>

namespace mendora::cli::codec {

bool writeUprightXmp(std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& xmp) {
    // A packet that cannot be read or written is left out, never reported on the terminal.
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    try {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, std::string(xmp.begin(), xmp.end())) != 0)
            return false;
        const auto orientation = data.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (orientation != data.end())
            orientation->setValue("1");
        // Compact, without padding or the packet's wrapper: a packet that fitted its segment
        // still does once decoded and encoded again.
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, data,
                                     Exiv2::XmpParser::useCompactFormat |
                                         Exiv2::XmpParser::omitPacketWrapper) != 0)
            return false;
        auto image = Exiv2::ImageFactory::open(jpeg.data(), jpeg.size());
        if (image.get() == nullptr || image->mimeType() != "image/jpeg")
            return false;
        image->readMetadata();
        image->setXmpPacket(packet);
        image->writeXmpFromPacket(true);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0)
            return false;
        // (Exiv2 0.27 counts in long, 0.28 in size_t.)
        std::vector<uint8_t> written(static_cast<size_t>(io.size()));
        const bool whole =
            static_cast<size_t>(io.read(written.data(), io.size())) == written.size();
        io.close();
        if (!whole)
            return false;
        jpeg.swap(written);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace mendora::cli::codec
