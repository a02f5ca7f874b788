// Search results over generated point sets, written byte for byte for comparing two builds of
// the search library. In: the output file's path. Out: for every search, the k indices (32 bits
// each) and the k distances (their 64 bits), in the order returned, then the tree as its
// Dump() prints it; exit status 0, or 1 with a message on standard error.
//
// The same source is compiled against the patched library and against Debian's unmodified
// one, each in its own program, and tests/ann/CMakeLists.txt compares the two files. The point
// sets are the ones where ties decide: random points, few points repeated many times, points
// on a small lattice; the queries are random points and exact copies of data points. With the
// patched library the program writes the results and the dump of the compact tree form in
// place of the second copy of the classic tree's, and checks in its own process that
// concurrent searches of one tree, the plain depth-first search (the compact tree searches by
// buckets otherwise) and searches split into parts equal serial whole ones.
#include <ANN/ANN.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>
#ifdef ANN_DUMP_PATCHED
#include <thread>

#include "lib/ann_compact/kd_compact_split.h"
#endif

namespace {

enum class Layout { random, repeated, lattice, tenths, signedZeros };

struct PointSet {
    int n = 0;
    int dim = 0;
    ANNpointArray points = nullptr;
    std::vector<std::vector<double>> queries;
};

// splitmix64: the same sequence in both programs, whatever their standard library.
uint64_t nextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A coordinate of the layout: uniform in [-1000, 1000) with 53 random bits, one of 8 fixed
// points, a lattice position 0..3, one of 0.1, 0.3, 0.5 and 0.7 (no binary fraction:
// sums of their squared differences round, so equal distances and box distances computed in
// different orders can differ in their last bit), or one of -0, 0, 0.5 and 1 (the two zeros
// compare equal, but a range, and so the bounding box or a cut value, keeps the sign of the one
// found first).
double coordinate(Layout layout, uint64_t& state) {
    if (layout == Layout::signedZeros) {
        const double values[] = {-0.0, 0.0, 0.5, 1.0};
        return values[nextRandom(state) % 4];
    }
    if (layout == Layout::lattice)
        return static_cast<double>(nextRandom(state) % 4);
    if (layout == Layout::tenths)
        return static_cast<double>(nextRandom(state) % 4 * 2 + 1) / 10.0;
    return static_cast<double>(nextRandom(state) >> 11) * (2000.0 / 9007199254740992.0) - 1000.0;
}

PointSet makeSet(Layout layout, int n, int dim, int queryCount, uint64_t seed) {
    PointSet set;
    set.n = n;
    set.dim = dim;
    set.points = annAllocPts(n, dim);
    uint64_t state = seed;
    const int distinct = 8;
    std::vector<double> pool(static_cast<size_t>(distinct * dim));
    for (double& c : pool)
        c = coordinate(Layout::random, state);
    for (int p = 0; p < n; p++) {
        const int source = static_cast<int>(nextRandom(state) % distinct);
        for (int c = 0; c < dim; c++)
            set.points[p][c] = layout == Layout::repeated
                                   ? pool[static_cast<size_t>(source * dim + c)]
                                   : coordinate(layout, state);
    }
    // Half the queries new points, half exact copies of data points.
    for (int q = 0; q < queryCount; q++) {
        std::vector<double> query(static_cast<size_t>(dim));
        const int copied = static_cast<int>(nextRandom(state) % static_cast<uint64_t>(n));
        for (int c = 0; c < dim; c++)
            query[static_cast<size_t>(c)] =
                q % 2 == 1 ? set.points[copied][c] : coordinate(layout, state);
        set.queries.push_back(query);
    }
    return set;
}

struct Result {
    std::vector<ANNidx> indices;
    std::vector<ANNdist> distances;
};

Result search(ANNkd_tree& tree, std::vector<double>& query, int k) {
    Result result;
    result.indices.resize(static_cast<size_t>(k));
    result.distances.resize(static_cast<size_t>(k));
    tree.annkSearch(query.data(), k, result.indices.data(), result.distances.data(), 0.0);
    return result;
}

std::vector<Result> searchAll(ANNkd_tree& tree, PointSet& set, const std::vector<int>& ks) {
    std::vector<Result> results;
    for (int k : ks)
        for (std::vector<double>& query : set.queries)
            results.push_back(search(tree, query, k));
    return results;
}

// The tree as its Dump() prints it, without the points unless asked.
std::string dumpText(ANNkd_tree& tree, ANNbool withPoints = ANNfalse) {
    std::ostringstream dump;
    tree.Dump(withPoints, dump);
    return dump.str();
}

// The results, then the dump.
void write(FILE* out, const std::vector<Result>& results, const std::string& dump) {
    for (const Result& result : results) {
        fwrite(result.indices.data(), sizeof(ANNidx), result.indices.size(), out);
        fwrite(result.distances.data(), sizeof(ANNdist), result.distances.size(), out);
    }
    fwrite(dump.data(), 1, dump.size(), out);
}

#ifdef ANN_DUMP_PATCHED
bool sameResults(const std::vector<Result>& a, const std::vector<Result>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t s = 0; s < a.size(); s++)
        if (a[s].indices != b[s].indices ||
            std::memcmp(a[s].distances.data(), b[s].distances.data(),
                        a[s].distances.size() * sizeof(ANNdist)) != 0)
            return false;
    return true;
}

// Every query at every k of the list, from four threads at once, each thread taking every
// fourth search; true when the results equal the serial ones.
bool concurrentEqualsSerial(ANNkd_tree& tree, PointSet& set, const std::vector<int>& ks,
                            const std::vector<Result>& serial) {
    const size_t threads = 4;
    std::vector<Result> parallel(serial.size());
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; t++)
        workers.emplace_back([&, t] {
            for (size_t s = t; s < serial.size(); s += threads)
                parallel[s] =
                    search(tree, set.queries[s % set.queries.size()], ks[s / set.queries.size()]);
        });
    for (std::thread& worker : workers)
        worker.join();
    if (sameResults(serial, parallel))
        return true;
    std::fprintf(stderr, "concurrent searches differ from serial ones (n %d, d %d)\n", set.n,
                 set.dim);
    return false;
}

// True when the depth-first search one leaf at a time (the library's test switch) finds what
// the default search by buckets found.
bool plainEqualsBuckets(ANNkd_tree& tree, PointSet& set, const std::vector<int>& ks,
                        const std::vector<Result>& buckets) {
    annCompactPlainSearch(true);
    const std::vector<Result> plain = searchAll(tree, set, ks);
    annCompactPlainSearch(false);
    if (sameResults(buckets, plain))
        return true;
    std::fprintf(stderr, "the search by buckets differs from the plain one (n %d, d %d)\n", set.n,
                 set.dim);
    return false;
}

// Runners for a search split into parts: every worker on a thread of its own, at once; and
// the workers one after another, so that the first takes every part in turn, each starting
// from the bound of all the parts before it.
void runOnThreads(int workers, ANNcompactJob job, void* context) {
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; w++)
        threads.emplace_back(job, context, w);
    job(context, 0);
    for (std::thread& thread : threads)
        thread.join();
}

void runInTurn(int workers, ANNcompactJob job, void* context) {
    for (int w = 0; w < workers; w++)
        job(context, w);
}

// True when the search split into parts, run both ways, finds what the whole search found.
bool splitEqualsWhole(ANNkd_tree& tree, PointSet& set, const std::vector<int>& ks,
                      const std::vector<Result>& whole) {
    bool same = true;
    for (ANNcompactRunner runner : {runOnThreads, runInTurn}) {
        annCompactSetSplit(runner, 4);
        same = sameResults(whole, searchAll(tree, set, ks)) && same;
        annCompactSetSplit(nullptr, 0);
    }
    if (!same)
        std::fprintf(stderr, "the search in parts differs from the whole one (n %d, d %d)\n", set.n,
                     set.dim);
    return same;
}

// Where a compact form's points lie: a pointer array (the default), or blocks of 2^bits.
struct PointsHeld {
    bool blocks = false;
    int bits = 0;
};

// The compact form built on the given threads, over a copy of the points (it rearranges
// them) held as asked: its results and its dump; true when its other searches agree (at
// once, depth-first) and its dump with the points is the classic tree's,
// `classicWithPoints` (when not empty).
bool searchCompact(PointSet& set, const std::vector<int>& ks, int threads, PointsHeld held,
                   const std::string& classicWithPoints, std::vector<Result>& results,
                   std::string& dump) {
    const size_t dim = static_cast<size_t>(set.dim);
    const size_t n = static_cast<size_t>(set.n);
    // A pointer array points into one block.
    const size_t perBlock = size_t{1} << (held.blocks ? held.bits : 31);
    std::vector<std::vector<ANNcoord>> blocks((n - 1) / perBlock + 1);
    std::vector<ANNcoord*> blockList;
    for (std::vector<ANNcoord>& block : blocks) {
        block.resize(std::min(perBlock, n) * dim);
        blockList.push_back(block.data());
    }
    std::vector<ANNcoord*> pointers;
    for (size_t p = 0; p < n; p++) {
        pointers.push_back(blockList[p / perBlock] + p % perBlock * dim);
        std::memcpy(pointers.back(), set.points[p], sizeof(ANNcoord) * dim);
    }
    bool ok;
    {
        std::unique_ptr<ANNkd_tree> built(
            held.blocks ? new ANNkd_tree(blockList.data(), held.bits, set.n, set.dim,
                                         ANN_KD_COMPACT, threads)
                        : new ANNkd_tree(pointers.data(), set.n, set.dim, ANN_KD_COMPACT, threads));
        ANNkd_tree& tree = *built;
        results = searchAll(tree, set, ks);
        dump = dumpText(tree);
        // Over blocks the searches differ only in how they reach a point: the depth-first
        // search is compared, the searches at once are the pointer array's.
        ok = held.blocks || concurrentEqualsSerial(tree, set, ks, results);
        ok = plainEqualsBuckets(tree, set, ks, results) && ok;
        ok = splitEqualsWhole(tree, set, ks, results) && ok;
        if (!classicWithPoints.empty() && dumpText(tree, ANNtrue) != classicWithPoints) {
            std::fprintf(stderr, "a compact tree prints other points (n %d, d %d)\n", set.n,
                         set.dim);
            ok = false;
        }
    }
    return ok;
}

// Writes the compact form's results and dump; true when its searches are safe to run at
// once and building it on 2 or 8 threads gives the same tree and results as on one. The
// last build takes 8 threads whatever the machine's cores, each handing subtrees to the pool
// whether or not another waits (the library's test switch): the hand-over then happens
// without depending on timing.
bool writeCompact(FILE* out, PointSet& set, const std::vector<int>& ks,
                  const std::string& classicWithPoints) {
    std::vector<Result> results;
    std::string dump;
    bool ok = searchCompact(set, ks, 1, PointsHeld{}, classicWithPoints, results, dump);
    write(out, results, dump);
    // Also the points in blocks of one point, of 2^10 and in one block of 2^31.
    const struct {
        int threads;
        bool shareAlways;
        PointsHeld held;
    } builds[] = {{2, false, {}},        {8, false, {}},        {8, true, {}},
                  {1, false, {true, 0}}, {2, true, {true, 10}}, {8, true, {true, 31}}};
    for (const auto& [threads, shareAlways, held] : builds) {
        annCompactShareAlways(shareAlways);
        std::vector<Result> other;
        std::string otherDump;
        ok = searchCompact(set, ks, threads, held, classicWithPoints, other, otherDump) && ok;
        annCompactShareAlways(false);
        if (otherDump != dump || !sameResults(other, results)) {
            std::fprintf(stderr, "%d threads%s, blocks of 2^%d, build another tree (n %d, d %d)\n",
                         threads, shareAlways ? " always sharing" : "",
                         held.blocks ? held.bits : -1, set.n, set.dim);
            ok = false;
        }
    }
    return ok;
}
#endif

// Writes every query's result at every k of the list and the tree, twice: from the classic
// tree, then from the compact form (Debian's library: the classic tree again).
bool dumpSet(FILE* out, PointSet& set, const std::vector<int>& ks) {
    ANNkd_tree tree(set.points, set.n, set.dim, 1, ANN_KD_SUGGEST);
    const std::vector<Result> results = searchAll(tree, set, ks);
    const std::string dump = dumpText(tree);
    write(out, results, dump);
#ifdef ANN_DUMP_PATCHED
    const bool classicOk = concurrentEqualsSerial(tree, set, ks, results);
    // The points printed only for the small sets (a large one's print takes seconds).
    const std::string withPoints = set.n <= 64 ? dumpText(tree, ANNtrue) : std::string();
    return writeCompact(out, set, ks, withPoints) && classicOk;
#else
    write(out, results, dump);
    return true;
#endif
}

std::vector<int> everyK(int n) {
    std::vector<int> ks;
    for (int k = 1; k <= n; k++)
        ks.push_back(k);
    return ks;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ann_dump OUTPUT\n");
        return 1;
    }
    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "ann_dump: cannot write %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    uint64_t seed = 1;
    const Layout layouts[] = {Layout::random, Layout::repeated, Layout::lattice, Layout::tenths,
                              Layout::signedZeros};
    // Small sets, every k from 1 to n; the patch radii's descriptor sizes.
    for (Layout layout : layouts)
        for (int dim : {3, 10, 21}) {
            PointSet set = makeSet(layout, 64, dim, 12, seed++);
            ok = ok && dumpSet(out, set, everyK(set.n));
            annDeallocPts(set.points);
        }
    // More dimensions than the search by buckets holds a cut dimension of (it leaves such
    // trees to the depth-first search), random and full of ties.
    for (Layout layout : {Layout::random, Layout::repeated}) {
        PointSet set = makeSet(layout, 300, 260, 4, seed++);
        ok = ok && dumpSet(out, set, {1, 9, 64, 300});
        annDeallocPts(set.points);
    }
    // Large sets at the k of a fill (thousands), random and full of ties.
    for (Layout layout : layouts) {
        const bool lattice = layout == Layout::lattice;
        PointSet set = makeSet(layout, 100000, lattice ? 3 : 10, 6, seed++);
        ok = ok && dumpSet(out, set, {1, 9, 130, 1000, 4096});
        annDeallocPts(set.points);
    }
    annClose();
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "ann_dump: failed\n");
        return 1;
    }
    return 0;
}
