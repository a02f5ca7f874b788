// Out of memory at every allocation of a whole run, one at a time: each run ends with
// outOfMemory, writes nothing outside the selection, and the engine fills correctly right
// after. Replaces the global allocation functions of this test program to inject failures.
#include <gtest/gtest.h>

#ifdef __linux__
#include <dirent.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/fill_internal.h"
#include "engine/workers.h"
#include "support/texture.h"

namespace {

// Atomic: the engine's worker threads allocate too.
std::atomic<long> allocationsLeft{-1}; // -1: never fail
std::atomic<long> liveAllocations{0};

// Not inlined: inlined into the replaced operators, malloc and free would meet the compiler's
// check that new is paired with delete.
[[gnu::noinline]] void* allocate(std::size_t size) {
    long left = allocationsLeft.load();
    while (left > 0 && !allocationsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0)
        return nullptr;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr)
        liveAllocations++;
    return p;
}

[[gnu::noinline]] void release(void* p) {
    if (p == nullptr)
        return;
    liveAllocations--;
    std::free(p);
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}

namespace mendora {
namespace {

// One thread, so that the allocations come in the same order in every run. Descriptor blocks
// of five descriptors (of three coefficients at radius 2), so that a run also fails with some
// blocks allocated.
TEST(OutOfMemory, EveryAllocationFailingOnceIsReportedAndRecovered) {
    forceWorkerCount(1);
    limitDescriptorBlocks(5 * 3 * sizeof(double));
    const int32_t w = 26, h = 20;
    const auto input = testing::texturedImage(w, h, 21);
    const auto mask = testing::discMask(w, h, 12, 9, 3);
    FillParameters params{0, 0, 26, 20, 2};

    std::vector<uint8_t> reference = input;
    long setUpAllocations = 0;
    long before = liveAllocations;
    allocationsLeft = -1;
    // Count the allocations of one whole run, and those made before the fill loop starts
    // (grids, basis, candidates, descriptors, tree, queue).
    allocationsLeft = 1L << 40;
    setFillTraceHooks(
        [](const FillSetupTrace&, void* setUp) {
            *static_cast<long*>(setUp) = (1L << 40) - allocationsLeft;
        },
        nullptr, &setUpAllocations);
    ASSERT_EQ(fillImage(w, h, input.data(), reference.data(), mask.data(), w, params),
              FillOutcome::filled);
    setFillTraceHooks(nullptr, nullptr, nullptr);
    const long counted = (1L << 40) - allocationsLeft;
    allocationsLeft = -1;
    ASSERT_GT(counted, 100);
    ASSERT_EQ(liveAllocations, before);

    for (long failAt = 0; failAt < counted; failAt++) {
        std::vector<uint8_t> output = input;
        FillParameters p = params;
        before = liveAllocations;
        allocationsLeft = failAt;
        const FillOutcome outcome = fillImage(w, h, input.data(), output.data(), mask.data(), w, p);
        allocationsLeft = -1;
        ASSERT_EQ(outcome, FillOutcome::outOfMemory) << "allocation " << failAt;
        for (size_t i = 0; i < mask.size(); i++)
            if (mask[i] == 0) {
                for (int c = 0; c < 3; c++)
                    ASSERT_EQ(output[3 * i + c], input[3 * i + c]) << "allocation " << failAt;
            }
        // Everything is released, the search tree's partial construction included.
        ASSERT_EQ(liveAllocations, before)
            << "allocation " << failAt << " leaks (of " << setUpAllocations << " in the set-up)";
    }

    std::vector<uint8_t> output = input;
    FillParameters p = params;
    EXPECT_EQ(fillImage(w, h, input.data(), output.data(), mask.data(), w, p), FillOutcome::filled);
    EXPECT_EQ(output, reference);
    forceWorkerCount(0);
    limitDescriptorBlocks(0);
}

// Threads of this process (Linux); 0 where it cannot be told.
long threadCount() {
#ifdef __linux__
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return 0;
    long n = 0;
    while (const dirent* entry = readdir(tasks))
        n += entry->d_name[0] != '.';
    closedir(tasks);
    return n;
#else
    return 0;
#endif
}

// Threads of this process once those that ended have left the list: a joined thread can stay
// listed for a moment while the kernel reaps it, so the count is read again for up to a second
// until it is at most `expected` (a thread still running stays counted).
long threadCountSettled(long expected) {
    long n = threadCount();
    for (int i = 0; i < 1000 && n > expected; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        n = threadCount();
    }
    return n;
}

// Two workers and searching ahead: a failure wherever it strikes (on the loop's thread or a
// worker's) ends the run with outOfMemory, or, when only a thread or a search made ahead
// failed, with the same fill; either way nothing leaks and no thread outlives the call. The
// image has more than the 8,192 source windows from which the search tree's construction is
// shared between builders, and every allocation of the set-up (the shared construction's
// among them) and of the loop's start (the worker's and its arrays) fails once; of the rest
// of the fill loop's, every 13th.
TEST(OutOfMemory, FailuresWithWorkersRunning) {
    forceWorkerCount(2);
    const int32_t w = 110, h = 90;
    const auto input = testing::texturedImage(w, h, 5);
    const auto mask = testing::discMask(w, h, 55, 45, 5);
    std::vector<uint8_t> reference = input;
    FillParameters params{0, 0, 110, 90, 2};
    const long threadsBefore = threadCount();
    long setUpAllocations = 0;
    allocationsLeft = 1L << 40;
    setFillTraceHooks(
        [](const FillSetupTrace& trace, void* setUp) {
            EXPECT_GT(trace.candidates, 2 * 4096);
            *static_cast<long*>(setUp) = (1L << 40) - allocationsLeft;
        },
        nullptr, &setUpAllocations);
    ASSERT_EQ(fillImage(w, h, input.data(), reference.data(), mask.data(), w, params),
              FillOutcome::filled);
    setFillTraceHooks(nullptr, nullptr, nullptr);
    const long counted = (1L << 40) - allocationsLeft;
    allocationsLeft = -1;
    RecordProperty("allocations", static_cast<int>(counted));
    RecordProperty("set_up_allocations", static_cast<int>(setUpAllocations));
    const long startAllocations = setUpAllocations + 32;
    for (long failAt = 0; failAt < counted; failAt += failAt < startAllocations ? 1 : 13) {
        std::vector<uint8_t> output = input;
        FillParameters p = params;
        const long before = liveAllocations;
        allocationsLeft = failAt;
        const FillOutcome outcome = fillImage(w, h, input.data(), output.data(), mask.data(), w, p);
        allocationsLeft = -1;
        EXPECT_EQ(threadCountSettled(threadsBefore), threadsBefore) << "allocation " << failAt;
        EXPECT_EQ(liveAllocations, before) << "allocation " << failAt << " leaks";
        if (outcome == FillOutcome::filled)
            EXPECT_EQ(output, reference) << "allocation " << failAt;
        else
            ASSERT_EQ(outcome, FillOutcome::outOfMemory) << "allocation " << failAt;
    }
    forceWorkerCount(0);
}

} // namespace
} // namespace mendora
