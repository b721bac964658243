// The shared command-line pieces: the --rate and --seconds ranges, what the parse of a tool's command line
// returns, durations and the progress bar.
#include "cli/cli.h"

#include "sound/sound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parses `words` (after the program name) with the rate and seconds options; the parse's result.
int Parse(std::vector<std::string> words, int32_t* rate, double* seconds)
{
    CLI::App app{"test"};
    AddRateOption(app, *rate);
    AddSecondsOption(app, *seconds, "seconds");
    std::vector<char*> argv{const_cast<char*>("tool")};
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    return ParseToolArguments(app, static_cast<int>(argv.size()), argv.data());
}

TEST(Cli, RateAndSecondsTakeTheirRangesAndStayWhenNotGiven)
{
    int32_t rate = 44100;
    double seconds = 0.0;
    EXPECT_EQ(Parse({}, &rate, &seconds), -1);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(seconds, 0.0);

    EXPECT_EQ(Parse({"--rate", "22050", "--seconds", "1.5"}, &rate, &seconds), -1);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(seconds, 1.5);
    EXPECT_EQ(Parse({"--rate", std::to_string(MinOutputRate)}, &rate, &seconds), -1);
    EXPECT_EQ(rate, MinOutputRate);
    EXPECT_EQ(Parse({"--rate", std::to_string(MaxOutputRate)}, &rate, &seconds), -1);
    EXPECT_EQ(rate, MaxOutputRate);
    EXPECT_EQ(Parse({"--seconds", "86400"}, &rate, &seconds), -1);
    EXPECT_EQ(seconds, MaxRenderSeconds);

    testing::internal::CaptureStderr();
    EXPECT_EQ(Parse({"--rate", std::to_string(MinOutputRate - 1)}, &rate, &seconds), ExitUsage);
    EXPECT_EQ(Parse({"--rate", std::to_string(MaxOutputRate + 1)}, &rate, &seconds), ExitUsage);
    EXPECT_EQ(Parse({"--seconds", "0"}, &rate, &seconds), ExitUsage);
    EXPECT_EQ(Parse({"--seconds", "86400.5"}, &rate, &seconds), ExitUsage);
    EXPECT_EQ(Parse({"--frobnicate"}, &rate, &seconds), ExitUsage);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("--frobnicate"), std::string::npos) << errors;

    testing::internal::CaptureStdout();
    EXPECT_EQ(Parse({"--help"}, &rate, &seconds), ExitDone);
    std::string help = testing::internal::GetCapturedStdout();
    EXPECT_NE(help.find("--rate"), std::string::npos) << help;
    EXPECT_NE(help.find("--seconds"), std::string::npos) << help;
}

TEST(Cli, DurationsAsMinutesSecondsAndMilliseconds)
{
    EXPECT_EQ(FormatDuration(0, 44100), "0:00.000");
    EXPECT_EQ(FormatDuration(37750, 44100), "0:00.856");                 // 856.009 ms, truncated
    EXPECT_EQ(FormatDuration(int64_t{141040} * 441 / 10, 44100), "2:21.040");
    EXPECT_EQ(FormatDuration(int64_t{3600} * 22050, 22050), "60:00.000");
    EXPECT_EQ(FormatDuration(44100, 0), "0:00.000");
}

TEST(Cli, ProgressBarFillsInProportionAndClamps)
{
    EXPECT_EQ(ProgressBar(0, 100, 10), "[..........]");
    EXPECT_EQ(ProgressBar(35, 100, 10), "[###.......]");
    EXPECT_EQ(ProgressBar(100, 100, 10), "[##########]");
    EXPECT_EQ(ProgressBar(250, 100, 10), "[##########]");
    EXPECT_EQ(ProgressBar(-5, 100, 10), "[..........]");
    EXPECT_EQ(ProgressBar(50, 0, 4), "[....]");
    EXPECT_EQ(ProgressBar(50, 100, -3), "[]");
}

TEST(Cli, RenderProgressIsOneLineRedrawnInPlace)
{
    testing::internal::CaptureStderr();
    ShowRenderProgress(22050, 44100, 44100, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\r[" + std::string(20, '#') + std::string(20, '.') + "]  50%  0:00.500");
    testing::internal::CaptureStderr();
    ShowRenderProgress(88200, -1, 44100, 3, 12);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\rrendering  order   3/12  0:02.000");
}

}  // namespace
