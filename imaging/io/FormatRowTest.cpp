// Each codec's row of the format registry: the right id, a content test that knows its own files and
// no others, a reader that reads them through the one calling form, and an image counter that counts.
#include "imaging/bitmap/IEBitmap.h"
#include "imaging/bitmap/IEMask.h"
#include "imaging/io/FormatRegistry.h"
#include "imaging/params/FormatIds.h"
#include "imaging/params/ProgressRecord.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

namespace {

struct TRowCase {
    const char* Name;
    TIOFileFormat Id;
    const char* Extension; // ImageMagick writes the sample by it
};
void PrintTo(const TRowCase& c, std::ostream* os) {
    *os << c.Name;
}

// Every row, in the registry's order.
const TRowCase kRows[] = {
    {"Tiff", ioTIFF, "tif"},  {"Gif", ioGIF, "gif"}, {"Jpeg", ioJPEG, "jpg"}, {"Pcx", ioPCX, "pcx"},
    {"Bmp", ioBMP, "bmp"},    {"Ico", ioICO, "ico"}, {"Cur", ioCUR, "cur"},   {"Png", ioPNG, "png"},
    {"Tga", ioTGA, "tga"},    {"Pxm", ioPXM, "ppm"}, {"Jp2", ioJP2, "jp2"},   {"J2k", ioJ2K, "j2k"},
    {"Wbmp", ioWBMP, "wbmp"},
};

class FormatRowTest : public testing::TestWithParam<TRowCase> {
protected:
    static void SetUpTestSuite() {
        if (!testsupport::ToolAvailable("/usr/bin/convert")) return;
        Dir = new testsupport::TempDir;
        for (const TRowCase& c : kRows) {
            const std::string path = Dir->File(std::string("sample.") + c.Extension);
            testsupport::RunCommand("/usr/bin/convert -size 6x5 xc:black " + testsupport::ShellQuote(path));
            std::ifstream in(path, std::ios::binary);
            auto& bytes = Samples()[c.Id];
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            // ImageMagick writes a cursor as an icon; the directory's type field makes it a cursor.
            if (c.Id == ioCUR && bytes.size() > 2) bytes[2] = 2;
        }
    }
    static void TearDownTestSuite() {
        delete Dir;
        Dir = nullptr;
    }
    static std::map<int, std::vector<std::uint8_t>>& Samples() {
        static std::map<int, std::vector<std::uint8_t>> samples;
        return samples;
    }
    void SetUp() override {
        if (!Dir) GTEST_SKIP() << "ImageMagick is not installed";
        ASSERT_FALSE(Samples()[GetParam().Id].empty()) << "no sample written";
    }
    static testsupport::TempDir* Dir;
};
testsupport::TempDir* FormatRowTest::Dir = nullptr;

TEST_P(FormatRowTest, ContentTestKnowsItsOwnFilesOnly) {
    const TFormatEntry* row = ReadableFormat(GetParam().Id);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->Id, GetParam().Id);
    if (!row->IsFormat) return; // recognised by its signature alone
    for (const TRowCase& other : kRows) {
        SCOPED_TRACE(other.Name);
        const auto& bytes = Samples()[other.Id];
        TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
        // One reader's files: JP2 and bare code streams, icons and cursors are told apart by their tests.
        EXPECT_EQ(row->IsFormat(s), other.Id == GetParam().Id);
        EXPECT_EQ(s.Position(), 0);
    }
}

TEST_P(FormatRowTest, ReaderReadsTheHeaderThroughTheCallingForm) {
    const TFormatEntry* row = ReadableFormat(GetParam().Id);
    ASSERT_NE(row, nullptr);
    const auto& bytes = Samples()[GetParam().Id];
    TReadOnlyMemoryStream s(bytes.data(), std::int64_t(bytes.size()));
    TIEBitmap bitmap;
    TIOParamsVals params;
    std::unique_ptr<TIEMask> mask;
    bool aborting = false;
    TIEProgressRecord progress(aborting);
    TReadContext context;
    context.HeaderOnly = true;
    row->Read(s, bitmap, params, progress, mask, context);
    EXPECT_FALSE(aborting);
    EXPECT_EQ(params.ImageWidth, 6);
    EXPECT_EQ(params.ImageHeight, 5);
    if (row->CountImages) {
        TReadOnlyMemoryStream again(bytes.data(), std::int64_t(bytes.size()));
        EXPECT_EQ(row->CountImages(again), 1);
        EXPECT_EQ(again.Position(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, FormatRowTest, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
