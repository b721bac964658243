// Command-line pieces the intro and the offline tools share, so that their options read and their progress
// looks the same: the --seconds option of a render, durations as m:ss.mmm, and the progress bar.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>

// Longest render --seconds accepts (a day).
constexpr double MaxRenderSeconds = 24.0 * 3600.0;

// --seconds N: a render of N seconds (0.001 up to MaxRenderSeconds) instead of the song's first pass.
// `seconds` stays as it was when the option is not given.
CLI::Option* AddSecondsOption(CLI::App& app, double& seconds, const std::string& description);

// Frames at `rate` as minutes:seconds.milliseconds, e.g. "2:21.040".
std::string FormatDuration(int64_t frames, int32_t rate);

// One line of progress on standard error, redrawn in place: a bar of 40 with the percentage when the
// total is known (total > 0), else the order position reached; the time rendered so far either way.
void ShowRenderProgress(int64_t frames, int64_t total, int32_t rate, int32_t orderPos, int32_t orderCount);
