// The whole-or-nothing output file. In: the output's name and its encoded bytes. Out: the file
// in place, or an untouched folder and the reason.
#include "tools/mendora/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace mendora::cli {

namespace fs = std::filesystem;

namespace {

// The temporary file being written, for the signal handler: its name, and whether it exists.
// Owned by replaceWhole; read by removePendingAndReraise.
char pendingTemporary[4096];
volatile std::sig_atomic_t pendingExists = 0;

extern "C" void removePendingAndReraise(int signal) {
    if (pendingExists != 0) {
#ifdef _WIN32
        _unlink(pendingTemporary);
#else
        unlink(pendingTemporary);
#endif
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

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
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        sigprocmask(SIG_BLOCK, &held, &previous);
    }
    ~SignalsHeld() {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
    }
#endif
};

// Creates a new temporary file in `folder` exclusively (an existing name, a link or a pipe
// among them, is never opened) and records it as pending. Returns its descriptor, or -1
// with errno set.
int createPending(const fs::path& folder) {
    const std::string name = (folder / ".mendora-XXXXXX").string();
    if (name.size() >= sizeof pendingTemporary) {
        errno = ENAMETOOLONG;
        return -1;
    }
    [[maybe_unused]] SignalsHeld held;
    std::memcpy(pendingTemporary, name.c_str(), name.size() + 1);
#ifdef _WIN32
    // No mkstemp: a name from the process and a counter, created only when it is new.
    static unsigned counter = 0;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; attempt++) {
        const std::string unique =
            (folder / (".mendora-" + std::to_string(_getpid()) + "-" + std::to_string(counter++)))
                .string();
        std::memcpy(pendingTemporary, unique.c_str(), unique.size() + 1);
        if (_sopen_s(&fd, pendingTemporary, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYRW,
                     _S_IREAD | _S_IWRITE) != 0)
            fd = -1;
        if (fd < 0 && errno != EEXIST)
            break;
    }
#else
    const int fd = mkostemp(pendingTemporary, O_CLOEXEC);
#endif
    if (fd >= 0)
        pendingExists = 1;
    return fd;
}

void removePending() {
    [[maybe_unused]] SignalsHeld held;
    if (pendingExists != 0) {
        std::error_code ignored;
        fs::remove(pendingTemporary, ignored);
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

} // namespace

bool checkWritable(const std::string& path, std::string& error) {
    std::error_code failure;
    if (fs::is_directory(fs::status(path, failure))) {
        error = "is a folder, not a file name";
        return false;
    }
    const fs::path folder = folderOf(path);
    const fs::file_status folderStatus = fs::status(folder, failure);
    if (!fs::exists(folderStatus)) {
        error = "cannot write: its folder " + folder.string() + " does not exist";
        return false;
    }
    if (!fs::is_directory(folderStatus)) {
        error = "cannot write: " + folder.string() + " is not a folder";
        return false;
    }
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
    const fs::path target(path);
    const int fd = createPending(folderOf(target));
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    int failed = writeAndFlush(fd, bytes);
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
    removePending();
    return false;
}

void removeOnSignals() {
#ifdef _WIN32
    const int signals[] = {SIGINT, SIGTERM};
#else
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
    for (const int signal : signals)
        std::signal(signal, removePendingAndReraise);
#ifndef _WIN32
    // A file size limit reached while writing is an error of the write (EFBIG), which removes
    // the temporary file and says why, not a signal that ends the program with it left.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace mendora::cli
