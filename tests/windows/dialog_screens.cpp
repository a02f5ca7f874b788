// Holds each of the plug-in's dialogs open, in turn, while scripts/test-windows takes a
// screenshot of the virtual display: the region dialog of a 640 x 480 image's first run, then
// the about box, each over a host window.
//
// Run in a folder of its own. For each dialog, once it is shown, the program creates the file
// NAME.ready there (NAME is region-dialog or about-box) and waits for the script to create
// NAME.taken; then it closes the dialog with Escape. NAME.ready holds one line, in screen
// pixels, of where the centring rule puts the dialog (not where the window says it is):
// "left top right bottom captionMiddle", captionMiddle being the row through its title bar. Exits 0
// when both dialogs were shown and closed, 1 otherwise (a message on standard error says which step
// failed).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialog_automation.h"
#include "tools/standin_host/standin_host.h"

namespace {

using namespace mendora;
using namespace mendora::automation;

bool fileExists(const std::string& name) {
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Where the centring rule places `dialog` over `owner`, from the owner's client area and the
// dialog's size alone.
RECT expectedPlace(HWND owner, HWND dialog) {
    RECT window = {};
    GetWindowRect(dialog, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const POINT corner = centredCorner(owner, width, height);
    return RECT{corner.x, corner.y, corner.x + width, corner.y + height};
}

// Announces the open dialog with its expected place and waits for the screenshot; false when
// none was taken.
bool holdForScreenshot(HWND owner, HWND dialog, const std::string& name) {
    // Let the dialog finish painting: a message sent to its thread is handled only after the
    // thread has come back to its modal loop.
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageW(dialog, WM_NULL, 0, 0);
    const RECT place = expectedPlace(owner, dialog);
    const int captionMiddle =
        place.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    // Written under another name and renamed, so the script never reads half a line.
    const std::string partial = name + ".partial";
    FILE* ready = std::fopen(partial.c_str(), "w");
    if (ready == nullptr)
        return false;
    std::fprintf(ready, "%ld %ld %ld %ld %d\n", place.left, place.top, place.right, place.bottom,
                 captionMiddle);
    std::fclose(ready);
    if (!MoveFileA(partial.c_str(), (name + ".ready").c_str()))
        return false;
    return waitUntil([&] { return fileExists(name + ".taken"); });
}

bool show(HWND owner, const std::string& name, const std::function<void()>& open) {
    DeleteFileA((name + ".ready").c_str());
    DeleteFileA((name + ".taken").c_str());
    bool shown = false, taken = false;
    const bool closed = driveDialog(owner, open, [&] {
        HWND dialog = waitForOwnedDialog(owner);
        shown = dialog != nullptr;
        if (shown)
            taken = holdForScreenshot(owner, dialog, name);
        pressKey(VK_ESCAPE);
    });
    if (!shown || !taken || !closed)
        std::fprintf(stderr, "%s: %s\n", name.c_str(),
                     !shown   ? "not shown"
                     : !taken ? "no screenshot taken"
                              : "not closed");
    return shown && taken && closed;
}

std::string modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, &path[0], MAX_PATH));
    path.erase(path.find_last_of(L"\\/") + 1);
    path += MENDORA_MODULE_FILE;
    return std::string(path.begin(), path.end());
}

} // namespace

int main() {
    std::string error;
    if (!standin::loadPlugin(modulePath(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    HWND owner = createHostWindow(40, 30, 900, 640);
    if (owner == nullptr) {
        std::fprintf(stderr, "no host window\n");
        return 1;
    }
    SetWindowTextW(owner, L"Host: 640 x 480 image");
    standin::resetHost();
    standin::setImage(standin::HostImage{640, 480, std::vector<uint8_t>(640 * 480 * 3, 200)});
    standin::hostSettings().parentWindow = owner;

    const bool region = show(owner, "region-dialog", [] { standin::runFilter(true); });
    const bool about = show(owner, "about-box", [] { standin::callAbout(); });
    standin::unloadPlugin();
    DestroyWindow(owner);
    return region && about ? 0 : 1;
}
