// The manifest file carried as resource 2, and the maker's texts behind the string table
// and the about box.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resources/maker_texts.h"

namespace mendora {
namespace {

std::vector<std::string> lines(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t at; (at = text.find(separator, from)) != std::string::npos;
         from = at + separator.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

TEST(Manifest, IsTheEmptyAssemblyIn146BytesWithByteOrderMarkAndCrLf) {
    std::ifstream file(MENDORA_MANIFEST_FILE, std::ios::binary);
    ASSERT_TRUE(file) << MENDORA_MANIFEST_FILE;
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), 146u);
    EXPECT_EQ(bytes, "\xEF\xBB\xBF"
                     "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                     "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
                     "manifestVersion=\"1.0\">\r\n</assembly>");
}

TEST(MakerTexts, AboutTextIsSevenLinesThatFitTheAboutBox) {
    const std::vector<std::string> about = lines(kAboutText, "\n");
    ASSERT_EQ(about.size(), 7u);
    EXPECT_EQ(about[0], "Mendora");
    EXPECT_EQ(about[1], "");
    EXPECT_EQ(about[2], kVersionLine);
    EXPECT_EQ(about[3], kRightsLine1);
    EXPECT_EQ(about[4], kRightsLine2);
    EXPECT_EQ(about[5], "");
    EXPECT_EQ(about[6], kDescription);
    for (const std::string& line : about)
        EXPECT_EQ(line.find_first_of("\r\\"), std::string::npos) << line;
    // The about box loads it into 255 characters, terminator included.
    EXPECT_LT(std::strlen(kAboutText), 255u);
}

TEST(MakerTexts, EscapedAboutTextJoinsTheRightsAndEndsInFourMoreBreaks) {
    const std::vector<std::string> parts = lines(kAboutTextEscaped, "\\n");
    const std::string rights = std::string(kRightsLine1) + " " + kRightsLine2;
    // Six lines joined by five breaks, then four more breaks: four empty parts at the end.
    const std::vector<std::string> expected = {"Mendora",    "", kVersionLine, rights, "",
                                               kDescription, "", "",           "",     ""};
    EXPECT_EQ(parts, expected);
    EXPECT_EQ(std::string(kAboutTextEscaped).find('\n'), std::string::npos);
}

} // namespace
} // namespace mendora
