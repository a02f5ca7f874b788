// Fill benchmarks on a generated 640 x 480 textured image with a compact hole of about 3 % of
// the pixels (a disc of radius 54: 9,149 pixels), default radius 4.
//   set-up: candidates, known pixels, descriptors and the kd-tree (a run with a one-pixel hole,
//           whose loop is a handful of steps);
//   whole fill: allocation, set-up, fill loop and release.
// Peak memory is reported as the process's resident high-water mark.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <vector>

#include "engine/engine.h"
#include "support/texture.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

void runFill(benchmark::State& state, int32_t holeRadius) {
    const std::vector<uint8_t> input = mendora::testing::texturedImage(kWidth, kHeight);
    const std::vector<uint8_t> mask =
        mendora::testing::discMask(kWidth, kHeight, 300, 220, holeRadius);
    std::vector<uint8_t> output;
    for (auto _ : state) {
        state.PauseTiming();
        output = input;
        mendora::FillParameters params{0, 0, kWidth, kHeight, 4};
        state.ResumeTiming();
        const auto outcome = mendora::fillImage(kWidth, kHeight, input.data(), output.data(),
                                                mask.data(), kWidth, params);
        if (outcome != mendora::FillOutcome::filled)
            state.SkipWithError("fill failed");
        benchmark::DoNotOptimize(output.data());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_SetUp(benchmark::State& state) {
    runFill(state, 0);
}
void BM_WholeFill(benchmark::State& state) {
    runFill(state, 54);
}

// The engine runs worker threads: the time is the wall clock's, the CPU time that of the whole
// process (the calling thread's alone would leave the workers out).
BENCHMARK(BM_SetUp)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_WholeFill)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
