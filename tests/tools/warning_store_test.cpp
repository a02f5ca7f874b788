// The warning store of the Linux image reader (tools/mendora/warning_store.cpp): libvips'
// worker threads keep warnings while the caller's thread takes them. The ThreadSanitizer stage
// of scripts/test-sanitizers runs this test: without the store's lock it reports a data race
// on every run, whichever thread comes first, since it flags any two accesses that no lock
// or thread start and join orders, not only those that meet in time.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/mendora/warning_store.h"

namespace mendora::cli {
namespace {

TEST(WarningStore, KeptFromSeveralThreadsAndTakenWholeOnce) {
    // Longer than a string's inline buffer: the text lives on the heap, as libvips' do.
    const auto text = [](int thread, int number) {
        return "warning " + std::to_string(number) + " of worker " + std::to_string(thread) +
               ": the file is damaged";
    };
    constexpr int kThreads = 4;
    constexpr int kEach = 200;
    takeLastWarning();
    std::vector<std::thread> workers;
    for (int thread = 0; thread < kThreads; thread++)
        workers.emplace_back([thread, &text] {
            for (int number = 0; number < kEach; number++)
                keepLastWarning(text(thread, number).c_str());
        });
    std::vector<std::string> taken;
    for (int i = 0; i < kThreads * kEach; i++)
        taken.push_back(takeLastWarning());
    for (std::thread& worker : workers)
        worker.join();
    taken.push_back(takeLastWarning());

    // Each text taken is one kept, whole, or nothing; some worker's last one is taken at the
    // latest after the joins, and taking clears.
    std::set<std::string> kept = {""};
    std::set<std::string> lasts;
    for (int thread = 0; thread < kThreads; thread++) {
        for (int number = 0; number < kEach; number++)
            kept.insert(text(thread, number));
        lasts.insert(text(thread, kEach - 1));
    }
    for (const std::string& one : taken)
        EXPECT_EQ(kept.count(one), 1u) << one;
    std::string lastTaken;
    for (const std::string& one : taken)
        if (!one.empty())
            lastTaken = one;
    EXPECT_EQ(lasts.count(lastTaken), 1u) << lastTaken;
    EXPECT_EQ(takeLastWarning(), "");

    // The last kept replaces the one before; a null text keeps an empty one.
    keepLastWarning("first");
    keepLastWarning("second");
    EXPECT_EQ(takeLastWarning(), "second");
    keepLastWarning("first");
    keepLastWarning(nullptr);
    EXPECT_EQ(takeLastWarning(), "");
}

} // namespace
} // namespace mendora::cli
