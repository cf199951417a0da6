// Composing animated GIF frames: small hand-made animations whose screens are checked pixel by pixel,
// and every frame of every animated corpus GIF as it lands on its page, against a coalescing player
// whose frames are laid on the same white paper (ImageMagick: -coalesce -background white -alpha
// remove).
#include "codecs/gif/GifComposition.h"
#include "imaging/bitmap/AlphaFlatten.h"
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/IOParams.h"
#include "platform/Colors.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
constexpr TIERgbTriple kBlue = CreateRGB(0, 0, 255);
constexpr TIERgbTriple kRed = CreateRGB(255, 0, 0);
constexpr TIERgbTriple kGreen = CreateRGB(0, 255, 0);

struct TFrameSpec {
    int Left, Top, Width, Height;
    TIERgbTriple Colour;
    int Disposal;
    std::vector<std::pair<int, int>> Transparent; // pixels of the frame left transparent
};
struct TScreenPixel {
    int X, Y;
    bool Shown;          // false: the screen shows nothing there (the page shows paper)
    TIERgbTriple Colour; // when shown
};
struct TComposeCase {
    const char* Name;
    int ScreenWidth, ScreenHeight;
    bool GlobalTable;
    std::vector<TFrameSpec> Frames;
    int CanvasWidth, CanvasHeight;
    std::vector<TScreenPixel> Expected; // after the last frame
};

// Background blue; a 4 x 4 screen unless a case says otherwise.
const TComposeCase kComposeCases[] = {
    {"UntouchedScreenShowsTheBackgroundColour",
     4,
     4,
     true,
     {{0, 0, 2, 2, kRed, 1, {}}},
     4,
     4,
     {{1, 1, true, kRed}, {3, 3, true, kBlue}}},
    {"TransparentFirstFrameLeavesTheScreenEmpty",
     4,
     4,
     true,
     {{0, 0, 2, 2, kRed, 1, {{0, 0}}}},
     4,
     4,
     {{0, 0, false, {}}, {1, 1, true, kRed}, {3, 3, false, {}}}},
    {"WithoutAGlobalTableNoBackgroundIsShown",
     4,
     4,
     false,
     {{0, 0, 2, 2, kRed, 1, {}}},
     4,
     4,
     {{1, 1, true, kRed}, {3, 3, false, {}}}},
    {"AFramePaintingAnEmptyAreaMakesItOpaque",
     4,
     4,
     true,
     {{0, 0, 4, 4, kRed, 1, {{2, 2}, {3, 3}}}, {2, 2, 2, 2, kGreen, 1, {}}},
     4,
     4,
     {{2, 2, true, kGreen}, {3, 3, true, kGreen}, {0, 0, true, kRed}}},
    {"RestoreToBackgroundClearsOnlyThePreviousFrame",
     4,
     4,
     true,
     {{0, 0, 4, 4, kRed, 1, {}},
      {0, 0, 1, 1, kGreen, 2, {}},
      {0, 0, 4, 4, kGreen, 1, {{0, 0}, {1, 1}, {3, 3}, {0, 3}}}},
     4,
     4,
     {{0, 0, false, {}}, {1, 1, true, kRed}, {3, 3, true, kRed}, {2, 2, true, kGreen}}},
    {"RestoreToPreviousPutsBackTheScreen",
     4,
     4,
     true,
     {{0, 0, 2, 2, kRed, 1, {{0, 0}}}, {0, 0, 2, 2, kGreen, 3, {}}, {3, 3, 1, 1, kRed, 1, {}}},
     4,
     4,
     {{0, 0, false, {}}, {1, 1, true, kRed}, {3, 3, true, kRed}}},
    {"FramesBeyondTheScreenAreCut",
     2,
     2,
     true,
     {{1, 0, 3, 1, kRed, 1, {}}, {1, 1, 4, 4, kGreen, 1, {}}},
     2,
     2,
     {{0, 0, true, kBlue}, {1, 0, true, kRed}, {1, 1, true, kGreen}}},
    {"AScreenOfNoSizeHoldsTheFrames",
     0,
     0,
     true,
     {{0, 0, 2, 1, kRed, 1, {}}, {1, 1, 2, 2, kGreen, 1, {}}},
     3,
     3,
     {{0, 0, true, kRed}, {2, 2, true, kGreen}, {0, 2, true, kBlue}}},
};

void PrintTo(const TComposeCase& c, std::ostream* os) {
    *os << c.Name;
}

std::unique_ptr<TIEBitmap> FrameBitmap(const TFrameSpec& f) {
    auto b = std::make_unique<TIEBitmap>();
    b->Reallocate(f.Width, f.Height, ie24Rgb);
    b->FillAll(RGBColor(f.Colour.r, f.Colour.g, f.Colour.b));
    if (!f.Transparent.empty()) {
        b->AlphaPlane()->FillAll(255);
        for (const auto& [x, y] : f.Transparent) b->AlphaPlane()->RowPointer(y)[x] = 0;
    }
    return b;
}

class GifComposeTest : public testing::TestWithParam<TComposeCase> {};

TEST_P(GifComposeTest, ScreenAfterTheLastFrame) {
    const TComposeCase& tc = GetParam();
    TGifComposition c;
    TIOParamsVals params;
    params.GifScreenWidth = tc.ScreenWidth;
    params.GifScreenHeight = tc.ScreenHeight;
    params.GifHasGlobalColorTable = tc.GlobalTable;
    params.GifBackgroundColor = kBlue;
    for (const TFrameSpec& f : tc.Frames) {
        auto frame = FrameBitmap(f);
        params.GifFrameLeft = f.Left;
        params.GifFrameTop = f.Top;
        params.GifDisposal = std::uint8_t(f.Disposal);
        params.GifHasTransparency = !f.Transparent.empty();
        ComposeGifFrame(c, *frame, params);
    }
    ASSERT_EQ(c.Canvas.Width(), tc.CanvasWidth);
    ASSERT_EQ(c.Canvas.Height(), tc.CanvasHeight);
    for (const TScreenPixel& p : tc.Expected) {
        EXPECT_EQ(c.Canvas.AlphaAt(p.X, p.Y), p.Shown ? 255 : 0) << "(" << p.X << ", " << p.Y << ")";
        if (p.Shown) {
            EXPECT_EQ(c.Canvas.PixelAsRgb(p.X, p.Y), p.Colour) << "(" << p.X << ", " << p.Y << ")";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, GifComposeTest, testing::ValuesIn(kComposeCases),
                         [](const auto& info) { return std::string(info.param.Name); });
} // namespace

namespace {
// The player's frames, flattened on white, one PPM per frame.
std::vector<testsupport::RgbImage> PlayerFrames(const std::string& path, const testsupport::TempDir& dir) {
    std::vector<testsupport::RgbImage> frames;
    if (RunCommand("/usr/bin/convert " + ShellQuote(path) +
                   " -coalesce -background white -alpha remove -depth 8 +adjoin " +
                   ShellQuote("ppm:" + dir.File("frame-%d.ppm")) + " >/dev/null 2>&1") != 0)
        return frames;
    for (int k = 0;; ++k) {
        testsupport::RgbImage image;
        if (!testsupport::ReadPnm(dir.File("frame-" + std::to_string(k) + ".ppm"), image)) break;
        frames.push_back(std::move(image));
    }
    return frames;
}

// The current bitmap as its page shows it, and where it is transparent before it meets the paper.
struct TPageFrame {
    testsupport::RgbImage Page;
    std::vector<bool> Uncovered;
};

TPageFrame PageOf(TIEBitmap& current) {
    TIEBitmap page;
    page.AssignFrom(static_cast<TIEBaseBitmap*>(&current));
    TPageFrame out;
    const int w = page.Width(), h = page.Height();
    out.Page.Width = w;
    out.Page.Height = h;
    out.Uncovered.assign(std::size_t(w) * h, false);
    if (page.HasAlphaPlane())
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) out.Uncovered[std::size_t(y) * w + x] = page.AlphaAt(x, y) == 0;
    PreparePageBitmap(page);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TIERgbTriple t = page.PixelAsRgb(x, y);
            out.Page.Pixels.insert(out.Page.Pixels.end(), {t.r, t.g, t.b});
        }
    return out;
}

// The image count a manifest note states ("..., 4 images, ..."), or 0.
int ImagesInNote(const std::string& note) {
    const std::size_t at = note.find(" images");
    if (at == std::string::npos) return 0;
    std::size_t start = at;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(note[start - 1]))) --start;
    return start < at ? std::atoi(note.substr(start, at - start).c_str()) : 0;
}

// Files the corpus describes as holding several images, or in which the reader counts several.
std::vector<std::string> AnimatedCorpusGifs() {
    // Without a corpus one placeholder keeps a test in the suite, which skips saying why.
    if (!testsupport::CorpusAvailable()) return {"gif/no-corpus"};
    std::vector<std::string> out;
    for (const auto& e : testsupport::CorpusFiles("gif")) {
        bool animated = ImagesInNote(e.Note) > 1;
        if (!animated) {
            TPictoraIO io;
            io.ReadParamsFromFile(testsupport::CorpusDir() + "/" + e.Path);
            animated = io.Params().FileFormat == 2 && io.Params().GifFrameCount > 1;
        }
        if (animated) out.push_back(e.Path);
    }
    return out;
}

class GifCompositionCorpusTest : public testing::TestWithParam<std::string> {};

TEST_P(GifCompositionCorpusTest, FramesLandOnThePageAsAPlayerShowsThem) {
    FOLIANTO_REQUIRE_CORPUS();
    const std::string path = testsupport::CorpusDir() + "/" + GetParam();
    testsupport::TempDir dir;
    const std::vector<testsupport::RgbImage> player = PlayerFrames(path, dir);
    // Two corpus files hold frames far outside their screen or of 65535 x 65535 pixels, which the
    // reference player refuses to compose; there is nothing to compare with then.
    if (player.empty()) GTEST_SKIP() << "the reference player refuses " << GetParam();
    TIEView view;
    TPictoraIO io;
    io.SetAttachedPictora(&view);
    for (int k = 0; k < int(player.size()); ++k) {
        io.Params().GifFrameIndex = k;
        ASSERT_EQ(io.LoadGifFile(path), int(player.size())) << "frame count";
        ASSERT_FALSE(io.Aborting) << "frame " << k << " refused";
        const TPageFrame ours = PageOf(*view.IEBitmap());
        const testsupport::RgbImage& ref = player[std::size_t(k)];
        ASSERT_EQ(ours.Page.Width, ref.Width) << "frame " << k;
        ASSERT_EQ(ours.Page.Height, ref.Height) << "frame " << k;
        int wrong = 0, firstX = -1, firstY = -1;
        for (int y = 0; y < ref.Height; ++y)
            for (int x = 0; x < ref.Width; ++x) {
                const std::size_t i = std::size_t(y) * ref.Width + x;
                // The first frame shows an uncovered screen as paper; players differ there.
                if (k == 0 && ours.Uncovered[i]) continue;
                if (std::equal(ref.At(x, y), ref.At(x, y) + 3, ours.Page.At(x, y))) continue;
                if (wrong++ == 0) firstX = x, firstY = y;
            }
        EXPECT_EQ(wrong, 0) << "frame " << k << ": " << wrong << " pixels differ, the first at (" << firstX
                            << ", " << firstY << ")";
        if (wrong > 0) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, GifCompositionCorpusTest, testing::ValuesIn(AnimatedCorpusGifs()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GifCompositionCorpusTest);
} // namespace
