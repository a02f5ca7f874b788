// Splitting the loop's searches over threads: a crew of threads started with the fill loop
// searches the parts of each of the loop's own searches beside the loop's thread, and is joined
// when the loop ends.
// In: each search of the loop's thread (the search library hands over its parts). Out: the
// same neighbours as a whole search; the parts only share the work.
#include "lib/ann_compact/kd_compact_split.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/fill_internal.h"
#include "engine/workers.h"

namespace mendora {

namespace {

// The loop's searches are split over the threads the search ahead leaves when there are at
// least this many of them: with fewer, a split search's extra work outweighs its threads
// (bench/PERFORMANCE.md). The answers are the same either way.
constexpr int32_t kSplitSearchMinWorkers = 4;
// Nor below this k (about a 2 MP image): such searches take well under a millisecond, and
// waking the crew is a larger share of them.
constexpr int32_t kSplitSearchMinK = 2048;
int32_t splitSearchMinK = kSplitSearchMinK; // the test hook's value

// The crew, shared with the loop's thread under crewLock.
std::mutex crewLock;
std::condition_variable crewWake; // members wait for a search or the stop
std::condition_variable crewDone; // the loop's thread waits for the members of a search
std::vector<std::thread> crew;
ANNcompactJob crewJob = nullptr;
void* crewContext = nullptr;
int64_t crewSearch = 0; // counts the searches handed over
int32_t crewBusy = 0;   // members not yet done with the current search
bool crewStopping = false;

// A member: runs the job of every search handed over (the job takes parts until none is left,
// so a member coming late finds nothing to do), until the stop.
void crewMember(int worker) {
    int64_t seen = 0;
    std::unique_lock<std::mutex> hold(crewLock);
    for (;;) {
        crewWake.wait(hold, [&] { return crewStopping || crewSearch != seen; });
        if (crewStopping)
            return;
        seen = crewSearch;
        const ANNcompactJob job = crewJob;
        void* const context = crewContext;
        hold.unlock();
        job(context, worker);
        hold.lock();
        if (--crewBusy == 0)
            crewDone.notify_one();
    }
}

// The runner the search library calls on the loop's thread: the job on every member and on the
// calling thread, returning when all are done. The job never throws.
void runWithCrew(int, ANNcompactJob job, void* context) {
    {
        const std::lock_guard<std::mutex> hold(crewLock);
        crewJob = job;
        crewContext = context;
        crewBusy = static_cast<int32_t>(crew.size());
        crewSearch++;
    }
    crewWake.notify_all();
    job(context, 0);
    std::unique_lock<std::mutex> hold(crewLock);
    crewDone.wait(hold, [] { return crewBusy == 0; });
}

} // namespace

void startSplitSearches(int32_t k) {
    // The loop's thread and the one searching ahead count among the threads.
    const int32_t members = workerCount() - 2;
    if (members + 1 < kSplitSearchMinWorkers || k < splitSearchMinK)
        return;
    crew.reserve(static_cast<size_t>(members)); // (no thread started yet if this throws)
    for (int32_t m = 0; m < members; m++) {
        try {
            crew.emplace_back(crewMember, static_cast<int>(m + 1));
        } catch (const std::system_error&) {
            break; // a crew as large as the system allows
        }
    }
    if (static_cast<int32_t>(crew.size()) + 1 >= kSplitSearchMinWorkers)
        annCompactSetSplit(runWithCrew, static_cast<int>(crew.size()) + 1);
    else
        stopSplitSearches();
}

void stopSplitSearches() {
    annCompactSetSplit(nullptr, 0);
    {
        const std::lock_guard<std::mutex> hold(crewLock);
        crewStopping = true;
    }
    crewWake.notify_all();
    for (std::thread& member : crew)
        member.join();
    crew.clear();
    const std::lock_guard<std::mutex> hold(crewLock);
    crewStopping = false;
    crewSearch = 0;
}

void splitSearchesFromK(int32_t k) {
    splitSearchMinK = k < 0 ? kSplitSearchMinK : k;
}

} // namespace mendora
