// Writing the command line's output file whole or not at all: through a fresh temporary file
// beside it, created exclusively (never through a link or into a file that exists), flushed
// to the disk, then renamed over the output, and the folder flushed.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace mendora::cli {

// Checks, before any work is done for it, that `path` can be written: it is not a folder, its
// folder exists and takes a new file (a temporary file is created there exclusively and
// removed again), its name and path fit the file system's limits, and an existing file there
// may be replaced (a sticky folder lets only owners do that). Returns false with the reason
// in `error`.
bool checkWritable(const std::string& path, std::string& error);

// Writes `bytes` to a new temporary file in the folder of `path`, flushes it to the disk,
// gives it the owner, group (where this process may set them) and permissions (never a set-ID
// bit) of an existing regular file at `path` (else the permissions a new file gets) and
// renames it over `path` (a link at `path` is replaced, never written through); then
// flushes the folder. On failure the temporary file is removed, an existing `path` is left
// untouched, and the reason is in `error`. While the file is written, an interrupt or
// termination signal removes it before the program ends (see removeOnSignals).
bool replaceWhole(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

// Arranges that the signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
// SIGUSR1, SIGUSR2, SIGALRM; on Windows SIGINT and SIGTERM) remove a temporary file being
// written and call `alsoOnSignal` (async-signal-safe; null for nothing) before the program
// ends with the signal's default action; a signal the caller set to be ignored stays ignored.
// Reaching the file size limit (SIGXFSZ) fails the write instead of ending the program. Call
// once, at start-up.
void removeOnSignals(void (*alsoOnSignal)());

#ifndef _WIN32
// Sets `handler` (signals blocked: none but itself) for `signal` unless the caller set the
// signal to be ignored (nohup, a script's background run: the program would not have ended on
// it). The action it replaces goes to `previous` when given. Returns true when it was set.
bool catchUnlessIgnored(int signal, void (*handler)(int), struct sigaction* previous = nullptr);
#endif

} // namespace mendora::cli
