// The memory budget of a fill. In: the machine and the process limits. Out: a ceiling in
// bytes, and the least a fill takes per pixel.
#include "tools/mendora/memory_budget.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/sysinfo.h>
#endif

namespace mendora::cli {

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
    uint64_t ceiling =
        (static_cast<uint64_t>(machine.totalram) + machine.totalswap) * machine.mem_unit;
    if (sizeof(void*) == 4)
        ceiling = std::min<uint64_t>(ceiling, uint64_t{4} << 30);
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        struct rlimit limit {};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
            ceiling = std::min<uint64_t>(ceiling, limit.rlim_cur);
    }
    return ceiling;
#endif
}

} // namespace mendora::cli
