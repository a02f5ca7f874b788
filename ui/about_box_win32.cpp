// The about box as a Win32 dialog box: the about text, and two address buttons that hand the
// maker's web addresses to the host through its file-list suite.
#include <cstring>
#include <string>

#include "host/module_state.h"
#include "resources/resource_ids.h"
#include "ui/about_suite.h"
#include "ui/activation_context_win32.h"
#include "ui/centre_dialog.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"

namespace mendora {

namespace {

// Hands "http://" and the button's text to the host. Nothing happens without the suite.
void openAddress(HWND dialog, int button) {
    char text[256] = {};
    GetDlgItemTextA(dialog, button, text, sizeof text);
    try {
        browseAboutAddress(hostSuiteAccess, text);
    } catch (...) {
        // Out of memory inside a window procedure: the click has no effect.
    }
}

void openAboutBox(HWND dialog) {
    centreDialog(dialog);
    char text[255] = {};
    LoadStringA(hostModuleInstance, kAboutTextId, text, sizeof text);
    SetDlgItemTextA(dialog, kAboutTextControl, text);
}

// The about box's procedure. Opening centres the box and shows the about text; OK and
// Cancel (reached only by the keyboard) close it; the address buttons hand their address to
// the host and leave it open; Escape, carriage return and a click on the box's own surface
// close it; every other character is swallowed.
INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM first, LPARAM /*second*/) {
    switch (message) {
    case WM_INITDIALOG:
        openAboutBox(dialog);
        // The dialog manager gives the default focus.
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(first)) {
        case kAboutOkButton:
        case kAboutCancelButton:
            EndDialog(dialog, 0);
            return TRUE;
        case kAddress1Button:
        case kAddress2Button:
            openAddress(dialog, LOWORD(first));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CHAR:
        if (aboutBoxClosingKey(static_cast<int32_t>(first)))
            EndDialog(dialog, 0);
        return TRUE;
    case WM_LBUTTONDOWN:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void showAboutBox(const AboutRecord* record) {
    if (record == nullptr)
        return;
    HWND owner = record->windowData != nullptr ? record->windowData->parentWindow : nullptr;
    // The end value says nothing the host needs.
    showModuleDialog(MAKEINTRESOURCEA(kAboutDialogId), owner, aboutBoxProc);
}

} // namespace mendora
