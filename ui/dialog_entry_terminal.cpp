// The plug-in's dialog entry points on Linux: the terminal forms on the host's terminal, the
// first member of the host's window data.
// In: the module state of the current call. Out: the edited block and whether it was confirmed.
#include <cassert>

#include "host/module_state.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"
#include "ui/terminal_dialogs.h"

namespace mendora {

namespace {

// The host's terminal, or none when the host gives no window data.
VlmrParentWindow hostTerminal(const VlmrWindowData* windowData) {
    if (windowData == nullptr)
        return VlmrParentWindow{-1, -1};
    return windowData->parentWindow;
}

} // namespace

bool runRegionDialog() {
    assert(hostRecord != nullptr && hostParameterBlock != nullptr);
    const int32_t endValue =
        runRegionForm(*hostParameterBlock, hostTerminal(hostRecord->windowData));
    return regionDialogConfirmed(endValue);
}

void showAboutBox(const AboutRecord* record) {
    if (record == nullptr)
        return;
    runAboutForm(hostTerminal(record->windowData), record->suiteAccess);
}

} // namespace mendora
