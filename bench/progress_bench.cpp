// What our hosts' progress costs and how well the time left is estimated, on one photograph:
//   progress_bench IMAGE.png MASK.png [ROUNDS]
// Each round fills the image twice through the hosts' runner, as the command line does: once
// with no hooks offered (the module runs unobserved) and once with a progress hook that notes
// every report, in turn. It prints both fills' seconds, and for the observed fill the filling
// stage's rate in each quarter of the region's pixels and the time left the status line would
// estimate when 25 %, 50 % and 75 % are first reached, against the time really left then. The
// processor seconds of each run (the run's image reading not counted) are given too.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "host/host_hooks.h"
#include "support/png_read.h"
#include "tools/standin_host/filter_run.h"
#include "tools/standin_host/status_line.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Report {
    double seconds;
    int64_t done;
    int64_t total;
};

// Processor seconds of the whole process so far (every thread, user and system): other work on
// the shared machine stretches them much less than the wall clock's.
double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool fill(const mendora::testing::TestImage& image, const mendora::testing::TestImage& mask,
          bool observed, double& seconds, double& processor, std::vector<Report>& filling) {
    mendora::runner::FillRun run;
    std::string error;
    mendora::standin::FillHooks hooks;
    const Clock::time_point start = Clock::now();
    if (observed)
        hooks.progress = [&](int32_t stage, int64_t done, int64_t total) {
            if (stage == MENDORA_STAGE_FILLING)
                filling.push_back(Report{
                    std::chrono::duration<double>(Clock::now() - start).count(), done, total});
        };
    std::vector<uint8_t> selection(mask.data.size());
    for (size_t i = 0; i < selection.size(); i++)
        selection[i] = mask.data[i] != 0 ? 1 : 0;
    const double processorBefore = processorSeconds();
    const bool ran =
        mendora::runner::runFilter(mendora::runner::pluginModulePath(""),
                                   mendora::runner::RgbImage{image.width, image.height, image.data},
                                   std::move(selection), mendora::runner::DialogValues{}, false,
                                   mendora::runner::ProgressShown::none, run, error, hooks);
    if (!ran || run.result != 0) {
        std::fprintf(stderr, "fill failed: %s (result %d)\n", error.c_str(), run.result);
        return false;
    }
    seconds = run.fillSeconds;
    processor = processorSeconds() - processorBefore;
    return true;
}

void printEstimates(const std::vector<Report>& filling) {
    const double first = filling.front().seconds;
    const double last = filling.back().seconds;
    const int64_t total = filling.back().total;
    std::printf("  filling: %.1f s; pixels a second by quarter of the region:", last - first);
    double quarterStart = first;
    size_t at = 0;
    for (int q = 1; q <= 4; q++) {
        while (at + 1 < filling.size() && filling[at].done * 4 < total * q)
            at++;
        std::printf(" %.0f", static_cast<double>(total) / 4 / (filling[at].seconds - quarterStart));
        quarterStart = filling[at].seconds;
    }
    std::printf("\n");
    for (const int percent : {25, 50, 75}) {
        size_t i = 0;
        while (filling[i].done * 100 < total * percent)
            i++;
        mendora::runner::ProgressSnapshot snapshot;
        snapshot.stage = MENDORA_STAGE_FILLING;
        snapshot.done = filling[i].done;
        snapshot.total = total;
        snapshot.seconds = filling[i].seconds;
        snapshot.fillingSeconds = filling[i].seconds - first;
        std::printf("  at %d %%: estimated %.1f s left, really %.1f s\n", percent,
                    mendora::runner::secondsLeft(snapshot), last - filling[i].seconds);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: progress_bench IMAGE.png MASK.png [ROUNDS]\n");
        return 2;
    }
    const mendora::testing::TestImage image = mendora::testing::readPng(argv[1]);
    const mendora::testing::TestImage mask = mendora::testing::readPng(argv[2]);
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 1;
    for (int round = 1; round <= rounds; round++) {
        double without = 0.0, with = 0.0, withoutProcessor = 0.0, withProcessor = 0.0;
        std::vector<Report> filling, unused;
        if (!fill(image, mask, false, without, withoutProcessor, unused) ||
            !fill(image, mask, true, with, withProcessor, filling))
            return 1;
        std::printf("round %d: fill %.2f s (%.2f s of processor time) without hooks, %.2f s "
                    "(%.2f s) with progress (%zu reports)\n",
                    round, without, withoutProcessor, with, withProcessor, filling.size());
        printEstimates(filling);
        std::fflush(stdout);
    }
    return 0;
}
