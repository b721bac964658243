// Renders the scroller's glyph bitmaps (data/letters/) from a TrueType font: dark letters on the backdrop's
// light blue, every file the same height and at most 72 pixels wide. The files deliberately use a spread of
// bitmap formats (8-bit and 4-bit palettes, 8-bit run-length, 24-bit, some with the 12-byte core header) so
// the intro's own data exercises the whole loader.
//
//   glyphgen [--font FILE] --write DIR   writes every glyph file into DIR
//   glyphgen [--font FILE] --check DIR   exit 0 only when DIR holds exactly what --write would write
#include "tools/glyphgen/dib_writer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>


// Glyph cell in pixels; the backdrop colour the cell's background must match, and the ink.
constexpr int CellWidth = 66;
constexpr int CellHeight = 64;
constexpr int BlankGlyphWidth = 44;    // the "no glyph" bitmap differs in size from the space
constexpr int FontPixels = 50;         // em size handed to FreeType
constexpr int Baseline = 14;           // rows below the baseline, for descenders
constexpr int MaxGlyphWidth = 72;      // slots are 0.8 apart: about 80 pixels in the 640 × 480 window
constexpr DibColor Background = {125, 167, 217};
constexpr DibColor Ink = {22, 30, 66};

// One glyph file: its name under data/letters/ (without ".bmp") and the character drawn, 0 for a blank.
struct GlyphFile {
    const char* name;
    char32_t character;
};

static const GlyphFile GlyphFiles[] = {
    {"free", 0}, {"!", U'!'}, {"'", U'\''}, {"#", U'#'}, {"(", U'('}, {")", U')'}, {"star", U'*'},
    {",", U','}, {"__", U'-'}, {"pix", U'.'}, {"slash", U'/'},
    {"0", U'0'}, {"1", U'1'}, {"2", U'2'}, {"3", U'3'}, {"4", U'4'},
    {"5", U'5'}, {"6", U'6'}, {"7", U'7'}, {"8", U'8'}, {"9", U'9'},
    {"pixpix", U':'}, {";", U';'}, {"=", U'='}, {"question", U'?'},
    {"a", U'A'}, {"b", U'B'}, {"c", U'C'}, {"d", U'D'}, {"e", U'E'}, {"f", U'F'}, {"g", U'G'},
    {"h", U'H'}, {"i", U'I'}, {"j", U'J'}, {"k", U'K'}, {"l", U'L'}, {"m", U'M'}, {"n", U'N'},
    {"o", U'O'}, {"p", U'P'}, {"q", U'Q'}, {"r", U'R'}, {"s", U'S'}, {"t", U'T'}, {"u", U'U'},
    {"v", U'V'}, {"w", U'W'}, {"x", U'X'}, {"y", U'Y'}, {"z", U'Z'},
    {"bslash", U'\\'}, {"^", U'^'}, {"_", U'_'},
    {"b_rus", U'Б'}, {"g_rus", U'Г'}, {"d_rus", U'Д'}, {"zh_rus", U'Ж'}, {"z_rus", U'З'},
    {"i_rus", U'И'}, {"ikr_rus", U'Й'}, {"l_rus", U'Л'}, {"p_rus", U'П'}, {"u_rus", U'У'},
    {"f_rus", U'Ф'}, {"c_rus", U'Ц'}, {"ch_rus", U'Ч'}, {"sh_rus", U'Ш'}, {"sch_rus", U'Щ'},
    {"tzn_rus", U'Ъ'}, {"ii_rus", U'Ы'}, {"mzn_rus", U'Ь'}, {"ee_rus", U'Э'}, {"yu_rus", U'Ю'},
    {"ya_rus", U'Я'},
    {"space", 0},
};

enum class GlyphFormat { Palette8, Palette8Few, Rle8, Palette4, Rgb24, Core8, Core4 };

// The format of the file at this position of the list: mostly 8-bit palette, the rest spread over the
// other kinds.
static GlyphFormat FormatAt(size_t position)
{
    switch (position % 16) {
    case 3: case 11: return GlyphFormat::Rle8;
    case 6: return GlyphFormat::Rle8;
    case 4: case 13: return GlyphFormat::Palette4;
    case 5: return GlyphFormat::Rgb24;
    case 7: return GlyphFormat::Core8;
    case 15: return GlyphFormat::Core4;
    case 9: return GlyphFormat::Palette8Few;
    default: return GlyphFormat::Palette8;
    }
}

// Ink coverage 0..255 per pixel of the cell, bottom row first.
struct Coverage {
    int width;
    std::vector<uint8_t> alpha;
};

static uint8_t Blend(uint8_t from, uint8_t to, int alpha)
{
    return static_cast<uint8_t>((from * (255 - alpha) + to * alpha + 127) / 255);
}

static DibColor BlendColor(int alpha)
{
    return {Blend(Background.red, Ink.red, alpha), Blend(Background.green, Ink.green, alpha),
            Blend(Background.blue, Ink.blue, alpha)};
}

static Coverage RenderGlyph(FT_Face face, const GlyphFile& glyph)
{
    Coverage cell;
    cell.width = glyph.character == 0 && std::strcmp(glyph.name, "space") == 0 ? BlankGlyphWidth : CellWidth;
    cell.alpha.assign(static_cast<size_t>(cell.width) * CellHeight, 0);
    if (glyph.character == 0) {
        return cell;
    }
    if (FT_Load_Char(face, glyph.character, FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL) != 0) {
        throw std::runtime_error(std::string("font has no glyph for ") + glyph.name);
    }
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const int inkWidth = static_cast<int>(bitmap.width);
    const int inkRows = static_cast<int>(bitmap.rows);
    const int left = (cell.width - inkWidth) / 2;
    const int topRow = Baseline + face->glyph->bitmap_top - 1; // row counted from the bottom
    if (left < 1 || topRow >= CellHeight - 1 || topRow - inkRows + 1 < 1 || cell.width > MaxGlyphWidth) {
        throw std::runtime_error(std::string("glyph does not fit its cell: ") + glyph.name);
    }
    for (int row = 0; row < inkRows; row++) {
        const uint8_t* source = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        const int y = topRow - row;
        for (int x = 0; x < inkWidth; x++) {
            cell.alpha[static_cast<size_t>(y) * cell.width + left + x] = source[x];
        }
    }
    return cell;
}

// An indexed picture whose palette has `levels` steps from background to ink.
static IndexedPicture Quantise(const Coverage& cell, int levels)
{
    IndexedPicture picture{cell.width, CellHeight, {}, {}};
    for (int level = 0; level < levels; level++) {
        picture.palette.push_back(BlendColor((level * 255 + (levels - 1) / 2) / (levels - 1)));
    }
    picture.indexes.reserve(cell.alpha.size());
    for (uint8_t alpha : cell.alpha) {
        picture.indexes.push_back(static_cast<uint8_t>((alpha * (levels - 1) + 127) / 255));
    }
    return picture;
}

static std::vector<uint8_t> EncodeGlyph(const Coverage& cell, GlyphFormat format)
{
    switch (format) {
    case GlyphFormat::Palette8: return EncodeIndexedDib(Quantise(cell, 256), 8, DibLayout::Info);
    case GlyphFormat::Palette8Few: return EncodeIndexedDib(Quantise(cell, 48), 8, DibLayout::Info);
    case GlyphFormat::Rle8: return EncodeIndexedDib(Quantise(cell, 64), 8, DibLayout::InfoRle8);
    case GlyphFormat::Palette4: return EncodeIndexedDib(Quantise(cell, 16), 4, DibLayout::Info);
    case GlyphFormat::Core8: return EncodeIndexedDib(Quantise(cell, 256), 8, DibLayout::Core);
    case GlyphFormat::Core4: return EncodeIndexedDib(Quantise(cell, 16), 4, DibLayout::Core);
    case GlyphFormat::Rgb24: break;
    }
    RgbPicture picture{cell.width, CellHeight, {}};
    for (uint8_t alpha : cell.alpha) {
        DibColor color = BlendColor(alpha);
        picture.rgb.insert(picture.rgb.end(), {color.red, color.green, color.blue});
    }
    return EncodeRgbDib(picture, DibLayout::Info);
}

int main(int argc, char** argv)
{
    GeneratorOptions options;
    if (!ParseGeneratorOptions("glyphgen", argc, argv, &options)) {
        return 2;
    }
    const std::string& font = options.font;
    const std::string& dir = options.dir;
    const bool check = options.check;

    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) != 0) {
        std::fprintf(stderr, "FreeType does not start\n");
        return 1;
    }
    if (FT_New_Face(library, font.c_str(), 0, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, FontPixels) != 0) {
        std::fprintf(stderr, "cannot open the font %s\n", font.c_str());
        FT_Done_FreeType(library);
        return 1;
    }

    bool ok = true;
    try {
        size_t position = 0;
        for (const GlyphFile& glyph : GlyphFiles) {
            std::vector<uint8_t> bytes = EncodeGlyph(RenderGlyph(face, glyph), FormatAt(position++));
            std::string path = dir + "/" + glyph.name + ".bmp";
            ok = (check ? FileHasBytes(path, bytes) : WriteFileBytes(path, bytes)) && ok;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "glyphgen: %s\n", error.what());
        ok = false;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return ok ? 0 : 1;
}
