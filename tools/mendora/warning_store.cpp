// The last warning of an image library. In: warnings from any thread. Out: the last one, once.
#include "tools/mendora/warning_store.h"

#include <mutex>

namespace mendora::cli {

namespace {

std::mutex warningMutex;
std::string lastWarning;

} // namespace

void keepLastWarning(const char* text) {
    const std::lock_guard<std::mutex> lock(warningMutex);
    lastWarning = text != nullptr ? text : "";
}

std::string takeLastWarning() {
    const std::lock_guard<std::mutex> lock(warningMutex);
    std::string text;
    text.swap(lastWarning);
    return text;
}

} // namespace mendora::cli
