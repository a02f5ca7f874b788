// The plug-in's two dialogs, as the entry point's steps call them.
#pragma once

#include "sdk/vellumar_plugin.h"

namespace mendora {

// The region dialog of the start step. Called with the parameter block locked (the module
// state's `hostParameterBlock`); shows the source rectangle and the patch radius of that block
// for editing, modally, owned by the first member of the host record's window data (none when
// the host gives no window data), and writes every edit straight into the block. Answers true
// exactly when the user confirmed. A dialog that cannot be shown counts as not confirmed.
// Writes nothing into the result: the start step writes 0 once the dialog has ended, and on a
// cancel restores the block and reports it.
bool runRegionDialog();

// The about box: shows the product's about text modally, owned by the window the record's
// window data names, and offers the maker's web addresses through the host's file-list suite
// reached through `record->suiteAccess`. Accepts a null record (shows nothing). Writes
// nothing into the result and touches no handle.
void showAboutBox(const AboutRecord* record);

} // namespace mendora
