// Command-line pieces the intro and the offline tools (xmrender, xmplay) share, so that their options read,
// their exit codes mean and their times and progress look the same: the exit codes, the --rate and --seconds
// options, the parse of a tool's command line, durations as m:ss.mmm, and the progress bar.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

constexpr int ExitDone = 0;
constexpr int ExitFailed = 1;  // a song, a file or the output failed
constexpr int ExitUsage = 2;   // bad command line

// Longest render, recording or play without --seconds: a song that never comes back to an order position (it always
// does, since play never ends) cannot run forever.
constexpr double MaxDefaultSeconds = 3600.0;
// Longest render, recording or play --seconds accepts (a day).
constexpr double MaxRenderSeconds = 24.0 * 3600.0;

// --rate N: the output rate in Hz, MinOutputRate..MaxOutputRate. `rate` stays as it was when the option is
// not given.
CLI::Option* AddRateOption(CLI::App& app, int32_t& rate);
// --seconds N: a render or play of N seconds (0.001 up to MaxRenderSeconds) instead of the song's first pass.
// `seconds` stays as it was when the option is not given.
CLI::Option* AddSecondsOption(CLI::App& app, double& seconds, const std::string& description);
// Parses a tool's command line: -1 when the tool goes on, else its exit code (ExitDone after --help, which
// CLI11 has printed; ExitUsage after a usage error, which CLI11 has explained on standard error).
int ParseToolArguments(CLI::App& app, int argc, char** argv);

// Frames at `rate` as minutes:seconds.milliseconds, e.g. "2:21.040"; "0:00.000" for a rate that is not
// positive.
std::string FormatDuration(int64_t frames, int32_t rate);
// "[####......]": `width` cells (none below 0), filled in proportion to done / total and clamped to empty and
// full; empty when the total is not positive.
std::string ProgressBar(int64_t done, int64_t total, int width);
// One line of progress on standard error, redrawn in place: a bar of 40 with the percentage when the
// total is known (total > 0), else the order position reached; the time rendered so far either way.
void ShowRenderProgress(int64_t frames, int64_t total, int32_t rate, int32_t orderPos, int32_t orderCount);
