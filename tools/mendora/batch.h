// `mendora batch LIST`: many fills, each an image, its mask and its output, run by processes
// of this program of their own (`mendora fill`), a given number at once.
// In: the list and the fill options. Out: the written outputs, a progress line on a terminal,
// a line for each failure, the exit status (0 all filled, 1 any failed, 2 a bad list).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/mendora/options.h"

namespace mendora::cli {

struct BatchRow {
    std::string image;
    std::string mask;
    std::string output;
    size_t line = 0; // 1-based, in the list
};

// Reads the rows of a list's `text`: a row a line, its image, mask and output separated by
// tabs (when the line holds one) or else by commas; empty lines and lines starting with '#'
// are left out, a line's ending '\r' dropped. Returns false with the reason naming the line
// ("line 3: ...") for a line without exactly three non-empty fields, and for an output named
// twice (two fills would write the same file).
bool parseBatchList(const std::string& text, std::vector<BatchRow>& rows, std::string& error);

// The threads each of `jobs` fills at once takes: the machine's cores (at most 16), or fewer
// when MENDORA_THREADS limits them, shared out, at least 1 each.
int threadsPerJob(int jobs);

// Runs the batch of options.list (`-`: the standard input) with options.jobs fills at once,
// each `mendora fill` of this program with the fill options given (options.fillArguments) and
// MENDORA_THREADS set to its share of the threads. Leaves out rows whose output exists with
// options.skipExisting. On a terminal (and not options.quiet) one line shows the images done of
// all, the failures, the time so far and about how long is left; a failure prints its image
// and the fill's reason and the others go on. Returns the exit status.
int runBatch(const Options& options);

} // namespace mendora::cli
