#include "codecs/metafile/MetafileCanvas.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

// Destination coordinates beyond this are refused: cairo's fixed-point range ends near 2^23.
constexpr double kMaxDeviceCoord = 4.0e6;
// SaveDC levels kept; deeper saves are ignored (and so are their restores, which then pop less).
constexpr std::size_t kMaxSaveDepth = 4096;
constexpr double kPi = 3.14159265358979323846;

bool Finite(double v) {
    return std::isfinite(v);
}

TRgb Invert(TRgb c) {
    return {std::uint8_t(255 - c.R), std::uint8_t(255 - c.G), std::uint8_t(255 - c.B)};
}

TRectD Normalized(TRectD r) {
    if (r.Left > r.Right) std::swap(r.Left, r.Right);
    if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
    return r;
}

} // namespace

// ---- TXform

TXform TXform::Then(const TXform& n) const {
    TXform r;
    r.M11 = M11 * n.M11 + M12 * n.M21;
    r.M12 = M11 * n.M12 + M12 * n.M22;
    r.M21 = M21 * n.M11 + M22 * n.M21;
    r.M22 = M21 * n.M12 + M22 * n.M22;
    r.Dx = Dx * n.M11 + Dy * n.M21 + n.Dx;
    r.Dy = Dx * n.M12 + Dy * n.M22 + n.Dy;
    return r;
}

bool TXform::IsUsable() const {
    for (double v : {M11, M12, M21, M22, Dx, Dy})
        if (!Finite(v) || std::fabs(v) > 1e12) return false;
    const double d = Det();
    return Finite(d) && d != 0 && std::fabs(d) > 1e-30;
}

// ---- TPath

void TPath::MoveTo(TPointD p) {
    FOps.push_back(opMove);
    FPts.push_back(p);
    FOpen = true;
}

void TPath::LineTo(TPointD p) {
    if (!FOpen) MoveTo(p);
    FOps.push_back(opLine);
    FPts.push_back(p);
}

void TPath::CurveTo(TPointD a, TPointD b, TPointD c) {
    if (!FOpen) MoveTo(a);
    FOps.push_back(opCurve);
    FPts.push_back(a);
    FPts.push_back(b);
    FPts.push_back(c);
}

void TPath::Close() {
    if (!FOpen) return;
    FOps.push_back(opClose);
    FOpen = false;
}

void TPath::Append(const TPath& o) {
    FOps.insert(FOps.end(), o.FOps.begin(), o.FOps.end());
    FPts.insert(FPts.end(), o.FPts.begin(), o.FPts.end());
    FOpen = o.FOpen;
}

void TPath::Translate(double dx, double dy) {
    for (auto& p : FPts) p.X += dx, p.Y += dy;
}

void TPath::Clear() {
    FOps.clear();
    FPts.clear();
    FOpen = false;
}

void TPath::AppendTo(cairo_t* cr) const {
    std::size_t k = 0;
    for (const std::uint8_t op : FOps) {
        switch (op) {
        case opMove:
            cairo_move_to(cr, FPts[k].X, FPts[k].Y), ++k;
            break;
        case opLine:
            cairo_line_to(cr, FPts[k].X, FPts[k].Y), ++k;
            break;
        case opCurve:
            cairo_curve_to(cr, FPts[k].X, FPts[k].Y, FPts[k + 1].X, FPts[k + 1].Y, FPts[k + 2].X,
                           FPts[k + 2].Y);
            k += 3;
            break;
        case opClose:
            cairo_close_path(cr);
            break;
        }
    }
}

bool TPath::Bounds(TRectD& r) const {
    if (FPts.empty()) return false;
    r = {FPts[0].X, FPts[0].Y, FPts[0].X, FPts[0].Y};
    for (const auto& p : FPts) {
        r.Left = std::min(r.Left, p.X), r.Right = std::max(r.Right, p.X);
        r.Top = std::min(r.Top, p.Y), r.Bottom = std::max(r.Bottom, p.Y);
    }
    return true;
}

// ---- construction and state

TGdiCanvas::TGdiCanvas(cairo_t* cr, int width, int height, const TCanvasSetup& setup)
    : Cr(cr), FW(width), FH(height), Setup(setup) {
    if (!Cr) {
        FMeasuring = true;
        FOwnSurface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
        Cr = cairo_create(FOwnSurface);
    }
    FFitScale = std::sqrt(std::fabs(Setup.Fit.Det()));
    if (!Finite(FFitScale) || FFitScale <= 0) FFitScale = 1;
    S.Pen = std::make_shared<TPen>();
    auto brush = std::make_shared<TBrush>();
    brush->Color = {255, 255, 255};
    S.Brush = brush;
    S.Font = std::make_shared<TFont>();
    if (Setup.Wmf) {
        S.MapMode = MM_ANISOTROPIC;
        S.WinOrg = {Setup.WmfFrame.Left, Setup.WmfFrame.Top};
        S.WinExt = {Setup.WmfFrame.Right - Setup.WmfFrame.Left, Setup.WmfFrame.Bottom - Setup.WmfFrame.Top};
        if (S.WinExt.X == 0) S.WinExt.X = 1;
        if (S.WinExt.Y == 0) S.WinExt.Y = 1;
        S.VpExt = Setup.WmfViewport;
    }
    cairo_set_antialias(Cr, CAIRO_ANTIALIAS_DEFAULT);
}

TGdiCanvas::~TGdiCanvas() {
    FFaces.clear();
    if (FOwnSurface) {
        cairo_destroy(Cr);
        cairo_surface_destroy(FOwnSurface);
    }
}

bool TGdiCanvas::Healthy() const {
    return cairo_status(Cr) == CAIRO_STATUS_SUCCESS;
}

void TGdiCanvas::SaveDC() {
    if (FStack.size() < kMaxSaveDepth) FStack.push_back(S);
}

void TGdiCanvas::RestoreDC(int level) {
    // Negative: that many levels back; positive: the absolute level (1 is the first save).
    std::int64_t target;
    if (level < 0)
        target = std::int64_t(FStack.size()) + level;
    else
        target = std::int64_t(level) - 1;
    if (target < 0 || target >= std::int64_t(FStack.size())) return;
    S = std::move(FStack[std::size_t(target)]);
    FStack.resize(std::size_t(target));
    Invalidate();
    FClipDirty = true;
}

TRgb TGdiCanvas::ColorRef(std::uint32_t c) const {
    if ((c >> 24) == 1) { // PALETTEINDEX
        const std::uint32_t i = c & 0xFFFF;
        if (S.Palette && i < S.Palette->Entries.size()) return S.Palette->Entries[i];
        return {0, 0, 0};
    }
    return {std::uint8_t(c & 0xFF), std::uint8_t((c >> 8) & 0xFF), std::uint8_t((c >> 16) & 0xFF)};
}

// ---- mapping

void TGdiCanvas::SetMapMode(std::uint32_t mode) {
    if (mode < MM_TEXT || mode > MM_ANISOTROPIC || mode == S.MapMode) return;
    const bool wasScalable = S.MapMode == MM_ISOTROPIC || S.MapMode == MM_ANISOTROPIC;
    S.MapMode = mode;
    Invalidate();
    double unitMm = 0;
    switch (mode) {
    case MM_TEXT:
        S.WinExt = {1, 1}, S.VpExt = {1, 1};
        return;
    case MM_LOMETRIC:
        unitMm = 0.1;
        break;
    case MM_HIMETRIC:
        unitMm = 0.01;
        break;
    case MM_LOENGLISH:
        unitMm = 0.254;
        break;
    case MM_HIENGLISH:
        unitMm = 0.0254;
        break;
    case MM_TWIPS:
        unitMm = 25.4 / 1440;
        break;
    default:
        // A WMF that leaves the scalable modes and comes back expects the picture frame again, which
        // the caller's viewport gave it when the player set it up.
        if (Setup.Wmf && !wasScalable) {
            S.WinOrg = {Setup.WmfFrame.Left, Setup.WmfFrame.Top};
            S.WinExt = {Setup.WmfFrame.Right - Setup.WmfFrame.Left,
                        Setup.WmfFrame.Bottom - Setup.WmfFrame.Top};
            if (S.WinExt.X == 0) S.WinExt.X = 1;
            if (S.WinExt.Y == 0) S.WinExt.Y = 1;
            S.VpOrg = {0, 0};
            S.VpExt = Setup.WmfViewport;
        }
        FixIsotropic();
        return;
    }
    S.WinExt = {1, 1};
    S.VpExt = {Setup.PxPerMmX * unitMm, -Setup.PxPerMmY * unitMm};
}

void TGdiCanvas::FixIsotropic() {
    if (S.MapMode != MM_ISOTROPIC) return;
    const double ax = std::fabs(S.VpExt.X / S.WinExt.X), ay = std::fabs(S.VpExt.Y / S.WinExt.Y);
    const double m = std::min(ax, ay);
    if (!Finite(m) || m <= 0) return;
    S.VpExt.X = std::copysign(m * std::fabs(S.WinExt.X), S.VpExt.X);
    S.VpExt.Y = std::copysign(m * std::fabs(S.WinExt.Y), S.VpExt.Y);
}

void TGdiCanvas::SetWindowOrg(TPointD p) {
    S.WinOrg = p;
    Invalidate();
}

void TGdiCanvas::SetViewportOrg(TPointD p) {
    S.VpOrg = p;
    Invalidate();
}

void TGdiCanvas::OffsetWindowOrg(TPointD d) {
    SetWindowOrg({S.WinOrg.X + d.X, S.WinOrg.Y + d.Y});
}
void TGdiCanvas::OffsetViewportOrg(TPointD d) {
    SetViewportOrg({S.VpOrg.X + d.X, S.VpOrg.Y + d.Y});
}

void TGdiCanvas::SetWindowExt(TPointD e) {
    if (S.MapMode != MM_ISOTROPIC && S.MapMode != MM_ANISOTROPIC) return;
    if (e.X == 0 || e.Y == 0 || !Finite(e.X) || !Finite(e.Y)) return;
    S.WinExt = e;
    FixIsotropic();
    Invalidate();
}

void TGdiCanvas::SetViewportExt(TPointD e) {
    if (S.MapMode != MM_ISOTROPIC && S.MapMode != MM_ANISOTROPIC) return;
    if (e.X == 0 || e.Y == 0 || !Finite(e.X) || !Finite(e.Y)) return;
    S.VpExt = e;
    FixIsotropic();
    Invalidate();
}

void TGdiCanvas::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetWindowExt({S.WinExt.X * xNum / xDen, S.WinExt.Y * yNum / yDen});
}

void TGdiCanvas::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetViewportExt({S.VpExt.X * xNum / xDen, S.VpExt.Y * yNum / yDen});
}

void TGdiCanvas::SetWorldTransform(const TXform& x) {
    if (!x.IsUsable()) return;
    S.World = x;
    Invalidate();
}

void TGdiCanvas::ModifyWorldTransform(const TXform& x, std::uint32_t mode) {
    TXform r;
    switch (mode) {
    case 1:
        r = TXform{};
        break;
    case 2:
        r = x.Then(S.World);
        break;
    case 3:
        r = S.World.Then(x);
        break;
    case 4:
        r = x;
        break;
    default:
        return;
    }
    SetWorldTransform(r);
}

void TGdiCanvas::SetGraphicsMode(std::uint32_t mode) {
    if (mode == GM_COMPATIBLE || mode == GM_ADVANCED) S.GraphicsMode = mode;
}

const TXform& TGdiCanvas::Full() {
    if (!FFullValid) {
        TXform page;
        page.M11 = S.VpExt.X / S.WinExt.X;
        page.M22 = S.VpExt.Y / S.WinExt.Y;
        page.Dx = S.VpOrg.X - S.WinOrg.X * page.M11;
        page.Dy = S.VpOrg.Y - S.WinOrg.Y * page.M22;
        FPage = S.World.Then(page);
        FFull = FPage.Then(Setup.Fit);
        FFullValid = true;
    }
    return FFull;
}

TPointD TGdiCanvas::ToDevice(TPointD p) {
    return Full().Apply(p);
}

// ---- drawing plumbing

bool TGdiCanvas::PathFits(const TPath& path) const {
    TRectD r;
    if (!path.Bounds(r)) return false;
    for (double v : {r.Left, r.Top, r.Right, r.Bottom})
        if (!Finite(v) || std::fabs(v) > kMaxDeviceCoord) return false;
    return true;
}

void TGdiCanvas::ApplyClip() {
    cairo_reset_clip(Cr);
    for (const auto& e : S.Clip) {
        cairo_new_path(Cr);
        if (e.Exclude) cairo_rectangle(Cr, -2, -2, FW + 4.0, FH + 4.0);
        e.Path.AppendTo(Cr);
        cairo_set_fill_rule(Cr,
                            (e.EvenOdd || e.Exclude) ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
        cairo_clip(Cr);
    }
    cairo_new_path(Cr);
    FClipDirty = false;
}

bool TGdiCanvas::PrepareDraw() {
    if (!Healthy() || !Full().IsUsable()) return false;
    if (FClipDirty && !FMeasuring) ApplyClip();
    return true;
}

void TGdiCanvas::Measure(const TPath& path, double grow) {
    TRectD r;
    if (!path.Bounds(r)) return;
    r.Left -= grow, r.Top -= grow, r.Right += grow, r.Bottom += grow;
    MeasureRect(r);
}

void TGdiCanvas::MeasureRect(TRectD r) {
    for (double v : {r.Left, r.Top, r.Right, r.Bottom})
        if (!Finite(v) || std::fabs(v) > kMaxDeviceCoord) return;
    if (!FMeasured) {
        FMeasure = r;
        FMeasured = true;
        return;
    }
    FMeasure.Left = std::min(FMeasure.Left, r.Left), FMeasure.Top = std::min(FMeasure.Top, r.Top);
    FMeasure.Right = std::max(FMeasure.Right, r.Right), FMeasure.Bottom = std::max(FMeasure.Bottom, r.Bottom);
}

bool TGdiCanvas::MeasuredBounds(TRectD& r) const {
    if (!FMeasured) return false;
    r = FMeasure;
    return true;
}

cairo_operator_t TGdiCanvas::Rop2Operator(TRgb& c, bool& skip) const {
    skip = false;
    switch (S.Rop2) {
    case R2_NOP:
        skip = true;
        return CAIRO_OPERATOR_OVER;
    case R2_BLACK:
        c = {0, 0, 0};
        return CAIRO_OPERATOR_OVER;
    case R2_WHITE:
        c = {255, 255, 255};
        return CAIRO_OPERATOR_OVER;
    case R2_NOTCOPYPEN:
        c = Invert(c);
        return CAIRO_OPERATOR_OVER;
    // Bitwise modes approximated by the blend modes that agree with them on black and white.
    case R2_NOT:
        c = {255, 255, 255};
        return CAIRO_OPERATOR_DIFFERENCE;
    case R2_XORPEN:
        return CAIRO_OPERATOR_DIFFERENCE;
    case R2_MASKPEN:
        return CAIRO_OPERATOR_MULTIPLY;
    case R2_MERGEPEN:
        return CAIRO_OPERATOR_LIGHTEN;
    default:
        return CAIRO_OPERATOR_OVER;
    }
}

namespace {

// The pattern owns a copy of the pixels, so it may outlive the image (the raster operations borrow it).
void SetSourceImage(cairo_t* cr, const TImage& img, double scale) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.Width, img.Height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        cairo_set_source_rgb(cr, 0, 0, 0);
        return;
    }
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < img.Height; ++y)
        std::copy_n(&img.Pixels[std::size_t(y) * std::size_t(img.Width)], img.Width,
                    reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride));
    cairo_surface_mark_dirty(s);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
    cairo_surface_destroy(s);
    cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_matrix_t m;
    cairo_matrix_init_scale(&m, 1 / scale, 1 / scale);
    cairo_pattern_set_matrix(p, &m);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
}

// 8x8 hatch cells: which pixels carry the hatch colour.
bool HatchBit(std::uint32_t style, int x, int y) {
    switch (style) {
    case 0:
        return y == 4; // HS_HORIZONTAL
    case 1:
        return x == 4; // HS_VERTICAL
    case 2:
        return x == y; // HS_FDIAGONAL
    case 3:
        return x == 7 - y; // HS_BDIAGONAL
    case 4:
        return x == 4 || y == 4; // HS_CROSS
    default:
        return x == y || x == 7 - y; // HS_DIAGCROSS
    }
}

} // namespace

bool TGdiCanvas::SetBrushSource(const TBrush& brush) {
    TRgb c = brush.Color;
    bool skip = false;
    const cairo_operator_t op = Rop2Operator(c, skip);
    if (skip) return false;
    cairo_set_operator(Cr, op);
    switch (brush.Style) {
    case BS_NULL:
        return false;
    case BS_HATCHED: {
        // Hatches and patterns are laid out in reference-device pixels so they scale with the picture.
        auto img = std::make_shared<TImage>();
        img->Width = img->Height = 8;
        img->Pixels.resize(64);
        const bool opaque = S.BkMode == BK_OPAQUE;
        const TRgb bk = S.BkColor;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                std::uint32_t px = 0;
                if (HatchBit(brush.Hatch, x, y))
                    px = 0xFF000000u | (c.R << 16) | (c.G << 8) | c.B;
                else if (opaque)
                    px = 0xFF000000u | (bk.R << 16) | (bk.G << 8) | bk.B;
                img->Pixels[std::size_t(y * 8 + x)] = px;
            }
        SetSourceImage(Cr, *img, std::max(1.0, FitScale()));
        return true;
    }
    case BS_PATTERN:
    case BS_DIBPATTERN:
    case BS_DIBPATTERNPT:
        if (brush.Pattern && brush.Pattern->Width > 0) {
            SetSourceImage(Cr, *brush.Pattern, std::max(1.0, FitScale()));
            return true;
        }
        [[fallthrough]];
    default:
        cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
        return true;
    }
}

void TGdiCanvas::FillWith(const TPath& path, const TBrush& brush, bool evenOdd) {
    cairo_new_path(Cr);
    if (!SetBrushSource(brush)) return;
    path.AppendTo(Cr);
    cairo_set_fill_rule(Cr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_fill(Cr);
    cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
}

void TGdiCanvas::StrokeWith(const TPath& path, const TPen& pen) {
    const std::uint32_t style = pen.Style & PS_STYLE_MASK;
    if (style == PS_NULL) return;
    TRgb c = pen.Color;
    bool skip = false;
    const cairo_operator_t op = Rop2Operator(c, skip);
    if (skip) return;
    const double scale = std::sqrt(std::fabs(Full().Det()));
    const bool cosmetic = pen.Width <= 0 || (pen.Extended && !(pen.Style & PS_GEOMETRIC));
    const double unit = std::max(1.0, FitScale()); // one reference-device pixel
    double width = cosmetic ? unit : std::max(1.0, pen.Width * scale);
    if (!Finite(width) || width > kMaxDeviceCoord) return;
    std::vector<double> dashes;
    const bool styled = pen.Extended || width <= 1.5 * unit;
    const double d = (pen.Extended && !cosmetic) ? width : unit;
    if (styled) {
        switch (style) {
        case PS_DASH:
            dashes = pen.Extended ? std::vector<double>{3 * d, d} : std::vector<double>{18 * d, 6 * d};
            break;
        case PS_DOT:
            dashes = pen.Extended ? std::vector<double>{d, d} : std::vector<double>{3 * d, 3 * d};
            break;
        case PS_DASHDOT:
            dashes = pen.Extended ? std::vector<double>{3 * d, d, d, d}
                                  : std::vector<double>{9 * d, 6 * d, 3 * d, 6 * d};
            break;
        case PS_DASHDOTDOT:
            dashes = pen.Extended ? std::vector<double>{3 * d, d, d, d, d, d}
                                  : std::vector<double>{9 * d, 3 * d, 3 * d, 3 * d, 3 * d, 3 * d};
            break;
        case PS_ALTERNATE:
            dashes = {unit, unit};
            break;
        case PS_USERSTYLE:
            for (double v : pen.UserStyle) dashes.push_back(std::max(0.0, v) * (cosmetic ? unit : scale));
            break;
        default:
            break;
        }
    }
    double total = 0;
    for (double v : dashes) total += v;
    if (!(total > 0.01) || !Finite(total)) dashes.clear();

    cairo_line_cap_t cap = CAIRO_LINE_CAP_ROUND;
    cairo_line_join_t join = CAIRO_LINE_JOIN_ROUND;
    if (pen.Extended && !cosmetic) {
        switch (pen.Style & PS_ENDCAP_MASK) {
        case PS_ENDCAP_SQUARE:
            cap = CAIRO_LINE_CAP_SQUARE;
            break;
        case PS_ENDCAP_FLAT:
            cap = CAIRO_LINE_CAP_BUTT;
            break;
        default:
            break;
        }
        switch (pen.Style & PS_JOIN_MASK) {
        case PS_JOIN_BEVEL:
            join = CAIRO_LINE_JOIN_BEVEL;
            break;
        case PS_JOIN_MITER:
            join = CAIRO_LINE_JOIN_MITER;
            break;
        default:
            break;
        }
    } else if (!dashes.empty()) {
        cap = CAIRO_LINE_CAP_BUTT;
    }
    cairo_new_path(Cr);
    path.AppendTo(Cr);
    cairo_set_operator(Cr, op);
    cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
    cairo_set_line_width(Cr, width);
    cairo_set_line_cap(Cr, cap);
    cairo_set_line_join(Cr, join);
    cairo_set_miter_limit(Cr, std::clamp(S.MiterLimit, 1.0, 100.0));
    cairo_set_dash(Cr, dashes.empty() ? nullptr : dashes.data(), int(dashes.size()), 0);
    cairo_stroke(Cr);
    cairo_set_dash(Cr, nullptr, 0, 0);
    cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
}

void TGdiCanvas::Emit(TPath&& path, bool fill, bool stroke) {
    if (path.Empty()) return;
    if (FInPath) {
        FPath.Append(path);
        return;
    }
    if (!PrepareDraw() || !PathFits(path)) return;
    if (FMeasuring) {
        const bool pen = stroke && (S.Pen->Style & PS_STYLE_MASK) != PS_NULL;
        Measure(path, pen ? std::max(0.5, S.Pen->Width * std::sqrt(std::fabs(Full().Det())) / 2) : 0);
        return;
    }
    if (fill) FillWith(path, *S.Brush, S.PolyFillMode == FILL_ALTERNATE);
    if (stroke) StrokeWith(path, *S.Pen);
}

// ---- lines and shapes

void TGdiCanvas::MoveTo(TPointD p) {
    S.Cp = p;
    if (FInPath) FPath.MoveTo(ToDevice(p));
}

void TGdiCanvas::LineTo(TPointD p) {
    const TPointD from = S.Cp;
    S.Cp = p;
    if (FInPath) {
        if (!FPath.HasCurrentPoint()) FPath.MoveTo(ToDevice(from));
        FPath.LineTo(ToDevice(p));
        return;
    }
    TPath path;
    path.MoveTo(ToDevice(from));
    path.LineTo(ToDevice(p));
    Emit(std::move(path), false, true);
}

void TGdiCanvas::Polyline(const std::vector<TPointD>& pts) {
    if (pts.size() < 2) return;
    TPath path;
    path.MoveTo(ToDevice(pts[0]));
    for (std::size_t i = 1; i < pts.size(); ++i) path.LineTo(ToDevice(pts[i]));
    Emit(std::move(path), false, true);
}

void TGdiCanvas::PolylineTo(const std::vector<TPointD>& pts) {
    if (pts.empty()) return;
    TPath path;
    const bool continuing = FInPath && FPath.HasCurrentPoint();
    if (!continuing) path.MoveTo(ToDevice(S.Cp));
    for (const auto& p : pts) {
        if (continuing)
            FPath.LineTo(ToDevice(p));
        else
            path.LineTo(ToDevice(p));
    }
    S.Cp = pts.back();
    if (!continuing) Emit(std::move(path), false, true);
}

void TGdiCanvas::PolyBezier(const std::vector<TPointD>& pts) {
    if (pts.size() < 4) return;
    TPath path;
    path.MoveTo(ToDevice(pts[0]));
    for (std::size_t i = 1; i + 2 < pts.size(); i += 3)
        path.CurveTo(ToDevice(pts[i]), ToDevice(pts[i + 1]), ToDevice(pts[i + 2]));
    Emit(std::move(path), false, true);
}

void TGdiCanvas::PolyBezierTo(const std::vector<TPointD>& pts) {
    if (pts.size() < 3) return;
    const bool continuing = FInPath && FPath.HasCurrentPoint();
    TPath local;
    TPath& path = continuing ? FPath : local;
    if (!continuing) path.MoveTo(ToDevice(S.Cp));
    std::size_t i = 0;
    for (; i + 2 < pts.size(); i += 3)
        path.CurveTo(ToDevice(pts[i]), ToDevice(pts[i + 1]), ToDevice(pts[i + 2]));
    S.Cp = pts[i - 1];
    if (!continuing) Emit(std::move(local), false, true);
}

void TGdiCanvas::PolyDraw(const std::vector<TPointD>& pts, const std::vector<std::uint8_t>& types) {
    const bool continuing = FInPath && FPath.HasCurrentPoint();
    TPath local;
    TPath& path = continuing ? FPath : local;
    if (!continuing) path.MoveTo(ToDevice(S.Cp));
    TPointD figureStart = S.Cp;
    for (std::size_t i = 0; i < pts.size() && i < types.size(); ++i) {
        const std::uint8_t t = std::uint8_t(types[i] & 0xFE);
        if (t == 6) { // PT_MOVETO
            path.MoveTo(ToDevice(pts[i]));
            figureStart = pts[i];
            S.Cp = pts[i];
        } else if (t == 2) { // PT_LINETO
            path.LineTo(ToDevice(pts[i]));
            S.Cp = pts[i];
        } else if (t == 4 && i + 2 < pts.size()) { // PT_BEZIERTO
            path.CurveTo(ToDevice(pts[i]), ToDevice(pts[i + 1]), ToDevice(pts[i + 2]));
            S.Cp = pts[i + 2];
            i += 2;
        } else {
            break;
        }
        if (types[std::min(i, types.size() - 1)] & 1) { // PT_CLOSEFIGURE
            path.Close();
            S.Cp = figureStart;
        }
    }
    if (!continuing) Emit(std::move(local), false, true);
}

void TGdiCanvas::Polygon(const std::vector<TPointD>& pts) {
    if (pts.size() < 2) return;
    TPath path;
    path.MoveTo(ToDevice(pts[0]));
    for (std::size_t i = 1; i < pts.size(); ++i) path.LineTo(ToDevice(pts[i]));
    path.Close();
    Emit(std::move(path), true, true);
}

void TGdiCanvas::PolyPolygon(const std::vector<std::vector<TPointD>>& polys) {
    TPath path;
    for (const auto& pts : polys) {
        if (pts.size() < 2) continue;
        path.MoveTo(ToDevice(pts[0]));
        for (std::size_t i = 1; i < pts.size(); ++i) path.LineTo(ToDevice(pts[i]));
        path.Close();
    }
    Emit(std::move(path), true, true);
}

void TGdiCanvas::PolyPolyline(const std::vector<std::vector<TPointD>>& polys) {
    TPath path;
    for (const auto& pts : polys) {
        if (pts.size() < 2) continue;
        path.MoveTo(ToDevice(pts[0]));
        for (std::size_t i = 1; i < pts.size(); ++i) path.LineTo(ToDevice(pts[i]));
    }
    Emit(std::move(path), false, true);
}

TPath TGdiCanvas::RectPath(TRectD r) {
    TPath path;
    path.MoveTo(ToDevice({r.Left, r.Top}));
    path.LineTo(ToDevice({r.Right, r.Top}));
    path.LineTo(ToDevice({r.Right, r.Bottom}));
    path.LineTo(ToDevice({r.Left, r.Bottom}));
    path.Close();
    return path;
}

void TGdiCanvas::Rectangle(TRectD r) {
    r = Normalized(r);
    if (r.Right == r.Left || r.Bottom == r.Top) return;
    Emit(RectPath(r), true, true);
}

// GDI's arcs run counter-clockwise as seen on the device, so the sense of the parametrisation in
// logical space flips with the mapping's orientation.
double TGdiCanvas::ArcSign() {
    const double s = Full().Det() > 0 ? -1.0 : 1.0;
    return S.ArcDirection == AD_CLOCKWISE ? -s : s;
}

void TGdiCanvas::AddArc(TPath& out, TPointD c, double rx, double ry, double a0, double sweep,
                        bool moveFirst) {
    const double s = ArcSign();
    auto at = [&](double a) { return TPointD{c.X + rx * std::cos(a), c.Y + s * ry * std::sin(a)}; };
    auto tangent = [&](double a) { return TPointD{-rx * std::sin(a), s * ry * std::cos(a)}; };
    sweep = std::clamp(sweep, -2 * kPi, 2 * kPi);
    const int n = std::max(1, int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
    const double step = sweep / n;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    TPointD p0 = at(a0);
    if (moveFirst)
        out.MoveTo(ToDevice(p0));
    else
        out.LineTo(ToDevice(p0));
    for (int i = 0; i < n; ++i) {
        const double b0 = a0 + step * i, b1 = b0 + step;
        const TPointD p3 = at(b1), t0 = tangent(b0), t1 = tangent(b1);
        out.CurveTo(ToDevice({p0.X + k * t0.X, p0.Y + k * t0.Y}),
                    ToDevice({p3.X - k * t1.X, p3.Y - k * t1.Y}), ToDevice(p3));
        p0 = p3;
    }
}

void TGdiCanvas::AddEllipsePath(TPath& out, TRectD r) {
    r = Normalized(r);
    const TPointD c{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
    AddArc(out, c, (r.Right - r.Left) / 2, (r.Bottom - r.Top) / 2, 0, 2 * kPi, true);
    out.Close();
}

void TGdiCanvas::Ellipse(TRectD r) {
    r = Normalized(r);
    if (r.Right == r.Left || r.Bottom == r.Top) return;
    TPath path;
    AddEllipsePath(path, r);
    Emit(std::move(path), true, true);
}

void TGdiCanvas::RoundRect(TRectD r, double cw, double ch) {
    r = Normalized(r);
    const double w = r.Right - r.Left, h = r.Bottom - r.Top;
    if (w == 0 || h == 0) return;
    const double rx = std::min(std::fabs(cw) / 2, w / 2), ry = std::min(std::fabs(ch) / 2, h / 2);
    if (rx <= 0 || ry <= 0) return Rectangle(r);
    // Corners as quarter ellipses in logical space; the path runs clockwise on a y-down plane.
    const double k = 0.5522847498;
    auto P = [&](double x, double y) { return ToDevice({x, y}); };
    TPath path;
    path.MoveTo(P(r.Left + rx, r.Top));
    path.LineTo(P(r.Right - rx, r.Top));
    path.CurveTo(P(r.Right - rx + k * rx, r.Top), P(r.Right, r.Top + ry - k * ry), P(r.Right, r.Top + ry));
    path.LineTo(P(r.Right, r.Bottom - ry));
    path.CurveTo(P(r.Right, r.Bottom - ry + k * ry), P(r.Right - rx + k * rx, r.Bottom),
                 P(r.Right - rx, r.Bottom));
    path.LineTo(P(r.Left + rx, r.Bottom));
    path.CurveTo(P(r.Left + rx - k * rx, r.Bottom), P(r.Left, r.Bottom - ry + k * ry),
                 P(r.Left, r.Bottom - ry));
    path.LineTo(P(r.Left, r.Top + ry));
    path.CurveTo(P(r.Left, r.Top + ry - k * ry), P(r.Left + rx - k * rx, r.Top), P(r.Left + rx, r.Top));
    path.Close();
    Emit(std::move(path), true, true);
}

void TGdiCanvas::ArcShape(TArcKind kind, TRectD r, TPointD start, TPointD end) {
    r = Normalized(r);
    const double rx = (r.Right - r.Left) / 2, ry = (r.Bottom - r.Top) / 2;
    if (rx <= 0 || ry <= 0) return;
    const TPointD c{(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
    const double s = ArcSign();
    const double a0 = std::atan2(s * (start.Y - c.Y) / ry, (start.X - c.X) / rx);
    const double a1 = std::atan2(s * (end.Y - c.Y) / ry, (end.X - c.X) / rx);
    double sweep = a1 - a0;
    while (sweep <= 1e-12) sweep += 2 * kPi; // equal radials draw the whole ellipse
    TPath path;
    const bool continuing = kind == TArcKind::ArcTo && FInPath && FPath.HasCurrentPoint();
    TPath& out = continuing ? FPath : path;
    if (kind == TArcKind::Pie) {
        out.MoveTo(ToDevice(c));
        AddArc(out, c, rx, ry, a0, sweep, false);
    } else if (kind == TArcKind::ArcTo) {
        if (!continuing) out.MoveTo(ToDevice(S.Cp));
        AddArc(out, c, rx, ry, a0, sweep, false);
        S.Cp = {c.X + rx * std::cos(a0 + sweep), c.Y + s * ry * std::sin(a0 + sweep)};
    } else {
        AddArc(out, c, rx, ry, a0, sweep, true);
    }
    const bool closed = kind == TArcKind::Pie || kind == TArcKind::Chord;
    if (closed) out.Close();
    if (!continuing) Emit(std::move(path), closed, true);
}

void TGdiCanvas::AngleArc(TPointD c, double radius, double startDeg, double sweepDeg) {
    if (!(radius > 0) || !Finite(startDeg) || !Finite(sweepDeg)) return;
    const double s = Full().Det() > 0 ? -1.0 : 1.0;
    const double a0 = std::fmod(startDeg, 360.0) * kPi / 180;
    const double sweep = std::clamp(sweepDeg, -360.0, 360.0) * kPi / 180;
    const bool continuing = FInPath && FPath.HasCurrentPoint();
    TPath local;
    TPath& out = continuing ? FPath : local;
    if (!continuing) out.MoveTo(ToDevice(S.Cp));
    // AngleArc ignores the arc direction: positive sweeps run counter-clockwise.
    const std::uint32_t saved = S.ArcDirection;
    S.ArcDirection = AD_COUNTERCLOCKWISE;
    AddArc(out, c, radius, radius, a0, sweep, false);
    S.ArcDirection = saved;
    S.Cp = {c.X + radius * std::cos(a0 + sweep), c.Y + s * radius * std::sin(a0 + sweep)};
    if (!continuing) Emit(std::move(local), false, true);
}

void TGdiCanvas::SetPixel(TPointD p, TRgb c) {
    if (!PrepareDraw()) return;
    const TPointD d = ToDevice(p);
    const double u = std::max(1.0, FitScale());
    if (!Finite(d.X) || !Finite(d.Y) || std::fabs(d.X) > kMaxDeviceCoord || std::fabs(d.Y) > kMaxDeviceCoord)
        return;
    if (FMeasuring) return MeasureRect({d.X, d.Y, d.X + u, d.Y + u});
    cairo_new_path(Cr);
    cairo_rectangle(Cr, std::floor(d.X), std::floor(d.Y), u, u);
    cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
    cairo_fill(Cr);
}

} // namespace metafile
