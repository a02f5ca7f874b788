// The command line of `mendora`: its commands, options and usage text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/standin_host/context_source.h"
#include "tools/standin_host/dialog_answer.h"

namespace mendora::cli {

enum class Command { help, version, fill, batch, demo, about };

struct Options {
    Command command = Command::help;
    // fill: the image and the mask (empty with --region); demo ignores them.
    std::string input;
    std::string mask;
    // --region: left, top, right and bottom (exclusive) of the rectangle to fill.
    std::optional<std::array<int32_t, 4>> region;
    // A mask pixel is selected when its value is at least this (1 to 255).
    int32_t maskThreshold = 1;
    // JPEG and WebP output quality (1 to 100).
    int32_t quality = 92;
    // fill: required; demo: where the result goes (empty: the build's demo result).
    std::string output;
    // The texts typed into the region dialog's boxes 3 to 7.
    runner::DialogValues typed;
    // --context: the source rectangle is the selection's bounding box grown by this many
    // pixels on each side (runner::contextSourceRectangle), typed once the mask is read.
    std::optional<int32_t> context;
    // --source: the rectangle typed (absent for four zeros, the whole image), for the check of
    // a sampling area before the fill.
    std::optional<std::array<int32_t, 4>> source;
    // --band: texture only from the pixels within this many pixels of the selection
    // (runner::bandAroundSelection), handed to the plug-in as its sampling area.
    std::optional<int32_t> band;
    // --source-mask: texture only from the pixels this image marks (nonzero), intersected with
    // the band and the source rectangle.
    std::string sourceMask;
    // --match-tone: after the fill, the region's tone is matched to its surroundings
    // (tone_match.h); off, the output holds the plug-in's fill as it is.
    bool matchTone = false;
    bool interactive = false;
    bool quiet = false;
    // --progress: progress lines for programs instead of the status line.
    bool progress = false;
    // The plug-in module to load; empty: MENDORA_MODULE, else the module of this build.
    std::string module;
    // batch: the list of images, masks and outputs ("-": the standard input), the fills run at
    // once, and whether rows whose output exists are left out.
    std::string list;
    int32_t jobs = 1;
    bool skipExisting = false;
    // The fill options as given (each "--name=value"), for a batch to hand to every fill.
    std::vector<std::string> fillArguments;
};

// Reads the arguments after the program name. Returns false with a one-line message in
// `error` for anything it cannot take: an unknown command or option, a missing value or
// file, a number that is not whole or outside its range (radius and source values outside
// the plug-in's 16-bit fields, a radius above the largest the plug-in accepts, a context
// width outside 0..kMaxContextWidth, a band outside 1..kMaxContextWidth, --context together
// with --source). The radius and
// source are kept as typed (0 and negative values included): the plug-in reads them.
bool parseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);

// Reads fill options alone (--radius, --source, --context, --band, --source-mask,
// --match-tone, --mask-threshold, --quality, --module, --quiet), as `mendora fill` takes them,
// for a caller that names the image, the mask and the output otherwise (the Python module).
// Returns false with the same one-line message as parseOptions for anything else or any value
// it cannot take.
bool parseFillOptions(const std::vector<std::string>& arguments, Options& options,
                      std::string& error);

// Sets the texts of the source rectangle's boxes in `typed` to `source`, as --source types
// them.
void typeSourceRectangle(const runner::SourceRectangle& source, runner::DialogValues& typed);

// The text of --help.
std::string usageText();

} // namespace mendora::cli
