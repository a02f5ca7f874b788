// Searching ahead: while the fill loop runs a step, one worker thread searches the source index
// for targets likely to come next, each on a private copy of its window.
// In: requests naming a front pixel (copied from the grids by the loop's own thread). Out: the
// neighbours found for the query the copy gave, handed back when the loop reaches that pixel
// and only if the query it computes then is bit-identical; the search being a function of the
// query alone, the result is then the one the loop would have found.
#include <ANN/ANN.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/fill_internal.h"
#include "engine/workers.h"

namespace mendora {

namespace {

enum class JobState { queued, running, found, failed };

struct AheadJob {
    WindowSnapshot window;
    std::vector<double> query;
    std::vector<ANNidx> indices;
    std::vector<ANNdist> distances;
    JobState state = JobState::queued;
};

// Shared by the loop's thread and the worker, under searchAheadLock.
std::mutex searchAheadLock;
std::condition_variable searchAheadWake;               // the worker waits for a job or the stop
std::condition_variable searchAheadFinished;           // the loop waits for a running job
std::deque<std::unique_ptr<AheadJob>> searchAheadJobs; // in request order
bool searchAheadStopping = false;

// The loop's thread only.
std::thread searchAheadWorker;
bool searchAheadRunning = false;
bool searchAheadAllowed = true;
int32_t searchAheadD = 0;
int32_t searchAheadK = 0;
int64_t searchAheadHitCount = 0;
// Runs one job outside the lock and returns its outcome. Any failure (memory) only makes the
// job useless.
JobState runJob(AheadJob& job) {
    try {
        estimateSnapshot(job.window);
        describeSnapshot(job.window, searchAheadD, job.query.data());
        sourceIndex->annkSearch(job.query.data(), searchAheadK, job.indices.data(),
                                job.distances.data(), 0.0);
        return JobState::found;
    } catch (...) {
        return JobState::failed;
    }
}

// Runs `job` outside the held lock, the job marked running meanwhile; then records its outcome
// and wakes the loop's thread.
void runOutsideLock(std::unique_lock<std::mutex>& hold, AheadJob& job) {
    job.state = JobState::running;
    hold.unlock();
    const JobState outcome = runJob(job);
    hold.lock();
    job.state = outcome;
    searchAheadFinished.notify_all();
}

void workerLoop() {
    std::unique_lock<std::mutex> hold(searchAheadLock);
    for (;;) {
        auto next = searchAheadJobs.end();
        searchAheadWake.wait(hold, [&] {
            next = std::find_if(searchAheadJobs.begin(), searchAheadJobs.end(),
                                [](const auto& job) { return job->state == JobState::queued; });
            return searchAheadStopping || next != searchAheadJobs.end();
        });
        if (searchAheadStopping)
            return;
        runOutsideLock(hold, **next);
    }
}

bool overlaps(const WindowSnapshot& w, int32_t x0, int32_t y0, const WindowExtents& e) {
    return w.xFirst <= x0 + e.right && x0 - e.left < w.xFirst + w.columns &&
           w.yFirst <= y0 + e.down && y0 - e.up < w.yFirst + w.rows;
}

// The job of the pixel (x0, y0), or the end. Requires searchAheadLock.
std::deque<std::unique_ptr<AheadJob>>::iterator findJob(int32_t x0, int32_t y0) {
    return std::find_if(searchAheadJobs.begin(), searchAheadJobs.end(), [&](const auto& held) {
        return held->window.x0 == x0 && held->window.y0 == y0;
    });
}

} // namespace

void allowSearchAhead(bool allowed) {
    searchAheadAllowed = allowed;
}

int64_t searchAheadHits() {
    return searchAheadHitCount;
}

void waitForSearchAhead() {
    if (!searchAheadRunning)
        return;
    std::unique_lock<std::mutex> hold(searchAheadLock);
    searchAheadFinished.wait(hold, [] {
        return std::none_of(searchAheadJobs.begin(), searchAheadJobs.end(), [](const auto& job) {
            return job->state == JobState::queued || job->state == JobState::running;
        });
    });
}

void startSearchAhead(int32_t d, int32_t searched) {
    searchAheadHitCount = 0;
    if (!searchAheadAllowed || workerCount() < 2)
        return;
    searchAheadD = d;
    searchAheadK = searched;
    searchAheadStopping = false;
    try {
        searchAheadWorker = std::thread(workerLoop);
        searchAheadRunning = true;
    } catch (const std::system_error&) {
        // No thread: the loop searches everything itself.
    } catch (const std::bad_alloc&) {
        // No memory for the thread's state: the same, as for the other workers.
    }
}

void stopSearchAhead() {
    if (!searchAheadRunning)
        return;
    {
        const std::lock_guard<std::mutex> hold(searchAheadLock);
        searchAheadStopping = true;
    }
    searchAheadWake.notify_all();
    searchAheadWorker.join();
    searchAheadRunning = false;
    searchAheadJobs.clear();
}

void requestSearchAhead(int32_t x0, int32_t y0) {
    if (!searchAheadRunning || !searchAheadAllowed)
        return;
    {
        // The same pixels stay on top of the queue for several steps: a pixel that has a job
        // gets no second copy of its window and result arrays. Only this thread adds and
        // removes jobs, so the job is still held below.
        const std::lock_guard<std::mutex> hold(searchAheadLock);
        if (findJob(x0, y0) != searchAheadJobs.end())
            return;
    }
    try {
        auto job = std::make_unique<AheadJob>();
        takeSnapshot(x0, y0, job->window);
        const auto unknowns = static_cast<uint64_t>(
            std::count(job->window.states.begin(), job->window.states.end(), kToFill));
        if (estimateBytes(unknowns) > kMaxAheadEstimateBytes)
            return;
        job->query.resize(static_cast<size_t>(searchAheadD));
        job->indices.resize(static_cast<size_t>(searchAheadK));
        job->distances.resize(static_cast<size_t>(searchAheadK));
        const std::lock_guard<std::mutex> hold(searchAheadLock);
        if (searchAheadJobs.size() >= kMaxAheadJobs) {
            // The oldest job not under way makes room: its pixel was passed over, or left the
            // front inside another step's window.
            const auto oldest =
                std::find_if(searchAheadJobs.begin(), searchAheadJobs.end(),
                             [](const auto& held) { return held->state != JobState::running; });
            if (oldest == searchAheadJobs.end())
                return;
            searchAheadJobs.erase(oldest);
        }
        searchAheadJobs.push_back(std::move(job));
    } catch (const std::bad_alloc&) {
        return; // searching ahead is only ever a saving
    }
    searchAheadWake.notify_one();
}

void dropSearchAhead(int32_t x0, int32_t y0, const WindowExtents& e) {
    if (!searchAheadRunning)
        return;
    const std::lock_guard<std::mutex> hold(searchAheadLock);
    searchAheadJobs.erase(std::remove_if(searchAheadJobs.begin(), searchAheadJobs.end(),
                                         [&](const auto& job) {
                                             const bool own =
                                                 job->window.x0 == x0 && job->window.y0 == y0;
                                             return job->state != JobState::running && !own &&
                                                    overlaps(job->window, x0, y0, e);
                                         }),
                          searchAheadJobs.end());
}

bool takeSearchAhead(int32_t x0, int32_t y0, const double* query, int32_t* indices) {
    if (!searchAheadRunning)
        return false;
    std::unique_lock<std::mutex> hold(searchAheadLock);
    const auto job = findJob(x0, y0);
    if (job == searchAheadJobs.end())
        return false;
    searchAheadFinished.wait(hold, [&] { return (*job)->state != JobState::running; });
    const AheadJob& found = **job;
    const bool same = found.state == JobState::found &&
                      std::memcmp(found.query.data(), query,
                                  sizeof(double) * static_cast<size_t>(searchAheadD)) == 0;
    if (same) {
        std::copy(found.indices.begin(), found.indices.end(), indices);
        searchAheadHitCount++;
    }
    searchAheadJobs.erase(job);
    return same;
}

} // namespace mendora
