// Answering the region dialog on Windows, where the plug-in shows a real dialog box owned by
// a window of this program: a helper thread waits for that dialog, sets the boxes' texts (the
// dialog then stores them as it stores typing) and presses OK, as UI automation would; or the
// person at the screen answers it.
// In: the texts to type. Out: the window for the host's window data.
#include <windows.h>

#include <thread>

#include "resources/resource_ids.h"
#include "tools/standin_host/dialog_answer.h"
#include "tools/standin_host/owned_dialog_win32.h"

namespace mendora::runner {

namespace {

const char kOwnerClass[] = "MendoraCommandLineWindow";
// How often the helper looks for the dialog.
constexpr DWORD kPollInterval = 10;

// The window that owns the plug-in's dialogs, the helper that answers the region dialog, and
// the event that tells the helper to give up.
HWND ownerWindow = nullptr;
std::thread answerer;
HANDLE stopAnswering = nullptr;

// A hidden window over the primary screen's work area, so the plug-in centres its dialogs on
// the screen. Created once per run on the thread that calls the plug-in.
HWND createOwnerWindow(std::string& error) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    if (!GetClassInfoA(instance, kOwnerClass, &windowClass)) {
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kOwnerClass;
        if (RegisterClassA(&windowClass) == 0) {
            error = "cannot register a window class (error " + std::to_string(GetLastError()) + ")";
            return nullptr;
        }
    }
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    HWND window = CreateWindowExA(0, kOwnerClass, "Mendora", WS_POPUP, area.left, area.top,
                                  area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                  instance, nullptr);
    if (window == nullptr)
        error =
            "cannot create a window for the dialog (error " + std::to_string(GetLastError()) + ")";
    return window;
}

// The helper: waits until the dialog owned by `owner` is shown (or until told to stop), sets
// the texts of the boxes that have one and, when `confirm`, presses OK.
void answerDialog(HWND owner, HANDLE stop, DialogValues typed, bool confirm) {
    HWND dialog = nullptr;
    while (dialog == nullptr) {
        if (WaitForSingleObject(stop, kPollInterval) != WAIT_TIMEOUT)
            return;
        dialog = standin::findOwnedDialog(owner);
    }
    for (size_t box = 0; box < typed.size(); box++) {
        // The five boxes have consecutive ids in field order. Sent to the dialog's thread and
        // handled there before the call returns, like the edit-change it raises; the next box or OK
        // never overtakes it.
        if (typed[box])
            SetDlgItemTextA(dialog, kSourceLeftBox + static_cast<int>(box), typed[box]->c_str());
    }
    if (!confirm)
        return;
    HWND ok = GetDlgItem(dialog, IDOK);
    SendMessageA(ok, BM_CLICK, 0, 0);
    // A click may be refused by a dialog that is not the active window (this program may not
    // be in the foreground): then the command the click would have sent.
    if (IsWindowVisible(dialog))
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(ok));
}

} // namespace

VlmrParentWindow prepareRegionDialogAnswer(const DialogValues& typed, bool interactive,
                                           std::string& error) {
    endRegionDialogAnswer();
    ownerWindow = createOwnerWindow(error);
    if (ownerWindow == nullptr)
        return nullptr;
    stopAnswering = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stopAnswering == nullptr) {
        error = "cannot create an event (error " + std::to_string(GetLastError()) + ")";
        endRegionDialogAnswer();
        return nullptr;
    }
    try {
        answerer = std::thread(answerDialog, ownerWindow, stopAnswering, typed, !interactive);
    } catch (const std::exception& failure) {
        error = std::string("cannot start the dialog's answering thread: ") + failure.what();
        endRegionDialogAnswer();
        return nullptr;
    }
    return ownerWindow;
}

void regionDialogClosed() {}

void restoreDialogTerminal() {}

void endRegionDialogAnswer() {
    if (stopAnswering != nullptr)
        SetEvent(stopAnswering);
    if (answerer.joinable())
        answerer.join();
    if (stopAnswering != nullptr)
        CloseHandle(stopAnswering);
    stopAnswering = nullptr;
    if (ownerWindow != nullptr)
        DestroyWindow(ownerWindow);
    ownerWindow = nullptr;
}

bool aboutBoxCanShow() {
    return true;
}

VlmrParentWindow aboutBoxParent() {
    if (ownerWindow == nullptr) {
        std::string ignored;
        ownerWindow = createOwnerWindow(ignored);
    }
    return ownerWindow;
}

} // namespace mendora::runner
