// The owned-dialog search over the desktop's top-level windows.
// In: the owner window. Out: the dialog box it owns, if one is shown.
#include "tools/standin_host/owned_dialog_win32.h"

namespace mendora::standin {

namespace {

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK matchOwnedDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<OwnedDialogSearch*>(data);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (lstrcmpW(name, L"#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND findOwnedDialog(HWND owner) {
    OwnedDialogSearch search{owner, nullptr};
    EnumWindows(matchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace mendora::standin
