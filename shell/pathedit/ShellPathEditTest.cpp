#include "shell/pathedit/ShellPathEdit.h"

#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

TempDir* gHome = nullptr;

// What the dialog's "Choose" button does (accept is protected in QFileDialog, public in QDialog).
void Accept(QFileDialog& d) {
    static_cast<QDialog&>(d).accept();
}

std::string DirOf(const QFileDialog& d) {
    return QFile::encodeName(d.directory().absolutePath()).toStdString();
}

// ---- options and placement arithmetic

TEST(BrowseForFolder, NewStyleAndFileSystemOnlyExcludeEachOther) {
    const struct {
        TShellBrowseFlags In, Out;
    } cases[] = {
        {{bfNewDialogStyle, bfFileSystemOnly}, {bfNewDialogStyle}},
        {{bfFileSystemOnly}, {bfFileSystemOnly}},
        {{bfFileSystemOnly, bfEditBox, bfBrowseIncludeFiles},
         {bfFileSystemOnly, bfEditBox, bfBrowseIncludeFiles}},
        {{bfNewDialogStyle, bfFileSystemOnly, bfEditBox}, {bfNewDialogStyle, bfEditBox}},
        {{}, {}},
    };
    TShellBrowseForFolder browser;
    EXPECT_EQ(browser.Options(), TShellBrowseFlags{bfNewDialogStyle});
    for (const auto& c : cases) {
        browser.SetOptions(c.In);
        EXPECT_TRUE(browser.Options() == c.Out);
    }
}

TEST(BrowseForFolder, PositionIsStoredOrCentred) {
    const struct {
        int Left, Top;
        QPoint Expected;
    } cases[] = {
        {100, 50, {100, 50}},  {100, -1, {362, 284}}, // one side unset: centred
        {-1, 100, {362, 284}}, {0, 0, {362, 284}},    {-1, -1, {362, 284}}, {1, 1, {1, 1}},
    };
    for (const auto& c : cases) {
        // Integer halves of an odd screen and window: 1025/2 - 301/2 = 512 - 150.
        EXPECT_EQ(TShellBrowseForFolder::DialogPosition(c.Left, c.Top, {301, 201}, {1025, 769}), c.Expected)
            << c.Left << "," << c.Top;
    }
    TShellBrowseForFolder browser;
    EXPECT_EQ(browser.DialogLeft(), -1);
    EXPECT_EQ(browser.DialogTop(), -1);
    EXPECT_EQ(browser.RootedAt, SF_DESKTOP);
    browser.SetRootedAtFileSystemFolder("/nowhere");
    EXPECT_EQ(browser.RootedAt, SF_FILESYSTEMFOLDER);
    EXPECT_EQ(browser.RootedAtFileSystemFolder(), "/nowhere");
}

// ---- the dialog, driven through DialogExec

class FolderDialog : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Dir.Path();
        fs::create_directories(Root + "/a/b");
        std::ofstream(Root + "/a/file.txt") << "x";
    }
    TempDir Dir;
    std::string Root;
    TShellBrowseForFolder Browser;
};

TEST_F(FolderDialog, OpensCentredOnTheRootAndMovesWhenTold) {
    std::vector<std::string> events;
    Browser.OnShow = [&](QObject* s) {
        events.push_back(Browser.DialogWindow() ? "show, dialog open" : "show");
        EXPECT_EQ(s, &Browser);
    };
    Browser.OnClose = [&](QObject*) {
        events.push_back(Browser.DialogWindow() ? "close, dialog open" : "close");
    };
    Browser.DialogExec = [&](QFileDialog& d) {
        EXPECT_EQ(Browser.DialogWindow(), &d);
        EXPECT_EQ(DirOf(d), "/"); // empty Path: the namespace root
        EXPECT_TRUE(d.testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_TRUE(d.testOption(QFileDialog::ShowDirsOnly));
        d.show();
        const QSize screen = d.screen()->geometry().size();
        const QSize window = d.frameGeometry().size();
        EXPECT_EQ(d.pos(),
                  QPoint(screen.width() / 2 - window.width() / 2, screen.height() / 2 - window.height() / 2));
        Browser.SetDialogLeft(120);
        EXPECT_EQ(d.pos(),
                  QPoint(screen.width() / 2 - window.width() / 2, screen.height() / 2 - window.height() / 2));
        Browser.SetDialogTop(90); // both set: placed there at once
        EXPECT_EQ(d.pos(), QPoint(120, 90));
        d.move(130, 95);
        EXPECT_EQ(Browser.DialogLeft(), 130); // the open window's own place
        EXPECT_EQ(Browser.DialogTop(), 95);
        d.setDirectory(QString::fromStdString(Root + "/a"));
        Accept(d);
        return d.result();
    };
    ASSERT_TRUE(Browser.Execute());
    EXPECT_EQ(Browser.Path, Root + "/a");
    EXPECT_EQ(Browser.ChosenSpecialFolder(), SF_FILESYSTEMFOLDER);
    EXPECT_EQ(events, (std::vector<std::string>{"show", "close"}));
    EXPECT_EQ(Browser.DialogLeft(), 120); // the stored values once it is gone
    EXPECT_EQ(Browser.DialogWindow(), nullptr);
}

TEST_F(FolderDialog, StartsAtPathAndReportsSpecialFolders) {
    Browser.Title = "Pick a folder";
    Browser.Path = Root + "/a/b/";
    Browser.DialogExec = [&](QFileDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Pick a folder");
        EXPECT_EQ(DirOf(d), Root + "/a/b");
        d.setDirectory(QString::fromStdString(gHome->Path()));
        Accept(d);
        return d.result();
    };
    ASSERT_TRUE(Browser.Execute());
    EXPECT_EQ(Browser.Path, gHome->Path());
    EXPECT_EQ(Browser.ChosenSpecialFolder(), SF_DESKTOPDIRECTORY); // no desktop folder: the home
    Browser.DialogExec = [&](QFileDialog& d) {
        d.setDirectory("/");
        Accept(d);
        return d.result();
    };
    ASSERT_TRUE(Browser.Execute());
    EXPECT_EQ(Browser.Path, "/");
    EXPECT_EQ(Browser.ChosenSpecialFolder(), SF_DESKTOP);
}

TEST_F(FolderDialog, StaysInsideItsRoot) {
    Browser.SetRootedAtFileSystemFolder(Root + "/a");
    Browser.Path = Root; // outside the root: the root is selected instead
    Browser.DialogExec = [&](QFileDialog& d) {
        EXPECT_EQ(DirOf(d), Root + "/a");
        auto* up = d.findChild<QToolButton*>("toParentButton");
        EXPECT_NE(up, nullptr);
        if (up) {
            up->click();
            EXPECT_EQ(DirOf(d), Root + "/a");
        }
        d.setDirectory(QString::fromStdString(Root));
        Accept(d); // refused: outside the root
        EXPECT_EQ(d.result(), QDialog::Rejected);
        return d.result();
    };
    EXPECT_FALSE(Browser.Execute());
    EXPECT_EQ(Browser.Path, "");

    Browser.SetRootedAtFileSystemFolder(Root + "/missing"); // falls back to RootedAt, the whole tree
    Browser.Path = "";
    Browser.DialogExec = [&](QFileDialog& d) {
        EXPECT_EQ(DirOf(d), "/");
        return int(QDialog::Rejected);
    };
    EXPECT_FALSE(Browser.Execute());
}

TEST_F(FolderDialog, FilesOnlyWithIncludeFilesAndTheEditBoxOnlyWhenAsked) {
    const std::string file = Root + "/a/file.txt";
    const auto pickFile = [&](QFileDialog& d) {
        d.setDirectory(QString::fromStdString(Root + "/a"));
        d.selectFile(QString::fromStdString(file));
        Accept(d);
        return d.result();
    };
    Browser.DialogExec = [&](QFileDialog& d) {
        auto* edit = d.findChild<QWidget*>("fileNameEdit");
        EXPECT_TRUE(edit && !edit->isVisibleTo(&d));
        return pickFile(d);
    };
    EXPECT_FALSE(Browser.Execute()); // a file cannot be chosen

    Browser.SetOptions({bfBrowseIncludeFiles, bfEditBox});
    Browser.DialogExec = [&](QFileDialog& d) {
        EXPECT_FALSE(d.testOption(QFileDialog::ShowDirsOnly));
        auto* edit = d.findChild<QWidget*>("fileNameEdit");
        EXPECT_TRUE(edit && edit->isVisibleTo(&d));
        return pickFile(d);
    };
    ASSERT_TRUE(Browser.Execute());
    EXPECT_EQ(Browser.Path, file);
}

// ---- the path edit

TEST(PathEdit, NameFiltersFromTheBarForm) {
    const struct {
        const char* In;
        QStringList Out;
    } cases[] = {
        {"Images|*.jpg;*.png|All files|*.*", {"Images (*.jpg *.png)", "All files (*)"}},
        {"Text|*.txt", {"Text (*.txt)"}},
        {"Lonely", {"Lonely (*)"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(TShellPathEdit::NameFilters(c.In), c.Out) << c.In;
}

TEST(PathEdit, PropertiesAndLook) {
    TempDir dir;
    const std::string file = dir.File("f.txt");
    std::ofstream(file) << "x";
    TShellPathEdit edit;
    edit.SetVersion("x");
    EXPECT_EQ(edit.Version(), "TShellPathEdit V3.32");
    EXPECT_EQ(edit.Button()->text(), "...");
    const int h = edit.Edit()->sizeHint().height();
    EXPECT_EQ(edit.Button()->size(), QSize(h, h));
    edit.resize(300, 3 * h);
    EXPECT_EQ(edit.Button()->size(), QSize(h, h));

    const struct {
        bool FolderMode;
        std::string Path;
        bool Valid;
    } cases[] = {{true, dir.Path(), true}, {true, dir.Path() + "/", true}, {true, file, false},
                 {false, file, true},      {false, dir.Path(), false},     {true, "", false},
                 {false, "", false},       {false, file + "x", false}};
    for (const auto& c : cases) {
        edit.FolderMode = c.FolderMode;
        edit.SetPath(c.Path);
        EXPECT_EQ(edit.IsValidPath(), c.Valid) << c.Path << " folder mode " << c.FolderMode;
    }

    std::vector<QObject*> senders;
    edit.OnChange = [&](QObject* s) { senders.push_back(s); };
    edit.SetPath("/tmp");
    edit.Edit()->setText("/tmp/x");
    EXPECT_EQ(senders, (std::vector<QObject*>{edit.Edit(), edit.Edit()}));
    EXPECT_EQ(edit.Path(), "/tmp/x");

    edit.SetEnabled(false);
    EXPECT_FALSE(edit.Enabled());
    EXPECT_FALSE(edit.Button()->isEnabled());
    EXPECT_FALSE(edit.Edit()->isEnabled());
    edit.SetEnabled(true);
    EXPECT_TRUE(edit.Button()->isEnabled() && edit.Edit()->isEnabled());
}

TEST(PathEdit, FolderBrowseOpensAtTheFieldsFolder) {
    TempDir dir;
    fs::create_directories(dir.File("sub"));
    TShellPathEdit edit;
    edit.FolderMode = true;
    struct Case {
        std::string Text, OpensAt;
    };
    const Case cases[] = {
        {dir.Path(), dir.Path()},
        {dir.Path() + "/", dir.Path()},
        {dir.File("sub"), dir.File("sub")},
        {dir.File("missing/deeper/"), dir.Path()}, // the nearest folder that exists
        {"", "/"},
        {"relative/path", "/"},
    };
    for (const Case& c : cases) {
        edit.SetPath(c.Text);
        std::string opened;
        edit.DialogExec = [&](QFileDialog& d) {
            opened = DirOf(d);
            return int(QDialog::Rejected);
        };
        edit.Button()->click();
        EXPECT_EQ(opened, c.OpensAt) << c.Text;
        EXPECT_EQ(edit.Path(), c.Text); // a cancelled browse changes nothing
    }

    QString title;
    edit.SetPath(dir.Path());
    edit.DialogExec = [&](QFileDialog& d) {
        title = d.windowTitle();
        EXPECT_FALSE(d.testOption(QFileDialog::ReadOnly)); // a new folder can be made
        auto* typed = d.findChild<QLineEdit*>("fileNameEdit");
        EXPECT_TRUE(typed && typed->isVisibleTo(&d));
        if (typed) typed->setText(QString::fromStdString(dir.File("sub"))); // a path typed in
        Accept(d);
        return d.result();
    };
    edit.Browse();
    EXPECT_EQ(edit.Path(), dir.File("sub"));
    QFileDialog plain;
    plain.setFileMode(QFileDialog::Directory);
    EXPECT_EQ(title, plain.windowTitle()); // no title of our own
}

TEST(PathEdit, FileBrowseUsesTitleAndFilter) {
    TempDir dir;
    const std::string file = dir.File("pick.jpg");
    std::ofstream(file) << "x";
    TShellPathEdit edit;
    edit.DialogTitle = "Choose an image";
    edit.FileFilter = "Images|*.jpg;*.png|All|*.*";
    edit.DialogExec = [&](QFileDialog& d) {
        EXPECT_EQ(d.windowTitle().toStdString(), "Choose an image");
        EXPECT_EQ(d.nameFilters(), (QStringList{"Images (*.jpg *.png)", "All (*)"}));
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
        d.setDirectory(QString::fromStdString(dir.Path()));
        d.selectFile(QString::fromStdString(file));
        Accept(d);
        return d.result();
    };
    edit.Button()->click();
    EXPECT_EQ(edit.Path(), file);
}

} // namespace

int main(int argc, char** argv) {
    TempDir home;
    gHome = &home;
    for (const char* sub : {"data", "config", "cache", "runtime"}) fs::create_directories(home.File(sub));
    fs::permissions(home.File("runtime"), fs::perms::owner_all);
    setenv("HOME", home.Path().c_str(), 1);
    setenv("XDG_DATA_HOME", home.File("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.File("config").c_str(), 1); // the file dialog keeps its settings here
    setenv("XDG_CACHE_HOME", home.File("cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home.File("runtime").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
