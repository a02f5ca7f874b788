// The search library at a photograph's size: n = 1M and 4M descriptor-like points of d = 10
// (coordinate c spread over +-1000 / (c + 1), as cosine coefficients fall off), queries at the
// fill's k = 4096; and, for the construction, skewed points (most near one end of each
// coordinate's range, as a photograph's descriptors: most windows are smooth), whose splits
// are lopsided.
//   build:  constructing the tree (wall time, and the CPU time of all the process's threads);
//           counter bytes_per_point: what the tree allocates (the allocator's own count,
//           including its overhead), beyond the points themselves;
//   search: one annkSearch, eps 0, from a data point moved slightly.
// Compiled twice (bench/CMakeLists.txt): against the patched library, with the classic node
// tree and the compact form (built on 1 and 2 threads; searched depth-first, a leaf at a time,
// and by buckets), and against Debian's libANN (classic only), each in its own program.
#include <ANN/ANN.h>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr int kDim = 10;
constexpr int kNeighbours = 4096;
constexpr int kQueries = 64;

uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double uniform(uint64_t& state) {
    return static_cast<double>(nextRandom(state) >> 11) / 9007199254740992.0;
}

ANNpointArray makePoints(int n, bool skewed = false) {
    ANNpointArray points = annAllocPts(n, kDim);
    uint64_t state = 7;
    for (int p = 0; p < n; p++)
        for (int c = 0; c < kDim; c++) {
            const double u = uniform(state);
            points[p][c] = (skewed ? u * u * u * u : u * 2.0 - 1.0) * 1000.0 / (c + 1);
        }
    return points;
}

size_t allocatedBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// threads 0: the classic tree (bucket size 1, ANN_KD_SUGGEST); else the compact form.
ANNkd_tree* buildTree(ANNpointArray points, int n, int threads) {
#ifdef ANN_BENCH_PATCHED
    if (threads > 0)
        return new ANNkd_tree(points, n, kDim, ANN_KD_COMPACT, threads);
#else
    (void)threads;
#endif
    return new ANNkd_tree(points, n, kDim, 1, ANN_KD_SUGGEST);
}

// Arguments: n, threads (0: the classic tree), skewed points (1) or not (0).
void build(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    ANNpointArray points = makePoints(n, state.range(2) != 0);
    double bytes = 0;
    for (auto _ : state) {
        const size_t before = allocatedBytes();
        std::unique_ptr<ANNkd_tree> tree(buildTree(points, n, threads));
        bytes = static_cast<double>(allocatedBytes() - before) / n;
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_point"] = bytes;
    annDeallocPts(points);
}

// Arguments: n, form (0: the classic tree; 1: the compact form searched depth-first, a leaf at
// a time; 2: the compact form searched by buckets).
void search(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int form = static_cast<int>(state.range(1));
    ANNpointArray points = makePoints(n);
    // Queries before the compact form rearranges the points.
    std::vector<std::vector<double>> queries;
    uint64_t seed = 11;
    for (int q = 0; q < kQueries; q++) {
        const ANNpoint p = points[nextRandom(seed) % static_cast<uint64_t>(n)];
        std::vector<double> query(p, p + kDim);
        for (double& c : query)
            c += uniform(seed) - 0.5;
        queries.push_back(query);
    }
    std::unique_ptr<ANNkd_tree> tree(buildTree(points, n, form > 0 ? 2 : 0));
#ifdef ANN_BENCH_PATCHED
    annCompactPlainSearch(form == 1);
#endif
    std::vector<ANNidx> indices(kNeighbours);
    std::vector<ANNdist> distances(kNeighbours);
    size_t q = 0;
    for (auto _ : state) {
        tree->annkSearch(queries[q++ % kQueries].data(), kNeighbours, indices.data(),
                         distances.data(), 0.0);
        benchmark::DoNotOptimize(indices.data());
    }
#ifdef ANN_BENCH_PATCHED
    annCompactPlainSearch(false);
#endif
    tree.reset();
    annDeallocPts(points);
}

void sizes(benchmark::internal::Benchmark* b) {
    for (int n : {1 << 20, 1 << 22}) {
        b->Args({n, 0});
#ifdef ANN_BENCH_PATCHED
        b->Args({n, 1});
        b->Args({n, 2});
#endif
    }
}

void buildSizes(benchmark::internal::Benchmark* b) {
    for (int n : {1 << 20, 1 << 22})
        for (int skewed : {0, 1}) {
            b->Args({n, 0, skewed});
#ifdef ANN_BENCH_PATCHED
            b->Args({n, 1, skewed});
            b->Args({n, 2, skewed});
#endif
        }
}

BENCHMARK(build)
    ->Apply(buildSizes)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(search)->Apply(sizes)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
