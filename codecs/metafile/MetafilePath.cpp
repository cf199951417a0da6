// Transforms and device-space paths of the canvas.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>

namespace metafile {

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
            Cairo().cairo_move_to(cr, FPts[k].X, FPts[k].Y), ++k;
            break;
        case opLine:
            Cairo().cairo_line_to(cr, FPts[k].X, FPts[k].Y), ++k;
            break;
        case opCurve:
            Cairo().cairo_curve_to(cr, FPts[k].X, FPts[k].Y, FPts[k + 1].X, FPts[k + 1].Y, FPts[k + 2].X,
                                   FPts[k + 2].Y);
            k += 3;
            break;
        case opClose:
            Cairo().cairo_close_path(cr);
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

} // namespace metafile
