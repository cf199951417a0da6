#include "app/window/MainWindow.h"
#include "app/job/ConversionTables.h"
#include "app/window/AboutBox.h"
#include "app/window/DefaultFolders.h"
#include "app/window/FileListBox.h"
#include "imaging/io/PictoraIO.h"
#include "platform/net/HttpClient.h"
#include "shell/browser/ShellBrowser.h"
#include "shell/opendialog/OpenPictoraDialog.h"
#include "shell/pathedit/ShellPathEdit.h"
#include "testsupport/HttpTestServer.h"
#include "testsupport/QtTestEnvironment.h"
#include "testsupport/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

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
    // What the shell menu does for the chosen command, and the verb it returns.
    std::function<std::string(const QString& path)> MenuCommand;
    QStringList Reports;
    bool ReportOffersOpen = false;
    bool ReportOpens = false;
    QStringList OpenedFiles;
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
        h.OpenFile = [this](const QString& file) { OpenedFiles << file; };
        h.ShowRunReport = [this](QWidget*, const QString& text, bool offerOpen) {
            Reports << text;
            ReportOffersOpen = offerOpen;
            return ReportOpens;
        };
        h.ProcessMessages = [this] {
            QCoreApplication::processEvents();
            if (OnProcessMessages) OnProcessMessages();
        };
        h.ShowContextMenu = [this](TShellBrowser& b, const QPoint&) {
            const QString path = QString::fromStdString(b.ObjectPath());
            MenuObjects << path;
            return MenuCommand ? MenuCommand(path) : std::string();
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
    // A desktop drop of these paths onto a control of the window; on the list, below its entries
    // unless a point is given.
    void Drop(const QStringList& paths, QWidget* target = nullptr, std::optional<QPoint> at = {}) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QWidget* to = target ? target : form.FileList->viewport();
        const QPoint pos = at ? *at : target ? QPoint(5, 5) : BelowTheEntries();
        // As on the desktop: the drop reaches only a target that accepted the drag's entry.
        QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &enter);
        QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &drop);
    }
    QPoint BelowTheEntries() const { return QPoint(5, form.FileList->viewport()->height() - 3); }
    // Drag events as a drag of the selected entries sends them (the data only this list recognises).
    bool DragEntriesOver(const QPoint& pos, QEvent::Type type = QEvent::DragMove) {
        std::unique_ptr<QMimeData> data(form.FileList->CreateEntryDragData());
        QDragMoveEvent move(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier, type);
        QApplication::sendEvent(form.FileList->viewport(), &move);
        return move.isAccepted();
    }
    void DropEntriesAt(const QPoint& pos) {
        std::unique_ptr<QMimeData> data(form.FileList->CreateEntryDragData());
        DragEntriesOver(pos, QEvent::DragEnter);
        DragEntriesOver(pos);
        QDropEvent drop(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.FileList->viewport(), &drop);
    }
    void Select(int row) { form.FileList->setCurrentRow(row); }
    QPoint RowCenter(int row) const {
        return form.FileList->visualItemRect(form.FileList->item(row)).center();
    }
    ActionStates States() const {
        return {form.ActConvert->isEnabled(), form.ActClear->isEnabled(), form.ActDelete->isEnabled()};
    }
    // The run goes on a thread of its own: wait until its end-of-run report is done.
    void FinishRun() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Converting(); }, 120000));
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

TEST_F(MainWindowTest, DropWithoutLocalFilesOrWebAddressesChangesNothing) {
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("ftp://example.com/a.png")), QUrl(QStringLiteral("data:,x"))});
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
    // Every file can be chosen too, after the image types.
    EXPECT_TRUE(QString::fromStdString(desk.DialogFilter)
                    .endsWith("|JPEG2000 Code Stream (J2K;JPC;J2C)|"
                              "*.j2k;*.jpc;*.j2c|All files (*)|*"));
}

TEST_F(MainWindowTest, DialogStartsInTheFolderLastChosenFromThisSession) {
    std::filesystem::create_directories(dir.File("sub"));
    const struct {
        bool Accepts;
        QStringList Files;
        QString StartsIn;
    } runs[] = {
        {true, {File("sub/one.png"), File("two.png")}, DefaultDialogFolder()},
        {false, {}, QString::fromStdString(dir.File("sub"))}, // a cancel changes nothing
        {true, {File("three.png")}, QString::fromStdString(dir.File("sub"))},
        {true, {}, QString::fromStdString(dir.Path())},
    };
    for (const auto& run : runs) {
        desk.DialogAccepts = run.Accepts;
        desk.DialogFiles = run.Files;
        form.ActAddFiles->trigger();
        EXPECT_EQ(QDir(QString::fromStdString(desk.DialogInitialDir)), QDir(run.StartsIn)) << desk.DialogRuns;
    }
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 20000));
    EXPECT_FALSE(form.Image1->toolTip().isEmpty());
    EXPECT_TRUE(form.Image1->isVisibleTo(form.GroupBox4));
    EXPECT_FALSE(form.Image1->pixmap().isNull());

    Select(1);
    EXPECT_TRUE(form.Image1->pixmap().isNull());
    EXPECT_TRUE(form.Image1->toolTip().isEmpty()); // not the hint of the file shown before
    EXPECT_EQ(form.ListBox1->currentRow(), 1);
}

TEST_F(MainWindowTest, RightClickOpensTheMenuOfTheEntryUnderThePointer) {
    MakeImage("-size 8x8 xc:red", "a.png");
    MakeImage("-size 8x8 xc:blue", "b.png");
    MakeImage("-size 8x8 xc:lime", "c.png");
    Drop({File("a.png"), File("b.png"), File("c.png"), File("missing.png")});
    const auto rightClick = [&](int row) {
        QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(row));
    };

    Select(0);
    rightClick(2); // the entry clicked, never the one selected before
    EXPECT_EQ(desk.MenuObjects, QStringList{File("c.png")});
    EXPECT_EQ(form.FileList->SelectedRows(), std::vector<int>{2});
    EXPECT_EQ(form.ListBox1->currentRow(), 2);

    // Inside a selection of several, the selection stays and the clicked entry becomes current.
    form.FileList->SelectRows({0, 1}, 0);
    rightClick(1);
    EXPECT_EQ(desk.MenuObjects.last(), File("b.png"));
    EXPECT_EQ(form.FileList->SelectedRows(), (std::vector<int>{0, 1}));
    EXPECT_EQ(form.FileList->currentRow(), 1);

    rightClick(3); // its file does not exist: no menu
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, BelowTheEntries());
    // Pressed on one entry, released on another: no menu for either.
    QTest::mousePress(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(0));
    QTest::mouseRelease(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(1));
    EXPECT_EQ(desk.MenuObjects.size(), 2);
}

TEST_F(MainWindowTest, AFileMovedToTheTrashLeavesTheList) {
    MakeImage("-size 8x8 xc:red", "a.png");
    MakeImage("-size 8x8 xc:blue", "b.png");
    Drop({File("a.png"), File("b.png"), File("a.png")});
    struct Case {
        const char* Name;
        bool Removes;
        QStringList Left;
    };
    const Case cases[] = {
        {"delete refused, file stays", false, {"1.  a.png", "2.  b.png", "3.  a.png"}},
        {"moved to the trash", true, {"1.  b.png"}}, // every entry of that file
    };
    for (const Case& c : cases) {
        desk.MenuCommand = [&](const QString& path) {
            if (c.Removes) std::filesystem::remove(path.toStdString());
            return std::string(shellverbs::Delete);
        };
        Select(0);
        QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(2));
        EXPECT_EQ(Items(form.FileList), c.Left) << c.Name;
        EXPECT_EQ(form.ListBox1->count(), c.Left.size()) << c.Name;
    }
    EXPECT_EQ(form.FileList->ItemIndex(), -1);
    EXPECT_FALSE(form.ActDelete->isEnabled());
    EXPECT_TRUE(form.ActConvert->isEnabled());
}

TEST_F(MainWindowTest, DraggedEntriesLandAtTheInsertionLine) {
    struct Case {
        const char* Name;
        std::vector<int> Selected;
        int Row; // entry under the pointer; -1: below the last entry
        bool UpperHalf;
        int Indicator; // the gap the line marks; NoGap: none
        QStringList Order;
        std::vector<int> SelectedAfter;
    };
    const Case cases[] = {
        {"first onto lower half of third", {0}, 2, false, 3, {"b", "c", "a", "d"}, {2}},
        {"first onto upper half of third", {0}, 2, true, 2, {"b", "a", "c", "d"}, {1}},
        {"last to the top", {3}, 0, true, 0, {"d", "a", "b", "c"}, {0}},
        {"onto itself", {1}, 1, true, 1, {"a", "b", "c", "d"}, {1}},
        {"two apart, together after the last", {0, 2}, 3, false, 4, {"b", "d", "a", "c"}, {2, 3}},
        {"below the last entry: nothing moves", {1}, -1, false, NoGap, {"a", "b", "c", "d"}, {1}},
    };
    for (const Case& c : cases) {
        form.ListBox1->clear();
        form.FileList->clear();
        Drop({File("a.png"), File("b.png"), File("c.png"), File("d.png")});
        form.FileList->SelectRows(c.Selected, c.Selected.front());
        QPoint at = BelowTheEntries();
        if (c.Row >= 0) {
            const QRect r = form.FileList->visualItemRect(form.FileList->item(c.Row));
            at = QPoint(r.center().x(), c.UpperHalf ? r.top() + 1 : r.bottom() - 1);
        }
        EXPECT_TRUE(DragEntriesOver(at, QEvent::DragEnter)) << c.Name;
        EXPECT_TRUE(DragEntriesOver(at)) << c.Name;
        EXPECT_EQ(form.FileList->DropIndicatorGap(), c.Indicator) << c.Name;
        DropEntriesAt(at);
        EXPECT_EQ(form.FileList->DropIndicatorGap(), NoGap) << c.Name; // the line goes with the drop
        QStringList order;
        for (int i = 0; i < form.ListBox1->count(); ++i)
            order << QFileInfo(form.ListBox1->item(i)->text()).baseName();
        EXPECT_EQ(order, c.Order) << c.Name;
        EXPECT_EQ(form.FileList->SelectedRows(), c.SelectedAfter) << c.Name;
        EXPECT_EQ(form.FileList->item(0)->text().left(4), QStringLiteral("1.  ")) << c.Name;
    }
}

TEST_F(MainWindowTest, OnlyTheListsOwnEntryDragsAreTaken) {
    Drop({File("a.png"), File("b.png")});
    Select(0);
    QMimeData foreign; // an entry drag of another list (or another copy of the program)
    foreign.setData("application/x-folianto-list-entry", "1-2");
    QDragEnterEvent enter(RowCenter(1), Qt::MoveAction, &foreign, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.FileList->viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_EQ(form.FileList->DropIndicatorGap(), NoGap);
    EXPECT_TRUE(DragEntriesOver(RowCenter(1), QEvent::DragEnter)); // its own marker is taken
}

TEST_F(MainWindowTest, DesktopFilesLandAtThePointer) {
    Drop({File("a.png"), File("b.png")});
    Select(1);
    const QRect second = form.FileList->visualItemRect(form.FileList->item(1));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(File("new.png"))});
    QDragEnterEvent over(QPoint(5, second.top() + 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.FileList->viewport(), &over);
    EXPECT_TRUE(over.isAccepted());
    EXPECT_EQ(form.FileList->DropIndicatorGap(), 1);
    QDragMoveEvent below(BelowTheEntries(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.FileList->viewport(), &below);
    EXPECT_EQ(form.FileList->DropIndicatorGap(), 2); // files dropped there join the end

    Drop({File("new.png"), File("notes.txt"), File("other.gif")}, nullptr, QPoint(5, second.top() + 1));
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  a.png", "2.  new.png", "3.  other.gif", "4.  b.png"}));
    EXPECT_EQ(form.FileList->ItemIndex(), 3); // the selected entry moved down with its file
    EXPECT_EQ(form.ListBox1->currentRow(), 3);
    Drop({File("last.png")}); // below the entries: at the end
    EXPECT_EQ(form.FileList->item(4)->text(), QStringLiteral("5.  last.png"));
}

TEST_F(MainWindowTest, DroppedFoldersAndOtherFilesAreNamedInTheStatusBar) {
    std::filesystem::create_directories(dir.File("Scans"));
    std::filesystem::create_directories(dir.File("album.png")); // a folder, whatever its name says
    struct Case {
        QStringList Paths;
        QString Message;
    };
    const Case cases[] = {
        {{File("notes.txt")}, "Not added: notes.txt is not an image file of a supported type."},
        {{File("Scans") + "/"}, "Not added: Scans is a folder; drop the image files in it instead."},
        {{File("a.png"), File("album.png"), File("archive")},
         "Not added: album.png (a folder), archive (not a supported image type)."},
        {{File("1.txt"), File("2.txt"), File("3.txt"), File("4.txt"), File("5.txt")},
         "Not added: 1.txt (not a supported image type), 2.txt (not a supported image type), 3.txt (not a "
         "supported image type) and 2 more."},
    };
    for (const Case& c : cases) {
        form.statusBar()->clearMessage();
        Drop(c.Paths);
        EXPECT_EQ(form.statusBar()->currentMessage(), c.Message);
    }
    EXPECT_EQ(Items(form.FileList), QStringList{"1.  a.png"});
}

TEST_F(MainWindowTest, EntriesWithTheSameNameShowTheirFullPath) {
    Drop(
        {QStringLiteral("/one/scan.png"), QStringLiteral("/two/scan.png"), QStringLiteral("/one/cover.png")});
    EXPECT_EQ(form.FileList->item(0)->toolTip(), QStringLiteral("/one/scan.png"));
    EXPECT_EQ(form.FileList->item(1)->toolTip(), QStringLiteral("/two/scan.png"));
    EXPECT_TRUE(form.FileList->item(2)->toolTip().isEmpty());
    Select(1);
    form.ActDelete->trigger(); // the name no longer repeats
    EXPECT_TRUE(form.FileList->item(0)->toolTip().isEmpty());
}

TEST_F(MainWindowTest, DragNearAnEdgeScrollsTheList) {
    QStringList many;
    for (int i = 0; i < 60; ++i) many << File("page" + std::to_string(i) + ".png");
    Drop(many);
    Select(0);
    QScrollBar* bar = form.FileList->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    const int bottom = form.FileList->viewport()->height() - 2;
    DragEntriesOver(QPoint(5, bottom), QEvent::DragEnter);
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() >= 3, 3000);
    // The line follows the entries passing under the pointer.
    EXPECT_EQ(form.FileList->DropIndicatorGap(), form.FileList->DropGapAt(QPoint(5, bottom)));
    DragEntriesOver(QPoint(5, 1));
    const int scrolled = bar->value();
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() < scrolled, 3000);
    DragEntriesOver(QPoint(5, form.FileList->viewport()->height() / 2)); // away from the edges: it stops
    const int resting = bar->value();
    QTest::qWait(300);
    EXPECT_EQ(bar->value(), resting);
    QDragLeaveEvent leave;
    QApplication::sendEvent(form.FileList->viewport(), &leave);
    EXPECT_EQ(form.FileList->DropIndicatorGap(), NoGap);
}

TEST_F(MainWindowTest, KeyboardDeletesAndMovesTheSelectedEntries) {
    Drop({File("a.png"), File("b.png"), File("c.png"), File("d.png"), File("e.png")});
    form.FileList->setFocus();
    const auto order = [&] {
        QString text;
        for (int i = 0; i < form.ListBox1->count(); ++i)
            text += QFileInfo(form.ListBox1->item(i)->text()).baseName();
        return text;
    };
    struct Step {
        std::vector<int> Select; // empty: keep
        Qt::Key Key;
        Qt::KeyboardModifiers Mods;
        QString Order;
        std::vector<int> Selected;
    };
    const Step steps[] = {
        {{1, 3}, Qt::Key_Up, Qt::ControlModifier, "badce", {0, 2}},
        {{}, Qt::Key_Up, Qt::ControlModifier, "bdace", {0, 1}}, // the top one stays, the other joins it
        {{}, Qt::Key_Down, Qt::ControlModifier, "abdce", {1, 2}},
        {{4}, Qt::Key_Down, Qt::ControlModifier, "abdce", {4}}, // already last
        {{0, 4}, Qt::Key_Delete, Qt::NoModifier, "bdc", {}},
    };
    for (const Step& s : steps) {
        if (!s.Select.empty()) {
            form.FileList->SelectRows(s.Select, s.Select.front());
            form.FileListClick();
        }
        QTest::keyClick(form.FileList, s.Key, s.Mods);
        EXPECT_EQ(order(), s.Order);
        EXPECT_EQ(form.FileList->SelectedRows(), s.Selected) << s.Order.toStdString();
    }
    EXPECT_EQ(Items(form.FileList), (QStringList{"1.  b.png", "2.  d.png", "3.  c.png"}));
    // Ctrl and Shift extend the selection, as in any list.
    QTest::mouseClick(form.FileList->viewport(), Qt::LeftButton, {}, RowCenter(0));
    QTest::mouseClick(form.FileList->viewport(), Qt::LeftButton, Qt::ShiftModifier, RowCenter(2));
    EXPECT_EQ(form.FileList->SelectedRows(), (std::vector<int>{0, 1, 2}));
}

TEST_F(MainWindowTest, MenuKeysAndTheInfoTipWorkFromTheKeyboard) {
    MakeImage("-size 30x20 xc:red", "a.png");
    MakeImage("-size 30x20 xc:blue", "b.png");
    Drop({File("a.png"), File("b.png")});
    Activate();
    form.FileList->setFocus();
    Select(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 20000));
    QTest::keyClick(form.FileList, Qt::Key_Menu);
    QTest::keyClick(form.FileList, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(desk.MenuObjects, (QStringList{File("b.png"), File("b.png")}));

    QTest::keyClick(form.FileList, Qt::Key_F1, Qt::ControlModifier);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), form.Image1->toolTip());
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("30 x 20"))) << QToolTip::text().toStdString();
    EXPECT_EQ(form.Image1->accessibleDescription(), form.Image1->toolTip());
    QToolTip::hideText();
    EXPECT_FALSE(form.AboutBox()->isVisible()); // Ctrl+F1 is not F1
}

// --- the window ------------------------------------------------------------------------------------

TEST_F(MainWindowTest, StartsWithTheDefaults) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Folianto"));
    EXPECT_EQ(form.minimumSize(), QSize(678, 571));
    EXPECT_GE(form.width(), 678);
    EXPECT_GE(form.height(), 571);
    EXPECT_EQ(form.CompresBox->currentText(), QStringLiteral("DCT-jpeg (only color images)"));
    EXPECT_EQ(form.FormatBox->currentText(), QStringLiteral("Fit"));
    // The five classic methods keep their places; Flate and the automatic choice follow them.
    ASSERT_EQ(form.CompresBox->count(), 7);
    EXPECT_EQ(form.CompresBox->itemText(5), QStringLiteral("Flate (lossless)"));
    EXPECT_EQ(form.CompresBox->itemText(6), QStringLiteral("Automatic (keep original data)"));
    EXPECT_FALSE(form.ActKeepTransparency->isChecked());
    EXPECT_FALSE(form.Inputs().KeepAlpha);
    EXPECT_EQ(form.FormatBox->count(), 14);
    EXPECT_EQ(form.FormatBox->itemText(13), QStringLiteral("Image size"));
    EXPECT_EQ(form.FormatBox->maxVisibleItems(), 14);
    EXPECT_TRUE(form.Inputs().AutoOrient); // photos come out upright unless asked otherwise
    EXPECT_FALSE(form.ActKeepAsStored->isChecked());
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
        {form.OptionsMenu, "ActKeepAsStored", "&Keep images as stored", QKeySequence(), true},
        {form.OptionsMenu, "ActKeepTransparency", "Keep &transparency", QKeySequence(), true},
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

TEST_F(MainWindowTest, KeepTransparencyIsAChoiceTheRunTakes) {
    ASSERT_TRUE(form.ActKeepTransparency->isCheckable());
    form.ActKeepTransparency->trigger();
    EXPECT_TRUE(form.Inputs().KeepAlpha);
    form.CompresBox->setCurrentIndex(6);
    EXPECT_EQ(form.Inputs().CompressionIndex, 6);
    form.ActKeepTransparency->trigger();
    EXPECT_FALSE(form.Inputs().KeepAlpha);
}

TEST_F(MainWindowTest, KeepImagesAsStoredIsACheckableOption) {
    EXPECT_EQ(form.OptionsMenu->title(), QStringLiteral("&Options"));
    EXPECT_TRUE(form.OptionsMenu->actions().contains(form.ActKeepAsStored));
    EXPECT_EQ(form.ActKeepAsStored->text(), QStringLiteral("&Keep images as stored"));
    ASSERT_TRUE(form.ActKeepAsStored->isCheckable());
    form.ActKeepAsStored->trigger();
    EXPECT_FALSE(form.Inputs().AutoOrient);
    form.ActKeepAsStored->trigger();
    EXPECT_TRUE(form.Inputs().AutoOrient);
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
    FinishRun();
    form.ActConvertExecute();
    FinishRun();
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
    QStringList status;
    desk.OnProcessMessages = [&] {
        disabledDuringRun = !form.FileList->isEnabled() && !form.OutputFile->isEnabled() &&
                            !form.ShellPathEdit1->Edit()->isEnabled() && !form.GroupBox3->isEnabled() &&
                            !form.ActConvert->isEnabled() && !form.ActAddFiles->isEnabled() &&
                            !form.ActClearProperties->isEnabled() && form.ActExit->isEnabled() &&
                            form.ActAbout->isEnabled() && form.Tag() == 1;
        // The progress stays live: drawn enabled, with the file and page in the status bar.
        disabledDuringRun =
            disabledDuringRun && form.ProgressBar1->isEnabled() && form.StopButton->isEnabled();
        status << form.statusBar()->currentMessage();
    };
    Activate();
    QTest::keyClick(&form, Qt::Key_F5);
    FinishRun();

    EXPECT_TRUE(disabledDuringRun);
    EXPECT_EQ(status,
              (QStringList{"Converting a.png (file 1 of 2)", "Converting b.tif (file 2 of 2): page 1 of 3",
                           "Converting b.tif (file 2 of 2): page 2 of 3",
                           "Converting b.tif (file 2 of 2): page 3 of 3",
                           "Converting b.tif (file 2 of 2): page 3 of 3"}));
    EXPECT_TRUE(desk.Messages.isEmpty()) << desk.Messages.join('\n').toStdString();
    EXPECT_EQ(PageCount(dir.File("out.pdf")), 4);
    ASSERT_EQ(desk.Reports.size(), 1);
    EXPECT_TRUE(desk.Reports[0].contains(File("out.pdf")));
    EXPECT_TRUE(desk.Reports[0].contains("4 pages"));
    EXPECT_TRUE(desk.ReportOffersOpen);
    EXPECT_TRUE(desk.OpenedFiles.isEmpty()); // the user closed the report
    EXPECT_EQ(form.statusBar()->currentMessage(), QStringLiteral("Finished: 4 pages written to out.pdf"));
    EXPECT_FALSE(form.StopButton->isEnabled());
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
        FinishRun();
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
    FinishRun();
    EXPECT_TRUE(desk.Messages.isEmpty());
    ASSERT_EQ(desk.Reports.size(), 1); // one report at the end, naming what gave no page
    EXPECT_TRUE(desk.Reports[0].contains(File("gone.png")));
    EXPECT_TRUE(desk.Reports[0].contains(File("broken.png")));
    EXPECT_FALSE(desk.Reports[0].contains(File("good.png") + ":"));
    // A cut file keeps its page and is listed with the skipped ones.
    EXPECT_TRUE(desk.Reports[0].contains(File("cut.ppm") + ": data ends early, rows "))
        << desk.Reports[0].toStdString();
    EXPECT_EQ(PageCount(dir.File("report.pdf")), 2);
}

TEST_F(MainWindowTest, ARunWithoutAPageReportsTheFilesAndLeavesNoDocument) {
    testsupport::WriteFileBytes(dir.File("broken.png"), {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'});
    Drop({File("gone.png"), File("broken.png")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("nothing"));
    form.ActConvertExecute();
    FinishRun();
    EXPECT_TRUE(desk.Messages.isEmpty());
    ASSERT_EQ(desk.Reports.size(), 1); // the end-of-run report names the files, with nothing to open
    EXPECT_TRUE(desk.Reports[0].startsWith("No page was converted; no PDF file was written."));
    EXPECT_TRUE(desk.Reports[0].contains(File("gone.png")));
    EXPECT_TRUE(desk.Reports[0].contains(File("broken.png")));
    EXPECT_FALSE(desk.ReportOffersOpen);
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
    FinishRun();
    EXPECT_TRUE(filesDroppedMeanwhile);
    EXPECT_EQ(PageCount(dir.File("stopped.pdf")), 1);
    EXPECT_EQ(desk.Beeps, 1);
    EXPECT_EQ(desk.Opened.size(), 1);
    EXPECT_EQ(form.FileList->count(), 4);
    EXPECT_TRUE(desk.Reports.isEmpty()); // the program is ending: no report
}

TEST_F(MainWindowTest, StopEndsTheRunButKeepsTheWindow) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    MakeImage("-size 10x10 xc:gray", "1.png");
    MakeImage("-size 64x48 xc:white xc:black xc:white xc:black -compress Group4", "four.tif");
    MakeImage("-size 10x10 xc:gray", "3.png");
    Drop({File("1.png"), File("four.tif"), File("3.png")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("partial"));
    EXPECT_FALSE(form.StopButton->isEnabled());
    int calls = 0;
    bool liveDuringRun = true;
    int highest = 0;
    desk.OnProcessMessages = [&] {
        liveDuringRun = liveDuringRun && form.ProgressBar1->isEnabled();
        highest = std::max(highest, form.ProgressBar1->value());
        // The second page of the TIFF is done: the user presses Stop.
        if (++calls == 3) {
            EXPECT_TRUE(form.StopButton->isEnabled());
            QTest::mouseClick(form.StopButton, Qt::LeftButton);
            EXPECT_EQ(form.Tag(), 0);
            EXPECT_FALSE(form.StopButton->isEnabled());
        }
    };
    desk.ReportOpens = true;
    form.ActConvertExecute();
    FinishRun();
    EXPECT_TRUE(liveDuringRun);
    EXPECT_GT(highest, 0);
    EXPECT_EQ(PageCount(dir.File("partial.pdf")), 3); // 1.png and two pages of four.tif
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.Tag(), 0);
    EXPECT_EQ(desk.Beeps, 1);
    EXPECT_EQ(desk.Opened.size(), 1);
    ASSERT_EQ(desk.Reports.size(), 1);
    EXPECT_TRUE(
        desk.Reports[0].startsWith("The conversion was stopped. The 3 pages done so far were written"));
    EXPECT_EQ(desk.OpenedFiles, QStringList{File("partial.pdf")}); // the report's "Open the PDF"
    EXPECT_EQ(form.statusBar()->currentMessage(), QStringLiteral("Stopped: 3 pages written to partial.pdf"));
    EXPECT_FALSE(form.StopButton->isEnabled());
    EXPECT_TRUE(form.FileList->isEnabled() && form.OutputFile->isEnabled() && form.ActConvert->isEnabled());
    EXPECT_EQ(form.ProgressBar1->value(), 0);

    // The next run starts afresh.
    form.OutputFile->setText(QStringLiteral("whole"));
    desk.OnProcessMessages = nullptr;
    form.ActConvertExecute();
    FinishRun();
    EXPECT_EQ(PageCount(dir.File("whole.pdf")), 6);
}

// A timer due every 100 ms stands for the user: while pages are made it must keep firing. The slack
// allows for a loaded machine; a run on the GUI thread would stall it for the whole first page (noise
// that Flate cannot shrink, 81 MB of pixels: two seconds of work and more).
TEST_F(MainWindowTest, TheWindowAnswersEventsThroughoutARun) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    // One page slow to encode (noise does not compress), then many quick ones.
    MakeImage("-size 6000x4500 xc:gray +noise Random -quality 95", "noise.jpg");
    MakeImage("-size 300x200 plasma:fractal -seed 3 -duplicate 29 -compress lzw", "frames.tif");
    Drop({File("noise.jpg"), File("frames.tif")});
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("busy"));
    form.CompresBox->setCurrentIndex(CompressionFlateIndex);

    QElapsedTimer clock;
    std::vector<qint64> ticks;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks.push_back(clock.elapsed()); });
    clock.start();
    timer.start();
    form.ActConvertExecute();
    const qint64 started = clock.elapsed();
    EXPECT_TRUE(form.Converting());
    FinishRun();
    const qint64 finished = clock.elapsed();
    timer.stop();

    EXPECT_LT(started, 1000) << "starting the run held the window";
    EXPECT_EQ(PageCount(dir.File("busy.pdf")), 31);
    ASSERT_EQ(desk.Reports.size(), 1);
    qint64 previous = 0, longest = 0;
    for (const qint64 t : ticks) {
        longest = std::max(longest, t - previous);
        previous = t;
    }
    longest = std::max(longest, finished - previous);
    EXPECT_LE(longest, 1000) << ticks.size() << " ticks in " << finished << " ms";
    EXPECT_GE(qint64(ticks.size()), finished / 100 / 3) << "the timer fell far behind";
}

// The user's timer keeps firing while a big image's thumbnail is made, and a preview that comes after
// the selection has moved on is dropped.
TEST_F(MainWindowTest, ABigImagesThumbnailIsMadeWhileTheWindowAnswers) {
    MakeImage("-size 8000x8000 gradient:orange-navy", "big.png");
    MakeImage("-size 40x60 xc:green", "small.png");
    Drop({File("big.png"), File("small.png")});
    QElapsedTimer clock;
    std::vector<qint64> ticks;
    QTimer timer;
    timer.setInterval(100);
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks.push_back(clock.elapsed()); });
    clock.start();
    timer.start();
    Select(0);
    const qint64 selected = clock.elapsed();
    EXPECT_TRUE(form.FilePreviewPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 120000));
    const qint64 shown = clock.elapsed();
    timer.stop();
    EXPECT_LT(selected, 500) << "the selection waited for the picture";
    EXPECT_FALSE(form.Image1->pixmap().isNull());
    EXPECT_TRUE(form.Image1->toolTip().contains(QStringLiteral("8000 x 8000")))
        << form.Image1->toolTip().toStdString();
    qint64 previous = 0, longest = 0;
    for (const qint64 t : ticks) {
        longest = std::max(longest, t - previous);
        previous = t;
    }
    longest = std::max(longest, shown - previous);
    EXPECT_LE(longest, 1000) << ticks.size() << " ticks in " << shown << " ms";

    // Back to the big one (its thumbnail now cached on disk, but made again off the thread) and on to
    // the small one at once: only the small one's picture and tip may be shown.
    Select(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 20000));
    const QString smallTip = form.Image1->toolTip();
    Select(0);
    Select(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 20000));
    QTest::qWait(300); // time for the big one's late result, which must be dropped
    EXPECT_EQ(form.Image1->toolTip(), smallTip);
    EXPECT_TRUE(smallTip.contains(QStringLiteral("40 x 60"))) << smallTip.toStdString();
    EXPECT_EQ(form.Image1->pixmap().size(), QSize(40, 60));
}

TEST_F(MainWindowTest, ControlsCarryAccessibleNames) {
    EXPECT_EQ(form.FileList->accessibleName(), QStringLiteral("Files to convert"));
    EXPECT_EQ(form.ShellPathEdit1->Edit()->accessibleName(), QStringLiteral("Output folder"));
    EXPECT_EQ(form.ShellPathEdit1->Button()->accessibleName(), QStringLiteral("Choose output folder"));
    EXPECT_EQ(form.StopButton->text(), QStringLiteral("&Stop"));
}

// Qt's file dialogs save their state in the user's QtProject.conf, shared by every Qt program; a run of
// the window must leave the configuration folder as it found it.
TEST_F(MainWindowTest, NothingUnderTheConfigurationFolderChanges) {
    // The test program's own home and configuration folder (see QtEnvironment).
    const std::filesystem::path config = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
    const std::filesystem::path home = qEnvironmentVariable("HOME").toStdString();
    ASSERT_FALSE(config.empty());
    ASSERT_NE(home, std::filesystem::path("/"));
    std::filesystem::create_directories(config);
    const std::string shared = (config / "QtProject.conf").string();
    testsupport::WriteFileBytes(shared, {'[', 'F', 'i', 'l', 'e', 'D', 'i', 'a', 'l', 'o', 'g', ']', '\n'});
    const auto snapshot = [&] {
        std::map<std::string, std::string> files; // path -> content
        for (const std::filesystem::path& folder : {config, home / ".config"}) {
            if (!std::filesystem::exists(folder)) continue;
            for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
                if (!e.is_regular_file()) continue;
                const std::vector<std::uint8_t> bytes = testsupport::ReadFileBytes(e.path().string());
                files[e.path().string()] = std::string(bytes.begin(), bytes.end());
            }
        }
        return files;
    };
    const auto before = snapshot();

    std::filesystem::create_directories(dir.File("chosen"));
    form.ShellPathEdit1->SetPath(dir.Path());
    form.ShellPathEdit1->DialogExec = [&](QFileDialog& d) {
        d.setDirectory(QString::fromStdString(dir.File("chosen")));
        static_cast<QDialog&>(d).accept();
        return d.result();
    };
    form.ShellPathEdit1->Button()->click();
    EXPECT_EQ(form.ShellPathEdit1->Path(), dir.File("chosen"));
    form.OpenPictoraDialog1->SetInitialDir(dir.Path());
    form.OpenPictoraDialog1->Open();
    ASSERT_NE(form.OpenPictoraDialog1->DialogWindow(), nullptr);
    form.OpenPictoraDialog1->DialogWindow()->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the dialog saves as it goes

    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(QSettings(QSettings::UserScope, QStringLiteral("QtProject"))
                     .fileName()
                     .startsWith(QString::fromStdString(config.string())));
}

// --- web addresses in the list ---------------------------------------------------------------------

class WebEntriesTest : public MainWindowTest {
protected:
    void SetUp() override {
        if (!HttpAvailable()) GTEST_SKIP() << "this build has no HTTP client";
        MakeImage("-size 30x20 xc:blue", "web.png");
        server = std::make_unique<testsupport::THttpTestServer>(dir.Path());
        ASSERT_TRUE(server->Running()) << server->Error();
    }
    QString Web(const std::string& path) const { return QString::fromStdString(server->Url(path)); }
    // What a browser drops: the addresses with their titles as text/x-moz-url (UTF-16), and the same
    // addresses as text/uri-list.
    void BrowserDrop(const QStringList& addresses, QWidget* to, const QPoint& at) {
        QMimeData data;
        QString moz;
        QList<QUrl> urls;
        for (const QString& a : addresses) {
            moz += a + QStringLiteral("\nA picture\n");
            urls << QUrl(a);
        }
        data.setData(QStringLiteral("text/x-moz-url"),
                     QByteArray(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2));
        data.setUrls(urls);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(to, &drop);
    }
    bool PreviewShown() const { return !form.Image1->pixmap().isNull(); }

    std::unique_ptr<testsupport::THttpTestServer> server;
};

TEST_F(WebEntriesTest, BrowserDropAddsAddressesAtThePointerNamedByTheirLastPart) {
    Drop({File("a.png"), File("b.png")});
    const QString picture = Web("/files/web.png"), scan = Web("/pics/My%20Scan.tif?v=2");
    // The upper half of the second entry: the addresses go before it.
    BrowserDrop({picture, scan, picture}, form.FileList->viewport(), RowCenter(1) - QPoint(0, 3));
    EXPECT_EQ(Items(form.FileList),
              (QStringList{"1.  a.png", "2.  web.png", "3.  My Scan.tif", "4.  b.png"}));
    EXPECT_EQ(Items(form.ListBox1), (QStringList{File("a.png"), picture, scan, File("b.png")}));
    EXPECT_EQ(form.FileList->item(1)->toolTip(), picture); // the whole address on hover
    EXPECT_EQ(form.FileList->item(2)->toolTip(), scan);
    EXPECT_TRUE(form.FileList->item(0)->toolTip().isEmpty());
    EXPECT_TRUE(form.statusBar()->currentMessage().isEmpty());
    EXPECT_EQ(States(), (ActionStates{true, true, false}));

    // Dropped on another control, with the browser's own type only: appended to the list.
    QMimeData mozOnly;
    const QString moz = Web("/files/late.gif") + QStringLiteral("\ntitle");
    mozOnly.setData(QStringLiteral("text/x-moz-url"),
                    QByteArray(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mozOnly, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.OutputFile, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mozOnly, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.OutputFile, &drop);
    EXPECT_EQ(form.FileList->count(), 5);
    EXPECT_EQ(form.FileList->item(4)->text(), QStringLiteral("5.  late.gif"));
    EXPECT_TRUE(form.OutputFile->text().isEmpty());
}

TEST_F(WebEntriesTest, AMixedListGivesAPagePerEntry) {
    if (!testsupport::ToolAvailable("qpdf")) GTEST_SKIP() << "qpdf missing";
    MakeImage("-size 40x30 xc:red", "local.png");
    Drop({File("local.png")});
    BrowserDrop({Web("/files/web.png")}, form.FileList->viewport(), BelowTheEntries());
    ASSERT_EQ(form.ListBox1->count(), 2);
    form.ShellPathEdit1->SetPath(dir.Path());
    form.OutputFile->setText(QStringLiteral("mixed"));
    QStringList status;
    desk.OnProcessMessages = [&] { status << form.statusBar()->currentMessage(); };
    form.ActConvertExecute();
    FinishRun();
    EXPECT_TRUE(desk.Messages.isEmpty()) << desk.Messages.join('\n').toStdString();
    ASSERT_EQ(desk.Reports.size(), 1);
    EXPECT_TRUE(desk.Reports[0].contains("2 pages")) << desk.Reports[0].toStdString();
    EXPECT_FALSE(desk.Reports[0].contains("did not become")) << desk.Reports[0].toStdString();
    EXPECT_EQ(PageCount(dir.File("mixed.pdf")), 2);
    EXPECT_TRUE(status.contains("Converting web.png (file 2 of 2)")) << status.join('|').toStdString();
}

TEST_F(WebEntriesTest, AnAddressShowsItsPictureOnceDownloadedAndNeverAShellMenuOrABox) {
    BrowserDrop({Web("/files/web.png")}, form.FileList->viewport(), BelowTheEntries());
    Select(0);
    EXPECT_FALSE(PreviewShown()); // the download has only begun
    EXPECT_EQ(form.Image1->toolTip(), Web("/files/web.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return PreviewShown(); }, 10000));
    const QSize shown = form.Image1->pixmap().size();
    EXPECT_EQ(shown.width() * 2, shown.height() * 3) << shown.width() << "x" << shown.height(); // 30 x 20
    EXPECT_TRUE(form.Image1->isVisibleTo(form.GroupBox4));

    // The shell's menu is for local files: a right click or the menu key on an address opens none.
    QTest::mouseClick(form.FileList->viewport(), Qt::RightButton, {}, RowCenter(0));
    form.ShowEntryMenu(0, RowCenter(0));
    EXPECT_TRUE(desk.MenuObjects.isEmpty());
    EXPECT_TRUE(desk.Messages.isEmpty()) << desk.Messages.join('\n').toStdString();
}

TEST_F(WebEntriesTest, AnAddressThatGivesNoPictureLeavesThePreviewEmptyWithoutABox) {
    MakeImage("-size 60x40 xc:orange", "local.png");
    BrowserDrop({Web("/status/404"), Web("/html"), Web("/files/web.png")}, form.FileList->viewport(),
                BelowTheEntries());
    Drop({File("local.png")});
    struct Case {
        const char* Name;
        int Row;
        const char* Reason;
    };
    const Case cases[] = {
        {"missing", 0, "No preview: HTTP 404 Not Found"},
        {"a web page", 1, "No preview: "},
    };
    for (const Case& c : cases) {
        Select(c.Row);
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Image1->toolTip().contains(c.Reason); }, 10000))
            << c.Name << ": " << form.Image1->toolTip().toStdString();
        EXPECT_TRUE(form.Image1->toolTip().startsWith(form.ListBox1->item(c.Row)->text())) << c.Name;
        EXPECT_FALSE(PreviewShown()) << c.Name;
    }

    // A download still on its way when another entry is chosen never replaces that entry's preview.
    Select(2);
    Select(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.FilePreviewPending(); }, 20000));
    const QString localTip = form.Image1->toolTip();
    ASSERT_TRUE(PreviewShown());
    const QSize local = form.Image1->pixmap().size();
    QTest::qWait(500);
    EXPECT_EQ(form.Image1->toolTip(), localTip);
    EXPECT_EQ(form.Image1->pixmap().size(), local);
    EXPECT_TRUE(desk.Messages.isEmpty()) << desk.Messages.join('\n').toStdString();
}

} // namespace
