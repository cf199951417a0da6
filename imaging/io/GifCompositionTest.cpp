// Frames of animated GIFs as the frame load composes them, against ImageMagick's -coalesce.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
struct Coalesced {
    int Width = 0, Height = 0, Frames = 0;
    std::vector<std::uint8_t> Rgba; // frames one after another
};

bool CoalesceWithImageMagick(const std::string& path, Coalesced& out) {
    std::string dims;
    if (RunCommand("/usr/bin/identify -format '%W %H\\n' " + ShellQuote(path) + " 2>/dev/null | head -n1",
                   &dims) != 0)
        return false;
    if (std::sscanf(dims.c_str(), "%d %d", &out.Width, &out.Height) != 2 || out.Width <= 0 || out.Height <= 0)
        return false;
    testsupport::TempDir dir;
    const std::string raw = dir.File("frames.rgba");
    if (RunCommand("/usr/bin/convert " + ShellQuote(path) + " -coalesce -depth 8 " +
                   ShellQuote("rgba:" + raw) + " >/dev/null 2>&1") != 0)
        return false;
    out.Rgba = testsupport::ReadFileBytes(raw);
    const std::size_t frameBytes = std::size_t(out.Width) * out.Height * 4;
    out.Frames = static_cast<int>(out.Rgba.size() / frameBytes);
    return out.Frames > 0;
}
} // namespace

TEST(GifComposition, FramesMatchACoalescingPlayer) {
    int files = 0;
    std::vector<std::string> mismatches;
    for (const auto& e : testsupport::CorpusFiles("gif")) {
        if (e.IsBad() || e.Note.find("bad-ish") != std::string::npos) continue;
        const std::string path = testsupport::CorpusDir() + "/" + e.Path;
        // Without a global colour table the screen's background colour is undefined, and players differ.
        const auto head = testsupport::ReadFileBytes(path);
        if (head.size() < 13 || !(head[10] & 0x80)) continue;
        Coalesced ref;
        if (!CoalesceWithImageMagick(path, ref) || ref.Frames < 2) continue;
        TIEView view;
        TPictoraIO io;
        io.SetAttachedPictora(&view);
        ++files;
        for (int k = 0; k < std::min(ref.Frames, 4); ++k) {
            io.Params().GifFrameIndex = k;
            const int count = io.LoadGifFile(path);
            if (io.Aborting) break; // frames the reader refuses are the reader tests' business
            TIEBitmap& b = *view.IEBitmap();
            if (count != ref.Frames || b.Width() < ref.Width || b.Height() < ref.Height) {
                mismatches.push_back(e.Path + ": frame count or size");
                break;
            }
            int wrong = 0;
            const std::uint8_t* frame = &ref.Rgba[std::size_t(k) * ref.Width * ref.Height * 4];
            for (int y = 0; y < ref.Height; ++y)
                for (int x = 0; x < ref.Width; ++x) {
                    const std::uint8_t* p = frame + (std::size_t(y) * ref.Width + x) * 4;
                    if (p[3] != 255) continue; // under transparency a player shows the page, not a colour
                    const TIERgbTriple t = b.PixelAsRgb(x, y);
                    if (t.r != p[0] || t.g != p[1] || t.b != p[2]) ++wrong;
                }
            if (wrong > 0) {
                mismatches.push_back(e.Path + ": frame " + std::to_string(k) + ", " + std::to_string(wrong) +
                                     " pixels");
                break;
            }
        }
    }
    if (files == 0) GTEST_SKIP() << "no animated corpus GIFs";
    std::string list;
    for (const auto& m : mismatches) list += m + "\n";
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " of " << files << " animations differ:\n"
                                    << list;
}
