// The property list and the terminology record, parsed field by field from their bytes with
// a reader of this test's own, so that a miscounted length, a missing pad byte or a code
// stored the wrong way round shows here and not only in the host.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "resources/registration.h"

namespace mendora {
namespace {

using Bytes = std::vector<uint8_t>;

// Reads little-endian fields; past the end it reads zeros and remembers the overrun.
struct Reader {
    const Bytes& bytes;
    size_t at = 0;
    bool overrun = false;

    uint32_t u8() {
        if (at >= bytes.size()) {
            overrun = true;
            return 0;
        }
        return bytes[at++];
    }
    uint32_t u16() {
        const uint32_t low = u8();
        return low | u8() << 8;
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | u16() << 16;
    }
    // A four-character code: its bytes reversed.
    std::string code() {
        std::string text(4, ' ');
        for (int i = 3; i >= 0; --i)
            text[i] = static_cast<char>(u8());
        return text;
    }
    std::string pascal() {
        std::string text;
        for (uint32_t n = u8(); n > 0; --n)
            text += static_cast<char>(u8());
        return text;
    }
    Bytes take(size_t n) {
        if (at + n > bytes.size()) {
            overrun = true;
            n = bytes.size() - at;
        }
        Bytes part(bytes.begin() + at, bytes.begin() + at + n);
        at += n;
        return part;
    }
    bool atEnd() const { return !overrun && at == bytes.size(); }
};

struct Property {
    std::string vendor, key;
    int32_t id;
    Bytes data;
};

std::vector<Property> parsePropertyList(const Bytes& bytes, uint32_t& count) {
    Reader in{bytes};
    EXPECT_EQ(in.u16(), 1u);
    EXPECT_EQ(in.u32(), 0u);
    count = in.u32();
    std::vector<Property> properties;
    for (uint32_t i = 0; i < count && !in.overrun; ++i) {
        Property p;
        p.vendor = in.code();
        p.key = in.code();
        p.id = static_cast<int32_t>(in.u32());
        const uint32_t length = in.u32();
        EXPECT_EQ(length % 4, 0u) << p.key;
        p.data = in.take(length);
        properties.push_back(p);
    }
    EXPECT_TRUE(in.atEnd()) << "bytes left over or missing after the last property";
    return properties;
}

std::string text(const Bytes& data, size_t from, size_t length) {
    return std::string(data.begin() + from, data.begin() + from + length);
}

TEST(PropertyList, ParsesToItsLastByteAsElevenPropertiesOfTheVendor) {
    uint32_t count = 0;
    const std::vector<Property> properties = parsePropertyList(buildPropertyList(), count);
    EXPECT_EQ(count, 11u);
    std::vector<std::string> keys;
    for (const Property& p : properties) {
        keys.push_back(p.key);
        EXPECT_EQ(p.vendor, "QWIM") << p.key;
        EXPECT_EQ(p.id, 0) << p.key;
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"kind", "name", "catg", "vers", "wx86", "mode",
                                              "hstm", "enbl", "ms32", "flly", "fici"}));
}

TEST(PropertyList, PropertiesHoldTheirData) {
    uint32_t count = 0;
    std::map<std::string, Bytes> data;
    for (const Property& p : parsePropertyList(buildPropertyList(), count))
        data[p.key] = p.data;

    EXPECT_EQ(data["kind"], (Bytes{'M', 'F', 'W', 'Q'}));
    // Length byte 10, the menu title, one zero byte: 12 bytes.
    Bytes name = {10, 'M', 'e', 'n', 'd', 'o', 'r', 'a', '.', '.', '.', 0};
    EXPECT_EQ(data["name"], name);
    EXPECT_EQ(data["catg"], (Bytes{3, 'Q', 'i', 'v', 0, 0, 0, 0}));
    EXPECT_EQ(data["vers"], (Bytes{0, 0, 4, 0}));
    EXPECT_EQ(data["wx86"], (Bytes{'P', 'l', 'u', 'g', 'i', 'n', 'M', 'a', 'i', 'n', 0, 0}));
    // Greyscale, RGB, CMYK, HSL, HSB, multichannel, duotone and Lab; not bitmap or indexed.
    EXPECT_EQ(data["mode"], (Bytes{0x5F, 0xC0, 0, 0}));
    EXPECT_EQ(data["ms32"], (Bytes{0x80, 0x84, 0x1E, 0, 0x80, 0x84, 0x1E, 0}));
    EXPECT_EQ(data["flly"], (Bytes{0x80, 0, 0, 0}));

    // The enabling condition: 180 characters, a terminator and padding to 184 bytes.
    const Bytes& enable = data["enbl"];
    ASSERT_EQ(enable.size(), 184u);
    EXPECT_EQ(text(enable, 0, 180),
              "in (VLMR_ImageMode, RGBMode, GrayScaleMode,CMYKMode, HSLMode, HSBMode, "
              "MultichannelMode,DuotoneMode, LabMode, RGB48Mode, Gray16Mode) "
              "||VLMR_ImageDepth == 16 ||VLMR_ImageDepth == 32");
    EXPECT_EQ(enable[180], 0);

    // Terminology reference: version, class, event, resource id, identifier, 56 bytes.
    const Bytes& reference = data["hstm"];
    ASSERT_EQ(reference.size(), 56u);
    Reader in{reference};
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_EQ(in.code(), "sdk1");
    EXPECT_EQ(in.code(), "sdk1");
    EXPECT_EQ(in.u16(), 16000u);
    EXPECT_EQ(text(reference, 14, 36), "1a233330-44fe-11de-8a39-0800200c9a66");
    EXPECT_EQ(Bytes(reference.begin() + 50, reference.end()), Bytes(6, 0));

    // Seven filter cases, matted against white; 0x0E where a selection exists, else 0x06.
    const Bytes fici = {4,    4, 0x06, 0, 4,    4, 0x0E, 0, 4,    4, 0x0E, 0, 4,    4,
                        0x06, 0, 4,    4, 0x0E, 0, 4,    4, 0x06, 0, 4,    4, 0x0E, 0};
    EXPECT_EQ(data["fici"], fici);
}

TEST(Terminology, ParsesToItsLastByteAsOneEventWithOneParameter) {
    const Bytes bytes = buildTerminology();
    Reader in{bytes};
    EXPECT_EQ(in.u16(), 1u);
    EXPECT_EQ(in.u8(), 1u); // major version
    EXPECT_EQ(in.u8(), 0u);
    EXPECT_EQ(in.u16(), 0u); // language
    EXPECT_EQ(in.u16(), 0u); // script
    ASSERT_EQ(in.u16(), 1u); // suites

    EXPECT_EQ(in.pascal(), "Qiv");
    EXPECT_EQ(in.pascal(), "Mendora plug-ins");
    EXPECT_EQ(in.code(), "sdk1");
    EXPECT_EQ(in.u16(), 1u); // level
    EXPECT_EQ(in.u16(), 1u); // version
    ASSERT_EQ(in.u16(), 1u); // events

    EXPECT_EQ(in.pascal(), "Mendora");
    EXPECT_EQ(in.pascal(), "Mendora plug-in");
    EXPECT_EQ(in.code(), "sdk1");
    EXPECT_EQ(in.code(), "sdk1");
    EXPECT_EQ(in.code(), "null");
    EXPECT_EQ(in.pascal(), "");
    EXPECT_EQ(in.u16(), 0u);
    EXPECT_EQ(in.code(), "#ImR");
    EXPECT_EQ(in.pascal(), "");
    EXPECT_EQ(in.u16(), 0xB000u);
    ASSERT_EQ(in.u16(), 1u); // parameters

    EXPECT_EQ(in.pascal(), "amount");
    EXPECT_EQ(in.code(), "Amnt");
    EXPECT_EQ(in.code(), "doub");
    EXPECT_EQ(in.pascal(), "zendrel amount");
    EXPECT_EQ(in.u16(), 0u);

    EXPECT_EQ(in.u16(), 0u); // classes
    EXPECT_EQ(in.u16(), 0u); // comparison operators
    EXPECT_EQ(in.u16(), 0u); // enumerations
    EXPECT_TRUE(in.atEnd()) << "bytes left over or missing";
    // No alignment bytes: the size is the sum of the fields.
    EXPECT_EQ(bytes.size(), 127u);
}

} // namespace
} // namespace mendora
