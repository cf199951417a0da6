#include "codecs/gif/GifReader.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <set>

namespace {

using Bytes = std::vector<std::uint8_t>;
struct Rgb {
    std::uint8_t R, G, B;
};

// ---- building GIF files

class TBitWriter {
public:
    void Put(int Code, int Width) {
        for (int i = 0; i < Width; ++i, ++FBits) {
            if (FBits % 8 == 0) Data.push_back(0);
            if ((Code >> i) & 1) Data.back() |= std::uint8_t(1 << (FBits % 8));
        }
    }
    Bytes Data;

private:
    int FBits = 0;
};

// A plain GIF LZW encoder. With DeferredClear it keeps coding with a full table instead of clearing.
Bytes LzwEncode(const Bytes& Pixels, int MinCodeSize, bool DeferredClear = false, bool InitialClear = true) {
    const int clear = 1 << MinCodeSize, end = clear + 1;
    TBitWriter out;
    std::map<std::pair<int, int>, int> dict;
    int width = MinCodeSize + 1, next = end + 1;
    auto reset = [&] {
        dict.clear();
        width = MinCodeSize + 1;
        next = end + 1;
    };
    auto grow = [&] {
        if (next < 4096) {
            ++next;
            if (next > (1 << width) && width < 12) ++width;
        }
    };
    if (InitialClear) out.Put(clear, width);
    int prefix = -1;
    for (std::uint8_t p : Pixels) {
        if (prefix < 0) {
            prefix = p;
            continue;
        }
        auto it = dict.find({prefix, p});
        if (it != dict.end()) {
            prefix = it->second;
            continue;
        }
        out.Put(prefix, width);
        if (next < 4096) dict[{prefix, p}] = next;
        grow();
        if (next == 4096 && !DeferredClear) {
            out.Put(clear, width);
            reset();
        }
        prefix = p;
    }
    if (prefix >= 0) {
        out.Put(prefix, width);
        grow();
    }
    out.Put(end, width);
    return out.Data;
}

// Code size byte, the data in sub-blocks of at most 255 bytes, the terminator.
Bytes ImageData(int CodeSize, const Bytes& Data, std::size_t BlockSize = 255) {
    Bytes b{std::uint8_t(CodeSize)};
    for (std::size_t i = 0; i < Data.size(); i += BlockSize) {
        const std::size_t n = std::min(BlockSize, Data.size() - i);
        b.push_back(std::uint8_t(n));
        b.insert(b.end(), Data.begin() + std::ptrdiff_t(i), Data.begin() + std::ptrdiff_t(i + n));
    }
    b.push_back(0);
    return b;
}

Bytes RawCodes(std::initializer_list<std::pair<int, int>> CodesAndWidths) {
    TBitWriter w;
    for (auto [code, width] : CodesAndWidths) w.Put(code, width);
    return w.Data;
}

int SizeBits(std::size_t Entries) {
    int bits = 0;
    while ((std::size_t(2) << bits) < Entries) ++bits;
    return bits;
}

class TGifBuilder {
public:
    TGifBuilder(int Width, int Height, std::vector<Rgb> Global, int Background = 0) {
        Add("GIF89a");
        Le16(Width);
        Le16(Height);
        FOut.push_back(Global.empty() ? 0 : std::uint8_t(0x80 | SizeBits(Global.size())));
        FOut.push_back(std::uint8_t(Background));
        FOut.push_back(0);
        Table(Global);
    }
    TGifBuilder& Control(int Disposal, bool Transparent, int Index, int Delay) {
        Bytes b{0x21,
                0xF9,
                4,
                std::uint8_t((Disposal << 2) | (Transparent ? 1 : 0)),
                std::uint8_t(Delay & 0xFF),
                std::uint8_t(Delay >> 8),
                std::uint8_t(Index),
                0};
        FOut.insert(FOut.end(), b.begin(), b.end());
        return *this;
    }
    TGifBuilder& Comment(const std::vector<std::string>& SubBlocks) {
        FOut.push_back(0x21);
        FOut.push_back(0xFE);
        for (const std::string& s : SubBlocks) {
            FOut.push_back(std::uint8_t(s.size()));
            Add(s);
        }
        FOut.push_back(0);
        return *this;
    }
    TGifBuilder& Descriptor(int Left, int Top, int Width, int Height, bool Interlaced,
                            const std::vector<Rgb>& Local = {}) {
        FOut.push_back(',');
        Le16(Left);
        Le16(Top);
        Le16(Width);
        Le16(Height);
        FOut.push_back(
            std::uint8_t((Local.empty() ? 0 : 0x80 | SizeBits(Local.size())) | (Interlaced ? 0x40 : 0)));
        Table(Local);
        return *this;
    }
    // An image whose pixels are given in decoding order (interlaced files list their passes in turn).
    TGifBuilder& Image(int Width, int Height, const Bytes& Pixels, int MinCodeSize = 2,
                       bool Interlaced = false, const std::vector<Rgb>& Local = {}, int Left = 0,
                       int Top = 0) {
        Descriptor(Left, Top, Width, Height, Interlaced, Local);
        return Raw(ImageData(MinCodeSize, LzwEncode(Pixels, MinCodeSize)));
    }
    TGifBuilder& Raw(const Bytes& b) {
        FOut.insert(FOut.end(), b.begin(), b.end());
        return *this;
    }
    Bytes Trailer() {
        FOut.push_back(';');
        return FOut;
    }
    Bytes Open() const { return FOut; }

private:
    void Add(const std::string& s) { FOut.insert(FOut.end(), s.begin(), s.end()); }
    void Le16(int v) {
        FOut.push_back(std::uint8_t(v & 0xFF));
        FOut.push_back(std::uint8_t(v >> 8));
    }
    void Table(const std::vector<Rgb>& t) {
        for (const Rgb& c : t) FOut.insert(FOut.end(), {c.R, c.G, c.B});
    }
    Bytes FOut;
};

const std::vector<Rgb> kFour = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}};
const std::vector<Rgb> kBlackWhite = {{0, 0, 0}, {255, 255, 255}};

// ---- running the reader

struct TGifRead {
    TIEBitmap Bitmap;
    TIOParamsVals Params;
    std::unique_ptr<TIEMask> Mask;
    bool Aborting = false;
    int FrameCount = -1;
    TIELoadOutcome Outcome;

    explicit TGifRead(int FrameIndex = 0, bool Native = false) {
        Params.GifLzwDecoder = GifLzwDecode;
        Params.GifFrameIndex = FrameIndex;
        Params.NativePixelFormat = Native;
    }
    TGifRead& Run(const Bytes& File, bool HeaderOnly = false, bool IgnoreAlpha = false) {
        TReadOnlyMemoryStream s(File.data(), std::int64_t(File.size()));
        TIEProgressRecord progress(Aborting);
        ReadGifStream(s, Bitmap, FrameCount, IgnoreAlpha, Mask, HeaderOnly, progress, Params);
        Outcome = progress.Outcome;
        return *this;
    }
    // Palette indexes of an ie8Palette result.
    Bytes Indexes() {
        Bytes out;
        for (int y = 0; y < Bitmap.Height(); ++y) {
            const std::uint8_t* row = Bitmap.RowPointer(y);
            out.insert(out.end(), row, row + Bitmap.Width());
        }
        return out;
    }
};

testsupport::RgbImage ToRgb(TIEBitmap& b) {
    testsupport::RgbImage img;
    img.Width = b.Width();
    img.Height = b.Height();
    img.Pixels.resize(std::size_t(img.Width) * std::size_t(img.Height) * 3);
    for (int y = 0; y < img.Height; ++y) {
        const std::uint8_t* row = b.RowPointer(y);
        for (int x = 0; x < img.Width; ++x) {
            std::uint8_t* d = &img.Pixels[(std::size_t(y) * std::size_t(img.Width) + std::size_t(x)) * 3];
            TIERgbTriple t;
            if (b.PixelType() == ie1Bit) {
                const std::uint8_t v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                t = {v, v, v};
            } else if (b.PixelType() == ie8Palette) {
                t = b.PaletteEntry(row[x]);
            } else {
                t = {row[x * 3], row[x * 3 + 1], row[x * 3 + 2]};
            }
            d[0] = t.r, d[1] = t.g, d[2] = t.b;
        }
    }
    return img;
}

// ---- the LZW decoder on its own

struct TDecodeResult {
    Bytes Pixels;
    bool Failed;
    bool AfterTerminator;
};

TDecodeResult Decode(const Bytes& Block, int Width, int Height, bool Interlaced = false,
                     std::uint8_t Fill = 0xEE) {
    Bytes file = Block;
    file.push_back(';'); // something after the block, to see where the decoder leaves the stream
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    TDecodeResult r{Bytes(std::size_t(Width) * std::size_t(Height), Fill), false, false};
    GifLzwDecode(s, Height, Width, r.Pixels.data(), Interlaced);
    r.Failed = s.Position() == 0;
    r.AfterTerminator = s.Position() == std::int64_t(Block.size());
    return r;
}

Bytes Pattern(const std::string& Kind, std::size_t Count, int Colours) {
    Bytes p(Count);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < Count; ++i) {
        if (Kind == "random")
            p[i] = std::uint8_t(rng() % unsigned(Colours));
        else if (Kind == "constant")
            p[i] = std::uint8_t(Colours - 1);
        else
            p[i] = std::uint8_t((i / 7) % std::size_t(Colours)); // "stripes": repeats that fill the table
    }
    return p;
}

struct TRoundTripCase {
    const char* Name;
    int MinCodeSize;
    const char* Kind;
    int Width, Height;
    bool DeferredClear;
    bool InitialClear;
};

const TRoundTripCase kRoundTrips[] = {
    {"TwoBitRandom", 2, "random", 37, 11, false, true},
    // Enough random data to grow the codes to 12 bits and clear the full table several times.
    {"FourBitRandomFillsTable", 4, "random", 300, 200, false, true},
    {"EightBitRandom", 8, "random", 256, 256, false, true},
    // Long constant runs make every new code the one not yet in the table (the KwKwK case).
    {"ConstantRuns", 2, "constant", 500, 300, false, true},
    {"StripesGrowAllWidths", 3, "stripes", 640, 480, false, true},
    {"NineBitCodeSize", 9, "random", 64, 64, false, true},
    {"ElevenBitCodeSize", 11, "stripes", 64, 64, false, true},
    {"FullTableWithoutClear", 4, "random", 300, 200, true, true},
    {"NoInitialClear", 2, "random", 20, 20, false, false},
};

class GifLzwRoundTrip : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(GifLzwRoundTrip, DecodesWhatWasEncoded) {
    const TRoundTripCase& c = GetParam();
    const Bytes pixels =
        Pattern(c.Kind, std::size_t(c.Width) * std::size_t(c.Height), 1 << std::min(c.MinCodeSize, 8));
    const Bytes block =
        ImageData(c.MinCodeSize, LzwEncode(pixels, c.MinCodeSize, c.DeferredClear, c.InitialClear));
    const TDecodeResult r = Decode(block, c.Width, c.Height);
    EXPECT_FALSE(r.Failed);
    EXPECT_TRUE(r.AfterTerminator);
    EXPECT_EQ(r.Pixels, pixels);
}

INSTANTIATE_TEST_SUITE_P(Lzw, GifLzwRoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.Name); });

// Hand-made code streams, minimum code size 2: clear 4, end 5, first free code 6, 3-bit codes.
struct TCodeCase {
    const char* Name;
    int MinCodeSize;
    Bytes Data;
    bool Fails;
    Bytes Pixels; // 4 x 1 result, 0xEE where nothing was written
};

const TCodeCase kCodeCases[] = {
    {"LiteralsThenEnd", 2, RawCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}), false, {1, 2, 3, 0xEE}},
    // 1, then 6: the code not yet in the table, "1" + its own first byte.
    {"NextFreeCode", 2, RawCodes({{4, 3}, {1, 3}, {6, 3}, {5, 3}}), false, {1, 1, 1, 0xEE}},
    {"CodeBeyondTable", 2, RawCodes({{4, 3}, {1, 3}, {7, 3}, {5, 3}}), true, {}},
    {"FirstCodeBeyondLiteralsWithoutClear", 2, RawCodes({{6, 3}, {5, 3}}), true, {}},
    {"RepeatedClearsAreSkipped",
     2,
     RawCodes({{4, 3}, {4, 3}, {4, 3}, {2, 3}, {5, 3}}),
     false,
     {2, 0xEE, 0xEE, 0xEE}},
    // The first code after a clear at or beyond the free codes counts as 0.
    {"CodeAfterClearBeyondTableIsZero",
     2,
     RawCodes({{4, 3}, {6, 3}, {1, 3}, {5, 3}}),
     false,
     {0, 1, 0xEE, 0xEE}},
    {"EndAfterClearNoDataLeft", 2, RawCodes({{4, 3}, {5, 3}}), false, {0xEE, 0xEE, 0xEE, 0xEE}},
    {"EndAfterClearWithDataLeft",
     2,
     [] {
         Bytes d = RawCodes({{4, 3}, {5, 3}});
         d.push_back(0x55);
         return d;
     }(),
     true,
     {}},
    // Clear, then 4 pixels in 3-bit codes: after two additions (6, 7) the width becomes 4 bits.
    {"CodeWidthGrows", 2, RawCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {6, 4}, {5, 4}}), false, {1, 2, 3, 1}},
    // Sizes outside 2 to 8 that common encoders write and common decoders read.
    {"MinimumCodeSizeOne", 1, RawCodes({{2, 2}, {1, 2}, {0, 2}, {3, 2}}), false, {1, 0, 0xEE, 0xEE}},
    // Its table starts at the 2-bit limit, and the codes stay 2 bits wide.
    {"MinimumCodeSizeOneStaysTwoBits",
     1,
     RawCodes({{2, 2}, {1, 2}, {0, 2}, {1, 2}, {0, 2}, {3, 2}}),
     false,
     {1, 0, 1, 0}},
    {"MinimumCodeSizeTen", 10, RawCodes({{1024, 11}, {1, 11}, {1025, 11}}), false, {1, 0xEE, 0xEE, 0xEE}},
    {"MinimumCodeSizeEleven",
     11,
     RawCodes({{2048, 12}, {1, 12}, {0, 12}, {2049, 12}}),
     false,
     {1, 0, 0xEE, 0xEE}},
    {"MinimumCodeSizeZero", 0, RawCodes({{1, 1}, {0, 1}, {2, 1}}), true, {}},
    {"MinimumCodeSizeTwelve", 12, RawCodes({{4096, 13}, {1, 13}, {4097, 13}}), true, {}},
    {"DataStopsMidCode", 2, Bytes{0x0C}, false, {1, 0xEE, 0xEE, 0xEE}},
};

class GifLzwCodes : public ::testing::TestWithParam<TCodeCase> {};

TEST_P(GifLzwCodes, FollowsTheCodeRules) {
    const TCodeCase& c = GetParam();
    const TDecodeResult r = Decode(ImageData(c.MinCodeSize, c.Data), 4, 1);
    EXPECT_EQ(r.Failed, c.Fails);
    if (!c.Fails) {
        EXPECT_TRUE(r.AfterTerminator);
        EXPECT_EQ(r.Pixels, c.Pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Lzw, GifLzwCodes, ::testing::ValuesIn(kCodeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Literal codes of a minimum code size of 1, never cleared: past 4,096 codes the table is full and
// decoding goes on within it.
TEST(GifLzw, MinimumCodeSizeOneLongerThanTheTable) {
    std::vector<std::pair<int, int>> codes = {{2, 2}};
    Bytes expected;
    for (int i = 0; i < 5000; ++i) {
        codes.push_back({i % 3 == 0, 2});
        expected.push_back(std::uint8_t(i % 3 == 0));
    }
    codes.push_back({3, 2});
    TBitWriter w;
    for (auto [code, width] : codes) w.Put(code, width);
    const TDecodeResult r = Decode(ImageData(1, w.Data), 100, 50);
    EXPECT_FALSE(r.Failed);
    EXPECT_EQ(r.Pixels, expected);
}

TEST(GifLzw, EmptyDataSucceedsWithoutWriting) {
    const TDecodeResult r = Decode(Bytes{2, 0}, 2, 1);
    EXPECT_FALSE(r.Failed);
    EXPECT_EQ(r.Pixels, (Bytes{0xEE, 0xEE}));
}

TEST(GifLzw, PixelsBeyondTheFrameAreDropped) {
    const Bytes pixels = Pattern("random", 30, 4);
    const TDecodeResult r = Decode(ImageData(2, LzwEncode(pixels, 2)), 5, 2);
    EXPECT_FALSE(r.Failed);
    EXPECT_EQ(r.Pixels, Bytes(pixels.begin(), pixels.begin() + 10));
}

struct TInterlaceCase {
    int Height;
    std::vector<int> Rows; // stored rows in the order they arrive
};

class GifLzwInterlace : public ::testing::TestWithParam<TInterlaceCase> {};

TEST_P(GifLzwInterlace, VisitsRowsInThePassOrder) {
    const TInterlaceCase& c = GetParam();
    Bytes sequence;
    for (int i = 0; i < c.Height; ++i) sequence.push_back(std::uint8_t(i));
    const TDecodeResult r = Decode(ImageData(8, LzwEncode(sequence, 8)), 1, c.Height, true);
    ASSERT_FALSE(r.Failed);
    for (int i = 0; i < c.Height; ++i)
        EXPECT_EQ(r.Pixels[std::size_t(c.Rows[std::size_t(i)])], i) << "arrival " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Lzw, GifLzwInterlace,
    ::testing::Values(TInterlaceCase{10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}}, TInterlaceCase{1, {0}},
                      TInterlaceCase{2, {0, 1}}, TInterlaceCase{3, {0, 2, 1}},
                      TInterlaceCase{5, {0, 4, 2, 1, 3}},
                      TInterlaceCase{17, {0, 8, 16, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15}}));

// ---- the reader

TEST(GifReader, ThreeImagesDecodeTheChosenOneWithItsOwnControl) {
    const Bytes file = TGifBuilder(4, 2, kFour)
                           .Control(1, false, 0, 11)
                           .Image(4, 2, Bytes(8, 0))
                           .Control(2, true, 3, 22)
                           .Image(2, 1, Bytes{3, 1}, 2, false, {}, 1, 1)
                           .Control(3, false, 2, 33) // describes the third image only
                           .Image(4, 2, Bytes(8, 2))
                           .Trailer();
    TGifRead r(1);
    r.Run(file);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.FrameCount, 3);
    EXPECT_EQ(r.Params.GifFrameCount, 3);
    EXPECT_EQ(r.Params.GifDelay, 22);
    EXPECT_EQ(r.Params.GifDisposal, 2);
    EXPECT_TRUE(r.Params.GifHasTransparency);
    EXPECT_EQ(r.Params.GifTransparentColor, CreateRGB(255, 255, 0));
    EXPECT_EQ(r.Params.GifFrameLeft, 1);
    EXPECT_EQ(r.Params.GifFrameTop, 1);
    ASSERT_EQ(r.Bitmap.Width(), 2);
    ASSERT_EQ(r.Bitmap.Height(), 1);
    EXPECT_EQ(ToRgb(r.Bitmap).Pixels, (Bytes{255, 255, 0, 0, 255, 0}));
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetPixel(0, 0), 0);
    EXPECT_EQ(r.Mask->GetPixel(1, 0), 255);
}

TEST(GifReader, ControlAfterTheChosenImageIsNotUsed) {
    const Bytes file = TGifBuilder(2, 1, kFour)
                           .Image(2, 1, Bytes{0, 1})
                           .Control(2, true, 0, 50)
                           .Image(2, 1, Bytes{0, 1})
                           .Trailer();
    TGifRead r(0);
    r.Run(file);
    EXPECT_EQ(r.Params.GifDelay, 0);
    EXPECT_FALSE(r.Params.GifHasTransparency);
    EXPECT_EQ(r.Params.GifDisposal, 0);
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetPixel(0, 0), 255);
}

TEST(GifReader, TransparentIndexWithoutTheFlagMakesNothingTransparent) {
    const Bytes file = TGifBuilder(2, 1, kFour).Control(0, false, 0, 0).Image(2, 1, Bytes{0, 0}).Trailer();
    TGifRead r;
    r.Run(file);
    ASSERT_TRUE(r.Mask);
    EXPECT_EQ(r.Mask->GetPixel(0, 0), 255);
    EXPECT_EQ(r.Mask->GetPixel(1, 0), 255);
}

TEST(GifReader, CommentsKeepNonEmptyTextsInFileOrder) {
    const Bytes file = TGifBuilder(1, 1, kBlackWhite)
                           .Comment({"first", std::string("cut\0here", 8), std::string("\0x", 2)})
                           .Image(1, 1, Bytes{1})
                           .Comment({"after"})
                           .Trailer();
    TGifRead r;
    r.Run(file);
    EXPECT_EQ(r.Params.GifComments, (std::vector<std::string>{"first", "cut", "after"}));
}

TEST(GifReader, TruncatedDataLeavesTheBackgroundIndex) {
    // Only the first 4 of 12 pixels are coded (exactly two bytes), and the stream ends there.
    Bytes data = ImageData(2, RawCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}}));
    data.pop_back();
    const Bytes file = TGifBuilder(4, 3, kFour, 2).Descriptor(0, 0, 4, 3, false).Raw(data).Open();
    TGifRead r(0, true);
    r.Run(file);
    EXPECT_FALSE(r.Aborting);
    ASSERT_EQ(r.Bitmap.PixelType(), ie8Palette);
    EXPECT_EQ(r.Indexes(), (Bytes{0, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2}));
}

struct TFormatCase {
    const char* Name;
    std::vector<Rgb> Table;
    bool Native;
    TIEPixelFormat Format;
};

class GifPixelFormat : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(GifPixelFormat, FollowsTheColourTable) {
    const TFormatCase& c = GetParam();
    const Bytes pixels = {1, 0, 1, 1, 0, 0, 1, 0, 1}; // nine wide: the ninth pixel is in a second byte
    TGifRead r(0, c.Native);
    r.Run(TGifBuilder(9, 1, c.Table).Image(9, 1, pixels).Trailer());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelType(), c.Format);
    EXPECT_EQ(r.Params.BitsPerSample, 1);
    EXPECT_EQ(r.Params.PaletteCount, 2);
    const testsupport::RgbImage img = ToRgb(r.Bitmap);
    for (int x = 0; x < 9; ++x) {
        const Rgb& want = c.Table[pixels[std::size_t(x)]];
        EXPECT_EQ(img.At(x, 0)[0], want.R) << x;
        EXPECT_EQ(img.At(x, 0)[2], want.B) << x;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reader, GifPixelFormat,
    ::testing::Values(TFormatCase{"BlackWhiteIsOneBit", kBlackWhite, false, ie1Bit},
                      TFormatCase{"WhiteBlackIsRgb", {{255, 255, 255}, {0, 0, 0}}, false, ie24Rgb},
                      TFormatCase{"TwoColoursNative", {{9, 8, 7}, {1, 2, 3}}, true, ie8Palette},
                      TFormatCase{"TwoColoursRgb", {{9, 8, 7}, {1, 2, 3}}, false, ie24Rgb}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(GifReader, LocalTableDecidesTheBitsPerSample) {
    std::vector<Rgb> local(16, Rgb{10, 20, 30});
    TGifRead r;
    r.Run(TGifBuilder(2, 1, kBlackWhite).Image(2, 1, Bytes{15, 0}, 4, false, local).Trailer());
    EXPECT_EQ(r.Params.BitsPerSample, 4);
    EXPECT_EQ(r.Params.PaletteCount, 16);
    EXPECT_EQ(r.Bitmap.PixelType(), ie24Rgb);
}

TEST(GifReader, IndexesBeyondTheTableAreBlack) {
    // A two-colour table, but code size 2 lets the data name index 3.
    TGifRead r;
    r.Run(TGifBuilder(2, 1, {{200, 100, 50}, {7, 7, 7}}).Image(2, 1, Bytes{3, 0}).Trailer());
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(ToRgb(r.Bitmap).Pixels, (Bytes{0, 0, 0, 200, 100, 50}));
}

struct TFailureCase {
    const char* Name;
    Bytes File;
    int FrameCount;
    const char* Reason;
};

class GifReaderFailure : public ::testing::TestWithParam<TFailureCase> {};

TEST_P(GifReaderFailure, AbortsAndKeepsTheBitmap) {
    const TFailureCase& c = GetParam();
    TGifRead r;
    r.Bitmap.Reallocate(3, 3, ie24Rgb);
    r.Run(c.File);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, c.Reason);
    EXPECT_EQ(r.FrameCount, c.FrameCount);
    EXPECT_EQ(r.Bitmap.Width(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, GifReaderFailure,
    ::testing::Values(
        TFailureCase{"NoSignature", Bytes{'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, 0,
                     "not a GIF file"},
        TFailureCase{"EndsAfterHeader", TGifBuilder(1, 1, kBlackWhite).Open(), 0, "no image in the file"},
        TFailureCase{"NoImageBeforeTheTrailer", TGifBuilder(1, 1, kBlackWhite).Trailer(), 0,
                     "no image in the file"},
        TFailureCase{
            "MinimumCodeSizeTwelve",
            TGifBuilder(1, 1, kBlackWhite).Descriptor(0, 0, 1, 1, false).Raw({12, 1, 0x06, 0, ';'}).Open(), 1,
            "damaged LZW data"},
        TFailureCase{"CodeBeyondTable",
                     TGifBuilder(1, 1, kBlackWhite)
                         .Descriptor(0, 0, 4, 1, false)
                         .Raw(ImageData(2, RawCodes({{4, 3}, {1, 3}, {7, 3}})))
                         .Trailer(),
                     1, "damaged LZW data"},
        // 65535 x 65535 pixels cannot come out of a few bytes of LZW data: refused before allocation.
        TFailureCase{"FrameLargerThanItsData",
                     TGifBuilder(1, 1, kBlackWhite)
                         .Descriptor(0, 0, 65535, 65535, false)
                         .Raw(ImageData(2, RawCodes({{4, 3}, {1, 3}})))
                         .Trailer(),
                     1, "image larger than the file can hold"},
        TFailureCase{
            "ZeroWidthFrame",
            TGifBuilder(1, 1, kBlackWhite).Descriptor(0, 0, 0, 4, false).Raw(ImageData(2, {0x4C})).Trailer(),
            1, "image of width or height 0"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- A frame whose data is cut keeps what it holds; the rest is transparent and reported.

// A 2 x 3 frame coded one literal per pixel (indexes 0 1 2 3 0 1), one data byte per sub-block, so
// that cutting the file after n sub-blocks leaves exactly n bytes of codes: 1 byte codes one pixel,
// 2 bytes four, 3 bytes all six.
Bytes CutFrame(bool Interlaced, std::size_t DataBytes) {
    const Bytes codes = RawCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {0, 4}, {1, 4}, {5, 4}});
    Bytes file =
        TGifBuilder(2, 3, kFour).Descriptor(0, 0, 2, 3, Interlaced).Raw(ImageData(2, codes, 1)).Open();
    const std::size_t header = 13 + 12 + 10 + 1; // signature and screen, table, descriptor, code size
    file.resize(header + 2 * DataBytes);
    return file;
}

struct TCutCase {
    const char* Name;
    bool Interlaced;
    std::size_t DataBytes;
    std::vector<int> Alpha; // per pixel, top row first; empty: refused
    int FirstMissing, LastMissing;
};

class GifCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(GifCut, KeepsWhatTheDataHolds) {
    const TCutCase& c = GetParam();
    TGifRead r;
    r.Run(CutFrame(c.Interlaced, c.DataBytes));
    if (c.Alpha.empty()) {
        EXPECT_TRUE(r.Aborting);
        EXPECT_EQ(r.Outcome.Refusal, "data ends before the first row");
        return;
    }
    ASSERT_FALSE(r.Aborting);
    std::vector<int> alpha;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) alpha.push_back(r.Mask->GetPixel(x, y));
    EXPECT_EQ(alpha, c.Alpha);
    EXPECT_EQ(r.Outcome.DataEndsEarly, c.FirstMissing >= 0 || (c.Interlaced && c.DataBytes < 3));
    EXPECT_EQ(r.Outcome.FirstMissingRow, c.FirstMissing);
    EXPECT_EQ(r.Outcome.LastMissingRow, c.LastMissing);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, GifCut,
    ::testing::Values(TCutCase{"InsideTheFirstRow", false, 1, {}, -1, -1},
                      TCutCase{"AfterTwoRows", false, 2, {255, 255, 255, 255, 0, 0}, 2, 2},
                      TCutCase{"AfterTheLastPixel", false, 3, {255, 255, 255, 255, 255, 255}, -1, -1},
                      // Interlaced rows come in the order 0, 2, 1: the middle row is what is missing.
                      TCutCase{"InterlacedAfterTwoRows", true, 2, {255, 255, 0, 0, 255, 255}, -1, -1}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- The logical screen: what composing the frames will take.

TEST(GifReader, AHugeScreenIsCutToWhereItsImagesReach) {
    // A few dozen bytes claiming a 65535 x 65535 screen: composing on it took gigabytes.
    const Bytes file =
        TGifBuilder(65535, 65535, kBlackWhite).Image(2, 3, {0, 1, 1, 0, 0, 1}, 2, false, {}, 1, 0).Trailer();
    for (const bool headerOnly : {false, true}) {
        TGifRead r;
        r.Run(file, headerOnly);
        EXPECT_FALSE(r.Aborting);
        EXPECT_EQ(r.Params.GifScreenWidth, 3);
        EXPECT_EQ(r.Params.GifScreenHeight, 3);
    }
}

// huge-screen.gif, 61 bytes: a 65533 x 65533 screen over two images reaching 6 x 5. Composing on
// the screen it claims took 23 seconds and 8 GB.
TEST(GifReader, TheSixtyOneByteScreenIsCutToItsImages) {
    TGifRead r;
    r.Run(testsupport::ReadFileBytes(std::string(FOLIANTO_TESTDATA_DIR) + "/huge-screen.gif"));
    EXPECT_EQ(r.FrameCount, 2);
    EXPECT_EQ(r.Params.GifScreenWidth, 6);
    EXPECT_EQ(r.Params.GifScreenHeight, 5);
}

TEST(GifReader, ImagesFarOutOnAHugeScreenAreRefused) {
    TGifRead r;
    r.Run(TGifBuilder(65535, 65535, kBlackWhite)
              .Image(2, 2, {0, 1, 1, 0}, 2, false, {}, 60000, 60000)
              .Trailer());
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "image larger than the file can hold");
}

TEST(GifReader, AScreenItsDataCouldFillStaysAsItIs) {
    // 2000 x 2000 with a 100 x 100 sticker in its corner: a real file, not a claim.
    TGifRead r;
    r.Run(TGifBuilder(2000, 2000, kBlackWhite)
              .Image(100, 100, Bytes(10000, 1), 2, false, {}, 1900, 1900)
              .Trailer());
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.GifScreenWidth, 2000);
    EXPECT_EQ(r.Params.GifScreenHeight, 2000);
}

TEST(GifReader, WithoutDecoderTheReadAborts) {
    TGifRead r;
    r.Params.GifLzwDecoder = nullptr;
    const TGifLzwDecoder saved = DefaultGifLzwDecoder;
    DefaultGifLzwDecoder = nullptr;
    r.Run(TGifBuilder(1, 1, kBlackWhite).Image(1, 1, Bytes{1}).Trailer());
    DefaultGifLzwDecoder = saved;
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "GIF decoding is not part of this build");
}

TEST(GifReader, HeaderOnlyFillsFieldsAndCountsWithoutDecoding) {
    TGifRead r(1);
    r.Run(TGifBuilder(10, 20, kFour, 3).Image(1, 1, {0}).Image(7, 5, Bytes(35, 1), 2, true).Trailer(), true);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.FrameCount, 2);
    EXPECT_EQ(r.Params.ImageWidth, 7);
    EXPECT_EQ(r.Params.ImageHeight, 5);
    EXPECT_TRUE(r.Params.GifInterlaced);
    EXPECT_EQ(r.Params.GifScreenWidth, 10);
    EXPECT_EQ(r.Params.GifScreenHeight, 20);
    EXPECT_EQ(r.Params.GifBackgroundColor, CreateRGB(255, 255, 0));
    EXPECT_TRUE(r.Params.GifHasGlobalColorTable);
    EXPECT_EQ(r.Params.GifVersion, "GIF89a");
    EXPECT_EQ(r.Params.HorizontalDpi, DefaultDpiX);
    EXPECT_EQ(r.Params.SamplesPerPixel, 1);
    EXPECT_EQ(r.Bitmap.Width(), 0);
}

TEST(GifReader, AFileWithoutAGlobalTableNamesNoBackground) {
    TGifRead r;
    r.Params.GifHasGlobalColorTable = true; // what an earlier file left
    r.Run(TGifBuilder(1, 1, {}).Image(1, 1, {0}, 2, false, kBlackWhite).Trailer(), true);
    EXPECT_FALSE(r.Params.GifHasGlobalColorTable);
}

TEST(GifReader, FrameIndexBeyondTheLastImageDecodesNothing) {
    TGifRead r(5);
    r.Run(TGifBuilder(1, 1, kBlackWhite).Image(1, 1, {1}).Image(1, 1, {0}).Trailer());
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.FrameCount, 2);
    EXPECT_FALSE(r.Mask);
}

TEST(GifReader, FrameCountOfFileAndStream) {
    const Bytes file = TGifBuilder(2, 2, kFour)
                           .Comment({"x"})
                           .Image(2, 2, {0, 1, 2, 3})
                           .Control(0, false, 0, 5)
                           .Image(1, 1, {1}, 2, false, kFour)
                           .Raw({0x21, 0xFF, 3, 'a', 'b', 'c', 0}) // an application extension
                           .Image(2, 2, {3, 3, 3, 3})
                           .Trailer();
    testsupport::TempDir dir;
    testsupport::WriteFileBytes(dir.File("three.gif"), file);
    EXPECT_EQ(GetGifFrameCount(dir.File("three.gif")), 3);
    TReadOnlyMemoryStream s(file.data(), std::int64_t(file.size()));
    EXPECT_EQ(CountGifFrames(s), 3);
    const Bytes notGif = {'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TReadOnlyMemoryStream n(notGif.data(), std::int64_t(notGif.size()));
    EXPECT_EQ(CountGifFrames(n), 0);
}

struct TDetectCase {
    const char* Name;
    Bytes Data;
    bool IsGif;
};

class GifContentCheck : public ::testing::TestWithParam<TDetectCase> {};

TEST_P(GifContentCheck, NeedsMoreThanThirteenBytes) {
    const TDetectCase& c = GetParam();
    TReadOnlyMemoryStream s(c.Data.data(), std::int64_t(c.Data.size()));
    EXPECT_EQ(IsGifStream(s), c.IsGif);
    EXPECT_EQ(s.Position(), 0);
}

Bytes GifPrefix(std::size_t Size, char Third = 'F') {
    Bytes b = {'G', 'I', std::uint8_t(Third), '8', '9', 'a'};
    b.resize(Size, 0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(Detect, GifContentCheck,
                         ::testing::Values(TDetectCase{"TwelveBytes", GifPrefix(12), false},
                                           TDetectCase{"ThirteenBytes", GifPrefix(13), false},
                                           TDetectCase{"FourteenBytes", GifPrefix(14), true},
                                           TDetectCase{"NotGif", GifPrefix(40, 'X'), false}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- corpus

// Pillow's first frame, for the few files ImageMagick declines (it refuses 65535-pixel rows and a
// minimum code size of 1).
bool DecodeWithPillow(const std::string& Path, testsupport::RgbImage& Image) {
    testsupport::TempDir dir;
    const std::string out = dir.File("ref.ppm");
    const std::string cmd = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                            "Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' " +
                            testsupport::ShellQuote(Path) + " " + testsupport::ShellQuote(out) +
                            " >/dev/null 2>&1";
    return testsupport::RunCommand(cmd) == 0 && testsupport::ReadPnm(out, Image);
}

TEST(GifCorpus, GoodFilesMatchTheReferenceFirstFrame) {
    FOLIANTO_REQUIRE_CORPUS();
    if (!testsupport::ToolAvailable("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    int compared = 0;
    for (const auto& e : testsupport::CorpusFiles("gif")) {
        if (e.IsBad()) continue;
        SCOPED_TRACE(e.Path);
        const std::string path = testsupport::CorpusDir() + "/" + e.Path;
        TGifRead r;
        r.Run(testsupport::ReadFileBytes(path));
        testsupport::RgbImage ref;
        if (!testsupport::DecodeWithImageMagick(path, ref, 0) && !DecodeWithPillow(path, ref)) {
            EXPECT_EQ(r.FrameCount, 0) << "no reference decode, yet the file has an image";
            continue;
        }
        EXPECT_FALSE(r.Aborting);
        const testsupport::RgbImage ours = ToRgb(r.Bitmap);
        EXPECT_EQ(ours.Width, ref.Width);
        EXPECT_EQ(ours.Height, ref.Height);
        if (r.Aborting || ours.Width != ref.Width || ours.Height != ref.Height) continue;
        int mismatches = 0;
        for (int y = 0; y < ours.Height; ++y)
            for (int x = 0; x < ours.Width; ++x) {
                if (r.Mask && r.Mask->GetPixel(x, y) == 0) continue; // colour under transparency is open
                if (std::memcmp(ours.At(x, y), ref.At(x, y), 3) != 0) ++mismatches;
            }
        EXPECT_EQ(mismatches, 0);
        ++compared;
    }
    EXPECT_GT(compared, 100);
}

// Hostile files that are read without an abort, and why; every other bad file must set Aborting.
constexpr const char* kTruncated = "data ends early: the pixels it does not reach are transparent";
constexpr const char* kExtraData = "data past the last pixel is not decoded";
constexpr const char* kOutsideTable = "indexes outside the colour table show black";
constexpr const char* kTolerated = "well-formed enough to decode";
const std::map<std::string, std::string> kBadFilesThatDecode = {
    {"gif/commons-imaging/bad/clusterfuzz-5914278319226880.gif", kTruncated},
    {"gif/libgd-conformance/invalid/bad_magic.gif", "only the three letters GIF are checked"},
    {"gif/libgd-conformance/invalid/no_trailer.gif", "the end of the stream counts as the trailer"},
    {"gif/libgd/bug000498.gif", kTolerated},
    {"gif/libgd/bug00060.gif", kTolerated},
    {"gif/libgd/bug00066.gif", kTolerated},
    {"gif/libgd/unitialized_memory_read.gif", "its data fills the frame"},
    {"gif/pillow/decompression_bomb_extents.gif", kExtraData},
    {"gif/pillow/no_palette.gif", kOutsideTable},
    {"gif/pygif-suite/extra-data.gif", kExtraData},
    {"gif/pygif-suite/extra-pixels.gif", kExtraData},
    {"gif/pygif-suite/invalid-colors.gif", kOutsideTable},
    {"gif/pygif-suite/missing-pixels.gif", "the frame is whole; it does not cover the screen"},
    {"gif/wuffs/artificial/empty-palette.gif", kOutsideTable},
    {"gif/wuffs/artificial/frame-out-of-bounds.gif", kTolerated},
    {"gif/wuffs/artificial/pixel-data-too-much-bad-lzw.gif", kExtraData},
    {"gif/wuffs/hippopotamus.interlaced.truncated.gif", kTruncated},
};
// Bad files whose refusal says something more precise than any other.
const std::map<std::string, std::string> kBadFilesRefused = {
    {"gif/libgd-conformance/invalid/truncated_lzw.gif", "data ends before the first row"},
    {"gif/libgd/bug00005_0.gif", "no image in the file"},
    {"gif/libgd/php_bug_75571.gif", "data ends before the first row"},
    {"gif/pygif-suite/max-size.gif", "no image in the file"},
    {"gif/pygif-suite/zero-height.gif", "no image in the file"},
    {"gif/pygif-suite/zero-size.gif", "no image in the file"},
    {"gif/pygif-suite/zero-width.gif", "no image in the file"},
    {"gif/wuffs/artificial/no-frames.gif", "no image in the file"},
    {"gif/wuffs/artificial/pixel-data-none.gif", "data ends before the first row"},
    {"gif/wuffs/artificial/pixel-data-not-enough.gif", "data ends before the first row"},
};

TEST(GifCorpus, BadFilesAbortOrDecodeCleanly) {
    FOLIANTO_REQUIRE_CORPUS();
    int seen = 0;
    for (const auto& e : testsupport::CorpusFiles("gif")) {
        if (!e.IsBad()) continue;
        SCOPED_TRACE(e.Path);
        ++seen;
        const Bytes file = testsupport::ReadFileBytes(testsupport::CorpusDir() + "/" + e.Path);
        const auto start = std::chrono::steady_clock::now();
        TGifRead r;
        r.Run(file);
        const auto known = kBadFilesThatDecode.find(e.Path);
        EXPECT_EQ(r.Aborting, known == kBadFilesThatDecode.end())
            << (known != kBadFilesThatDecode.end() ? known->second : "");
        if (!r.Aborting && r.FrameCount > 0) {
            EXPECT_EQ(r.Bitmap.Width(), r.Params.ImageWidth);
            EXPECT_EQ(r.Bitmap.Height(), r.Params.ImageHeight);
            EXPECT_EQ(r.Outcome.DataEndsEarly, known->second == std::string(kTruncated));
        }
        if (const auto refused = kBadFilesRefused.find(e.Path); refused != kBadFilesRefused.end()) {
            EXPECT_EQ(r.Outcome.Refusal, refused->second);
        }
        for (int frame = 1; frame < 3; ++frame) TGifRead(frame).Run(file); // later frames end cleanly too
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
    EXPECT_GT(seen, 40);
}

} // namespace
