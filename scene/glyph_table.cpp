// Which bitmap each glyph index loads. Cyrillic letters that look like Latin capitals share the Latin
// files; the double quote borrows the apostrophe; a space and "no glyph" are different files.
#include "scene/scene.h"

// Built over all indexes so any index the character rule returns can be looked up directly.
static constexpr std::array<const char*, GlyphTableSize> MakeGlyphFiles()
{
    std::array<const char*, GlyphTableSize> names{};
    names[0] = "data/letters/free.bmp";
    names[1] = "data/letters/!.bmp";
    names[2] = "data/letters/'.bmp";
    names[3] = "data/letters/#.bmp";
    names[7] = "data/letters/'.bmp";
    names[8] = "data/letters/(.bmp";
    names[9] = "data/letters/).bmp";
    names[10] = "data/letters/star.bmp";
    names[12] = "data/letters/,.bmp";
    names[13] = "data/letters/__.bmp";
    names[14] = "data/letters/pix.bmp";
    names[15] = "data/letters/slash.bmp";
    const char* const digits[10] = {
        "data/letters/0.bmp", "data/letters/1.bmp", "data/letters/2.bmp", "data/letters/3.bmp",
        "data/letters/4.bmp", "data/letters/5.bmp", "data/letters/6.bmp", "data/letters/7.bmp",
        "data/letters/8.bmp", "data/letters/9.bmp",
    };
    for (int i = 0; i < 10; i++) {
        names[16 + i] = digits[i];
    }
    names[26] = "data/letters/pixpix.bmp";
    names[27] = "data/letters/;.bmp";
    names[29] = "data/letters/=.bmp";
    names[31] = "data/letters/question.bmp";
    const char* const latin[26] = {
        "data/letters/a.bmp", "data/letters/b.bmp", "data/letters/c.bmp", "data/letters/d.bmp",
        "data/letters/e.bmp", "data/letters/f.bmp", "data/letters/g.bmp", "data/letters/h.bmp",
        "data/letters/i.bmp", "data/letters/j.bmp", "data/letters/k.bmp", "data/letters/l.bmp",
        "data/letters/m.bmp", "data/letters/n.bmp", "data/letters/o.bmp", "data/letters/p.bmp",
        "data/letters/q.bmp", "data/letters/r.bmp", "data/letters/s.bmp", "data/letters/t.bmp",
        "data/letters/u.bmp", "data/letters/v.bmp", "data/letters/w.bmp", "data/letters/x.bmp",
        "data/letters/y.bmp", "data/letters/z.bmp",
    };
    for (int i = 0; i < 26; i++) {
        names[33 + i] = latin[i];
    }
    names[60] = "data/letters/bslash.bmp";
    names[62] = "data/letters/^.bmp";
    names[63] = "data/letters/_.bmp";
    // Windows-1251 capitals 0xC0 .. 0xDF in alphabet order (Ё is not among them).
    const char* const cyrillic[32] = {
        "data/letters/a.bmp",       // А
        "data/letters/b_rus.bmp",   // Б
        "data/letters/b.bmp",       // В
        "data/letters/g_rus.bmp",   // Г
        "data/letters/d_rus.bmp",   // Д
        "data/letters/e.bmp",       // Е
        "data/letters/zh_rus.bmp",  // Ж
        "data/letters/z_rus.bmp",   // З
        "data/letters/i_rus.bmp",   // И
        "data/letters/ikr_rus.bmp", // Й
        "data/letters/k.bmp",       // К
        "data/letters/l_rus.bmp",   // Л
        "data/letters/m.bmp",       // М
        "data/letters/h.bmp",       // Н
        "data/letters/o.bmp",       // О
        "data/letters/p_rus.bmp",   // П
        "data/letters/p.bmp",       // Р
        "data/letters/c.bmp",       // С
        "data/letters/t.bmp",       // Т
        "data/letters/u_rus.bmp",   // У
        "data/letters/f_rus.bmp",   // Ф
        "data/letters/x.bmp",       // Х
        "data/letters/c_rus.bmp",   // Ц
        "data/letters/ch_rus.bmp",  // Ч
        "data/letters/sh_rus.bmp",  // Ш
        "data/letters/sch_rus.bmp", // Щ
        "data/letters/tzn_rus.bmp", // Ъ
        "data/letters/ii_rus.bmp",  // Ы
        "data/letters/mzn_rus.bmp", // Ь
        "data/letters/ee_rus.bmp",  // Э
        "data/letters/yu_rus.bmp",  // Ю
        "data/letters/ya_rus.bmp",  // Я
    };
    for (int i = 0; i < 32; i++) {
        names[192 + i] = cyrillic[i];
    }
    names[BlankGlyph] = "data/letters/space.bmp";
    return names;
}

constexpr std::array<const char*, GlyphTableSize> GlyphFiles = MakeGlyphFiles();
