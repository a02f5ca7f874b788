// Hand-written parsing and writing of the bytes of image files that the Windows build needs
// and Wine's imaging component does not give: a JPEG's segments (extent, EXIF orientation,
// colour profile), a PNG's header, and a colour profile put into an encoded JPEG, PNG or TIFF.
// Portable code on bytes and C files, tested natively and under Wine.
// In: files and encoded bytes. Out: stored headers and profiles; encoded bytes with a profile.
#include "tools/mendora/image_bytes.h"

#include <algorithm>

namespace mendora::cli::codec {

namespace {

uint32_t readNumber(const uint8_t* at, size_t size, bool bigEndian) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; i++)
        value |= static_cast<uint32_t>(at[bigEndian ? i : size - 1 - i]) << (8 * (size - 1 - i));
    return value;
}

void appendNumber(std::vector<uint8_t>& bytes, uint32_t value, size_t size, bool bigEndian) {
    for (size_t i = 0; i < size; i++)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * (bigEndian ? size - 1 - i : i))));
}

constexpr uint16_t kOrientationTag = 274;
constexpr uint16_t kIccProfileTag = 34675;
constexpr uint16_t kTiffShort = 3;
constexpr uint16_t kTiffUndefined = 7;
constexpr size_t kIfdEntrySize = 12;

// Finds the first IFD of the TIFF structure `tiff`: its byte order, its place and its number
// of entries, which are followed by the next IFD's place. Returns false when `tiff` does not
// start like a TIFF structure or its first IFD runs past its end.
bool firstIfd(const std::vector<uint8_t>& tiff, bool& bigEndian, size_t& ifd, size_t& count) {
    if (tiff.size() < 8 || tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M'))
        return false;
    bigEndian = tiff[0] == 'M';
    if (readNumber(&tiff[2], 2, bigEndian) != 42)
        return false;
    ifd = readNumber(&tiff[4], 4, bigEndian);
    if (ifd > tiff.size() - 6)
        return false;
    count = readNumber(&tiff[ifd], 2, bigEndian);
    return count <= (tiff.size() - ifd - 6) / kIfdEntrySize;
}

constexpr char kExifName[] = "Exif\0";                  // and a second zero: 6 bytes
constexpr char kIccName[] = "ICC_PROFILE";              // and its zero: 12 bytes
constexpr size_t kIccChunkHeader = sizeof kIccName + 2; // the chunk's number and their count
constexpr size_t kMaxSegment = 0xFFFF - 2;              // a segment's bytes after its length

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

} // namespace

bool tiffOrientation(const std::vector<uint8_t>& tiff, int& orientation) {
    bool big = false;
    size_t ifd = 0;
    size_t count = 0;
    if (!firstIfd(tiff, big, ifd, count))
        return false;
    orientation = 1;
    for (size_t i = 0; i < count; i++) {
        const uint8_t* entry = &tiff[ifd + 2 + i * kIfdEntrySize];
        if (readNumber(entry, 2, big) != kOrientationTag)
            continue;
        if (readNumber(entry + 2, 2, big) != kTiffShort || readNumber(entry + 4, 4, big) != 1)
            return false;
        orientation = static_cast<int>(readNumber(entry + 8, 2, big));
    }
    return true;
}

bool readJpegSegments(FILE* file, StoredHeader& header, std::vector<uint8_t>* icc,
                      std::string& error) {
    header = StoredHeader{};
    bool exifSeen = false;
    bool frameSeen = false;
    std::vector<std::vector<uint8_t>> chunks;
    if (std::fgetc(file) != 0xFF || std::fgetc(file) != 0xD8) {
        error = "not a JPEG file";
        return false;
    }
    for (;;) {
        // Bytes outside any segment are skipped, as libjpeg skips them (with a warning that
        // loses no pixel).
        int marker = std::fgetc(file);
        while (marker != 0xFF && marker != EOF)
            marker = std::fgetc(file);
        if (marker != 0xFF) {
            error = "cannot read the JPEG's segments: the file is damaged or ends early";
            return false;
        }
        while (marker == 0xFF) // fill bytes
            marker = std::fgetc(file);
        if (marker == 0xDA || marker == 0xD9 || marker == EOF)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length
        const int high = std::fgetc(file);
        const int low = std::fgetc(file);
        const int length = high << 8 | low;
        if (high == EOF || low == EOF || length < 2) {
            error = "cannot read the JPEG's segments: the file is damaged or ends early";
            return false;
        }
        std::vector<uint8_t> payload(static_cast<size_t>(length - 2));
        if (std::fread(payload.data(), 1, payload.size(), file) != payload.size()) {
            error = "cannot read the JPEG's segments: the file ends early";
            return false;
        }
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !frameSeen && payload.size() >= 6) {
            frameSeen = true;
            header.height = readNumber(&payload[1], 2, true);
            header.width = readNumber(&payload[3], 2, true);
            if (payload[0] != 8) {
                error = std::to_string(payload[0]) + "-bit JPEG images are not supported (8 bits "
                                                     "per sample needed)";
                return false;
            }
            if (payload[5] != 1 && payload[5] != 3) {
                error = "only grey and RGB images are supported, not JPEG images of " +
                        std::to_string(payload[5]) + " components (CMYK)";
                return false;
            }
        } else if (marker == 0xE1 && !exifSeen && payload.size() >= sizeof kExifName &&
                   std::equal(kExifName, kExifName + sizeof kExifName, payload.begin())) {
            exifSeen = true;
            payload.erase(payload.begin(), payload.begin() + sizeof kExifName);
            if (!tiffOrientation(payload, header.orientation)) {
                error = "cannot read the orientation: the EXIF block is damaged";
                return false;
            }
        } else if (icc != nullptr && marker == 0xE2 && payload.size() >= kIccChunkHeader &&
                   std::equal(kIccName, kIccName + sizeof kIccName, payload.begin())) {
            const size_t number = payload[sizeof kIccName];
            const size_t count = payload[sizeof kIccName + 1];
            if (chunks.empty())
                chunks.resize(count);
            if (number == 0 || number > chunks.size() || count != chunks.size()) {
                error = "cannot read the colour profile: its chunks are misnumbered";
                return false;
            }
            chunks[number - 1].assign(payload.begin() + kIccChunkHeader, payload.end());
        }
    }
    if (!frameSeen || header.width == 0 || header.height == 0) {
        error = "cannot read the JPEG's frame header (its extent)";
        return false;
    }
    if (icc == nullptr)
        return true;
    icc->clear();
    for (const std::vector<uint8_t>& chunk : chunks) {
        if (chunk.empty()) {
            error = "cannot read the colour profile: a chunk of it is missing";
            return false;
        }
        icc->insert(icc->end(), chunk.begin(), chunk.end());
    }
    return true;
}

void insertJpegProfile(std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& icc) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] >= 0xE0 &&
           jpeg[at + 1] <= 0xEF)
        at += 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
    const size_t perChunk = kMaxSegment - kIccChunkHeader;
    const size_t count = (icc.size() + perChunk - 1) / perChunk;
    std::vector<uint8_t> segments;
    for (size_t i = 0; i < count; i++) {
        const size_t first = i * perChunk;
        const size_t size = std::min(perChunk, icc.size() - first);
        segments.push_back(0xFF);
        segments.push_back(0xE2);
        appendNumber(segments, static_cast<uint32_t>(2 + kIccChunkHeader + size), 2, true);
        segments.insert(segments.end(), kIccName, kIccName + sizeof kIccName);
        segments.push_back(static_cast<uint8_t>(i + 1));
        segments.push_back(static_cast<uint8_t>(count));
        segments.insert(segments.end(), icc.begin() + first, icc.begin() + first + size);
    }
    jpeg.insert(jpeg.begin() + static_cast<ptrdiff_t>(std::min(at, jpeg.size())), segments.begin(),
                segments.end());
}

bool insertPngProfile(std::vector<uint8_t>& png, const std::vector<uint8_t>& icc) {
    constexpr size_t kAfterIhdr = 8 + 4 + 4 + 13 + 4;
    constexpr size_t kStoredBlock = 0xFFFF;
    if (png.size() < kAfterIhdr || std::string(png.begin() + 12, png.begin() + 16) != "IHDR")
        return false;
    std::vector<uint8_t> chunk = {'i', 'C', 'C', 'P'};
    for (const char c : std::string("ICC Profile"))
        chunk.push_back(static_cast<uint8_t>(c));
    chunk.insert(chunk.end(), {0, 0, 0x78, 0x01}); // name's end, deflate; zlib header
    uint32_t sumA = 1;
    uint32_t sumB = 0;
    for (size_t first = 0; first == 0 || first < icc.size(); first += kStoredBlock) {
        const size_t size = std::min(kStoredBlock, icc.size() - first);
        chunk.push_back(first + size == icc.size() ? 1 : 0);
        appendNumber(chunk, static_cast<uint32_t>(size), 2, false);
        appendNumber(chunk, static_cast<uint32_t>(~size & 0xFFFF), 2, false);
        for (size_t i = first; i < first + size; i++) {
            chunk.push_back(icc[i]);
            sumA = (sumA + icc[i]) % 65521;
            sumB = (sumB + sumA) % 65521;
        }
    }
    appendNumber(chunk, sumB << 16 | sumA, 4, true);
    std::vector<uint8_t> whole;
    appendNumber(whole, static_cast<uint32_t>(chunk.size() - 4), 4, true);
    whole.insert(whole.end(), chunk.begin(), chunk.end());
    appendNumber(whole, crc32(chunk.data(), chunk.size()), 4, true);
    png.insert(png.begin() + kAfterIhdr, whole.begin(), whole.end());
    return true;
}

bool insertTiffProfile(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& icc) {
    bool big = false;
    size_t ifd = 0;
    size_t count = 0;
    if (!firstIfd(tiff, big, ifd, count))
        return false;
    const size_t entries = ifd + 2;
    const uint32_t next = readNumber(&tiff[entries + count * kIfdEntrySize], 4, big);
    tiff.resize((tiff.size() + 1) & ~size_t{1}); // values start on a word boundary
    const size_t profileAt = tiff.size();
    tiff.insert(tiff.end(), icc.begin(), icc.end());
    tiff.resize((tiff.size() + 1) & ~size_t{1});
    const size_t newIfd = tiff.size();
    std::vector<uint8_t> copy;
    appendNumber(copy, static_cast<uint32_t>(count + 1), 2, big);
    bool added = false;
    for (size_t i = 0; i <= count; i++) {
        const uint8_t* entry = i < count ? &tiff[entries + i * kIfdEntrySize] : nullptr;
        // Tags stay in ascending order.
        if (!added && (entry == nullptr || readNumber(entry, 2, big) > kIccProfileTag)) {
            appendNumber(copy, kIccProfileTag, 2, big);
            appendNumber(copy, kTiffUndefined, 2, big);
            appendNumber(copy, static_cast<uint32_t>(icc.size()), 4, big);
            appendNumber(copy, static_cast<uint32_t>(profileAt), 4, big);
            added = true;
        }
        if (entry != nullptr)
            copy.insert(copy.end(), entry, entry + kIfdEntrySize);
    }
    appendNumber(copy, next, 4, big);
    tiff.insert(tiff.end(), copy.begin(), copy.end());
    std::vector<uint8_t> header;
    appendNumber(header, static_cast<uint32_t>(newIfd), 4, big);
    std::copy(header.begin(), header.end(), tiff.begin() + 4);
    return true;
}

bool readPngHeader(FILE* file, StoredHeader& header, std::string& error) {
    uint8_t start[26];
    if (std::fread(start, 1, sizeof start, file) != sizeof start ||
        std::string(start + 12, start + 16) != "IHDR") {
        error = "cannot read the PNG's header";
        return false;
    }
    header = StoredHeader{readNumber(&start[16], 4, true), readNumber(&start[20], 4, true), 1};
    if (start[24] == 16) {
        error = k16BitsRefused;
        return false;
    }
    return true;
}

bool checkShown(const StoredHeader& header, std::string& error) {
    if (header.orientation < 1 || header.orientation > 8) {
        error = "orientation " + std::to_string(header.orientation) + " is not one of 1 to 8";
        return false;
    }
    const bool turned = header.orientation >= 5;
    const uint32_t width = turned ? header.height : header.width;
    const uint32_t height = turned ? header.width : header.height;
    if (width > static_cast<uint32_t>(kMaxImageSide) ||
        height > static_cast<uint32_t>(kMaxImageSide)) {
        error = std::to_string(width) + " x " + std::to_string(height) + " is too large (at most " +
                std::to_string(kMaxImageSide) + " pixels a side)";
        return false;
    }
    return true;
}

} // namespace mendora::cli::codec
