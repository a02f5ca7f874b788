// Answering the region dialog on Linux, where the plug-in's dialogs are forms on the host's
// terminal: a pipe pre-filled with the keys a person would type, or the real terminal.
// In: the texts to type. Out: the terminal descriptors for the host's window data.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/mendora/dialog_answer.h"

namespace mendora::cli {

namespace {

// The descriptors handed out, closed by endRegionDialogAnswer.
int dialogInput = -1;
int dialogOutput = -1;

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
// and selects its text; Enter in a box presses OK, the default button.
std::string keystrokes(const DialogValues& typed) {
    std::string keys;
    for (size_t box = 0; box < typed.size(); box++) {
        if (typed[box])
            keys += *typed[box];
        if (box + 1 < typed.size())
            keys += '\t';
    }
    keys += '\r';
    return keys;
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

} // namespace

VlmrParentWindow prepareRegionDialogAnswer(const DialogValues& typed, bool interactive,
                                           std::string& error) {
    endRegionDialogAnswer();
    if (interactive) {
        // The person's own terminal, whatever the standard streams are redirected to.
        dialogInput = open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (dialogInput < 0)
            return failed("no terminal to show the dialog on (/dev/tty)", error);
        dialogOutput = dup(dialogInput);
        if (dialogOutput < 0)
            return failed("cannot use the terminal", error);
        return VlmrParentWindow{dialogInput, dialogOutput};
    }
    const std::string answer = keystrokes(typed);
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

void endRegionDialogAnswer() {
    closeDescriptor(dialogInput);
    closeDescriptor(dialogOutput);
}

bool aboutBoxCanShow() {
    return isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
}

VlmrParentWindow aboutBoxParent() {
    // The command's own terminal: its standard input and output.
    return VlmrParentWindow{STDIN_FILENO, STDOUT_FILENO};
}

} // namespace mendora::cli
