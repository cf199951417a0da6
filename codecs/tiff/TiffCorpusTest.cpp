// Every TIFF file of the shared corpus: good files decode to ImageMagick's pixels (with the comparison
// each kind of file allows, see Expectation), bad files end without crashing.
#include "codecs/tiff/TiffIfd.h"
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace tifftest;

enum class TCompare {
    Exact,
    WithinOne,    // the reader's rules for wide samples, colour maps and inks truncate (v >> 8, v / 255)
    WithinTwo,    // two such truncations in a row
    Lossy,        // JPEG data: PSNR against the same decoder library
    Lab,          // CIELab: the reference converts without colour management, this reader through D50 to sRGB
    NegatedWhite, // ImageMagick ignores white-is-zero below 8 bits (PIL agrees with this reader)
    OldJpeg,      // against the embedded JPEG stream decoded on its own
    Skip
};

struct TExpectation {
    std::string Unsupported; // non-empty: the reader refuses the file (Aborting), for this reason
    TCompare Compare = TCompare::Exact;
    std::string SkipReason;
    bool AssociatedAlpha = false;   // premultiplied colour: transparent pixels are compared apart
    bool ReferenceUnsigned = false; // the reference shows these signed samples as if unsigned
    bool ReferenceRgba = false;     // ImageMagick misreads the file; libtiff's tiff2rgba is the reference
    std::vector<std::uint8_t> OldJpegStream;
};

bool Contains(const std::vector<std::uint8_t>& v, std::uint8_t a, std::uint8_t b) {
    for (std::size_t i = 0; i + 1 < v.size(); ++i)
        if (v[i] == a && v[i + 1] == b) return true;
    return false;
}

// What the reader is meant to do with a file, from its first directory.
TExpectation Expectation(const std::vector<std::uint8_t>& bytes, const std::string& path) {
    TExpectation e;
    TReadOnlyMemoryStream stream(bytes.data(), std::int64_t(bytes.size()));
    tiff::TTiffSource src(stream, 0);
    const tiff::TTiffChain chain = tiff::WalkChain(src, 0);
    if (chain.BadHeader) {
        e.Unsupported = chain.Problem;
        return e;
    }
    const tiff::TTiffDirectory& d = chain.Wanted;
    const std::uint32_t compression = d.Single(259, 1), photometric = d.Single(262, 2);
    const std::uint32_t bits = d.First(258, 1), spp = d.Single(277, 1), format = d.First(339, 1);
    const std::vector<std::uint32_t> known = {1, 2,     3,     4,     5,     6,     7,
                                              8, 32773, 32946, 34676, 34925, 50000, 50001};
    constexpr std::uint32_t kSgiLog = 34676;
    if (std::find(known.begin(), known.end(), compression) == known.end())
        e.Unsupported = "compression " + std::to_string(compression);
    else if (compression == 7 && photometric == 2 && spp == 4)
        e.Unsupported = "JPEG with an alpha component";
    else if (compression == 7) {
    } else if (compression == 6) {
        const std::uint32_t offset = d.Single(513, 0), length = d.Single(514, 0);
        if (offset > 0 && offset < bytes.size()) {
            const std::size_t end =
                length ? std::min<std::size_t>(bytes.size(), std::size_t(offset) + length) : bytes.size();
            e.OldJpegStream.assign(bytes.begin() + offset, bytes.begin() + std::ptrdiff_t(end));
        }
        // Tables apart from the scans: libtiff's rendering is the reference.
        if (!Contains(e.OldJpegStream, 0xFF, 0xDA)) e.OldJpegStream.clear();
    } else if (compression == kSgiLog) {
        // LogL and LogLuv in run-length coding: libtiff's 8-bit rendering is the reference.
        e.ReferenceRgba = true;
        return e;
    } else if (!(bits <= 8 || bits == 16 || bits == 32 || bits == 64))
        e.Unsupported = std::to_string(bits) + " bits per sample";
    else if (photometric == 6 && d.Single(284, 1) == 2)
        e.Unsupported = "YCbCr in separate planes";
    else if (photometric > 8)
        e.Unsupported = "photometric " + std::to_string(photometric);
    else if (bits > 8 && photometric == 3)
        e.Unsupported = "palette indexes wider than a byte";
    else if ((compression >= 2 && compression <= 4) && bits != 1)
        e.Unsupported = "fax coding of grey samples";
    if (!e.Unsupported.empty()) return e;

    e.AssociatedAlpha = spp >= 2 && d.First(338, 0) == 1;
    // ImageMagick offsets signed samples into the unsigned range only for one-sample 16-bit images.
    e.ReferenceUnsigned = format == 2 && (bits == 8 || bits == 16 || bits == 32) && !(bits == 16 && spp == 1);
    if (path.find("testfax3_bug54_1dnoEOL") != std::string::npos)
        e.SkipReason = "the reference's fax decoder reports a premature EOL in every strip and renders white";
    else if (path.find("minisblack-2c-8b-alpha") != std::string::npos)
        e.SkipReason =
            "the reference renders these opaque planar samples differently from their stored values "
            "(its own alpha says opaque; tiffcp -c none gives the values this reader delivers)";
    else if (photometric <= 1 && spp >= 3 && d.Values(338).size() < spp - 1)
        e.SkipReason =
            "grey with extra samples the file does not declare: the reference reads them as colour";
    else if (format == 2 && photometric == 5)
        e.SkipReason = "signed inks: the reference reads them unsigned, and inks do not flip like light";
    else if (compression == 6 && e.OldJpegStream.empty()) {
        e.Compare = TCompare::Lossy;
        e.ReferenceRgba = true;
    } else if (compression == 6)
        e.Compare = TCompare::OldJpeg; // the reference's old-JPEG path mis-converts colours
    else if (compression == 7)
        e.Compare = TCompare::Lossy;
    else if (photometric == 8)
        e.Compare = TCompare::Lab;
    else if (photometric == 6) {
        e.Compare = TCompare::Lossy; // colour conversion rounds differently
        e.ReferenceRgba = true;      // ImageMagick mixes up subsampled data units
    } else if (photometric == 0 && bits > 1 && bits < 8)
        e.Compare = TCompare::NegatedWhite;
    else if (bits > 8 && photometric == 5)
        e.Compare = TCompare::WithinTwo; // the high byte of each ink, then the inks multiplied
    else if (bits >= 16 || photometric == 3 || photometric == 5)
        e.Compare = TCompare::WithinOne;
    return e;
}

// libtiff's own RGBA rendering of a frame, through an uncompressed RGBA file.
bool Tiff2RgbaReference(const std::string& path, int frame, testsupport::RgbImage& image) {
    testsupport::TempDir dir;
    const std::string rgba = dir.File("rgba.tif");
    return frame == 0 &&
           testsupport::RunCommand("tiff2rgba " + testsupport::ShellQuote(path) + " " + rgba +
                                   " >/dev/null 2>&1") == 0 &&
           testsupport::DecodeWithImageMagick(rgba, image);
}

bool ImageMagickAlpha(const std::string& path, int frame, testsupport::RgbImage& alpha) {
    testsupport::TempDir dir;
    const std::string out = dir.File("alpha.pgm");
    const std::string cmd =
        "/usr/bin/convert " + testsupport::ShellQuote(path + "[" + std::to_string(frame) + "]") +
        " -alpha extract -depth 8 " + testsupport::ShellQuote("pgm:" + out) + " >/dev/null 2>&1";
    return testsupport::RunCommand(cmd) == 0 && testsupport::ReadPnm(out, alpha);
}

} // namespace
namespace testsupport {
void PrintTo(const CorpusEntry& e, std::ostream* os) {
    *os << e.Path;
}
} // namespace testsupport
namespace {

class TiffCorpusTest : public testing::TestWithParam<testsupport::CorpusEntry> {};

TEST_P(TiffCorpusTest, Decodes) {
    FOLIANTO_REQUIRE_CORPUS();
    const testsupport::CorpusEntry& entry = GetParam();
    const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
    const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(path);
    ASSERT_FALSE(bytes.empty()) << path;
    auto first = ReadBytes(bytes);
    if (entry.IsBad()) {
        // Hostile files: the read ends, and whatever it delivered is readable.
        EXPECT_GE(first->FrameCount, 0);
        if (first->Bitmap.Width() > 0) (void)ToRgb(first->Bitmap);
        return;
    }
    const TExpectation e = Expectation(bytes, entry.Path);
    if (!e.Unsupported.empty()) {
        EXPECT_TRUE(first->Aborted) << "expected a refusal: " << e.Unsupported;
        GTEST_SKIP() << "not read by this reader: " << e.Unsupported;
    }
    ASSERT_FALSE(first->Aborted) << entry.Path;
    if (!e.SkipReason.empty()) GTEST_SKIP() << e.SkipReason;

    const int frames = std::min(first->FrameCount, 4);
    for (int frame = 0; frame < frames; ++frame) {
        auto r = frame == 0 ? std::move(first) : ReadBytes(bytes, {.Frame = frame});
        testsupport::RgbImage reference;
        if (e.Compare == TCompare::OldJpeg) {
            testsupport::TempDir dir;
            testsupport::WriteFileBytes(dir.File("stream.jpg"), e.OldJpegStream);
            ASSERT_TRUE(testsupport::DecodeWithImageMagick(dir.File("stream.jpg"), reference));
        } else if (e.ReferenceRgba) {
            if (!Tiff2RgbaReference(path, frame, reference))
                GTEST_SKIP() << "tiff2rgba cannot read this file";
        } else if (!testsupport::DecodeWithImageMagick(path, reference, frame)) {
            GTEST_SKIP() << "the reference cannot read this file";
        }
        testsupport::RgbImage mine = ToRgb(r->Bitmap);
        ASSERT_EQ(mine.Width, reference.Width) << frame;
        ASSERT_EQ(mine.Height, reference.Height) << frame;
        if (e.Compare == TCompare::NegatedWhite)
            for (std::uint8_t& v : reference.Pixels) v = std::uint8_t(255 - v);
        if (e.ReferenceUnsigned)
            for (std::uint8_t& v : reference.Pixels) v ^= 0x80;
        testsupport::RgbImage alpha;
        const bool haveAlpha = ImageMagickAlpha(path, frame, alpha) && alpha.Width == mine.Width;
        if (e.AssociatedAlpha && haveAlpha) {
            // Partly transparent colour was divided by its opacity here and in the reference, which
            // rounds differently; it is checked apart. Where no alpha was delivered (16-bit samples) the
            // colour stays premultiplied.
            int worst = 0;
            for (std::size_t i = 0; i < mine.Pixels.size(); ++i) {
                const std::uint8_t a = alpha.Pixels[i / 3 * 3];
                if (a == 255) continue;
                const int x = int(i / 3 % std::size_t(mine.Width)), y = int(i / 3 / std::size_t(mine.Width));
                const bool delivered = r->Mask && r->Mask->GetPixel(x, y) == a;
                if (a != 0 && delivered)
                    worst = std::max(worst, std::abs(mine.Pixels[i] - reference.Pixels[i]));
                mine.Pixels[i] = reference.Pixels[i];
            }
            EXPECT_LE(worst, 1) << "partly transparent colour, frame " << frame;
        }
        switch (e.Compare) {
        case TCompare::Exact:
        case TCompare::NegatedWhite:
            EXPECT_EQ(testsupport::MaxDifference(mine, reference), 0) << frame;
            break;
        case TCompare::WithinOne:
            EXPECT_LE(testsupport::MaxDifference(mine, reference), 1) << frame;
            break;
        case TCompare::WithinTwo:
            EXPECT_LE(testsupport::MaxDifference(mine, reference), 2) << frame;
            break;
        case TCompare::Lossy:
        case TCompare::OldJpeg:
            EXPECT_GE(testsupport::Psnr(mine, reference), 40) << frame;
            break;
        case TCompare::Lab:
            EXPECT_GE(testsupport::Psnr(mine, reference), 20) << frame;
            break;
        case TCompare::Skip:
            break;
        }
        // Unassociated 8-bit alpha arrives in the mask as stored.
        if (r->Mask && haveAlpha && !e.AssociatedAlpha && r->Params.BitsPerSample == 8) {
            int worst = 0;
            for (int y = 0; y < mine.Height; ++y)
                for (int x = 0; x < mine.Width; ++x)
                    worst = std::max(worst, std::abs(r->Mask->GetPixel(x, y) - alpha.At(x, y)[0]));
            EXPECT_EQ(worst, 0) << "mask, frame " << frame;
        }
    }
}

std::string CorpusName(const testing::TestParamInfo<testsupport::CorpusEntry>& info) {
    std::string name = info.param.Path.substr(5); // after "tiff/"
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, TiffCorpusTest, testing::ValuesIn(testsupport::CorpusCases("tiff")),
                         CorpusName);

} // namespace
