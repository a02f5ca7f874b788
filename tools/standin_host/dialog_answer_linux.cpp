// Answering the region dialog on Linux, where the plug-in's dialogs are forms on the host's
// terminal: a pipe pre-filled with the keys a person would type, or the real terminal.
// In: the texts to type. Out: the terminal descriptors for the host's window data.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

#include "tools/standin_host/dialog_answer.h"

namespace mendora::runner {

namespace {

// The descriptors handed out, closed by endRegionDialogAnswer.
int dialogInput = -1;
int dialogOutput = -1;

// The relay of --interactive with typed values: the dialog reads a pipe that holds the typed
// keys first and then whatever the person types on the terminal (in raw mode, set and
// restored here, since the dialog sees no terminal to set). Owned by regionDialogClosed.
std::thread relay;
int relayStop[2] = {-1, -1};
int relayTerminal = -1;
termios savedModes{};
bool restoreModes = false;

// The terminal an interactive dialog is drawn on, for restoreDialogTerminal: a descriptor of
// it (-1 while no dialog is open there) and its modes before the dialog.
volatile sig_atomic_t signalTerminal = -1;
termios signalModes{};

constexpr VlmrParentWindow kNoTerminal{-1, -1};

// The keys are written into the pipe before the plug-in reads them, so they must fit into
// the pipe's buffer (64 KiB on Linux, at least 4 KiB anywhere).
constexpr size_t kMaxKeystrokes = 4096;

void closeDescriptor(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The keys a person types to give the dialog these values: the dialog opens with box 3
// focused and its text selected, so a value typed replaces it; Tab moves on to the next box
// and selects its text.
std::string keystrokes(const DialogValues& typed) {
    std::string keys;
    for (size_t box = 0; box < typed.size(); box++) {
        if (typed[box])
            keys += *typed[box];
        if (box + 1 < typed.size())
            keys += '\t';
    }
    return keys;
}

bool anyTyped(const DialogValues& typed) {
    for (const auto& value : typed)
        if (value)
            return true;
    return false;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

VlmrParentWindow failed(const std::string& message, std::string& error) {
    error = message + ": " + std::strerror(errno);
    endRegionDialogAnswer();
    return kNoTerminal;
}

// The relay thread: copies the terminal's bytes to the dialog's pipe until told to stop
// (`stop` is closed at its other end) or either end fails; then closes the pipe.
void relayKeys(int terminal, int toDialog, int stop) {
    char buffer[256];
    for (;;) {
        pollfd ends[2] = {{terminal, POLLIN, 0}, {stop, POLLIN, 0}};
        if (poll(ends, 2, -1) < 0 && errno == EINTR)
            continue;
        if (ends[1].revents != 0 || (ends[0].revents & POLLIN) == 0)
            break;
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0 || !writeAll(toDialog, std::string(buffer, static_cast<size_t>(got))))
            break;
    }
    close(toDialog);
}

// Keys one at a time, unechoed and unchanged (Enter as a carriage return, Ctrl-C as a byte
// for the dialog), as the dialog reads its own terminal.
bool setRawModes(int terminal) {
    if (tcgetattr(terminal, &savedModes) != 0)
        return false;
    termios raw = savedModes;
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP | BRKINT);
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    restoreModes = tcsetattr(terminal, TCSANOW, &raw) == 0;
    return restoreModes;
}

// The dialog on the person's terminal with `keys` typed first: a pipe holding them, fed on
// with the terminal's keys by the relay thread.
VlmrParentWindow relayedTerminal(const std::string& keys, std::string& error) {
    int toDialog[2] = {-1, -1};
    if (pipe2(toDialog, O_CLOEXEC) != 0)
        return failed("cannot make a pipe for the dialog's keys", error);
    dialogInput = toDialog[0];
    const bool written = writeAll(toDialog[1], keys);
    if (!written || pipe2(relayStop, O_CLOEXEC) != 0 || !setRawModes(relayTerminal)) {
        close(toDialog[1]);
        return failed("cannot relay the terminal's keys to the dialog", error);
    }
    try {
        relay = std::thread(relayKeys, relayTerminal, toDialog[1], relayStop[0]);
    } catch (const std::exception&) {
        close(toDialog[1]);
        return failed("cannot start the thread that relays the terminal's keys", error);
    }
    return VlmrParentWindow{dialogInput, dialogOutput};
}

} // namespace

VlmrParentWindow prepareRegionDialogAnswer(const DialogValues& typed, bool interactive,
                                           std::string& error) {
    endRegionDialogAnswer();
    if (interactive) {
        // The person's own terminal, whatever the standard streams are redirected to.
        relayTerminal = open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (relayTerminal < 0)
            return failed("no terminal to show the dialog on (/dev/tty)", error);
        dialogOutput = dup(relayTerminal);
        if (dialogOutput < 0)
            return failed("cannot use the terminal", error);
        if (tcgetattr(dialogOutput, &signalModes) == 0)
            signalTerminal = dialogOutput;
        if (anyTyped(typed))
            return relayedTerminal(keystrokes(typed), error);
        std::swap(dialogInput, relayTerminal);
        return VlmrParentWindow{dialogInput, dialogOutput};
    }
    // Enter in a box presses OK, the default button.
    const std::string answer = keystrokes(typed) + '\r';
    if (answer.size() > kMaxKeystrokes) {
        error = "the values for the dialog are too long";
        return kNoTerminal;
    }
    int keys[2] = {-1, -1};
    if (pipe2(keys, O_CLOEXEC) != 0)
        return failed("cannot make a pipe for the dialog's keys", error);
    dialogInput = keys[0];
    // The keys fit in the pipe at once (a few dozen bytes); closing the writing end makes the
    // end of the keys the end of the input.
    const bool written = writeAll(keys[1], answer);
    close(keys[1]);
    if (!written)
        return failed("cannot type the dialog's keys", error);
    dialogOutput = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (dialogOutput < 0)
        return failed("cannot open /dev/null", error);
    return VlmrParentWindow{dialogInput, dialogOutput};
}

void regionDialogClosed() {
    signalTerminal = -1;
    // Closing the stop pipe's writing end wakes the relay, which then ends.
    closeDescriptor(relayStop[1]);
    if (relay.joinable())
        relay.join();
    if (restoreModes)
        tcsetattr(relayTerminal, TCSANOW, &savedModes);
    restoreModes = false;
    closeDescriptor(relayStop[0]);
    closeDescriptor(relayStop[1]);
    closeDescriptor(relayTerminal);
}

void endRegionDialogAnswer() {
    regionDialogClosed();
    closeDescriptor(dialogInput);
    closeDescriptor(dialogOutput);
}

void restoreDialogTerminal() {
    const int terminal = signalTerminal;
    if (terminal < 0)
        return;
    // The form's own ending: plain colours, the cursor shown, the normal screen back.
    static const char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
    [[maybe_unused]] const ssize_t written = write(terminal, kLeave, sizeof kLeave - 1);
    tcsetattr(terminal, TCSANOW, &signalModes);
}

bool aboutBoxCanShow() {
    return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
}

VlmrParentWindow aboutBoxParent() {
    // The command's own terminal: its standard input and output.
    return VlmrParentWindow{STDIN_FILENO, STDOUT_FILENO};
}

} // namespace mendora::runner
