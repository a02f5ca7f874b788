// The about box's host suite, shared by the terminal form and the Win32 dialog.
// In: address button clicks and the host's suite access. Out: addresses handed to the host.
#include "ui/about_suite.h"

#include <cstdlib>
#include <string>

#include "ui/dialog_rules.h"

namespace mendora {

namespace {

// The file-list suite, once acquired, and the host's routine that gives it back. The routine
// is copied out of the host's access record, which may live only as long as the about call.
const FileListSuite4* fileListSuite = nullptr;
ReleaseSuiteProc fileListSuiteRelease = nullptr;

#ifndef _WIN32
// An exit handler registered from inside a loaded library belongs to that library: it runs
// when the library is unloaded (or when the process ends, if that comes first). On Windows the
// library's load entry gives the suite back instead.
bool releaseArranged = false;
#else
constexpr bool releaseArranged = true;
#endif

// The suite, acquired through `access` when it is not held yet; null when there is none.
const FileListSuite4* heldFileListSuite(const BasicSuiteAccess* access) {
    if (fileListSuite != nullptr)
        return fileListSuite;
    if (access == nullptr)
        return nullptr;
    if (access->acquireSuite == nullptr)
        return nullptr;
    const void* suite = nullptr;
    if (access->acquireSuite(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION, &suite) != 0)
        return nullptr;
    if (suite == nullptr) {
        // Acquired, yet nothing to use: given back at once rather than held until unload.
        if (access->releaseSuite != nullptr)
            access->releaseSuite(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION);
        return nullptr;
    }
    fileListSuite = static_cast<const FileListSuite4*>(suite);
    fileListSuiteRelease = access->releaseSuite;
#ifndef _WIN32
    if (!releaseArranged)
        releaseArranged = std::atexit(releaseAboutBoxSuite) == 0;
#endif
    return fileListSuite;
}

} // namespace

void browseAboutAddress(const BasicSuiteAccess* access, std::string_view buttonText) {
    // Formed before the suite is touched: an out-of-memory failure leaves nothing acquired.
    const std::string address = aboutAddress(buttonText);
    const FileListSuite4* suite = heldFileListSuite(access);
    if (suite == nullptr)
        return;
    if (suite->browseUrl != nullptr)
        suite->browseUrl(address.c_str());
    // Without a release at unload the host would keep the suite for a library that is gone;
    // then it is given back after each click instead.
    if (!releaseArranged)
        releaseAboutBoxSuite();
}

void releaseAboutBoxSuite() {
    if (fileListSuite != nullptr && fileListSuiteRelease != nullptr)
        fileListSuiteRelease(VLMR_FILE_LIST_SUITE_NAME, VLMR_FILE_LIST_SUITE_VERSION);
    fileListSuite = nullptr;
    fileListSuiteRelease = nullptr;
}

} // namespace mendora
