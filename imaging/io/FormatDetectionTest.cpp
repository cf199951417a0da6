#include "imaging/io/FormatDetection.h"
#include "imaging/io/PictoraIO.h"
#include "imaging/params/FormatIds.h"
#include "platform/Stream.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

using namespace std::string_literals;

using testsupport::RunCommand;
using testsupport::ShellQuote;

namespace {
std::vector<std::uint8_t> Bytes(std::initializer_list<int> b, std::size_t padTo = 0) {
    std::vector<std::uint8_t> v(b.begin(), b.end());
    if (v.size() < padTo) v.resize(padTo, 0);
    return v;
}
std::vector<std::uint8_t> Text(const std::string& s) {
    return {s.begin(), s.end()};
}

int Detect(const std::vector<std::uint8_t>& data) {
    TReadOnlyMemoryStream s(data.data(), static_cast<std::int64_t>(data.size()));
    return DetectStreamFormat(s);
}
} // namespace

TEST(FormatDetection, ContentTestsInOrder) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> data;
        int id;
    };
    const Case cases[] = {
        {"JPEG found by the start search", Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, 64),
         ioJPEG},
        {"JPEG after a junk prefix",
         [] {
             std::vector<std::uint8_t> v(200, 0x20);
             v[99] = 0xFF, v[100] = 0xD8, v[101] = 0xFF, v[102] = 0xDB;
             return v;
         }(),
         ioJPEG},
        {"text starting BM", Text("BM is what this note starts with"), ioBMP},
        {"12-byte GIF", Text("GIF89a\x01\x00\x01\x00\x00\x00"s), 0},
        {"14-byte GIF", Text("GIF89a\x01\x00\x01\x00\x00\x00\x00\x3b"s), ioGIF},
        {"II then anything", Text("II\x2a\x00garbage!"s), ioTIFF},
        {"MM", Text("MMxxxxxxxx"), ioTIFF},
        {"PNG signature", Bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0}), ioPNG},
        {"PPM", Text("P6\n# comment\n3 2\n255\n" + std::string(18, '\x7f')), ioPXM},
        {"PBM zero width token skipped", Text("P1 0 4 4\n"), ioPXM},
        {"PGM without height", Text("P2 4\n"), 0},
        {"JP2 box", Bytes({0, 0, 0, 0x0C, 0x6A, 0x50, 0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A, 0, 0}), ioJP2},
        {"J2K code stream", Bytes({0xFF, 0x4F, 0xFF, 0x51, 0, 0x29}), ioJ2K},
        {"AVI",
         Text("RIFF\x10\x00\x00\x00"
              "AVI LIST"s),
         ioAVI},
        {"WMF placeable", Bytes({0xD7, 0xCD, 0xC6, 0x9A, 0, 0}, 40), 0},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Detect(c.data), c.id) << c.what;
}

TEST(FormatDetection, PositionIsRestored) {
    std::vector<std::uint8_t> v = Text("xxxxBM and more bytes");
    TReadOnlyMemoryStream s(v.data(), static_cast<std::int64_t>(v.size()));
    s.SetPosition(4);
    EXPECT_EQ(DetectStreamFormat(s), ioBMP);
    EXPECT_EQ(s.Position(), 4);
}

TEST(FormatDetection, ExtensionReconciliation) {
    testsupport::TempDir dir;
    // A cursor directory: reserved 0, type 2, one entry of a 1x1 image.
    const std::vector<std::uint8_t> cur = Bytes({0, 0, 2, 0,  1, 0, 1, 1, 2, 0, 0, 0, 0, 0, 48, 0, 0, 0, 22,
                                                 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,  1, 0, 1, 0},
                                                22 + 48);
    const std::vector<std::uint8_t> jpeg = Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}, 64);
    struct Case {
        const char* name;
        const std::vector<std::uint8_t>* data;
        bool check;
        int id;
    };
    const Case cases[] = {
        {"x.cur", &cur, true, ioCUR},    {"x.ico", &cur, true, ioICO},   {"x.png", &jpeg, true, 0},
        {"y.png", &jpeg, false, ioJPEG}, {"x.jpg", &jpeg, true, ioJPEG}, {"x.unknown", &jpeg, true, 0},
    };
    for (const Case& c : cases) {
        testsupport::WriteFileBytes(dir.File(c.name), *c.data);
        EXPECT_EQ(DetectFileFormat(dir.File(c.name), c.check), c.id) << c.name;
    }
    EXPECT_EQ(DetectFileFormat(dir.File("missing.jpg"), true), 0);
}

TEST(FormatDetection, EveryGoodCorpusFileIsItsOwnFormat) {
    const std::map<std::string, int> ids = {
        {"tiff", ioTIFF}, {"gif", ioGIF}, {"jpeg", ioJPEG}, {"pcx", ioPCX}, {"bmp", ioBMP}, {"ico", ioICO},
        {"cur", ioCUR},   {"png", ioPNG}, {"tga", ioTGA},   {"pnm", ioPXM}, {"jpeg2000", 0}};
    int checked = 0;
    std::vector<std::string> misses;
    for (const auto& [format, id] : ids) {
        for (const auto& e : testsupport::CorpusFiles(format)) {
            if (e.IsBad() || e.Note.find("bad-ish") != std::string::npos) continue;
            // Files whose content is another format than their folder says, and P7 (PAM), which is not
            // one of the PBM/PGM/PPM kinds.
            if (e.Note.find("content is actually") != std::string::npos) continue;
            if (e.Path.size() > 4 && e.Path.compare(e.Path.size() - 4, 4, ".pam") == 0) continue;
            const std::string path = testsupport::CorpusDir() + "/" + e.Path;
            const int got = DetectFileFormat(path, false);
            const bool ok = id ? got == id : (got == ioJP2 || got == ioJ2K);
            ++checked;
            if (!ok) misses.push_back(e.Path + " -> " + std::to_string(got));
        }
    }
    if (checked == 0) GTEST_SKIP() << "corpus not found";
    std::string list;
    for (const auto& m : misses) list += m + "\n";
    EXPECT_TRUE(misses.empty()) << misses.size() << " of " << checked << " not detected:\n" << list;
}
