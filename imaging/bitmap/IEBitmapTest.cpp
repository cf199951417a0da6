#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "platform/Exceptions.h"
#include "platform/PlatformBitmap.h"
#include "platform/SystemInfo.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>

namespace {

constexpr std::int64_t kHuge = std::numeric_limits<std::int64_t>::max();

// A bitmap of the given size, type and location; the threshold is set so the location sticks.
std::unique_ptr<TIEBitmap> Make(int w, int h, TIEPixelFormat t, TIELocation loc) {
    auto b = std::make_unique<TIEBitmap>();
    b->SetLocation(loc);
    b->TempFileThreshold = loc == ieTempFile ? 0 : kHuge;
    b->Reallocate(w, h, t);
    return b;
}

// Writes v into pixel (x, y) of an 8-bit bitmap (one row pointer at a time).
void Set8(TIEBitmap& b, int x, int y, std::uint8_t v) {
    b.RowPointer(y)[x] = v;
}
std::uint8_t Get8(TIEBitmap& b, int x, int y) {
    return b.RowPointer(y)[x];
}
void SetBit(TIEBitmap& b, int x, int y, bool v) {
    std::uint8_t* row = b.RowPointer(y);
    const auto mask = static_cast<std::uint8_t>(0x80 >> (x % 8));
    row[x / 8] = static_cast<std::uint8_t>(v ? row[x / 8] | mask : row[x / 8] & ~mask);
}
bool GetBit(TIEBitmap& b, int x, int y) {
    return (b.RowPointer(y)[x / 8] >> (7 - x % 8)) & 1;
}
void SetRgb(TIEBitmap& b, int x, int y, TIERgbTriple p) {
    std::memcpy(b.RowPointer(y) + 3 * x, &p, 3);
}

const char* LocationName(TIELocation l) {
    return l == ieHeap ? "Heap" : l == ieTempFile ? "TempFile" : "TBitmap";
}

// ---- rows and strides

struct StrideCase {
    int Width;
    TIEPixelFormat Type;
    int Bits, Stride;
};
const StrideCase kStrides[] = {
    {10, ie1Bit, 1, 4},    {32, ie1Bit, 1, 4},    {33, ie1Bit, 1, 8},  {1, ie8Gray, 8, 4},
    {5, ie8Palette, 8, 8}, {5, ie16Gray, 16, 12}, {1, ie24Rgb, 24, 4}, {3, ie24Rgb, 24, 12},
    {5, ie24Rgb, 24, 16},  {3, ie32f, 32, 12},
};
TEST(IEBitmapRows, StrideAndBitsFollowTheType) {
    for (const auto& c : kStrides) {
        TIEBitmap b;
        b.Reallocate(c.Width, 2, c.Type);
        EXPECT_EQ(b.BitsPerPixel(), c.Bits) << c.Width << " " << int(c.Type);
        EXPECT_EQ(b.RowStride(), c.Stride) << c.Width << " " << int(c.Type);
        EXPECT_EQ(b.RowPointer(0) - b.RowPointer(1), c.Stride) << "heap rows are bottom-up";
    }
}

TEST(IEBitmapRows, OneBitPixelNineIsBit0x40OfByteOne) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(10, 1, ie1Bit, loc);
        b->FillAll(0);
        b->FillRectangle(9, 0, 9, 0, 1);
        const std::uint8_t* row = b->RowPointer(0);
        EXPECT_EQ(row[0], 0) << LocationName(loc);
        EXPECT_EQ(row[1], 0x40) << LocationName(loc);
        EXPECT_EQ(b->PixelAsRgb(9, 0), CreateRGB(255, 255, 255));
        EXPECT_EQ(b->PixelAsRgb(8, 0), CreateRGB(0, 0, 0));
    }
}

TEST(IEBitmapRows, NewStorageIsZeroed) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(7, 5, ie24Rgb, loc);
        for (int y = 0; y < 5; ++y)
            for (int i = 0; i < b->RowStride(); ++i) ASSERT_EQ(b->RowPointer(y)[i], 0) << LocationName(loc);
    }
}

TEST(IEBitmapRows, EmptyAndNoneAllocateNothing) {
    TIEBitmap b;
    b.Reallocate(0, 5, ie24Rgb);
    EXPECT_EQ(b.RowPointer(0), nullptr);
    b.Reallocate(5, 5, ieNone);
    EXPECT_EQ(b.RowPointer(0), nullptr);
    EXPECT_FALSE(b.FillAll(255));
    b.Reallocate(-4, 3, ie8Gray);
    EXPECT_EQ(b.Width(), 0);
}

// ---- heap or file

struct ThresholdCase {
    const char* Name;
    std::int64_t Threshold;
    TIELocation Requested, Expected;
};
const ThresholdCase kThresholds[] = {
    {"AboveThresholdGoesToFile", 10000, ieHeap, ieTempFile},
    {"BelowThresholdGoesToHeap", 40000, ieTempFile, ieHeap},
    {"EqualKeepsHeap", 30000, ieHeap, ieHeap},
    {"EqualKeepsFile", 30000, ieTempFile, ieTempFile},
    {"OneBelowSizeGoesToFile", 29999, ieHeap, ieTempFile},
    {"OneAboveSizeGoesToHeap", 30001, ieTempFile, ieHeap},
};
class IEBitmapThreshold : public ::testing::TestWithParam<ThresholdCase> {};
TEST_P(IEBitmapThreshold, ChoosesLocation) {
    const auto& c = GetParam();
    TIEBitmap b;
    b.TempFileThreshold = c.Threshold;
    b.SetLocation(c.Requested);
    b.Reallocate(100, 100, ie24Rgb); // 30,000 bytes
    EXPECT_EQ(b.Location(), c.Expected);
    b.FillAll(RGBColor(1, 2, 3));
    EXPECT_EQ(b.PixelAsRgb(99, 99), CreateRGB(1, 2, 3));
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapThreshold, ::testing::ValuesIn(kThresholds),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IEBitmapThreshold, DefaultComesFromTheLibrarySettingOrMemory) {
    {
        TIEBitmap b;
        const double half = double(AvailablePhysicalMemory()) / 2; // the figure moves a little between calls
        if (half == 0)
            EXPECT_EQ(b.TempFileThreshold, 33554432);
        else
            EXPECT_NEAR(double(b.TempFileThreshold), half, half / 4);
        EXPECT_EQ(b.Location(), ieTempFile);
        EXPECT_EQ(b.MonoConversion, ieMeanThreshold);
        EXPECT_EQ(b.PaletteColors, 256);
    }
    DefaultTempFileThreshold = 12345;
    TIEBitmap b;
    DefaultTempFileThreshold = -1;
    EXPECT_EQ(b.TempFileThreshold, 12345);
}

class TempDirectoryScope {
public:
    explicit TempDirectoryScope(const std::string& dir) { TempDirectory = dir; }
    ~TempDirectoryScope() { TempDirectory.clear(); }
};

int CountFiles(const std::string& dir) {
    if (!std::filesystem::exists(dir)) return 0;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        EXPECT_EQ(e.path().filename().string().rfind("pictora", 0), 0u);
        ++n;
    }
    return n;
}

TEST(IEBitmapTempFile, LivesInTempDirectoryUntilReleased) {
    testsupport::TempDir tmp;
    const std::string dir = tmp.File("a/b");
    TempDirectoryScope scope(dir);
    auto b = Make(40, 30, ie8Gray, ieTempFile);
    ASSERT_EQ(b->Location(), ieTempFile);
    EXPECT_EQ(CountFiles(dir), 1);
    EXPECT_EQ(std::filesystem::file_size(std::filesystem::directory_iterator(dir)->path()), 40u * 30u);
    b->Release();
    EXPECT_EQ(CountFiles(dir), 0);
    b = Make(40, 30, ie8Gray, ieTempFile);
    b.reset();
    EXPECT_EQ(CountFiles(dir), 0) << "freeing deletes the file";
}

TEST(IEBitmapTempFile, UnusableFolderFallsBackToHeap) {
    testsupport::TempDir tmp;
    testsupport::WriteFileBytes(tmp.File("file"), {1});
    TempDirectoryScope scope(tmp.File("file/sub")); // a folder below a plain file cannot be made
    auto b = Make(40, 30, ie8Gray, ieTempFile);
    EXPECT_EQ(b->Location(), ieHeap);
    b->FillAll(9);
    EXPECT_EQ(Get8(*b, 39, 29), 9);
}

struct WriteBackCase {
    const char* Name;
    std::uint8_t Access;
    bool Kept;
};
const WriteBackCase kWriteBack[] = {
    {"ReadWrite", AccessRead | AccessWrite, true},
    {"WriteOnly", AccessWrite, true},
    {"ReadOnlyLosesTheChange", AccessRead, false},
};
class IEBitmapWriteBack : public ::testing::TestWithParam<WriteBackCase> {};
TEST_P(IEBitmapWriteBack, RowGoesToItsOffsetOnTheNextRowRequest) {
    const auto& c = GetParam();
    testsupport::TempDir tmp;
    TempDirectoryScope scope(tmp.Path());
    auto b = Make(10, 8, ie8Gray, ieTempFile);
    ASSERT_EQ(b->Location(), ieTempFile);
    const int stride = b->RowStride();
    b->Access = c.Access;
    std::memset(b->RowPointer(5), 0x5A, std::size_t(stride));
    b->RowPointer(6); // releases row 5
    const auto path = std::filesystem::directory_iterator(tmp.Path())->path().string();
    const auto bytes = testsupport::ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), std::size_t(8 * stride));
    for (int i = 0; i < stride; ++i) EXPECT_EQ(bytes[std::size_t(5 * stride + i)], c.Kept ? 0x5A : 0);
    for (int i = 0; i < stride; ++i)
        EXPECT_EQ(bytes[std::size_t(4 * stride + i)], 0) << "neighbours untouched";
    b->Access = AccessRead | AccessWrite;
    EXPECT_EQ(Get8(*b, 3, 5), c.Kept ? 0x5A : 0);
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapWriteBack, ::testing::ValuesIn(kWriteBack),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(IEBitmapTempFile, WindowWithoutReadStartsBlank) {
    auto b = Make(10, 3, ie8Gray, ieTempFile);
    b->FillAll(7);
    b->Access = AccessWrite;
    EXPECT_EQ(Get8(*b, 0, 1), 0) << "no read of a row about to be overwritten";
    b->Access = AccessRead | AccessWrite;
    EXPECT_EQ(Get8(*b, 0, 0), 7);
    EXPECT_EQ(Get8(*b, 0, 1), 0) << "a write-only window goes back whole";
}

// ---- sizes that cannot be held

TEST(IEBitmapOverflow, RefusedSizesThrowAndLeaveAnEmptyBitmap) {
    struct Case {
        int W, H;
        TIEPixelFormat T;
        TIELocation L;
    };
    const Case cases[] = {
        {std::numeric_limits<int>::max(), 1, ie24Rgb, ieHeap},    // stride beyond int32
        {std::numeric_limits<int>::max(), 1, ie32f, ieTempFile},  // stride beyond int32, file too
        {700000000, 1000000, ie24Rgb, ieHeap},                    // 2.1e15 bytes on the heap
        {std::numeric_limits<int>::max(), 1, ie24Rgb, ieTBitmap}, // platform bitmap rows
        {2000000000, 2000000000, ie8Gray, ieTBitmap},             // platform bitmap block
    };
    for (const auto& c : cases) {
        TIEBitmap b;
        b.SetLocation(c.L);
        b.TempFileThreshold = c.L == ieTempFile ? 0 : kHuge;
        EXPECT_THROW(b.Reallocate(c.W, c.H, c.T), EOutOfMemory) << c.W << "x" << c.H;
        if (c.L != ieTBitmap) {
            EXPECT_EQ(b.RowPointer(0), nullptr);
            EXPECT_EQ(b.Width(), 0);
        } else {
            EXPECT_LE(b.Width(), 1) << "the platform bitmap stays 1 x 1 at most";
        }
    }
}

TEST(IEBitmapOverflow, HugeImageOnTheHeapIsRefusedButGoesToAFileByDefault) {
    if (AvailablePhysicalMemory() >= 30000000000ull) GTEST_SKIP() << "this machine could hold 30 GB";
    {
        TIEBitmap b;
        b.SetLocation(ieHeap);
        b.TempFileThreshold = kHuge; // forces the heap
        EXPECT_THROW(b.Reallocate(100000, 100000, ie24Rgb), EOutOfMemory);
    }
    testsupport::TempDir tmp;
    TempDirectoryScope scope(tmp.Path());
    TIEBitmap b; // default threshold: half the available memory
    b.Reallocate(100000, 100000, ie24Rgb);
    EXPECT_EQ(b.Location(), ieTempFile);
    std::memset(b.RowPointer(99999), 0xAB, 300000);
    EXPECT_EQ(b.RowPointer(0)[0], 0);
    EXPECT_EQ(b.PixelAsRgb(99999, 99999), CreateRGB(0xAB, 0xAB, 0xAB));
    b.Release();
    EXPECT_EQ(CountFiles(tmp.Path()), 0);
}

// ---- geometry: ResizeCanvas, CopyRectangle, SetWidth

int OldPixel(int x, int y) {
    return 10 * y + x + 1;
}

// Fills an 8-bit bitmap with OldPixel values.
void FillPattern(TIEBitmap& b) {
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) Set8(b, x, y, static_cast<std::uint8_t>(OldPixel(x, y)));
}

struct CanvasCase {
    const char* Name;
    int W0, H0, W, H, HAlign, VAlign;
};
const CanvasCase kCanvas[] = {
    {"GrowCentredHorizontally", 4, 4, 8, 4, 1, 0},
    {"GrowRight", 4, 4, 7, 4, 2, 0},
    {"GrowLeftDown", 4, 3, 6, 6, 0, 2},
    {"GrowOddCentred", 3, 3, 8, 6, 1, 1},
    {"ShrinkCentred", 8, 7, 5, 4, 1, 1},
    {"ShrinkRightBottom", 8, 7, 5, 4, 2, 2},
    {"ShrinkLeftTop", 8, 7, 5, 4, 0, 0},
    {"WiderButShorter", 4, 6, 9, 3, 1, 2},
    {"NarrowerButTaller", 7, 3, 4, 6, 2, 1},
};
class IEBitmapCanvas : public ::testing::TestWithParam<std::tuple<CanvasCase, TIELocation>> {};
TEST_P(IEBitmapCanvas, OldPixelsLandAtTheAlignedOffset) {
    const auto& [c, loc] = GetParam();
    auto b = Make(c.W0, c.H0, ie8Gray, loc);
    FillPattern(*b);
    b->AlphaPlane()->FillAll(100);
    b->ResizeCanvas(c.W, c.H, 250, 7, c.HAlign, c.VAlign);
    ASSERT_EQ(b->Width(), c.W);
    ASSERT_EQ(b->Height(), c.H);
    ASSERT_EQ(b->AlphaPlane()->Width(), c.W);
    ASSERT_EQ(b->AlphaPlane()->Height(), c.H);
    auto offset = [](int align, int from, int to) {
        return align == 1 ? (to - from) / 2 : align == 2 ? to - from : 0;
    };
    const int ox = offset(c.HAlign, c.W0, c.W), oy = offset(c.VAlign, c.H0, c.H);
    for (int y = 0; y < c.H; ++y)
        for (int x = 0; x < c.W; ++x) {
            const int sx = x - ox, sy = y - oy;
            const bool old = sx >= 0 && sy >= 0 && sx < c.W0 && sy < c.H0;
            EXPECT_EQ(Get8(*b, x, y), old ? OldPixel(sx, sy) : 250) << x << "," << y;
            EXPECT_EQ(b->AlphaAt(x, y), old ? 100 : 7) << x << "," << y;
        }
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapCanvas,
                         ::testing::Combine(::testing::ValuesIn(kCanvas),
                                            ::testing::Values(ieHeap, ieTempFile, ieTBitmap)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    LocationName(std::get<1>(info.param));
                         });

TEST(IEBitmapGeometry, ResizeCanvasOneBitKeepsBits) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(13, 3, ie1Bit, loc);
        b->FillAll(0);
        SetBit(*b, 0, 0, true);
        SetBit(*b, 12, 2, true);
        b->ResizeCanvas(21, 5, 0, 255, 2, 2); // 8 columns right, 2 rows down
        EXPECT_TRUE(GetBit(*b, 8, 2)) << LocationName(loc);
        EXPECT_TRUE(GetBit(*b, 20, 4)) << LocationName(loc);
        int set = 0;
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 21; ++x) set += GetBit(*b, x, y);
        EXPECT_EQ(set, 2) << LocationName(loc);
    }
}

struct CopyCase {
    const char* Name;
    int Sx, Sy, W, H, Dx, Dy;
    // expected: destination (x, y) comes from source (x + ShiftX, y + ShiftY) inside [X0, X1) x [Y0, Y1)
    int ShiftX, ShiftY, X0, X1, Y0, Y1;
};
const CopyCase kCopies[] = {
    {"Plain", 1, 1, 3, 2, 2, 3, -1, -2, 2, 5, 3, 5},
    {"NegativeDxAbsorbed", 2, 0, 6, 2, -3, 0, 5, 0, 0, 3, 0, 2},
    {"NegativeDyAbsorbed", 0, 1, 2, 5, 0, -2, 0, 3, 0, 2, 0, 3},
    {"CutAtDestinationEdge", 0, 0, 10, 10, 6, 5, -6, -5, 6, 8, 5, 6},
    {"CutAtSourceEdge", 5, 4, 10, 10, 0, 0, 5, 4, 0, 3, 0, 2},
    {"SourceCornerClamped", -4, -4, 2, 2, 0, 0, 0, 0, 0, 2, 0, 2},
};
class IEBitmapCopy : public ::testing::TestWithParam<std::tuple<CopyCase, TIEPixelFormat>> {};
TEST_P(IEBitmapCopy, RectangleGeometry) {
    const auto& [c, type] = GetParam();
    auto src = Make(8, 6, type, ieTempFile);
    auto dst = Make(8, 6, type, ieHeap);
    dst->FillAll(0);
    // Every source pixel gets a distinct value (1-bit: a checker pattern of x+y parity).
    const bool bilevel = type == ie1Bit;
    auto value = [bilevel](int x, int y) { return bilevel ? (x * 3 + y) % 2 : OldPixel(x, y); };
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            if (type == ie1Bit)
                SetBit(*src, x, y, value(x, y));
            else
                Set8(*src, x, y, static_cast<std::uint8_t>(value(x, y)));
        }
    src->CopyRectangle(*dst, c.Sx, c.Sy, c.W, c.H, c.Dx, c.Dy);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= c.X0 && x < c.X1 && y >= c.Y0 && y < c.Y1;
            const int got = type == ie1Bit ? GetBit(*dst, x, y) : Get8(*dst, x, y);
            EXPECT_EQ(got, inside ? value(x + c.ShiftX, y + c.ShiftY) : 0) << x << "," << y;
        }
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapCopy,
                         ::testing::Combine(::testing::ValuesIn(kCopies), ::testing::Values(ie8Gray, ie1Bit)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    (std::get<1>(info.param) == ie1Bit ? "OneBit" : "Gray");
                         });

TEST(IEBitmapGeometry, CopyRectanglePairs) {
    auto mono = Make(4, 1, ie1Bit, ieHeap);
    mono->FillAll(0);
    SetBit(*mono, 1, 0, true);
    auto rgb = Make(4, 1, ie24Rgb, ieHeap);
    rgb->FillAll(RGBColor(9, 9, 9));
    mono->CopyRectangle(*rgb, 0, 0, 4, 1, 0, 0);
    EXPECT_EQ(rgb->PixelAsRgb(0, 0), CreateRGB(0, 0, 0));
    EXPECT_EQ(rgb->PixelAsRgb(1, 0), CreateRGB(255, 255, 255));
    auto gray = Make(4, 1, ie8Gray, ieHeap);
    gray->FillAll(3);
    rgb->CopyRectangle(*gray, 0, 0, 4, 1, 0, 0); // unsupported pair: nothing
    EXPECT_EQ(Get8(*gray, 1, 0), 3);
    auto wide = Make(3, 1, ie16Gray, ieHeap);
    auto wide2 = Make(3, 1, ie16Gray, ieTempFile);
    wide->FillAll(0x1234);
    wide2->FillAll(0);
    wide->CopyRectangle(*wide2, 1, 0, 5, 1, 0, 0);
    EXPECT_EQ(wide2->RowPointer(0)[0], 0x34);
    EXPECT_EQ(wide2->RowPointer(0)[3], 0x12);
    EXPECT_EQ(wide2->RowPointer(0)[4], 0);
}

TEST(IEBitmapGeometry, CopyRectangleOntoItselfOverlaps) {
    for (TIELocation loc : {ieHeap, ieTempFile}) {
        auto b = Make(6, 6, ie8Gray, loc);
        FillPattern(*b);
        b->CopyRectangle(*b, 0, 0, 4, 4, 1, 1);
        for (int y = 1; y < 5; ++y)
            for (int x = 1; x < 5; ++x)
                EXPECT_EQ(Get8(*b, x, y), OldPixel(x - 1, y - 1)) << LocationName(loc);
        EXPECT_EQ(Get8(*b, 0, 0), OldPixel(0, 0));
    }
}

TEST(IEBitmapGeometry, MoveRectangleFillsTheVacatedArea) {
    auto b = Make(5, 5, ie8Gray, ieHeap);
    FillPattern(*b);
    b->MoveRectangle(0, 0, 1, 1, 3, 3, 99);
    EXPECT_EQ(Get8(*b, 0, 0), 99);
    EXPECT_EQ(Get8(*b, 1, 1), 99);
    EXPECT_EQ(Get8(*b, 3, 3), OldPixel(0, 0));
    EXPECT_EQ(Get8(*b, 4, 4), OldPixel(1, 1));
    EXPECT_EQ(Get8(*b, 2, 2), OldPixel(2, 2));
}

TEST(IEBitmapGeometry, SetWidthAndHeightKeepTopLeftContentAndPalette) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(5, 4, ie8Palette, loc);
        FillPattern(*b);
        b->SetPaletteEntry(7, CreateRGB(1, 2, 3));
        b->SetPaletteLength(16);
        b->SetWidth(9);
        b->SetHeight(2);
        ASSERT_EQ(b->Width(), 9);
        ASSERT_EQ(b->Height(), 2);
        EXPECT_EQ(b->PixelType(), ie8Palette);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 5; ++x) EXPECT_EQ(Get8(*b, x, y), OldPixel(x, y)) << LocationName(loc);
        EXPECT_EQ(b->PaletteEntry(7), CreateRGB(1, 2, 3)) << LocationName(loc);
        EXPECT_EQ(b->PaletteLength(), 16);
        b->SetWidth(3);
        EXPECT_EQ(b->RowStride(), 4);
        EXPECT_EQ(Get8(*b, 2, 1), OldPixel(2, 1));
    }
}

TEST(IEBitmapGeometry, SetWidthOfAnEmptyBitmapAllocatesWhenBothSidesExist) {
    TIEBitmap b;
    b.Reallocate(0, 3, ie8Gray);
    b.SetWidth(4);
    ASSERT_NE(b.RowPointer(2), nullptr);
    b.FillAll(1);
    EXPECT_EQ(Get8(b, 3, 2), 1);
}

// ---- palette

TEST(IEBitmapPalette, OutOfRangeIndexesAreIgnored) {
    TIEBitmap b;
    b.Reallocate(2, 2, ie8Palette);
    EXPECT_EQ(b.PaletteLength(), 256);
    b.SetPaletteEntry(300, CreateRGB(1, 1, 1));
    b.SetPaletteEntry(-1, CreateRGB(1, 1, 1));
    b.SetPaletteEntry(255, 0x102030u);
    EXPECT_EQ(b.PaletteEntry(255), CreateRGB(0x10, 0x20, 0x30));
    TIERgbTriple untouched = CreateRGB(9, 8, 7);
    b.PaletteEntry(300, untouched);
    EXPECT_EQ(untouched, CreateRGB(9, 8, 7));
    b.SetPaletteLength(16);
    b.SetPaletteEntry(20, CreateRGB(5, 5, 5));
    b.SetPaletteLength(256);
    EXPECT_EQ(b.PaletteEntry(20), CreateRGB(0, 0, 0));
    b.SetPaletteLength(1000);
    EXPECT_EQ(b.PaletteLength(), 256);
    TIEBitmap rgb;
    rgb.Reallocate(2, 2, ie24Rgb);
    EXPECT_EQ(rgb.PaletteLength(), 0);
    EXPECT_EQ(rgb.Palette(), nullptr);
    rgb.SetPaletteEntry(0, CreateRGB(1, 1, 1));
}

TEST(IEBitmapPalette, PlatformPaletteFollows) {
    auto b = Make(2, 2, ie8Palette, ieTBitmap);
    b->SetPaletteEntry(3, CreateRGB(10, 20, 30));
    EXPECT_EQ(b->VclBitmap()->PaletteEntry(3), RGBColor(10, 20, 30));
}

// ---- platform bitmap location

TEST(IEBitmapTBitmap, SixteenBitGreyBecomesEightBit) {
    auto b = Make(5, 3, ie16Gray, ieTBitmap);
    EXPECT_EQ(b->PixelType(), ie8Gray);
    EXPECT_EQ(b->BitsPerPixel(), 8);
    EXPECT_EQ(b->RowStride(), 8);
    EXPECT_EQ(b->VclBitmap()->PixelFormat(), pf8bit);
    b->FillAll(200);
    EXPECT_EQ(b->PixelType(), ie8Gray) << "an 8-bit grey image stays grey after resynchronising";
}

TEST(IEBitmapTBitmap, FloatIsRefusedWithItsMessage) {
    auto b = Make(5, 3, ie24Rgb, ieTBitmap);
    try {
        b->Reallocate(4, 4, ie32f);
        FAIL();
    } catch (const EPlatformException& e) {
        EXPECT_STREQ(e.what(), "ie32f pixel format not allowed when Location=ieTBitmap");
    }
    EXPECT_EQ(b->Width(), 1) << "the platform bitmap stays 1 x 1";
    b->Reallocate(2, 2, ie24Rgb);
    EXPECT_THROW(b->ConvertTo(ie32f), EPlatformException);
    EXPECT_EQ(b->PixelType(), ie24Rgb);
}

TEST(IEBitmapTBitmap, ResynchronisesAfterThePlatformBitmapChanges) {
    TBitmap platform;
    platform.SetPixelFormat(pf24bit);
    platform.SetSize(4, 3);
    TIEBitmap b;
    b.AttachTBitmap(&platform, true);
    EXPECT_TRUE(b.ExternalTBitmap());
    EXPECT_EQ(b.PixelType(), ie24Rgb);
    b.AlphaPlane()->FillAll(10);
    platform.SetSize(9, 7);
    EXPECT_EQ(b.Width(), 9);
    EXPECT_EQ(b.Height(), 7);
    EXPECT_EQ(b.AlphaPlane()->Width(), 9);
    EXPECT_EQ(b.AlphaAt(8, 6), 255);
    EXPECT_EQ(b.RowPointer(6), platform.ScanLine(6));
    platform.SetPixelFormat(pf1bit);
    EXPECT_EQ(b.PixelType(), ie1Bit);
    EXPECT_EQ(b.RowStride(), 4);
    platform.SetPixelFormat(pf32bit); // no pixel type of its own: becomes 24-bit
    EXPECT_EQ(b.PixelType(), ie24Rgb);
    EXPECT_EQ(platform.PixelFormat(), pf24bit);
    b.Release();
    EXPECT_EQ(platform.Width(), 9) << "an attached platform bitmap is never freed";
}

TEST(IEBitmapTBitmap, ReallocateKeepsTheAttachedBitmap) {
    TBitmap platform;
    TIEBitmap b;
    b.AttachTBitmap(&platform, true);
    b.Reallocate(6, 2, ie1Bit);
    EXPECT_EQ(platform.PixelFormat(), pf1bit);
    EXPECT_EQ(platform.Width(), 6);
    EXPECT_TRUE(platform.Monochrome());
    EXPECT_EQ(b.VclBitmap(), &platform);
}

TEST(IEBitmapTBitmap, EmptyReallocateEmptiesTheAttachedBitmap) {
    TBitmap platform;
    platform.SetSize(10, 10);
    TIEBitmap b;
    b.AttachTBitmap(&platform, true);
    b.Reallocate(0, 4, ie24Rgb);
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 4);
    EXPECT_EQ(platform.Width(), 0);
}

TEST(IEBitmapTBitmap, AttachMemoryUsesCallerRows) {
    std::vector<std::uint8_t> memory(3 * 8, 0);
    memory[2 * 8 + 1] = 42; // the last block row is the top row
    TIEBitmap b;
    b.AttachMemory(memory.data(), 5, 3, ie8Gray, true);
    EXPECT_TRUE(b.ExternalMemory());
    EXPECT_EQ(b.Location(), ieHeap);
    EXPECT_EQ(Get8(b, 1, 0), 42);
    EXPECT_EQ(b.RowPointer(0), memory.data() + 16);
    b.Reallocate(2, 2, ie8Gray); // frees nothing of the caller's
    EXPECT_FALSE(b.ExternalMemory());
}

// ---- moving between locations and assigning

class IEBitmapLocations : public ::testing::TestWithParam<std::tuple<TIELocation, TIELocation>> {};
TEST_P(IEBitmapLocations, AssignFromCopiesPixelsPaletteAlphaAndSettings) {
    const auto [from, to] = GetParam();
    testsupport::TempDir tmp;
    TempDirectoryScope scope(tmp.Path());
    auto src = Make(7, 5, ie8Palette, from);
    FillPattern(*src);
    src->SetPaletteEntry(12, CreateRGB(4, 5, 6));
    src->SetPaletteLength(40);
    src->AlphaPlane()->FillAll(33);
    src->MonoConversion = ieOrderedDither;
    auto dst = Make(2, 2, ie24Rgb, to);
    dst->AlphaPlane();
    dst->AssignFrom(src.get());
    EXPECT_EQ(dst->Location(), to);
    ASSERT_EQ(dst->PixelType(), ie8Palette);
    ASSERT_EQ(dst->Width(), 7);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) ASSERT_EQ(Get8(*dst, x, y), OldPixel(x, y));
    EXPECT_EQ(dst->PaletteEntry(12), CreateRGB(4, 5, 6));
    EXPECT_EQ(dst->PaletteLength(), 40);
    EXPECT_EQ(dst->AlphaAt(6, 4), 33);
    EXPECT_EQ(dst->MonoConversion, ieOrderedDither);
    EXPECT_EQ(Get8(*src, 6, 4), OldPixel(6, 4)) << "the source is untouched";
    EXPECT_EQ(src->Access, AccessRead | AccessWrite);
    EXPECT_EQ(dst->Access, AccessRead | AccessWrite);
}
TEST_P(IEBitmapLocations, MoveToLocationKeepsEverything) {
    const auto [from, to] = GetParam();
    for (TIEPixelFormat t : {ie1Bit, ie8Gray, ie24Rgb, ie16Gray}) {
        auto b = Make(9, 4, t, from);
        for (int y = 0; y < 4; ++y)
            for (int i = 0; i < b->RowStride(); ++i)
                b->RowPointer(y)[i] = static_cast<std::uint8_t>(y * 31 + i);
        b->AlphaPlane()->FillAll(77);
        b->TempFileThreshold = to == ieTempFile ? 0 : kHuge;
        b->MoveToLocation(to);
        EXPECT_EQ(b->Location(), to);
        EXPECT_EQ(b->AlphaAt(8, 3), 77);
        if (t == ie16Gray && to == ieTBitmap && from != ieTBitmap) {
            ASSERT_EQ(b->PixelType(), ie8Gray) << "the platform bitmap holds the high bytes";
            for (int x = 0; x < 9; ++x) EXPECT_EQ(Get8(*b, x, 2), std::uint8_t(2 * 31 + 2 * x + 1));
            continue;
        }
        const TIEPixelFormat expected = (t == ie16Gray && from == ieTBitmap) ? ie8Gray : t;
        ASSERT_EQ(b->PixelType(), expected);
        const int bytes = (9 * BitsPerPixelOf(expected) + 7) / 8;
        for (int y = 0; y < 4; ++y)
            for (int i = 0; i < bytes; ++i) EXPECT_EQ(b->RowPointer(y)[i], std::uint8_t(y * 31 + i));
    }
}
INSTANTIATE_TEST_SUITE_P(Pairs, IEBitmapLocations,
                         ::testing::Combine(::testing::Values(ieHeap, ieTempFile, ieTBitmap),
                                            ::testing::Values(ieHeap, ieTempFile, ieTBitmap)),
                         [](const auto& info) {
                             return std::string(LocationName(std::get<0>(info.param))) + "To" +
                                    LocationName(std::get<1>(info.param));
                         });

TEST(IEBitmapAssign, GreyTypesIntoAPlatformBitmapBecomeEightBit) {
    auto wide = Make(3, 2, ie16Gray, ieHeap);
    wide->FillAll(0xAB12);
    auto f = Make(3, 2, ie32f, ieHeap);
    f->FillAll(0.5);
    auto dst = Make(1, 1, ie24Rgb, ieTBitmap);
    dst->AssignFrom(wide.get());
    EXPECT_EQ(dst->PixelType(), ie8Gray);
    EXPECT_EQ(dst->VclBitmap()->PixelFormat(), pf8bit);
    EXPECT_EQ(Get8(*dst, 2, 1), 0xAB);
    dst->AssignFrom(f.get());
    EXPECT_EQ(Get8(*dst, 2, 1), 127);
}

TEST(IEBitmapAssign, SourceWithoutAlphaDropsTheOldPlane) {
    auto src = Make(3, 3, ie24Rgb, ieHeap);
    for (TIELocation loc : {ieHeap, ieTBitmap}) {
        auto dst = Make(5, 5, ie24Rgb, loc);
        dst->AlphaPlane();
        dst->AssignFrom(src.get());
        EXPECT_FALSE(dst->HasAlphaPlane()) << LocationName(loc);
    }
}

// ---- import and export of platform bitmaps

struct ImportCase {
    const char* Name;
    TPixelFormat Format;
    bool Monochrome;
    TIEPixelFormat Type;
    int PaletteLength;
};
const ImportCase kImports[] = {
    {"Mono", pf1bit, true, ie1Bit, 0},          {"ColourOneBit", pf1bit, false, ie8Palette, 2},
    {"Four", pf4bit, false, ie8Palette, 16},    {"Eight", pf8bit, false, ie8Palette, 256},
    {"Fifteen", pf15bit, false, ie24Rgb, 0},    {"Sixteen", pf16bit, false, ie24Rgb, 0},
    {"TwentyFour", pf24bit, false, ie24Rgb, 0}, {"ThirtyTwo", pf32bit, false, ie24Rgb, 0},
};
class IEBitmapImport : public ::testing::TestWithParam<std::tuple<ImportCase, TIELocation>> {};
TEST_P(IEBitmapImport, FormatsKeepTheirColours) {
    const auto& [c, loc] = GetParam();
    TBitmap platform;
    platform.SetPixelFormat(c.Format);
    platform.SetSize(11, 3);
    const TColor first = RGBColor(248, 0, 64), second = RGBColor(0, 248, 8);
    if (c.Format == pf1bit && !c.Monochrome) {
        platform.SetMonochrome(false);
        platform.SetPaletteEntry(0, first);
        platform.SetPaletteEntry(1, second);
    } else if (c.Format == pf4bit || c.Format == pf8bit) {
        platform.SetPaletteEntry(3, first);
        platform.SetPaletteEntry(5, second);
    }
    const TColor a = c.Monochrome ? clBlack : first, z = c.Monochrome ? clWhite : second;
    for (int x = 0; x < 11; ++x) platform.SetPixel(x, 1, (x % 3 == 0) ? z : a);
    auto b = Make(2, 2, ie24Rgb, loc);
    b->ImportTBitmap(&platform);
    EXPECT_EQ(b->Location(), loc);
    const TIEPixelFormat expected =
        (loc == ieTBitmap && c.Type == ie8Palette && c.Format == pf8bit) ? ie8Palette : c.Type;
    ASSERT_EQ(b->PixelType(), expected);
    ASSERT_EQ(b->Width(), 11);
    if (c.PaletteLength) {
        EXPECT_EQ(b->PaletteLength(), c.PaletteLength);
    }
    for (int x = 0; x < 11; ++x) {
        const TColor want = (x % 3 == 0) ? z : a;
        EXPECT_EQ(b->PixelAsRgb(x, 1), CreateRGB(ColorRed(want), ColorGreen(want), ColorBlue(want))) << x;
    }
    EXPECT_FALSE(b->FullyOpaque);
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapImport,
                         ::testing::Combine(::testing::ValuesIn(kImports),
                                            ::testing::Values(ieHeap, ieTBitmap)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    LocationName(std::get<1>(info.param));
                         });

TEST(IEBitmapExport, EveryTypeLandsInAPlatformFormat) {
    struct Case {
        TIEPixelFormat Type;
        double Fill;
        TPixelFormat Format;
        std::uint8_t FirstByte;
    };
    const Case cases[] = {
        {ie1Bit, 1, pf1bit, 0xFF},   {ie8Palette, 9, pf8bit, 9},
        {ie8Gray, 200, pf8bit, 200}, {ie16Gray, 0x1234, pf8bit, 0x12},
        {ie32f, 0.5, pf8bit, 127},   {ie24Rgb, RGBColor(1, 2, 3), pf24bit, 3},
    };
    for (const auto& c : cases) {
        auto b = Make(10, 2, c.Type, ieTempFile);
        b->FillAll(c.Fill);
        if (c.Type == ie8Palette) b->SetPaletteEntry(9, CreateRGB(70, 80, 90));
        TBitmap platform;
        b->ExportToTBitmap(platform);
        EXPECT_EQ(platform.PixelFormat(), c.Format);
        EXPECT_EQ(platform.Width(), 10);
        EXPECT_EQ(platform.Height(), 2);
        EXPECT_EQ(platform.ScanLine(1)[0], c.FirstByte) << int(c.Type);
        if (c.Type == ie1Bit) {
            EXPECT_TRUE(platform.Monochrome());
        }
        if (c.Type == ie8Palette) {
            EXPECT_EQ(platform.PaletteEntry(9), RGBColor(70, 80, 90));
        }
        if (c.Type == ie16Gray) {
            EXPECT_EQ(platform.PaletteEntry(0x12), RGBColor(0x12, 0x12, 0x12));
        }
    }
}

// ---- fills and pixel queries

struct FillCase {
    const char* Name;
    TIEPixelFormat Type;
    double Value;
    bool Opaque;
    TIERgbTriple Pixel;
};
const FillCase kFills[] = {
    {"OneBitSet", ie1Bit, 1, true, {255, 255, 255}},
    {"OneBitClear", ie1Bit, 0, false, {0, 0, 0}},
    {"Gray255", ie8Gray, 255, true, {255, 255, 255}},
    {"Gray254", ie8Gray, 254.9, false, {254, 254, 254}},
    {"Gray16Max", ie16Gray, 65535, true, {255, 255, 255}},
    {"Gray16Less", ie16Gray, 65534, false, {255, 255, 255}},
    {"RgbWhite", ie24Rgb, 0xFFFFFF, true, {255, 255, 255}},
    {"RgbColourValue", ie24Rgb, RGBColor(1, 2, 3), false, {3, 2, 1}},
    {"RgbSystemColour", ie24Rgb, clWindow, true, {255, 255, 255}},
    {"RgbButtonFace", ie24Rgb, clBtnFace, false, {0xF0, 0xF0, 0xF0}},
    {"FloatOne", ie32f, 1.0, true, {255, 255, 255}},
    {"FloatHalf", ie32f, 0.5, false, {127, 127, 127}},
    {"NotANumber", ie8Gray, std::nan(""), false, {0, 0, 0}},
};
class IEBitmapFill : public ::testing::TestWithParam<std::tuple<FillCase, TIELocation>> {};
TEST_P(IEBitmapFill, FullyOpaqueAndPixel) {
    const auto& [c, loc] = GetParam();
    auto b = Make(9, 3, c.Type, loc);
    EXPECT_EQ(b->FillAll(c.Value), c.Opaque);
    EXPECT_EQ(b->FullyOpaque, c.Opaque);
    EXPECT_EQ(b->PixelAsRgb(8, 2), c.Pixel);
    b->FillAll(0);
    b->FillRectangle(-5, 1, 3, 99, c.Value);
    EXPECT_FALSE(b->FullyOpaque) << "rectangles leave the flag alone";
    EXPECT_EQ(b->PixelAsRgb(3, 2), c.Pixel);
    EXPECT_EQ(b->PixelAsRgb(0, 1), c.Pixel);
    EXPECT_EQ(b->PixelAsRgb(4, 2), b->PixelAsRgb(0, 0));
    EXPECT_EQ(b->PixelAsRgb(0, 0), CreateRGB(0, 0, 0));
}
auto FillCaseName = [](const auto& info) {
    return std::string(std::get<0>(info.param).Name) + LocationName(std::get<1>(info.param));
};
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapFill,
                         ::testing::Combine(::testing::ValuesIn(kFills),
                                            ::testing::Values(ieHeap, ieTempFile)),
                         FillCaseName);
// The platform bitmap has no 16-bit or float rows.
std::vector<FillCase> PlatformFills() {
    std::vector<FillCase> out;
    for (const auto& c : kFills)
        if (c.Type != ie16Gray && c.Type != ie32f) out.push_back(c);
    return out;
}
INSTANTIATE_TEST_SUITE_P(Platform, IEBitmapFill,
                         ::testing::Combine(::testing::ValuesIn(PlatformFills()),
                                            ::testing::Values(ieTBitmap)),
                         FillCaseName);

TEST(IEBitmapQueries, IsGreyscale) {
    auto pal = Make(2, 2, ie8Palette, ieHeap);
    for (int i = 0; i < 256; ++i)
        pal->SetPaletteEntry(i, CreateRGB(std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)));
    pal->SetPaletteEntry(200, CreateRGB(1, 2, 3));
    EXPECT_FALSE(pal->IsGreyscale());
    pal->SetPaletteLength(200);
    EXPECT_TRUE(pal->IsGreyscale()) << "only the entries in use count";
    auto rgb = Make(4, 4, ie24Rgb, ieTempFile);
    rgb->FillAll(RGBColor(7, 7, 7));
    EXPECT_TRUE(rgb->IsGreyscale());
    SetRgb(*rgb, 3, 3, CreateRGB(7, 7, 8));
    EXPECT_FALSE(rgb->IsGreyscale());
    auto gray = Make(4, 4, ie16Gray, ieHeap);
    EXPECT_TRUE(gray->IsGreyscale());
    EXPECT_EQ(gray->PixelAsRgb(-1, 0), CreateRGB(0, 0, 0));
}

// ---- alpha plane and masks

TEST(IEBitmapAlpha, PlaneIsOpaqueGreyOnTheHeapForPlatformOwners) {
    auto b = Make(6, 4, ie24Rgb, ieTBitmap);
    EXPECT_FALSE(b->HasAlphaPlane());
    EXPECT_EQ(b->AlphaAt(5, 3), 255);
    TIEBitmap* plane = b->AlphaPlane();
    EXPECT_TRUE(plane->IsAlphaPlane);
    EXPECT_TRUE(plane->FullyOpaque);
    EXPECT_EQ(plane->Location(), ieHeap);
    EXPECT_EQ(plane->PixelType(), ie8Gray);
    EXPECT_EQ(plane->AlphaPlane(), plane) << "an alpha plane has none of its own";
    plane->DropAlphaPlane();
    EXPECT_TRUE(b->HasAlphaPlane());
    b->ConvertTo(ie1Bit);
    EXPECT_EQ(b->AlphaPlane(), plane) << "conversion leaves the plane";
    b->Reallocate(2, 2, ie24Rgb);
    EXPECT_FALSE(b->HasAlphaPlane());
}

TEST(IEBitmapAlpha, MaskRoundTrip) {
    TIEMask mask;
    mask.Allocate(10, 3, 8);
    mask.Fill(255);
    mask.FullyOpaque = false;
    mask.SetPixel(9, 2, 0);
    mask.SetPixel(0, 0, 128);
    TIEBitmap owner;
    owner.Reallocate(10, 3, ie24Rgb);
    owner.AlphaPlane()->AlphaFromMask(&mask);
    EXPECT_EQ(owner.AlphaAt(9, 2), 0);
    EXPECT_EQ(owner.AlphaAt(0, 0), 128);
    EXPECT_EQ(owner.AlphaAt(5, 1), 255);
    EXPECT_FALSE(owner.AlphaPlane()->FullyOpaque);
    TIEMask back;
    owner.AlphaPlane()->AlphaToMask(back);
    EXPECT_EQ(back.BitsPerPixel, 8);
    EXPECT_EQ(back.Bits, mask.Bits);

    TIEMask bits;
    bits.Allocate(10, 3, 1);
    bits.SetPixel(4, 1, 1);
    bits.FullyOpaque = true;
    owner.AlphaPlane()->AlphaFromMask(&bits);
    EXPECT_EQ(owner.AlphaPlane()->PixelType(), ie1Bit);
    EXPECT_TRUE(owner.AlphaPlane()->FullyOpaque);
    EXPECT_EQ(owner.AlphaAt(4, 1), 255);
    EXPECT_EQ(owner.AlphaAt(5, 1), 0);
    owner.AlphaPlane()->AlphaToMask(back);
    EXPECT_EQ(back.BitsPerPixel, 1);
    EXPECT_EQ(back.GetPixel(4, 1), 1);

    TIEMask odd;
    odd.Allocate(2, 2, 4);
    owner.AlphaPlane()->AlphaFromMask(&odd);
    EXPECT_EQ(owner.AlphaPlane()->PixelType(), ie1Bit) << "other depths change nothing";
    owner.AlphaPlane()->AlphaFromMask(nullptr);
    EXPECT_EQ(owner.AlphaAt(5, 1), 255);
}

// ---- conversions

struct ConvertCase {
    const char* Name;
    TIEPixelFormat From;
    std::vector<std::uint8_t> Source; // the first pixel's bytes
    TIEPixelFormat To;
    std::vector<std::uint8_t> Expected;
    int PaletteIndexChecked = -1; // for ie8Palette targets: this entry must be (v, v, v) with v = index
};
std::vector<std::uint8_t> FloatBytes(float f) {
    std::vector<std::uint8_t> v(4);
    std::memcpy(v.data(), &f, 4);
    return v;
}
const ConvertCase kConversions[] = {
    {"OneBitWhiteToRgb", ie1Bit, {0x80}, ie24Rgb, {255, 255, 255}},
    {"OneBitBlackToRgb", ie1Bit, {0x00}, ie24Rgb, {0, 0, 0}},
    {"OneBitTo16", ie1Bit, {0x80}, ie16Gray, {0xFF, 0xFF}},
    {"OneBitToGray", ie1Bit, {0x80}, ie8Gray, {255}},
    {"OneBitToPalette", ie1Bit, {0x80}, ie8Palette, {1}},
    {"Gray128ToRgb", ie8Gray, {128}, ie24Rgb, {128, 128, 128}},
    {"GrayTo16", ie8Gray, {200}, ie16Gray, {0x00, 0xC8}},
    {"GrayToPalette", ie8Gray, {77}, ie8Palette, {77}, 77},
    {"Gray16ToRgbHighByte", ie16Gray, {0x34, 0x12}, ie24Rgb, {0x12, 0x12, 0x12}},
    {"Gray16ToGray", ie16Gray, {0xCD, 0xAB}, ie8Gray, {0xAB}},
    {"Gray16ToPalette", ie16Gray, {0x34, 0x12}, ie8Palette, {0x12}, 0x12},
    {"PureRedToGray", ie24Rgb, {0, 0, 255}, ie8Gray, {53}},
    {"PureRedTo16", ie24Rgb, {0, 0, 255}, ie16Gray, {0x0F, 0x36}},
    {"WhiteTo16", ie24Rgb, {255, 255, 255}, ie16Gray, {0x00, 0xFF}},
    {"FloatHalfToGray", ie32f, FloatBytes(0.5f), ie8Gray, {127}},
    {"FloatHalfTo16", ie32f, FloatBytes(0.5f), ie16Gray, {0xFF, 0x7F}},
    {"FloatAboveOneClamps", ie32f, FloatBytes(2.0f), ie8Gray, {255}},
    {"FloatNegativeClamps", ie32f, FloatBytes(-3.0f), ie24Rgb, {0, 0, 0}},
    {"FloatNaNIsBlack", ie32f, FloatBytes(std::nanf("")), ie16Gray, {0, 0}},
    {"FloatOneToPalette", ie32f, FloatBytes(1.0f), ie8Palette, {255}, 255},
    {"GrayToFloat", ie8Gray, {51}, ie32f, FloatBytes(0.2f)},
    {"Gray16ToFloat", ie16Gray, {0xFF, 0xFF}, ie32f, FloatBytes(1.0f)},
    {"OneBitToFloat", ie1Bit, {0x80}, ie32f, FloatBytes(1.0f)},
    {"RedToFloat", ie24Rgb, {0, 0, 255}, ie32f, FloatBytes(0.2126f)},
};
class IEBitmapConvert : public ::testing::TestWithParam<std::tuple<ConvertCase, TIELocation>> {};
TEST_P(IEBitmapConvert, FirstPixel) {
    const auto& [c, loc] = GetParam();
    auto b = Make(3, 2, c.From, loc);
    b->AlphaPlane()->FillAll(9);
    for (int y = 0; y < 2; ++y) std::memcpy(b->RowPointer(y), c.Source.data(), c.Source.size());
    b->ConvertTo(c.To);
    ASSERT_EQ(b->PixelType(), c.To);
    EXPECT_EQ(b->Location(), loc);
    EXPECT_EQ(b->Width(), 3);
    EXPECT_EQ(b->AlphaAt(2, 1), 9);
    for (int y = 0; y < 2; ++y) {
        const std::uint8_t* row = b->RowPointer(y);
        if (c.To == ie32f) {
            float got, want;
            std::memcpy(&got, row, 4);
            std::memcpy(&want, c.Expected.data(), 4);
            EXPECT_NEAR(got, want, 1e-6);
        } else {
            EXPECT_EQ(std::vector<std::uint8_t>(row, row + c.Expected.size()), c.Expected) << y;
        }
    }
    if (c.To == ie8Palette && c.From == ie1Bit) {
        EXPECT_EQ(b->PaletteEntry(0), CreateRGB(0, 0, 0));
        EXPECT_EQ(b->PaletteEntry(1), CreateRGB(255, 255, 255));
    }
    if (c.PaletteIndexChecked >= 0) {
        const auto v = static_cast<std::uint8_t>(c.PaletteIndexChecked);
        EXPECT_EQ(b->PaletteEntry(c.PaletteIndexChecked), CreateRGB(v, v, v));
    }
}
INSTANTIATE_TEST_SUITE_P(Cases, IEBitmapConvert,
                         ::testing::Combine(::testing::ValuesIn(kConversions),
                                            ::testing::Values(ieHeap, ieTempFile)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    LocationName(std::get<1>(info.param));
                         });

TEST(IEBitmapConvert, PaletteSourceUsesItsEntries) {
    auto b = Make(2, 1, ie8Palette, ieHeap);
    b->SetPaletteEntry(4, CreateRGB(255, 0, 0));
    b->SetPaletteEntry(5, CreateRGB(10, 20, 30));
    Set8(*b, 0, 0, 4);
    Set8(*b, 1, 0, 5);
    auto gray = Make(1, 1, ie8Gray, ieHeap);
    gray->AssignFrom(b.get());
    gray->ConvertTo(ie8Gray);
    EXPECT_EQ(Get8(*gray, 0, 0), 53);
    EXPECT_EQ(Get8(*gray, 1, 0), (10 * 21 + 20 * 71 + 30 * 8) / 100);
    b->ConvertTo(ie24Rgb);
    EXPECT_EQ(b->PixelAsRgb(1, 0), CreateRGB(10, 20, 30));
    EXPECT_EQ(b->PaletteLength(), 0);
}

// The ordered dither of a white image: only the threshold 63 (x mod 8 = 7, y mod 8 = 0) beats level 63.
TEST(IEBitmapConvert, OrderedDitherOfWhite) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(19, 17, ie24Rgb, loc);
        b->FillAll(clWhite);
        b->MonoConversion = ieOrderedDither;
        b->ConvertTo(ie1Bit);
        ASSERT_EQ(b->PixelType(), ie1Bit);
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 19; ++x) {
                const bool black = loc != ieTBitmap && x % 8 == 7 && y % 8 == 0;
                EXPECT_EQ(GetBit(*b, x, y), !black) << LocationName(loc) << " " << x << "," << y;
            }
        if (loc == ieTBitmap) {
            EXPECT_EQ(b->VclBitmap()->PixelFormat(), pf1bit);
        }
    }
}

TEST(IEBitmapConvert, OrderedDitherLevels) {
    // Level L whitens exactly the L thresholds below it in every 8 x 8 block.
    for (int v : {0, 4, 128, 200, 255}) {
        auto b = Make(8, 8, ie8Gray, ieHeap);
        b->FillAll(v);
        b->MonoConversion = ieOrderedDither;
        b->ConvertTo(ie1Bit);
        int white = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) white += GetBit(*b, x, y);
        EXPECT_EQ(white, v / 4) << v;
    }
}

TEST(IEBitmapConvert, MeanThreshold) {
    for (TIELocation loc : {ieHeap, ieTempFile, ieTBitmap}) {
        auto b = Make(9, 5, ie24Rgb, loc);
        b->FillAll(RGBColor(10, 200, 30));
        b->ConvertTo(ie1Bit); // ieMeanThreshold by default
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_TRUE(GetBit(*b, x, y)) << LocationName(loc) << " uniform is white";
    }
    auto b = Make(4, 2, ie8Gray, ieHeap);
    const std::uint8_t levels[] = {0, 90, 100, 255}; // mean 111
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) Set8(*b, x, y, levels[x]);
    b->ConvertTo(ie1Bit);
    EXPECT_FALSE(GetBit(*b, 1, 0));
    EXPECT_FALSE(GetBit(*b, 2, 1));
    EXPECT_TRUE(GetBit(*b, 3, 1));
}

TEST(IEBitmapConvert, PlatformBitmapPairsReformatTheBitmap) {
    struct Case {
        TIEPixelFormat From, To, Result;
        TPixelFormat Format;
    };
    const Case cases[] = {
        {ie1Bit, ie24Rgb, ie24Rgb, pf24bit},  {ie24Rgb, ie8Gray, ie8Gray, pf8bit},
        {ie8Gray, ie24Rgb, ie24Rgb, pf24bit}, {ie24Rgb, ie8Palette, ie8Palette, pf8bit},
        {ie8Palette, ie1Bit, ie1Bit, pf1bit}, {ie24Rgb, ie16Gray, ie8Gray, pf8bit},
        {ie1Bit, ie8Gray, ie8Gray, pf8bit},
    };
    for (const auto& c : cases) {
        TBitmap platform;
        TIEBitmap b;
        b.AttachTBitmap(&platform, true);
        b.Reallocate(13, 3, c.From);
        if (c.From == ie8Palette)
            for (int i = 0; i < 256; ++i) b.SetPaletteEntry(i, CreateRGB(255, 255, 255));
        b.FillAll(c.From == ie24Rgb ? double(clWhite) : 255.0);
        b.ConvertTo(c.To);
        EXPECT_EQ(b.PixelType(), c.Result);
        EXPECT_EQ(platform.PixelFormat(), c.Format);
        EXPECT_EQ(b.VclBitmap(), &platform) << "the attached bitmap is kept";
        EXPECT_EQ(b.RowStride(), platform.BytesPerScanLine());
        EXPECT_EQ(b.Width(), 13);
        for (int x = 0; x < 13; ++x) EXPECT_EQ(b.PixelAsRgb(x, 2), CreateRGB(255, 255, 255)) << int(c.From);
    }
}

TEST(IEBitmapConvert, NothingToDoForTheSameType) {
    auto b = Make(2, 2, ie24Rgb, ieHeap);
    std::uint8_t* before = b->RowPointer(0);
    b->ConvertTo(ie24Rgb);
    EXPECT_EQ(b->RowPointer(0), before);
}

TEST(IEBitmapConvert, QuantisedPaletteReproducesFewColours) {
    auto b = Make(20, 10, ie24Rgb, ieTempFile);
    const TIERgbTriple colours[] = {CreateRGB(255, 0, 0), CreateRGB(0, 128, 0), CreateRGB(1, 2, 3),
                                    CreateRGB(250, 250, 250)};
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) SetRgb(*b, x, y, colours[(x + y) % 4]);
    b->ConvertTo(ie8Palette);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(b->PixelAsRgb(x, y), colours[(x + y) % 4]);
    b->ConvertTo(ie24Rgb);
    b->PaletteColors = 2;
    b->ConvertTo(ie8Palette);
    std::set<std::uint8_t> used;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) used.insert(Get8(*b, x, y));
    EXPECT_LE(used.size(), 2u);
}

} // namespace
