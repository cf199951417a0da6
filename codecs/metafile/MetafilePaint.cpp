// Drawing plumbing of the canvas: clip application, measuring, binary raster operations, brushes, pens
// and the fill and stroke of one path.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

TRgb Invert(TRgb c) {
    return {std::uint8_t(255 - c.R), std::uint8_t(255 - c.G), std::uint8_t(255 - c.B)};
}

} // namespace

// ---- drawing plumbing

bool TGdiCanvas::PathFits(const TPath& path) const {
    TRectD r;
    if (!path.Bounds(r)) return false;
    for (double v : {r.Left, r.Top, r.Right, r.Bottom})
        if (!Finite(v) || std::fabs(v) > kMaxDeviceCoord) return false;
    return true;
}

void TGdiCanvas::ApplyClip() {
    Cairo().cairo_reset_clip(Cr);
    for (const auto& e : S.Clip) {
        Cairo().cairo_new_path(Cr);
        if (e.Exclude) Cairo().cairo_rectangle(Cr, -2, -2, FW + 4.0, FH + 4.0);
        e.Path.AppendTo(Cr);
        Cairo().cairo_set_fill_rule(Cr, (e.EvenOdd || e.Exclude) ? CAIRO_FILL_RULE_EVEN_ODD
                                                                 : CAIRO_FILL_RULE_WINDING);
        Cairo().cairo_clip(Cr);
    }
    Cairo().cairo_new_path(Cr);
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
    cairo_surface_t* s = Cairo().cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.Width, img.Height);
    if (Cairo().cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        Cairo().cairo_surface_destroy(s);
        Cairo().cairo_set_source_rgb(cr, 0, 0, 0);
        return;
    }
    Cairo().cairo_surface_flush(s);
    unsigned char* data = Cairo().cairo_image_surface_get_data(s);
    const int stride = Cairo().cairo_image_surface_get_stride(s);
    for (int y = 0; y < img.Height; ++y)
        std::copy_n(&img.Pixels[std::size_t(y) * std::size_t(img.Width)], img.Width,
                    reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride));
    Cairo().cairo_surface_mark_dirty(s);
    cairo_pattern_t* p = Cairo().cairo_pattern_create_for_surface(s);
    Cairo().cairo_surface_destroy(s);
    Cairo().cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
    Cairo().cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_matrix_t m;
    Cairo().cairo_matrix_init_scale(&m, 1 / scale, 1 / scale);
    Cairo().cairo_pattern_set_matrix(p, &m);
    Cairo().cairo_set_source(cr, p);
    Cairo().cairo_pattern_destroy(p);
}

// 8x8 hatch cells: which pixels carry the hatch colour.
bool HatchBit(std::uint32_t style, int x, int y) {
    switch (style) {
    case HS_HORIZONTAL:
        return y == 4;
    case HS_VERTICAL:
        return x == 4;
    case HS_FDIAGONAL:
        return x == y;
    case HS_BDIAGONAL:
        return x == 7 - y;
    case HS_CROSS:
        return x == 4 || y == 4;
    default: // HS_DIAGCROSS and unknown styles
        return x == y || x == 7 - y;
    }
}

} // namespace

bool TGdiCanvas::SetBrushSource(const TBrush& brush) {
    TRgb c = brush.Color;
    bool skip = false;
    const cairo_operator_t op = Rop2Operator(c, skip);
    if (skip) return false;
    Cairo().cairo_set_operator(Cr, op);
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
        Cairo().cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
        return true;
    }
}

void TGdiCanvas::FillWith(const TPath& path, const TBrush& brush, bool evenOdd) {
    Cairo().cairo_new_path(Cr);
    if (!SetBrushSource(brush)) return;
    path.AppendTo(Cr);
    Cairo().cairo_set_fill_rule(Cr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    Cairo().cairo_fill(Cr);
    Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
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
    Cairo().cairo_new_path(Cr);
    path.AppendTo(Cr);
    Cairo().cairo_set_operator(Cr, op);
    Cairo().cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
    Cairo().cairo_set_line_width(Cr, width);
    Cairo().cairo_set_line_cap(Cr, cap);
    Cairo().cairo_set_line_join(Cr, join);
    Cairo().cairo_set_miter_limit(Cr, std::clamp(S.MiterLimit, 1.0, 100.0));
    Cairo().cairo_set_dash(Cr, dashes.empty() ? nullptr : dashes.data(), int(dashes.size()), 0);
    Cairo().cairo_stroke(Cr);
    Cairo().cairo_set_dash(Cr, nullptr, 0, 0);
    Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
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

} // namespace metafile
