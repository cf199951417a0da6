#include "codecs/metafile/Metafile.h"

#include "platform/Exceptions.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>

namespace testsupport {
void PrintTo(const CorpusEntry& e, std::ostream* os) {
    *os << e.Path;
}
} // namespace testsupport

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
std::int16_t Lo(std::uint32_t v) {
    return std::int16_t(v & 0xFFFF);
}
std::int16_t Hi(std::uint32_t v) {
    return std::int16_t(v >> 16);
}
constexpr std::uint32_t Ref(int r, int g, int b) {
    return std::uint32_t(r) | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16);
}
constexpr std::uint32_t kRed = Ref(255, 0, 0), kGreen = Ref(0, 255, 0), kBlue = Ref(0, 0, 255);
constexpr std::uint32_t kYellow = Ref(255, 255, 0);

// WMF records; File() adds the headers and the end record.
struct TWmf {
    Bytes Records;
    TWmf& Rec(std::uint16_t fn, std::vector<std::int16_t> words) {
        Put32(Records, std::uint32_t(3 + words.size()));
        Put16(Records, fn);
        for (auto w : words) Put16(Records, std::uint16_t(w));
        return *this;
    }
    TWmf& RecRaw(std::uint16_t fn, Bytes params) {
        if (params.size() % 2) params.push_back(0);
        Put32(Records, std::uint32_t(3 + params.size() / 2));
        Put16(Records, fn);
        Records.insert(Records.end(), params.begin(), params.end());
        return *this;
    }
    TWmf& Window(int x, int y, int w, int h) {
        return Rec(0x020B, {std::int16_t(y), std::int16_t(x)})
            .Rec(0x020C, {std::int16_t(h), std::int16_t(w)});
    }
    TWmf& Brush(std::uint16_t style, std::uint32_t c, std::int16_t hatch = 0) {
        return Rec(0x02FC, {std::int16_t(style), Lo(c), Hi(c), hatch});
    }
    TWmf& Pen(std::uint16_t style, std::int16_t width, std::uint32_t c) {
        return Rec(0x02FA, {std::int16_t(style), width, 0, Lo(c), Hi(c)});
    }
    TWmf& NullPen() { return Pen(5, 0, 0).Select(Objects++); }
    TWmf& Select(int i) { return Rec(0x012D, {std::int16_t(i)}); }
    TWmf& Rect(int l, int t, int r, int b) {
        return Rec(0x041B, {std::int16_t(b), std::int16_t(r), std::int16_t(t), std::int16_t(l)});
    }
    Bytes File(bool placeable = true, int l = 0, int t = 0, int r = 1000, int b = 1000,
               int inch = 1000) const {
        Bytes out;
        if (placeable) {
            Put32(out, 0x9AC6CDD7);
            Put16(out, 0);
            for (int v : {l, t, r, b}) Put16(out, std::uint16_t(v));
            Put16(out, std::uint16_t(inch));
            Put32(out, 0);
            std::uint16_t sum = 0;
            for (std::size_t i = 0; i < out.size(); i += 2) sum ^= std::uint16_t(out[i] | (out[i + 1] << 8));
            Put16(out, sum);
        }
        Put16(out, 1);
        Put16(out, 9);
        Put16(out, 0x300);
        Put32(out, std::uint32_t(9 + Records.size() / 2 + 3));
        Put16(out, std::uint16_t(std::max(Objects, 4)));
        Put32(out, 0);
        Put16(out, 0);
        out.insert(out.end(), Records.begin(), Records.end());
        Put32(out, 3);
        Put16(out, 0);
        return out;
    }
    int Objects = 0;
};

// EMF records; File() adds the header (frame in hundredths of a millimetre at one device pixel per
// millimetre, so a 100 x 100 frame of 10000 units plays 1:1 into 100 x 100 pixels) and EMR_EOF.
struct TEmf {
    Bytes Records;
    TEmf& Rec(std::uint32_t type, std::vector<std::int32_t> fields) {
        Put32(Records, type);
        Put32(Records, std::uint32_t(8 + 4 * fields.size()));
        for (auto f : fields) Put32(Records, std::uint32_t(f));
        return *this;
    }
    TEmf& RecRaw(std::uint32_t type, const Bytes& body) {
        Put32(Records, type);
        Put32(Records, std::uint32_t(8 + body.size()));
        Records.insert(Records.end(), body.begin(), body.end());
        return *this;
    }
    TEmf& Stock(int i) { return Rec(37, {std::int32_t(0x80000000u | std::uint32_t(i))}); }
    TEmf& Brush(int ih, std::uint32_t style, std::uint32_t c, std::uint32_t hatch = 0) {
        return Rec(39, {ih, std::int32_t(style), std::int32_t(c), std::int32_t(hatch)});
    }
    TEmf& Select(int ih) { return Rec(37, {ih}); }
    TEmf& Rect(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
    Bytes File(int frameW = 10000, int frameH = 10000) const {
        Bytes out;
        Put32(out, 1);
        Put32(out, 88);
        for (int v : {0, 0, frameW / 100, frameH / 100, 0, 0, frameW, frameH}) Put32(out, std::uint32_t(v));
        Put32(out, 0x464D4520);
        Put32(out, 0x10000);
        Put32(out, std::uint32_t(88 + Records.size() + 20));
        Put32(out, 0);
        Put16(out, 16);
        Put16(out, 0);
        for (int v : {0, 0, 0, 1000, 1000, 1000, 1000}) Put32(out, std::uint32_t(v));
        out.insert(out.end(), Records.begin(), Records.end());
        for (std::uint32_t v : {14u, 20u, 0u, 16u, 20u}) Put32(out, v);
        return out;
    }
};

struct TRgb {
    int R, G, B;
    bool operator==(const TRgb&) const = default;
};
std::ostream& operator<<(std::ostream& os, const TRgb& c) {
    return os << "(" << c.R << "," << c.G << "," << c.B << ")";
}
constexpr TRgb kRgbRed{255, 0, 0}, kRgbWhite{255, 255, 255}, kRgbBlack{0, 0, 0}, kRgbBlue{0, 0, 255};

struct TRender {
    int W = 0, H = 0;
    Bytes Buf;
    bool Ok = false;
    TRgb At(int x, int y) const {
        const std::uint8_t* p = &Buf[(std::size_t(y) * std::size_t(W) + std::size_t(x)) * 3];
        return {p[2], p[1], p[0]};
    }
    // Pixels in the rectangle that are clearly darker than the white background.
    int Dark(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = std::max(0, y0); y < std::min(H, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(W, x1); ++x) {
                const TRgb c = At(x, y);
                n += c.R + c.G + c.B < 300;
            }
        return n;
    }
};

TRender Render(const Bytes& file, int w = 100, int h = 100, bool expectLoad = true) {
    TMetafile m;
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    const bool loaded = m.LoadFromStream(s);
    EXPECT_EQ(loaded, expectLoad);
    TRender r;
    r.W = w, r.H = h;
    r.Buf.assign(std::size_t(w) * std::size_t(h) * 3, 0x55);
    r.Ok = m.Draw(r.Buf.data(), w, h, w * 3, clWhite);
    return r;
}

TMetafile Load(const Bytes& file) {
    TMetafile m;
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    EXPECT_TRUE(m.LoadFromStream(s));
    return m;
}

// ---- mapping: a red rectangle lands on the expected pixels

struct TMappingCase {
    const char* Name;
    bool Emf;
    std::function<void(TWmf&, TEmf&)> Build; // draws one red rectangle
    int X0, Y0, X1, Y1;                      // pixels it must cover (100 x 100 output)
};
void PrintTo(const TMappingCase& c, std::ostream* os) {
    *os << c.Name;
}

void RedBrushWmf(TWmf& w) {
    w.NullPen().Brush(0, kRed).Select(w.Objects++);
}
void RedBrushEmf(TEmf& e) {
    e.Stock(8).Brush(1, 0, kRed).Select(1);
}

const TMappingCase kMappingCases[] = {
    {"WmfAnisotropicWindow", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {8}).Window(0, 0, 1000, 1000);
         RedBrushWmf(w);
         w.Rect(250, 250, 750, 750);
     },
     25, 25, 75, 75},
    {"WmfWindowOrigin", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {8}).Window(500, 500, 1000, 1000);
         RedBrushWmf(w);
         w.Rect(500, 500, 1000, 1000);
     },
     0, 0, 50, 50},
    {"WmfYUpWindow", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {8}).Window(0, 1000, 1000, -1000);
         RedBrushWmf(w);
         w.Rect(0, 0, 500, 500);
     },
     0, 50, 50, 100},
    {"WmfScaleWindowExt", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {8}).Window(0, 0, 500, 500).Rec(0x0410, {1, 2, 1, 2});
         RedBrushWmf(w);
         w.Rect(500, 0, 1000, 500);
     },
     50, 0, 100, 50},
    {"WmfOffsetWindowOrg", false,
     [](TWmf& w, TEmf&) {
         w.Window(0, 0, 1000, 1000).Rec(0x020F, {0, -500});
         RedBrushWmf(w);
         w.Rect(0, 0, 250, 250);
     },
     50, 0, 75, 25},
    {"WmfIsotropicKeepsAspect", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {7}).Window(0, 0, 2000, 1000);
         RedBrushWmf(w);
         w.Rect(0, 0, 2000, 1000);
     },
     0, 0, 100, 50},
    {"WmfTextModeThenAnisotropic", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0103, {1}).Rec(0x0103, {8}).Window(0, 0, 100, 100);
         RedBrushWmf(w);
         w.Rect(0, 0, 50, 50);
     },
     0, 0, 50, 50},
    {"EmfTextMode", true,
     [](TWmf&, TEmf& e) {
         RedBrushEmf(e);
         e.Rect(10, 20, 30, 40);
     },
     10, 20, 30, 40},
    {"EmfAnisotropicViewport", true,
     [](TWmf&, TEmf& e) {
         e.Rec(17, {8}).Rec(9, {10, 10}).Rec(11, {100, 100}).Rec(12, {0, 0});
         RedBrushEmf(e);
         e.Rect(5, 5, 10, 10);
     },
     50, 50, 100, 100},
    {"EmfScaleViewportExt", true,
     [](TWmf&, TEmf& e) {
         e.Rec(17, {8}).Rec(9, {10, 10}).Rec(11, {50, 50}).Rec(31, {2, 1, 2, 1});
         RedBrushEmf(e);
         e.Rect(0, 0, 5, 5);
     },
     0, 0, 50, 50},
    {"EmfHimetricIsYUp", true,
     [](TWmf&, TEmf& e) {
         e.Rec(17, {3});
         RedBrushEmf(e);
         e.Rect(0, 0, 5000, -5000);
     },
     0, 0, 50, 50},
    {"EmfWorldScale", true,
     [](TWmf&, TEmf& e) {
         Bytes x;
         for (float f : {2.f, 0.f, 0.f, 2.f, 0.f, 0.f}) {
             std::uint32_t v;
             std::memcpy(&v, &f, 4);
             Put32(x, v);
         }
         e.RecRaw(35, x);
         RedBrushEmf(e);
         e.Rect(10, 10, 20, 20);
     },
     20, 20, 40, 40},
    {"EmfModifyWorldLeftMultiply", true,
     [](TWmf&, TEmf& e) {
         Bytes x;
         for (float f : {1.f, 0.f, 0.f, 1.f, 30.f, 0.f}) {
             std::uint32_t v;
             std::memcpy(&v, &f, 4);
             Put32(x, v);
         }
         Put32(x, 2);
         e.RecRaw(36, x);
         RedBrushEmf(e);
         e.Rect(0, 0, 10, 10);
     },
     30, 0, 40, 10},
    {"EmfNanWorldTransformIgnored", true,
     [](TWmf&, TEmf& e) {
         Bytes x;
         for (float f : {NAN, 0.f, 0.f, 1.f, 0.f, 0.f}) {
             std::uint32_t v;
             std::memcpy(&v, &f, 4);
             Put32(x, v);
         }
         e.RecRaw(35, x);
         RedBrushEmf(e);
         e.Rect(10, 10, 20, 20);
     },
     10, 10, 20, 20},
};

class MappingTest : public testing::TestWithParam<TMappingCase> {};

TEST_P(MappingTest, RectangleLandsOnItsPixels) {
    const auto& c = GetParam();
    TWmf w;
    TEmf e;
    c.Build(w, e);
    const TRender r = Render(c.Emf ? e.File() : w.File());
    EXPECT_TRUE(r.Ok);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const bool inside = x >= c.X0 + 1 && x < c.X1 - 1 && y >= c.Y0 + 1 && y < c.Y1 - 1;
            const bool outside = x < c.X0 - 1 || x > c.X1 || y < c.Y0 - 1 || y > c.Y1;
            if (inside) {
                ASSERT_EQ(r.At(x, y), kRgbRed) << x << "," << y;
            }
            if (outside) {
                ASSERT_EQ(r.At(x, y), kRgbWhite) << x << "," << y;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Metafile, MappingTest, testing::ValuesIn(kMappingCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- picture sizes

struct TSizeCase {
    const char* Name;
    Bytes File;
    int Width, Height, MMWidth;
    bool Enhanced;
};
void PrintTo(const TSizeCase& c, std::ostream* os) {
    *os << c.Name;
}

// The header's reference device turned into a 600 dpi printer (23.6 pixels per millimetre).
Bytes PrinterReferenced(Bytes emf) {
    auto put = [&emf](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) emf[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    put(72, 4960), put(76, 7014), put(80, 210), put(84, 297);
    return emf;
}

std::vector<TSizeCase> SizeCases() {
    TWmf rect;
    rect.NullPen().Rect(10, 20, 110, 70);
    TWmf window;
    window.Rec(0x0103, {8}).Window(0, 0, 2880, 1440).Rect(0, 0, 10, 10);
    TEmf emf;
    emf.Rect(0, 0, 1, 1);
    return {
        {"PlaceableInch", rect.File(true, 0, 0, 1440, 720, 1440), 96, 48, 2540, false},
        {"PlaceableNegativeBounds", rect.File(true, -100, -100, 100, 100, 96), 200, 200, 5292, false},
        {"PlaceableZeroInchMeansTwips", rect.File(true, 0, 0, 2880, 1440, 0), 192, 96, 5080, false},
        {"PlaceableLarge", rect.File(true, 0, 0, 20000, 10000, 96), 20000, 10000, 529167, false},
        {"WindowExtentInTwips", window.File(false), 192, 96, 5080, false},
        {"DrawnBoundsWithoutWindow", rect.File(false), 100, 50, 2646, false},
        // An EMF's natural size is its frame (hundredths of a millimetre) at 96 dpi, whatever its
        // reference device: 50.8 x 25.4 mm give 192 x 96.
        {"EmfFrameAt96Dpi", emf.File(5080, 2540), 192, 96, 5080, true},
        {"EmfFrameOfAPrinterReferencedPicture", PrinterReferenced(emf.File(2540, 2540)), 96, 96, 2540, true},
    };
}

class SizeTest : public testing::TestWithParam<TSizeCase> {};

TEST_P(SizeTest, ReportsPixelsAndMillimetres) {
    const auto& c = GetParam();
    const TMetafile m = Load(c.File);
    EXPECT_EQ(m.Width(), c.Width);
    EXPECT_EQ(m.Height(), c.Height);
    EXPECT_EQ(m.MMWidth(), c.MMWidth);
    EXPECT_EQ(m.Enhanced(), c.Enhanced);
}

INSTANTIATE_TEST_SUITE_P(Metafile, SizeTest, testing::ValuesIn(SizeCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- objects: stock objects, the object table, selection and deletion

struct TObjectCase {
    const char* Name;
    bool Emf;
    std::function<void(TWmf&, TEmf&)> Build; // fills the rectangle 20,20 - 80,80
    TRgb Centre;
};
void PrintTo(const TObjectCase& c, std::ostream* os) {
    *os << c.Name;
}

const TObjectCase kObjectCases[] = {
    {"StockBlackBrush", true, [](TWmf&, TEmf& e) { e.Stock(8).Stock(4).Rect(20, 20, 80, 80); }, kRgbBlack},
    {"StockLightGreyBrush",
     true,
     [](TWmf&, TEmf& e) { e.Stock(8).Stock(1).Rect(20, 20, 80, 80); },
     {192, 192, 192}},
    {"StockNullBrush", true,
     [](TWmf&, TEmf& e) { e.Stock(4).Rect(0, 0, 100, 100).Stock(5).Rect(20, 20, 80, 80); }, kRgbBlack},
    {"EmfDeletedSelectionStaysInUse", true,
     [](TWmf&, TEmf& e) { e.Stock(8).Brush(1, 0, kRed).Select(1).Rec(40, {1}).Rect(20, 20, 80, 80); },
     kRgbRed},
    {"EmfSelectingDeletedHandleIsIgnored", true,
     [](TWmf&, TEmf& e) {
         e.Stock(8)
             .Brush(1, 0, kRed)
             .Brush(2, 0, kBlue)
             .Select(1)
             .Rec(40, {2})
             .Select(2)
             .Rect(20, 20, 80, 80);
     },
     kRgbRed},
    // Writers put objects in slot 0 too: a brush there fills, and deleting it deletes it.
    {"EmfHandleZeroIsASlot", true,
     [](TWmf&, TEmf& e) { e.Stock(8).Brush(0, 0, kRed).Select(0).Rect(20, 20, 80, 80); }, kRgbRed},
    {"EmfHandleZeroDeletedIsGone", true,
     [](TWmf&, TEmf& e) {
         e.Stock(8)
             .Brush(1, 0, kRed)
             .Brush(0, 0, kBlue)
             .Select(1)
             .Rec(40, {0})
             .Select(0)
             .Rect(20, 20, 80, 80);
     },
     kRgbRed},
    {"EmfHandleOutOfRangeIgnored", true,
     [](TWmf&, TEmf& e) {
         e.Stock(8)
             .Brush(1, 0, kRed)
             .Select(1)
             .Select(70000)
             .Brush(70000, 0, kBlue)
             .Select(70000)
             .Rect(20, 20, 80, 80);
     },
     kRgbRed},
    {"WmfLowestFreeSlotReused",
     false,
     [](TWmf& w, TEmf&) {
         // slot 0 pen, 1 red, 2 blue; deleting 1 lets green take slot 1
         w.NullPen()
             .Brush(0, kRed)
             .Brush(0, kBlue)
             .Rec(0x01F0, {1})
             .Brush(0, kGreen)
             .Select(1)
             .Rect(200, 200, 800, 800);
     },
     {0, 255, 0}},
    {"WmfDeletedSelectionStaysInUse", false,
     [](TWmf& w, TEmf&) { w.NullPen().Brush(0, kRed).Select(1).Rec(0x01F0, {1}).Rect(200, 200, 800, 800); },
     kRgbRed},
    {"WmfIndexOutOfRangeIgnored", false,
     [](TWmf& w, TEmf&) { w.NullPen().Brush(0, kRed).Select(1).Select(9999).Rect(200, 200, 800, 800); },
     kRgbRed},
    {"WmfDefaultBrushIsWhite", false, [](TWmf& w, TEmf&) { w.NullPen().Rect(200, 200, 800, 800); },
     kRgbWhite},
    {"EmfSaveRestoreBrush", true,
     [](TWmf&, TEmf& e) {
         e.Stock(8)
             .Brush(1, 0, kRed)
             .Brush(2, 0, kBlue)
             .Select(1)
             .Rec(33, {})
             .Select(2)
             .Rect(0, 0, 10, 10)
             .Rec(34, {-1})
             .Rect(20, 20, 80, 80);
     },
     kRgbRed},
    {"EmfRestoreBadLevelIgnored", true,
     [](TWmf&, TEmf& e) {
         e.Stock(8)
             .Brush(1, 0, kRed)
             .Brush(2, 0, kBlue)
             .Select(1)
             .Rec(33, {})
             .Select(2)
             .Rec(34, {-5})
             .Rec(34, {7})
             .Rect(20, 20, 80, 80);
     },
     kRgbBlue},
    {"WmfSaveRestoreMapping", false,
     [](TWmf& w, TEmf&) {
         RedBrushWmf(w);
         w.Rec(0x001E, {}).Window(5000, 5000, 10, 10).Rec(0x0127, {-1}).Rect(200, 200, 800, 800);
     },
     kRgbRed},
    {"EmfPaletteIndexColour", true,
     [](TWmf&, TEmf& e) {
         Bytes p;
         Put32(p, 3);
         Put16(p, 0x300);
         Put16(p, 2);
         for (std::uint32_t c : {kBlue, kRed}) Put32(p, c);
         e.RecRaw(49, p).Rec(48, {3}).Stock(8).Brush(1, 0, 0x01000001).Select(1).Rect(20, 20, 80, 80);
     },
     kRgbRed},
};

class ObjectTest : public testing::TestWithParam<TObjectCase> {};

TEST_P(ObjectTest, CentreColour) {
    const auto& c = GetParam();
    TWmf w;
    TEmf e;
    c.Build(w, e);
    const TRender r = Render(c.Emf ? e.File() : w.File());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.At(50, 50), c.Centre);
}

INSTANTIATE_TEST_SUITE_P(Metafile, ObjectTest, testing::ValuesIn(kObjectCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- clipping and fill modes: a full-picture red fill after the case's clip or shape

struct TRegionCase {
    const char* Name;
    std::function<void(TEmf&)> Build;
    std::vector<std::pair<std::pair<int, int>, TRgb>> Probes;
};
void PrintTo(const TRegionCase& c, std::ostream* os) {
    *os << c.Name;
}

Bytes RgnData(std::vector<std::array<int, 4>> rects) {
    Bytes b;
    for (std::uint32_t v : {32u, 1u, std::uint32_t(rects.size()), std::uint32_t(16 * rects.size())})
        Put32(b, v);
    for (int v : {0, 0, 100, 100}) Put32(b, std::uint32_t(v));
    for (const auto& r : rects)
        for (int v : r) Put32(b, std::uint32_t(v));
    return b;
}

Bytes ExtSelectClipRgn(std::uint32_t mode, const Bytes& rgn) {
    Bytes b;
    Put32(b, std::uint32_t(rgn.size()));
    Put32(b, mode);
    b.insert(b.end(), rgn.begin(), rgn.end());
    return b;
}

void FullRed(TEmf& e) {
    RedBrushEmf(e);
    e.Rect(0, 0, 100, 100);
}

// Two nested squares, both clockwise: the inner one is a hole under ALTERNATE only.
void NestedSquares(TEmf& e) {
    Bytes p;
    for (int v : {0, 0, 100, 100}) Put32(p, std::uint32_t(v));
    Put32(p, 2);
    Put32(p, 8);
    Put32(p, 4);
    Put32(p, 4);
    for (int v : {10, 10, 90, 10, 90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70}) Put16(p, std::uint16_t(v));
    RedBrushEmf(e);
    e.RecRaw(91, p);
}

const TRegionCase kRegionCases[] = {
    {"IntersectClipRect",
     [](TEmf& e) {
         e.Rec(30, {0, 0, 50, 100});
         FullRed(e);
     },
     {{{25, 50}, kRgbRed}, {{75, 50}, kRgbWhite}}},
    {"ExcludeClipRect",
     [](TEmf& e) {
         e.Rec(29, {25, 25, 75, 75});
         FullRed(e);
     },
     {{{50, 50}, kRgbWhite}, {{10, 10}, kRgbRed}}},
    {"ClipRegionReset",
     [](TEmf& e) {
         e.Rec(30, {0, 0, 10, 10}).RecRaw(75, ExtSelectClipRgn(5, {}));
         FullRed(e);
     },
     {{{50, 50}, kRgbRed}}},
    {"ClipRegionCopy",
     [](TEmf& e) {
         e.RecRaw(75, ExtSelectClipRgn(5, RgnData({{60, 60, 100, 100}})));
         FullRed(e);
     },
     {{{80, 80}, kRgbRed}, {{20, 20}, kRgbWhite}}},
    {"ClipRegionUnionOfRects",
     [](TEmf& e) {
         e.RecRaw(75, ExtSelectClipRgn(5, RgnData({{0, 0, 20, 20}, {80, 80, 100, 100}})));
         FullRed(e);
     },
     {{{10, 10}, kRgbRed}, {{90, 90}, kRgbRed}, {{50, 50}, kRgbWhite}}},
    {"ClipRestoredBySaveDC",
     [](TEmf& e) {
         e.Rec(33, {}).Rec(30, {0, 0, 10, 10}).Rec(34, {-1});
         FullRed(e);
     },
     {{{50, 50}, kRgbRed}}},
    {"ClipPath",
     [](TEmf& e) {
         e.Rec(59, {}).Rect(0, 0, 30, 30).Rec(60, {}).Rec(67, {5});
         FullRed(e);
     },
     {{{15, 15}, kRgbRed}, {{50, 50}, kRgbWhite}}},
    {"EmptyClipRectHidesAll",
     [](TEmf& e) {
         e.Rec(30, {40, 40, 40, 40});
         FullRed(e);
     },
     {{{40, 40}, kRgbWhite}, {{50, 50}, kRgbWhite}}},
    {"FillModeAlternate",
     [](TEmf& e) {
         e.Rec(19, {1});
         NestedSquares(e);
     },
     {{{20, 20}, kRgbRed}, {{50, 50}, kRgbWhite}}},
    {"FillModeWinding",
     [](TEmf& e) {
         e.Rec(19, {2});
         NestedSquares(e);
     },
     {{{20, 20}, kRgbRed}, {{50, 50}, kRgbRed}}},
    {"PathFill",
     [](TEmf& e) {
         RedBrushEmf(e);
         e.Rec(59, {})
             .Rec(27, {10, 10})
             .Rec(54, {90, 10})
             .Rec(54, {90, 90})
             .Rec(61, {})
             .Rec(60, {})
             .Rec(62, {0, 0, 100, 100});
     },
     {{{80, 20}, kRgbRed}, {{20, 80}, kRgbWhite}}},
    {"PathStrokeOnly",
     [](TEmf& e) {
         RedBrushEmf(e);
         e.Rec(59, {}).Rect(10, 10, 90, 90).Rec(60, {}).Rec(64, {0, 0, 100, 100});
     },
     {{{50, 50}, kRgbWhite}}},
};

class RegionTest : public testing::TestWithParam<TRegionCase> {};

TEST_P(RegionTest, Probes) {
    const auto& c = GetParam();
    TEmf e;
    c.Build(e);
    const TRender r = Render(e.File());
    EXPECT_TRUE(r.Ok);
    for (const auto& [p, colour] : c.Probes)
        EXPECT_EQ(r.At(p.first, p.second), colour) << p.first << "," << p.second;
}

INSTANTIATE_TEST_SUITE_P(Metafile, RegionTest, testing::ValuesIn(kRegionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- bitmaps: a 2 x 2 DIB (top row red, green; bottom row blue, yellow) stretched over the picture

enum class TDibKind { Bits1, Bits4, Bits8, Rle8, Bits16, Bits24, Bits32, TopDown24 };

Bytes MakeDib(TDibKind kind) {
    const std::uint32_t colours[4] = {kRed, kGreen, kBlue,
                                      kYellow}; // top-left, top-right, bottom-left, bottom-right
    int bits = 24;
    std::uint32_t compression = 0;
    switch (kind) {
    case TDibKind::Bits1:
        bits = 1;
        break;
    case TDibKind::Bits4:
        bits = 4;
        break;
    case TDibKind::Bits8:
        bits = 8;
        break;
    case TDibKind::Rle8:
        bits = 8, compression = 1;
        break;
    case TDibKind::Bits16:
        bits = 16;
        break;
    case TDibKind::Bits32:
        bits = 32;
        break;
    default:
        break;
    }
    const bool topDown = kind == TDibKind::TopDown24;
    Bytes b;
    for (std::uint32_t v : {40u, 2u, topDown ? std::uint32_t(-2) : 2u}) Put32(b, v);
    Put16(b, 1);
    Put16(b, std::uint16_t(bits));
    Put32(b, compression);
    for (int i = 0; i < 5; ++i) Put32(b, 0);
    // One bit can only hold two colours: a checkerboard of red and blue.
    const std::uint32_t palette1[2] = {kRed, kBlue};
    if (bits == 1)
        for (auto c : palette1) Put32(b, ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
    else if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i) {
            const std::uint32_t c = i < 4 ? colours[i] : 0;
            Put32(b, ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
        }
    auto rgb = [](std::uint32_t c, int k) { return std::uint8_t(c >> (8 * k)); };
    if (compression == 1) {
        for (int row : {1, 0}) { // bottom row first
            for (int x = 0; x < 2; ++x) b.push_back(1), b.push_back(std::uint8_t(row * 2 + x));
            b.push_back(0), b.push_back(0);
        }
        b.push_back(0), b.push_back(1);
        return b;
    }
    for (int fileRow = 0; fileRow < 2; ++fileRow) {
        const int row = topDown ? fileRow : 1 - fileRow;
        Bytes line;
        for (int x = 0; x < 2; ++x) {
            const int i = row * 2 + x;
            const std::uint32_t c = colours[i];
            switch (bits) {
            case 1:
                if (x == 0) line.push_back(0);
                break;
            case 4:
                if (x == 0) line.push_back(std::uint8_t((row * 2) << 4 | (row * 2 + 1)));
                break;
            case 8:
                line.push_back(std::uint8_t(i));
                break;
            case 16:
                Put16(line, ((rgb(c, 0) >> 3) << 10) | ((rgb(c, 1) >> 3) << 5) | (rgb(c, 2) >> 3));
                break;
            default:
                line.push_back(rgb(c, 2)), line.push_back(rgb(c, 1)), line.push_back(rgb(c, 0));
                if (bits == 32) line.push_back(0);
            }
        }
        if (bits == 1) line[0] = row ? 0x80 : 0x40; // top row: red, blue; bottom row: blue, red
        while (line.size() % 4) line.push_back(0);
        b.insert(b.end(), line.begin(), line.end());
    }
    return b;
}

Bytes StretchDIBits(const Bytes& dib, std::uint32_t rop, int x, int y, int w, int h, int srcW = 2,
                    int srcH = 2) {
    // The header and colour table go in the "bmi" block, the rest in "bits".
    std::size_t info = 40;
    const std::uint16_t bits = std::uint16_t(dib[14] | (dib[15] << 8));
    if (bits <= 8) info += std::size_t(4) << bits;
    Bytes b;
    for (int v : {0, 0, 100, 100, x, y, 0, 0, srcW, srcH}) Put32(b, std::uint32_t(v));
    for (std::size_t v : {std::size_t(80), info, 80 + info, dib.size() - info, std::size_t(0)})
        Put32(b, std::uint32_t(v));
    Put32(b, rop);
    Put32(b, std::uint32_t(w));
    Put32(b, std::uint32_t(h));
    b.insert(b.end(), dib.begin(), dib.end());
    return b;
}

struct TDibCase {
    const char* Name;
    TDibKind Kind;
    TRgb TopLeft, TopRight, BottomLeft, BottomRight;
};
void PrintTo(const TDibCase& c, std::ostream* os) {
    *os << c.Name;
}

constexpr TRgb kRgbGreen{0, 255, 0}, kRgbYellow{255, 255, 0};
const TDibCase kDibCases[] = {
    {"OneBitPalette", TDibKind::Bits1, kRgbRed, kRgbBlue, kRgbBlue, kRgbRed},
    {"FourBitPalette", TDibKind::Bits4, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"EightBitPalette", TDibKind::Bits8, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"EightBitRle", TDibKind::Rle8, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"SixteenBit555", TDibKind::Bits16, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"TwentyFourBit", TDibKind::Bits24, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"ThirtyTwoBit", TDibKind::Bits32, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
    {"TopDown", TDibKind::TopDown24, kRgbRed, kRgbGreen, kRgbBlue, kRgbYellow},
};

class DibTest : public testing::TestWithParam<TDibCase> {};

TEST_P(DibTest, EmfStretchDIBitsQuadrants) {
    const auto& c = GetParam();
    TEmf e;
    e.RecRaw(81, StretchDIBits(MakeDib(c.Kind), 0xCC0020, 0, 0, 100, 100));
    const TRender r = Render(e.File());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.At(20, 20), c.TopLeft);
    EXPECT_EQ(r.At(80, 20), c.TopRight);
    EXPECT_EQ(r.At(20, 80), c.BottomLeft);
    EXPECT_EQ(r.At(80, 80), c.BottomRight);
}

TEST_P(DibTest, WmfStretchDibQuadrants) {
    const auto& c = GetParam();
    Bytes p;
    for (int v : {0x0020, 0x00CC, 0, 2, 2, 0, 0, 1000, 1000, 0, 0}) Put16(p, std::uint16_t(v));
    const Bytes dib = MakeDib(c.Kind);
    p.insert(p.end(), dib.begin(), dib.end());
    TWmf w;
    w.RecRaw(0x0F43, p);
    const TRender r = Render(w.File());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.At(20, 20), c.TopLeft);
    EXPECT_EQ(r.At(80, 80), c.BottomRight);
}

INSTANTIATE_TEST_SUITE_P(Metafile, DibTest, testing::ValuesIn(kDibCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- raster operations over a red picture: WMF StretchDIB with a 1 x 1 source, or PatBlt

struct TRopCase {
    const char* Name;
    std::uint32_t Rop;
    std::uint32_t Source;     // colour of the 1 x 1 source bitmap (unused by pattern operations)
    std::uint32_t Background; // what lies under the blit
    TRgb Result;
};
void PrintTo(const TRopCase& c, std::ostream* os) {
    *os << c.Name;
}

const TRopCase kRopCases[] = {
    {"SrcCopy", 0xCC0020, kGreen, kRed, {0, 255, 0}},
    {"SrcPaintIsOr", 0xEE0086, kBlue, kRed, {255, 0, 255}},
    {"SrcAndIsAnd", 0x8800C6, kGreen, kYellow, {0, 255, 0}},
    {"SrcInvertIsXor", 0x660046, Ref(255, 255, 255), kRed, {0, 255, 255}},
    {"NotSrcCopy", 0x330008, kRed, kBlue, {0, 255, 255}},
    {"MergeCopyIsSourceAndPattern", 0xC000CA, Ref(255, 0, 255), kRed, {0, 0, 255}},
    {"PatCopy", 0xF00021, 0, kRed, {0, 0, 255}},
    {"PatInvertIsXor", 0x5A0049, 0, kRed, {255, 0, 255}},
    {"DstInvert", 0x550009, 0, kRed, {0, 255, 255}},
    {"Blackness", 0x000042, 0, kRed, {0, 0, 0}},
    {"Whiteness", 0xFF0062, 0, kRed, {255, 255, 255}},
};

class RopTest : public testing::TestWithParam<TRopCase> {};

TEST_P(RopTest, ResultColour) {
    const auto& c = GetParam();
    TWmf w;
    w.NullPen().Brush(0, c.Background).Select(w.Objects++).Rect(0, 0, 1000, 1000);
    w.Brush(0, kBlue).Select(w.Objects++); // the pattern
    const std::uint8_t idx = std::uint8_t(c.Rop >> 16);
    const bool usesSource = ((idx >> 2) ^ idx) & 0x33;
    if (usesSource) {
        Bytes p;
        for (int v : {int(c.Rop & 0xFFFF), int(c.Rop >> 16), 0, 1, 1, 0, 0, 600, 600, 200, 200})
            Put16(p, std::uint16_t(v));
        for (std::uint32_t v : {40u, 1u, 1u}) Put32(p, v);
        Put16(p, 1);
        Put16(p, 24);
        for (int i = 0; i < 6; ++i) Put32(p, 0);
        for (std::uint8_t v : {std::uint8_t(c.Source >> 16), std::uint8_t(c.Source >> 8),
                               std::uint8_t(c.Source), std::uint8_t(0)})
            p.push_back(v);
        w.RecRaw(0x0F43, p);
    } else {
        w.Rec(0x061D, {Lo(c.Rop), Hi(c.Rop), 600, 600, 200, 200});
    }
    const TRender r = Render(w.File());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.At(50, 50), c.Result);
    EXPECT_EQ(r.At(5, 5),
              (TRgb{int(c.Background & 0xFF), int((c.Background >> 8) & 0xFF), int(c.Background >> 16)}));
}

INSTANTIATE_TEST_SUITE_P(Metafile, RopTest, testing::ValuesIn(kRopCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- brushes and pens

TEST(MetafileBrushTest, HatchedBrushMixesHatchAndBackground) {
    TEmf e;
    e.Stock(8).Rec(25, {int(kBlue)}).Brush(1, 2, kRed, 4).Select(1).Rect(0, 0, 100, 100);
    const TRender r = Render(e.File());
    int red = 0, blue = 0;
    for (int y = 10; y < 90; ++y)
        for (int x = 10; x < 90; ++x) red += r.At(x, y) == kRgbRed, blue += r.At(x, y) == kRgbBlue;
    EXPECT_GT(red, 400);   // cross hatch lines, one in eight rows and columns
    EXPECT_GT(blue, 3000); // the opaque background between them
}

// A monochrome pattern brush, its bitmap stored without a colour table as writers do: 0 bits in the
// text colour, 1 bits in the background colour, never a solid fill.
TEST(MetafileBrushTest, MonochromePatternBrushPaintsItsPattern) {
    Bytes body;
    for (std::uint32_t v : {1u, 2u, 32u, 40u, 72u, 32u}) Put32(body, v); // handle, usage, bmi at 32, bits
    for (std::uint32_t v : {40u, 8u, 8u}) Put32(body, v);                // 8 x 8
    Put16(body, 1);
    Put16(body, 1);
    for (int i = 0; i < 6; ++i) Put32(body, 0);
    for (int row = 0; row < 8; ++row) Put32(body, row % 2 ? 0x55u : 0xAAu); // a checkerboard
    TEmf e;
    e.Stock(8).Rec(24, {int(kBlue)}).Rec(25, {int(kRed)}).RecRaw(93, body).Select(1).Rect(0, 0, 100, 100);
    const TRender r = Render(e.File());
    int red = 0, blue = 0;
    for (int y = 10; y < 90; ++y)
        for (int x = 10; x < 90; ++x) red += r.At(x, y) == kRgbRed, blue += r.At(x, y) == kRgbBlue;
    EXPECT_GT(red, 2800);
    EXPECT_GT(blue, 2800);
}

TEST(MetafileBrushTest, DashedPenLeavesGaps) {
    TEmf e;
    e.Rec(38, {1, 1, 0, 0, 0}).Select(1).Rec(27, {0, 50}).Rec(54, {100, 50});
    const TRender r = Render(e.File());
    int dark = 0, light = 0;
    // The line runs along a pixel edge, so it shades the rows on both sides.
    for (int x = 0; x < 100; ++x) (r.At(x, 49).R + r.At(x, 50).R < 400 ? dark : light)++;
    EXPECT_GT(dark, 30);
    EXPECT_GT(light, 10);
}

// ---- text

struct TTextCase {
    const char* Name;
    std::uint32_t Align;
    int Escapement;
    std::array<int, 4> Inked, Clear; // rectangles (x0, y0, x1, y1) in a 200 x 200 picture
};
void PrintTo(const TTextCase& c, std::ostream* os) {
    *os << c.Name;
}

const TTextCase kTextCases[] = {
    {"LeftBaseline", 24, 0, {100, 60, 200, 100}, {0, 0, 96, 200}},
    {"RightBaseline", 26, 0, {0, 60, 100, 100}, {104, 0, 200, 200}},
    {"CenterBaseline", 30, 0, {40, 60, 100, 100}, {0, 0, 20, 200}},
    {"TopAlign", 0, 0, {100, 100, 200, 140}, {0, 0, 200, 96}},
    {"BottomAlign", 8, 0, {100, 60, 200, 100}, {0, 104, 200, 200}},
    {"VerticalEscapement", 24, 900, {60, 0, 100, 100}, {104, 0, 200, 200}},
};

Bytes ExtTextOutW(int x, int y, const std::u16string& text, std::uint32_t options = 0) {
    Bytes b;
    for (int v : {0, 0, 200, 200}) Put32(b, std::uint32_t(v));
    Put32(b, 1); // GM_COMPATIBLE
    Put32(b, 0), Put32(b, 0);
    Put32(b, std::uint32_t(x)), Put32(b, std::uint32_t(y));
    Put32(b, std::uint32_t(text.size()));
    Put32(b, 76); // the string follows the fixed part
    Put32(b, options);
    for (int v : {0, 0, 200, 200}) Put32(b, std::uint32_t(v));
    Put32(b, 0); // no advances
    for (char16_t c : text) Put16(b, c);
    while (b.size() % 4) b.push_back(0);
    return b;
}

Bytes FontW(int ih, int height, int escapement) {
    Bytes b;
    for (int v : {ih, height, 0, escapement, escapement, 400}) Put32(b, std::uint32_t(v));
    for (int i = 0; i < 8; ++i) b.push_back(0);
    const std::u16string face = u"Arial";
    for (int i = 0; i < 32; ++i) Put16(b, i < int(face.size()) ? face[std::size_t(i)] : 0);
    return b;
}

class TextTest : public testing::TestWithParam<TTextCase> {};

TEST_P(TextTest, InkFallsOnTheAlignedSide) {
    const auto& c = GetParam();
    TEmf e;
    e.RecRaw(82, FontW(1, -40, c.Escapement)).Select(1).Rec(18, {1}).Rec(22, {int(c.Align)});
    e.RecRaw(84, ExtTextOutW(100, 100, u"HHH"));
    const TRender r = Render(e.File(20000, 20000), 200, 200);
    EXPECT_TRUE(r.Ok);
    EXPECT_GT(r.Dark(c.Inked[0], c.Inked[1], c.Inked[2], c.Inked[3]), 100);
    EXPECT_EQ(r.Dark(c.Clear[0], c.Clear[1], c.Clear[2], c.Clear[3]), 0);
}

INSTANTIATE_TEST_SUITE_P(Metafile, TextTest, testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(MetafileTextTest, OpaqueBackgroundFillsTheTextBox) {
    TEmf e;
    e.RecRaw(82, FontW(1, -40, 0)).Select(1).Rec(18, {2}).Rec(25, {int(kBlue)}).Rec(22, {24});
    e.RecRaw(84, ExtTextOutW(20, 100, u"HHH"));
    const TRender r = Render(e.File(20000, 20000), 200, 200);
    int blue = 0;
    for (int x = 20; x < 120; ++x) blue += r.At(x, 95) == kRgbBlue || r.At(x, 70) == kRgbBlue;
    EXPECT_GT(blue, 20);
}

TEST(MetafileTextTest, WmfTextOutDrawsInTextColour) {
    TWmf w;
    Bytes font;
    for (int v : {-200, 0, 0, 0, 700}) Put16(font, std::uint16_t(v));
    for (int i = 0; i < 8; ++i) font.push_back(0);
    for (char ch : std::string("Times New Roman")) font.push_back(std::uint8_t(ch));
    font.push_back(0);
    w.RecRaw(0x02FB, font).Select(0).Rec(0x0102, {1}).Rec(0x0209, {Lo(kRed), Hi(kRed)});
    Bytes text;
    Put16(text, 4);
    for (char ch : std::string("WWWW")) text.push_back(std::uint8_t(ch));
    Put16(text, 300), Put16(text, 100); // y, x
    w.RecRaw(0x0521, text);
    const TRender r = Render(w.File());
    int red = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) red += r.At(x, y).R > 200 && r.At(x, y).G < 60;
    EXPECT_GT(red, 100);
}

// ---- every drawing record draws: a black shape through the centre of a white picture

struct TDrawCase {
    const char* Name;
    bool Emf;
    std::function<void(TWmf&, TEmf&)> Build; // after a black brush and a 9-pixel black pen
    int X, Y;                                // a pixel the record must ink
};
void PrintTo(const TDrawCase& c, std::ostream* os) {
    *os << c.Name;
}

// A 16-bit point as EMF's 16-bit records pack it into one field.
std::int32_t P16(int x, int y) {
    return std::int32_t(std::uint32_t(std::uint16_t(x)) | (std::uint32_t(std::uint16_t(y)) << 16));
}
std::int32_t FloatBits(float f) {
    std::int32_t v;
    std::memcpy(&v, &f, 4);
    return v;
}
// Bounds, then the fields of the record.
std::vector<std::int32_t> Bounded(std::vector<std::int32_t> fields) {
    fields.insert(fields.begin(), {0, 0, 100, 100});
    return fields;
}
Bytes Concat(std::vector<std::int32_t> head, const Bytes& tail) {
    Bytes b;
    for (auto v : head) Put32(b, std::uint32_t(v));
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}
// A blit without a source: destination 20,20 - 80,80 painted with the brush (PATCOPY).
std::vector<std::int32_t> PatBlit(bool stretch) {
    std::vector<std::int32_t> f = Bounded({20, 20, 60, 60, 0x00F00021, 0, 0});
    for (float v : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f}) f.push_back(FloatBits(v));
    for (int v : {0, 0, 0, 0, 0, 0}) f.push_back(v); // background, usage, no bitmap
    if (stretch) f.insert(f.end(), {60, 60});
    return f;
}
constexpr std::int32_t kMoveLine = 6 | (2 << 8); // PT_MOVETO, PT_LINETO
constexpr std::int32_t kStockBlackBrush = std::int32_t(0x80000004u);
const Bytes kCentreRgn = RgnData({{20, 20, 80, 80}});
const std::vector<std::int16_t> kWmfEllipseFrame = {800, 800, 200, 200}; // bottom, right, top, left
const std::vector<std::int16_t> kWmfFullArc = {500, 800, 500, 800, 800, 800, 200, 200};
// Region 2 (after the brush and the pen): the box 20,20 - 80,80 without scans.
void WmfRegion(TWmf& w) {
    w.Rec(0x06FF, {0, 6, 0, 0, 0, 0, 0, 200, 200, 800, 800});
}

const TDrawCase kDrawCases[] = {
    {"EmfPolyBezier", true,
     [](TWmf&, TEmf& e) {
         e.Rec(2, Bounded({4, 0, 50, 33, 50, 66, 50, 100, 50}));
     },
     50, 50},
    {"EmfPolygon", true,
     [](TWmf&, TEmf& e) {
         e.Rec(3, Bounded({4, 20, 20, 80, 20, 80, 80, 20, 80}));
     },
     50, 50},
    {"EmfPolyline", true,
     [](TWmf&, TEmf& e) {
         e.Rec(4, Bounded({2, 0, 50, 100, 50}));
     },
     50, 50},
    {"EmfPolyBezierTo", true,
     [](TWmf&, TEmf& e) {
         e.Rec(27, {0, 50}).Rec(5, Bounded({3, 33, 50, 66, 50, 100, 50}));
     },
     50, 50},
    {"EmfPolylineTo", true,
     [](TWmf&, TEmf& e) {
         e.Rec(27, {0, 50}).Rec(6, Bounded({1, 100, 50}));
     },
     50, 50},
    {"EmfPolyPolyline", true,
     [](TWmf&, TEmf& e) {
         e.Rec(7, Bounded({1, 2, 2, 0, 50, 100, 50}));
     },
     50, 50},
    {"EmfPolyPolygon", true,
     [](TWmf&, TEmf& e) {
         e.Rec(8, Bounded({1, 4, 4, 20, 20, 80, 20, 80, 80, 20, 80}));
     },
     50, 50},
    {"EmfSetPixelV", true,
     [](TWmf&, TEmf& e) {
         e.Rec(15, {50, 50, 0});
     },
     50, 50},
    {"EmfAngleArc", true,
     [](TWmf&, TEmf& e) {
         e.Rec(41, {50, 50, 30, 0, FloatBits(360)});
     },
     50, 20},
    {"EmfEllipse", true,
     [](TWmf&, TEmf& e) {
         e.Rec(42, {20, 20, 80, 80});
     },
     50, 50},
    {"EmfRoundRect", true,
     [](TWmf&, TEmf& e) {
         e.Rec(44, {20, 20, 80, 80, 10, 10});
     },
     50, 50},
    {"EmfArc", true,
     [](TWmf&, TEmf& e) {
         e.Rec(45, {20, 20, 80, 80, 80, 50, 80, 50});
     },
     50, 20},
    {"EmfChord", true,
     [](TWmf&, TEmf& e) {
         e.Rec(46, {20, 20, 80, 80, 80, 50, 80, 50});
     },
     50, 50},
    {"EmfPie", true,
     [](TWmf&, TEmf& e) {
         e.Rec(47, {20, 20, 80, 80, 80, 50, 80, 50});
     },
     50, 50},
    {"EmfArcTo", true,
     [](TWmf&, TEmf& e) {
         e.Rec(55, {20, 20, 80, 80, 80, 50, 80, 50});
     },
     50, 20},
    {"EmfPolyDraw", true,
     [](TWmf&, TEmf& e) {
         e.Rec(56, Bounded({2, 0, 50, 100, 50, kMoveLine}));
     },
     50, 50},
    {"EmfFillRgn", true,
     [](TWmf&, TEmf& e) {
         e.RecRaw(71, Concat(Bounded({std::int32_t(kCentreRgn.size()), kStockBlackBrush}), kCentreRgn));
     },
     50, 50},
    {"EmfInvertRgn", true,
     [](TWmf&, TEmf& e) { e.RecRaw(73, Concat(Bounded({std::int32_t(kCentreRgn.size())}), kCentreRgn)); }, 50,
     50},
    {"EmfPaintRgn", true,
     [](TWmf&, TEmf& e) { e.RecRaw(74, Concat(Bounded({std::int32_t(kCentreRgn.size())}), kCentreRgn)); }, 50,
     50},
    {"EmfBitBltPattern", true, [](TWmf&, TEmf& e) { e.Rec(76, PatBlit(false)); }, 50, 50},
    {"EmfStretchBltPattern", true, [](TWmf&, TEmf& e) { e.Rec(77, PatBlit(true)); }, 50, 50},
    {"EmfMaskBltPattern", true, [](TWmf&, TEmf& e) { e.Rec(78, PatBlit(false)); }, 50, 50},
    {"EmfPolyBezier16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(85, Bounded({4, P16(0, 50), P16(33, 50), P16(66, 50), P16(100, 50)}));
     },
     50, 50},
    {"EmfPolygon16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(86, Bounded({4, P16(20, 20), P16(80, 20), P16(80, 80), P16(20, 80)}));
     },
     50, 50},
    {"EmfPolyline16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(87, Bounded({2, P16(0, 50), P16(100, 50)}));
     },
     50, 50},
    {"EmfPolyBezierTo16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(27, {0, 50}).Rec(88, Bounded({3, P16(33, 50), P16(66, 50), P16(100, 50)}));
     },
     50, 50},
    {"EmfPolylineTo16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(27, {0, 50}).Rec(89, Bounded({1, P16(100, 50)}));
     },
     50, 50},
    {"EmfPolyPolyline16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(90, Bounded({1, 2, 2, P16(0, 50), P16(100, 50)}));
     },
     50, 50},
    {"EmfPolyDraw16", true,
     [](TWmf&, TEmf& e) {
         e.Rec(92, Bounded({2, P16(0, 50), P16(100, 50), kMoveLine}));
     },
     50, 50},
    {"EmfGradientFillRectangle", true,
     [](TWmf&, TEmf& e) {
         e.Rec(118, Bounded({2, 1, 0, 20, 20, 0, 0, 80, 80, 0, 0, 0, 1}));
     },
     50, 50},
    {"EmfGradientFillTriangle", true,
     [](TWmf&, TEmf& e) {
         e.Rec(118, Bounded({3, 1, 2, 20, 20, 0, 0, 80, 20, 0, 0, 50, 80, 0, 0, 0, 1, 2}));
     },
     50, 40},
    {"WmfEllipse", false, [](TWmf& w, TEmf&) { w.Rec(0x0418, kWmfEllipseFrame); }, 50, 50},
    {"WmfRoundRect", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x061C, {100, 100, 800, 800, 200, 200});
     },
     50, 50},
    {"WmfArc", false, [](TWmf& w, TEmf&) { w.Rec(0x0817, kWmfFullArc); }, 50, 20},
    {"WmfPie", false, [](TWmf& w, TEmf&) { w.Rec(0x081A, kWmfFullArc); }, 50, 50},
    {"WmfChord", false, [](TWmf& w, TEmf&) { w.Rec(0x0830, kWmfFullArc); }, 50, 50},
    {"WmfPolygon", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0324, {4, 200, 200, 800, 200, 800, 800, 200, 800});
     },
     50, 50},
    {"WmfPolyline", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0325, {2, 0, 500, 1000, 500});
     },
     50, 50},
    {"WmfPolyPolygon", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0538, {1, 4, 200, 200, 800, 200, 800, 800, 200, 800});
     },
     50, 50},
    {"WmfMoveToLineTo", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0214, {500, 0}).Rec(0x0213, {500, 1000});
     },
     50, 50},
    {"WmfSetPixel", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x041F, {0, 0, 500, 500});
     },
     50, 50},
    {"WmfPaintRegion", false,
     [](TWmf& w, TEmf&) {
         WmfRegion(w);
         w.Rec(0x012B, {2});
     },
     50, 50},
    {"WmfFillRegion", false,
     [](TWmf& w, TEmf&) {
         WmfRegion(w);
         w.Rec(0x0228, {2, 0});
     },
     50, 50},
    {"WmfInvertRegion", false,
     [](TWmf& w, TEmf&) {
         WmfRegion(w);
         w.Rec(0x012A, {2});
     },
     50, 50},
    {"WmfDibBitBltPattern", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0940, {0x0021, 0x00F0, 0, 0, 0, 600, 600, 200, 200});
     },
     50, 50},
    {"WmfBitBltPattern", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0922, {0x0021, 0x00F0, 0, 0, 0, 600, 600, 200, 200});
     },
     50, 50},
    {"WmfDibStretchBltPattern", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0B41, {0x0021, 0x00F0, 0, 0, 0, 0, 0, 600, 600, 200, 200});
     },
     50, 50},
    {"WmfStretchBltPattern", false,
     [](TWmf& w, TEmf&) {
         w.Rec(0x0B23, {0x0021, 0x00F0, 0, 0, 0, 0, 0, 600, 600, 200, 200});
     },
     50, 50},
};

class DrawRecordTest : public testing::TestWithParam<TDrawCase> {};

TEST_P(DrawRecordTest, InksItsShapeAndNothingFarFromIt) {
    const auto& c = GetParam();
    TWmf w;
    TEmf e;
    e.Stock(4).Rec(38, {1, 0, 9, 0, 0}).Select(1);
    w.Brush(0, 0).Select(0).Pen(0, 90, 0).Select(1);
    w.Objects = 2;
    c.Build(w, e);
    const TRender r = Render(c.Emf ? e.File() : w.File());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.At(c.X, c.Y), kRgbBlack);
    EXPECT_EQ(r.At(3, 96), kRgbWhite);
}

INSTANTIATE_TEST_SUITE_P(Metafile, DrawRecordTest, testing::ValuesIn(kDrawCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- hostile and malformed input: playback ends cleanly, what was drawn stays

struct TMalformedCase {
    const char* Name;
    std::function<Bytes()> Build; // draws a red picture first
    bool Complete;                // Draw's result
};
void PrintTo(const TMalformedCase& c, std::ostream* os) {
    *os << c.Name;
}

Bytes TruncatedAt(Bytes b, std::size_t cut) {
    b.resize(cut);
    return b;
}

const TMalformedCase kMalformedCases[] = {
    {"WmfRecordPastTheEnd",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000);
         w.Records.insert(w.Records.end(), {0xFF, 0x7F, 0, 0, 0x1B, 0x04});
         return w.File();
     },
     false},
    {"WmfRecordSizeBelowThree",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000);
         w.Records.insert(w.Records.end(), {2, 0, 0, 0, 0x1B, 0x04});
         return w.File();
     },
     false},
    {"WmfPolygonCountTooLarge",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000).Rec(0x0324, {1000, 0, 0, 10, 10});
         return w.File();
     },
     false},
    {"WmfTextCountTooLarge",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000).Rec(0x0A32, {10, 10, 5000, 0, 0x4141});
         return w.File();
     },
     false},
    {"WmfTruncatedFile",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000).Rect(0, 0, 10, 10);
         Bytes f = w.File();
         return TruncatedAt(f, f.size() - 10);
     },
     false},
    {"WmfUnknownRecordSkipped",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rec(0x0777, {1, 2, 3}).Rect(0, 0, 1000, 1000);
         return w.File();
     },
     true},
    {"WmfUnsupportedBitmapSkipped",
     [] {
         TWmf w;
         RedBrushWmf(w);
         w.Rect(0, 0, 1000, 1000).Rec(0x0F43, {0x20, 0xCC, 0, 2, 2, 0, 0, 100, 100, 0, 0, 40, 0});
         return w.File();
     },
     true},
    {"EmfRecordPastTheEnd",
     [] {
         TEmf e;
         FullRed(e);
         e.Rec(43, {0, 0, 1, 1});
         e.Records[e.Records.size() - 20] = 0xF0;
         return e.File();
     },
     false},
    {"EmfRecordSizeBelowEight",
     [] {
         TEmf e;
         FullRed(e);
         Put32(e.Records, 43);
         Put32(e.Records, 4);
         return e.File();
     },
     false},
    {"EmfPolygonCountHuge",
     [] {
         TEmf e;
         FullRed(e);
         e.Rec(86, {0, 0, 1, 1, 0x40000000, 0});
         return e.File();
     },
     false},
    {"EmfTextOffsetOutside",
     [] {
         TEmf e;
         FullRed(e);
         Bytes t = ExtTextOutW(0, 0, u"AB");
         t[40] = 0xFF;
         t[41] = 0xFF;
         e.RecRaw(84, t);
         return e.File();
     },
     false},
    {"EmfRegionCountHuge",
     [] {
         TEmf e;
         FullRed(e);
         Bytes rgn = RgnData({{0, 0, 1, 1}});
         rgn[8] = 0xFF;
         rgn[9] = 0xFF;
         e.RecRaw(75, ExtSelectClipRgn(5, rgn));
         return e.File();
     },
     false},
    {"EmfUnknownRecordSkipped",
     [] {
         TEmf e;
         RedBrushEmf(e);
         e.Rec(200, {1, 2, 3}).Rect(0, 0, 100, 100);
         return e.File();
     },
     true},
    {"EmfBitmapOffsetOutsideSkipped",
     [] {
         TEmf e;
         FullRed(e);
         Bytes b = StretchDIBits(MakeDib(TDibKind::Bits24), 0xCC0020, 0, 0, 100, 100);
         b[40] = 0xFF;
         e.RecRaw(81, b);
         return e.File();
     },
     true},
    {"EmfHugeRleBitmapIsCheap",
     [] {
         TEmf e;
         FullRed(e);
         Bytes dib = MakeDib(TDibKind::Rle8);
         dib[4] = 0x60, dib[5] = 0xEA, dib[8] = 0x60, dib[9] = 0xEA; // 60000 x 60000
         e.RecRaw(81, StretchDIBits(dib, 0xCC0020, 0, 0, 20, 20, 60000, 60000));
         return e.File();
     },
     true},
    {"EmfHugeCoordinatesSkipped",
     [] {
         TEmf e;
         FullRed(e);
         e.Stock(4)
             .Rect(-2000000000, -2000000000, 2000000000, 2000000000)
             .Rec(27, {-2000000000, 0})
             .Rec(54, {2000000000, 5});
         return e.File();
     },
     true},
    {"EmfHugeFontSkipped",
     [] {
         TEmf e;
         FullRed(e);
         e.RecRaw(82, FontW(1, -2000000000, 0)).Select(1).RecRaw(84, ExtTextOutW(50, 50, u"WW"));
         return e.File();
     },
     true},
    {"EmfFontPastFreeTypeSkipped", // 70000-pixel glyphs: FreeType refuses them
     [] {
         TEmf e;
         FullRed(e);
         e.RecRaw(82, FontW(1, -70000, 0)).Select(1).RecRaw(84, ExtTextOutW(50, 50, u"WW"));
         return e.File();
     },
     true},
    {"EmfDeepSaveDC",
     [] {
         TEmf e;
         FullRed(e);
         for (int i = 0; i < 20000; ++i) e.Rec(33, {});
         e.Rec(34, {-20000}).Rec(34, {1});
         return e.File();
     },
     true},
    {"EmfDIBPatternBrushHuge",
     [] {
         TEmf e;
         FullRed(e);
         Bytes dib = MakeDib(TDibKind::Rle8);
         dib[4] = 0x60, dib[5] = 0xEA;
         Bytes b;
         for (std::uint32_t v :
              {2u, 0u, 32u, 40u + 1024u, 32u + 40u + 1024u, std::uint32_t(dib.size() - 1064)})
             Put32(b, v);
         b.insert(b.end(), dib.begin(), dib.end());
         e.RecRaw(94, b).Select(2).Rect(0, 0, 10, 10);
         return e.File();
     },
     true},
};

class MalformedTest : public testing::TestWithParam<TMalformedCase> {};

TEST_P(MalformedTest, EndsCleanlyKeepingWhatWasDrawn) {
    const auto& c = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const TRender r = Render(c.Build());
    EXPECT_EQ(r.Ok, c.Complete);
    EXPECT_EQ(r.At(50, 50), kRgbRed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

INSTANTIATE_TEST_SUITE_P(Metafile, MalformedTest, testing::ValuesIn(kMalformedCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(MetafileLoadTest, RefusesWhatIsNotAMetafile) {
    TEmf e;
    Bytes badHeaderSize = e.File();
    badHeaderSize[4] = 0xFF, badHeaderSize[5] = 0xFF;
    TWmf w;
    Bytes badWmfHeader = w.File(false);
    badWmfHeader[2] = 10; // header size in words must be 9
    Bytes emptyFrame = w.File(true, 5, 5, 5, 5);
    Bytes nothingDrawn = w.File(false);
    const Bytes cases[] = {{}, Bytes(100, 0), Bytes(64, 0xFF), badHeaderSize, badWmfHeader, nothingDrawn};
    for (const Bytes& b : cases) {
        TMetafile m;
        TReadOnlyMemoryStream s(b.data(), std::int64_t(b.size()));
        EXPECT_FALSE(m.LoadFromStream(s));
        EXPECT_TRUE(m.Empty());
    }
    // A placeable header with an empty frame falls back to what the records draw; here: nothing.
    TMetafile m;
    TReadOnlyMemoryStream s(emptyFrame.data(), std::int64_t(emptyFrame.size()));
    EXPECT_FALSE(m.LoadFromStream(s));
}

TEST(MetafileLoadTest, MissingFileRaises) {
    TMetafile m;
    EXPECT_THROW(m.LoadFromFile("/nonexistent/picture.wmf"), EFOpenError);
}

TEST(MetafileDrawTest, EmptyObjectPaintsBackgroundAndBadArgumentsRaise) {
    TMetafile m;
    Bytes buf(4 * 3 * 2, 0);
    EXPECT_FALSE(m.Draw(buf.data(), 4, 2, 12, RGBColor(3, 2, 1)));
    for (std::size_t i = 0; i < buf.size(); i += 3)
        EXPECT_EQ(buf[i] | (buf[i + 1] << 8) | (buf[i + 2] << 16), 0x030201);
    EXPECT_THROW(m.Draw(nullptr, 4, 2, 12, clWhite), EPlatformException);
    EXPECT_THROW(m.Draw(buf.data(), 4, 2, 11, clWhite), EPlatformException);
    EXPECT_THROW(m.Draw(buf.data(), 0, 2, 12, clWhite), EPlatformException);
}

TEST(MetafileDrawTest, TilesJoinSeamlessly) {
    // Wider than one tile: the rectangle's edge falls across the tile boundary.
    TEmf e;
    RedBrushEmf(e);
    e.Rect(0, 40, 100, 60);
    const TRender r = Render(e.File(), 5000, 10);
    EXPECT_TRUE(r.Ok);
    for (int x : {10, 4095, 4096, 4990}) EXPECT_EQ(r.At(x, 5), kRgbRed) << x;
}

// ---- the corpus: every good file loads and plays to its end

class MetafileCorpusTest : public testing::TestWithParam<testsupport::CorpusEntry> {};

TEST_P(MetafileCorpusTest, LoadsAndRenders) {
    FOLIANTO_REQUIRE_CORPUS();
    const auto& entry = GetParam();
    TMetafile m;
    const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
    const bool loaded = m.LoadFromFile(path);
    if (entry.IsBad()) {
        if (!loaded) return;
        Bytes buf(64 * 64 * 3);
        m.Draw(buf.data(), 64, 64, 64 * 3, clWhite);
        return;
    }
    ASSERT_TRUE(loaded);
    EXPECT_EQ(m.Enhanced(), entry.Format == "emf");
    ASSERT_GT(m.Width(), 0);
    ASSERT_GT(m.Height(), 0);
    // Rendered no larger than 600 pixels on the long side; the picture must draw something.
    const double scale = std::min(1.0, 600.0 / std::max(m.Width(), m.Height()));
    const int w = std::max(1, int(m.Width() * scale)), h = std::max(1, int(m.Height() * scale));
    Bytes buf(std::size_t(w) * std::size_t(h) * 3);
    EXPECT_TRUE(m.Draw(buf.data(), w, h, w * 3, clWhite));
    const bool blank = std::all_of(buf.begin(), buf.end(), [](std::uint8_t v) { return v == 255; });
    if (entry.Note.find("bounds 0x0") == std::string::npos) {
        EXPECT_FALSE(blank);
    }
}

std::vector<testsupport::CorpusEntry> MetafileCorpus() {
    auto files = testsupport::CorpusCases("wmf");
    const auto emf = testsupport::CorpusFiles("emf");
    files.insert(files.end(), emf.begin(), emf.end());
    return files;
}

INSTANTIATE_TEST_SUITE_P(Corpus, MetafileCorpusTest, testing::ValuesIn(MetafileCorpus()),
                         [](const auto& info) {
                             std::string n = info.param.Path;
                             for (auto& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return n;
                         });

// Inputs the fuzzer found; each once broke an invariant, named in its file name:
// emf-frame-wider-than-int.emf: a frame wider than an int overflowed the millimetre size.
TEST(MetafileRegressionTest, FuzzFindingsLoadAndDrawCleanly) {
    for (const char* name : {"emf-frame-wider-than-int.emf"}) {
        TMetafile m;
        if (!m.LoadFromFile(std::string(FOLIANTO_TESTDATA_DIR) + "/" + name)) continue;
        Bytes buf(32 * 32 * 3);
        m.Draw(buf.data(), 32, 32, 32 * 3, clWhite);
        EXPECT_GE(m.Width(), 0) << name;
    }
}

// The suite's reference renderings of its EMF drawing (a red disc with a black outline), at two
// sizes. Antialiased edges differ from the reference's hard ones; the interiors must agree.
TEST(MetafileReferenceTest, EmfDrawingMatchesReferenceRenderings) {
    FOLIANTO_REQUIRE_CORPUS();
    const std::string dir = testsupport::CorpusDir() + "/emf/pillow/";
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    TMetafile m;
    ASSERT_TRUE(m.LoadFromFile(dir + "drawing.emf"));
    for (const char* ref : {"ref/drawing_emf_ref.png", "ref/drawing_emf_ref_72_144.png"}) {
        testsupport::RgbImage expected;
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir + ref, expected));
        testsupport::RgbImage ours;
        ours.Width = expected.Width, ours.Height = expected.Height;
        Bytes buf(std::size_t(ours.Width) * std::size_t(ours.Height) * 3);
        ASSERT_TRUE(m.Draw(buf.data(), ours.Width, ours.Height, ours.Width * 3, clWhite));
        ours.Pixels.resize(buf.size());
        for (std::size_t i = 0; i < buf.size(); i += 3)
            ours.Pixels[i] = buf[i + 2], ours.Pixels[i + 1] = buf[i + 1], ours.Pixels[i + 2] = buf[i];
        std::size_t differing = 0;
        for (std::size_t i = 0; i < ours.Pixels.size(); i += 3) {
            int d = 0;
            for (int k = 0; k < 3; ++k)
                d = std::max(d, std::abs(int(ours.Pixels[i + k]) - int(expected.Pixels[i + k])));
            differing += d > 100;
        }
        // Edge pixels are a larger share of the small rendering.
        EXPECT_LT(double(differing) / double(ours.Pixels.size() / 3), 0.05) << ref;
        EXPECT_GT(testsupport::Psnr(ours, expected), 15.0) << ref;
    }
}

} // namespace
