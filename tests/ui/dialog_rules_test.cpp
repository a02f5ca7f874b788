// The dialog rules shared by both toolkits: reading a box's text into its field, the
// commands that end the region dialog, and the about box's address.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/dialog_rules.h"

namespace mendora {
namespace {

TEST(DialogRules, ReadsSignedDecimalIntoTheLow16Bits) {
    EXPECT_EQ(readFieldText("-5"), -5);
    EXPECT_EQ(readFieldText("640"), 640);
    EXPECT_EQ(readFieldText("+12"), 12);
    EXPECT_EQ(readFieldText("  42 "), 42);
    EXPECT_EQ(readFieldText("70000"), 4464); // 70000 - 65536
    EXPECT_EQ(readFieldText("65535"), -1);   // low 16 bits, signed
    EXPECT_EQ(readFieldText("-70000"), -4464);
    EXPECT_EQ(readFieldText("2147483647"), -1);
    EXPECT_EQ(readFieldText("-2147483648"), 0); // 0x80000000: low 16 bits are 0
    EXPECT_EQ(readFieldText("-2147483647"), 1);
}

TEST(DialogRules, UnreadableTextIsZero) {
    for (const char* text : {"", " ", "-", "+", "12a", "a12", "1 2", "0x10", "1.5", "--3",
                             "2147483648", "-2147483649", "99999999999999999999999"})
        EXPECT_EQ(readFieldText(text), 0) << "\"" << text << "\"";
}

// Opening shows each field and the edit-change it raises reads it back: the block is
// unchanged after the opening, for every 16-bit value.
TEST(DialogRules, OpeningLeavesTheBlockUnchanged) {
    for (int32_t v = -32768; v <= 32767; v += 7) {
        FillParameters block{static_cast<int16_t>(v), 1, 2, 3, 4};
        const FillParameters before = block;
        for (int32_t box = kSourceLeftBox; box <= kPatchRadiusBox; box++)
            applyRegionCommand(block, box, kEditChanged, fieldText(*fieldOfBox(block, box)));
        ASSERT_EQ(std::memcmp(&block, &before, sizeof block), 0) << v;
    }
}

TEST(DialogRules, CommandsStoreOrEndTheDialog) {
    FillParameters block{0, 0, 640, 480, 4};
    EXPECT_FALSE(applyRegionCommand(block, 5, kEditChanged, "-5").endsDialog);
    EXPECT_EQ(block.sourceRight, -5);
    applyRegionCommand(block, 7, kEditChanged, "12a");
    EXPECT_EQ(block.patchRadius, 0);
    applyRegionCommand(block, 3, kEditChanged, "70000");
    EXPECT_EQ(block.sourceLeft, 4464);
    applyRegionCommand(block, 4, kEditChanged, "");
    EXPECT_EQ(block.sourceTop, 0);
    applyRegionCommand(block, 6, 0x0100 /* focus */, "99");
    EXPECT_EQ(block.sourceBottom, 480);

    const auto ok = applyRegionCommand(block, kRegionOkButton, 0, "");
    EXPECT_TRUE(ok.endsDialog);
    EXPECT_TRUE(regionDialogConfirmed(ok.endValue));
    const auto cancel = applyRegionCommand(block, kRegionCancelButton, 0, "");
    EXPECT_TRUE(cancel.endsDialog);
    EXPECT_FALSE(regionDialogConfirmed(cancel.endValue));
    EXPECT_FALSE(applyRegionCommand(block, kRegionOkButton, 0x0006, "").endsDialog);
    EXPECT_FALSE(applyRegionCommand(block, 8, kEditChanged, "3").endsDialog);
    EXPECT_FALSE(regionDialogConfirmed(kDialogFailed));
    EXPECT_EQ(fieldOfBox(block, 2), nullptr);
    EXPECT_EQ(fieldOfBox(block, 8), nullptr);
}

TEST(DialogRules, AboutAddressAndClosingKeys) {
    EXPECT_EQ(aboutAddress("www.mendora.example"), "http://www.mendora.example");
    EXPECT_EQ(aboutAddress(std::string(248, 'a')).size(), 255u);
    EXPECT_EQ(aboutAddress(std::string(400, 'a')).size(), 255u);
    EXPECT_TRUE(aboutBoxClosingKey(27));
    EXPECT_TRUE(aboutBoxClosingKey(13));
    EXPECT_FALSE(aboutBoxClosingKey('q'));
}

} // namespace
} // namespace mendora
