// Lines, polygons, rectangles, ellipses and arcs of the canvas, in logical coordinates.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>

namespace metafile {

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
        const std::uint8_t t = std::uint8_t(types[i] & ~PT_CLOSEFIGURE);
        if (t == PT_MOVETO) {
            path.MoveTo(ToDevice(pts[i]));
            figureStart = pts[i];
            S.Cp = pts[i];
        } else if (t == PT_LINETO) {
            path.LineTo(ToDevice(pts[i]));
            S.Cp = pts[i];
        } else if (t == PT_BEZIERTO && i + 2 < pts.size()) {
            path.CurveTo(ToDevice(pts[i]), ToDevice(pts[i + 1]), ToDevice(pts[i + 2]));
            S.Cp = pts[i + 2];
            i += 2;
        } else {
            break;
        }
        if (types[std::min(i, types.size() - 1)] & PT_CLOSEFIGURE) {
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
    Cairo().cairo_new_path(Cr);
    Cairo().cairo_rectangle(Cr, std::floor(d.X), std::floor(d.Y), u, u);
    Cairo().cairo_set_source_rgb(Cr, c.R / 255.0, c.G / 255.0, c.B / 255.0);
    Cairo().cairo_fill(Cr);
}

} // namespace metafile
