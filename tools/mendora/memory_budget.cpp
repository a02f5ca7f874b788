// The memory budget of a run. In: the machine and the process limits, the files' headers.
// Out: a ceiling in bytes, and the least a run takes.
#include "tools/mendora/memory_budget.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "tools/standin_host/host_limits.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <malloc.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#endif

namespace mendora::cli {

namespace {

#ifndef _WIN32
// The number in the control group file `path` ("max" and a missing file give 0).
uint64_t groupValue(const std::string& path) {
    std::ifstream in(path);
    uint64_t value = 0;
    return in >> value ? value : 0;
}

// The least memory limit of this process's control group and those above it (cgroup v2),
// with their swap limit (or the machine's swap where none is set); 0 when none is set.
uint64_t groupLimit(uint64_t machineSwap) {
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    std::string group;
    while (std::getline(groups, line))
        if (line.rfind("0::", 0) == 0)
            group = line.substr(3);
    if (group.empty())
        return 0;
    uint64_t least = 0;
    for (;;) {
        const std::string folder = "/sys/fs/cgroup" + (group == "/" ? "" : group);
        const uint64_t memory = groupValue(folder + "/memory.max");
        if (memory != 0) {
            const uint64_t swap = groupValue(folder + "/memory.swap.max");
            const uint64_t limit = memory + (swap != 0 ? std::min(swap, machineSwap) : machineSwap);
            least = least == 0 ? limit : std::min(least, limit);
        }
        const size_t slash = group.rfind('/');
        if (group == "/" || slash == std::string::npos)
            return least;
        group = slash == 0 ? "/" : group.substr(0, slash);
    }
}

bool processLimited() {
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            return true;
    }
    return false;
}
#endif

} // namespace

uint64_t memoryCeiling() {
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    // ullTotalVirtual is the user address space: 2 GB for a 32-bit process.
    return std::min<uint64_t>(status.ullTotalPhys + status.ullTotalPageFile,
                              status.ullTotalVirtual);
#else
    struct sysinfo machine {};
    if (sysinfo(&machine) != 0)
        return 0;
    const uint64_t swap = static_cast<uint64_t>(machine.totalswap) * machine.mem_unit;
    uint64_t ceiling = static_cast<uint64_t>(machine.totalram) * machine.mem_unit + swap;
    if (sizeof(void*) == 4)
        ceiling = std::min<uint64_t>(ceiling, uint64_t{4} << 30);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            ceiling = std::min<uint64_t>(ceiling, limit.rlim_cur);
    }
    const uint64_t group = groupLimit(swap);
    if (group != 0)
        ceiling = std::min(ceiling, group);
    return ceiling;
#endif
}

uint64_t leastRunBytes(const ImageHeader& image, const ImageHeader* mask,
                       uint64_t descriptorBytes) {
    // At most 32767 x 32767 pixels of 8 bytes each a side: every sum below stays far inside
    // 64 bits (descriptorBytes is at most 2^30 windows of a few hundred bytes).
    const uint64_t pixels =
        static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
    const auto sampleBytes = [&pixels](const ImageHeader& header) {
        return pixels * static_cast<uint64_t>(header.channels) *
               static_cast<uint64_t>(header.bits / 8);
    };
    const uint64_t samples = sampleBytes(image);
    const uint64_t rgb = pixels * 3;
    const uint64_t selection = pixels;
    // 8-bit RGB samples are the fill's input as they are; any other are converted to RGB
    // while they are held.
    const bool plain = image.channels == 3 && image.bits == 8;
    const bool kept = image.channels == 2 || image.channels == 4 || image.bits == 16;
    const uint64_t keptBytes = kept ? samples : 0;
    const uint64_t decodingMask =
        mask == nullptr ? 0 : sampleBytes(*mask) + mask->decoderBytes + selection;
    // A mask's selection is made before the image is decoded; --region's after it.
    const uint64_t decodingImage =
        samples + image.decoderBytes + (plain ? 0 : rgb) + (mask == nullptr ? 0 : selection);
    const uint64_t selectionKept = kept ? pixels : 0;
    const uint64_t filling =
        pixels * kLeastFillBytesPerPixel + descriptorBytes + keptBytes + selectionKept;
    // The filled RGB, the kept samples and the selection, and the output's samples composed
    // of them (at most the kept samples' size).
    const uint64_t composing = rgb + keptBytes + selectionKept + keptBytes;
    return std::max({decodingMask, decodingImage, filling, composing});
}

uint64_t leastDescriptorBytes(int32_t width, int32_t height, int32_t left, int32_t top,
                              int32_t right, int32_t bottom, uint64_t selected, int32_t radius) {
    const int64_t side = 2 * static_cast<int64_t>(radius) + 1;
    const int64_t across = std::min(right, width) - std::max(left, 0) - (side - 1);
    const int64_t down = std::min(bottom, height) - std::max(top, 0) - (side - 1);
    if (across <= 0 || down <= 0)
        return 0;
    const uint64_t windows = static_cast<uint64_t>(across) * static_cast<uint64_t>(down);
    // A selected pixel spoils at most side^2 windows (at most 2^30 x 43^2: inside 64 bits).
    const uint64_t spoiled = selected * static_cast<uint64_t>(side * side);
    if (spoiled >= windows)
        return 0;
    const int32_t d = descriptorCoefficients(static_cast<int32_t>(side));
    return (windows - spoiled) * static_cast<uint64_t>(d) * kDescriptorCoefficientBytes;
}

void fitAllocatorToLimits() {
#ifndef _WIN32
    if (processLimited())
        mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace mendora::cli
