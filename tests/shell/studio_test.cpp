// The studio page's views of a greeting and a song: the intro's own conversion, messages and loader, answered
// as the JSON the page reads.
#include "scene/scene.h"
#include "shell/shell.h"
#include "tests/support/song_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string CheckGreeting(const std::string& text)
{
    return StudioCheckGreeting(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int32_t>(text.size()));
}

std::string DescribeSong(const std::vector<uint8_t>& bytes)
{
    return StudioDescribeSong(bytes.data(), static_cast<int32_t>(bytes.size()));
}

TEST(StudioTest, AGreetingGetsTheIntrosOwnWords)
{
    EXPECT_EQ(CheckGreeting("С Новым годом! €"),
              "{\"limit\":65536,\"error\":\"\",\"warning\":\"the greeting has characters without a glyph, shown as "
              "blanks: U+20AC €\",\"blanked\":[\"U+20AC €\"]}");
    EXPECT_EQ(CheckGreeting("Happy New Year"), "{\"limit\":65536,\"error\":\"\",\"warning\":\"\",\"blanked\":[]}");
    EXPECT_EQ(CheckGreeting("one\ntwo \xFF"),
              "{\"limit\":65536,\"error\":\"the greeting is not UTF-8 text (line 2)\",\"warning\":\"\",\"blanked\":[]}");
    EXPECT_EQ(CheckGreeting("\n"),
              "{\"limit\":65536,\"error\":\"the greeting is empty\",\"warning\":\"\",\"blanked\":[]}");
    EXPECT_EQ(StudioCheckGreeting(nullptr, 0),
              std::string("{\"limit\":65536,\"error\":\"the greeting is empty\",\"warning\":\"\",\"blanked\":[]}"));
}

TEST(StudioTest, TheLimitIsTheIntros)
{
    EXPECT_NE(CheckGreeting(std::string(MaxGreetingBytes, 'a')).find("\"error\":\"\""), std::string::npos);
    EXPECT_NE(CheckGreeting(std::string(MaxGreetingBytes + 1, 'a'))
                  .find("\"error\":\"the greeting is larger than 64 KB\""),
              std::string::npos);
}

TEST(StudioTest, EveryBlankedCharacterIsListedOnceAndTheAnswerStaysJson)
{
    // 22 different characters without a glyph, a control character and a quote-like one among them, each
    // twice: the warning names the first 20, the list has all 22, each once; control bytes are escaped.
    std::string text = "\x01";
    for (char32_t c = 0x4E00; c < 0x4E00 + 21; c++) {
        text += static_cast<char>(0xE0 | (c >> 12));
        text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
    std::string answer = CheckGreeting(text + text);
    EXPECT_NE(answer.find("and 2 more\""), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"blanked\":[\"U+0001\",\"U+4E00 一\","), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"U+4E14 且\"]}"), std::string::npos) << answer;
    size_t count = 0;
    for (size_t at = answer.find("U+4E00 "); at != std::string::npos; at = answer.find("U+4E00 ", at + 1)) {
        count++;
    }
    EXPECT_EQ(count, 2u);  // once in the warning, once in the list
    for (char c : answer) {
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "an unescaped control byte";
    }
}

TEST(StudioTest, TheIntrosGreetingIsTheFileItCarries)
{
    std::ifstream file(std::string(TARNWICK_SOURCE_DIR) + "/scene/greeting.txt", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    std::string quoted;
    for (char c : text) {
        quoted += c == '\n' ? std::string("\\u000a") : c == '"' ? std::string("\\\"") : std::string(1, c);
    }
    EXPECT_EQ(StudioIntroGreeting(), "{\"text\":\"" + quoted + "\"}");
}

TEST(StudioTest, ASongIsDescribedAsXmrenderDescribesIt)
{
    // Two patterns of 4 rows at speed 6 and 140 BPM, restart at order 1: 8 rows x 6 ticks x 787 frames =
    // 37776 frames = 0.856 s, then order 1 again.
    XmModule module = TraceModule(2, {4, 4}, 6);
    module.restartPosition = 1;
    module.defaultBpm = 140;
    module.name = "Frost \"tune\"";
    std::string expected = "{\"ok\":true,\"title\":\"Frost \\\"tune\\\"\",\"channels\":2,\"lengthFrames\":37776,"
                           "\"length\":\"0:00.856\",\"loopOrder\":1}";
    EXPECT_EQ(DescribeSong(XmWriteModule(module)), expected);
    // Described again: nothing of the first description (the kept bytes, the watch) is in the way.
    EXPECT_EQ(DescribeSong(XmWriteModule(module)), expected);
}

TEST(StudioTest, ASongTheLoaderRefusesGetsItsReason)
{
    std::string notXm = "{\"ok\":false,\"error\":\"not an XM module\",\"maxBytes\":4194304}";
    std::string text = "Happy New Year";
    EXPECT_EQ(DescribeSong(std::vector<uint8_t>(text.begin(), text.end())), notXm);
    EXPECT_EQ(DescribeSong({}), notXm);
    std::string damaged = "Extended Module: " + std::string(400, '\0');
    EXPECT_EQ(DescribeSong(std::vector<uint8_t>(damaged.begin(), damaged.end())),
              "{\"ok\":false,\"error\":\"a damaged or unsupported XM module\",\"maxBytes\":4194304}");
    // Too large for the page's memory: refused before the loader reads it, whatever it holds.
    std::vector<uint8_t> large = XmWriteModule(TraceModule(2, {4}));
    large.resize(static_cast<size_t>(StudioMaxSongBytes) + 1);
    EXPECT_EQ(DescribeSong(large),
              "{\"ok\":false,\"error\":\"larger than the studio takes (4 MB)\",\"maxBytes\":4194304}");
    large.resize(static_cast<size_t>(StudioMaxSongBytes));
    EXPECT_NE(DescribeSong(large).find("\"ok\":true"), std::string::npos);
}

}  // namespace
