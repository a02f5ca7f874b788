// Modal forms on a terminal: the Linux toolkit of the plug-in's dialogs. A form is a framed
// panel of labels, push buttons and one-line edit boxes, drawn with plain ANSI sequences on
// the terminal's output descriptor and driven by keys read from its input descriptor. What a
// key does to the dialog's data is left to the dialog that runs the form (the shared dialog
// rules); this file only draws, reads keys and edits box texts.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sdk/vellumar_plugin.h"

namespace mendora {

// A key as a form sees it.
enum class FormKey {
    character, // a printable character (in KeyPress::character)
    backspace,
    deleteKey,
    left,
    right,
    home,
    end,
    tab,
    backTab, // Shift-Tab
    enter,
    escape,     // a lone Escape, or Ctrl-C
    accessKey,  // Alt with a letter (the letter, lower case, in KeyPress::character)
    endOfInput, // the input ended or cannot be read
    ignored     // anything else (arrows up and down, function keys, control characters)
};

struct KeyPress {
    FormKey key = FormKey::ignored;
    char character = 0;
};

enum class ControlKind { label, button, edit };

// The id of a control that commands nothing (a label).
constexpr int32_t kUnnamedControl = -1;

// One control. Positions count cells inside the frame from its top-left corner.
struct FormControl {
    ControlKind kind = ControlKind::label;
    int32_t id = kUnnamedControl;
    // Label: its text, wrapped at `width` cells and at line feeds. Button: its caption, where
    // '&' marks the access key that follows it. Edit box: the text in the box.
    std::string text;
    int32_t row = 0;
    int32_t column = 0;
    // Label: the wrapping width. Edit box: the cells of text it shows between its brackets
    // (longer texts scroll). Button: its cells, brackets included, the caption centred (0: as
    // wide as its caption).
    int32_t width = 0;
    bool tabStop = false;
    bool defaultButton = false;
    // Edit box: the caret (0 to text size) and whether the whole text is selected.
    size_t caret = 0;
    bool allSelected = false;
};

// A push button with a tab stop at (row, column), as wide as `width` cells (0: its caption).
FormControl formButton(int32_t id, std::string caption, int32_t row, int32_t column,
                       int32_t width = 0, bool isDefault = false);

// A form: its frame title, the cells inside the frame, its controls in template order (which
// is also the tab order) and the index of the control with the focus.
struct Form {
    std::string title;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<FormControl> controls;
    size_t focus = 0;
};

// A terminal while a form is open on it.
struct FormTerminal {
    int input = -1;
    int output = -1;
    // The input's terminal modes before the form put it into raw mode (only when it is a
    // terminal; a pipe is read as it is).
    bool restoreModes = false;
    termios savedModes{};
};

// Opens a form session on `window`: checks both descriptors, puts a terminal input into raw
// mode (no echo, no line editing, no signal keys) and switches the output to the alternate
// screen. Returns false, with nothing changed, when either descriptor is negative or not open:
// the form cannot be created then.
bool openFormTerminal(const VlmrParentWindow& window, FormTerminal& terminal);

// Ends a session: leaves the alternate screen, shows the cursor and restores the input's
// terminal modes. Safe to call for a session that failed to open, and twice.
void closeFormTerminal(FormTerminal& terminal);

// Reads the next key. A lone Escape is told from an escape sequence by waiting briefly for
// the rest of the sequence. Failed reads and the end of the input give endOfInput.
KeyPress readFormKey(const FormTerminal& terminal);

// Draws the whole form: the frame centred horizontally and a third of the way down the
// terminal (80 x 24 when the output is no terminal), the controls, the focus shown in reverse
// video and a selected box text likewise, and the terminal's cursor at the caret of a focused
// edit box. Write errors are ignored (a form on a terminal that went away ends at the end of
// its input).
void drawForm(const FormTerminal& terminal, const Form& form);

// The index of the control with `id`, or the number of controls when there is none.
size_t controlIndex(const Form& form, int32_t id);

// Gives the focus to control `index`; an edit box entered this way has its whole text
// selected, as the dialog manager selects it when the focus arrives by Tab.
void focusControl(Form& form, size_t index);

// Moves the focus to the next (forward) or previous tab stop in template order, wrapping
// around.
void moveFocus(Form& form, bool forward);

// Applies an editing key to an edit box: a printable character replaces the selected text or
// is inserted at the caret; Backspace and Delete remove the selection or one character;
// Left, Right, Home and End move the caret and drop the selection. Returns true when the
// box's text changed. Other keys change nothing.
bool applyEditKey(FormControl& box, const KeyPress& press);

// The access key of a button caption ("&OK" gives 'o'), lower case; 0 when it has none.
char accessKeyOf(const std::string& caption);

} // namespace mendora
