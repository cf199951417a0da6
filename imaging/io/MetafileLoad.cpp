// Rendering of WMF and EMF files into the current bitmap.
#include "codecs/metafile/Metafile.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/LoadScope.h"
#include "imaging/io/PictoraIO.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr int kMaxMetafileSide = 16000;
constexpr TColor kAlphaKeyColour = RGBColor(3, 2, 1); // 66051: what the picture leaves unpainted

// Plays the picture into the bitmap's rows: straight into them when they lie top-down in one block
// (the view's platform bitmap), else through a buffer of one image.
bool RenderInto(const TMetafile& mf, TIEBitmap& bitmap, TColor background) {
    const int w = bitmap.Width(), h = bitmap.Height();
    const std::ptrdiff_t stride = bitmap.RowStride();
    if (bitmap.Location() == ieTBitmap && (h == 1 || bitmap.RowPointer(1) - bitmap.RowPointer(0) == stride))
        return mf.Draw(bitmap.RowPointer(0), w, h, stride, background);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
    const bool complete = mf.Draw(buffer.data(), w, h, stride, background);
    for (int y = 0; y < h; ++y)
        std::memcpy(bitmap.RowPointer(y), buffer.data() + static_cast<std::size_t>(stride) * y,
                    static_cast<std::size_t>(stride));
    return complete;
}
} // namespace

void TPictoraIO::LoadMetafile(const std::string& path, int width, bool alpha, int height) {
    TLoadScope scope(*this);
    Aborting = false;
    if (width == 0 || height == 0 || !PrepareBitmap()) return;
    TMetafile mf;
    if (!mf.LoadFromFile(path)) { // not a metafile this player understands: a clear failure, not a blank page
        FailLoad("not a WMF or EMF picture");
        return;
    }
    std::int64_t w = width, h = height;
    const std::int64_t mw = mf.Width(), mh = mf.Height();
    if (w < 0 && h < 0) {
        w = mw;
        h = mh;
    } else if (w < 0) {
        w = mh > 0 ? h * mw / mh : 0;
    } else if (h < 0) {
        h = mw > 0 ? w * mh / mw : 0;
    }
    if (w <= 0 || h <= 0) {
        FailLoad("the picture is too small to draw");
        return;
    }
    if (w > kMaxMetafileSide || h > kMaxMetafileSide) {
        if (w >= h) {
            h = std::max<std::int64_t>(1, h * kMaxMetafileSide / w);
            w = kMaxMetafileSide;
        } else {
            w = std::max<std::int64_t>(1, w * kMaxMetafileSide / h);
            h = kMaxMetafileSide;
        }
    }
    FBitmap->Reallocate(static_cast<int>(w), static_cast<int>(h), ie24Rgb);
    if (!RenderInto(mf, *FBitmap, Background())) {
        // A malformed record ended playback: what was drawn stays, but the page is not the picture.
        FailLoad("damaged drawing record");
    }
    FBitmap->DropAlphaPlane();

    FParams.LoadedFileName = path;
    FParams.FileFormat = mf.Enhanced() ? ioEMF : ioWMF;
    FParams.BitsPerSample = 8;
    FParams.SamplesPerPixel = 3;
    FParams.ImageWidth = static_cast<int>(w);
    FParams.ImageHeight = static_cast<int>(h);
    FParams.SetHorizontalDpi(DefaultDpiX);
    FParams.SetVerticalDpi(DefaultDpiY);
    FParams.FreePalette();
    if (FView) FView->SetDpi(FParams.HorizontalDpi, FParams.VerticalDpi);

    if (alpha) {
        TIEBitmap keyed;
        keyed.Reallocate(static_cast<int>(w), static_cast<int>(h), ie24Rgb);
        RenderInto(mf, keyed, kAlphaKeyColour);
        TIEBitmap* plane = FBitmap->AlphaPlane();
        std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            std::memcpy(row.data(), keyed.RowPointer(y), row.size());
            std::uint8_t* a = plane->RowPointer(y);
            for (std::int64_t x = 0; x < w; ++x) {
                const std::uint8_t* p = &row[static_cast<std::size_t>(x) * 3];
                a[x] = (p[0] == 1 && p[1] == 2 && p[2] == 3) ? 0 : 255;
            }
        }
        plane->FullyOpaque = false;
    }
    NotifyBitmapChanged();
}
