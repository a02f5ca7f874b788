// Tone matching benchmarks: the membrane over a disc of 1 %, 3 % and 10 % of a 2560 x 1600
// RGB image (the 4 MP photograph's size), with the direct solver, and the 10 % disc also with
// conjugate gradients. The samples are a generated texture: the solvers' cost does not depend
// on them. Peak memory is reported as the process's resident high-water mark.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <vector>

#include "support/texture.h"
#include "tools/standin_host/tone_match.h"

namespace {

constexpr int32_t kWidth = 2560;
constexpr int32_t kHeight = 1600;

void matchDisc(benchmark::State& state) {
    const double share = static_cast<double>(state.range(0)) / 100.0;
    mendora::tone::limitDirectSolve(state.range(1) != 0 ? 0 : -1);
    const std::vector<uint8_t> input = mendora::testing::texturedImage(kWidth, kHeight);
    std::vector<uint8_t> region(static_cast<size_t>(kWidth) * kHeight, 0);
    const double r2 = share * kWidth * kHeight / 3.141592653589793;
    for (int32_t y = 0; y < kHeight; y++)
        for (int32_t x = 0; x < kWidth; x++) {
            const double dx = x - kWidth / 2, dy = y - kHeight / 2;
            region[static_cast<size_t>(y) * kWidth + x] = dx * dx + dy * dy <= r2;
        }
    const mendora::tone::SampleLayout layout{kWidth, kHeight, 3, 3, kWidth * 3};
    std::vector<uint8_t> samples;
    for (auto _ : state) {
        state.PauseTiming();
        samples = input;
        state.ResumeTiming();
        if (mendora::tone::matchTones(samples.data(), layout, region.data(), kWidth) !=
            mendora::tone::ToneMatch::matched)
            state.SkipWithError("tone matching failed");
        benchmark::DoNotOptimize(samples.data());
    }
    mendora::tone::limitDirectSolve(-1);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Arguments: the disc's share of the image in percent, 1 for conjugate gradients.
BENCHMARK(matchDisc)
    ->Args({1, 0})
    ->Args({3, 0})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
