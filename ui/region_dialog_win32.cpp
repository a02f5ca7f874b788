// The region dialog as a Win32 dialog box: the source rectangle's corners and the patch
// radius in five edit boxes, each edit stored in the locked parameter block at once.
#include <cassert>
#include <string>

#include "host/module_state.h"
#include "resources/resource_ids.h"
#include "ui/activation_context_win32.h"
#include "ui/centre_dialog.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"

extern "C" INT_PTR CALLBACK ZendrelProc(HWND dialog, UINT message, WPARAM first, LPARAM second);

namespace mendora {

namespace {

// The whole text of a box, however long (leading zeros or spaces can make a long text a
// valid number). Empty when the text cannot be read or stored; it then reads as 0, like any
// other unreadable text.
std::string boxText(HWND dialog, int box) {
    try {
        const int length = GetWindowTextLengthA(GetDlgItem(dialog, box));
        if (length <= 0)
            return {};
        std::string text(static_cast<size_t>(length) + 1, '\0');
        const int copied = GetDlgItemTextA(dialog, box, &text[0], length + 1);
        text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
        return text;
    } catch (...) {
        // Out of memory inside a window procedure: no exception may unwind into the system.
        return {};
    }
}

// Shows every field in its box, then selects the whole text of the first box and gives it
// the keyboard focus. Each text shown raises an edit-change that reads the same value back.
void openRegionDialog(HWND dialog) {
    centreDialog(dialog);
    if (hostParameterBlock != nullptr) {
        // At most six characters ("-32768"): the short-string buffer, no allocation.
        for (int box = kSourceLeftBox; box <= kPatchRadiusBox; box++)
            SetDlgItemTextA(dialog, box, fieldText(*fieldOfBox(*hostParameterBlock, box)).c_str());
    }
    SendDlgItemMessageA(dialog, kSourceLeftBox, EM_SETSEL, 0, -1);
    SetFocus(GetDlgItem(dialog, kSourceLeftBox));
}

void regionCommand(HWND dialog, WPARAM first) {
    const int32_t id = LOWORD(first);
    const int32_t notification = HIWORD(first);
    const bool fieldEdit =
        id >= kSourceLeftBox && id <= kPatchRadiusBox && notification == kEditChanged;
    // Without a block (a call outside the start step) edits have nowhere to go; OK and Cancel
    // still end the dialog.
    FillParameters scratch = {};
    FillParameters& block = hostParameterBlock != nullptr ? *hostParameterBlock : scratch;
    const RegionCommandOutcome outcome = applyRegionCommand(
        block, id, notification, fieldEdit ? boxText(dialog, id) : std::string());
    if (outcome.endsDialog)
        EndDialog(dialog, outcome.endValue);
}

} // namespace

bool runRegionDialog() {
    assert(hostParameterBlock != nullptr);
    HWND owner = nullptr;
    if (hostRecord != nullptr && hostRecord->windowData != nullptr)
        owner = hostRecord->windowData->parentWindow;
    const INT_PTR end = showModuleDialog(kRegionDialogName, owner, ZendrelProc);
    return regionDialogConfirmed(static_cast<int32_t>(end));
}

} // namespace mendora

// The region dialog's procedure, exported as _ZendrelProc@16. Opening shows the block and
// focuses the first box with its text selected; an edit-change of boxes 3 to 7 stores the box's
// text, read by the shared rule, in its field; OK (1) and Cancel (2) with notification 0 end
// the dialog with their id. Every command counts as handled; other messages go to the
// default dialog handling.
extern "C" INT_PTR CALLBACK ZendrelProc(HWND dialog, UINT message, WPARAM first,
                                        LPARAM /*second*/) {
    switch (message) {
    case WM_INITDIALOG:
        mendora::openRegionDialog(dialog);
        // The focus is set: the dialog manager must not move it to the first tab stop.
        return FALSE;
    case WM_COMMAND:
        mendora::regionCommand(dialog, first);
        return TRUE;
    default:
        return FALSE;
    }
}
