// ConvertGreeting: UTF-8 text to the scroller's bytes, for the built-in greeting and one's own alike.
#include "scene/scene.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

GreetingConversion Convert(const std::string& utf8)
{
    return ConvertGreeting(reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
}

// The glyph indexes the scroller shows for a converted text, up to (not including) its end mark.
std::vector<int> GlyphsOf(const std::string& text)
{
    std::vector<int> glyphs;
    scrollerText = text.c_str();
    textCursor = 0;
    for (size_t i = 0; i + 1 < text.size(); i++) {
        glyphs.push_back(NextScrollerGlyph());
    }
    ResetScrollerState();
    return glyphs;
}

TEST(ConvertGreeting, TheBuiltInGreetingIsGreetingTxtConvertedAtRunTime)
{
    // The file as it stands in the source tree, converted here, against what the program carries and shows.
    std::ifstream in(TARNWICK_SOURCE_DIR "/scene/greeting.txt", std::ios::binary);
    ASSERT_TRUE(in) << "scene/greeting.txt";
    std::string utf8((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    GreetingConversion converted = Convert(utf8);
    ASSERT_EQ(converted.error, GreetingError::None);
    EXPECT_EQ(converted.text, std::string(GreetingText));
    // The greeting is written only with characters that have a glyph.
    EXPECT_TRUE(converted.blanked.empty());
    // Its line breaks became spaces and the file's last one is gone: it ends right at its '@'.
    EXPECT_EQ(utf8.substr(utf8.size() - 2), "@\n");
    EXPECT_EQ(converted.text.size(), std::string(GreetingText).size());
    EXPECT_EQ(converted.text.find('\n'), std::string::npos);
}

TEST(ConvertGreeting, LatinCyrillicAnAtSignAndAnEmojiGiveTheirGlyphsAndOneWarningOfTwo)
{
    // "Hi Ёлка@home 🎄!" with a line break inside and one at the end.
    GreetingConversion converted = Convert("Hi \xD0\x81\xD0\xBB\xD0\xBA\xD0\xB0@home\n\xF0\x9F\x8E\x84!\n");
    ASSERT_EQ(converted.error, GreetingError::None);
    const int H = 33 + 7, I = 33 + 8, O = 33 + 14, M = 33 + 12, E = 33 + 4;
    std::vector<int> expected = {H, I, 0, BlankGlyph /* Ё */, 203 /* л */, 202 /* к */, 192 /* а */,
                                 BlankGlyph /* @ */, H, O, M, E, 0 /* line break */, BlankGlyph /* 🎄 */, 1};
    EXPECT_EQ(GlyphsOf(converted.text), expected);
    // Ё keeps its Windows-1251 code; '@' and the emoji take the unassigned byte; the end mark is added.
    EXPECT_EQ(static_cast<unsigned char>(converted.text[3]), 0xA8);
    EXPECT_EQ(static_cast<unsigned char>(converted.text[7]), GreetingBlankByte);
    EXPECT_EQ(static_cast<unsigned char>(converted.text[13]), GreetingBlankByte);
    EXPECT_EQ(converted.text.back(), '@');
    EXPECT_EQ(converted.text.find('@'), converted.text.size() - 1);
    EXPECT_EQ(converted.blanked, (std::vector<char32_t>{0x401, U'@', 0x1F384}));

    // Without Ё: exactly the '@' and the emoji, each listed once however often they appear.
    GreetingConversion two = Convert("a@b@c \xF0\x9F\x8E\x84\xF0\x9F\x8E\x84 \xD0\x94");
    ASSERT_EQ(two.error, GreetingError::None);
    EXPECT_EQ(two.blanked, (std::vector<char32_t>{U'@', 0x1F384}));
    EXPECT_EQ(GlyphsOf(two.text), (std::vector<int>{33, BlankGlyph, 34, BlankGlyph, 35, 0, BlankGlyph,
                                                    BlankGlyph, 0, 196}));
}

TEST(ConvertGreeting, LineBreaksEndMarkAndControlCharacters)
{
    // CR LF and LF are one space each; a blank line two; only the file's last break is dropped.
    EXPECT_EQ(Convert("ab\r\ncd\n\nef\r\n").text, "ab cd  ef@");
    EXPECT_EQ(Convert("ab \n").text, "ab @");
    // A '@' at the very end is the end mark (also before the last line break) and is not a warning.
    GreetingConversion marked = Convert("ab@\n");
    EXPECT_EQ(marked.text, "ab@");
    EXPECT_TRUE(marked.blanked.empty());
    // A byte-order mark at the start is skipped; one later is a character without a glyph.
    EXPECT_EQ(Convert("\xEF\xBB\xBFok").text, "ok@");
    GreetingConversion late = Convert("o\xEF\xBB\xBFk");
    EXPECT_EQ(late.text, "o\x98k@");
    EXPECT_EQ(late.blanked, std::vector<char32_t>{0xFEFF});
    // A tab or a NUL never reaches the scroller as such: blanks, listed.
    GreetingConversion controls = Convert(std::string("a\tb\0c", 5));
    EXPECT_EQ(controls.text, "a\x98" "b\x98" "c@");
    EXPECT_EQ(controls.blanked, (std::vector<char32_t>{U'\t', 0}));
    // The characters Windows-1251 has beyond ASCII and the alphabet keep their codes.
    EXPECT_EQ(Convert("\xC2\xAB\xE2\x80\x94\xE2\x84\x96\xC2\xBB").text, "\xAB\x97\xB9\xBB@");
    // Lower-case Cyrillic to its own codes (the rule folds them when shown).
    EXPECT_EQ(Convert("\xD0\x90\xD1\x8F").text, "\xC0\xFF@");
}

TEST(ConvertGreeting, EmptyTooLargeAndNotUtf8AreErrors)
{
    EXPECT_EQ(ConvertGreeting(nullptr, 0).error, GreetingError::Empty);
    for (const char* empty : {"\n", "\r\n", "@", "@\n", "\xEF\xBB\xBF"}) {
        GreetingConversion converted = Convert(empty);
        EXPECT_EQ(converted.error, GreetingError::Empty) << empty;
        EXPECT_TRUE(converted.text.empty());
    }
    // 64 KB is accepted, one byte more is not.
    EXPECT_EQ(Convert(std::string(MaxGreetingBytes, 'a')).error, GreetingError::None);
    EXPECT_EQ(Convert(std::string(MaxGreetingBytes + 1, 'a')).error, GreetingError::TooLarge);

    struct Bad {
        std::string bytes;
        int32_t line;
    };
    const Bad bad[] = {
        {"\x80", 1},                     // a continuation byte alone
        {"ab\n\xC3", 2},                 // cut inside a character at the end
        {"\xC3(", 1},                    // a lead byte without its continuation
        {"\xC0\xAF", 1},                 // an over-long '/'
        {"\xE0\x80\xAF", 1},             // the same in three bytes
        {"\xED\xA0\x80", 1},             // a surrogate
        {"\xF4\x90\x80\x80", 1},         // past U+10FFFF
        {"\xFF", 1},
        {"one\ntwo\r\nthree \xD0", 3},
        {std::string("\xD0\x94\xD0", 3), 1},
    };
    for (const Bad& b : bad) {
        GreetingConversion converted = Convert(b.bytes);
        EXPECT_EQ(converted.error, GreetingError::NotUtf8) << b.bytes;
        EXPECT_EQ(converted.errorLine, b.line) << b.bytes;
        EXPECT_TRUE(converted.text.empty());
    }
}

TEST(ConvertGreeting, AGreetingOfOnesOwnIsWhatTheScrollerReadsUntilReset)
{
    SetGreetingText(Convert("Zz").text);
    EXPECT_STREQ(ChosenGreetingText(), "Zz@");
    ResetScrollerState();
    EXPECT_EQ(ChosenGreetingText(), GreetingText);
    SetGreetingText("Q@");
    SetGreetingText("");
    EXPECT_EQ(ChosenGreetingText(), GreetingText);
}

} // namespace
