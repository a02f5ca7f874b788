// The worker ranges: every item once on any thread count, and a failure in one range reaching
// the caller only after every range has finished.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "engine/workers.h"

namespace mendora {
namespace {

TEST(Workers, EveryItemOnceAndFailuresAfterTheLastRange) {
    for (int32_t threads : {1, 2, 8}) {
        SCOPED_TRACE(threads);
        forceWorkerCount(threads);
        EXPECT_EQ(workerCount(), threads);
        for (int64_t count : {int64_t{0}, int64_t{1}, int64_t{5}, int64_t{1000}}) {
            std::vector<std::atomic<int32_t>> seen(static_cast<size_t>(count));
            runInRanges(count, [&](int64_t begin, int64_t end) {
                for (int64_t i = begin; i < end; i++)
                    seen[static_cast<size_t>(i)]++;
            });
            for (const auto& times : seen)
                EXPECT_EQ(times.load(), 1);
        }
        std::atomic<int32_t> finished{0};
        EXPECT_THROW(runInRanges(100,
                                 [&](int64_t begin, int64_t) {
                                     if (begin == 0)
                                         throw std::bad_alloc();
                                     finished++;
                                 }),
                     std::bad_alloc);
        EXPECT_EQ(finished.load(), threads - 1);
    }
    forceWorkerCount(0);
    EXPECT_GE(workerCount(), 1);
}

// Chunks cover every item once; while one thread is held in its chunk the others take every
// other chunk (held until they have, or for at most a minute, which fails the test).
TEST(Workers, ChunksGoToTheThreadsThatAreFree) {
    for (int32_t threads : {1, 2, 8}) {
        SCOPED_TRACE(threads);
        forceWorkerCount(threads);
        for (int64_t chunk : {int64_t{1}, int64_t{7}, int64_t{1000}}) {
            std::vector<std::atomic<int32_t>> seen(1000);
            runInChunks(1000, chunk, [&](int64_t begin, int64_t end) {
                EXPECT_TRUE(end - begin == chunk || end == 1000);
                for (int64_t i = begin; i < end; i++)
                    seen[static_cast<size_t>(i)]++;
            });
            for (const auto& times : seen)
                EXPECT_EQ(times.load(), 1);
        }
        if (threads == 1)
            continue;
        std::atomic<int32_t> others{0};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        runInChunks(100, 10, [&](int64_t begin, int64_t) {
            if (begin != 0) {
                others++;
                return;
            }
            while (others.load() < 9 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
        });
        EXPECT_EQ(others.load(), 9);
    }
    forceWorkerCount(0);
}

// MENDORA_THREADS limits the machine's count (never raises it); a malformed value limits
// nothing; a count forced by the tests stands above it.
TEST(Workers, TheUsersThreadLimit) {
    forceWorkerCount(0);
    unsetenv("MENDORA_THREADS");
    const int32_t machine = workerCount();
    setenv("MENDORA_THREADS", "1", 1);
    EXPECT_EQ(workerCount(), 1);
    setenv("MENDORA_THREADS", "1000", 1);
    EXPECT_EQ(workerCount(), machine);
    for (const char* malformed : {"", "0", "-2", "2x", "many"}) {
        setenv("MENDORA_THREADS", malformed, 1);
        EXPECT_EQ(workerCount(), machine) << malformed;
    }
    setenv("MENDORA_THREADS", "1", 1);
    forceWorkerCount(2);
    EXPECT_EQ(workerCount(), 2);
    forceWorkerCount(0);
    unsetenv("MENDORA_THREADS");
}

} // namespace
} // namespace mendora
