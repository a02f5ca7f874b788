// `mendora batch LIST`: each row a `mendora fill` in a process of its own, a given number at
// once. The plug-in module and the stand-in host keep their state in the process (one run at a
// time), so fills at once need processes of their own; a process also keeps a failing or
// crashing fill from taking the others with it. Each process writes its output as `mendora
// fill` does (whole or not at all).
// In: the list and the fill options. Out: the outputs, the progress line, the failures, the
// exit status.
#include "tools/mendora/batch.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "tools/mendora/output_file.h"
#include "tools/standin_host/host_limits.h"
#include "tools/standin_host/status_line.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace mendora::cli {

namespace {

constexpr int kExitDone = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsageOrFile = 2;

void message(const std::string& text) {
    std::fprintf(stderr, "mendora: %s\n", text.c_str());
}

// The fields of `line` split at `separator`.
std::vector<std::string> fieldsOf(const std::string& line, char separator) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == separator)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

bool parseBatchList(const std::string& text, std::vector<BatchRow>& rows, std::string& error) {
    rows.clear();
    std::map<std::string, size_t> outputs; // output -> its line
    std::istringstream lines(text);
    std::string line;
    for (size_t number = 1; std::getline(lines, line); number++) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#')
            continue;
        const char separator = line.find('\t') != std::string::npos ? '\t' : ',';
        const std::vector<std::string> fields = fieldsOf(line, separator);
        if (fields.size() != 3 ||
            std::any_of(fields.begin(), fields.end(), [](const auto& f) { return f.empty(); })) {
            error = "line " + std::to_string(number) +
                    ": needs an image, a mask and an output, separated by tabs or commas";
            return false;
        }
        const auto [earlier, added] = outputs.emplace(fields[2], number);
        if (!added) {
            error = "line " + std::to_string(number) + ": the output " + fields[2] +
                    " is named on line " + std::to_string(earlier->second) + " too";
            return false;
        }
        rows.push_back(BatchRow{fields[0], fields[1], fields[2], number});
    }
    return true;
}

int threadsPerJob(int jobs) {
    int32_t threads = std::min<int32_t>(
        kMaxWorkers, static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())));
    // The engine's own reading of the limit: a whole number from 1, anything else none.
    if (const char* limit = std::getenv(kThreadLimitVariable)) {
        char* end = nullptr;
        const long value = std::strtol(limit, &end, 10);
        if (*limit != '\0' && *end == '\0' && value >= 1)
            threads = std::min<int32_t>(threads, static_cast<int32_t>(std::min(value, 1L << 20)));
    }
    return std::max(1, threads / std::max(1, jobs));
}

#ifdef _WIN32

int runBatch(const Options&) {
    message("batch is not available in the Windows build: run mendora fill for each image");
    return kExitUsageOrFile;
}

#else

namespace {

// The text of the list file, or of the standard input for "-". False with the reason.
bool readList(const std::string& path, std::string& text, std::string& error) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::error_code failure;
    if (std::filesystem::is_directory(path, failure)) {
        error = path + ": is a folder, not a list";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

// "12.3 s", "4 min 05 s": a duration as a person reads it.
std::string durationText(double seconds) {
    char text[32];
    if (seconds < 60)
        std::snprintf(text, sizeof text, "%.0f s", seconds);
    else
        std::snprintf(text, sizeof text, "%d min %02d s", static_cast<int>(seconds) / 60,
                      static_cast<int>(seconds) % 60);
    return text;
}

// One fill under way: its process and what it printed on its error output.
struct Job {
    const BatchRow* row = nullptr;
    pid_t pid = -1;
    int errorPipe = -1;
    std::string said;
    bool told = false; // the batch's stop signal was passed on to it
};

// The path of this program, to run its `fill`.
std::string ownProgram() {
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : self.string();
}

// Starts `mendora fill` for `row` with its error output into a pipe. False with the reason.
bool startJob(const std::string& program, const Options& options,
              const std::vector<std::string>& environment, const BatchRow& row, Job& job,
              std::string& error) {
    std::vector<std::string> arguments{program, "fill", "--quiet"};
    arguments.insert(arguments.end(), options.fillArguments.begin(), options.fillArguments.end());
    // Names after "--" are files even when they start with '-'.
    arguments.insert(arguments.end(), {"-o", row.output, "--", row.image, row.mask});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    const int spawned =
        posix_spawn(&job.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        error = "cannot start " + program + ": " + std::strerror(spawned);
        return false;
    }
    job.row = &row;
    job.errorPipe = pipeEnds[0];
    job.said.clear();
    return true;
}

// The reason a finished job gives: the last line its fill printed (without the program's
// name), or how its process ended.
std::string reasonOf(const Job& job, int status) {
    std::istringstream lines(job.said);
    std::string line;
    std::string last;
    while (std::getline(lines, line))
        if (!line.empty())
            last = line;
    const std::string prefix = "mendora: ";
    if (last.compare(0, prefix.size(), prefix) == 0)
        last = last.substr(prefix.size());
    if (WIFSIGNALED(status))
        return "the fill ended with signal " + std::to_string(WTERMSIG(status)) +
               (last.empty() ? "" : " (" + last + ")");
    return last.empty() ? "the fill failed (status " + std::to_string(WEXITSTATUS(status)) + ")"
                        : last;
}

// `reason` as it names the row's file: the fill's reasons about a file start with its name;
// any other starts with the image's.
std::string namingItsFile(const BatchRow& row, const std::string& reason) {
    for (const std::string* name : {&row.image, &row.mask, &row.output})
        if (reason.compare(0, name->size() + 2, *name + ": ") == 0)
            return reason;
    return row.image + ": " + reason;
}

// The environment of every fill: this one with MENDORA_THREADS set to the share of each.
std::vector<std::string> fillEnvironment(int threads) {
    std::vector<std::string> environment;
    const std::string name = std::string(kThreadLimitVariable) + "=";
    for (char** variable = environ; *variable != nullptr; variable++)
        if (std::strncmp(*variable, name.c_str(), name.size()) != 0)
            environment.emplace_back(*variable);
    environment.push_back(name + std::to_string(threads));
    return environment;
}

struct Tally {
    size_t all = 0;
    size_t done = 0;
    size_t failed = 0;
    size_t skipped = 0;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();

    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
};

// "batch: 12 of 40 done, 1 failed · 35 s · about 1 min 20 s left"
std::string progressText(const Tally& tally) {
    const size_t finished = tally.done + tally.failed;
    const size_t toRun = tally.all - tally.skipped;
    std::string text = "batch: " + std::to_string(finished) + " of " + std::to_string(toRun) +
                       " done, " + std::to_string(tally.failed) + " failed \xC2\xB7 " +
                       durationText(tally.elapsed());
    // The time so far per finished image, for every image still to finish.
    if (finished > 0 && finished < toRun)
        text += " \xC2\xB7 about " +
                durationText(tally.elapsed() / static_cast<double>(finished) *
                             static_cast<double>(toRun - finished)) +
                " left";
    return text;
}

void showProgress(bool shown, const Tally& tally) {
    if (shown)
        std::fprintf(stderr, "\r\033[K%s", progressText(tally).c_str());
}

void clearProgress(bool shown) {
    if (shown)
        std::fputs("\r\033[K", stderr);
}

// The signal that asked the batch to stop, 0 while none has.
volatile std::sig_atomic_t batchStopSignal = 0;

extern "C" void askBatchToStop(int signal) {
    batchStopSignal = signal;
}

// The signals that end a batch: each running fill gets it too (a fill started by the batch is
// in the terminal's group only, so a signal sent to the batch alone would leave them running).
constexpr int kStopSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

// Catches the stop signals the caller did not set to be ignored (nohup, a script's background
// run): an ignored one stays ignored, here and in the fills, which inherit it.
void catchStopSignals() {
    batchStopSignal = 0;
    for (const int signal : kStopSignals)
        catchUnlessIgnored(signal, askBatchToStop);
}

// Passes the stop signal on to every running fill not told yet, and wakes a stopped one so
// that it can act on it.
void passStopOn(std::vector<Job>& running) {
    for (Job& job : running) {
        if (job.told)
            continue;
        kill(job.pid, batchStopSignal);
        kill(job.pid, SIGCONT);
        job.told = true;
    }
}

// Ends the program as the stop signal would have: its default action, raised again.
[[noreturn]] void endBySignal() {
    const int signal = batchStopSignal;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

// Reads what `job`'s fill printed; true when its output has ended (the process is ending).
bool drain(Job& job) {
    char buffer[4096];
    const ssize_t got = read(job.errorPipe, buffer, sizeof buffer);
    if (got > 0) {
        job.said.append(buffer, static_cast<size_t>(got));
        return false;
    }
    return got == 0 || (errno != EINTR && errno != EAGAIN);
}

} // namespace

int runBatch(const Options& options) {
    std::string text;
    std::string error;
    std::vector<BatchRow> rows;
    if (!readList(options.list, text, error)) {
        message(error);
        return kExitUsageOrFile;
    }
    if (!parseBatchList(text, rows, error)) {
        message((options.list == "-" ? "standard input" : options.list) + ": " + error);
        return kExitUsageOrFile;
    }
    const std::string program = ownProgram();
    if (program.empty()) {
        message("batch: cannot find this program's own file (/proc/self/exe)");
        return kExitUsageOrFile;
    }
    Tally tally;
    tally.all = rows.size();
    std::vector<const BatchRow*> toRun;
    for (const BatchRow& row : rows) {
        std::error_code failure;
        if (options.skipExisting &&
            std::filesystem::symlink_status(row.output, failure).type() !=
                std::filesystem::file_type::not_found &&
            !failure)
            tally.skipped++;
        else
            toRun.push_back(&row);
    }
    const std::vector<std::string> environment = fillEnvironment(threadsPerJob(options.jobs));
    const bool shown = !options.quiet && runner::errorOutputIsTerminal();

    // A stop signal starts no further fill, passes on to the running ones and, once they have
    // ended, ends the batch as it would have ended it.
    catchStopSignals();
    std::vector<Job> running;
    size_t next = 0;
    while ((next < toRun.size() && batchStopSignal == 0) || !running.empty()) {
        if (batchStopSignal != 0)
            passStopOn(running);
        while (next < toRun.size() && batchStopSignal == 0 &&
               running.size() < static_cast<size_t>(options.jobs)) {
            Job job;
            const BatchRow& row = *toRun[next++];
            if (startJob(program, options, environment, row, job, error)) {
                running.push_back(job);
                continue;
            }
            tally.failed++;
            clearProgress(shown);
            message(row.image + ": " + error);
        }
        showProgress(shown, tally);
        std::vector<pollfd> watched;
        for (const Job& job : running)
            watched.push_back(pollfd{job.errorPipe, POLLIN, 0});
        // A quarter of a second: the progress line's clock moves on meanwhile.
        if (poll(watched.data(), watched.size(), 250) <= 0)
            continue;
        for (size_t i = running.size(); i-- > 0;) {
            if (watched[i].revents == 0 || !drain(running[i]))
                continue;
            Job job = running[i];
            running.erase(running.begin() + static_cast<ptrdiff_t>(i));
            close(job.errorPipe);
            int status = 0;
            while (waitpid(job.pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                tally.done++;
                continue;
            }
            tally.failed++;
            // A fill ended by the batch's own stop is no failure of its row.
            if (job.told)
                continue;
            clearProgress(shown);
            message(namingItsFile(*job.row, reasonOf(job, status)));
        }
    }
    clearProgress(shown);
    if (batchStopSignal != 0)
        endBySignal();
    if (!options.quiet)
        std::printf("%zu images: %zu filled, %zu failed, %zu skipped (output there) in %s\n",
                    tally.all, tally.done, tally.failed, tally.skipped,
                    durationText(tally.elapsed()).c_str());
    return tally.failed > 0 ? kExitSomeFailed : kExitDone;
}

#endif

} // namespace mendora::cli
