// The property list and the terminology record, described field by field.
// All integers are little-endian. A four-character code is a 32-bit integer whose most
// significant byte is its first character, so its bytes appear reversed ("QWIM" is M I W Q).
#include "registration.h"

#include <cassert>
#include <initializer_list>
#include <string>

namespace mendora {
namespace {

using Bytes = std::vector<uint8_t>;

void putU8(Bytes& out, uint32_t value) {
    assert(value <= 0xFF);
    out.push_back(static_cast<uint8_t>(value));
}

void putU16(Bytes& out, uint32_t value) {
    assert(value <= 0xFFFF);
    putU8(out, value & 0xFF);
    putU8(out, value >> 8);
}

void putU32(Bytes& out, uint32_t value) {
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

void putCode(Bytes& out, const char (&code)[5]) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<uint8_t>(code[i]);
    putU32(out, value);
}

// One length byte and the characters, no terminator.
void putPascalString(Bytes& out, const std::string& text) {
    assert(text.size() <= 255);
    putU8(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// The characters and one zero byte.
void putCString(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    putU8(out, 0);
}

void padTo(Bytes& out, size_t size) {
    assert(out.size() <= size);
    out.resize(size, 0);
}

void padToMultipleOfFour(Bytes& out) {
    padTo(out, (out.size() + 3) / 4 * 4);
}

// Property data: the builders above, then zero bytes to a multiple of four.
Bytes code(const char (&value)[5]) {
    Bytes data;
    putCode(data, value);
    return data;
}

Bytes u32(uint32_t value) {
    Bytes data;
    putU32(data, value);
    return data;
}

// A length-prefixed string followed by at least one zero byte.
Bytes pascalText(const std::string& text) {
    Bytes data;
    putPascalString(data, text);
    putU8(data, 0);
    padToMultipleOfFour(data);
    return data;
}

Bytes cText(const std::string& text) {
    Bytes data;
    putCString(data, text);
    padToMultipleOfFour(data);
    return data;
}

Bytes bytes(std::initializer_list<uint8_t> values) {
    return Bytes(values);
}

// Image modes the filter accepts, as bit numbers of the host's 16-bit mode word counted from
// its most significant bit; the word is stored high byte first.
enum ImageModeBit {
    bitmapMode = 0,
    greyscaleMode = 1,
    indexedMode = 2,
    rgbMode = 3,
    cmykMode = 4,
    hslMode = 5,
    hsbMode = 6,
    multichannelMode = 7,
    duotoneMode = 8,
    labMode = 9,
};

Bytes imageModes(std::initializer_list<ImageModeBit> modes) {
    uint32_t word = 0;
    for (ImageModeBit mode : modes)
        word |= 0x8000u >> mode;
    return bytes({static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF), 0, 0});
}

// The terminology reference: version, class and event of the scripting event, the
// terminology resource's id and a unique identifier, in a fixed 56-byte record.
Bytes terminologyReference() {
    Bytes data;
    putU32(data, 0);
    putCode(data, "sdk1");
    putCode(data, "sdk1");
    putU16(data, static_cast<uint32_t>(kTerminologyId));
    putCString(data, kTerminologyUuid);
    padTo(data, 56);
    return data;
}

// Input handling 4 (matte against white), output handling 4, the flag byte, a zero byte.
constexpr uint8_t kMatteWhite = 4;
// Flags: works on blank data (0x02), filters layer masks (0x04), may write outside the
// selection (0x08). Bit 0 stays clear: the host copies the source into the destination.
constexpr uint8_t kCaseFlags = 0x06;
constexpr uint8_t kCaseFlagsSelection = 0x0E;

Bytes filterCases() {
    const uint8_t flags[7] = {
        kCaseFlags,          // flat image, no selection
        kCaseFlagsSelection, // flat image with a selection
        kCaseFlagsSelection, // floating selection
        kCaseFlags,          // editable transparency, no selection
        kCaseFlagsSelection, // editable transparency with a selection
        kCaseFlags,          // protected transparency, no selection
        kCaseFlagsSelection, // protected transparency with a selection
    };
    Bytes data;
    for (uint8_t flag : flags) {
        putU8(data, kMatteWhite);
        putU8(data, kMatteWhite);
        putU8(data, flag);
        putU8(data, 0);
    }
    return data;
}

void putProperty(Bytes& out, const char (&key)[5], const Bytes& data) {
    assert(data.size() % 4 == 0);
    putCode(out, "QWIM"); // vendor
    putCode(out, key);
    putU32(out, 0); // property id
    putU32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
}

} // namespace

std::vector<uint8_t> buildPropertyList() {
    constexpr uint32_t kPropertyCount = 11;
    Bytes out;
    putU16(out, 1); // list format
    putU32(out, 0); // list version
    putU32(out, kPropertyCount);

    putProperty(out, "kind", code("QWFM")); // a filter plug-in
    putProperty(out, "name", pascalText(kMenuTitle));
    putProperty(out, "catg", pascalText(kCategory));
    putProperty(out, "vers", u32(4u << 16)); // filter interface 4.0
    putProperty(out, "wx86", cText(kEntryPointName));
    putProperty(out, "mode",
                imageModes({greyscaleMode, rgbMode, cmykMode, hslMode, hsbMode, multichannelMode,
                            duotoneMode, labMode}));
    putProperty(out, "hstm", terminologyReference());
    putProperty(out, "enbl", cText(kEnablingCondition));
    Bytes largestImage = u32(2000000); // pixels across, then down
    putU32(largestImage, 2000000);
    putProperty(out, "ms32", largestImage);
    putProperty(out, "flly", bytes({0x80, 0, 0, 0})); // layer filters supported
    putProperty(out, "fici", filterCases());
    return out;
}

std::vector<uint8_t> buildTerminology() {
    Bytes out;
    putU16(out, 1); // format
    putU8(out, 1);  // major version
    putU8(out, 0);  // minor version
    putU16(out, 0); // language
    putU16(out, 0); // script
    putU16(out, 1); // suites

    putPascalString(out, kCategory);
    putPascalString(out, "Mendora plug-ins");
    putCode(out, "sdk1"); // suite
    putU16(out, 1);       // level
    putU16(out, 1);       // version
    putU16(out, 1);       // events

    putPascalString(out, "Mendora");
    putPascalString(out, "Mendora plug-in");
    putCode(out, "sdk1"); // class
    putCode(out, "sdk1"); // event
    putCode(out, "null"); // reply type
    putPascalString(out, "");
    putU16(out, 0);       // reply flags
    putCode(out, "#ImR"); // direct parameter: an image reference
    putPascalString(out, "");
    putU16(out, 0xB000); // direct parameter optional, enumerated, changes state
    putU16(out, 1);      // parameters

    putPascalString(out, "amount");
    putCode(out, "Amnt"); // keyword
    putCode(out, "doub"); // a double
    putPascalString(out, "zendrel amount");
    putU16(out, 0); // flags

    putU16(out, 0); // classes
    putU16(out, 0); // comparison operators
    putU16(out, 0); // enumerations
    return out;
}

} // namespace mendora
