// The TIFF reader on hand-made files (TTiffBuilder) and on files written by libtiff's tools, compared with
// the pixels they were made from.
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffTestHelpers.h"
#include "platform/Stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

namespace {

using namespace tifftest;
using B = TTiffBuilder;

// A synthetic colour image: gradients with a little noise so every compression has work to do.
testsupport::RgbImage MakeImage(int w, int h, unsigned seed = 1) {
    testsupport::RgbImage img;
    img.Width = w;
    img.Height = h;
    img.Pixels.resize(std::size_t(w) * h * 3);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &img.Pixels[(std::size_t(y) * w + x) * 3];
            p[0] = std::uint8_t(x * 255 / std::max(1, w - 1));
            p[1] = std::uint8_t(y * 255 / std::max(1, h - 1));
            p[2] = std::uint8_t((x * y + rng() % 16) & 0xFF);
        }
    return img;
}

// A bilevel page: text-like blocks and lines of many run lengths.
std::vector<std::uint8_t> MakeBilevel(int w, int h) {
    std::vector<std::uint8_t> black(std::size_t(w) * h);
    std::mt19937 rng(7);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            black[std::size_t(y) * w + x] = ((x / 7 + y / 5) % 3 == 0) || (y % 23 == 0) || (rng() % 97 == 0);
    return black;
}

void WritePbm(const std::string& path, const std::vector<std::uint8_t>& black, int w, int h) {
    std::ofstream out(path, std::ios::binary);
    out << "P4\n" << w << " " << h << "\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 8) {
            std::uint8_t b = 0;
            for (int i = 0; i < 8 && x + i < w; ++i)
                if (black[std::size_t(y) * w + x + i]) b |= std::uint8_t(0x80 >> i);
            out.put(char(b));
        }
}

testsupport::RgbImage BilevelToRgb(const std::vector<std::uint8_t>& black, int w, int h) {
    testsupport::RgbImage img;
    img.Width = w;
    img.Height = h;
    img.Pixels.resize(std::size_t(w) * h * 3);
    for (std::size_t i = 0; i < black.size(); ++i) std::memset(&img.Pixels[i * 3], black[i] ? 0 : 255, 3);
    return img;
}

// ---- Directory chain ----

struct TChainCase {
    const char* Name;
    int Directories;
    std::vector<int> Next; // see TTiffBuilder::Build
    int Count;
};

const TChainCase kChainCases[] = {
    {"Single", 1, {}, 1},
    {"ThreePages", 3, {}, 3},
    {"PointsToItself", 1, {0}, 1},
    {"SecondPointsToFirst", 2, {-1, 0}, 2},
    {"ThirdPointsToSecond", 3, {-1, -1, 1}, 3},
};

void PrintTo(const TChainCase& c, std::ostream* os) {
    *os << c.Name;
}

class TiffChainTest : public testing::TestWithParam<TChainCase> {};

TEST_P(TiffChainTest, CountsEachDirectoryOnceAndReadsEveryFrame) {
    const TChainCase& c = GetParam();
    B b;
    for (int i = 0; i < c.Directories; ++i) {
        auto& d = b.AddDirectory();
        // Frame i is i + 1 pixels wide, so the frame read can be recognised.
        B::Image(d, std::uint32_t(i + 1), 1, 8, 1, 1, 1, 1,
                 {std::vector<std::uint8_t>(std::size_t(i + 1), 9)});
    }
    const auto bytes = b.Build(c.Next);
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    EXPECT_EQ(GetTiffFrameCount(stream), c.Count);
    EXPECT_EQ(stream.Position(), 0);
    for (int frame = 0; frame < c.Count; ++frame) {
        auto r = ReadBytes(bytes, {.Frame = frame});
        EXPECT_FALSE(r->Aborted) << frame;
        EXPECT_EQ(r->FrameCount, c.Count);
        EXPECT_EQ(r->Params.TiffFrameCount, c.Count);
        EXPECT_EQ(r->Bitmap.Width(), frame + 1);
    }
    // Past the last frame: the count, no error, nothing read.
    auto past = ReadBytes(bytes, {.Frame = c.Count});
    EXPECT_FALSE(past->Aborted);
    EXPECT_EQ(past->FrameCount, c.Count);
    EXPECT_EQ(past->Bitmap.Width(), 0);
    EXPECT_EQ(past->Params.TiffFrameCount, 0);

    // From a file, whose chain is walked once and then remembered: the same, every time.
    testsupport::TempDir dir;
    testsupport::WriteFileBytes(dir.File("chain.tif"), bytes);
    for (int round = 0; round < 2; ++round)
        for (int frame = 0; frame <= c.Count; ++frame) {
            TFileStream file(dir.File("chain.tif"), fmOpenRead);
            tiff::TTiffSource source(file, 0);
            const tiff::TTiffChain chain = tiff::WalkChain(source, frame);
            EXPECT_EQ(chain.Count, c.Count) << frame;
            EXPECT_EQ(chain.Found, frame < c.Count) << frame;
            if (chain.Found) {
                EXPECT_EQ(chain.Wanted.First(256, 0), std::uint32_t(frame + 1));
            }
        }
}

// A file rewritten between two loads is walked again, not taken for the one remembered.
TEST(TiffChainTest, AChangedFileIsWalkedAgain) {
    testsupport::TempDir dir;
    const std::string path = dir.File("changing.tif");
    for (const std::uint32_t widths : {5u, 3u, 4u}) {
        B b;
        for (std::uint32_t i = 0; i < widths; ++i)
            B::Image(b.AddDirectory(), 10 * widths + i, 1, 8, 1, 1, 1, 1,
                     {std::vector<std::uint8_t>(10 * widths + i, 9)});
        testsupport::WriteFileBytes(path, b.Build());
        for (std::uint32_t frame = 0; frame < widths; ++frame) {
            TFileStream file(path, fmOpenRead);
            tiff::TTiffSource source(file, 0);
            const tiff::TTiffChain chain = tiff::WalkChain(source, int(frame));
            EXPECT_EQ(chain.Count, int(widths));
            ASSERT_TRUE(chain.Found) << widths << " " << frame;
            EXPECT_EQ(chain.Wanted.First(256, 0), 10 * widths + frame);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Chains, TiffChainTest, testing::ValuesIn(kChainCases),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST(TiffReaderTest, BigTiffHeaderWithOtherOffsetSizeIsRefused) {
    // Version 43 with 4-byte offsets does not exist; the refusal says what the file is.
    const std::vector<std::uint8_t> bytes = {'I', 'I', 43, 0, 4, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto r = ReadBytes(bytes);
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->Outcome.Refusal, "unsupported: BigTIFF with offsets of other than 8 bytes");
}

TEST(TiffReaderTest, HeaderProblems) {
    const std::vector<std::uint8_t> notTiff = {'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0};
    auto r = ReadBytes(notTiff);
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->FrameCount, 0);

    EXPECT_EQ(r->Outcome.Refusal, "not a TIFF file");

    // No directory: nothing to count, and no image for a load (a header read finds none either).
    const std::vector<std::uint8_t> noDirectory = {'I', 'I', 42, 0, 0, 0, 0, 0, 0, 0};
    r = ReadBytes(noDirectory);
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->Outcome.Refusal, "no image in the file");
    EXPECT_EQ(r->FrameCount, 0);
    r = ReadBytes(noDirectory, {.HeaderOnly = true});
    EXPECT_FALSE(r->Aborted);

    // The 64-bit directory format is refused rather than misread.
    const std::vector<std::uint8_t> big = {'I', 'I', 43, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    r = ReadBytes(big);
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->FrameCount, 0);

    // First directory beyond the end of the stream: no frames.
    const std::vector<std::uint8_t> far = {'M', 'M', 0, 42, 0x7F, 0, 0, 0, 0, 0};
    r = ReadBytes(far);
    EXPECT_EQ(r->FrameCount, 0);

    std::vector<std::uint8_t> small = {'I', 'I', 42, 0, 8, 0, 0, 0, 0};
    TReadOnlyMemoryStream s8(small.data(), 8), s9(small.data(), 9);
    EXPECT_FALSE(IsTiffStream(s8)); // detection wants more than 8 bytes
    EXPECT_TRUE(IsTiffStream(s9));
}

TEST(TiffReaderTest, MultiPageFileFromTiffcp) {
    if (!HaveTools()) GTEST_SKIP() << "tiffcp or convert missing";
    testsupport::TempDir dir;
    std::string pages;
    std::vector<testsupport::RgbImage> images;
    for (int i = 0; i < 3; ++i) {
        images.push_back(MakeImage(10 + i, 7, unsigned(i)));
        const std::string ppm = dir.File("p" + std::to_string(i) + ".ppm"),
                          tif = dir.File("p" + std::to_string(i) + ".tif");
        ASSERT_TRUE(testsupport::WritePpm(ppm, images.back()));
        ASSERT_TRUE(Shell("/usr/bin/convert " + ppm + " -compress none " + tif));
        pages += " " + tif;
    }
    ASSERT_TRUE(Shell("tiffcp -c lzw" + pages + " " + dir.File("multi.tif")));
    for (int i = 0; i <= 3; ++i) {
        auto r = ReadFile(dir.File("multi.tif"), {.Frame = i});
        EXPECT_FALSE(r->Aborted);
        EXPECT_EQ(r->FrameCount, 3);
        if (i < 3) {
            EXPECT_EQ(testsupport::MaxDifference(ToRgb(r->Bitmap), images[std::size_t(i)]), 0) << i;
        } else {
            EXPECT_EQ(r->Bitmap.Width(), 0);
        }
    }
}

// ---- Compressions and layouts, encoded by libtiff ----

struct TToolCase {
    const char* Name;
    const char* Source; // "rgb", "bilevel" or "grey"
    const char* Options;
    double MinPsnr; // 0: exact against the source; else against ImageMagick's decode of the file
};
void PrintTo(const TToolCase& c, std::ostream* os) {
    *os << c.Name;
}

const TToolCase kToolCases[] = {
    {"None", "rgb", "-c none", 0},
    {"PackBits", "rgb", "-c packbits", 0},
    {"ShortStripsPackBits", "rgb", "-r 3 -c packbits", 0},
    {"Lzw", "rgb", "-c lzw", 0},
    {"LzwPredictor", "rgb", "-c lzw:2", 0},
    {"LzwPredictorBigEndian", "rgb", "-B -c lzw:2", 0},
    {"Deflate", "rgb", "-c zip", 0},
    {"DeflatePredictor", "rgb", "-c zip:2", 0},
    {"JpegYCbCr", "rgb", "-c jpeg", 40},
    {"JpegRgb", "rgb", "-c jpeg:r", 40},
    {"TilesAtOddWidth", "rgb", "-t -w 16 -l 16 -c none", 0},
    {"TilesLzwPredictor", "rgb", "-t -w 32 -l 16 -c lzw:2", 0},
    {"TilesJpeg", "rgb", "-t -w 16 -l 16 -c jpeg", 40},
    {"PlanarStrips", "rgb", "-p separate -c none", 0},
    {"PlanarLzwPredictor", "rgb", "-p separate -c lzw:2", 0},
    {"PlanarTiles", "rgb", "-p separate -t -w 16 -l 16 -c packbits", 0},
    {"Group3", "bilevel", "-c g3", 0},
    {"Group3FillBits", "bilevel", "-c g3:fill", 0},
    {"Group3TwoD", "bilevel", "-c g3:2d", 0},
    {"Group3TwoDFillBits", "bilevel", "-c g3:2d:fill -r 9", 0},
    {"Group4", "bilevel", "-c g4", 0},
    {"Group4LsbFirst", "bilevel", "-c g4 -f lsb2msb", 0},
    {"Group4BigEndianStrips", "bilevel", "-B -r 10 -c g4", 0},
    {"BilevelLzw", "bilevel", "-c lzw", 0},
    {"BilevelTiles", "bilevel", "-t -w 16 -l 16 -c packbits", 0},
    {"GreyNone", "grey", "-c none", 0},
    {"GreyLzwPredictor", "grey", "-c lzw:2", 0},
    {"Zstd", "rgb", "-c zstd", 0},
    {"ZstdPredictorStrips", "rgb", "-r 5 -c zstd:2", 0},
    {"ZstdTiles", "rgb", "-t -w 16 -l 16 -c zstd", 0},
    {"Lzma", "rgb", "-c lzma", 0},
    {"LzmaPredictorPlanar", "rgb", "-p separate -c lzma:2", 0},
    {"WebpLossless", "rgb", "-c webp:p100", 0},
    {"WebpLossyStrips", "rgb", "-r 16 -c webp:p80", 40},
    {"BigTiff", "rgb", "-8 -c lzw:2", 0},
    {"BigTiffBigEndianStrips", "rgb", "-8 -B -r 5 -c none", 0},
    {"BigTiffTiles", "rgb", "-8 -t -w 16 -l 16 -c packbits", 0},
    {"BigTiffGroup4", "bilevel", "-8 -c g4", 0},
};

class TiffToolTest : public testing::TestWithParam<TToolCase> {};

TEST_P(TiffToolTest, DecodesLikeTheSource) {
    if (!HaveTools() || !testsupport::ToolAvailable("tiff2bw")) GTEST_SKIP() << "libtiff tools missing";
    const TToolCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string src = dir.File("src.tif"), out = dir.File("out.tif");
    testsupport::RgbImage expected;
    const std::string source = c.Source;
    if (source == "bilevel") {
        const int w = 203, h = 61;
        const auto black = MakeBilevel(w, h);
        WritePbm(dir.File("src.pbm"), black, w, h);
        ASSERT_TRUE(Shell("/usr/bin/convert " + dir.File("src.pbm") + " -compress none " + src));
        expected = BilevelToRgb(black, w, h);
    } else {
        expected = MakeImage(61, 37);
        ASSERT_TRUE(testsupport::WritePpm(dir.File("src.ppm"), expected));
        ASSERT_TRUE(Shell("/usr/bin/convert " + dir.File("src.ppm") + " -compress none " + src));
        if (source == "grey") {
            ASSERT_TRUE(Shell("tiff2bw " + src + " " + dir.File("grey.tif")));
            ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File("grey.tif"), expected));
            ASSERT_TRUE(Shell("cp " + dir.File("grey.tif") + " " + src));
        }
    }
    ASSERT_TRUE(Shell(std::string("tiffcp ") + c.Options + " " + src + " " + out));
    auto r = ReadFile(out);
    ASSERT_FALSE(r->Aborted);
    EXPECT_EQ(r->FrameCount, 1);
    const auto mine = ToRgb(r->Bitmap);
    ASSERT_EQ(mine.Width, expected.Width);
    ASSERT_EQ(mine.Height, expected.Height);
    if (c.MinPsnr == 0) {
        EXPECT_EQ(testsupport::MaxDifference(mine, expected), 0);
    } else {
        // Lossy: the same decoder library as the reference, and still recognisably the source.
        testsupport::RgbImage reference;
        ASSERT_TRUE(testsupport::DecodeWithImageMagick(out, reference));
        EXPECT_GE(testsupport::Psnr(mine, reference), c.MinPsnr);
        EXPECT_GE(testsupport::Psnr(mine, expected), 15);
    }
    if (source == "bilevel") {
        EXPECT_EQ(r->Bitmap.PixelType(), ie1Bit);
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, TiffToolTest, testing::ValuesIn(kToolCases),
                         [](const auto& i) { return std::string(i.param.Name); });

// ---- Hand-made files for the rules of the format ----

TEST(TiffReaderTest, BilevelWithoutPhotometricIsWhiteIsZero) {
    for (int photometric : {-1, 0, 1}) {
        B b;
        B::Image(b.AddDirectory(), 8, 1, 1, 1, photometric, 1, 1, {{0x0F}});
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted);
        ASSERT_EQ(r->Bitmap.PixelType(), ie1Bit);
        // ie1Bit keeps 1 for white: white-is-zero data is inverted, black-is-zero data copied.
        EXPECT_EQ(r->Bitmap.RowPointer(0)[0], photometric == 1 ? 0x0F : 0xF0) << photometric;
        EXPECT_EQ(r->Params.TiffPhotometric, photometric == 1 ? 1 : 0);
    }
}

TEST(TiffReaderTest, PackBitsRuns) {
    struct TCase {
        const char* Name;
        std::vector<std::uint8_t> Data;
        int Width, Height;
        std::vector<int> Values;
    };
    const TCase cases[] = {
        // -128 is no operation; 2 copies three bytes; -2 repeats the next byte three times.
        {"MinusOneTwentyEightSkipped", {0x80, 0x02, 10, 20, 30, 0xFE, 40}, 6, 1, {10, 20, 30, 40, 40, 40}},
        // A run that crosses the row end carries into the next row.
        {"RunCrossesRows", {0xFB, 77, 0x00, 5}, 3, 2, {77, 77, 77, 77, 77, 77}},
        // Data that ends early: the rest of the row is black, further rows keep the fill, and the cut row
        // and those after it are reported missing.
        {"Truncated", {0x02, 9, 8, 7, 0x01, 6}, 3, 3, {9, 8, 7, 6, 0, 0, 0, 0, 0}},
    };
    for (const TCase& c : cases) {
        B b;
        B::Image(b.AddDirectory(), std::uint32_t(c.Width), std::uint32_t(c.Height), 8, 1, 1, 32773,
                 std::uint32_t(c.Height), {c.Data});
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted) << c.Name;
        EXPECT_EQ(r->Outcome.FirstMissingRow, std::string(c.Name) == "Truncated" ? 1 : -1) << c.Name;
        const auto img = ToRgb(r->Bitmap);
        for (int i = 0; i < c.Width * c.Height; ++i)
            EXPECT_EQ(img.At(i % c.Width, i / c.Width)[0], c.Values[std::size_t(i)]) << c.Name << " " << i;
    }
}

TEST(TiffReaderTest, SixteenBitGreyShiftFollowsSoftware) {
    struct TCase {
        const char* Software;
        bool BigEndian;
        int Photometric;
        int Expected;
    };
    const TCase cases[] = {
        {"Look@Molli v1.1 (scanner)", false, 1, 255}, // 4095 >> 4
        {"Look@Molli v1.1", true, 1, 255},
        {"", false, 1, 15}, // 4095 >> 8
        {"Look@Molli v1.0", false, 1, 15},
        {"", false, 0, 240}, // (65535 - 4095) >> 8
    };
    for (const TCase& c : cases) {
        B b(c.BigEndian);
        auto& d = b.AddDirectory();
        const std::uint8_t hi = 0x0F, lo = 0xFF;
        B::Image(d, 1, 1, 16, 1, c.Photometric, 1, 1,
                 {c.BigEndian ? std::vector<std::uint8_t>{hi, lo} : std::vector<std::uint8_t>{lo, hi}});
        if (*c.Software) d.Texts[305] = c.Software;
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted);
        EXPECT_EQ(ToRgb(r->Bitmap).At(0, 0)[0], c.Expected) << c.Software << " " << c.BigEndian;
    }
}

TEST(TiffReaderTest, NativeSixteenBitGreyKeepsTheValue) {
    B b(true);
    B::Image(b.AddDirectory(), 2, 1, 16, 1, 1, 1, 1, {{0x12, 0x34, 0xFF, 0x01}});
    auto r = ReadBytes(b.Build(), {.NativePixelFormat = true});
    ASSERT_EQ(r->Bitmap.PixelType(), ie16Gray);
    const std::uint8_t* row = r->Bitmap.RowPointer(0);
    EXPECT_EQ(row[0] | (row[1] << 8), 0x1234);
    EXPECT_EQ(row[2] | (row[3] << 8), 0xFF01);
}

TEST(TiffReaderTest, Resolution) {
    struct TCase {
        const char* Name;
        int Unit; // 0: no tag
        std::uint32_t XNum, XDen;
        int Dpi;
    };
    const TCase cases[] = {
        {"Centimetres", 3, 118, 1, 299}, // 118 x 2.54 = 299.72
        {"Inches", 2, 72, 1, 72},
        {"NoUnitMeansInches", 0, 150, 1, 150},
        {"FractionTruncated", 2, 1201, 4, 300},
        {"ZeroDenominatorCountsAsOne", 2, 96, 0, 96},
        {"NoResolution", 2, 0, 0, 300},
        {"ZeroResolution", 3, 0, 1, 300},
    };
    for (const TCase& c : cases) {
        B b;
        auto& d = b.AddDirectory();
        B::Image(d, 1, 1, 8, 1, 1, 1, 1, {{0}});
        if (c.Unit) B::Short(d, 296, std::uint32_t(c.Unit));
        if (c.XNum || c.XDen) {
            B::Rational(d, 282, c.XNum, c.XDen);
            B::Rational(d, 283, c.XNum, c.XDen);
        }
        auto r = ReadBytes(b.Build());
        EXPECT_EQ(r->Params.HorizontalDpi, c.Dpi) << c.Name;
        EXPECT_EQ(r->Params.VerticalDpi, c.Dpi) << c.Name;
    }
}

TEST(TiffReaderTest, ParametersFromTags) {
    B b(true);
    auto& d = b.AddDirectory();
    B::Image(d, 4, 2, 1, 1, 0, 3, 2, {{0x00, 0x00}});
    B::Long(d, 292, 1); // two-dimensional Group 3
    B::Short(d, 296, 3);
    B::Rational(d, 286, 10, 1); // 10 cm
    B::Rational(d, 287, 1, 2);
    B::Set(d, 297, 3, {2, 5});
    B::Short(d, 274, 6);
    d.Texts[269] = "doc";
    d.Texts[270] = "a longer description";
    d.Texts[285] = "pg";
    d.Texts[271] = "Maker";
    d.Raw[33723] = {1, 2, 3, 4, 5};
    auto r = ReadBytes(b.Build(), {.HeaderOnly = true});
    EXPECT_FALSE(r->Aborted);
    EXPECT_EQ(r->Bitmap.Width(), 0); // header only: nothing decoded
    const TIOParamsVals& p = r->Params;
    EXPECT_EQ(p.ImageWidth, 4);
    EXPECT_EQ(p.ImageHeight, 2);
    EXPECT_EQ(p.TiffCompression, 3);
    EXPECT_EQ(p.TiffPhotometric, 0);
    EXPECT_EQ(p.TiffXPosition, 25); // trunc(10 x 2.54)
    EXPECT_EQ(p.TiffYPosition, 1);
    EXPECT_EQ(p.TiffPageNumber, 2);
    EXPECT_EQ(p.TiffPageCount, 5);
    EXPECT_EQ(p.TiffOrientation, 6);
    EXPECT_EQ(p.ExifOrientation, 6);
    EXPECT_EQ(p.TiffDocumentName, "doc");
    EXPECT_EQ(p.TiffImageDescription, "a longer description");
    EXPECT_EQ(p.TiffPageName, "pg");
    EXPECT_EQ(p.ExifMake, "Maker");
    ASSERT_EQ(p.IPTCInfo.size(), 1u);
    EXPECT_EQ(p.IPTCInfo[0], (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(p.TiffFrameCount, 1);

    // Compression and photometric codes.
    const std::pair<std::uint32_t, int> compressions[] = {{1, 0}, {2, 1}, {4, 4},     {5, 5},
                                                          {6, 6}, {7, 7}, {32773, 8}, {8, 9}};
    for (auto [tag, code] : compressions) {
        B c;
        B::Image(c.AddDirectory(), 1, 1, 8, 3, 8, tag, 1, {{0, 0, 0}});
        EXPECT_EQ(ReadBytes(c.Build(), {.HeaderOnly = true})->Params.TiffCompression, code) << tag;
    }
    B lab;
    B::Image(lab.AddDirectory(), 1, 1, 8, 3, 8, 1, 1, {{0, 0, 0}});
    EXPECT_EQ(ReadBytes(lab.Build(), {.HeaderOnly = true})->Params.TiffPhotometric, 7);
}

TEST(TiffReaderTest, UnequalBitsPerSampleFailsBeforeTheParameters) {
    B b;
    auto& d = b.AddDirectory();
    B::Image(d, 2, 1, 8, 3, 2, 1, 1, {{1, 2, 3, 4, 5, 6}});
    B::Set(d, 258, 3, {8, 8, 16});
    auto r = ReadBytes(b.Build());
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->Params.ImageWidth, 0);
}

TEST(TiffReaderTest, FourSampleRgbFillsTheMask) {
    B b;
    B::Image(b.AddDirectory(), 2, 1, 8, 4, 2, 1, 1, {{10, 20, 30, 40, 50, 60, 70, 255}});
    auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted);
    ASSERT_TRUE(r->Mask);
    EXPECT_EQ(r->Mask->Width, 2);
    EXPECT_EQ(r->Mask->BitsPerPixel, 8);
    EXPECT_EQ(r->Mask->GetPixel(0, 0), 40);
    EXPECT_EQ(r->Mask->GetPixel(1, 0), 255);
    EXPECT_FALSE(r->Mask->FullyOpaque);
    const auto img = ToRgb(r->Bitmap);
    EXPECT_EQ(img.At(1, 0)[0], 50);
    EXPECT_EQ(img.At(1, 0)[2], 70);

    auto ignored = ReadBytes(b.Build(), {.IgnoreAlpha = true});
    EXPECT_FALSE(ignored->Mask);
    EXPECT_EQ(ToRgb(ignored->Bitmap).At(0, 0)[1], 20);
}

TEST(TiffReaderTest, SamplesWithAlpha) {
    struct TCase {
        const char* Name;
        int Photometric;
        std::vector<std::uint8_t> Data;
        int Grey0, Alpha0;
    };
    const TCase cases[] = {
        {"GreyAndAlpha", 1, {200, 128, 50, 255}, 200, 128},
        // The second sample is opacity, as for every other alpha sample.
        {"PaletteAndAlpha", 3, {1, 30, 0, 255}, 0xAB, 30},
    };
    for (const TCase& c : cases) {
        B b;
        auto& d = b.AddDirectory();
        B::Image(d, 2, 1, 8, 2, c.Photometric, 1, 1, {c.Data});
        std::vector<std::uint32_t> map(768, 0);
        map[1] = map[257] = map[513] = 0xAB00;
        if (c.Photometric == 3) B::Set(d, 320, 3, map);
        B::Short(d, 338, 2);
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted) << c.Name;
        ASSERT_TRUE(r->Mask) << c.Name;
        EXPECT_EQ(r->Mask->GetPixel(0, 0), c.Alpha0) << c.Name;
        EXPECT_EQ(ToRgb(r->Bitmap).At(0, 0)[1], c.Grey0) << c.Name;
    }
}

TEST(TiffReaderTest, LowBitDepths) {
    struct TCase {
        const char* Name;
        int Bits, Photometric;
        std::vector<std::uint8_t> Data;
        std::vector<int> Red; // of the 4 pixels
    };
    // Colour map: entry i has red 16 x i.
    const TCase cases[] = {
        {"Palette1", 1, 3, {0x50}, {0, 16, 0, 16}},
        {"Palette2", 2, 3, {0x1B}, {0, 16, 32, 48}},
        {"Palette4", 4, 3, {0x0F, 0x37}, {0, 240, 48, 112}},
        {"Palette8", 8, 3, {0, 1, 15, 2}, {0, 16, 240, 32}},
        {"Grey2", 2, 1, {0x1B}, {0, 85, 170, 255}},
        {"Grey2WhiteIsZero", 2, 0, {0x1B}, {255, 170, 85, 0}},
        {"Grey4", 4, 1, {0x0F, 0x78}, {0, 255, 119, 136}}, // the full value is white
        {"Grey4WhiteIsZero", 4, 0, {0x0F, 0x78}, {255, 0, 136, 119}},
        {"Grey3", 3, 1, {0b00000010, 0b11110000}, {0, 0, 182, 255}}, // 0, 0, 5, 7
    };
    for (const TCase& c : cases) {
        B b;
        auto& d = b.AddDirectory();
        B::Image(d, 4, 1, std::uint32_t(c.Bits), 1, c.Photometric, 1, 1, {c.Data});
        if (c.Photometric == 3) {
            const std::uint32_t n = 1u << c.Bits;
            std::vector<std::uint32_t> map(3 * n, 0);
            for (std::uint32_t i = 0; i < n; ++i) map[i] = (16 * i) << 8;
            B::Set(d, 320, 3, map);
        }
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted) << c.Name;
        const auto img = ToRgb(r->Bitmap);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(img.At(x, 0)[0], c.Red[std::size_t(x)]) << c.Name << " " << x;
        ASSERT_EQ(r->Params.PaletteCount, c.Photometric == 3 ? 1 << c.Bits : 0);
    }
}

TEST(TiffReaderTest, OtherPhotometrics) {
    struct TCase {
        const char* Name;
        int Photometric, Samples, Bits;
        std::vector<std::uint8_t> Data;
        int R, G, B;
    };
    const TCase cases[] = {
        // Stored inks: no ink is white, full black ink is black; half cyan under half black.
        {"CmykNoInk", 5, 4, 8, {0, 0, 0, 0}, 255, 255, 255},
        {"CmykBlack", 5, 4, 8, {0, 0, 0, 255}, 0, 0, 0},
        {"CmykCyan", 5, 4, 8, {255, 0, 0, 0}, 0, 255, 255},
        {"CmykHalf", 5, 4, 8, {128, 0, 0, 128}, 63, 127, 127},
        // CIELab (D50) to sRGB, as Little CMS converts them (Pillow's ImageCms, LAB to sRGB): the white
        // point is white, L 0 black, (L 50, a 40, b -30) a violet, (L 80, a -20, b 60) a yellow-green.
        {"LabWhite", 8, 3, 8, {255, 0, 0}, 254, 255, 254},
        {"LabBlack", 8, 3, 8, {0, 0, 0}, 1, 0, 1},
        {"LabViolet", 8, 3, 8, {128, 40, 226}, 166, 92, 172},
        {"LabYellowGreen", 8, 3, 8, {204, 236, 60}, 187, 208, 77},
        {"Rgb555", 2, 1, 16, {0x1F, 0x7C}, 248, 0, 248}, // red 31, blue 31 (little-endian word 0x7C1F)
        {"Rgb16", 2, 3, 16, {0x00, 0x12, 0xFF, 0x80, 0x34, 0x01}, 0x12, 0x80, 0x01},
    };
    for (const TCase& c : cases) {
        B b;
        B::Image(b.AddDirectory(), 1, 1, std::uint32_t(c.Bits), std::uint32_t(c.Samples), c.Photometric, 1, 1,
                 {c.Data});
        auto r = ReadBytes(b.Build());
        ASSERT_FALSE(r->Aborted) << c.Name;
        const auto img = ToRgb(r->Bitmap);
        // Within one: truncating and rounding rules differ by that much.
        const std::uint8_t* p = img.At(0, 0);
        EXPECT_NEAR(p[0], c.R, 1) << c.Name;
        EXPECT_NEAR(p[1], c.G, 1) << c.Name;
        EXPECT_NEAR(p[2], c.B, 1) << c.Name;
    }
}

TEST(TiffReaderTest, TruncatedStripsGiveDefinedPixels) {
    // Bilevel: missing rows are white; colour: missing rows are black.
    B bilevel;
    B::Image(bilevel.AddDirectory(), 8, 4, 1, 1, 1, 1, 4, {{0x00, 0x00}});
    auto r = ReadBytes(bilevel.Build());
    ASSERT_EQ(r->Bitmap.Height(), 4);
    EXPECT_EQ(r->Bitmap.RowPointer(1)[0], 0x00);
    EXPECT_EQ(r->Bitmap.RowPointer(2)[0], 0xFF);
    EXPECT_EQ(r->Bitmap.RowPointer(3)[0], 0xFF);

    B rgb;
    B::Image(rgb.AddDirectory(), 2, 3, 8, 3, 2, 1, 3, {{200, 200, 200, 200, 200, 200, 200}});
    r = ReadBytes(rgb.Build());
    const auto img = ToRgb(r->Bitmap);
    EXPECT_EQ(img.At(1, 0)[2], 200);
    EXPECT_EQ(img.At(0, 1)[0], 200);
    EXPECT_EQ(img.At(0, 1)[1], 0); // the partial row is padded with zeros
    EXPECT_EQ(img.At(1, 2)[0], 0);

    // A strip list shorter than the image: the rows without a strip keep the fill.
    B fewer;
    B::Image(fewer.AddDirectory(), 1, 4, 8, 1, 1, 1, 1, {{50}, {60}});
    r = ReadBytes(fewer.Build());
    EXPECT_FALSE(r->Aborted);
    EXPECT_EQ(ToRgb(r->Bitmap).At(0, 1)[0], 60);
    EXPECT_EQ(ToRgb(r->Bitmap).At(0, 3)[0], 0);
}

TEST(TiffReaderTest, WhatCannotBeDecodedIsMarkedFailed) {
    struct TCase {
        const char* Name;
        std::uint32_t Compression;
        int Bits, Samples, Photometric;
        const char* Reason;
    };
    const TCase cases[] = {
        {"UnknownCompression", 34712, 8, 3, 2, "unsupported compression 34712"},
        {"YCbCrFourSamples", 1, 8, 4, 6, "unsupported: 4 samples of 8 bits, photometric 6"},
        {"TwelveBitGrey", 1, 12, 1, 1, "unsupported: 1 sample of 12 bits, photometric 1"},
        {"CcittOnGrey", 4, 8, 1, 1, "unsupported: 1 sample of 8 bits, photometric 1"},
    };
    for (const TCase& c : cases) {
        B b;
        B::Image(b.AddDirectory(), 3, 2, std::uint32_t(c.Bits), std::uint32_t(c.Samples), c.Photometric,
                 c.Compression, 2, {std::vector<std::uint8_t>(64, 0x55)});
        auto r = ReadBytes(b.Build());
        EXPECT_TRUE(r->Aborted) << c.Name;
        EXPECT_EQ(r->Outcome.Refusal, c.Reason);
        // Nothing is allocated: no blank page stands in for the image.
        EXPECT_EQ(r->Bitmap.Width(), 0) << c.Name;
    }

    // Floating-point samples of a width IEEE does not have are refused rather than read as integers.
    B f;
    auto& d = f.AddDirectory();
    B::Image(d, 1, 1, 24, 1, 1, 1, 1, {{0, 0, 0x3C}});
    B::Short(d, 339, 3);
    EXPECT_EQ(ReadBytes(f.Build())->Outcome.Refusal, "unsupported: floating-point samples of 24 bits");
}

TEST(TiffReaderTest, WholeBlockCompressionsSayWhenTheirDataIsDamaged) {
    struct TCase {
        std::uint32_t Compression;
        const char* Reason;
    };
    const TCase cases[] = {
        {50000, "damaged Zstandard data"}, {34925, "damaged LZMA data"}, {50001, "damaged WebP data"}};
    for (const TCase& c : cases) {
        B b;
        B::Image(b.AddDirectory(), 4, 2, 8, 3, 2, c.Compression, 2, {std::vector<std::uint8_t>(40, 0x5A)});
        auto r = ReadBytes(b.Build());
        EXPECT_TRUE(r->Aborted) << c.Compression;
        EXPECT_EQ(r->Outcome.Refusal, c.Reason);
    }
    // WebP holds 8-bit RGB or RGBA only.
    B grey;
    B::Image(grey.AddDirectory(), 4, 2, 8, 1, 1, 50001, 2, {std::vector<std::uint8_t>(40, 0x5A)});
    EXPECT_EQ(ReadBytes(grey.Build())->Outcome.Refusal,
              "unsupported: WebP data other than 8-bit RGB or RGBA");
}

// ---- A file cut short keeps the rows its strips hold; the others are reported missing.

struct TCutCase {
    const char* Name;
    const char* Options; // ImageMagick's, for a 40 x 60 image
    bool Bilevel;
};
class TiffCut : public ::testing::TestWithParam<TCutCase> {};

TEST_P(TiffCut, KeepsTheRowsItsStripsHold) {
    if (!HaveTools()) GTEST_SKIP() << "tiffcp or convert missing";
    const TCutCase& c = GetParam();
    testsupport::TempDir dir;
    const std::string tif = dir.File("c.tif");
    ASSERT_TRUE(Shell(std::string("/usr/bin/convert -size 40x60 gradient:red-blue -swirl 90 ") +
                      (c.Bilevel ? "-monochrome " : "") + c.Options + " " + tif));
    // Written directory first, as scanners do: a cut leaves the directory whole.
    std::size_t dataStart = 0; // after the directory and its values
    const std::vector<std::uint8_t> whole = DirectoryFirst(testsupport::ReadFileBytes(tif), &dataStart);
    auto full = ReadBytes(whole);
    ASSERT_FALSE(full->Aborted) << full->Outcome.Refusal;
    ASSERT_FALSE(full->Outcome.DataEndsEarly);
    const testsupport::RgbImage reference = ToRgb(full->Bitmap);
    for (const int percent : {35, 70, 95}) {
        SCOPED_TRACE(percent);
        const std::size_t keep = dataStart + (whole.size() - dataStart) * std::size_t(percent) / 100;
        auto r = ReadBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(keep)));
        ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
        ASSERT_TRUE(r->Outcome.MissingRowsKnown());
        EXPECT_EQ(r->Outcome.LastMissingRow, 59);
        const int kept = r->Outcome.FirstMissingRow;
        EXPECT_GT(kept, 0);
        const testsupport::RgbImage got = ToRgb(r->Bitmap);
        EXPECT_EQ(std::memcmp(got.Pixels.data(), reference.Pixels.data(), std::size_t(kept) * 40 * 3), 0);
    }
    // Cut right after the directory: no row at all, no image.
    auto none =
        ReadBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(dataStart)));
    EXPECT_TRUE(none->Aborted);
    EXPECT_EQ(none->Outcome.Refusal, "data ends before the first row");
}

INSTANTIATE_TEST_SUITE_P(
    Strips, TiffCut,
    ::testing::Values(TCutCase{"Uncompressed", "-compress none -define tiff:rows-per-strip=8", false},
                      TCutCase{"UncompressedOneStrip", "-compress none -define tiff:rows-per-strip=60",
                               false},
                      TCutCase{"Lzw", "-compress lzw -define tiff:rows-per-strip=8", false},
                      TCutCase{"LzwOneStrip", "-compress lzw -define tiff:rows-per-strip=60", false},
                      TCutCase{"PackBits", "-compress rle -define tiff:rows-per-strip=8", false},
                      TCutCase{"Deflate", "-compress zip -define tiff:rows-per-strip=60", false},
                      TCutCase{"Zstd", "-compress zstd -define tiff:rows-per-strip=8", false},
                      TCutCase{"Lzma", "-compress lzma -define tiff:rows-per-strip=8", false},
                      TCutCase{"Webp", "-depth 8 -compress webp -define tiff:rows-per-strip=8", false},
                      TCutCase{"Jpeg", "-compress jpeg -define tiff:rows-per-strip=16", false},
                      TCutCase{"Group4", "-compress group4", true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TiffReaderTest, SizesTheFileCannotHoldAreRefused) {
    // 60000 x 60000 RGB from a file of about 200 bytes: refused before anything is allocated.
    for (std::uint32_t compression : {1u, 5u, 32773u, 4u, 7u}) {
        B b;
        B::Image(b.AddDirectory(), 60000, 60000, compression == 4 ? 1 : 8, compression == 4 ? 1 : 3,
                 compression == 4 ? 0 : 2, compression, 60000, {{0x80, 0x00}});
        auto r = ReadBytes(b.Build());
        EXPECT_TRUE(r->Aborted) << compression;
        EXPECT_EQ(r->Bitmap.Width(), 0) << compression;
        EXPECT_FALSE(r->Mask);
    }
    // A tile size that would overflow the enlarged bitmap.
    B t;
    auto& d = t.AddDirectory();
    B::Image(d, 16, 16, 8, 1, 1, 1, 16, {});
    B::Long(d, 322, 0xFFFFFFF0u);
    B::Long(d, 323, 16);
    d.Tiles = true;
    d.Strips = {std::vector<std::uint8_t>(16, 1)};
    EXPECT_TRUE(ReadBytes(t.Build())->Aborted);
}

TEST(TiffReaderTest, LzwNeedsADecoder) {
    B b;
    B::Image(b.AddDirectory(), 1, 1, 8, 1, 1, 5, 1, {{0x80, 0x00}});
    const auto bytes = b.Build();
    const TTiffLzwDecoder saved = DefaultTiffLzwDecoder;
    DefaultTiffLzwDecoder = nullptr;
    auto r = ReadBytes(bytes, {.Lzw = nullptr});
    DefaultTiffLzwDecoder = saved;
    EXPECT_TRUE(r->Aborted);
    EXPECT_EQ(r->Params.ImageWidth, 1); // the parameters were read

    // The decoder in the parameters is the one used, through its protocol.
    static int calls = 0, releases = 0;
    calls = releases = 0;
    const TTiffLzwDecoder counting = [](const std::uint8_t* data, std::int64_t size, int rowLength,
                                        void** state, int* decoded) {
        if (!data)
            ++releases;
        else
            ++calls;
        return TiffLzwDecode(data, size, rowLength, state, decoded);
    };
    B two;
    B::Image(two.AddDirectory(), 2, 2, 8, 1, 1, 5, 2, {{0x80, 0x00}});
    r = ReadBytes(two.Build(), {.Lzw = counting});
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(releases, 1);
}

TEST(TiffReaderTest, LzwFailureKeepsEarlierRows) {
    // Row 0 decodes (codes 256, 7, 7), then code 400 refers beyond the table.
    std::vector<std::uint8_t> data;
    unsigned long long bits = 0;
    int n = 0;
    for (unsigned code : {256u, 7u, 7u, 400u}) {
        bits = (bits << 9) | code;
        n += 9;
    }
    bits <<= (40 - n);
    for (int i = 4; i >= 0; --i) data.push_back(std::uint8_t(bits >> (8 * i)));
    B b;
    B::Image(b.AddDirectory(), 2, 3, 8, 1, 1, 5, 3, {data});
    auto r = ReadBytes(b.Build());
    EXPECT_TRUE(r->Aborted);
    const auto img = ToRgb(r->Bitmap);
    EXPECT_EQ(img.At(1, 0)[0], 7);
    EXPECT_EQ(img.At(1, 2)[0], 0);
}

TEST(TiffReaderTest, ProgressRunsToOneHundred) {
    B b;
    B::Image(b.AddDirectory(), 2, 6, 8, 1, 1, 1, 2, {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}});
    const auto bytes = b.Build();
    bool aborting = false;
    std::vector<int> seen;
    TIEProgressRecord progress([&](void*, int per) { seen.push_back(per); }, nullptr, aborting);
    TIEBitmap bitmap;
    TIOParamsVals params;
    std::unique_ptr<TIEMask> mask;
    int count = 0;
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    ReadTiffStream(bitmap, stream, count, false, false, true, mask, false, progress, params);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.front(), 16);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(progress.PercentPerStrip, 100.0 / 3);

    // An abort from the handler stops after the current row.
    aborting = false;
    int rows = 0;
    TIEProgressRecord stop([&](void*, int) { aborting = ++rows == 2; }, nullptr, aborting);
    stream.SetPosition(0);
    ReadTiffStream(bitmap, stream, count, false, false, true, mask, false, stop, params);
    EXPECT_EQ(rows, 2);
}

TEST(TiffReaderTest, OffsetsCountFromTheStreamPositionWhenRelative) {
    B b;
    B::Image(b.AddDirectory(), 2, 1, 8, 1, 1, 1, 1, {{11, 22}});
    std::vector<std::uint8_t> bytes(5, 0xEE);
    const auto tiff = b.Build();
    bytes.insert(bytes.end(), tiff.begin(), tiff.end());
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    stream.SetPosition(5);
    EXPECT_EQ(GetTiffFrameCount(stream), 1);
    EXPECT_EQ(stream.Position(), 5);
    TIEBitmap bitmap;
    TIOParamsVals params;
    std::unique_ptr<TIEMask> mask;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    int count = 0;
    ReadTiffStream(bitmap, stream, count, false, false, true, mask, false, progress, params);
    EXPECT_EQ(ToRgb(bitmap).At(1, 0)[0], 22);
    // Counted from position 0 the header is not where the offsets say.
    stream.SetPosition(5);
    ReadTiffStream(bitmap, stream, count, false, false, false, mask, false, progress, params);
    EXPECT_TRUE(aborting);
}

// Orientation against ImageMagick's -auto-orient on the same file.
TEST(TiffReaderTest, ApplyOrientationTurnsLikeTheTagSays) {
    if (!HaveTools()) GTEST_SKIP() << "convert missing";
    testsupport::TempDir dir;
    const testsupport::RgbImage img = MakeImage(5, 3, 3);
    for (int o = 1; o <= 8; ++o) {
        B b;
        auto& d = b.AddDirectory();
        B::Image(d, 5, 3, 8, 3, 2, 1, 3, {img.Pixels});
        B::Short(d, 274, std::uint32_t(o));
        const auto bytes = b.Build();
        testsupport::WriteFileBytes(dir.File("o.tif"), bytes);
        ASSERT_TRUE(Shell("/usr/bin/convert " + dir.File("o.tif") + " -auto-orient " + dir.File("o.ppm")));
        testsupport::RgbImage expected;
        ASSERT_TRUE(testsupport::ReadPnm(dir.File("o.ppm"), expected));
        auto r = ReadBytes(bytes, {.ApplyOrientation = true});
        EXPECT_EQ(testsupport::MaxDifference(ToRgb(r->Bitmap), expected), 0) << o;
        EXPECT_EQ(r->Params.ImageWidth, o >= 5 ? 3 : 5) << o;
        // Without the request the stored order stays.
        EXPECT_EQ(testsupport::MaxDifference(ToRgb(ReadBytes(bytes)->Bitmap), img), 0) << o;
    }
}

} // namespace

namespace {
// Associated alpha stores premultiplied colour: the image gets the colour itself back, the mask the
// opacity, so that laying the page on paper blends once. Unassociated colour stays as stored.
struct TAlphaCase {
    const char* Name;
    std::uint32_t ExtraSamples;
    std::uint8_t Alpha;
    std::uint8_t Stored;
    std::uint8_t Expected;
};
const TAlphaCase kAlphaCases[] = {
    {"AssociatedHalf", 1, 128, 64, 128},  {"AssociatedOpaque", 1, 255, 64, 64},
    {"AssociatedClear", 1, 0, 0, 0},      {"AssociatedOverfull", 1, 10, 200, 255},
    {"UnassociatedHalf", 2, 128, 64, 64}, {"UnspecifiedHalf", 0, 128, 64, 64},
};
class TiffAlphaTest : public testing::TestWithParam<TAlphaCase> {};
TEST_P(TiffAlphaTest, ColourAndMask) {
    const TAlphaCase& c = GetParam();
    B b;
    B::TDir& d = b.AddDirectory();
    B::Image(d, 1, 1, 8, 4, 2, 1, 1, {{c.Stored, c.Stored, c.Stored, c.Alpha}});
    B::Short(d, 338, c.ExtraSamples);
    const auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted);
    ASSERT_TRUE(r->Mask);
    EXPECT_EQ(r->Mask->RowPointer(0)[0], c.Alpha);
    EXPECT_EQ(ToRgb(r->Bitmap).At(0, 0)[0], c.Expected);
}
INSTANTIATE_TEST_SUITE_P(Samples, TiffAlphaTest, testing::ValuesIn(kAlphaCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace

namespace {
// Signed samples: the most negative value is black, zero mid-grey, the most positive white.
struct TSignedCase {
    const char* Name;
    bool BigEndian;
    std::uint32_t Bits;
    std::vector<std::uint8_t> Strip; // -max, 0, +max in the file's byte order
};
const TSignedCase kSignedCases[] = {
    {"EightBit", false, 8, {0x80, 0x00, 0x7F}},
    {"SixteenBitLittleEndian", false, 16, {0x00, 0x80, 0x00, 0x00, 0xFF, 0x7F}},
    {"SixteenBitBigEndian", true, 16, {0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF}},
};
class TiffSignedTest : public testing::TestWithParam<TSignedCase> {};
TEST_P(TiffSignedTest, RangeLaidOntoGreys) {
    const TSignedCase& c = GetParam();
    B b(c.BigEndian);
    B::TDir& d = b.AddDirectory();
    B::Image(d, 3, 1, c.Bits, 1, 1, 1, 1, {c.Strip});
    B::Short(d, 339, 2);
    const auto r = ReadBytes(b.Build());
    ASSERT_FALSE(r->Aborted);
    const testsupport::RgbImage rgb = ToRgb(r->Bitmap);
    EXPECT_EQ(rgb.At(0, 0)[0], 0);
    EXPECT_EQ(rgb.At(1, 0)[0], 128);
    EXPECT_EQ(rgb.At(2, 0)[0], 255);
}
INSTANTIATE_TEST_SUITE_P(Samples, TiffSignedTest, testing::ValuesIn(kSignedCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace
