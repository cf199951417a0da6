#include "app/window/FileListRules.h"
#include "app/window/DefaultFolders.h"
#include "testsupport/TestSupport.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DropCase {
    const char* Name;
    const char* Path;
    bool Accepted;
};
const DropCase kDropCases[] = {
    {"Tif", "/pics/a.tif", true},
    {"Text", "/pics/notes.txt", false},
    {"Png", "/pics/b.png", true},
    {"UpperCaseExtension", "/pics/Page.TIF", true},
    {"NoExtension", "/pics/archive", false},
    {"PartOfListedExtension", "/pics/x.ti", true},
    {"LongerThanListed", "/pics/x.tiffs", false},
    {"DotInFolderOnly", "/pics/a.tif/archive", false},
    {"LastDotCounts", "/pics/scan.png.txt", false},
    {"TrailingDot", "/pics/x.", true}, // "." occurs in the text: the old test lets it through
    // Only ASCII letters are folded: a dotted capital I must not become "i".
    {"NonAsciiCapital",
     "/pics/x.T\xC4\xB0"
     "F",
     false},
    {"Jpeg2000CodeStream", "/pics/x.J2C", true},
};

void PrintTo(const DropCase& c, std::ostream* os) {
    *os << c.Path;
}

class DropFilterTest : public ::testing::TestWithParam<DropCase> {};

TEST_P(DropFilterTest, AcceptsByTextSearch) {
    EXPECT_EQ(IsAcceptedDropFile(QString::fromUtf8(GetParam().Path)), GetParam().Accepted);
}
INSTANTIATE_TEST_SUITE_P(Extensions, DropFilterTest, ::testing::ValuesIn(kDropCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FileListRulesTest, DisplayEntryIsNumberDotTwoBlanksName) {
    EXPECT_EQ(DisplayEntry(3, QStringLiteral("/a/b.c/Page.TIF")), QStringLiteral("3.  Page.TIF"));
    EXPECT_EQ(DisplayEntry(12, QStringLiteral("plain.png")), QStringLiteral("12.  plain.png"));
    EXPECT_EQ(DisplayEntry(1, QStringLiteral("/dir/")), QStringLiteral("1.  "));
}

// What the list shows of an entry, and whether a drop of it is taken.
struct EntryCase {
    const char* Name;
    const char* Entry;
    const char* Shown;
    bool Web;
};
const EntryCase kEntryCases[] = {
    {"LocalPath", "/pics/a.png", "a.png", false},
    {"Http", "http://127.0.0.1:8080/pics/photo.jpg", "photo.jpg", true},
    {"HttpsUpperCaseScheme", "HTTPS://pics.example/scan.TIF", "scan.TIF", true},
    {"QueryAndFragmentLeftOut", "http://pics.example/anim.gif?size=large#top", "anim.gif", true},
    {"EscapesDecoded", "https://pics.example/My%20Photo.png", "My Photo.png", true},
    {"ControlEscapeKept", "https://pics.example/a%0Ab.png", "a%0Ab.png", true},
    {"FolderAddressShowsHost", "http://pics.example:81/", "pics.example:81", true},
    {"OtherSchemeIsAPath", "ftp://pics.example/a.png", "a.png", false},
    // A relative path that merely starts like an address is no address.
    {"HttpFolder", "http:/pics/a.png", "a.png", false},
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << c.Entry;
}

class EntryNameTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(EntryNameTest, ShowsTheLastPartAndTakesEveryAddress) {
    const EntryCase& c = GetParam();
    const QString entry = QString::fromUtf8(c.Entry);
    EXPECT_EQ(IsWebEntry(entry), c.Web);
    EXPECT_EQ(EntryName(entry), QString::fromUtf8(c.Shown));
    EXPECT_EQ(DisplayEntry(7, entry), QStringLiteral("7.  ") + QString::fromUtf8(c.Shown));
    // An address is taken whatever its path ends in: the server decides what it serves.
    if (c.Web) {
        EXPECT_EQ(DropRefusal(entry, false), TDropRefusal::None);
    }
}
INSTANTIATE_TEST_SUITE_P(Entries, EntryNameTest, ::testing::ValuesIn(kEntryCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FileListRulesTest, DialogFilterKeepsItsFifteenEntriesInOrder) {
    const QStringList parts = QString::fromStdString(OpenDialogFilter()).split(QLatin1Char('|'));
    ASSERT_EQ(parts.size(), 30);
    EXPECT_EQ(parts[0], QStringLiteral("Вся графика"));
    EXPECT_TRUE(parts[1].startsWith(QStringLiteral("*.tif;*.tiff;*.fax;")));
    EXPECT_TRUE(parts[1].endsWith(QStringLiteral("*.jpc;*.j2c;")));
    EXPECT_EQ(parts[1].count(QLatin1Char(';')), 32);
    EXPECT_EQ(parts[2], QStringLiteral("TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F)"));
    EXPECT_EQ(parts[3], QStringLiteral("*.tif;*.tiff;*.fax;*.g3n;*.g3f"));
    EXPECT_EQ(parts[22], QStringLiteral("Portable Pixmap, GrayMap, BitMap (PXM;PPM;PGM;PBM)"));
    EXPECT_EQ(parts[28], QStringLiteral("JPEG2000 Code Stream (J2K;JPC;J2C)"));
    EXPECT_EQ(parts[29], QStringLiteral("*.j2k;*.jpc;*.j2c"));
    // Every listed pattern of the first entry is an accepted drop extension.
    for (const QString& pattern : parts[1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
        EXPECT_TRUE(IsAcceptedDropFile(QStringLiteral("/x/a") + pattern.mid(1))) << pattern.toStdString();
}

TEST(FileListRulesTest, FoldersAndOtherTypesAreRefusedWithTheirReason) {
    EXPECT_EQ(DropRefusal(QStringLiteral("/a/b.png"), false), TDropRefusal::None);
    EXPECT_EQ(DropRefusal(QStringLiteral("/a/b.png"), true), TDropRefusal::Folder);
    EXPECT_EQ(DropRefusal(QStringLiteral("/a/notes.txt"), false), TDropRefusal::UnsupportedType);
    EXPECT_EQ(DropRefusal(QStringLiteral("/a/archive"), false), TDropRefusal::UnsupportedType);
    EXPECT_TRUE(NotAddedMessage({}).isEmpty());
    EXPECT_TRUE(NotAddedMessage({{QStringLiteral("/a/b.png"), TDropRefusal::None}}).isEmpty());
    EXPECT_EQ(NotAddedMessage({{QStringLiteral("/"), TDropRefusal::Folder}}),
              QStringLiteral("Not added: / is a folder; drop the image files in it instead."));
}

TEST(FileListRulesTest, RepeatedNamesAreFoundAcrossFolders) {
    const QStringList paths{"/a/x.png", "/b/x.png", "/a/y.png", "/c/X.png", "/a/x.png"};
    EXPECT_EQ(RepeatedNames(paths), (std::vector<bool>{true, true, false, false, true}));
    EXPECT_TRUE(RepeatedNames({}).empty());
    // Addresses count by the name they show, with files and with each other.
    const QStringList mixed{"/a/x.png", "http://h.example/pics/x.png?v=2", "https://h.example/y.png",
                            "http://h.example/z.png"};
    EXPECT_EQ(RepeatedNames(mixed), (std::vector<bool>{true, true, false, false}));
}

TEST(DefaultFoldersTest, OnlyAWritableNonSystemFolderIsPortable) {
    testsupport::TempDir dir;
    EXPECT_TRUE(IsPortableFolder(QString::fromStdString(dir.Path())));
    EXPECT_FALSE(IsPortableFolder(QStringLiteral("/usr/bin")));
    EXPECT_FALSE(IsPortableFolder(QString::fromStdString(dir.File("missing"))));
    EXPECT_FALSE(IsPortableFolder(QString()));
    if (::geteuid() != 0) {
        const std::string locked = dir.File("locked");
        QDir().mkpath(QString::fromStdString(locked));
        ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
        EXPECT_FALSE(IsPortableFolder(QString::fromStdString(locked)));
    }
}

} // namespace
