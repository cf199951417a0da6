// EMF playback: 32-bit records (type, size, fields) with objects at the handle slots the records name.
#include "codecs/metafile/MetafileDib.h"
#include "codecs/metafile/MetafilePlayers.h"
#include "codecs/metafile/MetafileRecords.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

constexpr std::size_t kMaxHandles = 65536;
// Handles with this bit set name stock objects.
constexpr std::uint32_t kStockObjectFlag = 0x80000000u;

bool RopUsesSource(std::uint32_t rop) {
    const std::uint32_t i = (rop >> 16) & 0xFF;
    return ((i >> 2) ^ i) & 0x33;
}

class TEmfPlayer {
public:
    TEmfPlayer(TGdiCanvas& c, std::size_t handles)
        : C(c), Objects(std::clamp<std::size_t>(handles, 1, kMaxHandles)) {}
    // False at the end-of-file record.
    bool Play(const TRecord& r, TEmrType type);

private:
    TPointD P32(const TRecord& r, std::size_t off) const {
        return {double(r.I32(off)), double(r.I32(off + 4))};
    }
    TRectD R32(const TRecord& r, std::size_t off) const {
        return {double(r.I32(off)), double(r.I32(off + 4)), double(r.I32(off + 8)), double(r.I32(off + 12))};
    }
    std::vector<TPointD> Points(const TRecord& r, std::size_t off, std::uint64_t count, bool small) const;
    TXform Xform(const TRecord& r, std::size_t off) const {
        return {r.F32(off),      r.F32(off + 4),  r.F32(off + 8),
                r.F32(off + 12), r.F32(off + 16), r.F32(off + 20)};
    }
    void Store(std::uint32_t index, TGdiObject o);
    TGdiObject Get(std::uint32_t index) const;
    std::shared_ptr<const TBrush> BrushAt(std::uint32_t index) const {
        const TGdiObject o = Get(index);
        const auto* b = std::get_if<std::shared_ptr<const TBrush>>(&o);
        return b ? *b : nullptr;
    }
    TRegion Region(const TRecord& r, std::size_t off, std::uint32_t cb) const;
    void PolyPoly(const TRecord& r, TEmrType type, bool small);
    void CreateFont(const TRecord& r);
    void CreatePatternBrush(const TRecord& r);
    void ExtCreatePen(const TRecord& r);
    void Text(const TRecord& r, std::size_t emrText, bool wide, std::uint32_t graphicsMode);
    void SmallTextOut(const TRecord& r);
    std::shared_ptr<const TImage> Bitmap(const TRecord& r, std::size_t offBmi, std::size_t cbBmi,
                                         std::size_t offBits, std::size_t cbBits, std::uint32_t usage,
                                         std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h,
                                         bool fromBottom, TPointD ex, TPointD ey, bool keepAlpha,
                                         std::int64_t startScan = -1, std::int64_t scans = 0) const;
    void Blt(const TRecord& r, TEmrType type);
    void StretchDIBits(const TRecord& r);
    void SetDIBitsToDevice(const TRecord& r);
    void GradientFill(const TRecord& r);

    TGdiCanvas& C;
    std::vector<TGdiObject> Objects;
};

std::vector<TPointD> TEmfPlayer::Points(const TRecord& r, std::size_t off, std::uint64_t count,
                                        bool small) const {
    const std::size_t each = small ? 4 : 8;
    if (count > r.Size() / each) throw EMalformedRecord();
    r.Need(off, std::size_t(count) * each);
    std::vector<TPointD> pts(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < pts.size(); ++i)
        pts[i] =
            small ? TPointD{double(r.I16(off + 4 * i)), double(r.I16(off + 4 * i + 2))} : P32(r, off + 8 * i);
    return pts;
}

void TEmfPlayer::Store(std::uint32_t index, TGdiObject o) {
    if (index >= kMaxHandles) return; // slot 0 is a slot like any other: writers put objects there
    if (index >= Objects.size()) Objects.resize(index + 1);
    Objects[index] = std::move(o);
}

TGdiObject TEmfPlayer::Get(std::uint32_t index) const {
    if (index & kStockObjectFlag) return StockObject(index & ~kStockObjectFlag);
    if (index < Objects.size()) return Objects[index];
    return {};
}

TRegion TEmfPlayer::Region(const TRecord& r, std::size_t off, std::uint32_t cb) const {
    TRegion rgn;
    r.Need(off, cb);
    if (cb < 32) return rgn;
    const std::uint32_t headerSize = r.U32(off), count = r.U32(off + 8);
    if (headerSize < 32 || headerSize > cb) throw EMalformedRecord();
    if (count > (cb - headerSize) / 16) throw EMalformedRecord();
    for (std::uint32_t i = 0; i < count; ++i)
        rgn.Rects.push_back(R32(r, off + headerSize + 16 * std::size_t(i)));
    return rgn;
}

void TEmfPlayer::PolyPoly(const TRecord& r, TEmrType type, bool small) {
    const std::uint32_t n = r.U32(24);
    const std::uint64_t total = r.U32(28);
    if (n > r.Size() / 4) throw EMalformedRecord();
    const std::size_t countsAt = 32;
    r.Need(countsAt, std::size_t(n) * 4);
    const std::vector<TPointD> all = Points(r, countsAt + std::size_t(n) * 4, total, small);
    std::vector<std::vector<TPointD>> polys;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t count = r.U32(countsAt + 4 * std::size_t(i));
        if (count > all.size() - at) throw EMalformedRecord();
        polys.emplace_back(all.begin() + std::ptrdiff_t(at), all.begin() + std::ptrdiff_t(at + count));
        at += count;
    }
    if (type == TEmrType::PolyPolyline || type == TEmrType::PolyPolyline16)
        C.PolyPolyline(polys);
    else
        C.PolyPolygon(polys);
}

void TEmfPlayer::CreateFont(const TRecord& r) {
    auto f = std::make_shared<TFont>();
    f->Height = r.I32(12);
    f->Width = r.I32(16);
    f->Escapement = r.I32(20);
    f->Weight = r.I32(28);
    f->Italic = r.U8(32) != 0;
    f->Underline = r.U8(33) != 0;
    f->StrikeOut = r.U8(34) != 0;
    f->CharSet = r.U8(35);
    f->PitchAndFamily = r.U8(39);
    // UTF-16 face name, up to 32 units, possibly cut short by the record.
    for (std::size_t i = 0; i < 32 && r.Has(40 + 2 * i, 2); ++i) {
        const std::uint16_t c = r.U16(40 + 2 * i);
        if (!c) break;
        if (c < 0x80)
            f->Face.push_back(char(c));
        else if (c < 0x800)
            f->Face += {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
        else
            f->Face += {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    Store(r.U32(8), std::shared_ptr<const TFont>(std::move(f)));
}

std::shared_ptr<const TImage> TEmfPlayer::Bitmap(const TRecord& r, std::size_t offBmi, std::size_t cbBmi,
                                                 std::size_t offBits, std::size_t cbBits, std::uint32_t usage,
                                                 std::int64_t x, std::int64_t y, std::int64_t w,
                                                 std::int64_t h, bool fromBottom, TPointD ex, TPointD ey,
                                                 bool keepAlpha, std::int64_t startScan,
                                                 std::int64_t scans) const {
    if (!cbBmi || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return nullptr;
    TDibHeader hd;
    if (!ParseDibHeader(r.Bytes(offBmi, cbBmi), cbBmi, usage, C.State().Palette.get(), hd)) return nullptr;
    if (startScan >= 0 && scans > 0 && scans < hd.Height) {
        hd.Height = int(scans);
        y -= startScan;
    }
    const std::int64_t cropY = (fromBottom && !hd.TopDown) ? hd.Height - y - h : y;
    auto clampSide = [](std::int64_t v) {
        return int(std::clamp<std::int64_t>(v, -kMaxDibSide, kMaxDibSide));
    };
    return DecodeDib(hd, r.Bytes(offBits, cbBits), cbBits, clampSide(x), clampSide(cropY), clampSide(w),
                     clampSide(h), DecodeLimit(std::hypot(ex.X, ex.Y)), DecodeLimit(std::hypot(ey.X, ey.Y)),
                     keepAlpha);
}

void TEmfPlayer::CreatePatternBrush(const TRecord& r) {
    auto b = std::make_shared<TBrush>();
    b->Style = BS_DIBPATTERN;
    // A monochrome brush takes its colours from the device context, so writers often store its
    // bitmap without a colour table.
    const bool mono = TEmrType(r.U32(0)) == TEmrType::CreateMonoBrush;
    const std::uint32_t usage = mono ? DIB_PAL_MONO : r.U32(12);
    const std::size_t offBmi = r.U32(16), cbBmi = r.U32(20), offBits = r.U32(24), cbBits = r.U32(28);
    if (cbBmi && r.Has(offBmi, cbBmi) && r.Has(offBits, cbBits)) {
        TDibHeader hd;
        if (ParseDibHeader(r.Bytes(offBmi, cbBmi), cbBmi, usage, C.State().Palette.get(), hd)) {
            if (hd.BitCount == 1 && mono && hd.Colors.size() == 2) {
                // A monochrome brush paints its 0 bits in the text colour and 1 bits in the background
                // colour.
                hd.Colors[0] = C.State().TextColor;
                hd.Colors[1] = C.State().BkColor;
            }
            b->Pattern = DecodeDib(hd, r.Bytes(offBits, cbBits), cbBits, 0, 0, hd.Width, hd.Height, 256, 256);
        }
    }
    if (!b->Pattern) b->Style = BS_SOLID;
    Store(r.U32(8), std::shared_ptr<const TBrush>(std::move(b)));
}

void TEmfPlayer::ExtCreatePen(const TRecord& r) {
    auto p = std::make_shared<TPen>();
    p->Extended = true;
    p->Style = r.U32(28);
    p->Width = r.U32(32);
    if (r.U32(36) == BS_NULL) p->Style = (p->Style & ~PS_STYLE_MASK) | PS_NULL;
    p->Color = C.ColorRef(r.U32(40));
    const std::uint32_t n = r.U32(48);
    if ((p->Style & PS_STYLE_MASK) == PS_USERSTYLE && n <= 64 && r.Has(52, std::size_t(n) * 4))
        for (std::uint32_t i = 0; i < n; ++i) p->UserStyle.push_back(r.U32(52 + 4 * std::size_t(i)));
    Store(r.U32(8), std::shared_ptr<const TPen>(std::move(p)));
}

void TEmfPlayer::Text(const TRecord& r, std::size_t at, bool wide, std::uint32_t graphicsMode) {
    TTextRun run;
    run.Ref = P32(r, at);
    const std::uint64_t n = r.U32(at + 8);
    const std::size_t offString = r.U32(at + 12);
    run.Options = r.U32(at + 16);
    run.Rect = R32(r, at + 20);
    run.HasRect = true;
    const std::size_t offDx = r.U32(at + 36);
    run.Advanced = graphicsMode == GM_ADVANCED;
    if (n > r.Size()) throw EMalformedRecord();
    const std::size_t bytes = std::size_t(n) * (wide ? 2 : 1);
    const std::uint8_t* s = r.Bytes(offString, bytes);
    run.Text = wide ? C.DecodeUtf16(s, std::size_t(n)) : C.Decode8Bit(s, std::size_t(n));
    const std::size_t dxCount = std::size_t(n) * ((run.Options & ETO_PDY) ? 2 : 1);
    if (offDx && n && r.Has(offDx, dxCount * 4))
        for (std::size_t i = 0; i < dxCount; ++i) run.Dx.push_back(r.I32(offDx + 4 * i));
    C.TextOut(run);
}

void TEmfPlayer::SmallTextOut(const TRecord& r) {
    TTextRun run;
    run.Ref = P32(r, 8);
    const std::uint64_t n = r.U32(16);
    run.Options = r.U32(20);
    run.Advanced = r.U32(24) == GM_ADVANCED;
    std::size_t off = 36;
    if (!(run.Options & ETO_NO_RECT)) {
        run.Rect = R32(r, off);
        run.HasRect = true;
        off += 16;
    }
    if (n > r.Size()) throw EMalformedRecord();
    const bool small = run.Options & ETO_SMALL_CHARS; // 8-bit characters
    const std::uint8_t* s = r.Bytes(off, std::size_t(n) * (small ? 1 : 2));
    run.Text = small ? C.Decode8Bit(s, std::size_t(n)) : C.DecodeUtf16(s, std::size_t(n));
    C.TextOut(run);
}

void TEmfPlayer::Blt(const TRecord& r, TEmrType type) {
    TBlit b;
    b.Dest = P32(r, 24);
    b.DestSize = {double(r.I32(32)), double(r.I32(36))};
    const std::uint32_t rop = r.U32(40);
    b.Rop = rop;
    if (type == TEmrType::AlphaBlend) { // BLENDFUNCTION in place of the raster operation
        b.AlphaBlend = true;
        b.ConstAlpha = ((rop >> 16) & 0xFF) / 255.0;
        b.Rop = SRCCOPY;
    } else if (type == TEmrType::TransparentBlt) { // the key colour in place of the raster operation
        b.Transparent = true;
        b.TransparentColor = C.ColorRef(rop);
        b.Rop = SRCCOPY;
    }
    std::int64_t xSrc = r.I32(44), ySrc = r.I32(48);
    const TXform srcXform = Xform(r, 52);
    const std::uint32_t usage = r.U32(80);
    const std::size_t offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
    std::int64_t wSrc = r.I32(32), hSrc = r.I32(36);
    if (type != TEmrType::BitBlt && type != TEmrType::MaskBlt) wSrc = r.I32(100), hSrc = r.I32(104);
    if (srcXform.IsUsable() && srcXform.M12 == 0 && srcXform.M21 == 0) {
        const TPointD p = srcXform.Apply({double(xSrc), double(ySrc)});
        xSrc = std::int64_t(std::llround(std::clamp(p.X, -1e9, 1e9)));
        ySrc = std::int64_t(std::llround(std::clamp(p.Y, -1e9, 1e9)));
        wSrc = std::int64_t(std::llround(std::clamp(double(wSrc) * srcXform.M11, -1e9, 1e9)));
        hSrc = std::int64_t(std::llround(std::clamp(double(hSrc) * srcXform.M22, -1e9, 1e9)));
    }
    if ((b.AlphaBlend || b.Transparent || RopUsesSource(b.Rop)) && !C.Measuring()) {
        if (wSrc < 0) xSrc += wSrc, wSrc = -wSrc, b.Dest.X += b.DestSize.X, b.DestSize.X = -b.DestSize.X;
        if (hSrc < 0) ySrc += hSrc, hSrc = -hSrc, b.Dest.Y += b.DestSize.Y, b.DestSize.Y = -b.DestSize.Y;
        const TPointD ex = C.Full().ApplyVector({b.DestSize.X, 0}),
                      ey = C.Full().ApplyVector({0, b.DestSize.Y});
        b.Source = Bitmap(r, offBmi, cbBmi, offBits, cbBits, usage, xSrc, ySrc, wSrc, hSrc, false, ex, ey,
                          b.AlphaBlend && ((rop >> 24) & 1));
        if (!b.Source) return;
    }
    C.Blit(b);
}

void TEmfPlayer::StretchDIBits(const TRecord& r) {
    TBlit b;
    b.Dest = P32(r, 24);
    std::int64_t xSrc = r.I32(32), ySrc = r.I32(36), wSrc = r.I32(40), hSrc = r.I32(44);
    const std::size_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
    const std::uint32_t usage = r.U32(64);
    b.Rop = r.U32(68);
    b.DestSize = {double(r.I32(72)), double(r.I32(76))};
    if (RopUsesSource(b.Rop) && !C.Measuring()) {
        if (wSrc < 0) xSrc += wSrc, wSrc = -wSrc, b.Dest.X += b.DestSize.X, b.DestSize.X = -b.DestSize.X;
        if (hSrc < 0) ySrc += hSrc, hSrc = -hSrc, b.Dest.Y += b.DestSize.Y, b.DestSize.Y = -b.DestSize.Y;
        const TPointD ex = C.Full().ApplyVector({b.DestSize.X, 0}),
                      ey = C.Full().ApplyVector({0, b.DestSize.Y});
        b.Source =
            Bitmap(r, offBmi, cbBmi, offBits, cbBits, usage, xSrc, ySrc, wSrc, hSrc, true, ex, ey, false);
        if (!b.Source) return;
    }
    C.Blit(b);
}

void TEmfPlayer::SetDIBitsToDevice(const TRecord& r) {
    TBlit b;
    b.Dest = P32(r, 24);
    const std::int64_t xSrc = r.I32(32), ySrc = r.I32(36), w = r.I32(40), h = r.I32(44);
    const std::size_t offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
    const std::uint32_t usage = r.U32(64);
    const std::int64_t start = r.U32(68), scans = r.U32(72);
    if (w <= 0 || h <= 0) return;
    b.DestIsDevice = true;
    b.DestSize = {double(w), double(h)};
    if (!C.Measuring()) {
        const TPointD ex = C.Fit().ApplyVector({double(w), 0}), ey = C.Fit().ApplyVector({0, double(h)});
        b.Source = Bitmap(r, offBmi, cbBmi, offBits, cbBits, usage, xSrc, ySrc, w, h, true, ex, ey, false,
                          start, scans);
        if (!b.Source) return;
    }
    C.Blit(b);
}

void TEmfPlayer::GradientFill(const TRecord& r) {
    const std::uint32_t nVer = r.U32(24), nTri = r.U32(28), mode = r.U32(32);
    if (mode > GRADIENT_FILL_TRIANGLE || nVer > r.Size() / 16) throw EMalformedRecord();
    std::vector<TGradientVertex> v(nVer);
    for (std::size_t i = 0; i < nVer; ++i) {
        const std::size_t o = 36 + 16 * i;
        v[i].P = P32(r, o);
        v[i].R = r.U16(o + 8) / 65280.0;
        v[i].G = r.U16(o + 10) / 65280.0;
        v[i].B = r.U16(o + 12) / 65280.0;
    }
    const std::size_t each = mode == GRADIENT_FILL_TRIANGLE ? 12 : 8;
    if (nTri > r.Size() / each) throw EMalformedRecord();
    std::vector<std::array<std::uint32_t, 3>> mesh(nTri);
    const std::size_t base = 36 + 16 * std::size_t(nVer);
    for (std::size_t i = 0; i < nTri; ++i)
        for (std::size_t k = 0; k < each / 4; ++k) mesh[i][k] = r.U32(base + each * i + 4 * k);
    C.GradientFill(v, mesh, mode);
}

bool TEmfPlayer::Play(const TRecord& r, TEmrType type) {
    TDcState& s = C.State();
    switch (type) {
    case TEmrType::Eof:
        return false;
    case TEmrType::PolyBezier:
        C.PolyBezier(Points(r, 28, r.U32(24), false));
        break;
    case TEmrType::Polygon:
        C.Polygon(Points(r, 28, r.U32(24), false));
        break;
    case TEmrType::Polyline:
        C.Polyline(Points(r, 28, r.U32(24), false));
        break;
    case TEmrType::PolyBezierTo:
        C.PolyBezierTo(Points(r, 28, r.U32(24), false));
        break;
    case TEmrType::PolylineTo:
        C.PolylineTo(Points(r, 28, r.U32(24), false));
        break;
    case TEmrType::PolyBezier16:
        C.PolyBezier(Points(r, 28, r.U32(24), true));
        break;
    case TEmrType::Polygon16:
        C.Polygon(Points(r, 28, r.U32(24), true));
        break;
    case TEmrType::Polyline16:
        C.Polyline(Points(r, 28, r.U32(24), true));
        break;
    case TEmrType::PolyBezierTo16:
        C.PolyBezierTo(Points(r, 28, r.U32(24), true));
        break;
    case TEmrType::PolylineTo16:
        C.PolylineTo(Points(r, 28, r.U32(24), true));
        break;
    case TEmrType::PolyPolyline:
    case TEmrType::PolyPolygon:
        PolyPoly(r, type, false);
        break;
    case TEmrType::PolyPolyline16:
    case TEmrType::PolyPolygon16:
        PolyPoly(r, type, true);
        break;
    case TEmrType::PolyDraw:
    case TEmrType::PolyDraw16: { // PolyDraw: points, then one type byte each
        const std::uint32_t n = r.U32(24);
        const bool small = type == TEmrType::PolyDraw16;
        const auto pts = Points(r, 28, n, small);
        const std::size_t typesAt = 28 + std::size_t(n) * (small ? 4 : 8);
        const std::uint8_t* t = r.Bytes(typesAt, n);
        C.PolyDraw(pts, std::vector<std::uint8_t>(t, t + n));
        break;
    }
    case TEmrType::SetWindowExtEx:
        C.SetWindowExt(P32(r, 8));
        break;
    case TEmrType::SetWindowOrgEx:
        C.SetWindowOrg(P32(r, 8));
        break;
    case TEmrType::SetViewportExtEx:
        C.SetViewportExt(P32(r, 8));
        break;
    case TEmrType::SetViewportOrgEx:
        C.SetViewportOrg(P32(r, 8));
        break;
    case TEmrType::SetPixelV:
        C.SetPixel(P32(r, 8), C.ColorRef(r.U32(16)));
        break;
    case TEmrType::SetMapMode:
        C.SetMapMode(r.U32(8));
        break;
    case TEmrType::SetBkMode:
        s.BkMode = r.U32(8);
        break;
    case TEmrType::SetPolyFillMode:
        s.PolyFillMode = r.U32(8);
        break;
    case TEmrType::SetRop2:
        s.Rop2 = r.U32(8);
        break;
    case TEmrType::SetTextAlign:
        s.TextAlign = r.U32(8);
        break;
    case TEmrType::SetTextColor:
        s.TextColor = C.ColorRef(r.U32(8));
        break;
    case TEmrType::SetBkColor:
        s.BkColor = C.ColorRef(r.U32(8));
        break;
    case TEmrType::OffsetClipRgn:
        C.OffsetClipRgn(P32(r, 8));
        break;
    case TEmrType::MoveToEx:
        C.MoveTo(P32(r, 8));
        break;
    case TEmrType::LineTo:
        C.LineTo(P32(r, 8));
        break;
    case TEmrType::ExcludeClipRect:
        C.ExcludeClipRect(R32(r, 8));
        break;
    case TEmrType::IntersectClipRect:
        C.IntersectClipRect(R32(r, 8));
        break;
    case TEmrType::ScaleViewportExtEx:
        C.ScaleViewportExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
        break;
    case TEmrType::ScaleWindowExtEx:
        C.ScaleWindowExt(r.I32(8), r.I32(12), r.I32(16), r.I32(20));
        break;
    case TEmrType::SaveDC:
        C.SaveDC();
        break;
    case TEmrType::RestoreDC:
        C.RestoreDC(r.I32(8));
        break;
    case TEmrType::SetWorldTransform:
        C.SetWorldTransform(Xform(r, 8));
        break;
    case TEmrType::ModifyWorldTransform:
        C.ModifyWorldTransform(Xform(r, 8), r.U32(32));
        break;
    case TEmrType::SelectObject: { // SelectObject
        const TGdiObject o = Get(r.U32(8));
        if (const auto* p = std::get_if<std::shared_ptr<const TPen>>(&o))
            C.SelectPen(*p);
        else if (const auto* b = std::get_if<std::shared_ptr<const TBrush>>(&o))
            C.SelectBrush(*b);
        else if (const auto* f = std::get_if<std::shared_ptr<const TFont>>(&o))
            C.SelectFont(*f);
        break;
    }
    case TEmrType::DeleteObject: { // DeleteObject
        const std::uint32_t i = r.U32(8);
        if (i < Objects.size()) Objects[i] = {};
        break;
    }
    case TEmrType::CreatePen: { // CreatePen
        auto p = std::make_shared<TPen>();
        p->Style = r.U32(12) & PS_STYLE_MASK;
        p->Width = std::fabs(double(r.I32(16)));
        p->Color = C.ColorRef(r.U32(24));
        Store(r.U32(8), std::shared_ptr<const TPen>(std::move(p)));
        break;
    }
    case TEmrType::CreateBrushIndirect: { // CreateBrushIndirect
        auto b = std::make_shared<TBrush>();
        b->Style = r.U32(12);
        b->Color = C.ColorRef(r.U32(16));
        b->Hatch = r.U32(20);
        if (b->Style != BS_SOLID && b->Style != BS_NULL && b->Style != BS_HATCHED) b->Style = BS_SOLID;
        Store(r.U32(8), std::shared_ptr<const TBrush>(std::move(b)));
        break;
    }
    case TEmrType::CreateMonoBrush:
    case TEmrType::CreateDIBPatternBrushPt:
        CreatePatternBrush(r);
        break;
    case TEmrType::ExtCreatePen:
        ExtCreatePen(r);
        break;
    case TEmrType::ExtCreateFontIndirectW:
        CreateFont(r);
        break;
    case TEmrType::CreatePalette: { // CreatePalette
        auto p = std::make_shared<TPalette>();
        const std::size_t n = r.U16(14);
        r.Need(16, n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* e = r.Bytes(16 + 4 * i, 4);
            p->Entries.push_back({e[0], e[1], e[2]});
        }
        Store(r.U32(8), std::shared_ptr<const TPalette>(std::move(p)));
        break;
    }
    case TEmrType::SelectPalette: { // SelectPalette
        const TGdiObject o = Get(r.U32(8));
        if (const auto* p = std::get_if<std::shared_ptr<const TPalette>>(&o)) C.SelectPalette(*p);
        break;
    }
    case TEmrType::AngleArc:
        C.AngleArc(P32(r, 8), r.U32(16), r.F32(20), r.F32(24));
        break;
    case TEmrType::Ellipse:
        C.Ellipse(R32(r, 8));
        break;
    case TEmrType::Rectangle:
        C.Rectangle(R32(r, 8));
        break;
    case TEmrType::RoundRect:
        C.RoundRect(R32(r, 8), r.I32(24), r.I32(28));
        break;
    case TEmrType::Arc:
        C.ArcShape(TGdiCanvas::TArcKind::Arc, R32(r, 8), P32(r, 24), P32(r, 32));
        break;
    case TEmrType::Chord:
        C.ArcShape(TGdiCanvas::TArcKind::Chord, R32(r, 8), P32(r, 24), P32(r, 32));
        break;
    case TEmrType::Pie:
        C.ArcShape(TGdiCanvas::TArcKind::Pie, R32(r, 8), P32(r, 24), P32(r, 32));
        break;
    case TEmrType::ArcTo:
        C.ArcShape(TGdiCanvas::TArcKind::ArcTo, R32(r, 8), P32(r, 24), P32(r, 32));
        break;
    case TEmrType::SetArcDirection:
        s.ArcDirection = r.U32(8);
        break;
    case TEmrType::SetMiterLimit: { // SetMiterLimit: an integer in the format, though some writers store a
                                    // float
        const std::uint32_t v = r.U32(8);
        s.MiterLimit = v <= 1000 ? double(v) : double(r.F32(8));
        if (!std::isfinite(s.MiterLimit)) s.MiterLimit = 10;
        break;
    }
    case TEmrType::BeginPath:
        C.BeginPath();
        break;
    case TEmrType::EndPath:
        C.EndPath();
        break;
    case TEmrType::CloseFigure:
        C.CloseFigure();
        break;
    case TEmrType::FillPath:
        C.FillPath();
        break;
    case TEmrType::StrokeAndFillPath:
        C.StrokeAndFillPath();
        break;
    case TEmrType::StrokePath:
        C.StrokePath();
        break;
    case TEmrType::WidenPath:
        C.WidenPath();
        break;
    case TEmrType::SelectClipPath:
        C.SelectClipPath(r.U32(8));
        break;
    case TEmrType::AbortPath:
        C.AbortPath();
        break;
    case TEmrType::FillRgn: { // FillRgn
        const auto b = BrushAt(r.U32(28));
        const TRegion g = Region(r, 32, r.U32(24));
        if (b) C.FillRegion(g, *b, false);
        break;
    }
    case TEmrType::FrameRgn: { // FrameRgn
        const auto b = BrushAt(r.U32(28));
        const TRegion g = Region(r, 40, r.U32(24));
        if (b) C.FrameRegion(g, *b, r.I32(32), r.I32(36), false);
        break;
    }
    case TEmrType::InvertRgn:
        C.InvertRegion(Region(r, 28, r.U32(24)), false);
        break;
    case TEmrType::PaintRgn:
        C.FillRegion(Region(r, 28, r.U32(24)), *s.Brush, false);
        break;
    case TEmrType::ExtSelectClipRgn: { // ExtSelectClipRgn
        const std::uint32_t cb = r.U32(8), mode = r.U32(12);
        if (cb == 0) {
            C.SelectClipRegion(nullptr, mode, false);
        } else {
            const TRegion g = Region(r, 16, cb);
            C.SelectClipRegion(&g, mode, false);
        }
        break;
    }
    case TEmrType::BitBlt:
    case TEmrType::StretchBlt:
    case TEmrType::MaskBlt:
    case TEmrType::AlphaBlend:
    case TEmrType::TransparentBlt:
        Blt(r, type);
        break;
    case TEmrType::SetDIBitsToDevice:
        SetDIBitsToDevice(r);
        break;
    case TEmrType::StretchDIBits:
        StretchDIBits(r);
        break;
    case TEmrType::ExtTextOutA:
        Text(r, 36, false, r.U32(24));
        break;
    case TEmrType::ExtTextOutW:
        Text(r, 36, true, r.U32(24));
        break;
    case TEmrType::PolyTextOutA:
    case TEmrType::PolyTextOutW: { // PolyTextOut: several EMRTEXT blocks
        const std::uint32_t n = r.U32(36);
        if (n > r.Size() / 40) throw EMalformedRecord();
        for (std::uint32_t i = 0; i < n; ++i)
            Text(r, 40 + 40 * std::size_t(i), type == TEmrType::PolyTextOutW, r.U32(24));
        break;
    }
    case TEmrType::SmallTextOut:
        SmallTextOut(r);
        break;
    case TEmrType::GradientFill:
        GradientFill(r);
        break;
    default:
        break; // comments, colour management, palettes realised and the rest draw nothing
    }
    return true;
}

} // namespace

bool PlayEmf(const std::vector<std::uint8_t>& data, std::size_t handleCount, TGdiCanvas& canvas) {
    TEmfPlayer player(canvas, handleCount);
    std::size_t pos = 0;
    bool first = true;
    while (pos < data.size()) {
        if (data.size() - pos < 8) return true; // padding after the last record
        const TRecord head(data.data() + pos, data.size() - pos);
        const auto type = TEmrType(head.U32(0));
        const std::uint32_t size = head.U32(4);
        if (size < 8 || size > data.size() - pos) return false;
        if (!first) {
            try {
                if (!player.Play(TRecord(data.data() + pos, size), type)) return true;
            } catch (const EMalformedRecord&) {
                return false;
            }
            if (!canvas.Healthy()) return false;
        }
        first = false;
        pos += size;
    }
    return true;
}

} // namespace metafile
