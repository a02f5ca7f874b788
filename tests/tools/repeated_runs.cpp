// Fifty consecutive whole filter runs in one loaded module, as a long editing session makes
// them: the radius changes from run to run and a radius of 0 reuses the previous one. Each run
// must fill its selection, leave the rest as delivered and release what it allocated. Under
// valgrind's memcheck the memory still reachable after the tenth run (when every radius has
// been seen once) and after the last must be the same (no growth), nothing may be lost then,
// and nothing at exit (valgrind's own leak check); outside valgrind these checks do nothing.
//
// Usage: repeated_runs MODULE [RUNS]. Prints "repeated runs: N passed, N failed".
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/texture.h"
#include "tools/standin_host/standin_host.h"

using namespace mendora;
using namespace mendora::standin;

namespace {

constexpr int32_t kWidth = 64;
constexpr int32_t kHeight = 48;

struct LeakCounts {
    unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
};

LeakCounts countLeaks() {
    LeakCounts counts;
    VALGRIND_DO_QUICK_LEAK_CHECK;
    VALGRIND_COUNT_LEAKS(counts.leaked, counts.dubious, counts.reachable, counts.suppressed);
    return counts;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: repeated_runs MODULE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 50;
    std::string error;
    if (!loadPlugin(argv[1], error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    resetHost();
    const std::vector<uint8_t> image = testing::texturedImage(kWidth, kHeight, 77);
    const std::vector<uint8_t> mask = testing::discMask(kWidth, kHeight, 30, 22, 5);
    setImage(HostImage{kWidth, kHeight, image});
    setSelection(mask);

    // Radii in turn; 0 and -3 must fill exactly as the positive radius before them did.
    const int16_t radii[] = {4, 2, 0, 3, -3, 5, 0, 1, 6, 0};
    std::map<int16_t, std::vector<uint8_t>> outputByRadius;
    int16_t lastPositive = 4;
    int passed = 0, failed = 0;
    LeakCounts afterWarmUp;
    for (int run = 0; run < runs; run++) {
        const int16_t radius = radii[run % 10];
        // The first run starts from the defaults; later ones keep the stored block, as the
        // user's edits in the dialog would.
        if (run > 0)
            writeParameterBlock(FillParameters{0, 0, kWidth, kHeight, radius});
        const FilterRunResult result = runFilter(run == 0);
        const int16_t used = radius > 0 ? radius : lastPositive;
        if (radius > 0)
            lastPositive = radius;
        const std::vector<uint8_t> output = outputBuffer();
        bool ok = result.result == resultSuccess && buffersIntact() && lockedHandleCount() == 0;
        for (size_t i = 0; ok && i < mask.size(); i++)
            for (int c = 0; c < 3; c++)
                if (mask[i] == 0 && output[3 * i + c] != image[3 * i + c])
                    ok = false;
        auto known = outputByRadius.find(used);
        if (known == outputByRadius.end())
            outputByRadius.emplace(used, output);
        else if (known->second != output)
            ok = false; // the same radius must give the same fill, carried over or not
        if (ok)
            passed++;
        else
            failed++;
        if (!ok)
            std::fprintf(stderr, "run %d (radius %d): result %d, wrong output\n", run, radius,
                         result.result);
        if (run == 9)
            afterWarmUp = countLeaks();
    }
    if (RUNNING_ON_VALGRIND && runs >= 10) {
        const LeakCounts atEnd = countLeaks();
        std::printf("memcheck: %lu bytes reachable after run 10, %lu after run %d; %lu definitely "
                    "and %lu possibly lost\n",
                    afterWarmUp.reachable, atEnd.reachable, runs, atEnd.leaked, atEnd.dubious);
        if (atEnd.leaked != 0 || atEnd.dubious != 0 || atEnd.reachable > afterWarmUp.reachable)
            failed++;
        else
            passed++;
    }
    unloadPlugin();
    std::printf("repeated runs: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
