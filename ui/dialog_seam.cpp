// Stand-in dialogs for builds that do not carry the real forms yet: the region dialog
// confirms at once without showing anything, so a run fills with the stored parameters,
// and the about box shows nothing. Replaced by the terminal and Win32 forms.
#include "ui/dialogs.h"

namespace mendora {

bool runRegionDialog() {
    return true;
}

void showAboutBox(const AboutRecord* /*record*/) {}

} // namespace mendora
