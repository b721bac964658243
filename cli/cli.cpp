// The shared command-line pieces: the --seconds option, durations and the progress bar.
#include "cli/cli.h"

#include <cstdio>

CLI::Option* AddSecondsOption(CLI::App& app, double& seconds, const std::string& description)
{
    return app.add_option("--seconds", seconds, description)->check(CLI::Range(0.001, MaxRenderSeconds));
}

std::string FormatDuration(int64_t frames, int32_t rate)
{
    int64_t ms = frames * 1000 / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

void ShowRenderProgress(int64_t frames, int64_t total, int32_t rate, int32_t orderPos, int32_t orderCount)
{
    if (total > 0) {
        int filled = static_cast<int>(frames * 40 / total);
        char bar[41];
        for (int k = 0; k < 40; k++) {
            bar[k] = k < filled ? '#' : '.';
        }
        bar[40] = '\0';
        std::fprintf(stderr, "\r[%s] %3d%%  %s", bar, static_cast<int>(frames * 100 / total),
                     FormatDuration(frames, rate).c_str());
    } else {
        std::fprintf(stderr, "\rrendering  order %3d/%d  %s", orderPos, orderCount,
                     FormatDuration(frames, rate).c_str());
    }
    std::fflush(stderr);
}
