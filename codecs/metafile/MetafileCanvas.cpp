// The canvas itself: construction, the SaveDC stack, colours and the logical-to-device mapping.
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

// SaveDC levels kept; deeper saves are ignored (and so are their restores, which then pop less).
constexpr std::size_t kMaxSaveDepth = 4096;
// The high byte of a COLORREF made by PALETTEINDEX.
constexpr std::uint32_t kColorRefPaletteIndex = 1;

} // namespace

// ---- construction and state

TGdiCanvas::TGdiCanvas(cairo_t* cr, int width, int height, const TCanvasSetup& setup)
    : Cr(cr), FW(width), FH(height), Setup(setup) {
    if (!Cr) {
        FMeasuring = true;
        FOwnSurface = Cairo().cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
        Cr = Cairo().cairo_create(FOwnSurface);
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
    Cairo().cairo_set_antialias(Cr, CAIRO_ANTIALIAS_DEFAULT);
}

TGdiCanvas::~TGdiCanvas() {
    FFaces.clear();
    if (FOwnSurface) {
        Cairo().cairo_destroy(Cr);
        Cairo().cairo_surface_destroy(FOwnSurface);
    }
}

bool TGdiCanvas::Healthy() const {
    return Cairo().cairo_status(Cr) == CAIRO_STATUS_SUCCESS;
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
    if ((c >> 24) == kColorRefPaletteIndex) {
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
    case MWT_IDENTITY:
        r = TXform{};
        break;
    case MWT_LEFTMULTIPLY:
        r = x.Then(S.World);
        break;
    case MWT_RIGHTMULTIPLY:
        r = S.World.Then(x);
        break;
    case MWT_SET:
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

} // namespace metafile
