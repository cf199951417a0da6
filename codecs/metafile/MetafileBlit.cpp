// Bitmap records: stretched blits with ternary raster operations, alpha and transparent blits, and
// gradient fills.
#include "codecs/metafile/CairoLibrary.h"
#include "codecs/metafile/MetafileCanvas.h"
#include "codecs/metafile/MetafileGeometry.h"

#include <algorithm>
#include <cmath>

namespace metafile {

namespace {

std::uint8_t Rop3Byte(std::uint8_t rop, std::uint8_t p, std::uint8_t s, std::uint8_t d) {
    std::uint8_t r = 0;
    for (int k = 0; k < 8; ++k)
        if ((rop >> k) & 1) r |= std::uint8_t(((k & 4) ? p : ~p) & ((k & 2) ? s : ~s) & ((k & 1) ? d : ~d));
    return r;
}

bool UsesSource(std::uint8_t rop) {
    return ((rop >> 2) ^ rop) & 0x33;
}

cairo_surface_t* SurfaceOf(const TImage& img) {
    return Cairo().cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(img.Pixels.data())), CAIRO_FORMAT_ARGB32,
        img.Width, img.Height, img.Width * 4);
}

} // namespace

void TGdiCanvas::QuadPath(const std::array<TPointD, 4>& q) {
    Cairo().cairo_new_path(Cr);
    Cairo().cairo_move_to(Cr, q[0].X, q[0].Y);
    for (int i = 1; i < 4; ++i) Cairo().cairo_line_to(Cr, q[std::size_t(i)].X, q[std::size_t(i)].Y);
    Cairo().cairo_close_path(Cr);
}

void TGdiCanvas::Blit(const TBlit& b) {
    if (!PrepareDraw()) return;
    TPointD o, ex, ey;
    if (b.DestIsDevice) {
        Full();
        o = Setup.Fit.Apply(FPage.Apply(b.Dest));
        ex = Setup.Fit.ApplyVector({b.DestSize.X, 0});
        ey = Setup.Fit.ApplyVector({0, b.DestSize.Y});
    } else {
        o = Full().Apply(b.Dest);
        ex = Full().ApplyVector({b.DestSize.X, 0});
        ey = Full().ApplyVector({0, b.DestSize.Y});
    }
    const std::array<TPointD, 4> quad = {o, TPointD{o.X + ex.X, o.Y + ex.Y},
                                         TPointD{o.X + ex.X + ey.X, o.Y + ex.Y + ey.Y},
                                         TPointD{o.X + ey.X, o.Y + ey.Y}};
    for (const auto& p : quad)
        if (!std::isfinite(p.X) || !std::isfinite(p.Y) || std::fabs(p.X) > kMaxDeviceCoord ||
            std::fabs(p.Y) > kMaxDeviceCoord)
            return;
    if (std::fabs(ex.X * ey.Y - ex.Y * ey.X) < 1e-9) return; // nothing covered
    if (FMeasuring) {
        for (const auto& p : quad) MeasureRect({p.X, p.Y, p.X, p.Y});
        return;
    }
    const std::uint8_t rop = std::uint8_t((b.Rop >> 16) & 0xFF);
    const bool needsSource = b.AlphaBlend || b.Transparent || UsesSource(rop);
    const TImage* img = b.Source.get();
    if (needsSource && (!img || img->Width <= 0 || img->Height <= 0)) return;

    // A transparent blit works on a copy with the key colour cleared.
    std::shared_ptr<TImage> keyed;
    if (b.Transparent && img) {
        keyed = std::make_shared<TImage>(*img);
        const std::uint32_t key = 0xFF000000u | (std::uint32_t(b.TransparentColor.R) << 16) |
                                  (std::uint32_t(b.TransparentColor.G) << 8) | b.TransparentColor.B;
        for (auto& px : keyed->Pixels)
            if (px == key) px = 0;
        img = keyed.get();
    }

    cairo_pattern_t* src = nullptr;
    if (img && needsSource) {
        cairo_surface_t* surf = SurfaceOf(*img);
        src = Cairo().cairo_pattern_create_for_surface(surf);
        Cairo().cairo_surface_destroy(surf);
        // Pattern space (image pixels) -> device, inverted for cairo.
        cairo_matrix_t m = {
            ex.X / img->Width, ex.Y / img->Width, ey.X / img->Height, ey.Y / img->Height, o.X, o.Y};
        if (Cairo().cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) {
            Cairo().cairo_pattern_destroy(src);
            return;
        }
        Cairo().cairo_pattern_set_matrix(src, &m);
        Cairo().cairo_pattern_set_extend(src, CAIRO_EXTEND_PAD);
        Cairo().cairo_pattern_set_filter(src, CAIRO_FILTER_GOOD);
    }

    if (b.AlphaBlend) {
        Cairo().cairo_save(Cr);
        QuadPath(quad);
        Cairo().cairo_clip(Cr);
        Cairo().cairo_set_source(Cr, src);
        Cairo().cairo_paint_with_alpha(Cr, std::clamp(b.ConstAlpha, 0.0, 1.0));
        Cairo().cairo_restore(Cr);
    } else if (b.Transparent || rop == ROP_SRCCOPY) {
        QuadPath(quad);
        Cairo().cairo_set_source(Cr, src);
        Cairo().cairo_fill(Cr);
    } else if (rop == ROP_BLACKNESS || rop == ROP_WHITENESS) {
        QuadPath(quad);
        const double v = rop == ROP_WHITENESS ? 1 : 0;
        Cairo().cairo_set_source_rgb(Cr, v, v, v);
        Cairo().cairo_fill(Cr);
    } else if (rop == ROP_PATCOPY) {
        const std::uint32_t rop2 = S.Rop2;
        S.Rop2 = R2_COPYPEN; // raster operations replace the mix mode
        QuadPath(quad);
        if (SetBrushSource(*S.Brush)) Cairo().cairo_fill(Cr);
        Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
        S.Rop2 = rop2;
    } else if (rop != ROP_DSTCOPY) {
        Rop3(rop, quad, src);
    }
    Cairo().cairo_new_path(Cr);
    if (src) Cairo().cairo_pattern_destroy(src);
}

// Any ternary raster operation, bit by bit: source and pattern are rendered into scratch images over the
// covered box, combined with the destination's pixels, and the result is filled through the clip.
void TGdiCanvas::Rop3(std::uint8_t rop, const std::array<TPointD, 4>& quad, cairo_pattern_t* src) {
    double minX = quad[0].X, maxX = quad[0].X, minY = quad[0].Y, maxY = quad[0].Y;
    for (const auto& p : quad) {
        minX = std::min(minX, p.X), maxX = std::max(maxX, p.X);
        minY = std::min(minY, p.Y), maxY = std::max(maxY, p.Y);
    }
    const int x0 = std::max(0, int(std::floor(minX))), y0 = std::max(0, int(std::floor(minY)));
    const int x1 = std::min(FW, int(std::ceil(maxX))), y1 = std::min(FH, int(std::ceil(maxY)));
    if (x1 <= x0 || y1 <= y0) return;
    const int bw = x1 - x0, bh = y1 - y0;

    cairo_surface_t* target = Cairo().cairo_get_target(Cr);
    if (Cairo().cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) return;
    Cairo().cairo_surface_flush(target);
    const unsigned char* dst = Cairo().cairo_image_surface_get_data(target);
    const int dstStride = Cairo().cairo_image_surface_get_stride(target);
    if (!dst) return;

    auto render = [&](cairo_pattern_t* pattern, TRgb solid, bool useSolid) {
        cairo_surface_t* s = Cairo().cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bw, bh);
        cairo_t* c = Cairo().cairo_create(s);
        Cairo().cairo_translate(c, -x0, -y0);
        if (useSolid)
            Cairo().cairo_set_source_rgb(c, solid.R / 255.0, solid.G / 255.0, solid.B / 255.0);
        else
            Cairo().cairo_set_source(c, pattern);
        Cairo().cairo_paint(c);
        Cairo().cairo_destroy(c);
        Cairo().cairo_surface_flush(s);
        return s;
    };
    cairo_surface_t* sSurf = src ? render(src, {}, false) : nullptr;
    cairo_surface_t* pSurf = nullptr;
    {
        // The brush as a pattern: set it on the main context and borrow it.
        const std::uint32_t rop2 = S.Rop2;
        S.Rop2 = R2_COPYPEN;
        if (SetBrushSource(*S.Brush)) {
            cairo_pattern_t* p = Cairo().cairo_pattern_reference(Cairo().cairo_get_source(Cr));
            pSurf = render(p, {}, false);
            Cairo().cairo_pattern_destroy(p);
        }
        Cairo().cairo_set_operator(Cr, CAIRO_OPERATOR_OVER);
        S.Rop2 = rop2;
    }
    cairo_surface_t* out = Cairo().cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bw, bh);
    if (Cairo().cairo_surface_status(out) == CAIRO_STATUS_SUCCESS) {
        Cairo().cairo_surface_flush(out);
        unsigned char* o = Cairo().cairo_image_surface_get_data(out);
        const int oStride = Cairo().cairo_image_surface_get_stride(out);
        const unsigned char* sp = sSurf ? Cairo().cairo_image_surface_get_data(sSurf) : nullptr;
        const unsigned char* pp = pSurf ? Cairo().cairo_image_surface_get_data(pSurf) : nullptr;
        const int sStride = sSurf ? Cairo().cairo_image_surface_get_stride(sSurf) : 0;
        const int pStride = pSurf ? Cairo().cairo_image_surface_get_stride(pSurf) : 0;
        for (int y = 0; y < bh; ++y) {
            const auto* drow =
                reinterpret_cast<const std::uint32_t*>(dst + std::ptrdiff_t(y + y0) * dstStride) + x0;
            auto* orow = reinterpret_cast<std::uint32_t*>(o + std::ptrdiff_t(y) * oStride);
            const auto* srow =
                sp ? reinterpret_cast<const std::uint32_t*>(sp + std::ptrdiff_t(y) * sStride) : nullptr;
            const auto* prow =
                pp ? reinterpret_cast<const std::uint32_t*>(pp + std::ptrdiff_t(y) * pStride) : nullptr;
            for (int x = 0; x < bw; ++x) {
                const std::uint32_t d = drow[x], s = srow ? srow[x] : 0, p = prow ? prow[x] : 0;
                std::uint32_t r = 0xFF000000u;
                for (int sh = 0; sh < 24; sh += 8)
                    r |= std::uint32_t(Rop3Byte(rop, std::uint8_t(p >> sh), std::uint8_t(s >> sh),
                                                std::uint8_t(d >> sh)))
                         << sh;
                orow[x] = r;
            }
        }
        Cairo().cairo_surface_mark_dirty(out);
        QuadPath(quad);
        Cairo().cairo_set_source_surface(Cr, out, x0, y0);
        Cairo().cairo_fill(Cr);
    }
    Cairo().cairo_surface_destroy(out);
    if (sSurf) Cairo().cairo_surface_destroy(sSurf);
    if (pSurf) Cairo().cairo_surface_destroy(pSurf);
}

void TGdiCanvas::GradientFill(const std::vector<TGradientVertex>& v,
                              const std::vector<std::array<std::uint32_t, 3>>& mesh, std::uint32_t mode) {
    if (!PrepareDraw()) return;
    for (const auto& m : mesh) {
        const std::size_t count = mode == GRADIENT_FILL_TRIANGLE ? 3 : 2;
        bool ok = true;
        for (std::size_t k = 0; k < count; ++k) ok &= m[k] < v.size();
        if (!ok) continue;
        TPath path;
        cairo_pattern_t* pat = nullptr;
        if (mode == GRADIENT_FILL_TRIANGLE) {
            const TPointD a = ToDevice(v[m[0]].P), b = ToDevice(v[m[1]].P), c = ToDevice(v[m[2]].P);
            path.MoveTo(a);
            path.LineTo(b);
            path.LineTo(c);
            path.Close();
            if (!PathFits(path)) continue;
            pat = Cairo().cairo_pattern_create_mesh();
            Cairo().cairo_mesh_pattern_begin_patch(pat);
            Cairo().cairo_mesh_pattern_move_to(pat, a.X, a.Y);
            Cairo().cairo_mesh_pattern_line_to(pat, b.X, b.Y);
            Cairo().cairo_mesh_pattern_line_to(pat, c.X, c.Y);
            for (unsigned k = 0; k < 3; ++k) {
                const auto& q = v[m[k]];
                Cairo().cairo_mesh_pattern_set_corner_color_rgb(pat, k, q.R, q.G, q.B);
            }
            Cairo().cairo_mesh_pattern_end_patch(pat);
        } else {
            const auto& a = v[m[0]];
            const auto& b = v[m[1]];
            TRectD r{a.P.X, a.P.Y, b.P.X, b.P.Y};
            path = RectPath(r);
            if (!PathFits(path)) continue;
            const TPointD from = ToDevice(a.P);
            const TPointD to =
                ToDevice(mode == GRADIENT_FILL_RECT_H ? TPointD{b.P.X, a.P.Y} : TPointD{a.P.X, b.P.Y});
            pat = Cairo().cairo_pattern_create_linear(from.X, from.Y, to.X, to.Y);
            Cairo().cairo_pattern_add_color_stop_rgb(pat, 0, a.R, a.G, a.B);
            Cairo().cairo_pattern_add_color_stop_rgb(pat, 1, b.R, b.G, b.B);
        }
        if (FMeasuring) {
            Measure(path, 0);
        } else {
            Cairo().cairo_new_path(Cr);
            path.AppendTo(Cr);
            Cairo().cairo_set_source(Cr, pat);
            Cairo().cairo_fill(Cr);
        }
        Cairo().cairo_pattern_destroy(pat);
    }
}

} // namespace metafile
