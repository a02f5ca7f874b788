// Worker threads for the engine's parallel stages.
// In: a count of independent items and a task over a range of them. Out: the task run over
// every item, split into contiguous ranges on up to workerCount() threads, all joined before
// the call returns.
#pragma once

#include <cstdint>
#include <functional>

namespace mendora {

// Threads a parallel stage uses: the machine's cores, at most kMaxWorkers (16) and at most
// the environment's MENDORA_THREADS (a whole number from 1), at least 1; or the count forced
// by forceWorkerCount. The fill is the same on any count.
int32_t workerCount();

// Forces the thread count of every later parallel stage (tests run 1, 2 and 8); 0 returns to
// the machine's count.
void forceWorkerCount(int32_t count);

// Runs task(begin, end) over [0, count) in contiguous ranges, the first on the calling thread.
// A range whose thread cannot be started runs on the calling thread. Returns once every range
// is done and every thread joined; then rethrows the first exception a range threw (e.g.
// std::bad_alloc). The task must not depend on the order in which ranges run.
void runInRanges(int64_t count, const std::function<void(int64_t, int64_t)>& task);

// Runs task(begin, end) over [0, count) in chunks of `chunk` items (the last may be shorter),
// which up to workerCount() threads take in turn, each the next one left when it finishes its
// last: a thread the machine slows down takes fewer chunks instead of holding the others up.
// Returns, and rethrows a failure, as runInRanges (a thread whose chunk threw takes no more;
// the others go on). `chunk` must be positive.
void runInChunks(int64_t count, int64_t chunk, const std::function<void(int64_t, int64_t)>& task);

} // namespace mendora
