// The about box as a terminal form: the about text and the maker's two web addresses, each
// on a button that hands the address to the host.
// In: the host's terminal and suite access. Out: addresses passed to the host.
#include <string>

#include "resources/maker_texts.h"
#include "ui/about_suite.h"
#include "ui/dialog_rules.h"
#include "ui/form_terminal.h"
#include "ui/terminal_dialogs.h"

namespace mendora {

namespace {

// The text and the two address buttons below it. The template's OK and Cancel buttons are
// hidden and disabled, so the form has none; the dialog manager's default focus is the first
// address button.
Form aboutForm() {
    Form form;
    form.width = 54;
    form.height = 13;
    FormControl text;
    text.id = kAboutTextControl;
    text.text = kAboutText;
    text.row = 1;
    text.column = 3;
    text.width = 48;
    form.controls = {
        text,
        formButton(kAddress1Button, kAddress1, 11, 2),
        formButton(kAddress2Button, kAddress2, 11, 28),
    };
    return form;
}

void runOpenForm(const FormTerminal& terminal, const BasicSuiteAccess* access) {
    Form form = aboutForm();
    focusControl(form, controlIndex(form, kAddress1Button));
    for (;;) {
        drawForm(terminal, form);
        const KeyPress press = readFormKey(terminal);
        switch (press.key) {
        case FormKey::enter:
        case FormKey::escape:
            if (aboutBoxClosingKey(press.key == FormKey::enter ? kCarriageReturnCharacter
                                                               : kEscapeCharacter))
                return;
            break;
        case FormKey::endOfInput:
            return;
        case FormKey::tab:
        case FormKey::backTab:
            moveFocus(form, press.key == FormKey::tab);
            break;
        case FormKey::character:
            // A click on the focused address button; the box stays open.
            if (press.character == ' ')
                browseAboutAddress(access, form.controls[form.focus].text);
            break;
        default:
            break;
        }
    }
}

} // namespace

void runAboutForm(const VlmrParentWindow& terminal, const BasicSuiteAccess* access) {
    FormTerminal session;
    if (!openFormTerminal(terminal, session))
        return;
    try {
        runOpenForm(session, access);
    } catch (...) {
        closeFormTerminal(session);
        throw;
    }
    closeFormTerminal(session);
}

} // namespace mendora
