// Terminal forms: raw key input, ANSI drawing and edit-box editing for the Linux dialogs.
// In: the host's terminal descriptors and keys typed on them. Out: drawings on the terminal.
#include "ui/form_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>

namespace mendora {

namespace {

// How long the rest of an escape sequence may take to arrive after its Escape byte. Keys
// typed by a person arrive as one burst; a lone Escape waits this long before it counts.
constexpr int kEscapeSequenceWaitMs = 60;

// An edit box holds at most this many characters; further typing is ignored, so that endless
// input cannot grow a box without bound.
constexpr size_t kMaxBoxText = 255;

// The size assumed for an output that is no terminal.
constexpr int32_t kDefaultRows = 24;
constexpr int32_t kDefaultColumns = 80;

constexpr char kEscape = 0x1b;

bool descriptorOpen(int fd) {
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

// Writes all of `text`, retrying after interruptions. A reader that went away must not kill
// the host with SIGPIPE: the signal is blocked for the write and a pending one is consumed.
void writeAll(int fd, const std::string& text) {
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    const bool masked = pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous) == 0;
    bool brokenPipe = false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        brokenPipe = written < 0 && errno == EPIPE;
        break;
    }
    if (masked) {
        if (brokenPipe && !sigismember(&previous, SIGPIPE)) {
            const timespec noWait{0, 0};
            sigtimedwait(&pipeSignal, nullptr, &noWait);
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
}

// Waits up to `milliseconds` for input (or its end). True when a read will not block.
bool inputArrives(int fd, int milliseconds) {
    pollfd request{fd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&request, 1, milliseconds);
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return true; // the read that follows reports the failure
    }
}

// Reads one byte. False at the end of the input or on a failed read.
bool readByte(int fd, char& byte) {
    for (;;) {
        const ssize_t got = read(fd, &byte, 1);
        if (got == 1)
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        return false;
    }
}

// Reads one more byte of an escape sequence, if it comes in time.
bool readSequenceByte(int fd, char& byte) {
    return inputArrives(fd, kEscapeSequenceWaitMs) && readByte(fd, byte);
}

// The final letter of a cursor-key sequence, the same after "ESC [" and "ESC O".
KeyPress cursorKey(char letter) {
    switch (letter) {
    case 'C':
        return {FormKey::right};
    case 'D':
        return {FormKey::left};
    case 'H':
        return {FormKey::home};
    case 'F':
        return {FormKey::end};
    default:
        return {FormKey::ignored};
    }
}

// The rest of a control sequence after "Escape [": parameter bytes, then a final byte.
KeyPress readControlSequence(int fd) {
    std::string parameters;
    char byte = 0;
    while (readSequenceByte(fd, byte)) {
        const unsigned char code = static_cast<unsigned char>(byte);
        if (code >= 0x20 && code <= 0x3f) {
            if (parameters.size() < 16)
                parameters.push_back(byte);
            continue;
        }
        switch (byte) {
        case 'Z':
            return {FormKey::backTab};
        case '~':
            if (parameters == "1" || parameters == "7")
                return {FormKey::home};
            if (parameters == "4" || parameters == "8")
                return {FormKey::end};
            if (parameters == "3")
                return {FormKey::deleteKey};
            return {FormKey::ignored};
        default:
            return cursorKey(byte);
        }
    }
    return {FormKey::ignored};
}

// What follows an Escape byte: nothing (a lone Escape), a control sequence, a keypad
// sequence, or a letter typed with Alt.
KeyPress readAfterEscape(int fd) {
    char byte = 0;
    if (!readSequenceByte(fd, byte))
        return {FormKey::escape};
    if (byte == '[')
        return readControlSequence(fd);
    if (byte == 'O') {
        // A keypad sequence, or Alt with a capital O when nothing follows in time.
        if (!readSequenceByte(fd, byte))
            return {FormKey::accessKey, 'o'};
        return cursorKey(byte);
    }
    if (byte == kEscape)
        return {FormKey::escape};
    if (std::isalpha(static_cast<unsigned char>(byte)))
        return {FormKey::accessKey,
                static_cast<char>(std::tolower(static_cast<unsigned char>(byte)))};
    return {FormKey::ignored};
}

// ---- Drawing ----------------------------------------------------------------------------------

void moveTo(std::string& out, int32_t row, int32_t column) {
    out += "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

// A label's text broken into lines of at most `width` cells: at line feeds, between words,
// and inside words longer than a line.
std::vector<std::string> wrapText(const std::string& text, int32_t width) {
    const size_t limit = static_cast<size_t>(std::max<int32_t>(width, 1));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos)
            stop = text.size();
        std::string paragraph = text.substr(start, stop - start);
        do {
            if (paragraph.size() <= limit) {
                lines.push_back(paragraph);
                break;
            }
            size_t cut = paragraph.rfind(' ', limit);
            const bool atSpace = cut != std::string::npos && cut > 0;
            if (!atSpace)
                cut = limit;
            lines.push_back(paragraph.substr(0, cut));
            paragraph.erase(0, atSpace ? cut + 1 : cut);
        } while (!paragraph.empty());
        start = stop + 1;
    }
    return lines;
}

// A button: its caption in brackets, the access key underlined, the default button's
// caption bold, the whole button in reverse video while it has the focus.
void drawButton(std::string& out, const FormControl& button, bool focused) {
    size_t shown = 0;
    for (size_t i = 0; i < button.text.size(); i++, shown++)
        if (button.text[i] == '&' && i + 1 < button.text.size())
            i++;
    // A button of a given width centres its caption between the brackets.
    const size_t inside = button.width > 4 ? static_cast<size_t>(button.width) - 4 : 0;
    const size_t padding = inside > shown ? inside - shown : 0;
    if (focused)
        out += "\x1b[7m";
    out += "[ " + std::string(padding / 2, ' ');
    if (button.defaultButton)
        out += "\x1b[1m";
    for (size_t i = 0; i < button.text.size(); i++) {
        if (button.text[i] == '&' && i + 1 < button.text.size() && button.text[i + 1] != '&') {
            out += "\x1b[4m";
            out += button.text[++i];
            out += "\x1b[24m";
            continue;
        }
        out += button.text[i];
    }
    if (button.defaultButton)
        out += "\x1b[22m";
    out += std::string(padding - padding / 2, ' ') + " ]\x1b[0m";
}

// The first character of an edit box's text that is shown: the text scrolls so that the
// caret stays inside the box.
size_t firstShown(const FormControl& box) {
    const size_t cells = static_cast<size_t>(std::max<int32_t>(box.width, 1));
    return box.caret >= cells ? box.caret - cells + 1 : 0;
}

void drawEdit(std::string& out, const FormControl& box, bool focused) {
    const size_t cells = static_cast<size_t>(std::max<int32_t>(box.width, 1));
    const size_t first = firstShown(box);
    std::string shown = box.text.substr(std::min(first, box.text.size()), cells);
    const size_t padding = cells - shown.size();
    out += "[";
    if (focused && box.allSelected && !shown.empty())
        out += "\x1b[7m" + shown + "\x1b[27m";
    else
        out += shown;
    out += std::string(padding, ' ') + "]";
}

void terminalSize(int fd, int32_t& rows, int32_t& columns) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        rows = size.ws_row;
        columns = size.ws_col;
        return;
    }
    rows = kDefaultRows;
    columns = kDefaultColumns;
}

std::string renderForm(const Form& form, int32_t rows, int32_t columns) {
    const int32_t outerWidth = form.width + 2;
    const int32_t outerHeight = form.height + 2;
    // Like a dialog over its owner: centred across, a third of the way down, never off the
    // top or left edge. Terminal rows and columns count from 1.
    const int32_t top = std::max(0, rows - outerHeight) / 3 + 1;
    const int32_t left = std::max(0, columns - outerWidth) / 2 + 1;

    std::string out = "\x1b[?25l\x1b[0m\x1b[2J";
    std::string border = form.title.empty() ? std::string() : "- " + form.title + " ";
    border.resize(static_cast<size_t>(std::max(form.width, 0)), '-');
    moveTo(out, top, left);
    out += "+" + border + "+";
    for (int32_t r = 0; r < form.height; r++) {
        moveTo(out, top + 1 + r, left);
        out += "|" + std::string(static_cast<size_t>(std::max(form.width, 0)), ' ') + "|";
    }
    moveTo(out, top + 1 + form.height, left);
    out += "+" + std::string(static_cast<size_t>(std::max(form.width, 0)), '-') + "+";

    for (size_t i = 0; i < form.controls.size(); i++) {
        const FormControl& control = form.controls[i];
        const bool focused = i == form.focus;
        const int32_t row = top + 1 + control.row;
        const int32_t column = left + 1 + control.column;
        switch (control.kind) {
        case ControlKind::label: {
            const std::vector<std::string> lines = wrapText(control.text, control.width);
            for (size_t line = 0; line < lines.size(); line++) {
                moveTo(out, row + static_cast<int32_t>(line), column);
                out += lines[line];
            }
            break;
        }
        case ControlKind::button:
            moveTo(out, row, column);
            drawButton(out, control, focused);
            break;
        case ControlKind::edit:
            moveTo(out, row, column);
            drawEdit(out, control, focused);
            break;
        }
    }

    if (form.focus < form.controls.size() && form.controls[form.focus].kind == ControlKind::edit) {
        const FormControl& box = form.controls[form.focus];
        const size_t caretCell = box.caret - firstShown(box);
        moveTo(out, top + 1 + box.row, left + 2 + box.column + static_cast<int32_t>(caretCell));
        out += "\x1b[?25h";
    }
    return out;
}

} // namespace

bool openFormTerminal(const VlmrParentWindow& window, FormTerminal& terminal) {
    terminal = FormTerminal{};
    if (!descriptorOpen(window.input))
        return false;
    if (!descriptorOpen(window.output))
        return false;
    terminal.input = window.input;
    terminal.output = window.output;
    if (isatty(terminal.input) && tcgetattr(terminal.input, &terminal.savedModes) == 0) {
        termios raw = terminal.savedModes;
        raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | BRKINT);
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        // Keys typed ahead of the form stay: the form reads them as typed.
        terminal.restoreModes = tcsetattr(terminal.input, TCSANOW, &raw) == 0;
    }
    writeAll(terminal.output, "\x1b[?1049h");
    return true;
}

void closeFormTerminal(FormTerminal& terminal) {
    if (terminal.output >= 0)
        writeAll(terminal.output, "\x1b[0m\x1b[?25h\x1b[?1049l");
    if (terminal.restoreModes)
        tcsetattr(terminal.input, TCSANOW, &terminal.savedModes);
    terminal = FormTerminal{};
}

KeyPress readFormKey(const FormTerminal& terminal) {
    char byte = 0;
    if (!readByte(terminal.input, byte))
        return {FormKey::endOfInput};
    switch (byte) {
    case kEscape:
        return readAfterEscape(terminal.input);
    case '\r':
    case '\n':
        return {FormKey::enter};
    case '\t':
        return {FormKey::tab};
    case 0x7f:
    case 0x08:
        return {FormKey::backspace};
    case 0x03: // Ctrl-C: the signal keys are off while a form is open
        return {FormKey::escape};
    default:
        break;
    }
    const unsigned char code = static_cast<unsigned char>(byte);
    if (code >= 0x20 && code < 0x7f)
        return {FormKey::character, byte};
    return {FormKey::ignored};
}

void drawForm(const FormTerminal& terminal, const Form& form) {
    int32_t rows = 0;
    int32_t columns = 0;
    terminalSize(terminal.output, rows, columns);
    writeAll(terminal.output, renderForm(form, rows, columns));
}

size_t controlIndex(const Form& form, int32_t id) {
    for (size_t i = 0; i < form.controls.size(); i++)
        if (form.controls[i].id == id)
            return i;
    return form.controls.size();
}

void focusControl(Form& form, size_t index) {
    if (index >= form.controls.size())
        return;
    form.focus = index;
    FormControl& control = form.controls[index];
    if (control.kind == ControlKind::edit) {
        control.allSelected = true;
        control.caret = control.text.size();
    }
}

void moveFocus(Form& form, bool forward) {
    const size_t count = form.controls.size();
    if (count == 0)
        return;
    size_t index = form.focus < count ? form.focus : 0;
    for (size_t step = 0; step < count; step++) {
        index = forward ? (index + 1) % count : (index + count - 1) % count;
        if (form.controls[index].tabStop) {
            focusControl(form, index);
            return;
        }
    }
}

bool applyEditKey(FormControl& box, const KeyPress& press) {
    std::string& text = box.text;
    box.caret = std::min(box.caret, text.size());
    const bool selection = box.allSelected && !text.empty();
    switch (press.key) {
    case FormKey::character:
        if (selection) {
            text.clear();
            box.caret = 0;
        }
        box.allSelected = false;
        if (text.size() >= kMaxBoxText)
            return selection;
        text.insert(box.caret, 1, press.character);
        box.caret++;
        return true;
    case FormKey::backspace:
    case FormKey::deleteKey:
        box.allSelected = false;
        if (selection) {
            text.clear();
            box.caret = 0;
            return true;
        }
        if (press.key == FormKey::backspace && box.caret > 0) {
            text.erase(--box.caret, 1);
            return true;
        }
        if (press.key == FormKey::deleteKey && box.caret < text.size()) {
            text.erase(box.caret, 1);
            return true;
        }
        return false;
    case FormKey::left:
        box.caret = selection ? 0 : (box.caret > 0 ? box.caret - 1 : 0);
        box.allSelected = false;
        return false;
    case FormKey::right:
        box.caret = selection ? text.size() : std::min(box.caret + 1, text.size());
        box.allSelected = false;
        return false;
    case FormKey::home:
        box.caret = 0;
        box.allSelected = false;
        return false;
    case FormKey::end:
        box.caret = text.size();
        box.allSelected = false;
        return false;
    default:
        return false;
    }
}

char accessKeyOf(const std::string& caption) {
    for (size_t i = 0; i + 1 < caption.size(); i++) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            i++; // "&&" is a literal ampersand
            continue;
        }
        return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
    }
    return 0;
}

FormControl formButton(int32_t id, std::string caption, int32_t row, int32_t column, int32_t width,
                       bool isDefault) {
    FormControl control;
    control.kind = ControlKind::button;
    control.id = id;
    control.text = std::move(caption);
    control.row = row;
    control.column = column;
    control.width = width;
    control.tabStop = true;
    control.defaultButton = isDefault;
    return control;
}

} // namespace mendora
