// The greeting's text: UTF-8 turned into the scroller's Windows-1251 bytes, for the built-in greeting
// (scene/greeting.txt, carried in the program as it is) and for a greeting of one's own alike, so both
// follow one set of rules.
#include "scene/scene.h"

#include <algorithm>

namespace {

constexpr char32_t LineFeed = 0x0A;
constexpr char32_t CarriageReturn = 0x0D;
constexpr char32_t ByteOrderMark = 0xFEFF;
constexpr unsigned char EndMark = '@';

// Characters outside ASCII and the Russian alphabet that still have a Windows-1251 code. None has a glyph,
// so they show as blanks, but they keep their code.
struct ExtraCode {
    char32_t character;
    unsigned char code;
};
constexpr ExtraCode ExtraCodes[] = {
    {0x00A0, 0xA0}, // no-break space
    {0x00AB, 0xAB}, // «
    {0x00BB, 0xBB}, // »
    {0x2013, 0x96}, // –
    {0x2014, 0x97}, // —
    {0x2026, 0x85}, // …
    {0x2116, 0xB9}, // №
    {0x0401, 0xA8}, // Ё
    {0x0451, 0xB8}, // ё
};

// The Windows-1251 byte of a character, or GreetingBlankByte when it has none or is a control character.
unsigned char CodeOf(char32_t c)
{
    if (c >= 0x20 && c < 0x7F) {
        return static_cast<unsigned char>(c);
    }
    if (c >= 0x0410 && c <= 0x044F) { // А .. я
        return static_cast<unsigned char>(c - 0x0410 + 0xC0);
    }
    for (const ExtraCode& extra : ExtraCodes) {
        if (extra.character == c) {
            return extra.code;
        }
    }
    return GreetingBlankByte;
}

// Decodes one UTF-8 character at bytes[*at], moving *at past it; false for a byte sequence that is not
// UTF-8 (a stray or missing continuation byte, an over-long form, a surrogate, a value past U+10FFFF).
bool DecodeUtf8(const unsigned char* bytes, size_t size, size_t* at, char32_t* out)
{
    unsigned char lead = bytes[*at];
    int more;
    char32_t c;
    char32_t least;
    if (lead < 0x80) {
        *out = lead;
        *at += 1;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
        least = 0x10000;
    } else {
        return false;
    }
    if (size - *at <= static_cast<size_t>(more)) {
        return false;
    }
    for (int k = 1; k <= more; k++) {
        unsigned char next = bytes[*at + k];
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return false;
    }
    *out = c;
    *at += 1 + more;
    return true;
}

void NoteBlanked(std::vector<char32_t>* blanked, char32_t c)
{
    if (std::find(blanked->begin(), blanked->end(), c) == blanked->end()) {
        blanked->push_back(c);
    }
}

// The built-in greeting, converted once before main (the text is the program's own, so it converts).
std::string ConvertBuiltInGreeting()
{
    return ConvertGreeting(GreetingUtf8, GreetingUtf8Size).text;
}

const std::string builtInGreeting = ConvertBuiltInGreeting();

// A greeting of one's own; empty while the built-in one is used (main thread).
std::string ownGreeting;

} // namespace

const char* const GreetingText = builtInGreeting.c_str();

GreetingConversion ConvertGreeting(const unsigned char* bytes, size_t size)
{
    GreetingConversion result{};
    if (size > MaxGreetingBytes) {
        result.error = GreetingError::TooLarge;
        return result;
    }
    std::string text;
    text.reserve(size + 1);
    std::vector<char32_t> atSigns;   // '@' inside the text, kept apart until the end is known
    size_t lineBreakAt = std::string::npos;   // the byte a line break became, while it is the last one
    int32_t line = 1;
    size_t at = 0;
    while (at < size) {
        char32_t c = 0;
        if (!DecodeUtf8(bytes, size, &at, &c)) {
            result.error = GreetingError::NotUtf8;
            result.errorLine = line;
            return result;
        }
        if (c == CarriageReturn || (c == ByteOrderMark && at == 3)) {
            // Carriage returns of Windows line ends, and the mark some editors put at a file's start.
            continue;
        }
        if (c == LineFeed) {
            // A line break is a space (a blank line thus a longer pause).
            lineBreakAt = text.size();
            text.push_back(' ');
            line++;
            continue;
        }
        lineBreakAt = std::string::npos;
        unsigned char code = CodeOf(c);
        if (code == GreetingBlankByte || GlyphIndexOf(code) == BlankGlyph) {
            NoteBlanked(&result.blanked, c);
        }
        text.push_back(static_cast<char>(code));
    }
    // The file's own last line break is not part of the text.
    if (lineBreakAt != std::string::npos && lineBreakAt + 1 == text.size()) {
        text.pop_back();
    }
    // A '@' ends the text for the scroller: one at the very end is that mark; one anywhere else would cut
    // the text short, so it shows as a blank instead.
    bool endMarked = !text.empty() && static_cast<unsigned char>(text.back()) == EndMark;
    if (endMarked) {
        text.pop_back();
    }
    bool innerAt = false;
    for (char& byte : text) {
        if (static_cast<unsigned char>(byte) == EndMark) {
            byte = static_cast<char>(GreetingBlankByte);
            innerAt = true;
        }
    }
    if (!innerAt) {
        // '@' has no glyph and was listed; the end mark alone is not a blank.
        result.blanked.erase(std::remove(result.blanked.begin(), result.blanked.end(), char32_t{EndMark}),
                             result.blanked.end());
    }
    if (text.empty()) {
        result.error = GreetingError::Empty;
        result.blanked.clear();
        return result;
    }
    text.push_back(static_cast<char>(EndMark));
    result.text = std::move(text);
    return result;
}

void SetGreetingText(const std::string& text)
{
    ownGreeting = text;
}

const char* ChosenGreetingText()
{
    return ownGreeting.empty() ? GreetingText : ownGreeting.c_str();
}
