// The about box as a terminal form: the about text and the maker's two web addresses, each
// on a button that hands the address to the host.
// In: the host's terminal and suite access. Out: addresses passed to the host.
#include <cstdlib>
#include <string>

#include "resources/maker_texts.h"
#include "ui/dialog_rules.h"
#include "ui/form_terminal.h"
#include "ui/terminal_dialogs.h"

namespace mendora {

namespace {

constexpr int32_t kAboutTextControl = 3;
constexpr int32_t kFirstAddressButton = 4;
constexpr int32_t kSecondAddressButton = 5;

// The characters of the keys that close the box.
constexpr int32_t kCarriageReturn = 13;
constexpr int32_t kEscapeKey = 27;

// The file-list suite, once acquired, and the access through which it is released.
const BasicSuiteAccess* suiteOwner = nullptr;
const FileListSuite4* fileListSuite = nullptr;
// True once the release at unload is arranged.
bool releaseArranged = false;

// Gives the suite back. Runs when the library is unloaded: an exit handler registered from
// inside a loaded library belongs to that library and runs when it is unloaded (or when the
// process ends, if that comes first).
void releaseFileListSuite() {
    if (fileListSuite != nullptr && suiteOwner->releaseSuite != nullptr)
        suiteOwner->releaseSuite(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION);
    fileListSuite = nullptr;
    suiteOwner = nullptr;
}

// The suite, acquired through `access` when it is not held yet. Null when the host offers no
// suite access or no such suite; a later click asks again.
const FileListSuite4* heldFileListSuite(const BasicSuiteAccess* access) {
    if (fileListSuite != nullptr)
        return fileListSuite;
    if (access == nullptr)
        return nullptr;
    if (access->acquireSuite == nullptr)
        return nullptr;
    const void* suite = nullptr;
    if (access->acquireSuite(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION, &suite) != 0)
        return nullptr;
    if (suite == nullptr) {
        // Acquired, yet nothing to use: given back at once.
        if (access->releaseSuite != nullptr)
            access->releaseSuite(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION);
        return nullptr;
    }
    fileListSuite = static_cast<const FileListSuite4*>(suite);
    suiteOwner = access;
    if (!releaseArranged)
        releaseArranged = std::atexit(releaseFileListSuite) == 0;
    return fileListSuite;
}

// A click on an address button: "http://" and the button's text go to the host's file-list
// suite. Nothing happens without the suite.
void clickAddress(const BasicSuiteAccess* access, const std::string& buttonText) {
    const FileListSuite4* suite = heldFileListSuite(access);
    if (suite == nullptr)
        return;
    if (suite->browseUrl != nullptr) {
        const std::string address = aboutAddress(buttonText);
        suite->browseUrl(address.c_str());
    }
    // Without a release at unload the host would keep the suite for a library that is gone;
    // then it is given back after each click instead.
    if (!releaseArranged)
        releaseFileListSuite();
}

FormControl addressButton(int32_t id, const char* address, int32_t row, int32_t column) {
    FormControl control;
    control.kind = ControlKind::button;
    control.id = id;
    control.text = address;
    control.row = row;
    control.column = column;
    control.tabStop = true;
    return control;
}

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
        addressButton(kFirstAddressButton, kAddress1, 11, 2),
        addressButton(kSecondAddressButton, kAddress2, 11, 28),
    };
    return form;
}

void runOpenForm(const FormTerminal& terminal, const BasicSuiteAccess* access) {
    Form form = aboutForm();
    focusControl(form, controlIndex(form, kFirstAddressButton));
    for (;;) {
        drawForm(terminal, form);
        const KeyPress press = readFormKey(terminal);
        switch (press.key) {
        case FormKey::enter:
        case FormKey::escape:
            if (aboutBoxClosingKey(press.key == FormKey::enter ? kCarriageReturn : kEscapeKey))
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
                clickAddress(access, form.controls[form.focus].text);
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
