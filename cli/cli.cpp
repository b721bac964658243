// The shared command-line pieces: exit codes, the --rate and --seconds options, the parse, durations and the
// progress bar.
#include "cli/cli.h"

#include "sound/sound.h"

#include <cstdio>

CLI::Option* AddRateOption(CLI::App& app, int32_t& rate)
{
    return app.add_option("--rate", rate, "output rate in Hz")->check(CLI::Range(MinOutputRate, MaxOutputRate));
}

CLI::Option* AddSecondsOption(CLI::App& app, double& seconds, const std::string& description)
{
    return app.add_option("--seconds", seconds, description)->check(CLI::Range(0.001, MaxRenderSeconds));
}

int ParseToolArguments(CLI::App& app, int argc, char** argv)
{
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }
    return -1;
}

std::string FormatDuration(int64_t frames, int32_t rate)
{
    int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

std::string ProgressBar(int64_t done, int64_t total, int width)
{
    if (width < 0) {
        width = 0;
    }
    int64_t filled = total > 0 ? (done < 0 ? 0 : (done >= total ? width : done * width / total)) : 0;
    std::string bar = "[";
    for (int k = 0; k < width; k++) {
        bar += k < filled ? '#' : '.';
    }
    bar += ']';
    return bar;
}

void ShowRenderProgress(int64_t frames, int64_t total, int32_t rate, int32_t orderPos, int32_t orderCount)
{
    if (total > 0) {
        std::fprintf(stderr, "\r%s %3d%%  %s", ProgressBar(frames, total, 40).c_str(),
                     static_cast<int>(frames * 100 / total), FormatDuration(frames, rate).c_str());
    } else {
        std::fprintf(stderr, "\rrendering  order %3d/%d  %s", orderPos, orderCount,
                     FormatDuration(frames, rate).c_str());
    }
    std::fflush(stderr);
}
