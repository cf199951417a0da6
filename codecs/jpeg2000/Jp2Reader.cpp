#include "codecs/jpeg2000/Jp2Reader.h"

#include "codecs/jpeg2000/J2kImage.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "imaging/params/ReadFailures.h"
#include "platform/Stream.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// YCbCr to RGB terms for 8-bit chroma, r = i - 128, factors in single precision as the tables
// have always been computed.
struct TYCbCrTables {
    std::array<std::int32_t, 256> CrToR{}, CbToB{}, CrToG{}, CbToG{};
    TYCbCrTables() {
        const float kr = 0.299f, kg = 0.587f, kb = 0.114f;
        const float crR = 2.0f - 2.0f * kr;
        const float cbB = 2.0f - 2.0f * kb;
        const float crG = kr * crR / kg;
        const float cbG = kb * cbB / kg;
        for (int i = 0; i < 256; ++i) {
            const float r = static_cast<float>(i - 128);
            CrToR[std::size_t(i)] = static_cast<std::int32_t>(std::nearbyint(crR * r));
            CbToB[std::size_t(i)] = static_cast<std::int32_t>(std::nearbyint(cbB * r));
            CrToG[std::size_t(i)] = -static_cast<std::int32_t>(std::nearbyint(crG * r));
            CbToG[std::size_t(i)] = -static_cast<std::int32_t>(std::nearbyint(cbG * r));
        }
    }
};
const TYCbCrTables kTables;

std::uint8_t Clamp8(std::int32_t v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// How one component's samples become 8-bit values.
struct TScale {
    int Precision = 8;
    std::uint32_t Offset = 0; // signed samples are moved up by half their range
    std::uint32_t Max = 255;

    TScale(int precision, bool isSigned)
        : Precision(precision), Offset(isSigned ? 1u << (precision - 1) : 0u), Max((1u << precision) - 1) {}

    // Eight bits and more keep the top eight bits; fewer are stretched so that full scale stays
    // full scale (a 4-bit 15 is 255, not 240).
    std::uint8_t operator()(std::int32_t s) const {
        const std::uint32_t u = static_cast<std::uint32_t>(s) + Offset;
        if (Precision >= 8) return static_cast<std::uint8_t>((u << (32 - Precision)) >> 24);
        return static_cast<std::uint8_t>(((u & Max) * 255u) / Max);
    }
};

// Sample row (or column) of a component for every image row (or column); outside the component: 0.
std::vector<std::int32_t> CoordinateMap(int pixels, int offset, int step, int samples) {
    std::vector<std::int32_t> map(static_cast<std::size_t>(pixels));
    for (int i = 0; i < pixels; ++i) {
        const std::int64_t v = (std::int64_t(i) - offset) / step;
        map[std::size_t(i)] = v < 0 || v >= samples ? 0 : static_cast<std::int32_t>(v);
    }
    return map;
}

struct TUsedComponent {
    int Index = 0;
    std::vector<std::int32_t> Rows, Cols;
    TScale Scale{8, false};
};

enum class TJ2kMode { Grey, Rgb, YCbCr, Cmyk };

TUsedComponent UseComponent(const TJ2kImage& image, int k) {
    TUsedComponent u;
    u.Index = k;
    u.Rows =
        CoordinateMap(image.Height(), image.TopOffset(k), image.VerticalStep(k), image.ComponentHeight(k));
    u.Cols =
        CoordinateMap(image.Width(), image.LeftOffset(k), image.HorizontalStep(k), image.ComponentWidth(k));
    u.Scale = TScale(image.Precision(k), image.IsSigned(k));
    return u;
}

// Inks to light: each ink takes its share of what the black ink lets through.
std::uint8_t InkToLight(std::uint8_t ink, std::uint8_t black) {
    return static_cast<std::uint8_t>((255u - ink) * (255u - black) / 255u);
}

void Convert(const TJ2kImage& image, TJ2kMode mode, std::vector<TUsedComponent>& used, bool oneBit,
             TIEBitmap& Bitmap, TIEProgressRecord& Progress) {
    const int width = image.Width();
    const int height = image.Height();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = Bitmap.RowPointer(y);
        if (mode == TJ2kMode::Grey) {
            const TUsedComponent& g = used[0];
            const int sy = g.Rows[std::size_t(y)];
            for (int x = 0; x < width; ++x) {
                const std::uint8_t v = g.Scale(image.Sample(g.Index, sy, g.Cols[std::size_t(x)]));
                if (oneBit) {
                    if (v) row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
                } else {
                    std::memset(row + std::size_t(x) * 3, v, 3);
                }
            }
        } else if (mode == TJ2kMode::Cmyk) {
            for (int x = 0; x < width; ++x) {
                std::uint8_t v[4];
                for (std::size_t i = 0; i < 4; ++i)
                    v[i] = used[i].Scale(image.Sample(used[i].Index, used[i].Rows[std::size_t(y)],
                                                      used[i].Cols[std::size_t(x)]));
                std::uint8_t* p = row + std::size_t(x) * 3;
                p[0] = InkToLight(v[2], v[3]);
                p[1] = InkToLight(v[1], v[3]);
                p[2] = InkToLight(v[0], v[3]);
            }
        } else {
            const TUsedComponent &c1 = used[0], &c2 = used[1], &c3 = used[2];
            const int y1 = c1.Rows[std::size_t(y)], y2 = c2.Rows[std::size_t(y)],
                      y3 = c3.Rows[std::size_t(y)];
            for (int x = 0; x < width; ++x) {
                const std::size_t sx = std::size_t(x);
                const std::uint8_t v1 = c1.Scale(image.Sample(c1.Index, y1, c1.Cols[sx]));
                const std::uint8_t v2 = c2.Scale(image.Sample(c2.Index, y2, c2.Cols[sx]));
                const std::uint8_t v3 = c3.Scale(image.Sample(c3.Index, y3, c3.Cols[sx]));
                std::uint8_t* p = row + sx * 3;
                if (mode == TJ2kMode::Rgb) {
                    p[0] = v3;
                    p[1] = v2;
                    p[2] = v1;
                } else {
                    const std::int32_t luma = v1;
                    p[2] = Clamp8(luma + kTables.CrToR[v3]);
                    p[1] = Clamp8(luma + kTables.CbToG[v2] + kTables.CrToG[v3]);
                    p[0] = Clamp8(luma + kTables.CbToB[v2]);
                }
            }
        }
        Progress.ReportPercent(static_cast<int>(std::trunc(y * Progress.PercentPerUnit)));
        if (Progress.IsAborting()) return;
    }
}

// The opacity component into the mask. Colours stored premultiplied are divided back by their
// opacity, so that laying the page over paper gives what the file meant.
void ConvertAlpha(const TJ2kImage& image, const TUsedComponent& a, bool premultiplied, bool oneBit,
                  TIEBitmap& Bitmap, TIEMask& Mask) {
    for (int y = 0; y < image.Height(); ++y) {
        std::uint8_t* alpha = Mask.RowPointer(y);
        std::uint8_t* row = Bitmap.RowPointer(y);
        const int sy = a.Rows[std::size_t(y)];
        for (int x = 0; x < image.Width(); ++x) {
            const std::uint8_t v = a.Scale(image.Sample(a.Index, sy, a.Cols[std::size_t(x)]));
            alpha[x] = v;
            if (!premultiplied || oneBit || v == 0 || v == 255) continue;
            for (std::uint8_t* c = row + std::size_t(x) * 3; c < row + std::size_t(x) * 3 + 3; ++c)
                *c = static_cast<std::uint8_t>(std::min(255u, (*c * 255u + v / 2u) / v));
        }
    }
}

bool StartsWith(TStream& Stream, const std::uint8_t* bytes, int count) {
    const std::int64_t start = Stream.Position();
    std::uint8_t head[12] = {};
    const std::int64_t got = Stream.Read(head, count);
    Stream.SetPosition(start);
    return got == count && std::equal(head, head + count, bytes);
}

} // namespace

bool IsJp2Stream(TStream& Stream) {
    static constexpr std::uint8_t kSignature[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                    0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    return StartsWith(Stream, kSignature, 12);
}

bool IsJ2kStream(TStream& Stream) {
    static constexpr std::uint8_t kStart[4] = {0xFF, 0x4F, 0xFF, 0x51};
    return StartsWith(Stream, kStart, 4);
}

void ReadJp2Stream(TStream& Stream, TIEBitmap& Bitmap, TIOParamsVals& Params, bool HeaderOnly,
                   TIEProgressRecord& Progress, std::unique_ptr<TIEMask>& Mask) {
    try {
        if (!IsJp2Stream(Stream) && !IsJ2kStream(Stream)) {
            Progress.Fail("not a JPEG 2000 file");
            return;
        }
        TJ2kImage image;
        if (!image.Decode(Stream)) {
            Progress.Fail(image.Refusal());
            return;
        }
        const int width = image.Width();
        const int height = image.Height();

        // Components by colour model; a type that is missing falls back to a fixed index.
        auto pick = [&image](int type, int fallback) {
            const int k = image.ComponentByType(type);
            return k >= 0 ? k : fallback;
        };
        TJ2kMode mode = TJ2kMode::Grey;
        std::vector<int> indexes;
        switch (image.ColorModel()) {
        case j2kGray:
            indexes = {pick(0, 0)};
            break;
        case j2kRgb:
            mode = TJ2kMode::Rgb;
            indexes = {pick(0, 0), pick(1, 1), pick(2, 2)};
            break;
        case j2kYCbCr:
            mode = TJ2kMode::YCbCr;
            indexes = {pick(0, 0), pick(1, 0), pick(2, 0)};
            break;
        case j2kCmyk: // four inks; the fourth is black, not opacity
            mode = TJ2kMode::Cmyk;
            indexes = {pick(0, 0), pick(1, 1), pick(2, 2), pick(3, 3)};
            break;
        default:
            Progress.Fail("unsupported colour space");
            return;
        }
        // An RGB image with fewer than three components has nothing behind the fixed indexes.
        for (int k : indexes) {
            if (k >= image.ComponentCount()) {
                Progress.Fail("too few colour components");
                return;
            }
        }
        Params.BitsPerSample = image.Precision(indexes[0]);
        Params.SamplesPerPixel = static_cast<std::int32_t>(indexes.size());
        Params.HorizontalDpi = DefaultDpiX;
        Params.VerticalDpi = DefaultDpiY;
        Params.FreePalette();
        Params.ImageWidth = width;
        Params.ImageHeight = height;
        if (HeaderOnly) return;

        const bool oneBit = Params.BitsPerSample == 1 && Params.SamplesPerPixel == 1;
        std::vector<TUsedComponent> used;
        for (int k : indexes) used.push_back(UseComponent(image, k));

        Bitmap.Reallocate(width, height, oneBit ? ie1Bit : ie24Rgb);
        const std::size_t stride = static_cast<std::size_t>(Bitmap.RowStride());
        for (int y = 0; y < height; ++y) std::memset(Bitmap.RowPointer(y), 0, stride);
        Progress.PercentPerUnit = 100.0 / height;
        Convert(image, mode, used, oneBit, Bitmap, Progress);
        const int alpha = image.AlphaComponent();
        if (alpha >= 0 && !Progress.IsAborting()) {
            if (!Mask) Mask = std::make_unique<TIEMask>();
            Mask->Allocate(width, height, 8);
            Mask->FullyOpaque = false;
            ConvertAlpha(image, UseComponent(image, alpha),
                         image.AlphaKind(alpha) == TJ2kAlpha::Premultiplied, oneBit, Bitmap, *Mask);
        }
    } catch (const std::exception& e) {
        FailFromException(Progress, e);
    } catch (...) {
        // Nothing leaves this reader.
        Progress.Abort();
    }
}
