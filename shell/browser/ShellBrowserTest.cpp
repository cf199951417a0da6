#include "shell/browser/ShellBrowser.h"

#include "shell/browser/ShellFileInfo.h"
#include "testsupport/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TempDir;

// The process's fake home: HOME and the XDG folders point here before GLib or Qt read them, so the
// trash, settings and thumbnails of the real user are never touched.
TempDir* gHome = nullptr;

std::string DataHome() {
    return gHome->File("data");
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

bool MakeImage(const std::string& args, const std::string& path) {
    return RunCommand("/usr/bin/convert " + args + " " + ShellQuote(path) + " 2>/dev/null") == 0;
}

std::string Python(const std::string& script) {
    std::string out;
    if (RunCommand("/usr/bin/python3 -c " + ShellQuote(script), &out) != 0) return "<failed>";
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// A folder with a few objects: Data/photo.jpg, Data/b.PNG, Data/notes.txt, Data/.hidden.jpg,
// Data/sub/ and Photos/.
class ShellTree : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Dir.Path();
        fs::create_directories(Root + "/Data/sub");
        fs::create_directories(Root + "/Photos");
        for (const char* name : {"photo.jpg", "b.PNG", "notes.txt", ".hidden.jpg"})
            WriteText(Root + "/Data/" + name, "x");
    }
    TempDir Dir;
    std::string Root;
};

// ---- ID lists

TEST(IDList, RoutinesOnWellFormedLists) {
    const TItemIDList a = *MakeIDListItem("home"), b = *MakeIDListItem("ann");
    EXPECT_EQ(a, (TItemIDList{6, 0, 'h', 'o', 'm', 'e', 0, 0}));
    EXPECT_EQ(IDListSize(EmptyIDList()), 2u);
    EXPECT_EQ(IDListSize(a), 8u);
    const TItemIDList ab = ConcatIDLists(a, b);
    EXPECT_EQ(IDListSize(ab), 6u + 5u + 2u);
    EXPECT_EQ(IDListItemCount(ab), 2);
    EXPECT_EQ(IDListItem(ab, 1), b);
    EXPECT_EQ(IDListItem(ab, 2), EmptyIDList());
    EXPECT_EQ(IDListFirstItems(ab, 1), a);
    EXPECT_EQ(IDListFirstItems(ab, 0), EmptyIDList());
    EXPECT_EQ(IDListFirstItems(ab, 9), ab);
    EXPECT_EQ(CopyIDList(ab), ab);
    EXPECT_EQ(IDListToPath(ab), "/home/ann");
    EXPECT_EQ(IDListToPath(EmptyIDList()), "/");
    EXPECT_EQ(IDListToPath(std::optional<TItemIDList>()), "");
}

TEST(IDList, MalformedListsEndWhereTheyBreak) {
    const struct {
        const char* Name;
        TItemIDList List;
        int Items;
    } cases[] = {
        {"Empty vector", {}, 0},
        {"Count of one", {1, 0, 'x', 0, 0}, 0},
        {"Count past the end", {4, 0, 'a', 'b', 9, 0, 'c', 0, 0}, 1},
        {"No terminator", {3, 0, 'a'}, 1},
        {"Odd trailing byte", {3, 0, 'a', 7}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(IDListItemCount(c.List), c.Items);
        const TItemIDList copy = CopyIDList(c.List);
        EXPECT_EQ(IDListItemCount(copy), c.Items);
        EXPECT_EQ(IDListSize(copy), copy.size());
    }
}

TEST(IDList, ItemsRefuseWhatCannotBeAComponent) {
    EXPECT_FALSE(MakeIDListItem(""));
    EXPECT_FALSE(MakeIDListItem("a/b"));
    EXPECT_FALSE(MakeIDListItem(std::string("a\0b", 3)));
    EXPECT_FALSE(MakeIDListItem(std::string(65534, 'x')));
    EXPECT_TRUE(MakeIDListItem(std::string(65533, 'x')));
}

TEST_F(ShellTree, PathsParseOnlyWhenTheyExist) {
    const auto data = PathToIDList(nullptr, Root + "/Data");
    ASSERT_TRUE(data);
    EXPECT_EQ(IDListToPath(data), Root + "/Data");
    EXPECT_EQ(IDListToPath(PathToIDList(nullptr, Root + "//Data/./sub/../photo.jpg")),
              Root + "/Data/photo.jpg");
    EXPECT_EQ(IDListToPath(PathToIDList(&*data, "sub")), Root + "/Data/sub");
    EXPECT_FALSE(PathToIDList(nullptr, "sub"));
    EXPECT_FALSE(PathToIDList(nullptr, Root + "/Data/missing"));
    EXPECT_FALSE(PathToIDList(nullptr, "/" + std::string(MaxShellPathLength, 'a')));
    EXPECT_EQ(PathToIDList(nullptr, ""), EmptyIDList());
}

// ---- folder and object names

TEST_F(ShellTree, ObjectNameSplitsPaths) {
    const struct {
        std::string Name, Folder, Object;
    } cases[] = {
        {Root + "/Data/photo.jpg", Root + "/Data/", "photo.jpg"},
        {Root + "/Photos/", Root + "/", "Photos"}, // trailing "/" selects the folder in its parent
        {Root + "/Data//sub", Root + "/Data/", "sub"},
        {"/", "/", "/"}, // the root is its own object
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TShellBrowser browser;
        browser.SetObjectName(c.Name);
        EXPECT_EQ(browser.Folder(), c.Folder);
        EXPECT_EQ(browser.ObjectName(), c.Object);
        EXPECT_TRUE(browser.HasObject());
    }
}

TEST_F(ShellTree, FolderAlwaysEndsWithTheSeparator) {
    TShellBrowser browser;
    EXPECT_EQ(browser.Folder(), "/"); // created on the computer folder
    EXPECT_FALSE(browser.HasObject());
    browser.SetFolder(Root + "/Data");
    EXPECT_EQ(browser.Folder(), Root + "/Data/");
    browser.SetObjectName("photo.jpg");
    browser.SetFolder(Root + "/Data/"); // the same folder: the object stays
    EXPECT_EQ(browser.ObjectName(), "photo.jpg");
    browser.SetFolder("");
    EXPECT_EQ(browser.Folder(), "/");
    EXPECT_FALSE(browser.HasObject());
}

TEST_F(ShellTree, NamesLookedUpIgnoringCaseOnlyAfterTheExactOne) {
    WriteText(Root + "/Data/Photo.jpg", "y");
    TShellBrowser browser;
    browser.SetFolder(Root + "/Data");
    browser.SetObjectName("Photo.jpg");
    EXPECT_EQ(browser.ObjectName(), "Photo.jpg");
    browser.SetObjectName("NOTES.TXT");
    EXPECT_EQ(browser.ObjectName(), "notes.txt");
}

TEST_F(ShellTree, ErrorMessages) {
    TShellBrowser browser;
    browser.SetFolder(Root + "/Data");
    const auto message = [&](auto&& action) {
        try {
            action();
        } catch (const EShellBrowserError& e) {
            return std::string(e.what());
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(message([&] { browser.SetFolder(Root + "/Nothing"); }),
              "Cannot Find Folder: " + Root + "/Nothing");
    EXPECT_EQ(browser.Folder(), Root + "/Data/");
    EXPECT_EQ(message([&] { browser.SetObjectName("absent.jpg"); }),
              "Error! Cannot find Object \"absent.jpg\" in Folder \"" + Root + "/Data/\"");
    EXPECT_FALSE(browser.HasObject());
    EXPECT_EQ(message([&] { browser.SetFolderIDList(*PathToIDList(nullptr, Root + "/Data/notes.txt")); }),
              "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder");
    EXPECT_EQ(browser.Folder(), Root + "/Data/"); // a failed change keeps the folder whole
    EXPECT_EQ(message([&] { browser.SetFolder(Root + "/Data/notes.txt"); }),
              "ShellBrowser.SetFolderIDList: Desktop.BindToObject: Could not get Folder");
    EXPECT_EQ(browser.Folder(), Root + "/Data/");
    browser.SetObjectName("photo.jpg");
    EXPECT_EQ(browser.ObjectName(), "photo.jpg");
}

TEST(ShellBrowser, VersionIsReadOnly) {
    TShellBrowser browser;
    browser.SetVersion("something else");
    EXPECT_EQ(browser.Version(), "TShellBrowser V3.32");
    EXPECT_EQ(browser.Filter(), "*");
    EXPECT_TRUE(browser.ShowErrorMessages);
    EXPECT_FALSE(browser.ShowContextMenuOnTop);
}

// ---- filter and walk

TEST(ShellBrowser, FilterTextRoundTrips) {
    const std::pair<const char*, const char*> cases[] = {
        {"*.jpg;*.png", "*.jpg;*.png"}, {"", "*"}, {"*.jpg;", "*.jpg"}, {"a;;b", "a;;b"}, {";", ""}};
    TShellBrowser browser;
    for (const auto& [in, out] : cases) {
        browser.SetFilter(in);
        EXPECT_EQ(browser.Filter(), out) << in;
    }
}

TEST(ShellBrowser, MaskMatching) {
    const struct {
        const char *Name, *Mask;
        bool Matches;
    } cases[] = {
        {"Photo.JPG", "*.jpg", true},
        {"photo.jpeg", "*.jpg", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"a.b.c", "*.c", true},
        {"noext", "*.*", false},
        {"x", "", false},
        {"", "*", true},
        {"ÄBC.tif", "äbc.*", true},
        {"ü", "?", true},
        {"a*b", "a*b", true},
        {"axxb", "a*b", true},
        {"abcabd", "*abd", true},
        {"abcab", "*abd", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesMask(c.Name, c.Mask), c.Matches) << c.Name << " ~ " << c.Mask;
    // Many stars against a long near-miss must stay fast (no exponential backtracking).
    EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*b"));
}

TEST_F(ShellTree, NextObjectWalksThroughTheFilter) {
    TShellBrowser browser;
    browser.SetFolder(Root + "/Data");
    browser.SetFilter("*.jpg;*.png");
    std::vector<std::string> seen;
    while (browser.NextObject()) seen.push_back(browser.ObjectName());
    // Folders pass every filter; hidden objects are included; order is by name.
    EXPECT_EQ(seen, (std::vector<std::string>{".hidden.jpg", "b.PNG", "photo.jpg", "sub"}));
    EXPECT_TRUE(browser.NextObject()); // a finished walk starts again
    EXPECT_EQ(browser.ObjectName(), ".hidden.jpg");
}

TEST_F(ShellTree, FoldersAndAttributes) {
    TShellBrowser browser;
    browser.SetObjectName(Root + "/Data/sub");
    EXPECT_TRUE(browser.ObjectIsFolder());
    browser.FileSystemOnly = true;
    EXPECT_TRUE(browser.ObjectIsFolder());
    EXPECT_EQ(browser.ObjectAttributes(SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HIDDEN),
              SFGAO_FOLDER | SFGAO_FILESYSTEM);
    browser.SetObjectName(".hidden.jpg");
    EXPECT_FALSE(browser.ObjectIsFolder());
    EXPECT_EQ(browser.ObjectAttributes(SFGAO_HIDDEN | SFGAO_FOLDER), SFGAO_HIDDEN);
    browser.SetObjectName("");
    EXPECT_FALSE(browser.ObjectIsFolder());
    EXPECT_EQ(browser.ObjectAttributes(0xFFFFFFFF), 0u);
}

// ---- special folders

TEST(SpecialFolders, MapToTheDesktopsFolders) {
    TShellBrowser browser;
    EXPECT_TRUE(browser.SetSpecialFolder(SF_DESKTOP));
    EXPECT_EQ(browser.Folder(), "/");
    EXPECT_FALSE(browser.SetSpecialFolder(SF_CONTROLS));
    EXPECT_FALSE(browser.SetSpecialFolder(SF_PRINTERS));
    EXPECT_EQ(browser.Folder(), "/");
    // No user-dirs file in the fake home: documents and pictures fall back to the home folder.
    ASSERT_TRUE(browser.SetSpecialFolder(SF_PERSONAL));
    EXPECT_EQ(browser.Folder(), gHome->Path() + "/");
    EXPECT_EQ(SpecialFolderIndex(EmptyIDList()), SF_DESKTOP);
    EXPECT_EQ(SpecialFolderIndex(browser.FolderIDList()), SF_DESKTOPDIRECTORY);
    EXPECT_EQ(SpecialFolderIndex(*PathToIDList(nullptr, DataHome())), SF_LOCAL_APPDATA);
    EXPECT_EQ(SpecialFolderCsidl(SF_MYPICTURES), 0x27);
    EXPECT_EQ(SpecialFolderCsidl(SF_PROGRAM_FILES_COMMON), 0x2B);
}

// ---- info tips

TEST(InfoTip, JpegFile) {
    TempDir dir;
    const std::string path = dir.File("tip.jpg");
    ASSERT_TRUE(MakeImage("-size 64x48 xc:red -units PixelsPerInch -density 200", path));
    ASSERT_EQ(RunCommand("touch -d '2021-03-04 05:06:07' " + ShellQuote(path)), 0);
    TShellBrowser browser;
    browser.SetObjectName(path);
    const std::string tip = browser.ObjectInfoTip();
    EXPECT_EQ(tip, "Type: JPEG image\nDimensions: 64 x 48\nResolution: 200 x 200 dpi\nSize: " +
                       std::to_string(fs::file_size(path)) + " bytes\nModified: 2021-03-04 05:06");
}

TEST(InfoTip, MultiPageTiffShowsItsFrames) {
    TempDir dir;
    const std::string path = dir.File("pages.tif");
    ASSERT_TRUE(MakeImage("-size 40x30 xc:blue xc:green xc:white -units PixelsPerInch -density 72", path));
    std::string identify;
    ASSERT_EQ(RunCommand("/usr/bin/identify -format '%wx%h\\n' " + ShellQuote(path), &identify), 0);
    EXPECT_EQ(identify, "40x30\n40x30\n40x30\n");
    TShellBrowser browser;
    browser.SetObjectName(path);
    const std::string tip = browser.ObjectInfoTip();
    EXPECT_NE(tip.find("Type: TIFF image\n"), std::string::npos) << tip;
    EXPECT_NE(tip.find("\nDimensions: 40 x 30\nResolution: 72 x 72 dpi\nFrames: 3\nSize: "),
              std::string::npos)
        << tip;
}

TEST_F(ShellTree, InfoTipOfFoldersMissingObjectsAndMultiObjects) {
    TShellBrowser browser;
    EXPECT_EQ(browser.ObjectInfoTip(), ""); // no object
    browser.SetObjectName(Root + "/Data/sub");
    const std::string tip = browser.ObjectInfoTip();
    EXPECT_EQ(QString::fromStdString(tip).section('\n', 0, 0).toLower(), "type: folder") << tip;
    EXPECT_NE(tip.find("\nModified: "), std::string::npos) << tip;
    EXPECT_EQ(tip.find("Size:"), std::string::npos);
    browser.SetObjectName(Root + "/Data/notes.txt");
    browser.MultiObjects = {"photo.jpg", "b.PNG", "sub"};
    EXPECT_NE(browser.ObjectInfoTip().find("Size: 1 byte"), std::string::npos);
    EXPECT_TRUE(browser.MultiObjects.empty());
    EXPECT_EQ(browser.ObjectName(), "notes.txt");
    browser.MultiObjects = {"nowhere.jpg"};
    EXPECT_THROW(browser.ObjectInfoTip(), EShellBrowserError);
    EXPECT_TRUE(browser.MultiObjects.empty());
    EXPECT_EQ(browser.ObjectName(), "notes.txt"); // restored after the failure too
    fs::remove(Root + "/Data/notes.txt");
    EXPECT_EQ(browser.ObjectInfoTip(), ""); // the file went away under the browser
}

// ---- thumbnails

class Thumbnails : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CACHE_HOME", Cache.Path().c_str(), 1);
        Image = Files.File("picture.jpg");
        ASSERT_TRUE(MakeImage("-size 400x300 xc:red", Image));
        Browser.SetObjectName(Image);
    }
    void TearDown() override { unsetenv("XDG_CACHE_HOME"); }

    std::string CacheFile(const std::string& bucket) const {
        // The name the freedesktop thumbnail standard gives it, computed independently.
        const std::string md5 =
            Python("import hashlib,urllib.request;print(hashlib.md5(('file://'+urllib.request."
                   "pathname2url('" +
                   Image + "')).encode()).hexdigest())");
        return Cache.Path() + "/thumbnails/" + bucket + "/" + md5 + ".png";
    }
    // Writes a cached thumbnail of one colour with the given MTime, as another program would.
    void WriteCached(const std::string& bucket, int w, int h, const char* colour, long long mtime) {
        fs::create_directories(Cache.Path() + "/thumbnails/" + bucket);
        const std::string script = "from PIL import Image, PngImagePlugin\n"
                                   "i = PngImagePlugin.PngInfo()\n"
                                   "i.add_text('Thumb::URI', 'file://" +
                                   Image + "')\ni.add_text('Thumb::MTime', '" + std::to_string(mtime) +
                                   "')\nImage.new('RGB', (" + std::to_string(w) + "," + std::to_string(h) +
                                   "), '" + colour + "').save('" + CacheFile(bucket) + "', pnginfo=i)\n";
        ASSERT_EQ(Python(script + "print('ok')"), "ok");
    }
    long long MTime() const {
        struct stat st {};
        ::stat(Image.c_str(), &st);
        return st.st_mtime;
    }

    TempDir Cache, Files;
    std::string Image;
    TShellBrowser Browser;
};

TEST_F(Thumbnails, MadeWrittenToTheCacheAndScaledToTheRequest) {
    const QImage thumb = Browser.ExtractThumbnail(0, 100); // not both given: 64 x 64
    ASSERT_FALSE(thumb.isNull());
    EXPECT_EQ(thumb.size(), QSize(64, 48));
    EXPECT_GT(qRed(thumb.pixel(30, 20)), 240);
    EXPECT_LT(qGreen(thumb.pixel(30, 20)), 15);
    const std::string cached = CacheFile("normal");
    ASSERT_TRUE(fs::exists(cached));
    EXPECT_EQ(fs::status(cached).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // Checked with another PNG reader: the text chunks and the bucket size.
    const std::string info =
        Python("from PIL import Image\ni = Image.open('" + cached +
               "')\nprint(i.size, i.info.get('Thumb::URI'), i.info.get('Thumb::MTime'))");
    EXPECT_EQ(info, "(128, 96) file://" + Image + " " + std::to_string(MTime()));
    for (const auto& entry : fs::directory_iterator(Cache.Path() + "/thumbnails/normal"))
        EXPECT_EQ(entry.path().string(), cached) << "no temporary file may be left";

    const QImage large = Browser.ExtractThumbnail(200, 150);
    EXPECT_EQ(large.size(), QSize(200, 150));
    EXPECT_TRUE(fs::exists(CacheFile("large")));
}

TEST_F(Thumbnails, CurrentCacheEntryIsUsedAndAnOutdatedOneReplaced) {
    WriteCached("normal", 128, 96, "blue", MTime());
    QImage thumb = Browser.ExtractThumbnail(64, 64);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_EQ(qBlue(thumb.pixel(10, 10)), 255); // from the cache

    WriteCached("normal", 128, 96, "blue", MTime() - 1);
    thumb = Browser.ExtractThumbnail(64, 64);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_GT(qRed(thumb.pixel(10, 10)), 240); // made afresh from the file
    EXPECT_LT(qBlue(thumb.pixel(10, 10)), 15);
    EXPECT_EQ(Python("from PIL import Image\nprint(Image.open('" + CacheFile("normal") +
                     "').info.get('Thumb::MTime'))"),
              std::to_string(MTime()));
}

TEST_F(Thumbnails, OversizedCacheEntryIsRefused) {
    WriteCached("normal", 2000, 2000, "blue", MTime());
    const QImage thumb = Browser.ExtractThumbnail(64, 64);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_GT(qRed(thumb.pixel(10, 10)), 240);
}

TEST_F(Thumbnails, SmallImagesKeepTheirSizeAndOthersGiveNone) {
    const std::string small = Files.File("small.png");
    ASSERT_TRUE(MakeImage("-size 20x10 xc:lime", small));
    Browser.SetObjectName(small);
    EXPECT_EQ(Browser.ExtractThumbnail(64, 64).size(), QSize(20, 10));

    const std::string text = Files.File("notes.txt");
    WriteText(text, "not an image");
    Browser.SetObjectName(text);
    EXPECT_TRUE(Browser.ExtractThumbnail(64, 64).isNull());

    // A truncated JPEG: no crash, and no thumbnail of half a file goes into the cache.
    const std::string cut = Files.File("cut.jpg");
    auto bytes = testsupport::ReadFileBytes(Image);
    bytes.resize(bytes.size() / 3);
    testsupport::WriteFileBytes(cut, bytes);
    Browser.SetObjectName(cut);
    if (Browser.ExtractThumbnail(64, 64).isNull()) {
        EXPECT_FALSE(fs::exists(ThumbnailCacheFile(cut, 128)));
    }

    Browser.SetObjectName(Files.Path() + "/");
    EXPECT_TRUE(Browser.ExtractThumbnail(64, 64).isNull()); // a folder
}

TEST_F(Thumbnails, AssignThumbnailFillsTheLabel) {
    QLabel label;
    label.resize(100, 80);
    ASSERT_TRUE(Browser.AssignThumbnail(&label));
    EXPECT_EQ(label.pixmap().size(), QSize(100, 75));
    const std::string text = Files.File("notes.txt");
    WriteText(text, "not an image");
    Browser.SetObjectName(text);
    EXPECT_FALSE(Browser.AssignThumbnail(&label));
    EXPECT_EQ(label.pixmap().size(), QSize(100, 75)); // left alone
    EXPECT_FALSE(Browser.AssignThumbnail(nullptr));
}

// Hostile files: the info tip and the thumbnail end cleanly for every bad corpus file.
TEST(CorpusSmoke, BadFilesGiveTipsAndThumbnailsWithoutHarm) {
    TempDir cache;
    setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
    int files = 0;
    for (const char* format : {"tiff", "png", "gif", "bmp", "jpeg", "tga", "jpeg2000", "pnm", "emf", "ico",
                               "pcx", "wmf", "wbmp", "cur"}) {
        for (const auto& entry : testsupport::CorpusFiles(format)) {
            if (!entry.IsBad()) continue;
            const std::string path = testsupport::CorpusDir() + "/" + entry.Path;
            SCOPED_TRACE(path);
            TShellBrowser browser;
            browser.SetObjectName(path);
            EXPECT_NE(browser.ObjectInfoTip().find("Size: "), std::string::npos);
            const QImage thumb = browser.ExtractThumbnail(64, 64);
            EXPECT_TRUE(thumb.isNull() || (thumb.width() <= 64 && thumb.height() <= 64));
            ++files;
        }
    }
    unsetenv("XDG_CACHE_HOME");
    if (files == 0) GTEST_SKIP() << "no corpus";
}

// ---- context menu

// Picks the action with a verb (or the given action) instead of showing the menu, as exec would.
struct TMenuScript {
    std::string Verb;
    QAction* Action = nullptr;
    std::vector<std::string> Seen; // verbs, or "extra:<text>" and "-" for separators, in menu order
    int Calls = 0;

    QAction* operator()(QMenu& menu, const QPoint&) {
        ++Calls;
        QAction* pick = Action;
        for (QAction* a : menu.actions()) {
            if (a->isSeparator())
                Seen.push_back("-");
            else if (a->menu())
                Seen.push_back("submenu");
            else if (a->data().isValid())
                Seen.push_back(a->data().toString().toStdString());
            else
                Seen.push_back("extra:" + a->text().toStdString());
            if (!pick && a->data().toString().toStdString() == Verb) pick = a;
        }
        if (pick) pick->trigger();
        return pick;
    }
};

class ContextMenu : public ShellTree {
protected:
    void SetUp() override {
        ShellTree::SetUp();
        File = Root + "/Data/photo.jpg";
        Browser.SetObjectName(File);
        Browser.MenuExec = std::ref(Script);
        Browser.DialogExec = [this](QDialog& d) {
            Dialogs.push_back(&d);
            if (auto* box = qobject_cast<QMessageBox*>(&d)) Messages.push_back(box->text().toStdString());
            return int(QDialog::Rejected);
        };
    }
    TShellBrowser Browser;
    TMenuScript Script;
    std::string File;
    std::vector<QDialog*> Dialogs;
    std::vector<std::string> Messages;
};

TEST_F(ContextMenu, DismissedMenuAndNoObjectGiveNothing) {
    EXPECT_EQ(Browser.ShowContextMenu({10, 10}), "");
    EXPECT_EQ(Script.Calls, 1);
    Browser.SetObjectName("");
    EXPECT_EQ(Browser.ShowContextMenu({10, 10}), "");
    EXPECT_EQ(Script.Calls, 1); // no menu at all
}

TEST_F(ContextMenu, ExtraItemsGoBeforeOrAfterTheShellItems) {
    QMenu extra;
    int clicks = 0;
    QAction* mine = extra.addAction("Mine");
    QObject::connect(mine, &QAction::triggered, [&] { ++clicks; });
    int popups = 0;
    QObject::connect(&extra, &QMenu::aboutToShow, [&] { ++popups; });

    Script.Action = mine;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}, &extra), "");
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(popups, 1);
    ASSERT_GE(Script.Seen.size(), 3u);
    EXPECT_EQ(Script.Seen[0], "extra:Mine");
    EXPECT_EQ(Script.Seen[1], "-");
    EXPECT_EQ(Script.Seen[2], "open");
    EXPECT_EQ(extra.actions().size(), 1); // the caller's menu is left as it was

    Script.Seen.clear();
    Browser.ShowContextMenuOnTop = true;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}, &extra), "");
    EXPECT_EQ(Script.Seen.front(), "open");
    EXPECT_EQ(Script.Seen.back(), "extra:Mine");
    EXPECT_EQ(Script.Seen[Script.Seen.size() - 2], "-");
    EXPECT_EQ(std::count(Script.Seen.begin(), Script.Seen.end(), "rename"), 0); // no OnRename
}

TEST_F(ContextMenu, VetoedCommandGivesAnEmptyVerbAndDoesNothing) {
    std::vector<std::string> asked;
    Browser.OnContextMenuSelect = [&](const std::string& verb, bool& execute) {
        asked.push_back(verb);
        execute = false;
    };
    for (const char* verb : {shellverbs::Delete, shellverbs::Open}) {
        Script.Verb = verb;
        EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "") << verb;
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"delete", "open"}));
    EXPECT_TRUE(fs::exists(File));
}

TEST_F(ContextMenu, DeleteMovesToTheTrashAndBack) {
    const auto original = testsupport::ReadFileBytes(File);
    Script.Verb = shellverbs::Delete;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "delete");
    EXPECT_FALSE(fs::exists(File));
    const std::string trashed = DataHome() + "/Trash/files/photo.jpg";
    ASSERT_TRUE(fs::exists(trashed)) << "the trash of the fake home";
    std::ifstream infoFile(DataHome() + "/Trash/info/photo.jpg.trashinfo");
    std::string info((std::istreambuf_iterator<char>(infoFile)), std::istreambuf_iterator<char>());
    EXPECT_NE(info.find("Path=" + File), std::string::npos) << info;
    // Restore it, as a file manager would.
    fs::rename(trashed, File);
    fs::remove(DataHome() + "/Trash/info/photo.jpg.trashinfo");
    EXPECT_EQ(testsupport::ReadFileBytes(File), original);
    EXPECT_TRUE(Browser.SetSpecialFolder(SF_BITBUCKET));
    EXPECT_EQ(Browser.Folder(), DataHome() + "/Trash/files/");
}

TEST_F(ContextMenu, FailedDeleteReportsAndGivesAnEmptyVerb) {
    fs::remove(File); // gone between selection and command
    Script.Verb = shellverbs::Delete;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "");
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].rfind("Cannot move \"" + File + "\" to the trash: ", 0), 0u) << Messages[0];
    Browser.ShowErrorMessages = false;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "");
    EXPECT_EQ(Messages.size(), 1u); // silent
}

TEST_F(ContextMenu, MultiObjectsAreDeletedTogether) {
    Browser.MultiObjects = {"b.PNG", "notes.txt"};
    Script.Verb = shellverbs::Delete;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "delete");
    EXPECT_FALSE(fs::exists(Root + "/Data/b.PNG"));
    EXPECT_FALSE(fs::exists(Root + "/Data/notes.txt"));
    EXPECT_TRUE(fs::exists(File)); // the current object was not part of it
    EXPECT_TRUE(Browser.MultiObjects.empty());
}

TEST_F(ContextMenu, RenameGoesToOnRename) {
    QObject* sender = nullptr;
    Browser.OnRename = [&](QObject* s) { sender = s; };
    Script.Verb = shellverbs::Rename;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "rename");
    EXPECT_EQ(sender, &Browser);
    EXPECT_TRUE(fs::exists(File));
}

TEST_F(ContextMenu, PropertiesShowTheInfoTip) {
    Script.Verb = shellverbs::Properties;
    QStringList texts;
    Browser.DialogExec = [&](QDialog& d) {
        for (QLabel* label : d.findChildren<QLabel*>()) texts << label->text();
        return int(QDialog::Accepted);
    };
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "properties");
    EXPECT_TRUE(texts.contains("photo.jpg"));
    EXPECT_TRUE(texts.contains(QString::fromStdString(FileInfoTip(File))));
}

TEST_F(ContextMenu, CopyPathPutsThePathOnTheClipboard) {
    Script.Verb = shellverbs::CopyPath;
    EXPECT_EQ(Browser.ShowContextMenu({0, 0}), "copypath");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), File);
}

} // namespace

// Read by LeakSanitizer in sanitizer builds (an unused function otherwise). GIO's MIME database
// (xdgmime) keeps allocations for the process's life that it never frees, made when a content type is
// first looked up; those alone are suppressed.
// GIO is built without frame pointers: full unwinding lets the suppressions name its functions
// instead of the whole library.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:g_content_type_from_mime_type\n"
           "leak:g_content_type_guess\n";
}

int main(int argc, char** argv) {
    TempDir home;
    gHome = &home;
    fs::create_directories(home.File("data"));
    fs::create_directories(home.File("config"));
    fs::create_directories(home.File("runtime"));
    fs::permissions(home.File("runtime"), fs::perms::owner_all);
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_DATA_HOME", home.File("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.File("config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home.File("runtime").c_str(), 1);
    setenv("XDG_CACHE_HOME", home.File("cache").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
