#include "pdf/PdfMd5.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Md5(const std::string& text) {
    TMd5 md5;
    md5.Update(text.data(), text.size());
    return HexDigits(md5.Finish());
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, ReferenceDigests) {
    struct Case {
        const char *Text, *Digest;
    };
    const Case cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const Case& c : cases) EXPECT_EQ(Md5(c.Text), c.Digest) << '"' << c.Text << '"';
}

// Pieces of every size around the 64-byte block and the 56-byte padding limit give the digest of
// the whole.
TEST(Md5, PiecesGiveTheDigestOfTheWhole) {
    std::string data;
    for (int i = 0; i < 300; ++i) data += char(i * 7 + 3);
    for (const std::size_t total : {55u, 56u, 63u, 64u, 65u, 119u, 128u, 300u}) {
        const std::string whole = Md5(data.substr(0, total));
        for (const std::size_t piece : {1u, 7u, 55u, 64u, 100u}) {
            TMd5 md5;
            for (std::size_t at = 0; at < total; at += piece)
                md5.Update(data.data() + at, std::min(piece, total - at));
            EXPECT_EQ(HexDigits(md5.Finish()), whole) << total << " in pieces of " << piece;
        }
    }
}
} // namespace
