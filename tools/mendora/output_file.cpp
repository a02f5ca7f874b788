// The whole-or-nothing output file. In: the output's name and its encoded bytes. Out: the file
// in place, or an untouched folder and the reason.
#include "tools/mendora/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/mendora/file_names.h"
#include "tools/standin_host/filter_run.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <share.h>
#else
#include <sys/random.h>
#include <unistd.h>
#endif

namespace mendora::cli {

namespace fs = std::filesystem;

namespace {

// The temporary file being written, for the signal handler, and whether it exists. On Windows
// its whole name, in wide characters so that any folder's name works; elsewhere its folder (a
// descriptor, so that a folder path near the system's limit still takes the longer temporary
// name) and its name there. Owned by replaceWhole; read by removePendingAndReraise.
fs::path::value_type pendingTemporary[4096];
volatile std::sig_atomic_t pendingExists = 0;
#ifndef _WIN32
volatile std::sig_atomic_t pendingFolder = -1;
#endif

// What else the handler does before the program ends (restoring a terminal), or null.
void (*volatile alsoOnSignal)() = nullptr;

extern "C" void removePendingAndReraise(int signal) {
    if (pendingExists != 0) {
#ifdef _WIN32
        _wunlink(pendingTemporary);
#else
        unlinkat(pendingFolder, pendingTemporary, 0);
#endif
    }
    if (alsoOnSignal != nullptr)
        alsoOnSignal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The signals after which the temporary file is removed before the program ends.
#ifdef _WIN32
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM};
#else
constexpr int kCleanedSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,
                                   SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};
#endif

fs::path folderOf(const fs::path& path) {
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

// Signals that would end the program while the temporary file exists are held back from
// its creation until its name is recorded, so that the handler always knows it.
struct SignalsHeld {
#ifndef _WIN32
    sigset_t previous;
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kCleanedSignals)
            sigaddset(&held, signal);
        sigprocmask(SIG_BLOCK, &held, &previous);
    }
    ~SignalsHeld() {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
#endif
};

#ifndef _WIN32
// A test's way to deliver a signal at the moment the temporary file is complete, before its
// rename (MENDORA_TEST_SIGNAL_BEFORE_RENAME=N raises signal N there): the moment a signal
// would otherwise leave the file behind, reached without waiting on the scheduler.
void testSignalBeforeRename() {
    static const long signal = runner::testHookNumber("MENDORA_TEST_SIGNAL_BEFORE_RENAME");
    if (signal > 0)
        std::raise(static_cast<int>(signal));
}

void closeFolder() {
    if (pendingFolder >= 0)
        close(pendingFolder);
    pendingFolder = -1;
}
#endif

#ifdef _WIN32
// Records `name` as the pending temporary file's. Returns false with errno ENAMETOOLONG when it
// is too long to hold.
bool recordPending(const fs::path& name) {
    const fs::path::string_type& text = name.native();
    if (text.size() >= sizeof pendingTemporary / sizeof pendingTemporary[0]) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(pendingTemporary, text.c_str(), (text.size() + 1) * sizeof pendingTemporary[0]);
    return true;
}
#endif

// Creates a new temporary file in `folder` exclusively (an existing name, a link or a pipe
// among them, is never opened) and records it as pending. Returns its descriptor, or -1
// with errno set.
int createPending(const fs::path& folder) {
#ifdef _WIN32
    [[maybe_unused]] SignalsHeld held;
    // No mkstemp: a name from the process and a counter, created only when it is new.
    static unsigned counter = 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
        if (!recordPending(folder / (".mendora-" + std::to_string(_getpid()) + "-" +
                                     std::to_string(counter++))))
            break;
        if (_wsopen_s(&fd, pendingTemporary, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYRW,
                      _S_IREAD | _S_IWRITE) != 0)
            fd = -1;
        if (fd < 0 && errno != EEXIST)
            break;
    }
#else
    [[maybe_unused]] SignalsHeld held;
    closeFolder();
    pendingFolder = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (pendingFolder < 0)
        return -1;
    // mkostemp's names, made here because it takes no folder descriptor.
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
        unsigned char random[6] = {};
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        std::string name = ".mendora-";
        for (const unsigned char byte : random)
            name += letters[byte % (sizeof letters - 1)];
        std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
        fd = openat(pendingFolder, pendingTemporary, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
#endif
    if (fd >= 0)
        pendingExists = 1;
    return fd;
}

void removePending() {
    [[maybe_unused]] SignalsHeld held;
    if (pendingExists != 0) {
#ifdef _WIN32
        std::error_code ignored;
        fs::remove(pendingTemporary, ignored);
#else
        unlinkat(pendingFolder, pendingTemporary, 0);
#endif
    }
    pendingExists = 0;
}

// Writes all of `bytes` to `fd` and flushes them to the disk. Returns 0 or an errno value.
int writeAndFlush(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
#ifdef _WIN32
        const unsigned chunk =
            static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1u << 30));
        const int written = _write(fd, bytes.data() + done, chunk);
#else
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        done += static_cast<size_t>(written);
    }
#ifdef _WIN32
    return _commit(fd) == 0 ? 0 : errno;
#else
    return fsync(fd) == 0 ? 0 : errno;
#endif
}

int closeFile(int fd) {
#ifdef _WIN32
    return _close(fd) == 0 ? 0 : errno;
#else
    return close(fd) == 0 ? 0 : errno;
#endif
}

// The permissions a new file gets in this process (0666 less the umask), read once.
fs::perms newFilePermissions() {
#ifdef _WIN32
    return fs::perms::owner_read | fs::perms::owner_write;
#else
    static const mode_t mask = [] {
        const mode_t current = umask(0);
        umask(current);
        return current;
    }();
    return static_cast<fs::perms>(0666 & ~mask);
#endif
}

// Makes the rename itself durable. Best effort: some file systems cannot flush a folder
// (EINVAL), and the output is complete and in place by now either way.
void flushFolder(const fs::path& folder) {
#ifndef _WIN32
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
#else
    (void)folder;
#endif
}

#ifndef _WIN32
// Gives the temporary file `fd` the replaced file's owner and group (`existing`) where this
// process may set them: root sets both; another user keeps its own and may set a group it
// belongs to. Failures leave the file as this process made it.
void keepOwner(int fd, const struct stat& existing) {
    if (fchown(fd, existing.st_uid, existing.st_gid) != 0)
        (void)fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
}

// Checks what the file system's own limits say of the name `path` in `folder`: its last part
// at most the folder's NAME_MAX bytes, the whole at most PATH_MAX less its ending zero; and
// that an existing file there can be replaced: in a sticky folder (like /tmp) only the file's
// or the folder's owner, or root, may rename over it.
bool fitsFolder(const fs::path& path, const fs::path& folder, std::string& error) {
    const std::string name = path.filename().string();
    const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && name.size() > static_cast<size_t>(nameMax)) {
        error = "cannot write: its name is " + std::to_string(name.size()) +
                " bytes, more than the " + std::to_string(nameMax) + " its folder takes";
        return false;
    }
    const long pathMax = pathconf(folder.c_str(), _PC_PATH_MAX);
    if (pathMax > 0 && path.string().size() >= static_cast<size_t>(pathMax)) {
        error = "cannot write: the path is " + std::to_string(path.string().size()) +
                " bytes, more than the " + std::to_string(pathMax - 1) + " the system takes";
        return false;
    }
    struct stat folderStatus {};
    struct stat existing {};
    if (stat(folder.c_str(), &folderStatus) != 0 || lstat(path.c_str(), &existing) != 0)
        return true;
    const uid_t self = geteuid();
    if ((folderStatus.st_mode & S_ISVTX) != 0 && self != 0 && existing.st_uid != self &&
        folderStatus.st_uid != self) {
        error = "cannot replace it: it belongs to another user, and its folder lets only a "
                "file's owner replace it (sticky bit)";
        return false;
    }
    return true;
}
#endif

} // namespace

bool checkWritable(const std::string& path, std::string& error) {
    std::error_code failure;
    if (fs::is_directory(fs::status(pathOf(path), failure))) {
        error = "is a folder, not a file name";
        return false;
    }
    const fs::path folder = folderOf(pathOf(path));
    const fs::file_status folderStatus = fs::status(folder, failure);
    if (!fs::exists(folderStatus)) {
        error = "cannot write: its folder " + nameOf(folder) + " does not exist";
        return false;
    }
    if (!fs::is_directory(folderStatus)) {
        error = "cannot write: " + nameOf(folder) + " is not a folder";
        return false;
    }
#ifndef _WIN32
    if (!fitsFolder(path, folder, error))
        return false;
#endif
    newFilePermissions();
    const int fd = createPending(folder);
    if (fd < 0) {
        error = std::string("cannot write into its folder: ") + std::strerror(errno);
        return false;
    }
    closeFile(fd);
    removePending();
    return true;
}

bool replaceWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
    const fs::path target = pathOf(path);
    const int fd = createPending(folderOf(target));
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    int failed = writeAndFlush(fd, bytes);
#ifdef _WIN32
    const int closeFailed = closeFile(fd);
    if (failed == 0)
        failed = closeFailed;
    std::error_code failure;
    if (failed == 0) {
        // A replaced regular file keeps its permissions; a link is replaced, not followed.
        const fs::file_status existing = fs::symlink_status(target, failure);
        fs::permissions(
            pendingTemporary,
            fs::is_regular_file(existing) ? existing.permissions() : newFilePermissions(), failure);
        failure.clear();
        fs::rename(pendingTemporary, target, failure);
        if (!failure) {
            pendingExists = 0;
            flushFolder(folderOf(target));
            return true;
        }
        error = failure.message();
    } else {
        error = std::strerror(failed);
    }
#else
    const std::string name = target.filename().string();
    if (failed == 0) {
        // A replaced regular file keeps its owner and group where this process may set them,
        // and its permissions without set-user-ID, set-group-ID and sticky bits (chown clears
        // the first two; they are never carried to a file the fill wrote). A link is replaced,
        // not followed.
        struct stat existing {};
        mode_t mode = static_cast<mode_t>(newFilePermissions());
        if (fstatat(pendingFolder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(existing.st_mode)) {
            keepOwner(fd, existing);
            mode = existing.st_mode & 0777;
        }
        if (fchmod(fd, mode) != 0)
            failed = errno;
    }
    const int closeFailed = closeFile(fd);
    if (failed == 0)
        failed = closeFailed;
    if (failed == 0) {
        testSignalBeforeRename();
        if (renameat(pendingFolder, pendingTemporary, pendingFolder, name.c_str()) == 0) {
            pendingExists = 0;
            flushFolder(folderOf(target));
            closeFolder();
            return true;
        }
        failed = errno;
    }
    error = std::strerror(failed);
#endif
    removePending();
    return false;
}

#ifndef _WIN32
bool catchUnlessIgnored(int signal, void (*handler)(int), struct sigaction* previous) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return false;
    if (previous != nullptr)
        *previous = current;
    struct sigaction caught {};
    caught.sa_handler = handler;
    sigemptyset(&caught.sa_mask);
    return sigaction(signal, &caught, nullptr) == 0;
}
#endif

void removeOnSignals(void (*alsoOnSignalThen)()) {
    alsoOnSignal = alsoOnSignalThen;
    for (const int signal : kCleanedSignals) {
#ifdef _WIN32
        std::signal(signal, removePendingAndReraise);
#else
        catchUnlessIgnored(signal, removePendingAndReraise);
#endif
    }
#ifndef _WIN32
    // A file size limit reached while writing is an error of the write (EFBIG), which removes
    // the temporary file and says why, not a signal that ends the program with it left.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace mendora::cli
