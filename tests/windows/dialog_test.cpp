// The plug-in's real dialog boxes under the dialog manager, driven from a second thread by
// synthesised keys and clicks while the plug-in's call waits in the dialog's modal loop:
// the region dialog through the stand-in host's start step, the about box through the entry
// point with a host suite access of the test's own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialog_automation.h"
#include "resources/maker_texts.h"
#include "resources/resource_ids.h"
#include "tools/standin_host/standin_host.h"

namespace mendora {

// Lets gtest compare and print parameter blocks.
bool operator==(const FillParameters& a, const FillParameters& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
void PrintTo(const FillParameters& p, std::ostream* out) {
    *out << "{" << p.sourceLeft << ", " << p.sourceTop << ", " << p.sourceRight << ", "
         << p.sourceBottom << ", " << p.patchRadius << "}";
}

namespace {

using namespace automation;

// The module file beside the test program.
std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, &path[0], MAX_PATH));
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + MENDORA_MODULE_FILE;
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// ---- Region dialog -----------------------------------------------------------------------

// The block a user's earlier run left, shown when the dialog opens.
const FillParameters kStored = {10, 20, 30, 25, 3};

class RegionDialog : public ::testing::Test {
  protected:
    void SetUp() override { openRunFrom(narrow(modulePath())); }

    // Loads the module at `path` (UTF-8) and prepares a run up to the start step.
    void openRunFrom(const std::string& path) {
        std::string error;
        ASSERT_TRUE(standin::loadPlugin(path, error)) << error;
        standin::resetHost();
        standin::setImage(standin::HostImage{40, 30, std::vector<uint8_t>(40 * 30 * 3, 90)});
        owner = createHostWindow(100, 80, 640, 480);
        ASSERT_NE(owner, nullptr);
        standin::hostSettings().parentWindow = owner;
        standin::beginRun();
        ASSERT_EQ(standin::callSelector(selectorParameters), 0);
        ASSERT_TRUE(standin::writeParameterBlock(kStored));
        ASSERT_EQ(standin::callSelector(selectorPrepare), 0);
    }

    void TearDown() override {
        if (standin::pluginLoaded())
            standin::callSelector(selectorFinish);
        standin::unloadPlugin();
        if (owner != nullptr)
            DestroyWindow(owner);
    }

    // The start step's result, with `drive` acting on the dialog meanwhile.
    int16_t startWhile(const std::function<void(HWND dialog)>& drive) {
        int16_t code = 0;
        const bool closed = driveDialog(
            owner, [&] { code = standin::callSelector(selectorStart); },
            [&] {
                HWND dialog = waitForOwnedDialog(owner);
                if (dialog != nullptr)
                    drive(dialog);
            });
        EXPECT_TRUE(closed) << "the dialog was not closed by its keys";
        return code;
    }

    static FillParameters block() {
        FillParameters stored = {};
        EXPECT_TRUE(standin::readParameterBlock(stored));
        return stored;
    }

    // Types into the focused box and waits until the box `box` shows `expected`.
    static bool typeInto(HWND dialog, int box, const std::wstring& keys,
                         const std::wstring& expected) {
        typeText(keys);
        return waitUntil([&] { return textOf(GetDlgItem(dialog, box)) == expected; });
    }

    HWND owner = nullptr;
};

TEST_F(RegionDialog, OpensCentredOverItsOwnerWithTheFirstBoxFocusedAndItsTextSelected) {
    std::vector<std::wstring> texts;
    bool firstBoxFocused = false;
    DWORD selectionStart = 99, selectionEnd = 99;
    RECT dialogRect = {};
    const int16_t code = startWhile([&](HWND dialog) {
        for (int box = kSourceLeftBox; box <= kPatchRadiusBox; box++)
            texts.push_back(textOf(GetDlgItem(dialog, box)));
        firstBoxFocused = waitUntil(
            [&] { return focusOfThreadOf(dialog) == GetDlgItem(dialog, kSourceLeftBox); });
        SendDlgItemMessageW(dialog, kSourceLeftBox, EM_GETSEL,
                            reinterpret_cast<WPARAM>(&selectionStart),
                            reinterpret_cast<LPARAM>(&selectionEnd));
        GetWindowRect(dialog, &dialogRect);
        pressKey(VK_ESCAPE);
    });
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"10", L"20", L"30", L"25", L"3"}));
    EXPECT_TRUE(firstBoxFocused);
    EXPECT_EQ(selectionStart, 0u);
    EXPECT_EQ(selectionEnd, 2u);
    EXPECT_EQ(code, errCanceled);

    // Over the owner's client area, as the system reports it, without a system menu.
    const POINT expected = centredCorner(owner, dialogRect.right - dialogRect.left,
                                         dialogRect.bottom - dialogRect.top);
    EXPECT_EQ(dialogRect.left, expected.x);
    EXPECT_EQ(dialogRect.top, expected.y);
}

// Typing replaces the selected text, Tab selects the next box's text; each keystroke reaches
// the block at once. Only the radius box scrolls, so only it takes five digits. Enter
// confirms: the host is then asked for the image, which this host refuses with a code of its
// own, so the block stays as the dialog left it.
TEST_F(RegionDialog, TypedTextReachesTheBlockAtOnceAndEnterConfirms) {
    const int16_t hostRefusal = 17;
    standin::hostSettings().deliverAnswer = hostRefusal;
    bool typed = false;
    FillParameters whileOpen = {};
    const int16_t code = startWhile([&](HWND dialog) {
        typed = typeInto(dialog, kSourceLeftBox, L"-5", L"-5");
        pressKey(VK_TAB);
        typed = typed && typeInto(dialog, kSourceTopBox, L"12a", L"12a");
        pressKey(VK_TAB);
        pressKey(VK_BACK);
        typed = typed && typeInto(dialog, kSourceRightBox, L"", L"");
        pressKey(VK_TAB);
        pressKey(VK_TAB);
        typed = typed && typeInto(dialog, kPatchRadiusBox, L"70000", L"70000");
        whileOpen = block();
        pressKey(VK_RETURN);
    });
    EXPECT_TRUE(typed);
    // "12a" and the empty box read as 0; 70000 keeps its low 16 bits, 70000 - 65536.
    const FillParameters expected = {-5, 0, 0, 25, 4464};
    EXPECT_EQ(whileOpen, expected);
    EXPECT_EQ(code, hostRefusal) << "not confirmed";
    EXPECT_EQ(block(), expected);
}

// A module whose file name is longer than MAX_PATH and has characters outside the ANSI code
// page still shows its dialog in its own activation context: Enter confirms it.
class RegionDialogOnALongPath : public RegionDialog {
  protected:
    void SetUp() override {
        // "\\?\" lifts the length limit for the folders and the copy.
        std::wstring folder = L"\\\\?\\" + modulePath();
        folder.erase(folder.find_last_of(L'\\') + 1);
        for (int level = 0; level < 6; level++) {
            folder += L"\u03a9\u4e2d-long-folder-name-for-a-module-beyond-the-old-limit-" +
                      std::to_wstring(level) + L"\\";
            folders.push_back(folder);
            CreateDirectoryW(folder.c_str(), nullptr);
        }
        copy = folder + MENDORA_MODULE_FILE;
        ASSERT_TRUE(CopyFileW(modulePath().c_str(), copy.c_str(), FALSE)) << GetLastError();
        ASSERT_GT(copy.size(), 4u + 300u);
        openRunFrom(utf8(copy.substr(4)));
    }

    void TearDown() override {
        RegionDialog::TearDown();
        DeleteFileW(copy.c_str());
        for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
            RemoveDirectoryW(folder->c_str());
    }

    static std::string utf8(const std::wstring& text) {
        std::string out(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1,
                                                                nullptr, 0, nullptr, nullptr)),
                        '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()),
                            nullptr, nullptr);
        out.pop_back();
        return out;
    }

    std::vector<std::wstring> folders;
    std::wstring copy;
};

TEST_F(RegionDialogOnALongPath, ShowsItsDialog) {
    const int16_t hostRefusal = 17;
    standin::hostSettings().deliverAnswer = hostRefusal;
    const int16_t code = startWhile([](HWND) { pressKey(VK_RETURN); });
    EXPECT_EQ(code, hostRefusal) << "not confirmed";
}

TEST_F(RegionDialog, EscapeAfterEditsRestoresTheBlockAndCancels) {
    bool edited = false;
    const int16_t code = startWhile([&](HWND) {
        typeText(L"123");
        pressKey(VK_TAB);
        typeText(L"9");
        edited = waitUntil([&] {
            const FillParameters now = block();
            return now.sourceLeft == 123 && now.sourceTop == 9;
        });
        pressKey(VK_ESCAPE);
    });
    EXPECT_TRUE(edited) << "the edits did not reach the block while the dialog was open";
    EXPECT_EQ(code, errCanceled);
    EXPECT_EQ(block(), kStored);
    EXPECT_EQ(standin::countCalls(standin::HostCallKind::deliverBuffers), 0);
}

// ---- About box ---------------------------------------------------------------------------

// What the host's suites saw; written on the dialog's thread, read on the test's.
struct SuiteLog {
    std::mutex lock;
    bool offerFileList = true;
    int acquired = 0;
    int released = 0;
    std::vector<std::string> names;
    std::vector<std::string> addresses;
    // Whether each address arrived inside an activation context made from the library.
    std::vector<bool> inLibraryContext;
};
SuiteLog suiteLog;
std::wstring libraryPath;

// True when the calling thread's active activation context was made from the library.
bool activeContextIsTheLibrary() {
    HANDLE active = nullptr;
    if (!GetCurrentActCtx(&active) || active == nullptr)
        return false;
    std::vector<uint8_t> buffer(4096);
    SIZE_T needed = 0;
    const bool queried = QueryActCtxW(0, active, nullptr, ActivationContextDetailedInformation,
                                      buffer.data(), buffer.size(), &needed);
    ReleaseActCtx(active);
    if (!queried)
        return false;
    const auto* info =
        reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(buffer.data());
    return info->lpRootManifestPath != nullptr &&
           _wcsicmp(info->lpRootManifestPath, libraryPath.c_str()) == 0;
}

void VLMR_CALLBACK reserved() {}

int16_t VLMR_CALLBACK browseUrl(const char* url) {
    const bool inContext = activeContextIsTheLibrary();
    std::lock_guard<std::mutex> hold(suiteLog.lock);
    suiteLog.addresses.push_back(url);
    suiteLog.inLibraryContext.push_back(inContext);
    return 0;
}

const FileListSuite4 fileListSuite = {reserved, reserved, reserved, browseUrl};

int16_t VLMR_CALLBACK acquireSuite(const char* name, int32_t version, const void** suite) {
    std::lock_guard<std::mutex> hold(suiteLog.lock);
    suiteLog.acquired++;
    suiteLog.names.push_back(std::string(name) + " " + std::to_string(version));
    *suite = suiteLog.offerFileList ? &fileListSuite : nullptr;
    return suiteLog.offerFileList ? 0 : errBadParameters;
}

int16_t VLMR_CALLBACK releaseSuite(const char* name, int32_t version) {
    std::lock_guard<std::mutex> hold(suiteLog.lock);
    suiteLog.released++;
    suiteLog.names.push_back(std::string(name) + " " + std::to_string(version));
    return 0;
}

class AboutBox : public ::testing::Test {
  protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> hold(suiteLog.lock);
            suiteLog.offerFileList = true;
            suiteLog.acquired = suiteLog.released = 0;
            suiteLog.names.clear();
            suiteLog.addresses.clear();
            suiteLog.inLibraryContext.clear();
        }
        libraryPath = modulePath();
        module = LoadLibraryW(libraryPath.c_str());
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        entry = reinterpret_cast<PluginEntryProc>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "PluginMain")));
        ASSERT_NE(entry, nullptr);
        owner = createHostWindow(200, 120, 600, 420);
        ASSERT_NE(owner, nullptr);
        windowData.parentWindow = owner;
    }

    void TearDown() override {
        unload();
        if (owner != nullptr)
            DestroyWindow(owner);
    }

    void unload() {
        if (module != nullptr)
            FreeLibrary(module);
        module = nullptr;
    }

    // Shows the about box while `drive` acts on it; false when `drive` did not close it.
    bool showWhile(const std::function<void(HWND dialog)>& drive) {
        // Built for this call alone, then blanked and freed: the library must not keep it.
        auto* access = new BasicSuiteAccess{acquireSuite, releaseSuite};
        AboutRecord record = {&windowData, access};
        intptr_t slot = 0;
        int16_t code = 0;
        const bool closed = driveDialog(
            owner,
            [&] {
                entry(selectorAbout, &record, &slot, &code);
                volatile BasicSuiteAccess* spent = access;
                spent->acquireSuite = nullptr;
                spent->releaseSuite = nullptr;
                delete access;
            },
            [&] {
                HWND dialog = waitForOwnedDialog(owner);
                if (dialog != nullptr)
                    drive(dialog);
            });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(slot, 0);
        return closed;
    }

    static size_t addressCount() {
        std::lock_guard<std::mutex> hold(suiteLog.lock);
        return suiteLog.addresses.size();
    }

    static int acquireCount() {
        std::lock_guard<std::mutex> hold(suiteLog.lock);
        return suiteLog.acquired;
    }

    HMODULE module = nullptr;
    PluginEntryProc entry = nullptr;
    HWND owner = nullptr;
    VlmrWindowData windowData = {};
};

const std::string kSuite = "Vellumar GetFileList Suite for Plug-ins 4";

TEST_F(AboutBox, AddressButtonsReachTheHostSuiteAndLeaveTheBoxOpen) {
    std::wstring text;
    bool reached = false, stayedOpen = false;
    EXPECT_TRUE(showWhile([&](HWND dialog) {
        text = textOf(GetDlgItem(dialog, kAboutTextControl));
        clickAt(centreOf(GetDlgItem(dialog, kAddress1Button)));
        reached = waitUntil([] { return addressCount() == 1; });
        clickAt(centreOf(GetDlgItem(dialog, kAddress2Button)));
        reached = reached && waitUntil([] { return addressCount() == 2; });
        stayedOpen = IsWindowVisible(dialog) != FALSE;
        pressKey(VK_ESCAPE);
    }));
    EXPECT_EQ(text, wide(kAboutText));
    EXPECT_TRUE(reached);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(suiteLog.addresses, (std::vector<std::string>{std::string("http://") + kAddress1,
                                                            std::string("http://") + kAddress2}));
    EXPECT_EQ(suiteLog.inLibraryContext, (std::vector<bool>{true, true}));

    // Acquired once, on the first click, and kept while the library stays loaded.
    EXPECT_TRUE(showWhile([&](HWND dialog) {
        clickAt(centreOf(GetDlgItem(dialog, kAddress1Button)));
        waitUntil([] { return addressCount() == 3; });
        pressKey(VK_ESCAPE);
    }));
    EXPECT_EQ(suiteLog.addresses.size(), 3u);
    EXPECT_EQ(suiteLog.acquired, 1);
    EXPECT_EQ(suiteLog.released, 0);
}

TEST_F(AboutBox, SuiteIsReleasedWhenTheLibraryUnloads) {
    EXPECT_TRUE(showWhile([&](HWND dialog) {
        clickAt(centreOf(GetDlgItem(dialog, kAddress2Button)));
        waitUntil([] { return addressCount() == 1; });
        pressKey(VK_ESCAPE);
    }));
    ASSERT_EQ(suiteLog.acquired, 1);
    EXPECT_EQ(suiteLog.released, 0);
    unload();
    EXPECT_EQ(suiteLog.released, 1);
    EXPECT_EQ(suiteLog.names, (std::vector<std::string>{kSuite, kSuite}));
}

TEST_F(AboutBox, WithoutTheSuiteAClickChangesNothing) {
    suiteLog.offerFileList = false;
    bool asked = false, stayedOpen = false;
    EXPECT_TRUE(showWhile([&](HWND dialog) {
        clickAt(centreOf(GetDlgItem(dialog, kAddress2Button)));
        asked = waitUntil([] { return acquireCount() == 1; });
        stayedOpen = IsWindowVisible(dialog) != FALSE;
        pressKey(VK_ESCAPE);
    }));
    EXPECT_TRUE(asked);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(suiteLog.addresses.empty());
    unload();
    EXPECT_EQ(suiteLog.released, 0) << "nothing was acquired";
}

TEST_F(AboutBox, EscapeOrAClickOnItsBackgroundClosesIt) {
    EXPECT_TRUE(showWhile([](HWND) { pressKey(VK_ESCAPE); })) << "Escape";
    EXPECT_TRUE(showWhile([](HWND dialog) {
        // Right of the text and above the buttons: the dialog's own surface.
        RECT client = {};
        GetClientRect(dialog, &client);
        POINT point = {client.right - 4, client.bottom / 2};
        ClientToScreen(dialog, &point);
        clickAt(point);
    })) << "click";
    EXPECT_TRUE(suiteLog.addresses.empty());
}

} // namespace
} // namespace mendora
