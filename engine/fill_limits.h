// The fill's limits: the memory caps of a fill and the patch radius they allow, the memory
// the engine's grids take, the worker threads and searching ahead. The image side and the
// parameter block's field range are the block's (params/fill_parameters.h); the hosts' and the
// command line's limits are in tools/standin_host/host_limits.h. The README's limits table
// says the same for users. Not limited: k = W·H/1000, the neighbours searched per step, which
// is the fill's definition.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mendora {

// --- Memory caps of one fill ------------------------------------------------------------------

// Largest cosine basis the engine allocates: h^4 doubles grow fast with the radius (r = 40
// already needs 344 MB), and an allocation the system grants lazily could otherwise exhaust
// the host process's memory while it is filled in.
constexpr uint64_t kMaxBasisBytes = 512ull << 20;

// Largest equation system of one window estimate. A window of side h has up to J = h^2 - 1
// unknown pixels and E = 4J equations; M and TM hold E x J doubles each and MTM J x J, so
// the worst case is 72 J^2 bytes: 246 MB for r = 21, 295 MB for r = 22. Beyond this the run
// is refused at once instead of allocating (and zero-filling) that much in every step.
constexpr uint64_t kMaxEstimateBytes = 256ull << 20;

// Bytes of the equation system of a window estimate with `unknowns` unknown pixels, at most:
// M and TM of up to 4J x J doubles each and MTM of J x J, 72 J^2.
constexpr uint64_t estimateBytes(uint64_t unknowns) {
    const uint64_t equations = 4 * unknowns;
    return sizeof(double) * (2 * equations * unknowns + unknowns * unknowns);
}

// True when a window of side `h` (at most 65535) keeps the cosine basis and the worst window
// estimate within their caps; a run with a larger window ends with outOfMemory before it
// allocates anything of its own.
constexpr bool windowWithinMemoryCaps(int32_t h) {
    const uint64_t cells = static_cast<uint64_t>(h) * static_cast<uint64_t>(h);
    if (cells * cells > kMaxBasisBytes / sizeof(double))
        return false;
    return estimateBytes(cells - 1) <= kMaxEstimateBytes;
}

// The largest patch radius r whose window (side 2r + 1) is within the memory caps: 21.
constexpr int32_t largestPatchRadius() {
    int32_t r = 1;
    while (windowWithinMemoryCaps(2 * (r + 1) + 1))
        r++;
    return r;
}

// Coefficients that describe a window of side h (d): the smallest triangular number (the
// zig-zag's diagonals taken whole) of at least h^2 / 10 + 1, or h^2 / 10 + 1 itself when no
// diagonal of the window reaches it. Hosts count the descriptors' memory with it before a fill.
constexpr int32_t descriptorCoefficients(int32_t h) {
    const int32_t least = h * h / 10 + 1;
    int32_t diagonals = 0;
    for (int32_t t = 1; t <= h; t++) {
        diagonals += t;
        if (diagonals >= least)
            return diagonals;
    }
    return least;
}

// Bytes of one coefficient of a source window's descriptor: one of the search's coordinates.
constexpr uint64_t kDescriptorCoefficientBytes = sizeof(double);

// The descriptors are held in blocks of at most this size, each of whole descriptors: a
// 32-bit process rarely has one free range the size of all of them (880 MB at 11 MP with
// d = 10; bench/PERFORMANCE.md gives the largest free range measured under Wine).
constexpr size_t kDescriptorBlockBytes = 16u << 20;

// --- The engine's grids ----------------------------------------------------------------------

// Bytes a pixel that the engine's whole-image grids take in every run, whatever the
// selection: the fill state (1) and the word of CIELAB and grey (4). The confidences and the
// front's node references (16 more) are held only around the region: the selection's bounding
// box grown by the radius and one pixel.
constexpr uint64_t kGridBytesPerPixel = sizeof(char) + sizeof(uint32_t);

// --- Threads --------------------------------------------------------------------------------

// More threads than this gain nothing on the set-up's memory-bound scans. Never more than the
// machine's cores either.
constexpr int32_t kMaxWorkers = 16;

// The environment variable by which a user limits the threads of a fill, as OMP_NUM_THREADS
// does for OpenMP programs.
constexpr char kThreadLimitVariable[] = "MENDORA_THREADS";

// Searching ahead: jobs in hand at most (a further request replaces the oldest one not under
// way), and the largest window estimate a job makes. The loop's own estimate may take up to
// kMaxEstimateBytes at the same time; a second one that large would make whether a fill runs
// out of memory depend on the thread count. 16 MB: every window up to radius 10 (440
// unknowns, 13.9 MB), and every window with at most 482 unknowns.
constexpr size_t kMaxAheadJobs = 4;
constexpr uint64_t kMaxAheadEstimateBytes = 16ull << 20;

} // namespace mendora
