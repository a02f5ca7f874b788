// Test dialogs for a test build of the plug-in module: the region dialog follows a script
// read from the input descriptor of the host's terminal, as the terminal form reads keys.
// Script: whitespace-separated words; "<box>=<value>" types <value> into box 3 to 7
// (sourceLeft, sourceTop, sourceRight, sourceBottom, patchRadius), keeping its low 16 bits;
// "ok" confirms; "cancel" or the end of the input cancels. Without a terminal (descriptor -1)
// the dialog confirms at once. The about box writes "about" to the output descriptor.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/module_state.h"
#include "ui/dialogs.h"

namespace mendora {

namespace {

bool readWord(int input, std::string& word) {
    word.clear();
    char c = 0;
    while (read(input, &c, 1) == 1) {
        if (c == ' ' || c == '\n' || c == '\t') {
            if (!word.empty())
                return true;
            continue;
        }
        word.push_back(c);
    }
    return !word.empty();
}

void typeIntoBox(int box, int16_t value) {
    int16_t* fields[] = {&hostParameterBlock->sourceLeft, &hostParameterBlock->sourceTop,
                         &hostParameterBlock->sourceRight, &hostParameterBlock->sourceBottom,
                         &hostParameterBlock->patchRadius};
    if (box >= 3 && box <= 7)
        *fields[box - 3] = value;
}

} // namespace

bool runRegionDialog() {
    const int input = hostRecord->windowData->parentWindow.input;
    if (input < 0)
        return true;
    std::string word;
    while (readWord(input, word)) {
        if (word == "ok")
            return true;
        if (word == "cancel")
            return false;
        const size_t equals = word.find('=');
        if (equals == std::string::npos)
            continue;
        const long value = std::strtol(word.c_str() + equals + 1, nullptr, 10);
        typeIntoBox(std::atoi(word.substr(0, equals).c_str()),
                    static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)));
    }
    return false;
}

void showAboutBox(const AboutRecord* record) {
    if (record == nullptr || record->windowData == nullptr)
        return;
    const int output = record->windowData->parentWindow.output;
    if (output >= 0 && write(output, "about", 5) != 5)
        return;
}

} // namespace mendora
