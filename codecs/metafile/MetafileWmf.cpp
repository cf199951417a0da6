// WMF playback: 16-bit records with their parameters in reverse order, and an object table whose
// slots are handed out lowest-free-first.
#include "codecs/metafile/MetafileDib.h"
#include "codecs/metafile/MetafilePlayers.h"
#include "codecs/metafile/MetafileRecords.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

constexpr std::size_t kMaxObjects = 65535;
constexpr std::size_t kParams = 6; // record size (4) and function (2) come first

bool RopUsesSource(std::uint32_t rop) {
    const std::uint32_t i = (rop >> 16) & 0xFF;
    return ((i >> 2) ^ i) & 0x33;
}

class TWmfPlayer {
public:
    TWmfPlayer(TGdiCanvas& c, std::size_t objectCount)
        : C(c), Objects(std::clamp<std::size_t>(objectCount, 1, kMaxObjects)) {}
    void Play(const TRecord& r, TWmfFunction fn);

private:
    std::int16_t W(const TRecord& r, std::size_t i) const { return r.I16(kParams + 2 * i); }
    double X(const TRecord& r, std::size_t i) const { return W(r, i); }
    TPointD PointYX(const TRecord& r, std::size_t i) const { return {X(r, i + 1), X(r, i)}; }
    // Rectangles are stored bottom, right, top, left.
    TRectD RectBRTL(const TRecord& r, std::size_t i) const {
        return {X(r, i + 3), X(r, i + 2), X(r, i + 1), X(r, i)};
    }
    std::vector<TPointD> Points(const TRecord& r, std::size_t off, std::size_t count) const;
    void AddObject(TGdiObject o);
    const TGdiObject* Object(std::int64_t index) const;
    const TRegion* RegionAt(std::int64_t index) const;
    std::shared_ptr<const TBrush> BrushAt(std::int64_t index) const;
    void CreateFont(const TRecord& r);
    void CreateRegion(const TRecord& r);
    void TextOut(const TRecord& r);
    void ExtTextOut(const TRecord& r);
    void DibBlit(const TRecord& r, std::size_t dibOff, std::uint32_t usage, std::int64_t xSrc,
                 std::int64_t ySrc, std::int64_t wSrc, std::int64_t hSrc, bool fromBottom, TPointD dest,
                 TPointD size, bool device, std::uint32_t rop, std::int64_t startScan = -1,
                 std::int64_t scans = 0);
    void Bitmap16Blit(const TRecord& r, std::size_t bmOff, std::int64_t xSrc, std::int64_t ySrc,
                      std::int64_t wSrc, std::int64_t hSrc, TPointD dest, TPointD size, std::uint32_t rop);

    TGdiCanvas& C;
    std::vector<TGdiObject> Objects;
};

std::vector<TPointD> TWmfPlayer::Points(const TRecord& r, std::size_t off, std::size_t count) const {
    r.Need(off, count * 4);
    std::vector<TPointD> pts(count);
    for (std::size_t i = 0; i < count; ++i)
        pts[i] = {double(r.I16(off + 4 * i)), double(r.I16(off + 4 * i + 2))};
    return pts;
}

void TWmfPlayer::AddObject(TGdiObject o) {
    for (auto& slot : Objects)
        if (std::holds_alternative<std::monostate>(slot)) {
            slot = std::move(o);
            return;
        }
    // Files that undercount their objects are common; grow rather than lose the object.
    if (Objects.size() < kMaxObjects) Objects.push_back(std::move(o));
}

const TGdiObject* TWmfPlayer::Object(std::int64_t index) const {
    if (index < 0 || std::size_t(index) >= Objects.size()) return nullptr;
    return &Objects[std::size_t(index)];
}

const TRegion* TWmfPlayer::RegionAt(std::int64_t index) const {
    const TGdiObject* o = Object(index);
    if (!o) return nullptr;
    const auto* p = std::get_if<std::shared_ptr<const TRegion>>(o);
    return p ? p->get() : nullptr;
}

std::shared_ptr<const TBrush> TWmfPlayer::BrushAt(std::int64_t index) const {
    const TGdiObject* o = Object(index);
    if (!o) return nullptr;
    const auto* p = std::get_if<std::shared_ptr<const TBrush>>(o);
    return p ? *p : nullptr;
}

void TWmfPlayer::CreateFont(const TRecord& r) {
    auto f = std::make_shared<TFont>();
    f->Height = W(r, 0);
    f->Width = W(r, 1);
    f->Escapement = W(r, 2);
    f->Weight = W(r, 4);
    const std::size_t b = kParams + 10;
    f->Italic = r.U8(b) != 0;
    f->Underline = r.U8(b + 1) != 0;
    f->StrikeOut = r.U8(b + 2) != 0;
    f->CharSet = r.U8(b + 3);
    f->PitchAndFamily = r.U8(b + 7);
    // The face name may be cut short by the record; it ends at the first NUL.
    for (std::size_t i = b + 8; i < b + 8 + 32 && r.Has(i, 1); ++i) {
        const std::uint8_t ch = r.U8(i);
        if (!ch) break;
        if (ch < 0x80) f->Face.push_back(char(ch));
    }
    AddObject(std::shared_ptr<const TFont>(std::move(f)));
}

void TWmfPlayer::CreateRegion(const TRecord& r) {
    auto rgn = std::make_shared<TRegion>();
    const std::size_t b = kParams;
    const std::uint16_t scanCount = r.U16(b + 10);
    const TRectD box{double(r.I16(b + 14)), double(r.I16(b + 16)), double(r.I16(b + 18)),
                     double(r.I16(b + 20))};
    std::size_t off = b + 22;
    for (std::uint16_t s = 0; s < scanCount && r.Has(off, 6); ++s) {
        const std::uint16_t count = r.U16(off);
        const double top = r.I16(off + 2), bottom = r.I16(off + 4);
        off += 6;
        for (std::uint16_t k = 0; k + 1 < count && r.Has(off, 4); k += 2, off += 4)
            rgn->Rects.push_back({double(r.I16(off)), top, double(r.I16(off + 2)), bottom});
        off += 2; // the repeated count
    }
    if (scanCount == 0 && box.Right > box.Left && box.Bottom > box.Top) rgn->Rects.push_back(box);
    AddObject(std::shared_ptr<const TRegion>(std::move(rgn)));
}

void TWmfPlayer::TextOut(const TRecord& r) {
    const std::size_t count = std::uint16_t(W(r, 0));
    const std::size_t str = kParams + 2;
    const std::uint8_t* bytes = r.Bytes(str, count);
    const std::size_t after = str + ((count + 1) & ~std::size_t(1));
    TTextRun run;
    run.Ref = {double(r.I16(after + 2)), double(r.I16(after))};
    run.Text = C.Decode8Bit(bytes, count);
    C.TextOut(run);
}

void TWmfPlayer::ExtTextOut(const TRecord& r) {
    TTextRun run;
    run.Ref = {X(r, 1), X(r, 0)};
    const std::size_t count = std::uint16_t(W(r, 2));
    run.Options = std::uint16_t(W(r, 3));
    std::size_t off = kParams + 8;
    if (run.Options & (ETO_OPAQUE | ETO_CLIPPED)) {
        run.HasRect = true;
        run.Rect = {double(r.I16(off)), double(r.I16(off + 2)), double(r.I16(off + 4)),
                    double(r.I16(off + 6))};
        off += 8;
    }
    const std::uint8_t* bytes = r.Bytes(off, count);
    off += (count + 1) & ~std::size_t(1);
    run.Text = C.Decode8Bit(bytes, count);
    if (count && r.Has(off, count * 2))
        for (std::size_t i = 0; i < count; ++i) run.Dx.push_back(r.I16(off + 2 * i));
    C.TextOut(run);
}

void TWmfPlayer::DibBlit(const TRecord& r, std::size_t dibOff, std::uint32_t usage, std::int64_t xSrc,
                         std::int64_t ySrc, std::int64_t wSrc, std::int64_t hSrc, bool fromBottom,
                         TPointD dest, TPointD size, bool device, std::uint32_t rop, std::int64_t startScan,
                         std::int64_t scans) {
    TBlit b;
    b.Dest = dest;
    b.DestSize = size;
    b.DestIsDevice = device;
    b.Rop = rop;
    if (RopUsesSource(rop) && !C.Measuring() && r.Has(dibOff, 1)) {
        TDibHeader h;
        if (!ParseDibHeader(r.Bytes(dibOff, r.Size() - dibOff), r.Size() - dibOff, usage,
                            C.State().Palette.get(), h))
            return; // an unsupported bitmap: the record draws nothing
        if (startScan >= 0 && scans > 0 && scans < h.Height) { // only some scan lines are present
            h.Height = int(scans);
            ySrc -= startScan;
        }
        if (wSrc < 0) xSrc += wSrc, wSrc = -wSrc, b.Dest.X += b.DestSize.X, b.DestSize.X = -b.DestSize.X;
        if (hSrc < 0) ySrc += hSrc, hSrc = -hSrc, b.Dest.Y += b.DestSize.Y, b.DestSize.Y = -b.DestSize.Y;
        const std::int64_t cropY = (fromBottom && !h.TopDown) ? h.Height - ySrc - hSrc : ySrc;
        const TXform& m = device ? C.Fit() : C.Full();
        const TPointD ex = m.ApplyVector({b.DestSize.X, 0}), ey = m.ApplyVector({0, b.DestSize.Y});
        const std::size_t bitsOff = dibOff + h.InfoBytes;
        if (bitsOff >= r.Size()) return;
        b.Source = DecodeDib(h, r.Bytes(bitsOff, r.Size() - bitsOff), r.Size() - bitsOff,
                             int(std::clamp<std::int64_t>(xSrc, -kMaxDibSide, kMaxDibSide)),
                             int(std::clamp<std::int64_t>(cropY, -kMaxDibSide, kMaxDibSide)),
                             int(std::min<std::int64_t>(wSrc, kMaxDibSide)),
                             int(std::min<std::int64_t>(hSrc, kMaxDibSide)),
                             DecodeLimit(std::hypot(ex.X, ex.Y)), DecodeLimit(std::hypot(ey.X, ey.Y)));
        if (!b.Source) return;
    }
    C.Blit(b);
}

void TWmfPlayer::Bitmap16Blit(const TRecord& r, std::size_t bm, std::int64_t xSrc, std::int64_t ySrc,
                              std::int64_t wSrc, std::int64_t hSrc, TPointD dest, TPointD size,
                              std::uint32_t rop) {
    TBlit b;
    b.Dest = dest;
    b.DestSize = size;
    b.Rop = rop;
    if (RopUsesSource(rop) && !C.Measuring()) {
        const int width = r.I16(bm + 2), height = r.I16(bm + 4), widthBytes = r.I16(bm + 6);
        if (r.U8(bm + 8) != 1 || r.U8(bm + 9) != 1) return; // only monochrome device bitmaps are known
        const std::size_t bits = bm + 10;
        auto full = DecodeMonoBitmap16(r.Bytes(bits, r.Size() - bits), r.Size() - bits, width, height,
                                       widthBytes, C.State().TextColor, C.State().BkColor);
        if (!full) return;
        // Cut the source rectangle out of the bitmap.
        const std::int64_t x0 = std::clamp<std::int64_t>(std::min(xSrc, xSrc + wSrc), 0, width);
        const std::int64_t y0 = std::clamp<std::int64_t>(std::min(ySrc, ySrc + hSrc), 0, height);
        const std::int64_t x1 = std::clamp<std::int64_t>(std::max(xSrc, xSrc + wSrc), 0, width);
        const std::int64_t y1 = std::clamp<std::int64_t>(std::max(ySrc, ySrc + hSrc), 0, height);
        if (x1 <= x0 || y1 <= y0) return;
        auto cut = std::make_shared<TImage>();
        cut->Width = int(x1 - x0);
        cut->Height = int(y1 - y0);
        for (std::int64_t y = y0; y < y1; ++y)
            for (std::int64_t x = x0; x < x1; ++x)
                cut->Pixels.push_back(full->Pixels[std::size_t(y * width + x)]);
        b.Source = std::move(cut);
    }
    C.Blit(b);
}

void TWmfPlayer::Play(const TRecord& r, TWmfFunction fn) {
    const std::size_t params = (r.Size() - kParams) / 2;
    switch (fn) {
    case TWmfFunction::SaveDC:
        C.SaveDC();
        break;
    case TWmfFunction::RestoreDC:
        C.RestoreDC(W(r, 0));
        break;
    case TWmfFunction::SetBkMode:
        C.State().BkMode = std::uint16_t(W(r, 0));
        break;
    case TWmfFunction::SetMapMode:
        C.SetMapMode(std::uint16_t(W(r, 0)));
        break;
    case TWmfFunction::SetRop2:
        C.State().Rop2 = std::uint16_t(W(r, 0));
        break;
    case TWmfFunction::SetPolyFillMode:
        C.State().PolyFillMode = std::uint16_t(W(r, 0));
        break;
    case TWmfFunction::SetTextCharExtra:
        C.State().CharExtra = W(r, 0);
        break;
    case TWmfFunction::SetTextAlign:
        C.State().TextAlign = std::uint16_t(W(r, 0));
        break;
    case TWmfFunction::SetBkColor:
        C.State().BkColor = C.ColorRef(r.U32(kParams));
        break;
    case TWmfFunction::SetTextColor:
        C.State().TextColor = C.ColorRef(r.U32(kParams));
        break;
    case TWmfFunction::SetWindowOrg:
        C.SetWindowOrg(PointYX(r, 0));
        break;
    case TWmfFunction::SetWindowExt:
        C.SetWindowExt(PointYX(r, 0));
        break;
    case TWmfFunction::SetViewportOrg:
        C.SetViewportOrg(PointYX(r, 0));
        break;
    case TWmfFunction::SetViewportExt:
        C.SetViewportExt(PointYX(r, 0));
        break;
    case TWmfFunction::OffsetWindowOrg:
        C.OffsetWindowOrg(PointYX(r, 0));
        break;
    case TWmfFunction::OffsetViewportOrg:
        C.OffsetViewportOrg(PointYX(r, 0));
        break;
    case TWmfFunction::ScaleWindowExt:
        C.ScaleWindowExt(X(r, 3), X(r, 2), X(r, 1), X(r, 0));
        break;
    case TWmfFunction::ScaleViewportExt:
        C.ScaleViewportExt(X(r, 3), X(r, 2), X(r, 1), X(r, 0));
        break;
    case TWmfFunction::LineTo:
        C.LineTo(PointYX(r, 0));
        break;
    case TWmfFunction::MoveTo:
        C.MoveTo(PointYX(r, 0));
        break;
    case TWmfFunction::Polygon:
        C.Polygon(Points(r, kParams + 2, std::uint16_t(W(r, 0))));
        break;
    case TWmfFunction::Polyline:
        C.Polyline(Points(r, kParams + 2, std::uint16_t(W(r, 0))));
        break;
    case TWmfFunction::PolyPolygon: { // PolyPolygon: counts, then all points
        const std::size_t n = std::uint16_t(W(r, 0));
        r.Need(kParams + 2, n * 2);
        std::vector<std::vector<TPointD>> polys;
        std::size_t off = kParams + 2 + n * 2;
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t count = r.U16(kParams + 2 + 2 * i);
            polys.push_back(Points(r, off, count));
            off += count * 4;
        }
        C.PolyPolygon(polys);
        break;
    }
    case TWmfFunction::Rectangle:
        C.Rectangle(RectBRTL(r, 0));
        break;
    case TWmfFunction::Ellipse:
        C.Ellipse(RectBRTL(r, 0));
        break;
    case TWmfFunction::RoundRect:
        C.RoundRect(RectBRTL(r, 2), X(r, 1), X(r, 0));
        break;
    case TWmfFunction::Arc:
        C.ArcShape(TGdiCanvas::TArcKind::Arc, RectBRTL(r, 4), PointYX(r, 2), PointYX(r, 0));
        break;
    case TWmfFunction::Pie:
        C.ArcShape(TGdiCanvas::TArcKind::Pie, RectBRTL(r, 4), PointYX(r, 2), PointYX(r, 0));
        break;
    case TWmfFunction::Chord:
        C.ArcShape(TGdiCanvas::TArcKind::Chord, RectBRTL(r, 4), PointYX(r, 2), PointYX(r, 0));
        break;
    case TWmfFunction::SetPixel:
        C.SetPixel(PointYX(r, 2), C.ColorRef(r.U32(kParams)));
        break;
    case TWmfFunction::IntersectClipRect:
        C.IntersectClipRect(RectBRTL(r, 0));
        break;
    case TWmfFunction::ExcludeClipRect:
        C.ExcludeClipRect(RectBRTL(r, 0));
        break;
    case TWmfFunction::OffsetClipRgn:
        C.OffsetClipRgn(PointYX(r, 0));
        break;
    case TWmfFunction::SelectClipRegion:
        C.SelectClipRegion(RegionAt(std::uint16_t(W(r, 0))), RGN_COPY, true);
        break;
    case TWmfFunction::CreatePenIndirect: { // CreatePenIndirect
        auto p = std::make_shared<TPen>();
        p->Style = std::uint16_t(W(r, 0));
        p->Width = std::abs(W(r, 1));
        p->Color = C.ColorRef(r.U32(kParams + 6));
        AddObject(std::shared_ptr<const TPen>(std::move(p)));
        break;
    }
    case TWmfFunction::CreateBrushIndirect: { // CreateBrushIndirect
        auto b = std::make_shared<TBrush>();
        b->Style = std::uint16_t(W(r, 0));
        b->Color = C.ColorRef(r.U32(kParams + 2));
        b->Hatch = r.U16(kParams + 6);
        if (b->Style != BS_SOLID && b->Style != BS_NULL && b->Style != BS_HATCHED) b->Style = BS_SOLID;
        AddObject(std::shared_ptr<const TBrush>(std::move(b)));
        break;
    }
    case TWmfFunction::DibCreatePatternBrush: { // DIBCreatePatternBrush
        auto b = std::make_shared<TBrush>();
        b->Style = BS_DIBPATTERN;
        TDibHeader h;
        const std::size_t dib = kParams + 4;
        if (r.Has(dib, 1) &&
            ParseDibHeader(r.Bytes(dib, r.Size() - dib), r.Size() - dib, r.U16(kParams + 2),
                           C.State().Palette.get(), h) &&
            dib + h.InfoBytes < r.Size()) {
            const std::size_t bits = dib + h.InfoBytes;
            b->Pattern = DecodeDib(h, r.Bytes(bits, r.Size() - bits), r.Size() - bits, 0, 0, h.Width,
                                   h.Height, 256, 256);
        }
        if (!b->Pattern) b->Style = BS_SOLID;
        AddObject(std::shared_ptr<const TBrush>(std::move(b)));
        break;
    }
    case TWmfFunction::CreatePatternBrush: { // CreatePatternBrush: a Bitmap16, 18 reserved bytes, then the
                                             // bits
        auto b = std::make_shared<TBrush>();
        b->Style = BS_PATTERN;
        const std::size_t bm = kParams;
        if (r.Has(bm, 32) && r.U8(bm + 8) == 1 && r.U8(bm + 9) == 1)
            b->Pattern =
                DecodeMonoBitmap16(r.Bytes(bm + 32, r.Size() - bm - 32), r.Size() - bm - 32, r.I16(bm + 2),
                                   r.I16(bm + 4), r.I16(bm + 6), C.State().TextColor, C.State().BkColor);
        if (!b->Pattern) b->Style = BS_SOLID;
        AddObject(std::shared_ptr<const TBrush>(std::move(b)));
        break;
    }
    case TWmfFunction::CreateFontIndirect:
        CreateFont(r);
        break;
    case TWmfFunction::CreatePalette: { // CreatePalette
        auto p = std::make_shared<TPalette>();
        const std::size_t n = r.U16(kParams + 2);
        r.Need(kParams + 4, n * 4);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* e = r.Bytes(kParams + 4 + 4 * i, 4);
            p->Entries.push_back({e[0], e[1], e[2]});
        }
        AddObject(std::shared_ptr<const TPalette>(std::move(p)));
        break;
    }
    case TWmfFunction::SetPalEntries: { // SetPalEntries on the selected palette
        const std::size_t start = r.U16(kParams), n = r.U16(kParams + 2);
        r.Need(kParams + 4, n * 4);
        if (!C.State().Palette) break;
        auto p = std::make_shared<TPalette>(*C.State().Palette);
        for (std::size_t i = 0; i < n && start + i < p->Entries.size(); ++i) {
            const std::uint8_t* e = r.Bytes(kParams + 4 + 4 * i, 4);
            p->Entries[start + i] = {e[0], e[1], e[2]};
        }
        C.SelectPalette(std::move(p));
        break;
    }
    case TWmfFunction::SelectPalette: { // SelectPalette
        if (const TGdiObject* o = Object(std::uint16_t(W(r, 0))))
            if (const auto* p = std::get_if<std::shared_ptr<const TPalette>>(o)) C.SelectPalette(*p);
        break;
    }
    case TWmfFunction::CreateRegion:
        CreateRegion(r);
        break;
    case TWmfFunction::SelectObject: { // SelectObject
        const TGdiObject* o = Object(std::uint16_t(W(r, 0)));
        if (!o) break;
        if (const auto* p = std::get_if<std::shared_ptr<const TPen>>(o))
            C.SelectPen(*p);
        else if (const auto* b = std::get_if<std::shared_ptr<const TBrush>>(o))
            C.SelectBrush(*b);
        else if (const auto* f = std::get_if<std::shared_ptr<const TFont>>(o))
            C.SelectFont(*f);
        else if (const auto* g = std::get_if<std::shared_ptr<const TRegion>>(o))
            C.SelectClipRegion(g->get(), RGN_COPY, true);
        break;
    }
    case TWmfFunction::DeleteObject: { // DeleteObject: the slot becomes free; a selected object stays in use
        const std::int64_t i = std::uint16_t(W(r, 0));
        if (i < std::int64_t(Objects.size())) Objects[std::size_t(i)] = {};
        break;
    }
    case TWmfFunction::FillRegion: { // FillRegion
        const TRegion* g = RegionAt(std::uint16_t(W(r, 0)));
        const auto b = BrushAt(std::uint16_t(W(r, 1)));
        if (g && b) C.FillRegion(*g, *b, true);
        break;
    }
    case TWmfFunction::PaintRegion: // PaintRegion
        if (const TRegion* g = RegionAt(std::uint16_t(W(r, 0)))) C.FillRegion(*g, *C.State().Brush, true);
        break;
    case TWmfFunction::InvertRegion:
        if (const TRegion* g = RegionAt(std::uint16_t(W(r, 0)))) C.InvertRegion(*g, true);
        break;
    case TWmfFunction::FrameRegion: { // FrameRegion: region, brush, height, width
        const TRegion* g = RegionAt(std::uint16_t(W(r, 0)));
        const auto b = BrushAt(std::uint16_t(W(r, 1)));
        if (g && b) C.FrameRegion(*g, *b, X(r, 3), X(r, 2), true);
        break;
    }
    case TWmfFunction::TextOut:
        TextOut(r);
        break;
    case TWmfFunction::ExtTextOut:
        ExtTextOut(r);
        break;
    case TWmfFunction::PatBlt: { // PatBlt: rop, height, width, y, x
        TBlit b;
        b.Rop = r.U32(kParams);
        b.DestSize = {X(r, 3), X(r, 2)};
        b.Dest = {X(r, 5), X(r, 4)};
        if (!RopUsesSource(b.Rop)) C.Blit(b);
        break;
    }
    case TWmfFunction::DibBitBlt: // DIBBitBlt
    case TWmfFunction::BitBlt: {  // BitBlt with a device bitmap
        const std::uint32_t rop = r.U32(kParams);
        const bool noBitmap = params == 9; // the short form carries a reserved word instead
        const std::size_t k = noBitmap ? 1 : 0;
        const TPointD size{X(r, 5 + k), X(r, 4 + k)}, dest{X(r, 7 + k), X(r, 6 + k)};
        const std::int64_t ySrc = W(r, 2), xSrc = W(r, 3);
        if (noBitmap) {
            TBlit b;
            b.Rop = rop, b.Dest = dest, b.DestSize = size;
            if (!RopUsesSource(rop)) C.Blit(b);
        } else if (fn == TWmfFunction::DibBitBlt) {
            DibBlit(r, kParams + 16, DIB_RGB_COLORS, xSrc, ySrc, std::int64_t(size.X), std::int64_t(size.Y),
                    false, dest, size, false, rop);
        } else {
            Bitmap16Blit(r, kParams + 16, xSrc, ySrc, std::int64_t(size.X), std::int64_t(size.Y), dest, size,
                         rop);
        }
        break;
    }
    case TWmfFunction::DibStretchBlt: // DIBStretchBlt
    case TWmfFunction::StretchBlt: {  // StretchBlt with a device bitmap
        const std::uint32_t rop = r.U32(kParams);
        const bool noBitmap = params == 11;
        const std::size_t k = noBitmap ? 1 : 0;
        const std::int64_t hSrc = W(r, 2), wSrc = W(r, 3), ySrc = W(r, 4), xSrc = W(r, 5);
        const TPointD size{X(r, 7 + k), X(r, 6 + k)}, dest{X(r, 9 + k), X(r, 8 + k)};
        if (noBitmap) {
            TBlit b;
            b.Rop = rop, b.Dest = dest, b.DestSize = size;
            if (!RopUsesSource(rop)) C.Blit(b);
        } else if (fn == TWmfFunction::DibStretchBlt) {
            DibBlit(r, kParams + 20, DIB_RGB_COLORS, xSrc, ySrc, wSrc, hSrc, false, dest, size, false, rop);
        } else {
            Bitmap16Blit(r, kParams + 20, xSrc, ySrc, wSrc, hSrc, dest, size, rop);
        }
        break;
    }
    case TWmfFunction::StretchDib: { // StretchDIB
        const std::uint32_t rop = r.U32(kParams);
        const std::uint32_t usage = std::uint16_t(W(r, 2));
        const std::int64_t hSrc = W(r, 3), wSrc = W(r, 4), ySrc = W(r, 5), xSrc = W(r, 6);
        const TPointD size{X(r, 8), X(r, 7)}, dest{X(r, 10), X(r, 9)};
        DibBlit(r, kParams + 22, usage, xSrc, ySrc, wSrc, hSrc, true, dest, size, false, rop);
        break;
    }
    case TWmfFunction::SetDibToDev: { // SetDIBitsToDevice: the size is in device pixels
        const std::uint32_t usage = std::uint16_t(W(r, 0));
        const std::int64_t scans = std::uint16_t(W(r, 1)), start = std::uint16_t(W(r, 2));
        const std::int64_t ySrc = W(r, 3), xSrc = W(r, 4), h = W(r, 5), w = W(r, 6);
        DibBlit(r, kParams + 18, usage, xSrc, ySrc, w, h, true, {X(r, 8), X(r, 7)}, {double(w), double(h)},
                true, SRCCOPY, start, scans);
        break;
    }
    default:
        break; // escapes, palette animation and the rest draw nothing
    }
}

} // namespace

bool PlayWmf(const std::vector<std::uint8_t>& data, std::size_t records, std::size_t objectCount,
             TGdiCanvas& canvas) {
    TWmfPlayer player(canvas, objectCount);
    std::size_t pos = records;
    while (pos < data.size()) {
        if (data.size() - pos < 6) return true; // padding after the last record
        const TRecord head(data.data() + pos, data.size() - pos);
        const std::uint64_t words = head.U32(0);
        const auto fn = TWmfFunction(head.U16(4));
        if (fn == TWmfFunction::Eof) return true;
        if (words < 3 || words * 2 > data.size() - pos) return false;
        const std::size_t bytes = std::size_t(words * 2);
        try {
            player.Play(TRecord(data.data() + pos, bytes), fn);
        } catch (const EMalformedRecord&) {
            return false;
        }
        if (!canvas.Healthy()) return false;
        pos += bytes;
    }
    return true;
}

} // namespace metafile
