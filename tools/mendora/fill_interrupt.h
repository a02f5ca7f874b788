// Ctrl+C during the fill: the module is asked to stop at its next step, and the program ends
// with status 130 having written nothing.
#pragma once

#include <string>

namespace mendora::cli {

// The status of a run ended by Ctrl+C, as a shell reports a program killed by SIGINT.
constexpr int kExitInterrupted = 130;

// From now until endInterruptibleFill, SIGINT (Ctrl+C) only asks the fill to stop (the
// module checks once a step). Should the module not come back within a second (a set-up stage
// it cannot leave), the program says that `output` was not written and ends with
// kExitInterrupted itself: nothing has been written while the fill runs.
void beginInterruptibleFill(const std::string& output);

// True once SIGINT came since beginInterruptibleFill: the fill's stop hook.
bool fillInterrupted();

// Gives SIGINT back its handler from before and stops watching.
void endInterruptibleFill();

// beginInterruptibleFill for as long as it lives, also when the fill throws (out of memory).
struct InterruptibleFill {
    explicit InterruptibleFill(const std::string& output) { beginInterruptibleFill(output); }
    ~InterruptibleFill() { endInterruptibleFill(); }
    InterruptibleFill(const InterruptibleFill&) = delete;
    InterruptibleFill& operator=(const InterruptibleFill&) = delete;
};

} // namespace mendora::cli
