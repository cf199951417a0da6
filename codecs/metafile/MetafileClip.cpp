// Path brackets, clipping and regions of the canvas.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>

namespace metafile {

// ---- paths

void TGdiCanvas::BeginPath() {
    FInPath = true;
    FPathReady = false;
    FPathWidened = false;
    FPath.Clear();
}

void TGdiCanvas::EndPath() {
    if (!FInPath) return;
    FInPath = false;
    FPathReady = true;
}

void TGdiCanvas::AbortPath() {
    FInPath = false;
    FPathReady = false;
    FPath.Clear();
}

void TGdiCanvas::CloseFigure() {
    if (FInPath) FPath.Close();
}

void TGdiCanvas::FillPath() {
    if (FInPath) EndPath(); // lenient: a fill inside the bracket ends it
    if (!FPathReady) return;
    TPath p = std::move(FPath);
    FPath.Clear();
    FPathReady = false;
    if (FPathWidened)
        Emit(std::move(p), false, true); // a widened path fills as its outline
    else
        Emit(std::move(p), true, false);
}

void TGdiCanvas::StrokePath() {
    if (FInPath) EndPath();
    if (!FPathReady) return;
    TPath p = std::move(FPath);
    FPath.Clear();
    FPathReady = false;
    Emit(std::move(p), false, true);
}

void TGdiCanvas::StrokeAndFillPath() {
    if (FInPath) EndPath();
    if (!FPathReady) return;
    TPath p = std::move(FPath);
    FPath.Clear();
    FPathReady = false;
    Emit(std::move(p), !FPathWidened, true);
}

void TGdiCanvas::SelectClipPath(std::uint32_t mode) {
    if (FInPath) EndPath();
    if (!FPathReady) return;
    TClipEntry e;
    e.Path = std::move(FPath);
    FPath.Clear();
    FPathReady = false;
    e.EvenOdd = S.PolyFillMode == FILL_ALTERNATE;
    if (ClipPathOk(e.Path)) AddClip(std::move(e), mode);
}

// ---- clipping and regions

void TGdiCanvas::AddClip(TClipEntry e, std::uint32_t mode) {
    switch (mode) {
    case RGN_AND:
        S.Clip.push_back(std::move(e));
        break;
    case RGN_DIFF:
        e.Exclude = true;
        S.Clip.push_back(std::move(e));
        break;
    case RGN_OR:
        // A union with an existing clip cannot be expressed as intersections; show more, not less.
        S.Clip.clear();
        break;
    default: // RGN_COPY, and RGN_XOR taken as a copy
        S.Clip.clear();
        S.Clip.push_back(std::move(e));
        break;
    }
    // A long chain of clips costs every draw; past this the oldest ones are dropped.
    if (S.Clip.size() > 64) S.Clip.erase(S.Clip.begin());
    FClipDirty = true;
}

void TGdiCanvas::IntersectClipRect(TRectD r) {
    TClipEntry e;
    e.Path = RectPath(Normalized(r));
    if (ClipPathOk(e.Path)) AddClip(std::move(e), RGN_AND);
}

void TGdiCanvas::ExcludeClipRect(TRectD r) {
    TClipEntry e;
    e.Path = RectPath(Normalized(r));
    if (ClipPathOk(e.Path)) AddClip(std::move(e), RGN_DIFF);
}

void TGdiCanvas::OffsetClipRgn(TPointD d) {
    const TPointD v = Full().ApplyVector(d);
    if (!Finite(v.X) || !Finite(v.Y)) return;
    for (auto& e : S.Clip) e.Path.Translate(v.X, v.Y);
    FClipDirty = true;
}

void TGdiCanvas::ResetClip() {
    S.Clip.clear();
    FClipDirty = true;
}

TPath TGdiCanvas::RegionPath(const TRegion& rgn, bool logicalUnits) {
    TPath path;
    for (TRectD r : rgn.Rects) {
        r = Normalized(r);
        if (r.Right == r.Left || r.Bottom == r.Top) continue;
        auto map = [&](double x, double y) {
            return logicalUnits ? ToDevice({x, y}) : Setup.Fit.Apply({x, y});
        };
        path.MoveTo(map(r.Left, r.Top));
        path.LineTo(map(r.Right, r.Top));
        path.LineTo(map(r.Right, r.Bottom));
        path.LineTo(map(r.Left, r.Bottom));
        path.Close();
    }
    return path;
}

void TGdiCanvas::SelectClipRegion(const TRegion* rgn, std::uint32_t mode, bool logicalUnits) {
    if (!rgn) {
        if (mode == RGN_COPY) ResetClip();
        return;
    }
    TClipEntry e;
    e.Path = RegionPath(*rgn, logicalUnits); // an empty region clips everything away
    if (ClipPathOk(e.Path)) AddClip(std::move(e), mode);
}

void TGdiCanvas::FillRegion(const TRegion& rgn, const TBrush& brush, bool logicalUnits) {
    TPath path = RegionPath(rgn, logicalUnits);
    if (path.Empty() || !PrepareDraw() || !PathFits(path)) return;
    if (FMeasuring) return Measure(path, 0);
    FillWith(path, brush, false);
}

void TGdiCanvas::FrameRegion(const TRegion& rgn, const TBrush& brush, double w, double h, bool logicalUnits) {
    // Each rectangle framed on its own: a band w wide and h high just inside its edges.
    TPath path;
    for (TRectD r : rgn.Rects) {
        r = Normalized(r);
        TRegion one;
        one.Rects.push_back(r);
        path.Append(RegionPath(one, logicalUnits));
        const double fw = std::min(std::fabs(w), (r.Right - r.Left) / 2),
                     fh = std::min(std::fabs(h), (r.Bottom - r.Top) / 2);
        one.Rects[0] = {r.Left + fw, r.Top + fh, r.Right - fw, r.Bottom - fh};
        path.Append(RegionPath(one, logicalUnits));
    }
    if (path.Empty() || !PrepareDraw() || !PathFits(path)) return;
    if (FMeasuring) return Measure(path, 0);
    FillWith(path, brush, true);
}

void TGdiCanvas::InvertRegion(const TRegion& rgn, bool logicalUnits) {
    TPath path = RegionPath(rgn, logicalUnits);
    if (path.Empty() || !PrepareDraw() || !PathFits(path)) return;
    if (FMeasuring) return Measure(path, 0);
    Cairo().cairo_new_path(Cr);
    path.AppendTo(Cr);
    Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_DIFFERENCE);
    Cairo().cairo_set_source_rgb(Cr, 1, 1, 1);
    Cairo().cairo_fill(Cr);
    Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
}

} // namespace metafile
