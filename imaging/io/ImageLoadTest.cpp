#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatTable.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
std::string Make(const testsupport::TempDir& dir, const std::string& args, const std::string& name) {
    const std::string path = dir.File(name);
    EXPECT_EQ(RunCommand("/usr/bin/convert " + args + " " + ShellQuote(path)), 0) << args;
    return path;
}

// A format added at run time whose reader fails by raising.
constexpr int kRaisingFormat = 91;
void RegisterRaisingFormat() {
    if (FindFormatById(kRaisingFormat)) return;
    TIEFileFormatInfo info;
    info.FileType = kRaisingFormat;
    info.FullName = "Reader that raises";
    info.Extensions = "RAISEIMG";
    info.ReadFunction = [](TStream&, TIEBitmap&, TIOParamsVals&, bool, TIEProgressRecord&) {
        throw std::runtime_error("broken reader");
    };
    RegisterFileFormat(info);
}

struct TLoadCase {
    const char* Name;
    std::function<void(TPictoraIO&, const testsupport::TempDir&)> Load;
    bool Raises;
    bool Fails;
};

class LoadEndsOnce : public ::testing::TestWithParam<TLoadCase> {};

// Every load ends with exactly one FinishWork, whichever way it ends, and starts from per-image
// information of its own: a comment of the file read before does not survive it.
TEST_P(LoadEndsOnce, FinishesOnceAndForgetsTheImageBefore) {
    const TLoadCase& c = GetParam();
    testsupport::TempDir dir;
    RegisterRaisingFormat();
    TPictoraIO io;
    io.LoadFromFile(Make(dir, "-size 3x2 xc:gray -set comment remembered", "before.pgm"));
    ASSERT_FALSE(io.Aborting);
    ASSERT_FALSE(io.Params().PxmComments.empty());
    int finished = 0;
    io.OnFinishWork = [&finished](TPictoraIO*) { ++finished; };
    if (c.Raises)
        EXPECT_ANY_THROW(c.Load(io, dir));
    else
        EXPECT_NO_THROW(c.Load(io, dir));
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(io.Aborting, c.Fails);
    EXPECT_TRUE(io.Params().PxmComments.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ImageLoad, LoadEndsOnce,
    ::testing::Values(TLoadCase{"image",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    io.LoadFromFile(Make(d, "-size 4x4 xc:red", "a.png"));
                                },
                                false, false},
                      TLoadCase{"missing_file",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    io.LoadFromFile(d.File("missing.jpg"));
                                },
                                true, true},
                      TLoadCase{"missing_frames",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    io.LoadTiffFile(d.File("missing.tif"));
                                },
                                true, true},
                      TLoadCase{"missing_animation",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    io.LoadGifFile(d.File("missing.gif"));
                                },
                                true, true},
                      TLoadCase{"unknown_extension",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    testsupport::WriteFileBytes(d.File("a.xyz"), {1, 2, 3});
                                    io.LoadFromFile(d.File("a.xyz"));
                                },
                                false, true},
                      TLoadCase{"no_name",
                                [](TPictoraIO& io, const testsupport::TempDir&) { io.LoadFromFile(""); },
                                false, true},
                      TLoadCase{"not_a_picture",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    testsupport::WriteFileBytes(d.File("a.emf"), {1, 2, 3});
                                    io.LoadFromFile(d.File("a.emf"));
                                },
                                false, true},
                      TLoadCase{"stream_of_nothing",
                                [](TPictoraIO& io, const testsupport::TempDir&) {
                                    TMemoryStream s;
                                    s.Write("nothing here", 12);
                                    s.SetPosition(0);
                                    io.LoadFromStream(s);
                                },
                                false, true},
                      TLoadCase{"stream_headers",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    io.StreamHeaders = true;
                                    TFileStream s(Make(d, "-size 4x4 xc:white", "a.tif"), fmOpenRead);
                                    io.LoadTiffStream(s);
                                },
                                false, true},
                      TLoadCase{"raising_registered_reader",
                                [](TPictoraIO& io, const testsupport::TempDir& d) {
                                    testsupport::WriteFileBytes(d.File("a.raiseimg"), {0});
                                    io.LoadFromFile(d.File("a.raiseimg"));
                                },
                                false, true}),
    [](const ::testing::TestParamInfo<TLoadCase>& info) { return std::string(info.param.Name); });

// Every id the format table marks as readable has a reader, except the pictures that are played from
// their file; no other id has one.
TEST(FormatRegistryTest, EveryReadableTableEntryHasAReader) {
    for (const TIEFileFormatInfo& f : FileFormatTable()) {
        SCOPED_TRACE(f.FullName);
        const bool played = f.FileType == ioWMF || f.FileType == ioEMF;
        const bool builtIn = f.FileType <= ioPDF;
        const TFormatEntry* entry = ReadableFormat(f.FileType);
        if (builtIn && f.ReadFunction && !played) {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(entry->Id, f.FileType);
            EXPECT_TRUE(static_cast<bool>(entry->Read));
        } else {
            EXPECT_EQ(entry, nullptr);
        }
    }
    EXPECT_EQ(ReadableFormat(ioUnknown), nullptr);
    EXPECT_EQ(ReadableFormat(ioAVI), nullptr);
}

TEST(FormatRegistryTest, ImageCountsOfFiles) {
    testsupport::TempDir dir;
    testsupport::WriteFileBytes(dir.File("cut.tif"), {'I', 'I', 42});
    struct Case {
        const char* Name;
        std::string Path;
        TIOFileFormat Id;
        int Count;
    };
    const Case cases[] = {
        {"three frames", Make(dir, "-size 4x4 xc:red xc:green xc:blue", "three.gif"), ioGIF, 3},
        {"five pages", Make(dir, "-size 4x4 xc:white xc:black xc:white xc:black xc:white", "five.tif"),
         ioTIFF, 5},
        {"two icon sizes", Make(dir, "-size 16x16 xc:red \\( +clone -resize 32x32 \\)", "two.ico"), ioICO, 2},
        {"one image", Make(dir, "-size 4x4 xc:red", "one.png"), ioPNG, 1},
        {"missing file", dir.File("missing.gif"), ioGIF, 0},
        {"cut header", dir.File("cut.tif"), ioTIFF, 0},
        {"played picture", Make(dir, "-size 4x4 xc:red", "picture.png"), ioWMF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(CountImagesInFile(c.Path, c.Id), c.Count);
    }
}

// A header read keeps the whole file's frame count where the parameters name it for that format.
TEST(FormatRegistryTest, HeaderReadsKeepTheFrameCount) {
    testsupport::TempDir dir;
    TPictoraIO io;
    io.ReadParamsFromFile(Make(dir, "-size 4x4 xc:red xc:green", "two.gif"));
    EXPECT_EQ(io.Params().FileFormat, ioGIF);
    EXPECT_EQ(io.Params().GifFrameCount, 2);
    io.ReadParamsFromFile(Make(dir, "-size 4x4 xc:white xc:black xc:white", "three.tif"));
    EXPECT_EQ(io.Params().FileFormat, ioTIFF);
    EXPECT_EQ(io.Params().TiffFrameCount, 3);
}
} // namespace
