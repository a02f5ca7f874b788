// The region dialog and the about box as terminal forms, driven through pipes (keys typed
// ahead, then the end of the input) and through a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "resources/maker_texts.h"
#include "ui/dialog_rules.h"
#include "ui/terminal_dialogs.h"

namespace mendora {
namespace {

const char kEscape[] = "\x1b";
const char kShiftTab[] = "\x1b[Z";

bool sameBlock(const FillParameters& a, const FillParameters& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A terminal made of a pipe holding `keys` (then its end) and a file that takes the drawing.
struct PipeTerminal {
    int keys[2] = {-1, -1};
    FILE* screen = nullptr;

    explicit PipeTerminal(const std::string& typed) {
        EXPECT_EQ(pipe(keys), 0);
        EXPECT_EQ(write(keys[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        close(keys[1]);
        screen = std::tmpfile();
    }
    ~PipeTerminal() {
        close(keys[0]);
        std::fclose(screen);
    }
    VlmrParentWindow window() const { return VlmrParentWindow{keys[0], fileno(screen)}; }
    std::string drawing() const {
        std::string text;
        std::rewind(screen);
        for (int c; (c = std::fgetc(screen)) != EOF;)
            text.push_back(static_cast<char>(c));
        return text;
    }
};

// The drawing without its control sequences (cursor moves, colours, underlines).
std::string visibleText(const std::string& drawing) {
    std::string text;
    for (size_t i = 0; i < drawing.size(); i++) {
        if (drawing[i] != '\x1b') {
            text.push_back(drawing[i]);
            continue;
        }
        if (i + 1 < drawing.size() && drawing[i + 1] == '[')
            for (i += 2; i < drawing.size() && !(drawing[i] >= 0x40 && drawing[i] <= 0x7e);)
                i++;
    }
    return text;
}

int32_t runRegion(FillParameters& block, const std::string& keys, std::string* drawing = nullptr) {
    PipeTerminal terminal(keys);
    const int32_t end = runRegionForm(block, terminal.window());
    if (drawing != nullptr)
        *drawing = terminal.drawing();
    return end;
}

constexpr FillParameters kStored{1, 2, 60, 40, 3};

TEST(RegionForm, OpensWithBoxThreeFocusedAndItsTextSelected) {
    FillParameters block = kStored;
    std::string drawing;
    // Nothing typed: the input ends, which cancels; the opening changed nothing.
    EXPECT_EQ(runRegion(block, "", &drawing), kRegionCancelButton);
    EXPECT_TRUE(sameBlock(block, kStored));
    drawing = visibleText(drawing);
    for (const char* text :
         {"Mendora", "If you don't know what is this, just click OK",
          "Start point:", "End point:", "coefficient:", "[   OK   ]", "[ Cancel ]", "[60    ]"})
        EXPECT_NE(drawing.find(text), std::string::npos) << text;

    // The first key replaces box 3's whole text.
    block = kStored;
    EXPECT_EQ(runRegion(block, "97\r"), kRegionOkButton);
    EXPECT_TRUE(sameBlock(block, FillParameters{97, 2, 60, 40, 3}));
}

TEST(RegionForm, TabAndShiftTabFollowTheTemplateOrder) {
    // From box 3, k Tabs reach: box 3, 4, 5, 6, 7, OK, Cancel, and box 3 again. A digit typed
    // there lands in that box's field (a button takes none); Escape then ends the dialog.
    const FillParameters expected[] = {{5, 2, 60, 40, 3}, {1, 5, 60, 40, 3}, {1, 2, 5, 40, 3},
                                       {1, 2, 60, 5, 3},  {1, 2, 60, 40, 5}, kStored,
                                       kStored,           {5, 2, 60, 40, 3}};
    for (int tabs = 0; tabs < 8; tabs++) {
        FillParameters block = kStored;
        EXPECT_EQ(runRegion(block, std::string(tabs, '\t') + "5" + kEscape), kRegionCancelButton);
        EXPECT_TRUE(sameBlock(block, expected[tabs])) << tabs << " tabs";
    }
    // Shift-Tab goes backwards: Cancel, OK, box 7.
    FillParameters block = kStored;
    EXPECT_EQ(runRegion(block, std::string(kShiftTab) + kShiftTab + kShiftTab + "8\r"),
              kRegionOkButton);
    EXPECT_TRUE(sameBlock(block, FillParameters{1, 2, 60, 40, 8}));
}

TEST(RegionForm, EveryKeystrokeIsStoredByTheSharedRules) {
    FillParameters block = kStored;
    // 70000 keeps its low 16 bits, "12a" and an emptied box read 0, -5 stays; the dialog is
    // canceled and the block still holds the edits (restoring it is the host module's part).
    EXPECT_EQ(runRegion(block, std::string("70000\t12a\t-5\t\x7f\t7") + kEscape),
              kRegionCancelButton);
    EXPECT_TRUE(sameBlock(block, FillParameters{4464, 0, -5, 0, 7}));

    // The input ends while the caret is still in box 3: the keys typed are stored already.
    block = kStored;
    EXPECT_EQ(runRegion(block, "42"), kRegionCancelButton);
    EXPECT_EQ(block.sourceLeft, 42);
}

TEST(RegionForm, EditingKeysMoveTheCaretAndDelete) {
    FillParameters block = kStored;
    // Box 3: "5", Home, "1", End, "0" gives 150; Left, Left, Delete removes the 5.
    // Box 4: Right drops the selection, so "3" is appended to "2"; Backspace at the caret.
    const std::string keys =
        std::string("5\x1b[H") + "1\x1b[F" + "0\x1b[D\x1b[D\x1b[3~" + "\t\x1b[C" + "39\x7f\r";
    EXPECT_EQ(runRegion(block, keys), kRegionOkButton);
    EXPECT_EQ(block.sourceLeft, 10);
    EXPECT_EQ(block.sourceTop, 23);
}

TEST(RegionForm, KeysThatEndTheDialog) {
    const struct {
        const char* keys;
        int32_t end;
    } cases[] = {
        {"\r", kRegionOkButton},                 // Enter in a box: the default button
        {"\n", kRegionOkButton},                 // a line feed from a pipe is Enter too
        {"\t\t\t\t\t\r", kRegionOkButton},       // Enter on OK
        {"\t\t\t\t\t\t\r", kRegionCancelButton}, // Enter on Cancel presses Cancel
        {"\t\t\t\t\t ", kRegionOkButton},        // Space presses the focused button
        {"\t\t\t\t\t\t ", kRegionCancelButton},
        {"\x1bo", kRegionOkButton}, // Alt+O, Alt+C: the access keys of "&OK" and "&Cancel"
        {"\x1bO", kRegionOkButton},
        {"\x1b"
         "C",
         kRegionCancelButton},
        {"\x1b", kRegionCancelButton},       // Escape
        {"\x03", kRegionCancelButton},       // Ctrl-C
        {"1 2", kRegionCancelButton},        // a space in a box is text; the input's end cancels
        {"\x1b[A\x1b[B\r", kRegionOkButton}, // arrows up and down do nothing
    };
    for (const auto& c : cases) {
        FillParameters block = kStored;
        EXPECT_EQ(runRegion(block, c.keys), c.end) << "keys: " << c.keys;
    }
}

TEST(RegionForm, WithoutATerminalTheDialogCannotBeCreated) {
    FillParameters block = kStored;
    EXPECT_EQ(runRegionForm(block, VlmrParentWindow{-1, -1}), kDialogFailed);
    int unused[2];
    ASSERT_EQ(pipe(unused), 0);
    close(unused[0]);
    close(unused[1]);
    // Descriptor numbers that are not open.
    EXPECT_EQ(runRegionForm(block, VlmrParentWindow{unused[0], unused[1]}), kDialogFailed);
    EXPECT_TRUE(sameBlock(block, kStored));
}

// Reads the pseudo-terminal's master side until `text` has appeared or the form has ended.
bool readUntil(int master, std::string& seen, const std::string& text) {
    char buffer[4096];
    while (seen.find(text) == std::string::npos) {
        pollfd request{master, POLLIN, 0};
        // A guard against a form that hangs, not a measurement.
        if (poll(&request, 1, 10000) <= 0)
            return false;
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        seen.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

TEST(RegionForm, RunsInRawModeOnATerminalAndRestoresIt) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);

    FillParameters block = kStored;
    int32_t end = 0;
    std::thread form([&] { end = runRegionForm(block, VlmrParentWindow{slave, slave}); });
    std::string seen;
    const bool drawn = readUntil(master, seen, "coefficient:");
    termios during{};
    tcgetattr(slave, &during);
    // Enter as a terminal sends it: a carriage return, which raw mode leaves as it is.
    const char keys[] = "3\t4\r";
    EXPECT_EQ(write(master, keys, sizeof keys - 1), static_cast<ssize_t>(sizeof keys - 1));
    readUntil(master, seen, "\x1b[?1049l"); // the form leaves the alternate screen
    form.join();

    EXPECT_TRUE(drawn);
    EXPECT_FALSE(during.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(end, kRegionOkButton);
    EXPECT_EQ(block.sourceLeft, 3);
    EXPECT_EQ(block.sourceTop, 4);
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(std::memcmp(after.c_cc, before.c_cc, sizeof after.c_cc), 0);
    close(slave);
    close(master);
}

// ---- About box --------------------------------------------------------------------------------

std::vector<std::string> opened;
int acquired = 0;
FileListSuite4 suite{};

int16_t VLMR_CALLBACK browse(const char* address) {
    opened.push_back(address);
    return 0;
}

int16_t VLMR_CALLBACK acquire(const char* name, int32_t version, const void** found) {
    acquired++;
    EXPECT_STREQ(name, "Vellumar GetFileList Suite for Plug-ins");
    EXPECT_EQ(version, 4);
    suite.browseUrl = browse;
    *found = &suite;
    return 0;
}

int16_t VLMR_CALLBACK release(const char*, int32_t) {
    return 0;
}

TEST(AboutForm, ShowsTheTextAndHandsAddressesToTheHost) {
    // Without suite access a click does nothing and the box stays open until Escape.
    {
        PipeTerminal terminal(" \t \x1b");
        runAboutForm(terminal.window(), nullptr);
        EXPECT_NE(terminal.drawing().find("Version 10.0 (7 December 2026)"), std::string::npos);
    }
    EXPECT_TRUE(opened.empty());

    // Space clicks the focused address button (the first one at opening); the box stays open
    // through both clicks; Tab wraps around; Enter closes.
    // The host's suite access outlives the library, which releases the suite through it at exit.
    static const BasicSuiteAccess access{acquire, release};
    {
        PipeTerminal terminal(" \t \t\r");
        runAboutForm(terminal.window(), &access);
        const std::string drawing = visibleText(terminal.drawing());
        for (const char* text : {"Mendora", kRightsLine1, kRightsLine2, kAddress1, kAddress2})
            EXPECT_NE(drawing.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(opened, (std::vector<std::string>{"http://www.mendora.example",
                                                "http://www.aldermoor.example"}));
    // The suite is kept for later clicks and boxes; the end of the input closes the box too.
    {
        PipeTerminal terminal(" ");
        runAboutForm(terminal.window(), &access);
    }
    EXPECT_EQ(opened.size(), 3u);
    EXPECT_EQ(acquired, 1);

    // No terminal: nothing is shown and nothing happens.
    runAboutForm(VlmrParentWindow{-1, -1}, &access);
    EXPECT_EQ(opened.size(), 3u);
}

} // namespace
} // namespace mendora
