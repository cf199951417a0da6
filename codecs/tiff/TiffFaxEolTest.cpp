// Group 3 one-dimensional pages with their EOL codes wherever ITU-T T.4 lets writers put them.
//
// testdata: the same 37 x 9 page (g3-eol.ppm: a white row, a black row, noise, a row ending black) coded
// row by row: EOL before every row and RTC at the end (what tiffcp writes, plus RTC); EOL after every row
// and RTC; both again with fill bits that end each EOL on a byte boundary (T4Options 4); EOL only
// between rows; EOL before every row with a white zero run closing the rows that end black. libtiff's
// tiff2rgba decodes the first file like the page; it drops the first row of the others (it waits for an EOL
// before the first row), so the page itself is the reference.
#include "codecs/tiff/TiffTestHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tifftest;

const std::string kData = FOLIANTO_TESTDATA_DIR;

class TiffFaxEolTest : public testing::TestWithParam<const char*> {};

TEST_P(TiffFaxEolTest, DecodesThePage) {
    const auto r = ReadFile(kData + "/" + GetParam() + ".tif");
    ASSERT_FALSE(r->Aborted) << r->Outcome.Refusal;
    EXPECT_FALSE(r->Outcome.DataEndsEarly);
    testsupport::RgbImage page;
    ASSERT_TRUE(testsupport::ReadPnm(kData + "/g3-eol.ppm", page));
    const auto img = ToRgb(r->Bitmap);
    ASSERT_EQ(img.Height, page.Height);
    for (int y = 0; y < page.Height; ++y) {
        std::string got, want;
        for (int x = 0; x < page.Width; ++x) {
            got += img.At(x, y)[0] ? '.' : '#';
            want += page.At(x, y)[0] ? '.' : '#';
        }
        EXPECT_EQ(got, want) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, TiffFaxEolTest,
                         testing::Values("g3-eol-before-rtc", "g3-eol-after-rtc", "g3-eol-after-fill",
                                         "g3-eol-between-fill", "g3-eol-zero-runs"),
                         [](const testing::TestParamInfo<const char*>& i) {
                             std::string name;
                             for (const char* p = i.param; *p; ++p)
                                 if (*p != '-') name += *p;
                             return name;
                         });

} // namespace
