// The region dialog as a terminal form: the source rectangle's corners and the patch radius
// in five edit boxes, each edit stored in the parameter block at once.
// In: the block and the host's terminal. Out: the edited block and the dialog's end value.
#include <string>

#include "ui/dialog_rules.h"
#include "ui/form_terminal.h"
#include "ui/terminal_dialogs.h"

namespace mendora {

namespace {

// Both buttons alike, as wide as "[ Cancel ]".
constexpr int32_t kButtonWidth = 10;

FormControl box(int32_t id, int32_t row, int32_t column) {
    FormControl control;
    control.kind = ControlKind::edit;
    control.id = id;
    control.row = row;
    control.column = column;
    control.width = 6;
    control.tabStop = true;
    return control;
}

FormControl label(const char* text, int32_t row, int32_t column) {
    FormControl control;
    control.text = text;
    control.row = row;
    control.column = column;
    control.width = static_cast<int32_t>(control.text.size());
    return control;
}

// The dialog's controls in template order, which is also the tab order: the buttons come
// first, then the four corner boxes, the texts, the radius box and its text. Laid out as the
// dialog reads: the hint on top, "Start point:" and "End point:" with their x and y boxes,
// "coefficient:" with the radius box, OK and Cancel in a column on the right.
Form regionForm() {
    Form form;
    form.title = "Mendora";
    form.width = 58;
    form.height = 9;
    form.controls = {
        formButton(kRegionOkButton, "&OK", 1, 47, kButtonWidth, true),
        formButton(kRegionCancelButton, "&Cancel", 3, 47, kButtonWidth),
        box(3, 3, 20),
        box(4, 3, 29),
        box(5, 5, 20),
        box(6, 5, 29),
        label("Start point:", 3, 6),
        label("End point:", 5, 8),
        label("If you don't know what is this, just click OK", 1, 1),
        box(7, 7, 24),
        label("coefficient:", 7, 10),
    };
    return form;
}

// Stores a box's text in its field, as the edit-change notification of the box does.
void storeBox(FillParameters& block, const FormControl& control) {
    applyRegionCommand(block, control.id, kEditChanged, control.text);
}

// The command a key gives, or 0 for keys that give none.
int32_t commandOfKey(const Form& form, const KeyPress& press) {
    const FormControl& focused = form.controls[form.focus];
    switch (press.key) {
    case FormKey::enter:
        // The default button, unless another button has the focus: Enter presses that one.
        return focused.kind == ControlKind::button ? focused.id : kRegionOkButton;
    case FormKey::character:
        return press.character == ' ' && focused.kind == ControlKind::button ? focused.id : 0;
    case FormKey::escape:
    case FormKey::endOfInput:
        return kRegionCancelButton;
    case FormKey::accessKey:
        for (const FormControl& control : form.controls)
            if (control.kind == ControlKind::button && accessKeyOf(control.text) == press.character)
                return control.id;
        return 0;
    default:
        return 0;
    }
}

int32_t runOpenForm(FillParameters& block, const FormTerminal& terminal) {
    Form form = regionForm();
    // Opening: each field shown in its box, as its signed decimal form. Showing a value
    // raises the box's edit-change, which reads the value back: the block stays as it was.
    for (int32_t id = kSourceLeftBox; id <= kPatchRadiusBox; id++) {
        FormControl& control = form.controls[controlIndex(form, id)];
        control.text = fieldText(*fieldOfBox(block, id));
        storeBox(block, control);
    }
    focusControl(form, controlIndex(form, kSourceLeftBox));

    for (;;) {
        drawForm(terminal, form);
        const KeyPress press = readFormKey(terminal);
        if (press.key == FormKey::tab || press.key == FormKey::backTab) {
            moveFocus(form, press.key == FormKey::tab);
            continue;
        }
        const int32_t command = commandOfKey(form, press);
        if (command != 0) {
            const RegionCommandOutcome outcome = applyRegionCommand(block, command, 0, "");
            if (outcome.endsDialog)
                return outcome.endValue;
            continue;
        }
        FormControl& focused = form.controls[form.focus];
        if (focused.kind == ControlKind::edit && applyEditKey(focused, press))
            storeBox(block, focused);
    }
}

} // namespace

int32_t runRegionForm(FillParameters& block, const VlmrParentWindow& terminal) {
    FormTerminal session;
    if (!openFormTerminal(terminal, session))
        return kDialogFailed;
    int32_t endValue = kDialogFailed;
    try {
        endValue = runOpenForm(block, session);
    } catch (...) {
        // The terminal is given back as it was on every way out.
        closeFormTerminal(session);
        throw;
    }
    closeFormTerminal(session);
    return endValue;
}

} // namespace mendora
