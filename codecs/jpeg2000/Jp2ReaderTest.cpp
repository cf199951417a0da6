#include "codecs/jpeg2000/Jp2Reader.h"

#include "codecs/jpeg2000/J2kImage.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/params/IOParams.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include <openjpeg.h>

namespace {

using Rgb = std::array<std::uint8_t, 3>;

// ---- A lossless encoder for hand-made images (OpenJPEG's, into memory) ----

struct ComponentLayout {
    int Dx = 1, Dy = 1, Precision = 8;
    bool Signed = false;
    bool Alpha = false;
    std::function<int(int col, int row)> Sample; // in component coordinates
};

struct J2kLayout {
    int Width = 5, Height = 3, X0 = 0, Y0 = 0;
    OPJ_COLOR_SPACE ColorSpace = OPJ_CLRSPC_SRGB;
    bool Jp2 = true;
    std::vector<ComponentLayout> Components;
};

struct MemorySink {
    std::vector<std::uint8_t> Bytes;
    std::size_t Pos = 0;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<MemorySink*>(user);
    if (s->Bytes.size() < s->Pos + n) s->Bytes.resize(s->Pos + n);
    std::memcpy(s->Bytes.data() + s->Pos, buffer, n);
    s->Pos += n;
    return n;
}
OPJ_OFF_T SinkSkip(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<MemorySink*>(user);
    s->Pos = std::size_t(std::int64_t(s->Pos) + n);
    if (s->Bytes.size() < s->Pos) s->Bytes.resize(s->Pos);
    return n;
}
OPJ_BOOL SinkSeek(OPJ_OFF_T pos, void* user) {
    static_cast<MemorySink*>(user)->Pos = std::size_t(pos);
    return OPJ_TRUE;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return (a + b - 1) / b;
}
int CompWidth(const J2kLayout& s, const ComponentLayout& c) {
    return int(CeilDiv(s.X0 + s.Width, c.Dx) - CeilDiv(s.X0, c.Dx));
}
int CompHeight(const J2kLayout& s, const ComponentLayout& c) {
    return int(CeilDiv(s.Y0 + s.Height, c.Dy) - CeilDiv(s.Y0, c.Dy));
}

std::vector<std::uint8_t> EncodeJ2k(const J2kLayout& s) {
    std::vector<opj_image_cmptparm_t> parms(s.Components.size());
    for (std::size_t k = 0; k < parms.size(); ++k) {
        const ComponentLayout& c = s.Components[k];
        parms[k] = {};
        parms[k].dx = OPJ_UINT32(c.Dx);
        parms[k].dy = OPJ_UINT32(c.Dy);
        parms[k].w = OPJ_UINT32(CompWidth(s, c));
        parms[k].h = OPJ_UINT32(CompHeight(s, c));
        parms[k].x0 = OPJ_UINT32(CeilDiv(s.X0, c.Dx));
        parms[k].y0 = OPJ_UINT32(CeilDiv(s.Y0, c.Dy));
        parms[k].prec = OPJ_UINT32(c.Precision);
        parms[k].sgnd = c.Signed ? 1 : 0;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(parms.size()), parms.data(), s.ColorSpace);
    image->x0 = OPJ_UINT32(s.X0);
    image->y0 = OPJ_UINT32(s.Y0);
    image->x1 = OPJ_UINT32(s.X0 + s.Width);
    image->y1 = OPJ_UINT32(s.Y0 + s.Height);
    for (std::size_t k = 0; k < parms.size(); ++k) {
        const ComponentLayout& c = s.Components[k];
        image->comps[k].alpha = c.Alpha ? 1 : 0;
        for (OPJ_UINT32 y = 0; y < parms[k].h; ++y)
            for (OPJ_UINT32 x = 0; x < parms[k].w; ++x)
                image->comps[k].data[y * parms[k].w + x] = c.Sample(int(x), int(y));
    }
    opj_cparameters_t p;
    opj_set_default_encoder_parameters(&p);
    p.tcp_numlayers = 1;
    p.tcp_rates[0] = 0;
    p.cp_disto_alloc = 1;
    p.numresolution = 1;
    p.tcp_mct = 0;
    p.image_offset_x0 = s.X0;
    p.image_offset_y0 = s.Y0;
    opj_codec_t* codec = opj_create_compress(s.Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    MemorySink sink;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, SinkWrite);
    opj_stream_set_skip_function(stream, SinkSkip);
    opj_stream_set_seek_function(stream, SinkSeek);
    const bool ok = opj_setup_encoder(codec, &p, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(ok) << "OpenJPEG could not encode the test image";
    return ok ? sink.Bytes : std::vector<std::uint8_t>{};
}

// Overwrites the content of the first box of the given type with bytes of the same length.
void PatchBox(std::vector<std::uint8_t>& bytes, const char* type, const std::vector<std::uint8_t>& content) {
    for (std::size_t i = 0; i + 4 + content.size() <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], type, 4) == 0) {
            std::memcpy(&bytes[i + 4], content.data(), content.size());
            return;
        }
    ADD_FAILURE() << "no " << type << " box";
}

// ---- Reading ----

struct Loaded {
    TIEBitmap Bitmap;
    std::unique_ptr<TIEMask> Mask;
    TIOParamsVals Params;
    bool Aborting = false;
    std::vector<int> Percents;
    TIELoadOutcome Outcome;
};

void Load(const std::vector<std::uint8_t>& bytes, Loaded& r, bool headerOnly = false, int abortAtCall = 0) {
    r.Bitmap.SetLocation(ieHeap);
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    TIEProgressRecord progress(
        [&r, abortAtCall](void*, int percent) {
            r.Percents.push_back(percent);
            if (abortAtCall && int(r.Percents.size()) == abortAtCall) r.Aborting = true;
        },
        nullptr, r.Aborting);
    ReadJp2Stream(stream, r.Bitmap, r.Params, headerOnly, progress, r.Mask);
    r.Outcome = progress.Outcome;
}

Rgb PixelOf(TIEBitmap& b, int x, int y) {
    const std::uint8_t* row = b.RowPointer(y);
    if (b.PixelType() == ie1Bit) {
        const std::uint8_t v = (row[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
        return {v, v, v};
    }
    return {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]};
}

// The sample of component c that covers image pixel (x, y) on the reference grid.
int CoveringSample(const J2kLayout& s, const ComponentLayout& c, int x, int y) {
    const std::int64_t col = std::max<std::int64_t>(0, (s.X0 + x) / c.Dx - CeilDiv(s.X0, c.Dx));
    const std::int64_t row = std::max<std::int64_t>(0, (s.Y0 + y) / c.Dy - CeilDiv(s.Y0, c.Dy));
    return c.Sample(int(std::min<std::int64_t>(col, CompWidth(s, c) - 1)),
                    int(std::min<std::int64_t>(row, CompHeight(s, c) - 1)));
}

// ---- Content checks ----

struct SignatureCase {
    const char* Name;
    std::vector<std::uint8_t> Bytes;
    bool Jp2, J2k;
};
class J2kSignature : public testing::TestWithParam<SignatureCase> {};

TEST_P(J2kSignature, RecognisesBothKindsAndRestoresPosition) {
    std::vector<std::uint8_t> bytes = {0x55, 0x55};
    bytes.insert(bytes.end(), GetParam().Bytes.begin(), GetParam().Bytes.end());
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    s.SetPosition(2);
    EXPECT_EQ(IsJp2Stream(s), GetParam().Jp2);
    EXPECT_EQ(s.Position(), 2);
    EXPECT_EQ(IsJ2kStream(s), GetParam().J2k);
    EXPECT_EQ(s.Position(), 2);
}

const SignatureCase kSignatures[] = {
    {"Jp2Box", {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A}, true, false},
    {"Jp2BoxDamaged", {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0B}, false, false},
    {"Jp2BoxShort", {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87}, false, false},
    {"CodeStream", {0xFF, 0x4F, 0xFF, 0x51, 0x00}, false, true},
    {"CodeStreamWithoutSiz", {0xFF, 0x4F, 0xFF, 0x52, 0x00}, false, false},
    {"CodeStreamShort", {0xFF, 0x4F, 0xFF}, false, false},
};
INSTANTIATE_TEST_SUITE_P(J2k, J2kSignature, testing::ValuesIn(kSignatures),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(Jp2Reader, NeitherSignatureAborts) {
    Loaded r;
    Load({0xFF, 0x4F, 0xFF, 0x52, 0, 0, 0, 0, 0, 0, 0, 0}, r);
    EXPECT_TRUE(r.Aborting);
}

// ---- Decoding ----

ComponentLayout Comp(std::function<int(int, int)> f, int prec = 8, int dx = 1, int dy = 1,
                     bool sgnd = false) {
    ComponentLayout c;
    c.Sample = std::move(f);
    c.Precision = prec;
    c.Dx = dx;
    c.Dy = dy;
    c.Signed = sgnd;
    return c;
}

struct DecodeCase {
    const char* Name;
    std::function<J2kLayout()> Make;
    TIEPixelFormat Format;
    int BitsPerSample, SamplesPerPixel;
    // The expected pixel, from the components' samples covering it.
    std::function<Rgb(const std::vector<int>& samples)> Expect;
};

class J2kDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(J2kDecode, PixelsFollowComponents) {
    const DecodeCase& c = GetParam();
    const J2kLayout layout = c.Make();
    Loaded r;
    Load(EncodeJ2k(layout), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.BitsPerSample, c.BitsPerSample);
    EXPECT_EQ(r.Params.SamplesPerPixel, c.SamplesPerPixel);
    EXPECT_EQ(r.Params.ImageWidth, layout.Width);
    EXPECT_EQ(r.Params.ImageHeight, layout.Height);
    EXPECT_EQ(r.Params.HorizontalDpi, 300);
    ASSERT_EQ(r.Bitmap.PixelType(), c.Format);
    ASSERT_EQ(r.Bitmap.Width(), layout.Width);
    ASSERT_EQ(r.Bitmap.Height(), layout.Height);
    for (int y = 0; y < layout.Height; ++y)
        for (int x = 0; x < layout.Width; ++x) {
            std::vector<int> samples;
            for (const ComponentLayout& comp : layout.Components)
                samples.push_back(CoveringSample(layout, comp, x, y));
            ASSERT_EQ(PixelOf(r.Bitmap, x, y), c.Expect(samples)) << x << "," << y;
        }
}

std::uint8_t Clamp(int v) {
    return std::uint8_t(std::clamp(v, 0, 255));
}

// Reference conversion, in the same single-precision terms the tables are defined by.
Rgb FromYCbCr(int y, int cb, int cr) {
    const float kr = 0.299f, kg = 0.587f, kb = 0.114f;
    const auto n = [](float v) { return int(std::nearbyint(v)); };
    const float crR = 2 - 2 * kr, cbB = 2 - 2 * kb;
    const int r = y + n(crR * float(cr - 128));
    const int g = y - n(kb * cbB / kg * float(cb - 128)) - n(kr * crR / kg * float(cr - 128));
    const int b = y + n(cbB * float(cb - 128));
    return {Clamp(r), Clamp(g), Clamp(b)};
}

const DecodeCase kDecode[] = {
    {"Grey12BitKeepsTopBits",
     [] {
         J2kLayout s;
         s.ColorSpace = OPJ_CLRSPC_GRAY;
         s.Components = {Comp([](int x, int y) { return (x * 977 + y * 131) % 4096; }, 12)};
         return s;
     },
     ie24Rgb, 12, 1,
     [](const std::vector<int>& v) {
         return Rgb{std::uint8_t(v[0] >> 4), std::uint8_t(v[0] >> 4), std::uint8_t(v[0] >> 4)};
     }},
    {"Grey1BitIsOneBit",
     [] {
         J2kLayout s;
         s.Width = 11;
         s.ColorSpace = OPJ_CLRSPC_GRAY;
         s.Components = {Comp([](int x, int y) { return (x + y) % 3 == 0; }, 1)};
         return s;
     },
     ie1Bit, 1, 1,
     [](const std::vector<int>& v) {
         return v[0] ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
     }},
    {"Grey4BitReachesFullScale",
     [] {
         J2kLayout s;
         s.Width = 16;
         s.Height = 1;
         s.ColorSpace = OPJ_CLRSPC_GRAY;
         s.Components = {Comp([](int x, int) { return x; }, 4)};
         return s;
     },
     ie24Rgb, 4, 1,
     [](const std::vector<int>& v) {
         return Rgb{std::uint8_t(v[0] * 17), std::uint8_t(v[0] * 17), std::uint8_t(v[0] * 17)};
     }},
    {"SignedGreyIsCentred",
     [] {
         J2kLayout s;
         s.Width = 8;
         s.Height = 2;
         s.ColorSpace = OPJ_CLRSPC_GRAY;
         s.Components = {Comp([](int x, int y) { return -128 + (x + 8 * y) * 17; }, 8, 1, 1, true)};
         return s;
     },
     ie24Rgb, 8, 1,
     [](const std::vector<int>& v) {
         return Rgb{std::uint8_t(v[0] + 128), std::uint8_t(v[0] + 128), std::uint8_t(v[0] + 128)};
     }},
    {"RgbCodeStreamWithoutColourTypes",
     [] {
         J2kLayout s;
         s.Jp2 = false;
         s.ColorSpace = OPJ_CLRSPC_UNSPECIFIED;
         s.Components = {Comp([](int x, int) { return 10 + x; }), Comp([](int, int y) { return 100 + y; }),
                         Comp([](int x, int y) { return 200 + x + y; })};
         return s;
     },
     ie24Rgb, 8, 3,
     [](const std::vector<int>& v) {
         return Rgb{std::uint8_t(v[0]), std::uint8_t(v[1]), std::uint8_t(v[2])};
     }},
    {"YCbCr420MapsToHalfCoordinates",
     [] {
         J2kLayout s;
         s.Width = 7;
         s.Height = 5;
         s.ColorSpace = OPJ_CLRSPC_SYCC;
         s.Components = {Comp([](int x, int y) { return 60 + 9 * x + 17 * y; }),
                         Comp([](int x, int y) { return 30 + 40 * x + 11 * y; }, 8, 2, 2),
                         Comp([](int x, int y) { return 220 - 25 * x - 31 * y; }, 8, 2, 2)};
         return s;
     },
     ie24Rgb, 8, 3, [](const std::vector<int>& v) { return FromYCbCr(v[0], v[1], v[2]); }},
    {"YCbCr420WithImageOffset",
     [] {
         J2kLayout s;
         s.Width = 6;
         s.Height = 5;
         s.X0 = 1;
         s.Y0 = 3;
         s.ColorSpace = OPJ_CLRSPC_SYCC;
         s.Components = {Comp([](int x, int y) { return 60 + 9 * x + 17 * y; }),
                         Comp([](int x, int y) { return 30 + 40 * x + 11 * y; }, 8, 2, 2),
                         Comp([](int x, int y) { return 220 - 25 * x - 31 * y; }, 8, 2, 2)};
         return s;
     },
     ie24Rgb, 8, 3, [](const std::vector<int>& v) { return FromYCbCr(v[0], v[1], v[2]); }},
};
INSTANTIATE_TEST_SUITE_P(J2k, J2kDecode, testing::ValuesIn(kDecode),
                         [](const auto& i) { return std::string(i.param.Name); });

struct YCbCrCase {
    int Y, Cb, Cr;
    Rgb Expected;
};
class J2kYCbCr : public testing::TestWithParam<YCbCrCase> {};

TEST_P(J2kYCbCr, ConvertsWithTheFixedTables) {
    const YCbCrCase& c = GetParam();
    J2kLayout s;
    s.Width = 1;
    s.Height = 1;
    s.ColorSpace = OPJ_CLRSPC_SYCC;
    s.Components = {Comp([&c](int, int) { return c.Y; }), Comp([&c](int, int) { return c.Cb; }),
                    Comp([&c](int, int) { return c.Cr; })};
    Loaded r;
    Load(EncodeJ2k(s), r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), c.Expected);
}

const YCbCrCase kYCbCr[] = {
    {128, 128, 128, {128, 128, 128}}, // no chroma
    {0, 128, 255, {178, 0, 0}},       // red 0 + N(1.402 * 127); green clamps
    {100, 50, 200, {201, 76, 0}},     // 100 + 101, 100 + 27 - 51, 100 - 138 clamps
    {255, 255, 0, {76, 255, 255}},
};
INSTANTIATE_TEST_SUITE_P(J2k, J2kYCbCr, testing::ValuesIn(kYCbCr));

TEST(Jp2Reader, HeaderOnlyFillsParametersAndLeavesBitmap) {
    J2kLayout s;
    s.Width = 9;
    s.Height = 4;
    s.ColorSpace = OPJ_CLRSPC_GRAY;
    s.Components = {Comp([](int, int) { return 3; })};
    Loaded r;
    r.Bitmap.Reallocate(2, 2, ie8Gray);
    r.Params.SetPalette(std::vector<TIERgbTriple>(4).data(), 4);
    Load(EncodeJ2k(s), r, true);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Params.ImageWidth, 9);
    EXPECT_EQ(r.Params.ImageHeight, 4);
    EXPECT_EQ(r.Params.HorizontalDpi, 300);
    EXPECT_EQ(r.Params.VerticalDpi, 300);
    EXPECT_EQ(r.Params.PaletteCount, 0);
    EXPECT_EQ(r.Bitmap.Width(), 2);
    EXPECT_EQ(r.Bitmap.PixelType(), ie8Gray);
}

TEST(Jp2Reader, ProgressPerRowAndAbortKeepsRowsSoFar) {
    J2kLayout s;
    s.Width = 4;
    s.Height = 8;
    s.ColorSpace = OPJ_CLRSPC_GRAY;
    s.Components = {Comp([](int, int) { return 200; })};
    const std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    Loaded all;
    Load(bytes, all);
    EXPECT_EQ(all.Percents, (std::vector<int>{0, 12, 25, 37, 50, 62, 75, 87}));
    Loaded part;
    Load(bytes, part, false, 3);
    EXPECT_TRUE(part.Aborting);
    EXPECT_EQ(part.Percents.size(), 3u);
    EXPECT_EQ(PixelOf(part.Bitmap, 0, 2), (Rgb{200, 200, 200}));
    EXPECT_EQ(PixelOf(part.Bitmap, 0, 3), (Rgb{0, 0, 0}));
}

TEST(Jp2Reader, ChannelDefinitionsPickColoursAroundAlpha) {
    J2kLayout s;
    s.Width = 3;
    s.Height = 2;
    s.Components = {Comp([](int, int) { return 7; }), Comp([](int x, int) { return 10 + x; }),
                    Comp([](int, int y) { return 100 + y; }), Comp([](int x, int y) { return 200 + x + y; })};
    s.Components[3].Alpha = true; // makes the encoder write a channel definition box
    std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    // Component 0 is the alpha channel, 1 to 3 are red, green and blue.
    PatchBox(bytes, "cdef", {0, 4, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 0, 0, 0, 2, 0, 3, 0, 0, 0, 3});
    Loaded r;
    Load(bytes, r);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{10, 100, 200}));
    EXPECT_EQ(PixelOf(r.Bitmap, 2, 1), (Rgb{12, 101, 203}));
}

TEST(Jp2Reader, UnsupportedColourSpaceAborts) {
    J2kLayout s;
    for (int k = 0; k < 3; ++k) s.Components.push_back(Comp([](int, int) { return 1; }));
    std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    PatchBox(bytes, "colr", {1, 0, 0, 0, 0, 0, 24}); // enumerated colour space 24: e-sYCC
    Loaded r;
    Load(bytes, r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Outcome.Refusal, "unsupported colour space");
    EXPECT_EQ(r.Bitmap.PixelType(), ieNone);
}

// Four inks, the fourth black (no opacity): light = (255 - ink) * (255 - black) / 255.
TEST(Jp2Reader, CmykIsConvertedToRgb) {
    const int inks[4][4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 128, 255, 0}, {100, 0, 0, 51}};
    J2kLayout s;
    s.Width = 4;
    s.Height = 1;
    for (int k = 0; k < 4; ++k) s.Components.push_back(Comp([&inks, k](int x, int) { return inks[x][k]; }));
    std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    PatchBox(bytes, "colr", {1, 0, 0, 0, 0, 0, 12}); // enumerated colour space 12: CMYK
    Loaded r;
    Load(bytes, r);
    ASSERT_FALSE(r.Aborting) << r.Outcome.Refusal;
    EXPECT_EQ(r.Mask, nullptr);
    EXPECT_EQ(r.Params.SamplesPerPixel, 4);
    EXPECT_EQ(PixelOf(r.Bitmap, 0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(PixelOf(r.Bitmap, 1, 0), (Rgb{0, 255, 255}));
    EXPECT_EQ(PixelOf(r.Bitmap, 2, 0), (Rgb{255, 127, 0}));
    EXPECT_EQ(PixelOf(r.Bitmap, 3, 0), (Rgb{124, 204, 204}));
}

// An opacity channel goes to the mask; premultiplied colours are divided back by it.
struct AlphaCase {
    const char* Name;
    int Type; // channel definition type: 1 opacity, 2 premultiplied opacity
    std::vector<int> Alpha;
    std::vector<Rgb> Colours; // stored
    std::vector<Rgb> Expected;
};
class J2kAlpha : public testing::TestWithParam<AlphaCase> {};
TEST_P(J2kAlpha, GoesToTheMask) {
    const AlphaCase& c = GetParam();
    J2kLayout s;
    s.Width = int(c.Alpha.size());
    s.Height = 1;
    for (int k = 0; k < 3; ++k)
        s.Components.push_back(
            Comp([&c, k](int x, int) { return c.Colours[std::size_t(x)][std::size_t(k)]; }));
    s.Components.push_back(Comp([&c](int x, int) { return c.Alpha[std::size_t(x)]; }));
    s.Components[3].Alpha = true;
    std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    // Components 0 to 2 colours 1 to 3 (red, green, blue), component 3 of the case's type for the whole
    // image.
    PatchBox(
        bytes, "cdef",
        {0, 4, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 3, 0, 3, 0, std::uint8_t(c.Type), 0, 0});
    Loaded r;
    Load(bytes, r);
    ASSERT_FALSE(r.Aborting) << r.Outcome.Refusal;
    ASSERT_NE(r.Mask, nullptr);
    EXPECT_FALSE(r.Mask->FullyOpaque);
    for (std::size_t x = 0; x < c.Alpha.size(); ++x) {
        EXPECT_EQ(r.Mask->GetPixel(int(x), 0), c.Alpha[x]) << x;
        EXPECT_EQ(PixelOf(r.Bitmap, int(x), 0), c.Expected[x]) << x;
    }
}
const AlphaCase kAlphaCases[] = {
    {"Straight",
     1,
     {0, 128, 255},
     {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
     {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}},
    {"Premultiplied",
     2,
     {0, 128, 255, 51},
     {{0, 0, 0}, {64, 32, 128}, {70, 80, 90}, {51, 10, 40}},
     {{0, 0, 0}, {128, 64, 255}, {70, 80, 90}, {255, 50, 200}}},
};
INSTANTIATE_TEST_SUITE_P(J2k, J2kAlpha, testing::ValuesIn(kAlphaCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// An RGBA picture through a common encoder's command line (lossless): the values Pillow reads.
TEST(Jp2Reader, EncodedRgbaPictureKeepsItsAlpha) {
    Loaded r;
    Load(testsupport::ReadFileBytes(std::string(FOLIANTO_TESTDATA_DIR) + "/straight-alpha.jp2"), r);
    ASSERT_FALSE(r.Aborting) << r.Outcome.Refusal;
    ASSERT_NE(r.Mask, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(r.Mask->GetPixel(x, y), x * 32) << x << "," << y;
            EXPECT_EQ(PixelOf(r.Bitmap, x, y), (Rgb{std::uint8_t(x * 30), std::uint8_t(y * 60), 200}));
        }
}

TEST(Jp2Reader, ImageBeyondTheSampleBudgetIsRefused) {
    J2kLayout s;
    s.Width = 64;
    s.Height = 64;
    s.ColorSpace = OPJ_CLRSPC_GRAY;
    s.Components = {Comp([](int, int) { return 1; })};
    const std::vector<std::uint8_t> bytes = EncodeJ2k(s);
    const std::uint64_t saved = J2kMaxDecodedBytes;
    J2kMaxDecodedBytes = 64 * 64 * 4; // the samples fit, the bitmap beside them does not
    Loaded refused;
    Load(bytes, refused);
    J2kMaxDecodedBytes = saved;
    EXPECT_TRUE(refused.Aborting);
    Loaded accepted;
    Load(bytes, accepted);
    EXPECT_FALSE(accepted.Aborting);
}

// ---- Main headers that claim more than the code stream can hold: refused before the library
// allocates for them, whatever memory the machine has free.

// Rewrites the image and tile sizes of the code stream's size marker.
void PatchSize(std::vector<std::uint8_t>& bytes, std::uint32_t size, std::uint32_t tile) {
    for (std::size_t i = 0; i + 40 <= bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0x51) {
            for (const std::size_t at : {i + 6, i + 10, i + 22, i + 26}) {
                const std::uint32_t v = at < i + 22 ? size : tile;
                for (int b = 0; b < 4; ++b) bytes[at + std::size_t(b)] = std::uint8_t(v >> (24 - 8 * b));
            }
            return;
        }
    ADD_FAILURE() << "no size marker";
}

struct TClaimCase {
    const char* Name;
    std::uint32_t Size, Tile;
    const char* File; // the same shape as a fuzz seed
};
class J2kClaim : public testing::TestWithParam<TClaimCase> {};

TEST_P(J2kClaim, IsRefusedFromTheHeader) {
    const TClaimCase& c = GetParam();
    ASSERT_EQ(J2kMaxDecodedBytes, 0u); // no ceiling besides the code stream's own size
    Loaded seed;
    Load(testsupport::ReadFileBytes(std::string(FOLIANTO_TESTDATA_DIR) + "/" + c.File), seed);
    EXPECT_TRUE(seed.Aborting);
    EXPECT_EQ(seed.Outcome.Refusal, "image larger than the file can hold");
    for (const bool jp2 : {true, false}) {
        J2kLayout s;
        s.Width = s.Height = 64;
        s.ColorSpace = OPJ_CLRSPC_GRAY;
        s.Jp2 = jp2;
        s.Components = {Comp([](int, int) { return 200; })};
        std::vector<std::uint8_t> bytes = EncodeJ2k(s);
        PatchSize(bytes, c.Size, c.Tile);
        Loaded r;
        Load(bytes, r);
        EXPECT_TRUE(r.Aborting) << jp2;
        EXPECT_EQ(r.Outcome.Refusal, "image larger than the file can hold") << jp2;
        EXPECT_EQ(r.Bitmap.PixelType(), ieNone);
    }
}

INSTANTIATE_TEST_SUITE_P(J2k, J2kClaim,
                         testing::Values(TClaimCase{"HugeImage", 20000, 20000, "huge-image.j2k"},
                                         TClaimCase{"ManyTinyTiles", 4000, 16, "many-tiles.j2k"}),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(Jp2Reader, TruncatedDataAbortsAndLeavesTheBitmap) {
    J2kLayout s;
    s.Width = 40;
    s.Height = 30;
    s.Components = {Comp([](int x, int y) { return (x * 31 + y * 17) & 255; }),
                    Comp([](int x, int) { return x; }), Comp([](int, int y) { return y; })};
    for (bool jp2 : {true, false}) {
        SCOPED_TRACE(jp2 ? "JP2" : "code stream");
        s.Jp2 = jp2;
        const std::vector<std::uint8_t> bytes = EncodeJ2k(s);
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 40) {
            Loaded r;
            r.Bitmap.Reallocate(3, 3, ie8Gray);
            Load(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)), r);
            EXPECT_TRUE(r.Aborting) << cut;
            EXPECT_FALSE(r.Outcome.Refusal.empty()) << cut;
            EXPECT_EQ(r.Bitmap.Width(), 3) << cut;
        }
    }
}

// ---- Corpus against ImageMagick and Pillow ----

// Both decode through OpenJPEG but place and scale components on their own, and each has a blind
// spot: ImageMagick sizes an image by its first component (wrong when that one is subsampled),
// Pillow ignores palette boxes and misplaces or refuses some subsampled components. A file passes
// when it matches either, a component-sized reference compared at its pixels' centres. Pillow's
// deep grey comes back as 16-bit values; its top byte is kept.
const char* kPillowScript = R"PY(
import sys
import numpy as np
from PIL import Image
src, dst = sys.argv[1], sys.argv[2]
im = Image.open(src)
im.load()
if im.mode.startswith("I"):
    im = Image.fromarray((np.array(im).astype(np.uint32) >> 8).astype(np.uint8), "L")
im.convert("RGB").save(dst, "PPM")
)PY";

// Our image sampled at the centres of a reference's pixels, for a reference that came out at the
// size of a subsampled component instead of the image's.
testsupport::RgbImage OnGridOf(const testsupport::RgbImage& mine, const testsupport::RgbImage& ref) {
    if (ref.Width == mine.Width && ref.Height == mine.Height) return mine;
    if (ref.Width <= 0 || ref.Height <= 0 || ref.Width > mine.Width || ref.Height > mine.Height) return {};
    testsupport::RgbImage out;
    out.Width = ref.Width;
    out.Height = ref.Height;
    for (int j = 0; j < ref.Height; ++j)
        for (int i = 0; i < ref.Width; ++i) {
            const int x = int((i + 0.5) * mine.Width / ref.Width);
            const int y = int((j + 0.5) * mine.Height / ref.Height);
            out.Pixels.insert(out.Pixels.end(), mine.At(x, y), mine.At(x, y) + 3);
        }
    return out;
}

bool DecodeWithPillow(const std::string& path, testsupport::RgbImage& image) {
    testsupport::TempDir dir;
    std::ofstream(dir.File("ref.py")) << kPillowScript;
    const std::string cmd = "/usr/bin/python3 " + testsupport::ShellQuote(dir.File("ref.py")) + " " +
                            testsupport::ShellQuote(path) + " " +
                            testsupport::ShellQuote(dir.File("ref.ppm")) + " >/dev/null 2>&1";
    return testsupport::RunCommand(cmd) == 0 && testsupport::ReadPnm(dir.File("ref.ppm"), image);
}

TEST(Jp2Corpus, GoodFilesMatchAReferenceAndBadFilesEndCleanly) {
    const auto files = testsupport::CorpusFiles("jpeg2000");
    if (files.empty()) GTEST_SKIP() << "no JPEG 2000 corpus";
    const bool havePillow = testsupport::ToolAvailable("/usr/bin/python3");
    const bool haveMagick = testsupport::ToolAvailable("/usr/bin/convert");
    if (!havePillow && !haveMagick) GTEST_SKIP() << "neither ImageMagick nor Pillow is available";
    int compared = 0;
    for (const auto& e : files) {
        SCOPED_TRACE(e.Path);
        const std::string path = testsupport::CorpusDir() + "/" + e.Path;
        Loaded r;
        Load(testsupport::ReadFileBytes(path), r);
        if (e.IsBad()) continue; // ended without a crash or a hang: that is all a bad file owes
        // Pillow refuses this one (one component subsampled 2 x 1) and ImageMagick returns half of
        // the component's columns, so it is only required to decode.
        if (e.Path == "jpeg2000/conformance/p0_02.j2k") {
            EXPECT_FALSE(r.Aborting);
            EXPECT_EQ(r.Bitmap.Width(), 127);
            continue;
        }
        testsupport::RgbImage pillow, magick;
        const bool byPillow = havePillow && DecodeWithPillow(path, pillow);
        const bool byMagick = haveMagick && testsupport::DecodeWithImageMagick(path, magick);
        if (!byPillow && !byMagick) continue;
        if (r.Aborting) {
            ADD_FAILURE() << "a reference reads it, the reader gives up";
            continue;
        }
        testsupport::RgbImage mine;
        mine.Width = r.Bitmap.Width();
        mine.Height = r.Bitmap.Height();
        for (int y = 0; y < mine.Height; ++y)
            for (int x = 0; x < mine.Width; ++x) {
                const Rgb p = PixelOf(r.Bitmap, x, y);
                mine.Pixels.insert(mine.Pixels.end(), p.begin(), p.end());
            }
        const double psnrPillow = byPillow ? testsupport::Psnr(OnGridOf(mine, pillow), pillow) : -1;
        const double psnrMagick = byMagick ? testsupport::Psnr(OnGridOf(mine, magick), magick) : -1;
        EXPECT_GE(std::max(psnrPillow, psnrMagick), 30.0)
            << "PSNR against Pillow " << psnrPillow << ", against ImageMagick " << psnrMagick;
        ++compared;
    }
    EXPECT_GT(compared, 25);
}

} // namespace
