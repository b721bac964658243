// Draws the intro's two pictures: data/l1.bmp, a decorated fir on a snowy night (24-bit), for the
// lower-left corner, and data/l2.bmp, a snowman beside the year "2027" (8-bit palette with fewer than 256
// colours), which sits next to it on the bottom edge. Shapes are drawn with 4 × 4 supersampling; the
// output is byte-for-byte the same on every run.
//
//   picturegen [--font FILE] --write DIR   writes DIR/l1.bmp and DIR/l2.bmp
//   picturegen [--font FILE] --check DIR   exit 0 only when DIR holds exactly what --write would write
#include "tools/glyphgen/dib_writer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>


// Picture sizes in pixels. At 800 × 600 the second picture starts about 97 pixels from the left, so the
// first stays narrower than that; both fit the lower letterbox bar (about 93 pixels high).
constexpr int Picture1Width = 92;
constexpr int Picture1Height = 88;
constexpr int Picture2Width = 196;
constexpr int Picture2Height = 88;

struct Color {
    double red, green, blue;
};

// Pixels as doubles 0..255, y counted from the top while drawing; turned round when saved.
struct Canvas {
    int width;
    int height;
    std::vector<Color> pixels;
};

static Canvas MakeCanvas(int width, int height)
{
    return Canvas{width, height, std::vector<Color>(static_cast<size_t>(width) * height, Color{0, 0, 0})};
}

static void Mix(Canvas& canvas, int x, int y, Color color, double amount)
{
    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height || amount <= 0) {
        return;
    }
    Color& pixel = canvas.pixels[static_cast<size_t>(y) * canvas.width + x];
    pixel.red += (color.red - pixel.red) * amount;
    pixel.green += (color.green - pixel.green) * amount;
    pixel.blue += (color.blue - pixel.blue) * amount;
}

// Fills every pixel by the share of its 16 sample points for which `inside` holds.
static void Fill(Canvas& canvas, Color color, const std::function<bool(double, double)>& inside)
{
    for (int y = 0; y < canvas.height; y++) {
        for (int x = 0; x < canvas.width; x++) {
            int hits = 0;
            for (int sy = 0; sy < 4; sy++) {
                for (int sx = 0; sx < 4; sx++) {
                    hits += inside(x + (sx + 0.5) / 4.0, y + (sy + 0.5) / 4.0) ? 1 : 0;
                }
            }
            Mix(canvas, x, y, color, hits / 16.0);
        }
    }
}

static void Disc(Canvas& canvas, Color color, double cx, double cy, double radiusX, double radiusY)
{
    Fill(canvas, color, [=](double x, double y) {
        double dx = (x - cx) / radiusX, dy = (y - cy) / radiusY;
        return dx * dx + dy * dy <= 1.0;
    });
}

static void Box(Canvas& canvas, Color color, double left, double top, double right, double bottom)
{
    Fill(canvas, color, [=](double x, double y) { return x >= left && x < right && y >= top && y < bottom; });
}

static void Triangle(Canvas& canvas, Color color, double ax, double ay, double bx, double by, double cx, double cy)
{
    Fill(canvas, color, [=](double x, double y) {
        double d1 = (x - bx) * (ay - by) - (ax - bx) * (y - by);
        double d2 = (x - cx) * (by - cy) - (bx - cx) * (y - cy);
        double d3 = (x - ax) * (cy - ay) - (cx - ax) * (y - ay);
        bool negative = d1 < 0 || d2 < 0 || d3 < 0;
        bool positive = d1 > 0 || d2 > 0 || d3 > 0;
        return !(negative && positive);
    });
}

// A five-pointed star with its centre at (cx, cy).
static void Star(Canvas& canvas, Color color, double cx, double cy, double outer, double inner)
{
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < 5; i++) {
        double a0 = -pi / 2 + i * 2 * pi / 5;
        double a1 = a0 + pi / 5;
        double a2 = a0 - pi / 5;
        Triangle(canvas, color, cx + outer * std::cos(a0), cy + outer * std::sin(a0),
                 cx + inner * std::cos(a1), cy + inner * std::sin(a1), cx + inner * std::cos(a2),
                 cy + inner * std::sin(a2));
    }
    Disc(canvas, color, cx, cy, inner, inner);
}

// A small deterministic generator for the falling snow.
struct Lcg {
    uint32_t state;
    double Next(double limit)
    {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) * (limit / 16777216.0);
    }
};

// Night sky from deep blue at the top to a lighter blue at the horizon, then a snowy hill.
static void NightAndSnow(Canvas& canvas, double snowLine, uint32_t seed)
{
    for (int y = 0; y < canvas.height; y++) {
        double t = static_cast<double>(y) / (canvas.height - 1);
        Color sky{12 + 40 * t, 22 + 60 * t, 64 + 90 * t};
        for (int x = 0; x < canvas.width; x++) {
            canvas.pixels[static_cast<size_t>(y) * canvas.width + x] = sky;
        }
    }
    Lcg random{seed};
    for (int i = 0; i < canvas.width / 3; i++) {
        double x = random.Next(canvas.width), y = random.Next(snowLine);
        double size = 0.5 + random.Next(0.9);
        Disc(canvas, Color{235, 240, 255}, x, y, size, size);
    }
    const double width = canvas.width;
    Fill(canvas, Color{226, 234, 248}, [=](double x, double y) {
        return y >= snowLine + 3.0 * std::sin(x / width * 5.0 + seed % 7);
    });
}

static void Frame(Canvas& canvas, Color color)
{
    const double w = canvas.width, h = canvas.height;
    Fill(canvas, color, [=](double x, double y) { return x < 2 || y < 2 || x >= w - 2 || y >= h - 2; });
}

static Canvas DrawFir()
{
    Canvas canvas = MakeCanvas(Picture1Width, Picture1Height);
    NightAndSnow(canvas, 70, 2027);
    const Color needles{24, 110, 52}, snow{240, 246, 255};
    Box(canvas, Color{92, 58, 30}, 42, 66, 50, 80);
    // Three tiers, each dusted with snow along its lower edge.
    const double tiers[3][3] = {{70, 46, 30}, {52, 38, 23}, {36, 30, 16}}; // base y, half width, height
    for (const auto& tier : tiers) {
        double base = tier[0], half = tier[1], height = tier[2];
        Triangle(canvas, needles, 46 - half, base, 46 + half, base, 46, base - height - 8);
        Fill(canvas, snow, [=](double x, double y) {
            return y <= base && y >= base - 2.5 && x > 46 - half + 2 && x < 46 + half - 2 &&
                   std::fmod(x, 7.0) < 5.0;
        });
    }
    const struct {
        double x, y;
        Color color;
    } baubles[] = {{34, 62, {210, 30, 40}}, {57, 60, {240, 190, 40}}, {46, 50, {60, 120, 230}},
                   {38, 44, {240, 190, 40}}, {54, 42, {210, 30, 40}}, {44, 33, {200, 60, 200}},
                   {26, 67, {60, 120, 230}}, {66, 67, {200, 60, 200}}};
    for (const auto& bauble : baubles) {
        Disc(canvas, bauble.color, bauble.x, bauble.y, 2.6, 2.6);
        Disc(canvas, Color{255, 255, 255}, bauble.x - 0.8, bauble.y - 0.8, 0.8, 0.8);
    }
    Star(canvas, Color{255, 214, 60}, 46, 11, 8, 3.4);
    Frame(canvas, Color{196, 160, 64});
    return canvas;
}

// Draws `text` with the font's pixels at pen position (x, baseline), top-down canvas coordinates.
static void Text(Canvas& canvas, FT_Face face, const char* text, int x, int baseline, Color color)
{
    for (const char* c = text; *c != 0; c++) {
        if (FT_Load_Char(face, static_cast<unsigned char>(*c), FT_LOAD_RENDER) != 0) {
            throw std::runtime_error("font has no digit glyphs");
        }
        const FT_GlyphSlot glyph = face->glyph;
        for (unsigned row = 0; row < glyph->bitmap.rows; row++) {
            for (unsigned column = 0; column < glyph->bitmap.width; column++) {
                uint8_t alpha = glyph->bitmap.buffer[row * glyph->bitmap.pitch + column];
                Mix(canvas, x + glyph->bitmap_left + static_cast<int>(column),
                    baseline - glyph->bitmap_top + static_cast<int>(row), color, alpha / 255.0);
            }
        }
        x += static_cast<int>(glyph->advance.x >> 6);
    }
}

static Canvas DrawSnowmanAndYear(FT_Face face)
{
    Canvas canvas = MakeCanvas(Picture2Width, Picture2Height);
    NightAndSnow(canvas, 72, 1231);
    // The snowman.
    const Color snow{246, 250, 255}, shade{200, 214, 236}, coal{30, 30, 38};
    Disc(canvas, shade, 31, 67, 17, 14);
    Disc(canvas, snow, 30, 66, 16, 13);
    Disc(canvas, shade, 31, 44, 12, 11);
    Disc(canvas, snow, 30, 43, 11, 10);
    Disc(canvas, snow, 30, 24, 8.5, 8.5);
    Box(canvas, coal, 21, 14, 39, 16.5);   // hat brim
    Box(canvas, coal, 24, 3, 36, 15);      // hat
    Box(canvas, Color{200, 30, 40}, 24, 11, 36, 13); // hat band
    Disc(canvas, coal, 27, 22, 1.3, 1.3);
    Disc(canvas, coal, 33, 22, 1.3, 1.3);
    Triangle(canvas, Color{240, 120, 30}, 30, 25, 30, 27.5, 40, 26.5); // carrot nose
    Box(canvas, Color{200, 30, 40}, 22, 31, 39, 34.5);                 // scarf
    Box(canvas, Color{200, 30, 40}, 33, 33, 37, 44);
    for (double y : {40.0, 47.0, 54.0}) {
        Disc(canvas, coal, 30, y, 1.4, 1.4);
    }
    Fill(canvas, Color{92, 58, 30}, [](double x, double y) { // twig arms
        return (std::fabs((y - 40) - (x - 40) * -0.45) < 0.9 && x > 40 && x < 52) ||
               (std::fabs((y - 40) - (20 - x) * -0.45) < 0.9 && x > 8 && x < 20);
    });

    // The year, gold with a dark shadow, and a garland under it.
    Text(canvas, face, "2027", 66, 58, Color{20, 24, 50});
    Text(canvas, face, "2027", 64, 56, Color{250, 206, 70});
    const Color lights[] = {{230, 40, 50}, {60, 200, 90}, {70, 140, 250}, {250, 206, 70}};
    for (int i = 0; i < 12; i++) {
        double x = 70 + i * 10.5;
        double y = 66 + 3 * std::sin(i * 1.1);
        Disc(canvas, lights[i % 4], x, y, 2.4, 2.4);
    }
    Frame(canvas, Color{196, 160, 64});
    return canvas;
}

static uint8_t ToByte(double value)
{
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

static RgbPicture ToRgb(const Canvas& canvas)
{
    RgbPicture picture{canvas.width, canvas.height, {}};
    for (int y = canvas.height - 1; y >= 0; y--) { // bottom row first
        for (int x = 0; x < canvas.width; x++) {
            const Color& c = canvas.pixels[static_cast<size_t>(y) * canvas.width + x];
            picture.rgb.insert(picture.rgb.end(), {ToByte(c.red), ToByte(c.green), ToByte(c.blue)});
        }
    }
    return picture;
}

// Palette picture: channels are rounded to ever coarser steps until at most 255 colours remain.
static IndexedPicture ToIndexed(const RgbPicture& rgb)
{
    for (int step = 1;; step++) {
        auto quantise = [step](uint8_t v) { return static_cast<uint8_t>(std::min(255, (v + step / 2) / step * step)); };
        std::map<uint32_t, uint8_t> colors;
        for (size_t i = 0; i < rgb.rgb.size() && colors.size() < 256; i += 3) {
            uint32_t key = quantise(rgb.rgb[i]) << 16 | quantise(rgb.rgb[i + 1]) << 8 | quantise(rgb.rgb[i + 2]);
            colors.emplace(key, 0);
        }
        if (colors.size() > 255) {
            continue;
        }
        IndexedPicture picture{rgb.width, rgb.height, {}, {}};
        for (auto& [key, index] : colors) {
            index = static_cast<uint8_t>(picture.palette.size());
            picture.palette.push_back(DibColor{static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8),
                                               static_cast<uint8_t>(key)});
        }
        for (size_t i = 0; i < rgb.rgb.size(); i += 3) {
            uint32_t key = quantise(rgb.rgb[i]) << 16 | quantise(rgb.rgb[i + 1]) << 8 | quantise(rgb.rgb[i + 2]);
            picture.indexes.push_back(colors[key]);
        }
        return picture;
    }
}

int main(int argc, char** argv)
{
    GeneratorOptions options;
    if (!ParseGeneratorOptions("picturegen", argc, argv, &options)) {
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
    if (FT_New_Face(library, font.c_str(), 0, &face) != 0 || FT_Set_Pixel_Sizes(face, 0, 40) != 0) {
        std::fprintf(stderr, "cannot open the font %s\n", font.c_str());
        FT_Done_FreeType(library);
        return 1;
    }
    bool ok = true;
    try {
        std::vector<uint8_t> first = EncodeRgbDib(ToRgb(DrawFir()), DibLayout::Info);
        std::vector<uint8_t> second = EncodeIndexedDib(ToIndexed(ToRgb(DrawSnowmanAndYear(face))), 8, DibLayout::Info);
        ok = check ? FileHasBytes(dir + "/l1.bmp", first) : WriteFileBytes(dir + "/l1.bmp", first);
        ok = (check ? FileHasBytes(dir + "/l2.bmp", second) : WriteFileBytes(dir + "/l2.bmp", second)) && ok;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "picturegen: %s\n", error.what());
        ok = false;
    }
    FT_Done_Face(face);
    FT_Done_FreeType(library);
    return ok ? 0 : 1;
}
