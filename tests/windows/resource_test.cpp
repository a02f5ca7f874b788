// Every resource of the plug-in module, read back through the Win32 resource functions and
// compared with the expected bytes and texts: the registration bytes, the string table, the
// version resource, the manifest and the two dialog templates.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "resources/maker_texts.h"
#include "resources/registration.h"
#include "resources/resource_ids.h"
#include "test_module.h"

namespace mendora {
namespace {

const WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::vector<uint8_t> resourceBytes(LPCWSTR type, LPCWSTR name) {
    HMODULE module = pluginModule();
    HRSRC found = FindResourceExW(module, type, name, kUsEnglish);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
    return std::vector<uint8_t>(data, data + SizeofResource(module, found));
}

// ---- Inventory -------------------------------------------------------------------------

std::string resourceName(LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return std::to_string(reinterpret_cast<uintptr_t>(name));
    std::wstring text(name);
    return std::string(text.begin(), text.end());
}

BOOL CALLBACK addLanguage(HMODULE, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR list) {
    reinterpret_cast<std::set<std::string>*>(list)->insert(
        resourceName(type) + "/" + resourceName(name) + "/" + std::to_string(language));
    return TRUE;
}

BOOL CALLBACK addName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR list) {
    return EnumResourceLanguagesW(module, type, name, addLanguage, list);
}

BOOL CALLBACK addType(HMODULE module, LPWSTR type, LONG_PTR list) {
    return EnumResourceNamesW(module, type, addName, list);
}

TEST(Resources, AreExactlyTheRegistrationDialogTextAndVersionResourcesInUsEnglish) {
    ASSERT_NE(pluginModule(), nullptr);
    std::set<std::string> found;
    EnumResourceTypesW(pluginModule(), addType, reinterpret_cast<LONG_PTR>(&found));
    // Types 5 dialog, 6 string table (blocks of 16 ids: 1001 holds 16000 to 16015),
    // 16 version, 24 manifest.
    const std::set<std::string> expected = {
        "AETE/16000/1033",      "PIPL/16000/1033", "5/16000/1033",
        "5/ZENDRELDIALOG/1033", "6/1001/1033",     "6/1062/1033",
        "6/1063/1033",          "16/1/1033",       "24/2/1033",
    };
    EXPECT_EQ(found, expected);
}

// ---- Registration ----------------------------------------------------------------------

TEST(Resources, RegistrationBytesAreThoseOfTheDescription) {
    ASSERT_NE(pluginModule(), nullptr);
    EXPECT_EQ(resourceBytes(L"PIPL", MAKEINTRESOURCEW(kPropertyListId)), buildPropertyList());
    EXPECT_EQ(resourceBytes(L"AETE", MAKEINTRESOURCEW(kTerminologyId)), buildTerminology());
}

// ---- Manifest --------------------------------------------------------------------------

TEST(Resources, ManifestIsCarriedByteForByteAndMakesAnActivationContext) {
    ASSERT_NE(pluginModule(), nullptr);
    const std::string expected = "\xEF\xBB\xBF"
                                 "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                                 "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
                                 "manifestVersion=\"1.0\">\r\n</assembly>";
    const std::vector<uint8_t> bytes =
        resourceBytes(MAKEINTRESOURCEW(kManifestType), MAKEINTRESOURCEW(kManifestId));
    EXPECT_EQ(bytes.size(), static_cast<size_t>(kManifestSize));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);

    const std::wstring path = pluginPath();
    ACTCTXW context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path.c_str();
    context.hModule = pluginModule();
    context.lpResourceName = MAKEINTRESOURCEW(kManifestId);
    HANDLE activation = CreateActCtxW(&context);
    EXPECT_NE(activation, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (activation != INVALID_HANDLE_VALUE)
        ReleaseActCtx(activation);
}

// ---- String table ----------------------------------------------------------------------

TEST(Resources, StringTableHoldsTheTextsAndNothingBetween) {
    ASSERT_NE(pluginModule(), nullptr);
    const struct {
        int id;
        const char* text;
    } strings[] = {
        {kAboutTextId, kAboutText},
        {kAboutTextEscapedId, kAboutTextEscaped},
        {kIntegerRangeMessageId, "An integer is required between ^1 and ^2."},
        {kDecimalRangeMessageId, "A decimal number is required between ^1 and ^2."},
        {kHostVersionMessageId,
         "This plug-in requires Tarnwick Vellumar?^1 or later functionality."},
        {kHostIncompatibleMessageId,
         "This plug-in is incompatible with this version of the host program."},
        {kSuiteMissingMessageId, "the required suite \\'^0\\' is unavailable"},
    };
    for (const auto& entry : strings) {
        SCOPED_TRACE(entry.id);
        const wchar_t* text = nullptr;
        // With a zero buffer size LoadString hands out the stored characters themselves.
        const int length =
            LoadStringW(pluginModule(), entry.id, reinterpret_cast<LPWSTR>(&text), 0);
        ASSERT_GT(length, 0);
        EXPECT_EQ(std::wstring(text, length), wide(entry.text));
    }
    for (int absent : {15999, 16001, 16003, 16989, 16995}) {
        const wchar_t* text = nullptr;
        EXPECT_EQ(LoadStringW(pluginModule(), absent, reinterpret_cast<LPWSTR>(&text), 0), 0)
            << absent;
    }

    // The about box reads string 16000 into 255 characters: it must fit whole.
    char about[255];
    EXPECT_EQ(LoadStringA(pluginModule(), kAboutTextId, about, sizeof about),
              static_cast<int>(std::strlen(kAboutText)));
    EXPECT_STREQ(about, kAboutText);
}

// ---- Version resource ------------------------------------------------------------------

// One node of the version resource: length, value length, type, key, value, children.
struct VersionNode {
    std::wstring key;
    uint16_t type = 0;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

size_t alignFour(size_t offset) {
    return (offset + 3) & ~size_t{3};
}

// Parses the node at `offset` of `block`; false when a length leaves the block.
bool parseVersionNode(const std::vector<uint8_t>& block, size_t offset, VersionNode& node,
                      size_t& end) {
    if (offset + 6 > block.size())
        return false;
    uint16_t length, valueLength;
    std::memcpy(&length, &block[offset], 2);
    std::memcpy(&valueLength, &block[offset + 2], 2);
    std::memcpy(&node.type, &block[offset + 4], 2);
    end = offset + length;
    if (length < 6 || end > block.size())
        return false;
    size_t at = offset + 6;
    for (;; at += 2) {
        if (at + 2 > end)
            return false;
        wchar_t c = static_cast<wchar_t>(block[at] | block[at + 1] << 8);
        if (c == 0)
            break;
        node.key += c;
    }
    at = alignFour(at + 2);
    const size_t valueBytes = node.type == 1 ? valueLength * 2u : valueLength;
    if (at + valueBytes > end)
        return false;
    node.value.assign(block.begin() + at, block.begin() + at + valueBytes);
    at = alignFour(at + valueBytes);
    while (at < end) {
        VersionNode child;
        size_t childEnd;
        if (!parseVersionNode(block, at, child, childEnd))
            return false;
        node.children.push_back(child);
        at = alignFour(childEnd);
    }
    return true;
}

std::wstring textValue(const VersionNode& node) {
    std::wstring text;
    for (size_t i = 0; i + 1 < node.value.size(); i += 2) {
        wchar_t c = static_cast<wchar_t>(node.value[i] | node.value[i + 1] << 8);
        if (c == 0)
            break;
        text += c;
    }
    return text;
}

TEST(Resources, VersionResourceHoldsTheFixedPartAndTheTextsInOrder) {
    ASSERT_NE(pluginModule(), nullptr);
    const std::wstring path = pluginPath();
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 10u << 16);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 10u << 16);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileFlags, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x40004u);
    EXPECT_EQ(fixed->dwFileType, 2u);
    EXPECT_EQ(fixed->dwFileSubtype, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    // The keys in their stored order, read from the resource itself.
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"Comments", L""},
        {L"CompanyName", wide(kCompanyName)},
        {L"FileDescription", L"Mendora"},
        {L"FileVersion", L"10.0"},
        {L"InternalName", L"Mendora"},
        {L"LegalCopyright", wide(kRightsOneLine)},
        {L"LegalTrademarks", L""},
        {L"OriginalFilename", L"Mendora"},
        {L"PrivateBuild", L""},
        {L"ProductName", wide(kCompanyName) + L" Mendora"},
        {L"ProductVersion", L"10.0"},
        {L"SpecialBuild", L""},
    };
    const std::vector<uint8_t> block = resourceBytes(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));
    VersionNode root;
    size_t end;
    ASSERT_TRUE(parseVersionNode(block, 0, root, end));
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    const VersionNode* table = nullptr;
    for (const VersionNode& child : root.children)
        if (child.key == L"StringFileInfo") {
            ASSERT_EQ(child.children.size(), 1u);
            table = &child.children[0];
        }
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->key, L"040904b0");
    std::vector<std::pair<std::wstring, std::wstring>> found;
    for (const VersionNode& value : table->children)
        found.emplace_back(value.key, textValue(value));
    EXPECT_EQ(found, expected);
}

// ---- Dialog templates ------------------------------------------------------------------

constexpr uint16_t kButton = 0x80;
constexpr uint16_t kEdit = 0x81;
constexpr uint16_t kStatic = 0x82;
constexpr uint32_t kUnnamed = 0xFFFFFFFF;

struct Control {
    uint32_t id;
    uint16_t classOrdinal;
    std::wstring text;
    uint32_t style;
    int16_t x, y, cx, cy;
};

bool operator==(const Control& a, const Control& b) {
    return a.id == b.id && a.classOrdinal == b.classOrdinal && a.text == b.text &&
           a.style == b.style && a.x == b.x && a.y == b.y && a.cx == b.cx && a.cy == b.cy;
}

void PrintTo(const Control& c, std::ostream* out) {
    *out << "{id " << c.id << ", class " << c.classOrdinal << ", \""
         << std::string(c.text.begin(), c.text.end()) << "\", style 0x" << std::hex << c.style
         << std::dec << ", " << c.x << ", " << c.y << ", " << c.cx << ", " << c.cy << "}";
}

struct Dialog {
    uint16_t version = 0; // 1 for the extended form, 0 for the classic one
    uint32_t style = 0, exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false, hasClass = false;
    std::wstring title;
    uint16_t pointSize = 0, weight = 0;
    uint8_t italic = 0, charset = 0;
    std::wstring font;
    std::vector<Control> controls;
};

// Reads the template's fields in order; every read is bounds-checked by the caller's size
// test at the end (a short template fails there rather than reading past the resource).
struct TemplateReader {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    bool overrun = false;

    template <typename T> T read() {
        T value{};
        if (at + sizeof(T) > bytes.size()) {
            overrun = true;
            return value;
        }
        std::memcpy(&value, &bytes[at], sizeof(T));
        at += sizeof(T);
        return value;
    }
    std::wstring readText() {
        std::wstring text;
        for (wchar_t c; !overrun && (c = read<wchar_t>()) != 0;)
            text += c;
        return text;
    }
    // A field that is empty (0), an ordinal (0xFFFF, then the number) or a text.
    uint16_t readOrdinalOrText(std::wstring& text) {
        const uint16_t first = read<uint16_t>();
        if (first == 0xFFFF)
            return read<uint16_t>();
        if (first != 0) {
            text = static_cast<wchar_t>(first);
            text += readText();
        }
        return 0;
    }
    void alignFour() { at = (at + 3) & ~size_t{3}; }
};

Dialog parseDialog(const std::vector<uint8_t>& bytes) {
    TemplateReader in{bytes};
    Dialog dialog;
    uint16_t count;
    if (bytes.size() >= 4 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
        dialog.version = in.read<uint16_t>();
        in.read<uint16_t>(); // signature
        in.read<uint32_t>(); // help id
        dialog.exStyle = in.read<uint32_t>();
        dialog.style = in.read<uint32_t>();
    } else {
        dialog.style = in.read<uint32_t>();
        dialog.exStyle = in.read<uint32_t>();
    }
    count = in.read<uint16_t>();
    dialog.x = in.read<int16_t>();
    dialog.y = in.read<int16_t>();
    dialog.cx = in.read<int16_t>();
    dialog.cy = in.read<int16_t>();
    std::wstring menu, windowClass;
    dialog.hasMenu = in.readOrdinalOrText(menu) != 0 || !menu.empty();
    dialog.hasClass = in.readOrdinalOrText(windowClass) != 0 || !windowClass.empty();
    dialog.title = in.readText();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.read<uint16_t>();
        if (dialog.version == 1) {
            dialog.weight = in.read<uint16_t>();
            dialog.italic = in.read<uint8_t>();
            dialog.charset = in.read<uint8_t>();
        }
        dialog.font = in.readText();
    }
    for (int i = 0; i < count && !in.overrun; ++i) {
        in.alignFour();
        Control control;
        uint32_t style;
        if (dialog.version == 1) {
            in.read<uint32_t>(); // help id
            in.read<uint32_t>(); // extended style
            style = in.read<uint32_t>();
        } else {
            style = in.read<uint32_t>();
            in.read<uint32_t>();
        }
        control.style = style;
        control.x = in.read<int16_t>();
        control.y = in.read<int16_t>();
        control.cx = in.read<int16_t>();
        control.cy = in.read<int16_t>();
        control.id = dialog.version == 1 ? in.read<uint32_t>() : in.read<uint16_t>();
        std::wstring className;
        control.classOrdinal = in.readOrdinalOrText(className);
        in.readOrdinalOrText(control.text);
        const uint16_t extra = in.read<uint16_t>();
        in.at += extra;
        dialog.controls.push_back(control);
    }
    EXPECT_FALSE(in.overrun) << "the template ends inside its own fields";
    return dialog;
}

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kFrame = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;

TEST(Resources, RegionDialogTemplateIsTheExtendedFormWithItsElevenControls) {
    ASSERT_NE(pluginModule(), nullptr);
    const Dialog dialog = parseDialog(resourceBytes(MAKEINTRESOURCEW(5), L"ZENDRELDIALOG"));
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.style, kFrame); // in particular, no system menu
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.title, L"Mendora");
    EXPECT_EQ(dialog.font, L"MS Sans Serif");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 0);
    EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.cx, dialog.cy}),
              std::vector<int>({34, 40, 175, 71}));
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);

    const uint32_t box = kChild | ES_LEFT | WS_BORDER | WS_TABSTOP;
    const uint32_t label = kChild | SS_LEFT | WS_GROUP;
    const std::vector<Control> expected = {
        {1, kButton, L"&OK", kChild | BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP, 140, 3, 34, 14},
        {2, kButton, L"&Cancel", kChild | BS_PUSHBUTTON | BS_NOTIFY | WS_TABSTOP, 140, 20, 34, 14},
        {3, kEdit, L"", box, 77, 19, 20, 12},
        {4, kEdit, L"", box, 103, 19, 20, 12},
        {5, kEdit, L"", box, 77, 37, 20, 12},
        {6, kEdit, L"", box, 103, 37, 20, 12},
        {kUnnamed, kStatic, L"Start point:", label, 31, 21, 42, 9},
        {kUnnamed, kStatic, L"End point:", label, 33, 39, 35, 11},
        {kUnnamed, kStatic, L"If you don't know what is this, just click OK", label, 10, 6, 127,
         10},
        {7, kEdit, L"", box | ES_AUTOHSCROLL, 89, 55, 24, 11},
        {kUnnamed, kStatic, L"coefficient:", label, 52, 57, 35, 10},
    };
    EXPECT_EQ(dialog.controls, expected);
}

TEST(Resources, AboutBoxTemplateIsTheClassicFormWithItsFiveControls) {
    ASSERT_NE(pluginModule(), nullptr);
    const Dialog dialog =
        parseDialog(resourceBytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(kAboutDialogId)));
    EXPECT_EQ(dialog.version, 0);
    EXPECT_EQ(dialog.style, kFrame);
    EXPECT_EQ(dialog.title, L"");
    EXPECT_EQ(dialog.font, L"MS Sans Serif");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.cx, dialog.cy}),
              std::vector<int>({0, 0, 189, 120}));

    // OK and Cancel: hidden (no WS_VISIBLE) and disabled.
    const uint32_t hidden = WS_CHILD | WS_DISABLED | WS_TABSTOP;
    const uint32_t address = kChild | BS_PUSHBUTTON | WS_TABSTOP;
    const std::vector<Control> expected = {
        {1, kButton, L"OK", hidden | BS_DEFPUSHBUTTON, 171, 7, 11, 14},
        {2, kButton, L"Cancel", hidden | BS_PUSHBUTTON, 172, 24, 10, 14},
        {3, kStatic, L"Static", kChild | SS_LEFT | WS_GROUP, 16, 7, 148, 83},
        {4, kButton, wide(kAddress1), address, 13, 100, 67, 13},
        {5, kButton, wide(kAddress2), address, 91, 100, 76, 13},
    };
    EXPECT_EQ(dialog.controls, expected);
    // The address formed from a button, "http://" and the name, fits 256 bytes.
    for (const char* name : {kAddress1, kAddress2})
        EXPECT_LE(std::strlen(name), 248u);
}

INT_PTR CALLBACK quietDialog(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

std::wstring windowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The dialog manager itself accepts both templates and makes the controls from them.
TEST(Resources, DialogManagerCreatesBothDialogsFromTheTemplates) {
    ASSERT_NE(pluginModule(), nullptr);
    HWND region = CreateDialogParamW(pluginModule(), L"ZENDRELDIALOG", nullptr, quietDialog, 0);
    ASSERT_NE(region, nullptr) << "error " << GetLastError();
    EXPECT_EQ(windowText(region), L"Mendora");
    for (int id = kSourceLeftBox; id <= kPatchRadiusBox; ++id)
        EXPECT_EQ(className(GetDlgItem(region, id)), L"Edit") << id;
    EXPECT_EQ(windowText(GetDlgItem(region, kRegionOkButton)), L"&OK");
    EXPECT_EQ(GetWindowLongW(region, GWL_STYLE) & WS_SYSMENU, 0);
    DestroyWindow(region);

    HWND about = CreateDialogParamW(pluginModule(), MAKEINTRESOURCEW(kAboutDialogId), nullptr,
                                    quietDialog, 0);
    ASSERT_NE(about, nullptr) << "error " << GetLastError();
    HWND ok = GetDlgItem(about, kAboutOkButton);
    ASSERT_NE(ok, nullptr);
    EXPECT_FALSE(IsWindowEnabled(ok));
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_EQ(windowText(GetDlgItem(about, kAddress1Button)), wide(kAddress1));
    EXPECT_EQ(windowText(GetDlgItem(about, kAddress2Button)), wide(kAddress2));
    EXPECT_EQ(className(GetDlgItem(about, kAboutTextControl)), L"Static");
    DestroyWindow(about);
}

} // namespace
} // namespace mendora
