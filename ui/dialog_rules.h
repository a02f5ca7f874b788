// The rules of the region dialog and the about box, shared by every toolkit that shows them
// (terminal forms on Linux, Win32 dialog boxes on Windows): what opening shows, how an edit
// is read and stored, which commands end a dialog with which value, and the address an about
// box button hands to the host. Only drawing and key reading differ between toolkits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "params/fill_parameters.h"
#include "resources/resource_ids.h"

namespace mendora {

// The control ids are those of the templates (resources/resource_ids.h): the region dialog's
// boxes run from kSourceLeftBox to kPatchRadiusBox in template (and tab) order.

// Notification code of an edit box whose text changed.
constexpr int32_t kEditChanged = 0x0300;

// The end value of a dialog that could not be shown or whose window failed.
constexpr int32_t kDialogFailed = -1;

// Reads a box's text the way the dialog stores it: a signed decimal integer (optional
// leading and trailing spaces, an optional sign, at least one digit, nothing else) whose
// value lies in the signed 32-bit range gives its low 16 bits as a signed 16-bit value
// ("70000" gives 4464, "-5" gives -5); any other text (empty, letters, "12a", beyond 32 bits)
// gives 0. Never fails.
int16_t readFieldText(std::string_view text);

// The text a box shows for a field: the signed decimal form of the value.
std::string fieldText(int16_t value);

// The field of `block` that box `boxId` (3 to 7) edits: 3 sourceLeft, 4 sourceTop,
// 5 sourceRight, 6 sourceBottom, 7 patchRadius. Null for any other id.
int16_t* fieldOfBox(FillParameters& block, int32_t boxId);

// What a command of the region dialog does.
struct RegionCommandOutcome {
    bool endsDialog = false;
    int32_t endValue = 0; // when endsDialog: 1 confirms, 2 cancels
};

// Applies a command (control id and notification code) to the locked block: an edit-change
// of boxes 3 to 7 stores `boxText` read by readFieldText in the box's field at once (there is
// no separate commit on OK); ids 1 and 2 with notification 0 (a click, Enter or Escape) end
// the dialog with the id as end value; every other command does nothing. Every command counts
// as handled.
RegionCommandOutcome applyRegionCommand(FillParameters& block, int32_t controlId,
                                        int32_t notification, std::string_view boxText);

// True when the dialog's end value means the user confirmed.
inline bool regionDialogConfirmed(int32_t endValue) {
    return endValue == kRegionOkButton;
}

// About box: the address passed to the host's file-list suite for an address button whose
// text is `buttonText`: "http://" and the text, cut to the 255 characters a 256-byte buffer
// holds with its terminator.
std::string aboutAddress(std::string_view buttonText);

// The characters of the keys that close the about box.
constexpr int32_t kCarriageReturnCharacter = 13;
constexpr int32_t kEscapeCharacter = 27;

// About box: true for the characters that close it (Escape and carriage return).
inline bool aboutBoxClosingKey(int32_t character) {
    return character == kEscapeCharacter || character == kCarriageReturnCharacter;
}

} // namespace mendora
