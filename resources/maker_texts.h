// The maker's texts, kept in one place for the Windows resources (the string table, the
// version resource, the about box's buttons) and for the about box of the Linux build.
// Plain string macros so that the resource compiler's preprocessor can read them too;
// the C++ constants below are built from the same macros.
#pragma once

#define MENDORA_PRODUCT_NAME "Mendora"
#define MENDORA_COMPANY_NAME "Aldermoor Software"
#define MENDORA_VERSION_TEXT "10.0"
#define MENDORA_VERSION_LINE "Version 10.0 (7 December 2026)"
#define MENDORA_RIGHTS_LINE_1 "Copyright (C) 2026 Aldermoor Software."
#define MENDORA_RIGHTS_LINE_2 "All rights reserved."
#define MENDORA_DESCRIPTION                                                                        \
    "A hole-filling plug-in for Vellumar that fills a selection with texture from the rest of "    \
    "the image."

// Host names on the about box's two address buttons; a click passes "http://" and the name
// to the host.
#define MENDORA_ADDRESS_1 "www.mendora.example"
#define MENDORA_ADDRESS_2 "www.aldermoor.example"

// The notice of rights on one line, as the version resource carries it.
#define MENDORA_RIGHTS_ONE_LINE MENDORA_RIGHTS_LINE_1 " " MENDORA_RIGHTS_LINE_2

// clang-format off
// String 16000, the about box's text: seven lines separated by single line feeds.
#define MENDORA_ABOUT_TEXT \
    MENDORA_PRODUCT_NAME "\n" \
    "\n" \
    MENDORA_VERSION_LINE "\n" \
    MENDORA_RIGHTS_LINE_1 "\n" \
    MENDORA_RIGHTS_LINE_2 "\n" \
    "\n" \
    MENDORA_DESCRIPTION

// String 16002: the about text with each line break written as a backslash and an n, the
// notice of rights on one line, and four more such pairs at the end.
#define MENDORA_ABOUT_TEXT_ESCAPED \
    MENDORA_PRODUCT_NAME "\\n" \
    "\\n" \
    MENDORA_VERSION_LINE "\\n" \
    MENDORA_RIGHTS_ONE_LINE "\\n" \
    "\\n" \
    MENDORA_DESCRIPTION \
    "\\n\\n\\n\\n"
// clang-format on

#ifndef RC_INVOKED
namespace mendora {

constexpr const char kProductName[] = MENDORA_PRODUCT_NAME;
constexpr const char kCompanyName[] = MENDORA_COMPANY_NAME;
constexpr const char kVersionLine[] = MENDORA_VERSION_LINE;
constexpr const char kRightsLine1[] = MENDORA_RIGHTS_LINE_1;
constexpr const char kRightsLine2[] = MENDORA_RIGHTS_LINE_2;
constexpr const char kDescription[] = MENDORA_DESCRIPTION;
constexpr const char kAddress1[] = MENDORA_ADDRESS_1;
constexpr const char kAddress2[] = MENDORA_ADDRESS_2;
constexpr const char kRightsOneLine[] = MENDORA_RIGHTS_ONE_LINE;
constexpr const char kAboutText[] = MENDORA_ABOUT_TEXT;
constexpr const char kAboutTextEscaped[] = MENDORA_ABOUT_TEXT_ESCAPED;

} // namespace mendora
#endif
