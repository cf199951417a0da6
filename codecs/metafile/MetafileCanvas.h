#pragma once
// A GDI device context emulated on cairo, shared by the WMF and EMF players. Players hand it logical
// coordinates and decoded objects; it keeps the mapping, the selected objects, the clip and the path,
// and draws in destination pixels. Nothing here reads file bytes.
#include <cairo.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace metafile {

// A record shorter than what it declares. Players throw it from their readers; playback stops.
class EMalformedRecord : public std::runtime_error {
public:
    EMalformedRecord() : std::runtime_error("Malformed metafile record") {}
};

struct TPointD {
    double X = 0, Y = 0;
};
struct TRectD {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
};
struct TRgb {
    std::uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRgb&) const = default;
};

// x' = M11 x + M21 y + Dx, y' = M12 x + M22 y + Dy (the layout of GDI's XFORM).
struct TXform {
    double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
    TPointD Apply(TPointD p) const { return {M11 * p.X + M21 * p.Y + Dx, M12 * p.X + M22 * p.Y + Dy}; }
    TPointD ApplyVector(TPointD v) const { return {M11 * v.X + M21 * v.Y, M12 * v.X + M22 * v.Y}; }
    double Det() const { return M11 * M22 - M12 * M21; }
    // This map first, then next.
    TXform Then(const TXform& next) const;
    // Finite, not degenerate and not absurdly large: usable as a drawing transform.
    bool IsUsable() const;
    cairo_matrix_t ToCairo() const { return {M11, M12, M21, M22, Dx, Dy}; }
};

// GDI constants the players and the canvas share.
enum : std::uint32_t {
    MM_TEXT = 1,
    MM_LOMETRIC = 2,
    MM_HIMETRIC = 3,
    MM_LOENGLISH = 4,
    MM_HIENGLISH = 5,
    MM_TWIPS = 6,
    MM_ISOTROPIC = 7,
    MM_ANISOTROPIC = 8,
    PS_SOLID = 0,
    PS_DASH = 1,
    PS_DOT = 2,
    PS_DASHDOT = 3,
    PS_DASHDOTDOT = 4,
    PS_NULL = 5,
    PS_INSIDEFRAME = 6,
    PS_USERSTYLE = 7,
    PS_ALTERNATE = 8,
    PS_STYLE_MASK = 0xF,
    PS_ENDCAP_SQUARE = 0x100,
    PS_ENDCAP_FLAT = 0x200,
    PS_ENDCAP_MASK = 0xF00,
    PS_JOIN_BEVEL = 0x1000,
    PS_JOIN_MITER = 0x2000,
    PS_JOIN_MASK = 0xF000,
    PS_GEOMETRIC = 0x10000,
    BS_SOLID = 0,
    BS_NULL = 1,
    BS_HATCHED = 2,
    BS_PATTERN = 3,
    BS_DIBPATTERN = 5,
    BS_DIBPATTERNPT = 6,
    TA_UPDATECP = 1,
    TA_RIGHT = 2,
    TA_CENTER = 6,
    TA_HMASK = 6,
    TA_BOTTOM = 8,
    TA_BASELINE = 24,
    TA_VMASK = 24,
    ETO_OPAQUE = 2,
    ETO_CLIPPED = 4,
    ETO_GLYPH_INDEX = 0x10,
    ETO_NO_RECT = 0x100,
    ETO_SMALL_CHARS = 0x200,
    ETO_PDY = 0x2000,
    BK_TRANSPARENT = 1,
    BK_OPAQUE = 2,
    FILL_ALTERNATE = 1,
    FILL_WINDING = 2,
    AD_COUNTERCLOCKWISE = 1,
    AD_CLOCKWISE = 2,
    GM_COMPATIBLE = 1,
    GM_ADVANCED = 2,
    MWT_IDENTITY = 1,
    MWT_LEFTMULTIPLY = 2,
    MWT_RIGHTMULTIPLY = 3,
    MWT_SET = 4,
    HS_HORIZONTAL = 0,
    HS_VERTICAL = 1,
    HS_FDIAGONAL = 2,
    HS_BDIAGONAL = 3,
    HS_CROSS = 4,
    HS_DIAGCROSS = 5,
    PT_CLOSEFIGURE = 1,
    PT_LINETO = 2,
    PT_BEZIERTO = 4,
    PT_MOVETO = 6,
    GRADIENT_FILL_RECT_H = 0,
    GRADIENT_FILL_RECT_V = 1,
    GRADIENT_FILL_TRIANGLE = 2,
    RGN_AND = 1,
    RGN_OR = 2,
    RGN_XOR = 3,
    RGN_DIFF = 4,
    RGN_COPY = 5,
    R2_BLACK = 1,
    R2_NOTCOPYPEN = 4,
    R2_NOT = 6,
    R2_XORPEN = 7,
    R2_MASKPEN = 9,
    R2_NOP = 11,
    R2_COPYPEN = 13,
    R2_MERGEPEN = 15,
    R2_WHITE = 16,
    ANSI_CHARSET = 0,
    DEFAULT_CHARSET = 1,
    SYMBOL_CHARSET = 2,
    SHIFTJIS_CHARSET = 128,
    HANGUL_CHARSET = 129,
    JOHAB_CHARSET = 130,
    GB2312_CHARSET = 134,
    CHINESEBIG5_CHARSET = 136,
    GREEK_CHARSET = 161,
    TURKISH_CHARSET = 162,
    VIETNAMESE_CHARSET = 163,
    HEBREW_CHARSET = 177,
    ARABIC_CHARSET = 178,
    BALTIC_CHARSET = 186,
    RUSSIAN_CHARSET = 204,
    THAI_CHARSET = 222,
    EASTEUROPE_CHARSET = 238,
    OEM_CHARSET = 255,
    FIXED_PITCH = 1,
    VARIABLE_PITCH = 2,
    PITCH_MASK = 3,
    FF_ROMAN = 0x10,
    FF_SWISS = 0x20,
    FF_MODERN = 0x30,
    FF_MASK = 0xF0,
    // The whole raster-operation code of a plain copy (its ternary index is ROP_SRCCOPY).
    SRCCOPY = 0x00CC0020,
};
// Raster operations whose ternary index (bits 16..23) the blit code singles out.
enum : std::uint8_t {
    ROP_BLACKNESS = 0x00,
    ROP_DSTCOPY = 0xAA,
    ROP_SRCCOPY = 0xCC,
    ROP_PATCOPY = 0xF0,
    ROP_WHITENESS = 0xFF
};

// A decoded bitmap: premultiplied ARGB rows (cairo's layout), top-down.
struct TImage {
    int Width = 0, Height = 0;
    std::vector<std::uint32_t> Pixels;
    bool HasAlpha = false; // pixels carry their own alpha (only used by alpha blends)
};

struct TPen {
    std::uint32_t Style = PS_SOLID; // style, cap, join and type bits
    double Width = 0;               // logical units; 0 is one pixel
    TRgb Color;
    bool Extended = false;         // from ExtCreatePen, which honours styles at any width
    std::vector<double> UserStyle; // PS_USERSTYLE dash lengths
};
struct TBrush {
    std::uint32_t Style = BS_SOLID;
    TRgb Color;
    std::uint32_t Hatch = 0;
    std::shared_ptr<const TImage> Pattern; // BS_PATTERN / BS_DIBPATTERN
};
struct TFont {
    std::int32_t Height = 0, Width = 0, Escapement = 0, Weight = 400;
    bool Italic = false, Underline = false, StrikeOut = false;
    std::uint8_t CharSet = 0, PitchAndFamily = 0;
    std::string Face; // UTF-8
};
struct TPalette {
    std::vector<TRgb> Entries;
};
// Rectangles in the units the region was recorded in (WMF logical, EMF device).
struct TRegion {
    std::vector<TRectD> Rects;
};
using TGdiObject = std::variant<std::monostate, std::shared_ptr<const TPen>, std::shared_ptr<const TBrush>,
                                std::shared_ptr<const TFont>, std::shared_ptr<const TPalette>,
                                std::shared_ptr<const TRegion>>;

// A path in destination pixels.
class TPath {
public:
    void MoveTo(TPointD p);
    void LineTo(TPointD p);
    void CurveTo(TPointD a, TPointD b, TPointD c);
    void Close();
    void Append(const TPath& other);
    void Translate(double dx, double dy);
    void Clear();
    bool Empty() const { return FOps.empty(); }
    bool HasCurrentPoint() const { return FOpen; }
    // Adds the path to the context's current path (coordinates taken as user space).
    void AppendTo(cairo_t* cr) const;
    // False for an empty path.
    bool Bounds(TRectD& r) const;
    std::size_t PointCount() const { return FPts.size(); }

private:
    enum : std::uint8_t { opMove, opLine, opCurve, opClose };
    std::vector<std::uint8_t> FOps;
    std::vector<TPointD> FPts;
    bool FOpen = false;
};

struct TClipEntry {
    TPath Path; // destination pixels
    bool EvenOdd = false;
    bool Exclude = false; // the clip keeps what lies outside the path
};

// Everything SaveDC keeps.
struct TDcState {
    std::uint32_t MapMode = MM_TEXT;
    TPointD WinOrg{0, 0}, WinExt{1, 1}, VpOrg{0, 0}, VpExt{1, 1};
    TXform World;
    std::uint32_t GraphicsMode = GM_COMPATIBLE;
    std::shared_ptr<const TPen> Pen;
    std::shared_ptr<const TBrush> Brush;
    std::shared_ptr<const TFont> Font;
    std::shared_ptr<const TPalette> Palette;
    TRgb TextColor{0, 0, 0}, BkColor{255, 255, 255};
    std::uint32_t BkMode = BK_OPAQUE, PolyFillMode = FILL_ALTERNATE, Rop2 = R2_COPYPEN;
    std::uint32_t TextAlign = 0, ArcDirection = AD_COUNTERCLOCKWISE;
    double MiterLimit = 10, CharExtra = 0;
    TPointD Cp{0, 0}; // logical
    std::vector<TClipEntry> Clip;
};

struct TTextRun {
    TPointD Ref;               // logical reference point
    std::u32string Text;       // code points, one per character cell
    std::vector<double> Dx;    // logical advances (may be empty or shorter than Text)
    std::uint32_t Options = 0; // ETO_*
    bool HasRect = false;
    TRectD Rect;           // logical, for ETO_OPAQUE / ETO_CLIPPED
    bool Advanced = false; // GM_ADVANCED: the text follows the whole transform
};

struct TBlit {
    TPointD Dest, DestSize;               // logical, or device pixels when DestIsDevice
    bool DestIsDevice = false;            // SetDIBitsToDevice: the size is in device pixels
    std::shared_ptr<const TImage> Source; // already cut to the source rectangle; may be null
    std::uint32_t Rop = SRCCOPY;
    bool AlphaBlend = false; // AlphaBlend: ConstAlpha and the source's own alpha
    double ConstAlpha = 1;
    bool Transparent = false; // TransparentBlt: TransparentColor becomes see-through
    TRgb TransparentColor;
};

struct TGradientVertex {
    TPointD P;
    double R = 0, G = 0, B = 0; // 0..1
};

// Mapping of the reference device into the destination and the reference device's resolution.
struct TCanvasSetup {
    TXform Fit;                                        // reference device pixels -> destination pixels
    double PxPerMmX = 96 / 25.4, PxPerMmY = 96 / 25.4; // reference device
    bool Wmf = false;
    TRectD WmfFrame;     // WMF: the initial window (logical)
    TPointD WmfViewport; // WMF: the picture's size in reference pixels
};

class TGdiCanvas {
public:
    // Draws into cr (an image surface of width x height pixels); with cr null the canvas only
    // measures what would be drawn (MeasuredBounds).
    TGdiCanvas(cairo_t* cr, int width, int height, const TCanvasSetup& setup);
    ~TGdiCanvas();
    TGdiCanvas(const TGdiCanvas&) = delete;
    TGdiCanvas& operator=(const TGdiCanvas&) = delete;

    TDcState& State() { return S; }
    bool Measuring() const { return FMeasuring; }
    const TXform& Fit() const { return Setup.Fit; }
    // False once cairo has failed; players stop then.
    bool Healthy() const;

    // Device context stack. RestoreDC takes GDI's relative (negative) or absolute level.
    void SaveDC();
    void RestoreDC(int level);

    // Mapping.
    void SetMapMode(std::uint32_t mode);
    void SetWindowOrg(TPointD p);
    void SetWindowExt(TPointD e);
    void SetViewportOrg(TPointD p);
    void SetViewportExt(TPointD e);
    void OffsetWindowOrg(TPointD d);
    void OffsetViewportOrg(TPointD d);
    void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
    void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
    void SetWorldTransform(const TXform& x);
    // mode: MWT_IDENTITY, MWT_LEFTMULTIPLY, MWT_RIGHTMULTIPLY or MWT_SET.
    void ModifyWorldTransform(const TXform& x, std::uint32_t mode);
    void SetGraphicsMode(std::uint32_t mode);

    // Selection (null pointers are ignored).
    void SelectPen(std::shared_ptr<const TPen> p) {
        if (p) S.Pen = std::move(p);
    }
    void SelectBrush(std::shared_ptr<const TBrush> b) {
        if (b) S.Brush = std::move(b);
    }
    void SelectFont(std::shared_ptr<const TFont> f) {
        if (f) S.Font = std::move(f);
    }
    void SelectPalette(std::shared_ptr<const TPalette> p) {
        if (p) S.Palette = std::move(p);
    }
    // A COLORREF: RGB, or an index into the selected palette (high byte 1).
    TRgb ColorRef(std::uint32_t c) const;

    // Lines and shapes, logical coordinates.
    void MoveTo(TPointD p);
    void LineTo(TPointD p);
    void Polyline(const std::vector<TPointD>& pts);
    void PolylineTo(const std::vector<TPointD>& pts);
    void PolyBezier(const std::vector<TPointD>& pts);
    void PolyBezierTo(const std::vector<TPointD>& pts);
    // types: PT_MOVETO, PT_LINETO or PT_BEZIERTO, each with the PT_CLOSEFIGURE flag or not.
    void PolyDraw(const std::vector<TPointD>& pts, const std::vector<std::uint8_t>& types);
    void Polygon(const std::vector<TPointD>& pts);
    void PolyPolygon(const std::vector<std::vector<TPointD>>& polys);
    void PolyPolyline(const std::vector<std::vector<TPointD>>& polys);
    void Rectangle(TRectD r);
    void RoundRect(TRectD r, double cornerW, double cornerH);
    void Ellipse(TRectD r);
    enum class TArcKind { Arc, ArcTo, Chord, Pie };
    void ArcShape(TArcKind kind, TRectD r, TPointD start, TPointD end);
    void AngleArc(TPointD center, double radius, double startDeg, double sweepDeg);
    void SetPixel(TPointD p, TRgb c);

    // Paths.
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void WidenPath() { FPathWidened = true; }
    void SelectClipPath(std::uint32_t mode);

    // Clipping. Logical rectangles; regions in logical (WMF) or device (EMF) units.
    void IntersectClipRect(TRectD r);
    void ExcludeClipRect(TRectD r);
    void OffsetClipRgn(TPointD d); // logical offset
    void SelectClipRegion(const TRegion* rgn, std::uint32_t mode, bool logicalUnits);
    void ResetClip();

    // Regions.
    void FillRegion(const TRegion& rgn, const TBrush& brush, bool logicalUnits);
    void FrameRegion(const TRegion& rgn, const TBrush& brush, double w, double h, bool logicalUnits);
    void InvertRegion(const TRegion& rgn, bool logicalUnits);

    // Text, bitmaps and gradients.
    // Converts bytes of the selected font's character set to code points.
    std::u32string Decode8Bit(const std::uint8_t* p, std::size_t n) const;
    std::u32string DecodeUtf16(const std::uint8_t* p, std::size_t n) const; // n code units
    void TextOut(const TTextRun& run);
    void Blit(const TBlit& b);
    // mode GRADIENT_FILL_RECT_H/_V: rectangles varying along x/y, GRADIENT_FILL_TRIANGLE: triangles;
    // mesh indexes checked by the caller.
    void GradientFill(const std::vector<TGradientVertex>& v,
                      const std::vector<std::array<std::uint32_t, 3>>& mesh, std::uint32_t mode);

    // What the drawing covered, in destination pixels (measuring canvases only).
    bool MeasuredBounds(TRectD& r) const;

    // Logical to destination pixels with the current mapping.
    TPointD ToDevice(TPointD p);
    const TXform& Full();

private:
    // A matched font with the metrics text layout needs, per em.
    struct TFontFace {
        cairo_font_face_t* Face = nullptr;
        double Ascent = 0.8, Descent = 0.2, AvgWidth = 0.5;
        bool Symbol = false; // the face stands in for a symbol font: map its code points
        ~TFontFace();
    };
    // Building blocks.
    void Invalidate() { FFullValid = false; }
    void FixIsotropic();
    void AddEllipsePath(TPath& out, TRectD r);
    void AddArc(TPath& out, TPointD c, double rx, double ry, double a0, double sweep, bool moveFirst);
    double ArcSign();
    TPath RectPath(TRectD r);
    TPath RegionPath(const TRegion& rgn, bool logicalUnits);
    void AddClip(TClipEntry e, std::uint32_t mode);
    void Emit(TPath&& path, bool fill, bool stroke);
    void FillWith(const TPath& path, const TBrush& brush, bool evenOdd);
    void StrokeWith(const TPath& path, const TPen& pen);
    bool PrepareDraw();
    bool SetBrushSource(const TBrush& brush);
    void ApplyRop2(TRgb& color, bool& skip);
    void Measure(const TPath& path, double grow);
    void MeasureRect(TRectD r);
    bool PathFits(const TPath& path) const;
    bool ClipPathOk(const TPath& path) const { return path.Empty() || PathFits(path); }
    double FitScale() const { return FFitScale; }
    void Rop3(std::uint8_t rop, const std::array<TPointD, 4>& quad, cairo_pattern_t* src);
    void QuadPath(const std::array<TPointD, 4>& quad);
    TFontFace* FaceFor(const TFont& f);
    void ApplyClip();
    cairo_operator_t Rop2Operator(TRgb& color, bool& skip) const;

    cairo_t* Cr;
    int FW, FH;
    TCanvasSetup Setup;
    TDcState S;
    std::vector<TDcState> FStack;
    bool FFullValid = false;
    TXform FFull, FPage;
    double FFitScale = 1;
    bool FClipDirty = true;
    bool FInPath = false, FPathWidened = false;
    TPath FPath; // the path being built (or the last one ended)
    bool FPathReady = false;
    bool FMeasuring = false;
    bool FMeasured = false;
    TRectD FMeasure;
    std::map<std::string, std::unique_ptr<TFontFace>> FFaces;
    cairo_surface_t* FOwnSurface = nullptr; // measuring: a 1x1 surface for font metrics
};

} // namespace metafile
