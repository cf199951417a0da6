// Text: character sets to Unicode, font matching through fontconfig, and GDI text layout on cairo.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"
#include "platform/Ascii.h"
#include "platform/ByteOrder.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define FOLIANTO_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOLIANTO_LSAN 1
#endif
#endif
#ifdef FOLIANTO_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace metafile {

namespace {

constexpr double kMaxGlyphPixels = 16384; // far above any text a 16000-pixel picture can show

// Windows-1252's 0x80..0x9F; the rest of the page is Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                      0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

// The Symbol font's layout from 0x20: Greek letters and mathematical signs.
constexpr char16_t kSymbol[224] = {
    0x0020, 0x0021, 0x2200, 0x0023, 0x2203, 0x0025, 0x0026, 0x220B, 0x0028, 0x0029, 0x2217, 0x002B, 0x002C,
    0x2212, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039,
    0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6,
    0x0393, 0x0397, 0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F, 0x03A0, 0x0398, 0x03A1, 0x03A3,
    0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E, 0x03A8, 0x0396, 0x005B, 0x2234, 0x005D, 0x22A5, 0x005F, 0x203E,
    0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC,
    0x03BD, 0x03BF, 0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE, 0x03C8, 0x03B6,
    0x007B, 0x007C, 0x007D, 0x223C, 0x0020,
    // 0x80..0x9F are unused
    0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020,
    0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020,
    0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192,
    0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193, 0x00B0, 0x00B1, 0x2033, 0x2265,
    0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7, 0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5, 0x2135,
    0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A, 0x2283, 0x2287, 0x2284, 0x2282, 0x2286,
    0x2208, 0x2209, 0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC, 0x2227, 0x2228,
    0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3, 0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C,
    0x239D, 0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA, 0x0020, 0x232A, 0x222B, 0x2320, 0x23AE,
    0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4, 0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0x0020};

char32_t FromCp1252(std::uint8_t b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
    return b;
}
char32_t FromSymbol(std::uint8_t b) {
    return b < 0x20 ? char32_t(b) : char32_t(kSymbol[b - 0x20]);
}

// The iconv name of a LOGFONT character set that is not Windows-1252.
const char* CodePageOf(std::uint8_t charset) {
    switch (charset) {
    case SHIFTJIS_CHARSET:
        return "CP932";
    case HANGUL_CHARSET:
        return "CP949";
    case JOHAB_CHARSET:
        return "JOHAB";
    case GB2312_CHARSET:
        return "CP936";
    case CHINESEBIG5_CHARSET:
        return "CP950";
    case GREEK_CHARSET:
        return "CP1253";
    case TURKISH_CHARSET:
        return "CP1254";
    case VIETNAMESE_CHARSET:
        return "CP1258";
    case HEBREW_CHARSET:
        return "CP1255";
    case ARABIC_CHARSET:
        return "CP1256";
    case BALTIC_CHARSET:
        return "CP1257";
    case RUSSIAN_CHARSET:
        return "CP1251";
    case THAI_CHARSET:
        return "CP874";
    case EASTEUROPE_CHARSET:
        return "CP1250";
    case OEM_CHARSET:
        return "CP437";
    default:
        return nullptr;
    }
}

std::u32string Iconv(const char* from, const std::uint8_t* p, std::size_t n) {
    std::u32string out;
    iconv_t cd = iconv_open("UTF-32LE", from);
    if (cd == iconv_t(-1)) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(FromCp1252(p[i]));
        return out;
    }
    std::vector<char> in(p, p + n);
    char* src = in.data();
    std::size_t left = n;
    while (left > 0) {
        char32_t buf[64];
        char* dst = reinterpret_cast<char*>(buf);
        std::size_t room = sizeof(buf);
        const std::size_t r = iconv(cd, &src, &left, &dst, &room);
        const std::size_t got = (sizeof(buf) - room) / 4;
        for (std::size_t i = 0; i < got; ++i) {
            out.push_back(ReadLe32(reinterpret_cast<const std::uint8_t*>(&buf[i])));
        }
        if (r == std::size_t(-1) && errno != E2BIG) { // an invalid or cut sequence: skip one byte
            out.push_back(0xFFFD);
            ++src;
            --left;
        }
    }
    iconv_close(cd);
    return out;
}

bool IsSymbolFace(const std::string& face) {
    const std::string f = AsciiLower(face);
    return f == "symbol" || f == "symbolmt" || f == "mt symbol" || f == "standard symbols ps";
}
// The symbol font is chosen for its own character set and for the default one.
bool UsesSymbolLayout(const TFont& f) {
    return (f.CharSet == SYMBOL_CHARSET || f.CharSet == DEFAULT_CHARSET) && IsSymbolFace(f.Face);
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// Generic fontconfig family for a LOGFONT's pitch-and-family byte and its face name.
const char* GenericFamily(std::uint8_t pitchAndFamily, const std::string& face) {
    const std::string f = AsciiLower(face);
    for (const char* mono : {"courier", "mono", "consol", "fixed", "terminal", "lucida console"})
        if (f.find(mono) != std::string::npos) return "monospace";
    for (const char* serif : {"times", "roman", "serif", "garamond", "georgia", "cambria", "book", "palatino",
                              "century", "bodoni", "minion", "cmr", "mincho", "song"})
        if (f.find(serif) != std::string::npos && f.find("sans") == std::string::npos) return "serif";
    if ((pitchAndFamily & PITCH_MASK) == FIXED_PITCH) return "monospace";
    switch (pitchAndFamily & FF_MASK) {
    case FF_ROMAN:
        return "serif";
    case FF_MODERN:
        return "monospace";
    default:
        return "sans-serif";
    }
}

cairo_font_options_t* TextOptions() {
    cairo_font_options_t* o = Cairo().cairo_font_options_create();
    Cairo().cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
    Cairo().cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
    Cairo().cairo_font_options_set_antialias(o, CAIRO_ANTIALIAS_GRAY);
    return o;
}

} // namespace

TGdiCanvas::TFontFace::~TFontFace() {
    if (Face) Cairo().cairo_font_face_destroy(Face);
}

std::u32string TGdiCanvas::Decode8Bit(const std::uint8_t* p, std::size_t n) const {
    std::u32string out;
    const std::uint8_t cs = S.Font ? S.Font->CharSet : 0;
    if (S.Font && UsesSymbolLayout(*S.Font)) {
        for (std::size_t i = 0; i < n; ++i) out.push_back(FromSymbol(p[i]));
        return out;
    }
    if (const char* cp = CodePageOf(cs)) return Iconv(cp, p, n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(FromCp1252(p[i]));
    return out;
}

std::u32string TGdiCanvas::DecodeUtf16(const std::uint8_t* p, std::size_t n) const {
    std::u32string out;
    const bool symbol = S.Font && UsesSymbolLayout(*S.Font);
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = ReadLe16(p + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
            const char32_t lo = ReadLe16(p + 2 * i + 2);
            if (lo >= 0xDC00 && lo < 0xE000) {
                out.push_back(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
                out.push_back(0x200B); // the low half keeps its own character cell (and advance)
                ++i;
                continue;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
        // Symbol fonts are often addressed through the private-use page F0xx.
        if (symbol && ((c >= 0xF020 && c <= 0xF0FF) || (c >= 0x20 && c <= 0xFF)))
            c = FromSymbol(std::uint8_t(c & 0xFF));
        else if (c >= 0xF020 && c <= 0xF0FF)
            c = FromCp1252(std::uint8_t(c & 0xFF));
        out.push_back(c);
    }
    return out;
}

TGdiCanvas::TFontFace* TGdiCanvas::FaceFor(const TFont& f) {
    const int weight = f.Weight <= 0 ? 400 : std::clamp(f.Weight, 1, 1000);
    const std::string key = AsciiLower(f.Face) + '|' + std::to_string(weight / 100) + '|' +
                            (f.Italic ? 'i' : 'r') + '|' + std::to_string(f.PitchAndFamily);
    if (auto it = FFaces.find(key); it != FFaces.end()) return it->second.get();
    if (FFaces.size() > 256) return FFaces.begin()->second.get(); // a file inventing fonts without end

    static std::once_flag once;
    std::call_once(once, [] {
#ifdef FOLIANTO_LSAN
        // fontconfig leaves pieces of its parsed configuration unreachable for the life of the process;
        // that one-time loss is not ours to report.
        __lsan::ScopedDisabler disabled;
#endif
        Cairo().FcInit();
    });
    auto face = std::make_unique<TFontFace>();
    face->Symbol = IsSymbolFace(f.Face);
    FcPattern* pat = Cairo().FcPatternCreate();
    if (!f.Face.empty() && !face->Symbol)
        Cairo().FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(f.Face.c_str()));
    const char* generic = face->Symbol ? "serif" : GenericFamily(f.PitchAndFamily, f.Face);
    Cairo().FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic));
    // Stand-in faces run wider than the usual office fonts; a semi-condensed cut keeps lines closer to
    // their recorded length. An installed face of the requested family still wins, family ranking first.
    if (std::string(generic) != "monospace" && AsciiLower(f.Face).rfind("dejavu", 0) != 0)
        Cairo().FcPatternAddInteger(pat, FC_WIDTH, FC_WIDTH_SEMICONDENSED);
    Cairo().FcPatternAddInteger(pat, FC_WEIGHT, Cairo().FcWeightFromOpenType(weight));
    Cairo().FcPatternAddInteger(pat, FC_SLANT, f.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    Cairo().FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    Cairo().FcDefaultSubstitute(pat);
    FcResult result;
    FcPattern* match = Cairo().FcFontMatch(nullptr, pat, &result);
    Cairo().FcPatternDestroy(pat);
    if (match) {
        face->Face = Cairo().cairo_ft_font_face_create_for_pattern(match);
        Cairo().FcPatternDestroy(match);
    }
    if (!face->Face || Cairo().cairo_font_face_status(face->Face) != CAIRO_STATUS_SUCCESS) {
        if (face->Face) Cairo().cairo_font_face_destroy(face->Face);
        face->Face = Cairo().cairo_toy_font_face_create(
            "sans-serif", f.Italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
            weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    }
    // Metrics per em, for cell heights (positive LOGFONT heights) and average widths.
    cairo_matrix_t unit, ctm;
    Cairo().cairo_matrix_init_identity(&unit);
    Cairo().cairo_matrix_init_identity(&ctm);
    cairo_font_options_t* opts = TextOptions();
    cairo_scaled_font_t* sf = Cairo().cairo_scaled_font_create(face->Face, &unit, &ctm, opts);
    Cairo().cairo_font_options_destroy(opts);
    if (Cairo().cairo_scaled_font_status(sf) == CAIRO_STATUS_SUCCESS) {
        cairo_font_extents_t fe;
        Cairo().cairo_scaled_font_extents(sf, &fe);
        if (fe.ascent > 0.1 && fe.ascent < 10) face->Ascent = fe.ascent;
        if (fe.descent >= 0 && fe.descent < 10) face->Descent = fe.descent;
        cairo_text_extents_t te;
        Cairo().cairo_scaled_font_text_extents(sf, "abcdefghijklmnopqrstuvwxyz", &te);
        if (te.x_advance > 0.5 && te.x_advance < 260) face->AvgWidth = te.x_advance / 26;
    }
    Cairo().cairo_scaled_font_destroy(sf);
    TFontFace* raw = face.get();
    FFaces.emplace(key, std::move(face));
    return raw;
}

void TGdiCanvas::TextOut(const TTextRun& run) {
    if (!PrepareDraw() || !S.Font) return;
    const TFont& font = *S.Font;
    const TXform& full = Full();
    const bool updateCp = S.TextAlign & TA_UPDATECP;
    const TPointD ref = updateCp ? S.Cp : run.Ref;
    const TPointD origin = full.Apply(ref);

    if ((run.Options & ETO_OPAQUE) && run.HasRect && !FMeasuring) {
        TPath box = RectPath(run.Rect);
        if (PathFits(box)) {
            Cairo().cairo_new_path(Cr);
            box.AppendTo(Cr);
            Cairo().cairo_set_source_rgb(Cr, S.BkColor.R / 255.0, S.BkColor.G / 255.0, S.BkColor.B / 255.0);
            Cairo().cairo_fill(Cr);
        }
    }
    if (run.Text.empty() || (run.Options & ETO_GLYPH_INDEX)) return; // glyph ids of a font we do not have

    TFontFace* face = FaceFor(font);
    if (!face || !face->Face) return;
    // Text space: x along the baseline, y down, in logical units, placed at the reference point.
    const double kx = std::hypot(full.M11, full.M12), ky = std::hypot(full.M21, full.M22);
    if (!(kx > 0) || !(ky > 0) || !std::isfinite(kx) || !std::isfinite(ky)) return;
    const double esc = font.Escapement / 10.0 * kPi / 180;
    const double ce = std::cos(esc), se = std::sin(esc);
    TXform text; // text space -> device
    if (run.Advanced) {
        // The whole transform applies; a mirrored mapping still gets upright glyphs.
        const double flip = full.Det() > 0 ? 1 : -1;
        const TXform rot{ce, -se, se, ce, 0, 0};
        const TXform lin{full.M11, full.M12, flip * full.M21, flip * full.M22, 0, 0};
        text = rot.Then(lin);
    } else {
        // Compatible mode: device-aligned text, scaled but never mirrored or sheared.
        text = {kx * ce, -kx * se, ky * se, ky * ce, 0, 0};
    }
    text.Dx = origin.X;
    text.Dy = origin.Y;
    if (!text.IsUsable()) return;

    double em;
    if (font.Height < 0)
        em = -double(font.Height);
    else if (font.Height > 0)
        em = font.Height / (face->Ascent + face->Descent);
    else
        em = 13.333 * FitScale() / ky; // the default font: ten points on the reference device
    double emx = run.Advanced ? em : em * ky / kx;
    if (font.Width != 0) emx = std::fabs(double(font.Width)) / face->AvgWidth;
    const double emDevice = em * ky;
    if (!(emDevice > 0.05) || emDevice > 1e5 || !(emx * kx > 0.01) || emx * kx > 1e5) return;

    std::string utf8;
    std::vector<std::size_t> charOfByte; // character index of each UTF-8 byte
    for (std::size_t i = 0; i < run.Text.size(); ++i) {
        const char32_t c = run.Text[i] < 0x20 ? U' ' : run.Text[i];
        const std::size_t before = utf8.size();
        AppendUtf8(utf8, c > 0x10FFFF ? 0xFFFD : c);
        charOfByte.insert(charOfByte.end(), utf8.size() - before, i);
    }

    cairo_matrix_t tm = text.ToCairo();
    cairo_matrix_t fm;
    Cairo().cairo_matrix_init_scale(&fm, emx, em);
    // FreeType refuses glyphs past 65535 pixels, and cairo then leaks the font it was building: such
    // text (taller than any picture we render) is not drawn at all.
    cairo_matrix_t glyphToDevice;
    Cairo().cairo_matrix_multiply(&glyphToDevice, &fm, &tm);
    const double glyphX = std::hypot(glyphToDevice.xx, glyphToDevice.yx);
    const double glyphY = std::hypot(glyphToDevice.xy, glyphToDevice.yy);
    if (!(glyphX <= kMaxGlyphPixels) || !(glyphY <= kMaxGlyphPixels)) return;

    Cairo().cairo_save(Cr);
    Cairo().cairo_set_matrix(Cr, &tm);
    Cairo().cairo_set_font_face(Cr, face->Face);
    Cairo().cairo_set_font_matrix(Cr, &fm);
    cairo_font_options_t* opts = TextOptions();
    Cairo().cairo_set_font_options(Cr, opts);
    Cairo().cairo_font_options_destroy(opts);
    cairo_scaled_font_t* sf = Cairo().cairo_get_scaled_font(Cr);
    cairo_glyph_t* glyphs = nullptr;
    int nGlyphs = 0;
    cairo_text_cluster_t* clusters = nullptr;
    int nClusters = 0;
    cairo_text_cluster_flags_t flags{};
    if (Cairo().cairo_scaled_font_status(sf) != CAIRO_STATUS_SUCCESS ||
        Cairo().cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), int(utf8.size()), &glyphs, &nGlyphs,
                                                 &clusters, &nClusters, &flags) != CAIRO_STATUS_SUCCESS) {
        Cairo().cairo_restore(Cr);
        return;
    }

    // Character positions along the baseline: the record's advances, else the font's plus extra spacing.
    const std::size_t n = run.Text.size();
    std::vector<double> pos(n + 1, 0);
    const bool pdy = run.Options & ETO_PDY;
    const std::size_t dxStep = pdy ? 2 : 1;
    const bool useDx = run.Dx.size() >= n * dxStep && n > 0;
    if (useDx) {
        for (std::size_t i = 0; i < n; ++i) pos[i + 1] = pos[i] + run.Dx[i * dxStep];
    } else {
        // Natural advances per character, from where each cluster's glyphs start.
        std::vector<double> start(n + 1, -1);
        std::size_t byte = 0;
        int g = 0;
        for (int c = 0; c < nClusters; ++c) {
            if (byte < charOfByte.size() && g < nGlyphs && start[charOfByte[byte]] < 0)
                start[charOfByte[byte]] = glyphs[g].x;
            byte += std::size_t(clusters[c].num_bytes);
            g += clusters[c].num_glyphs;
        }
        cairo_text_extents_t te;
        Cairo().cairo_scaled_font_text_extents(sf, utf8.c_str(), &te);
        start[n] = te.x_advance;
        for (std::size_t i = n; i-- > 0;)
            if (start[i] < 0) start[i] = start[i + 1];
        for (std::size_t i = 0; i <= n; ++i) pos[i] = start[i] + S.CharExtra * double(i);
    }
    const double width = pos[n];
    double shiftX = 0;
    if ((S.TextAlign & TA_HMASK) == TA_RIGHT)
        shiftX = -width;
    else if ((S.TextAlign & TA_HMASK) == TA_CENTER)
        shiftX = -width / 2;
    const double ascent = face->Ascent * em, descent = face->Descent * em;
    double baseline = ascent; // TA_TOP
    if ((S.TextAlign & TA_VMASK) == TA_BASELINE)
        baseline = 0;
    else if ((S.TextAlign & TA_VMASK) == TA_BOTTOM)
        baseline = -descent;

    // Re-place every glyph at its character's position, keeping offsets within a cluster.
    {
        std::size_t byte = 0;
        int g = 0;
        for (int c = 0; c < nClusters && g < nGlyphs; ++c) {
            const std::size_t ch = byte < charOfByte.size() ? charOfByte[byte] : n;
            const double x0 = glyphs[g].x;
            for (int k = 0; k < clusters[c].num_glyphs && g + k < nGlyphs; ++k) {
                glyphs[g + k].x = glyphs[g + k].x - x0 + pos[std::min(ch, n)] + shiftX;
                glyphs[g + k].y += baseline;
            }
            byte += std::size_t(clusters[c].num_bytes);
            g += clusters[c].num_glyphs;
        }
    }

    const TRectD box{shiftX, baseline - ascent, shiftX + width, baseline + descent};
    if (FMeasuring) {
        const TPointD corners[4] = {text.Apply({box.Left, box.Top}), text.Apply({box.Right, box.Top}),
                                    text.Apply({box.Right, box.Bottom}), text.Apply({box.Left, box.Bottom})};
        for (const auto& p : corners) MeasureRect({p.X, p.Y, p.X, p.Y});
    } else {
        if ((run.Options & ETO_CLIPPED) && run.HasRect) {
            Cairo().cairo_identity_matrix(Cr);
            TPath clip = RectPath(run.Rect);
            if (PathFits(clip)) {
                Cairo().cairo_new_path(Cr);
                clip.AppendTo(Cr);
                Cairo().cairo_clip(Cr);
            }
            Cairo().cairo_set_matrix(Cr, &tm);
        }
        if (S.BkMode == BK_OPAQUE && !(run.Options & ETO_OPAQUE)) {
            Cairo().cairo_new_path(Cr);
            Cairo().cairo_rectangle(Cr, box.Left, box.Top, box.Right - box.Left, box.Bottom - box.Top);
            Cairo().cairo_set_source_rgb(Cr, S.BkColor.R / 255.0, S.BkColor.G / 255.0, S.BkColor.B / 255.0);
            Cairo().cairo_fill(Cr);
        }
        TRgb c = S.TextColor;
        bool skip = false;
        Cairo().cairo_set_operator(Cr, Rop2Operator(c, skip));
        Cairo().cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
        // Large glyphs go through paths: the glyph cache would rasterise them whole.
        if (emDevice > 256) {
            Cairo().cairo_new_path(Cr);
            Cairo().cairo_glyph_path(Cr, glyphs, nGlyphs);
            Cairo().cairo_fill(Cr);
        } else {
            Cairo().cairo_show_glyphs(Cr, glyphs, nGlyphs);
        }
        const double thick = std::max(em / 14, 1 / ky);
        if (font.Underline) {
            Cairo().cairo_rectangle(Cr, box.Left, baseline + descent * 0.45, width, thick);
            Cairo().cairo_fill(Cr);
        }
        if (font.StrikeOut) {
            Cairo().cairo_rectangle(Cr, box.Left, baseline - ascent * 0.32, width, thick);
            Cairo().cairo_fill(Cr);
        }
        Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
    }
    Cairo().cairo_glyph_free(glyphs);
    Cairo().cairo_text_cluster_free(clusters);
    Cairo().cairo_restore(Cr);

    if (updateCp) {
        const double dir = full.M11 < 0 ? -1 : 1;
        double move = width;
        if ((S.TextAlign & TA_HMASK) == TA_RIGHT)
            move = -width;
        else if ((S.TextAlign & TA_HMASK) == TA_CENTER)
            move = 0;
        S.Cp.X += dir * move;
    }
}

} // namespace metafile
