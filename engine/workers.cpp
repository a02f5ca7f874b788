// Worker threads for the engine's parallel stages.
// In: a count of items and a task over a range of them. Out: the task run over every item on
// up to workerCount() standard threads, all joined before returning.
#include "engine/workers.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/fill_limits.h"

namespace mendora {

namespace {

int32_t forcedWorkerCount = 0; // 0: the machine's count

// The user's limit: MENDORA_THREADS when it is a whole number from 1 to kMaxWorkers, else
// kMaxWorkers (an unset, empty or malformed value limits nothing).
int32_t userWorkerLimit() {
    const char* text = std::getenv(kThreadLimitVariable);
    if (text == nullptr || *text == '\0')
        return kMaxWorkers;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 1 || value > kMaxWorkers)
        return kMaxWorkers;
    return static_cast<int32_t>(value);
}

} // namespace

int32_t workerCount() {
    if (forcedWorkerCount > 0)
        return forcedWorkerCount;
    const unsigned cores = std::thread::hardware_concurrency(); // 0 when unknown
    return std::max<int32_t>(1, std::min<int32_t>(userWorkerLimit(), static_cast<int32_t>(cores)));
}

void forceWorkerCount(int32_t count) {
    forcedWorkerCount = std::max<int32_t>(0, count);
}

void runInRanges(int64_t count, const std::function<void(int64_t, int64_t)>& task) {
    if (count <= 0)
        return;
    const int64_t rangeCount = std::min<int64_t>(workerCount(), count);
    std::exception_ptr failure;
    std::mutex failureLock;
    auto runRange = [&](int64_t range) {
        try {
            task(count * range / rangeCount, count * (range + 1) / rangeCount);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<int64_t> unstarted;
    try {
        threads.reserve(static_cast<size_t>(rangeCount));
        unstarted.reserve(static_cast<size_t>(rangeCount));
    } catch (const std::bad_alloc&) {
        for (int64_t range = 0; range < rangeCount; range++)
            runRange(range);
        if (failure)
            std::rethrow_exception(failure);
        return;
    }
    for (int64_t range = 1; range < rangeCount; range++) {
        try {
            threads.emplace_back(runRange, range);
        } catch (const std::system_error&) {
            unstarted.push_back(range);
        } catch (const std::bad_alloc&) {
            unstarted.push_back(range);
        }
    }
    runRange(0);
    for (int64_t range : unstarted)
        runRange(range);
    for (std::thread& thread : threads)
        thread.join();
    if (failure)
        std::rethrow_exception(failure);
}

void runInChunks(int64_t count, int64_t chunk, const std::function<void(int64_t, int64_t)>& task) {
    assert(chunk > 0);
    if (count <= 0)
        return;
    const int64_t chunks = (count - 1) / chunk + 1;
    std::atomic<int64_t> next{0};
    runInRanges(std::min<int64_t>(workerCount(), chunks), [&](int64_t, int64_t) {
        for (int64_t c = next++; c < chunks; c = next++)
            task(c * chunk, std::min(count, (c + 1) * chunk));
    });
}

} // namespace mendora
