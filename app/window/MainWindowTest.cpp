#include "app/window/MainWindow.h"
#include "app/window/AboutBox.h"
#include "app/window/DefaultFolders.h"
#include "app/window/FileListBox.h"
#include "imaging/io/PictoraIO.h"
#include "shell/browser/ShellBrowser.h"
#include "shell/opendialog/OpenPictoraDialog.h"
#include "shell/pathedit/ShellPathEdit.h"
#include "testsupport/QtTestEnvironment.h"
#include "testsupport/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

// Readable failure output for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TempDir;

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("window_tests"));

// Answers for everything that would wait for a user.
struct Desk {
    bool DialogAccepts = true;
    QStringList DialogFiles;
    int DialogRuns = 0;
    std::string DialogFilter, DialogInitialDir;
    TOpenOptions DialogOptions;
    bool DialogAutoFilter = true;
    QStringList Messages;
    int Beeps = 0;
    QStringList Opened;
    QStringList MenuObjects;
    std::function<void()> OnProcessMessages;

    TWindowHooks Hooks() {
        TWindowHooks h;
        h.ExecuteOpenDialog = [this](TOpenPictoraDialog& d, QStringList& chosen) {
            ++DialogRuns;
            DialogFilter = d.Filter;
            DialogInitialDir = d.InitialDir();
            DialogOptions = d.Options;
            DialogAutoFilter = d.AutoSetFilter;
            if (DialogAccepts) chosen = DialogFiles;
            return DialogAccepts;
        };
        h.ShowMessage = [this](QWidget*, const QString& text) { Messages << text; };
        h.Beep = [this] { ++Beeps; };
        h.OpenFolder = [this](const QString& folder) { Opened << folder; };
        h.ProcessMessages = [this] {
            QCoreApplication::processEvents();
            if (OnProcessMessages) OnProcessMessages();
        };
        h.ShowContextMenu = [this](TShellBrowser& b, const QPoint&) {
            MenuObjects << QString::fromStdString(b.ObjectPath());
        };
        return h;
    }
};

QStringList Items(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
}

struct ActionStates {
    bool Convert, Clear, Delete;
    bool operator==(const ActionStates&) const = default;
};
void PrintTo(const ActionStates& s, std::ostream* os) {
    *os << "{convert " << s.Convert << ", clear " << s.Clear << ", delete " << s.Delete << "}";
}

int PageCount(const std::string& pdf) {
    std::string out;
    if (RunCommand("qpdf --show-npages " + ShellQuote(pdf) + " 2>/dev/null", &out) != 0) return -1;
    return std::atoi(out.c_str());
}

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : form(desk.Hooks()) {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    QString File(const std::string& name) const { return QString::fromStdString(dir.File(name)); }
    void MakeImage(const std::string& args, const std::string& name) {
        ASSERT_EQ(RunCommand("/usr/bin/convert " + args + " " + ShellQuote(dir.File(name))), 0);
    }
    // A desktop drop of these paths onto a control of the window.
    void Drop(const QStringList& paths, QWidget* target = nullptr) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QWidget* to = target ? target : form.FileList->viewport();
        // As on the desktop: the drop reaches only a target that accepted the drag's entry.
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &drop);
    }
    void Select(int row) { form.FileList->setCurrentRow(row); }
    QPoint RowCenter(int row) const {
        return form.FileList->visualItemRect(form.FileList->item(row)).center();
    }
    ActionStates States() const {
        return {form.ActConvert->isEnabled(), form.ActClear->isEnabled(), form.ActDelete->isEnabled()};
    }
    void Activate() {
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    TempDir dir;
    Desk desk;
    TForm1 form;
};

// --- the file list ---------------------------------------------------------------------------------

TEST_F(MainWindowTest, DropSkipsUnlistedExtensionsAndNumbersTheRest) {
    Drop({File("a.tif"), File("notes.txt"), File("b.png")});
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.tif", "2.  b.png"}));
    EXPECT_EQ(Items(form.ListBox1), (QStringList{File("a.tif"), File("b.png")}));
    EXPECT_EQ(States(), (ActionStates{true, true, false}));

    Drop({File("Page.TIF"), File("archive"), File("x.ti")});
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.tif", "2.  b.png", "3.  Page.TIF", "4.  x.ti"}));
}

TEST_F(MainWindowTest, DropOnAnEditGoesToTheList) {
    // A line edit takes dropped text by itself; a desktop drop must reach the list instead.
    Drop({File("a.png")}, form.OutputFile);
    Drop({File("b.png")}, form.Keywords->viewport());
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.png", "2.  b.png"}));
    EXPECT_TRUE(form.OutputFile->text().isEmpty());
    EXPECT_TRUE(form.Keywords->toPlainText().isEmpty());
}

TEST_F(MainWindowTest, DropWithoutLocalFilesChangesNothing) {
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://example.com/a.png"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.FileList->viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.FileList->viewport(), &drop);
    EXPECT_EQ(form.FileList->count(), 0);
    EXPECT_EQ(States(), (ActionStates{false, false, false}));
}

TEST_F(MainWindowTest, DialogAddsNumberAfterTheListedOnes) {
    desk.DialogFiles = {File("one.png"), File("two.gif")};
    form.ActAddFiles->trigger();
    desk.DialogFiles = {File("c.jpg"), File("d.bmp"), File("e.txt")}; // the dialog's choice is not filtered
    form.ActAddFiles->trigger();
    EXPECT_EQ(Items(form.FileList),
              (QStringList{"1.  one.png", "2.  two.gif", "3.  c.jpg", "4.  d.bmp", "5.  e.txt"}));
    EXPECT_EQ(form.ListBox1->item(4)->text(), File("e.txt"));

    EXPECT_EQ(desk.DialogRuns, 2);
    EXPECT_TRUE(desk.DialogOptions.Contains(ofAllowMultiSelect));
    EXPECT_TRUE(desk.DialogOptions.Contains(ofHideReadOnly));
    EXPECT_FALSE(desk.DialogAutoFilter);
    EXPECT_EQ(desk.DialogFilter.rfind("Вся графика|*.tif;", 0), 0u);
    EXPECT_EQ(QDir(QString::fromStdString(desk.DialogInitialDir)), QDir(DefaultDialogFolder()));
}

TEST_F(MainWindowTest, CancelledDialogAddsNothing) {
    desk.DialogAccepts = false;
    desk.DialogFiles = {File("one.png")};
    form.ActAddFiles->trigger();
    EXPECT_EQ(form.FileList->count(), 0);
    EXPECT_EQ(States(), (ActionStates{false, false, false}));
}

TEST_F(MainWindowTest, DraggingTheFirstEntryOntoTheThirdMovesItLast) {
    Drop({File("a.png"), File("b.png"), File("c.png")});
    Select(0);
    form.FileListDragDrop(RowCenter(2));
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  b.png", "2.  c.png", "3.  a.png"}));
    EXPECT_EQ(Items(form.ListBox1), (QStringList{File("b.png"), File("c.png"), File("a.png")}));
    EXPECT_EQ(form.FileList->ItemIndex(), 2);
    EXPECT_EQ(form.ListBox1->currentRow(), 2);
    EXPECT_TRUE(form.ActDelete->isEnabled());
}

TEST_F(MainWindowTest, DroppingBelowTheLastEntryKeepsTheOrderAndRenumbers) {
    Drop({File("a.png"), File("b.png"), File("c.png")});
    Select(1);
    form.FileList->item(2)->setText(QStringLiteral("stale"));
    const QPoint below(5, form.FileList->viewport()->height() - 2);
    ASSERT_EQ(form.FileList->ItemAtPos(below), -1);
    form.FileListDragDrop(below);
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.png", "2.  b.png", "3.  c.png"}));
    EXPECT_EQ(form.FileList->ItemIndex(), 1);
}

TEST_F(MainWindowTest, DeletingRenumbersTheRest) {
    Drop({File("a.png"), File("b.png"), File("c.png")});
    Select(1);
    form.ActDelete->trigger();
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.png", "2.  c.png"}));
    EXPECT_EQ(Items(form.ListBox1), (QStringList{File("a.png"), File("c.png")}));
    EXPECT_EQ(form.FileList->ItemIndex(), -1);
    EXPECT_FALSE(form.Image1ShowHint());
}

TEST_F(MainWindowTest, ClearEmptiesTextsButKeepsFrameIndexes) {
    Drop({File("a.tif")});
    TIOParamsVals& frames = form.PictoraIO1().Params();
    TIOParamsVals& pages = form.PictoraView1.IOComponent()->Params();
    frames.TiffFrameIndex = 2;
    frames.GifFrameIndex = 4;
    frames.PdfTitle = "left over";
    pages.PdfKeywords = "left over";
    pages.PdfAuthor = "left over";
    form.ActClear->trigger();
    EXPECT_EQ(form.FileList->count(), 0);
    EXPECT_EQ(form.ListBox1->count(), 0);
    EXPECT_EQ(frames.TiffFrameIndex, 2);
    EXPECT_EQ(frames.GifFrameIndex, 4);
    EXPECT_TRUE(frames.PdfTitle.empty());
    EXPECT_TRUE(pages.PdfKeywords.empty());
    EXPECT_TRUE(pages.PdfAuthor.empty());
    EXPECT_EQ(States(), (ActionStates{false, false, false}));
}

TEST_F(MainWindowTest, ActionStatesFollowTheListOperations) {
    struct Step {
        const char* Event;
        std::function<void()> Do;
        ActionStates Expected;
    };
    const Step steps[] = {
        {"start", [] {}, {false, false, false}},
        {"dialog adds",
         [&] {
             desk.DialogFiles = {File("a.png"), File("b.png")};
             form.ActAddFiles->trigger();
         },
         {true, true, false}},
        {"entry selected", [&] { Select(1); }, {true, true, true}},
        {"selection removed", [&] { form.FileList->clearSelection(); }, {true, true, false}},
        {"entry moved", [&] { Select(0), form.FileListDragDrop(RowCenter(1)); }, {true, true, true}},
        {"entry deleted, one left", [&] { form.ActDelete->trigger(); }, {true, true, false}},
        {"dropped", [&] { Drop({File("c.gif")}); }, {true, true, false}},
        {"last entries deleted",
         [&] {
             Select(0), form.ActDelete->trigger();
             Select(0), form.ActDelete->trigger();
         },
         {false, false, false}},
        {"dropped again", [&] { Drop({File("d.gif")}); }, {true, true, false}},
        {"cleared", [&] { Select(0), form.ActClear->trigger(); }, {false, false, false}},
    };
    for (const Step& s : steps) {
        s.Do();
        EXPECT_EQ(States(), s.Expected) << s.Event;
    }
}

TEST_F(MainWindowTest, SelectionShowsPreviewAndHintOnlyForExistingFiles) {
    MakeImage("-size 60x40 xc:orange", "shown.png");
    Drop({File("shown.png"), File("gone.png")});
    Select(0);
    EXPECT_TRUE(form.Image1ShowHint());
    EXPECT_FALSE(form.Image1->toolTip().isEmpty());
    EXPECT_TRUE(form.Image1->isVisibleTo(form.GroupBox4));
    EXPECT_FALSE(form.Image1->pixmap().isNull());

    Select(1);
    EXPECT_TRUE(form.Image1->pixmap().isNull());
    EXPECT_TRUE(form.Image1->toolTip().isEmpty()); // not the hint of the file shown before
    EXPECT_EQ(form.ListBox1->currentRow(), 1);
}

TEST_F(MainWindowTest, RightClickOpensTheShellMenuForTheSelectedEntryOnly) {
    MakeImage("-size 8x8 xc:red", "a.png");
    MakeImage("-size 8x8 xc:blue", "b.png");
    Drop({File("a.png"), File("b.png"), File("missing.png")});
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(0));
    EXPECT_TRUE(desk.MenuObjects.isEmpty()); // nothing selected

    Select(0);
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(1));
    EXPECT_EQ(desk.MenuObjects, QStringList{File("a.png")});
    EXPECT_EQ(form.FileList->ItemIndex(), 0); // a right click does not select

    Select(2); // its file does not exist
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(2));
    EXPECT_EQ(desk.MenuObjects.size(), 1);

    Select(1);
    form.FileList->clearSelection(); // deselected: nothing to open a menu for
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(1));
    EXPECT_EQ(desk.MenuObjects.size(), 1);
}

// --- the window ------------------------------------------------------------------------------------

TEST_F(MainWindowTest, StartsWithTheDefaults) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Folianto"));
    EXPECT_EQ(form.minimumSize(), QSize(678, 571));
    EXPECT_GE(form.width(), 678);
    EXPECT_GE(form.height(), 571);
    EXPECT_EQ(form.CompresBox->currentText(), QStringLiteral("DCT-jpeg (only color images)"));
    EXPECT_EQ(form.FormatBox->currentText(), QStringLiteral("Fit"));
    EXPECT_EQ(form.CompresBox->count(), 5);
    EXPECT_EQ(form.FormatBox->count(), 13);
    EXPECT_EQ(form.FormatBox->maxVisibleItems(), 13);
    // The test program's folder is a writable build folder: a portable copy.
    EXPECT_EQ(QString::fromStdString(form.ShellPathEdit1->Path()),
              QCoreApplication::applicationDirPath() + "/");
    EXPECT_TRUE(form.ShellPathEdit1->FolderMode);
    EXPECT_EQ(form.CreatorEd->text(), QStringLiteral("Folianto v1.0 by Quorvant"));
    EXPECT_EQ(form.ProducerEd->text(), QStringLiteral("Pictora 2.1.6 by Tessalune"));
    EXPECT_TRUE(form.CreatorEd->isReadOnly() && !form.CreatorEd->isEnabled());
    EXPECT_TRUE(form.ProducerEd->isReadOnly() && !form.ProducerEd->isEnabled());
    EXPECT_EQ(form.focusWidget(), form.OutputFile);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.Tag(), 0);
    EXPECT_EQ(form.PictoraIO1().AttachedPictora(), &form.PictoraView1);
    EXPECT_EQ(form.PictoraIO1().Background(), clBtnFace);
}

TEST_F(MainWindowTest, MenusCarryTheActionsWithTheirShortcuts) {
    struct Item {
        QMenu* Menu;
        const char* Action;
        const char* Caption;
        QKeySequence Key;
        bool Enabled;
    };
    const Item items[] = {
        {form.FileMenu, "ActAddFiles", "&Open file(s)", QKeySequence(Qt::CTRL | Qt::Key_O), true},
        {form.FileMenu, "ActConvert", "&Convert to PDF", QKeySequence(Qt::Key_F5), false},
        {form.FileMenu, "ActExit", "&Quit", QKeySequence(Qt::Key_Escape), true},
        {form.EditMenu, "ActDelete", "&Delete item", QKeySequence(Qt::CTRL | Qt::Key_Delete), false},
        {form.EditMenu, "ActClear", "&Clear list", QKeySequence(Qt::SHIFT | Qt::Key_Delete), false},
        {form.EditMenu, "ActClearProperties", "C&lear properties", QKeySequence(Qt::Key_F2), true},
        {form.HelpMenu, "ActAbout", "About...", QKeySequence(Qt::Key_F1), true},
    };
    EXPECT_EQ(form.FileMenu->title(), QStringLiteral("&File"));
    EXPECT_EQ(form.EditMenu->title(), QStringLiteral("&Edit"));
    EXPECT_EQ(form.HelpMenu->title(), QStringLiteral("&Help"));
    for (const Item& it : items) {
        QAction* action = form.findChild<QAction*>(QLatin1String(it.Action));
        ASSERT_NE(action, nullptr) << it.Action;
        EXPECT_TRUE(it.Menu->actions().contains(action)) << it.Action;
        EXPECT_EQ(action->text(), QString::fromUtf8(it.Caption)) << it.Action;
        EXPECT_EQ(action->shortcut(), it.Key) << it.Action;
        EXPECT_EQ(action->isEnabled(), it.Enabled) << it.Action;
    }
}

TEST_F(MainWindowTest, EscapeClosesTheWindow) {
    Activate();
    QSignalSpy closed(&form, &TForm1::Closed);
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindowTest, F5DoesNothingWhileTheListIsEmpty) {
    Activate();
    form.OutputFile->setText(QStringLiteral("out"));
    form.ShellPathEdit1->SetPath(dir.Path());
    QTest::keyClick(&form, Qt::Key_F5);
    form.ActConvertExecute();
    EXPECT_TRUE(desk.Messages.isEmpty());
    EXPECT_EQ(desk.Beeps, 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.pdf")));
}

TEST_F(MainWindowTest, ClearPropertiesKeepsCreatorProducerAndFolder) {
    Activate();
    form.ShellPathEdit1->SetPath(dir.Path());
    form.TitleEd->setText(QStringLiteral("t"));
    form.SubjectEd->setText(QStringLiteral("s"));
    form.AuthorEd->setText(QStringLiteral("a"));
    form.Keywords->setPlainText(QStringLiteral("k1\nk2"));
    form.OutputFile->setText(QStringLiteral("name"));
    QTest::keyClick(&form, Qt::Key_F2);
    for (QLineEdit* e : {form.TitleEd, form.SubjectEd, form.AuthorEd, form.OutputFile})
        EXPECT_TRUE(e->text().isEmpty()) << e->objectName().toStdString();
    EXPECT_TRUE(form.Keywords->toPlainText().isEmpty());
    EXPECT_EQ(form.CreatorEd->text(), QStringLiteral("Folianto v1.0 by Quorvant"));
    EXPECT_EQ(form.ProducerEd->text(), QStringLiteral("Pictora 2.1.6 by Tessalune"));
    EXPECT_EQ(form.ShellPathEdit1->Path(), dir.Path());
}

TEST_F(MainWindowTest, AboutWindowDoesNotBlockTheMainWindow) {
    form.ActAbout->trigger();
    TAboutBox* about = form.AboutBox();
    ASSERT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(about->size(), QSize(298, 198));
    EXPECT_EQ(about->OKButton->text(), QStringLiteral("OK"));

    Drop({File("a.png")}); // the main window keeps working meanwhile
    EXPECT_EQ(form.FileList->count(), 1);
    form.ActAbout->trigger(); // brings the same window up again
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) shown += qobject_cast<TAboutBox*>(w) && w->isVisible();
    EXPECT_EQ(shown, 1);
    QTest::mouseClick(about->OKButton, Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
}

// --- conversion from the window --------------------------------------------------------------------

TEST_F(MainWindowTest, ConvertWritesThePdfThroughTheJob) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    MakeImage("-size 40x30 xc:red", "a.png");
    MakeImage("-size 64x48 xc:white xc:black xc:white -compress Group4", "b.tif");
    Drop({File("a.png"), File("b.tif")});
    form.ShellPathEdit1->SetPath(dir.Path()); // no trailing "/": the job adds it
    form.OutputFile->setText(QStringLiteral("out"));
    form.TitleEd->setText(QStringLiteral("Window title"));
    form.CompresBox->setCurrentIndex(1);

    bool disabledDuringRun = false;
    desk.OnProcessMessages = [&] {
        disabledDuringRun = !form.FileList->isEnabled() && !form.Panel1->isEnabled() &&
                            !form.GroupBox3->isEnabled() && !form.ActConvert->isEnabled() &&
                            !form.ActAddFiles->isEnabled() && !form.ActClearProperties->isEnabled() &&
                            form.ActExit->isEnabled() && form.ActAbout->isEnabled() && form.Tag() == 1;
    };
    Activate();
    QTest::keyClick(&form, Qt::Key_F5);

    EXPECT_TRUE(disabledDuringRun);
    EXPECT_TRUE(desk.Messages.isEmpty()) << desk.Messages.join('\n').toStdString();
    EXPECT_EQ(PageCount(dir.File("out.pdf")), 4);
    EXPECT_EQ(desk.Beeps, 1);
    EXPECT_EQ(desk.Opened, QStringList{QString::fromStdString(dir.Path()) + "/"});
    EXPECT_EQ(form.ProgressBar1->maximum(), 50);
    EXPECT_EQ(form.ProgressBar1->value(), 0);
    EXPECT_EQ(form.Tag(), 0);
    EXPECT_TRUE(form.FileList->isEnabled() && form.ActConvert->isEnabled() && form.ActClear->isEnabled());
    std::string info;
    if (RunCommand("pdfinfo " + ShellQuote(dir.File("out.pdf")), &info) == 0) {
        EXPECT_NE(info.find("Window title"), std::string::npos);
        EXPECT_NE(info.find("Folianto v1.0 by Quorvant"), std::string::npos);
    }
}

TEST_F(MainWindowTest, ValidationMessagesStopTheRun) {
    struct Case {
        const char* Name;
        std::string Folder, OutputName;
        const char* Message;
    };
    MakeImage("-size 4x4 xc:red", "a.png");
    testsupport::WriteFileBytes(dir.File("taken.pdf"), {'%'});
    Drop({File("a.png")});
    const Case cases[] = {
        {"missing folder", dir.File("nowhere"), "out", "Directory not found!"},
        {"existing output", dir.Path() + "/", "taken", "Change the name of the output file!"},
        {"empty name", dir.Path(), "", "Will enter file name!"},
    };
    for (const Case& c : cases) {
        desk.Messages.clear();
        form.ShellPathEdit1->SetPath(c.Folder);
        form.OutputFile->setText(QString::fromStdString(c.OutputName));
        form.ActConvertExecute();
        EXPECT_EQ(desk.Messages, QStringList{QString::fromUtf8(c.Message)}) << c.Name;
        EXPECT_EQ(desk.Beeps, 0) << c.Name;
        EXPECT_TRUE(form.FileList->isEnabled() && form.ActConvert->isEnabled()) << c.Name;
    }
}

TEST_F(MainWindowTest, UnreadableFilesAreReportedInOneMessageAfterTheRun) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    MakeImage("-size 20x20 xc:green", "good.png");
    testsupport::WriteFileBytes(dir.File("broken.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    MakeImage("-size 20x40 xc:blue -compress none", "cut.ppm");
    const std::vector<std::uint8_t> ppm = testsupport::ReadFileBytes(File("cut.ppm").toStdString());
    testsupport::WriteFileBytes(
        File("cut.ppm").toStdString(),
        std::vector<std::uint8_t>(ppm.begin(), ppm.end() - std::ptrdiff_t(ppm.size() / 2)));
    Drop({File("good.png"), File("gone.png"), File("broken.png"), File("cut.ppm")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("report"));
    form.ActConvertExecute();
    ASSERT_EQ(desk.Messages.size(), 1);
    EXPECT_TRUE(desk.Messages[0].contains(File("gone.png")));
    EXPECT_TRUE(desk.Messages[0].contains(File("broken.png") + ": not a PNG file"));
    EXPECT_FALSE(desk.Messages[0].contains(File("good.png")));
    // A cut file keeps its page and is listed with the skipped ones.
    EXPECT_TRUE(desk.Messages[0].contains(File("cut.ppm") + ": data ends early, rows "))
        << desk.Messages[0].toStdString();
    EXPECT_EQ(PageCount(dir.File("report.pdf")), 2);
}

TEST_F(MainWindowTest, ARunWithoutAPageReportsTheFilesAndLeavesNoDocument) {
    testsupport::WriteFileBytes(dir.File("broken.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    Drop({File("gone.png"), File("broken.png")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("nothing"));
    form.ActConvertExecute();
    ASSERT_EQ(desk.Messages.size(), 1);
    EXPECT_TRUE(desk.Messages[0].contains(File("gone.png")));
    EXPECT_TRUE(desk.Messages[0].contains(File("broken.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("nothing.pdf")));
    EXPECT_EQ(desk.Beeps, 0);
    EXPECT_TRUE(desk.Opened.isEmpty());
    EXPECT_TRUE(form.FileList->isEnabled() && form.ActConvert->isEnabled());
}

TEST_F(MainWindowTest, ClosingDuringARunWritesThePagesDoneSoFar) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    for (const char* name : {"1.png", "2.png", "3.png"}) MakeImage("-size 10x10 xc:gray", name);
    Drop({File("1.png"), File("2.png"), File("3.png")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("stopped"));
    bool filesDroppedMeanwhile = false;
    desk.OnProcessMessages = [&] {
        if (form.isVisible()) {
            Drop({File("late.png")}); // listed, but not part of this run
            filesDroppedMeanwhile = !form.ActConvert->isEnabled();
            form.close();
        }
    };
    form.ActConvertExecute();
    EXPECT_TRUE(filesDroppedMeanwhile);
    EXPECT_EQ(PageCount(dir.File("stopped.pdf")), 1);
    EXPECT_EQ(desk.Beeps, 1);
    EXPECT_EQ(desk.Opened.size(), 1);
    EXPECT_EQ(form.FileList->count(), 4);
}

} // namespace
