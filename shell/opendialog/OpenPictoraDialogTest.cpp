#include "shell/opendialog/OpenPictoraDialog.h"

#include "imaging/bitmap/IEBitmap.h"
#include "imaging/io/IEView.h"
#include "imaging/io/PictoraIO.h"
#include "shell/opendialog/PreviewViews.h"
#include "testsupport/QtTestEnvironment.h"
#include "testsupport/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using testsupport::ShellQuote;
using testsupport::TempDir;

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testsupport::QtEnvironment("shell_opendialog_tests"));

// The main window's filter.
const std::string kWindowFilter =
    "Вся графика|*.tif;*.tiff;*.fax;*.g3n;*.g3f;*.gif;*.jpg;*.jpeg;*.jpe;*.pcx;*.bmp;*.dib;*.rle;*.ico;*.png;"
    "*.wmf;*.emf;*.tga;*.targa;*.vda;*.icb;*.vst;*.pix;*.pxm;*.ppm;*.pgm;*.pbm;*.wbmp;*.jp2;*.j2k;*.jpc;*."
    "j2c;"
    "|TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F)|*.tif;*.tiff;*.fax;*.g3n;*.g3f|CompuServe Bitmap (GIF)|*.gif"
    "|JPEG Bitmap (JPG;JPEG;JPE)|*.jpg;*.jpeg;*.jpe|PaintBrush (PCX)|*.pcx|Windows Bitmap (BMP;DIB;RLE)|"
    "*.bmp;*.dib;*.rle|Windows Icon (ICO)|*.ico|Portable Network Graphics (PNG)|*.png|Windows Metafile (WMF)|"
    "*.wmf|Enhanced Windows Metafile (EMF)|*.emf|Targa Bitmap (TGA;TARGA;VDA;ICB;VST;PIX)|"
    "*.tga;*.targa;*.vda;*.icb;*.vst;*.pix|Portable Pixmap, GrayMap, BitMap (PXM;PPM;PGM;PBM)|"
    "*.pxm;*.ppm;*.pgm;*.pbm|Wireless Bitmap (WBMP)|*.wbmp|JPEG2000 (JP2)|*.jp2|JPEG2000 Code Stream "
    "(J2K;JPC;J2C)|"
    "*.j2k;*.jpc;*.j2c";

bool HaveConvert() {
    return testsupport::ToolAvailable("/usr/bin/convert");
}

// Runs /usr/bin/convert with arguments, writing path.
void Convert(const std::string& arguments, const std::string& path) {
    ASSERT_EQ(testsupport::RunCommand("/usr/bin/convert " + arguments + " " + ShellQuote(path) + " 2>&1"), 0)
        << arguments;
}

template <class Pred> bool WaitFor(Pred pred, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::string Text(QLabel* label) {
    return label->text().toStdString();
}

// A dialog set up as the main window sets it up, with the panel's information shown.
std::unique_ptr<TOpenPictoraDialog> WindowDialog() {
    auto d = std::make_unique<TOpenPictoraDialog>();
    d->Filter = kWindowFilter;
    d->Options = {ofHideReadOnly, ofAllowMultiSelect};
    d->AutoSetFilter = false;
    d->SetPreviewBorderStyle(iepsCropShadow);
    d->MsgLanguage = msEnglish;
    return d;
}

QFileDialog* OpenOn(TOpenPictoraDialog& d, const std::string& dir, bool* result = nullptr) {
    d.SetInitialDir(dir);
    d.Open([result](bool ok) {
        if (result) *result = ok;
    });
    return qobject_cast<QFileDialog*>(d.DialogWindow());
}

void CloseWindow(TOpenPictoraDialog& d, bool accept) {
    if (QDialog* w = d.DialogWindow()) accept ? w->accept() : w->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ---- texts

TEST(FilterText, WindowFilterBecomesQtNameFilters) {
    const std::vector<std::string> names = FilterToNameFilters(kWindowFilter);
    ASSERT_EQ(names.size(), 15u);
    EXPECT_EQ(names[0].rfind("Вся графика (*.tif *.tiff *.fax *.g3n *.g3f *.gif", 0), 0u);
    EXPECT_EQ(names[0].substr(names[0].size() - 7), " *.j2c)"); // the trailing ";" gives no empty mask
    EXPECT_EQ(names[1], "TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F) (*.tif *.tiff *.fax *.g3n *.g3f)");
    EXPECT_EQ(names[14], "JPEG2000 Code Stream (J2K;JPC;J2C) (*.j2k *.jpc *.j2c)");
}

struct TFilterCase {
    const char* Name;
    const char* Filter;
    std::vector<std::string> Names;
};
const TFilterCase kFilterCases[] = {
    {"Empty", "", {}},
    {"DescriptionWithoutMasksDropped", "A|*.a|B", {"A (*.a)"}},
    {"BlanksAroundMasksTrimmed", "A| *.a ; *.b ", {"A (*.a *.b)"}},
    {"NoMasksShowsEverything", "A||B|*.b", {"A (*)", "B (*.b)"}},
};
class FilterCases : public ::testing::TestWithParam<TFilterCase> {};
TEST_P(FilterCases, Converts) {
    EXPECT_EQ(FilterToNameFilters(GetParam().Filter), GetParam().Names);
}
INSTANTIATE_TEST_SUITE_P(Text, FilterCases, ::testing::ValuesIn(kFilterCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FilterText, MasksAndDefaultExtension) {
    EXPECT_EQ(FilterMasks(kWindowFilter, 4), "*.jpg;*.jpeg;*.jpe");
    EXPECT_EQ(FilterMasks(kWindowFilter, 0), FilterMasks(kWindowFilter, 1)); // out of range: the first
    EXPECT_EQ(FilterMasks(kWindowFilter, 99), FilterMasks(kWindowFilter, 1));
    EXPECT_EQ(FirstMaskExtension("*.jpg;*.jpeg"), "jpg");
    EXPECT_EQ(FirstMaskExtension("*.*"), "");
    EXPECT_EQ(FirstMaskExtension("*"), "");
    EXPECT_EQ(FirstMaskExtension(""), "");
}

TEST(InitialDirRule, TrailingSeparator) {
    const std::pair<const char*, const char*> cases[] = {{"/home/ann/Pictures/", "/home/ann/Pictures"},
                                                         {"/home/ann/Pictures", "/home/ann/Pictures"},
                                                         {"/", "/"},
                                                         {"D:/", "D:/"},
                                                         {"D:/Pictures/", "D:/Pictures"},
                                                         {"", ""}};
    for (const auto& [in, out] : cases) EXPECT_EQ(NormalizeInitialDir(in), out) << in;
    TOpenPictoraDialog d;
    d.SetInitialDir("/tmp/x/");
    EXPECT_EQ(d.InitialDir(), "/tmp/x");
}

TEST(InfoText, ColourCounts) {
    const std::tuple<int, int, const char*> cases[] = {{4, 8, "16777216"}, {3, 16, "2^48"},
                                                       {1, 1, "2"},        {3, 8, "16777216"},
                                                       {1, 8, "256"},      {1, 16, "65536"},
                                                       {1, 4, "16"},       {1, 31, "2147483648"},
                                                       {4, 16, "2^64"}, // a 32-bit shift would wrap this to 1
                                                       {2, 16, "2^32"},    {0, 8, "1"}};
    for (const auto& [s, b, text] : cases) EXPECT_EQ(ColourCountText(s, b), text) << s << " x " << b;
}

TEST(InfoText, SizesAndMemory) {
    EXPECT_EQ(SizeText(0), "0 bytes");
    EXPECT_EQ(SizeText(1023), "1023 bytes");
    EXPECT_EQ(SizeText(1024), "1 Kb");
    EXPECT_EQ(SizeText(1048575), "1023 Kb");
    EXPECT_EQ(ImageMemoryBytes(1, 4000, 3000, 3, 8), 36000000);
    EXPECT_EQ(ImageMemoryBytes(1, 33, 10, 1, 1), 80); // 1-bit rows padded to 32 bits: 8 bytes
    EXPECT_EQ(ImageMemoryBytes(3, 1, 1, 1, 8), 12);   // everything else counts 24 bits
    EXPECT_EQ(ImageMemoryBytes(1, -5, 10, 3, 8), 0);  // nonsense sizes count nothing
    EXPECT_EQ(ImageMemoryBytes(1000000, 2147483647, 2147483647, 3, 8), INT64_MAX); // saturates
}

TEST(InfoText, Messages) {
    EXPECT_EQ(IEMessage(msgPreview, msEnglish), "Preview");
    EXPECT_EQ(IEMessage(msgAdvanced, msEnglish), "Advanced");
    EXPECT_EQ(IEMessage(msgColors, msEnglish), "Colors");
    EXPECT_EQ(IEMessage(msgAnimate, msEnglish), "Animate");
    EXPECT_EQ(IEMessage(msgAllGraphics, msEnglish), "All graphics");
    EXPECT_EQ(IEMessage(msgVideoForWindows, msEnglish), "Video for Windows");
    EXPECT_EQ(IEMessage(msgFile, msEnglish), "File");
    EXPECT_EQ(IEMessage(msgMem, msEnglish), "Mem");
    EXPECT_EQ(IEMessage(msgPreview, msGerman), "Vorschau");
    EXPECT_EQ(IEMessage(msgAdvanced, msGreek), "Advanced"); // a missing entry falls back to English
    EXPECT_EQ(IEMessage(msgColors, msUser), "Colors");
    SetUserMessage(msgColors, "Farbtöne");
    EXPECT_EQ(IEMessage(msgColors, msUser), "Farbtöne");
    SetUserMessage(msgColors, "");
    EXPECT_EQ(IEMessage(msgColors, msUser), "Colors");
    EXPECT_EQ(IEMessage(9999, msEnglish), "");
}

TEST(InfoText, AutomaticFilterFollowsTheFormatTable) {
    const std::string expected =
        "All "
        "graphics|*.tif;*.tiff;*.fax;*.g3n;*.g3f;*.gif;*.jpg;*.jpeg;*.jpe;*.pcx;*.bmp;*.dib;*.rle;*.ico;*."
        "cur;"
        "*.png;*.wmf;*.emf;*.tga;*.targa;*.vda;*.icb;*.vst;*.pix;*.pxm;*.ppm;*.pgm;*.pbm;*.wbmp;*.jp2;*.j2k;*"
        ".jpc;"
        "*.j2c|TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F)|*.tif;*.tiff;*.fax;*.g3n;*.g3f|CompuServe Bitmap "
        "(GIF)|*.gif|"
        "JPEG Bitmap (JPG;JPEG;JPE)|*.jpg;*.jpeg;*.jpe|PaintBrush (PCX)|*.pcx|Windows Bitmap (BMP;DIB;RLE)|"
        "*.bmp;*.dib;*.rle|Windows Icon (ICO)|*.ico|Windows Cursor (CUR)|*.cur|Portable Network Graphics "
        "(PNG)|"
        "*.png|Windows Metafile (WMF)|*.wmf|Enhanced Windows Metafile (EMF)|*.emf|"
        "Targa Bitmap (TGA;TARGA;VDA;ICB;VST;PIX)|*.tga;*.targa;*.vda;*.icb;*.vst;*.pix|"
        "Portable Pixmap, GrayMap, BitMap (PXM;PPM;PGM;PBM)|*.pxm;*.ppm;*.pgm;*.pbm|Wireless Bitmap "
        "(WBMP)|*.wbmp|"
        "JPEG2000 (JP2)|*.jp2|JPEG2000 Code Stream (J2K;JPC;J2C)|*.j2k;*.jpc;*.j2c";
    EXPECT_EQ(AutomaticFilter(false, msEnglish), expected);
    const std::string avi = AutomaticFilter(true, msEnglish);
    EXPECT_NE(avi.find("*.j2c;*.avi|TIFF Bitmap"), std::string::npos);
    EXPECT_EQ(avi.substr(avi.size() - 30), "|Video for Windows (AVI)|*.avi");
}

TEST(InfoText, WindowGeometry) {
    EXPECT_EQ(DialogPosition({1024, 768}, {600, 400}), (TIntPoint{212, 122}));
    EXPECT_EQ(DialogPosition({800, 600}, {900, 700}), (TIntPoint{-50, -33})); // division towards zero
    const std::tuple<TIntSize, TIntSize> cases[] = {{{500, 375}, {500, 375}},
                                                    {{40, 30}, {100, 100}},
                                                    {{100, 100}, {100, 100}},
                                                    {{3000, 50}, {1024, 100}},
                                                    {{1024, 5000}, {1024, 768}}};
    for (const auto& [image, client] : cases)
        EXPECT_EQ(PreviewClientSize(image, {1024, 768}), client) << image.Width << " x " << image.Height;
}

// ---- the dialog

class DialogTest : public ::testing::Test {
protected:
    TempDir Dir;
    std::string Make(const std::string& name, const std::string& convertArguments) {
        const std::string path = Dir.File(name);
        Convert(convertArguments, path);
        return path;
    }
};

TEST_F(DialogTest, FilterIndexAndTypeChange) {
    auto d = WindowDialog();
    d->SetFilterIndex(4);
    int typeChanges = 0;
    d->OnTypeChange = [&](QObject*) { ++typeChanges; };
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->nameFilters().size(), 15);
    EXPECT_EQ(w->selectedNameFilter().toStdString(), "JPEG Bitmap (JPG;JPEG;JPE)"); // masks hidden
    EXPECT_EQ(w->defaultSuffix().toStdString(), "jpg");
    EXPECT_EQ(d->FilterIndex(), 4);

    auto* types = w->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(types, nullptr);
    EXPECT_EQ(types->itemText(1).toStdString(), "TIFF Bitmap (TIF;TIFF;FAX;G3N;G3F)"); // masks hidden
    auto pick = [types](int i) { // what a user's pick sends
        types->setCurrentIndex(i);
        emit types->activated(i);
        emit types->textActivated(types->itemText(i));
    };
    pick(1);
    EXPECT_EQ(typeChanges, 1);
    EXPECT_EQ(d->FilterIndex(), 2);
    EXPECT_EQ(w->defaultSuffix().toStdString(), "tif");
    pick(1); // the same type again is no change
    EXPECT_EQ(typeChanges, 1);

    CloseWindow(*d, false);
    EXPECT_EQ(d->FilterIndex(), 4); // a cancelled dialog keeps the old index
}

TEST_F(DialogTest, InitialDirAndFilterIndexRemembered) {
    for (const char* n : {"a.png", "b.png"}) Convert("-size 4x4 xc:red", Dir.File(n));
    auto d = WindowDialog();
    d->SetFilterIndex(8);
    bool result = false;
    QFileDialog* w = OpenOn(*d, Dir.Path() + "/", &result);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(d->InitialDir(), Dir.Path());
    EXPECT_EQ(QDir(w->directory()).canonicalPath(), QDir(QString::fromStdString(Dir.Path())).canonicalPath());
    w->selectFile("a.png");
    CloseWindow(*d, true);
    EXPECT_TRUE(result);
    EXPECT_EQ(d->FilterIndex(), 8);
    EXPECT_EQ(d->DialogWindow(), nullptr);
}

TEST_F(DialogTest, OptionsReachTheWindow) {
    struct TCase {
        TOpenOptions Options;
        QFileDialog::FileMode Mode;
        bool ReadOnlyBox;
    };
    const TCase cases[] = {
        {{ofHideReadOnly, ofAllowMultiSelect}, QFileDialog::ExistingFiles, false},
        {{ofHideReadOnly, ofFileMustExist}, QFileDialog::ExistingFile, false},
        {{ofHideReadOnly}, QFileDialog::AnyFile, false},
        {{ofAllowMultiSelect}, QFileDialog::ExistingFiles, true},
    };
    for (const TCase& c : cases) {
        auto d = WindowDialog();
        d->Options = c.Options;
        QFileDialog* w = OpenOn(*d, Dir.Path());
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->fileMode(), c.Mode);
        EXPECT_TRUE(w->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(d->ReadOnlyCheck() != nullptr, c.ReadOnlyBox);
        CloseWindow(*d, false);
        EXPECT_EQ(d->ReadOnlyCheck(), nullptr);
    }
}

TEST_F(DialogTest, ReadOnlyAnswerAndHiddenFilesAndPlacesBar) {
    Convert("-size 4x4 xc:red", Dir.File("a.png"));
    auto d = WindowDialog();
    d->Options = {ofForceShowHidden};
    d->ShowPlacesBar = false;
    d->DefaultExt = "png";
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->filter() & QDir::Hidden);
    auto* sidebar = w->findChild<QWidget*>("sidebar");
    ASSERT_NE(sidebar, nullptr);
    EXPECT_TRUE(sidebar->isHidden());
    ASSERT_NE(d->ReadOnlyCheck(), nullptr);
    d->ReadOnlyCheck()->setChecked(true);
    w->selectFile(QString::fromStdString(Dir.File("a.png")));
    CloseWindow(*d, true);
    EXPECT_TRUE(d->Options.Contains(ofReadOnly));
    EXPECT_FALSE(d->Options.Contains(ofExtensionDifferent));
    EXPECT_EQ(d->SelectedFiles(), std::vector<std::string>{Dir.File("a.png")});
}

TEST_F(DialogTest, SelectedFilesKeepTheDialogsOrder) {
    for (const char* n : {"a.png", "b.png", "c.png"}) Convert("-size 4x4 xc:red", Dir.File(n));
    auto d = WindowDialog();
    int shows = 0, closes = 0;
    d->OnShow = [&](QObject*) { ++shows; };
    d->OnClose = [&](QObject*) { ++closes; };
    bool result = false;
    QFileDialog* w = OpenOn(*d, Dir.Path(), &result);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(shows, 1);
    auto* edit = w->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText("\"c.png\" \"a.png\" \"b.png\"");
    CloseWindow(*d, true);
    EXPECT_TRUE(result);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(d->SelectedFiles(),
              (std::vector<std::string>{Dir.File("c.png"), Dir.File("a.png"), Dir.File("b.png")}));
    EXPECT_EQ(d->FileName(), Dir.File("c.png"));

    // One file gives its full path; the list is emptied at the next start.
    w = OpenOn(*d, Dir.Path(), &result);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(d->SelectedFiles().empty());
    // The last file name comes back selected once the folder is read; the typed name replaces it.
    ASSERT_TRUE(WaitFor(
        [&] { return w->selectedFiles() == QStringList{QString::fromStdString(Dir.File("c.png"))}; }));
    // Typing into the focused edit drops the old selection; without a focus here, drop it first.
    w->findChild<QListView*>("listView")->selectionModel()->clearSelection();
    w->findChild<QLineEdit*>("fileNameEdit")->setText("b.png");
    CloseWindow(*d, true);
    EXPECT_EQ(d->SelectedFiles(), std::vector<std::string>{Dir.File("b.png")});
}

TEST_F(DialogTest, ExecuteRunsModallyAndReturnsTheAnswer) {
    Convert("-size 4x4 xc:red", Dir.File("a.png"));
    auto d = WindowDialog();
    d->SetInitialDir(Dir.Path());
    // The answer is given from inside the dialog's own event loop; a second timer makes sure a
    // failure cannot leave the test waiting.
    QTimer::singleShot(0, d.get(), [&] {
        auto* w = qobject_cast<QFileDialog*>(d->DialogWindow());
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isModal());
        w->findChild<QLineEdit*>("fileNameEdit")->setText("a.png");
        static_cast<QDialog*>(w)->accept();
    });
    QTimer::singleShot(10000, d.get(), [&] { // dropped with the dialog
        if (d->DialogWindow()) d->DialogWindow()->reject();
    });
    EXPECT_TRUE(d->Execute());
    EXPECT_EQ(d->SelectedFiles(), std::vector<std::string>{Dir.File("a.png")});
    QTimer::singleShot(0, d.get(), [&] {
        if (d->DialogWindow()) d->DialogWindow()->reject();
    });
    EXPECT_FALSE(d->Execute());
    EXPECT_TRUE(d->SelectedFiles().empty());
}

TEST_F(DialogTest, CloseQueryMayRefuseOk) {
    Convert("-size 4x4 xc:red", Dir.File("a.png"));
    auto d = WindowDialog();
    bool allow = false;
    std::vector<std::string> seen;
    d->OnCanClose = [&](QObject*, bool& canClose) {
        seen = d->SelectedFiles();
        canClose = allow;
    };
    bool result = false;
    QFileDialog* w = OpenOn(*d, Dir.Path(), &result);
    ASSERT_NE(w, nullptr);
    w->findChild<QLineEdit*>("fileNameEdit")->setText("a.png");
    static_cast<QDialog*>(w)->accept();
    EXPECT_EQ(seen, std::vector<std::string>{Dir.File("a.png")});
    EXPECT_EQ(d->DialogWindow(), w); // still open
    EXPECT_TRUE(d->SelectedFiles().empty());
    allow = true;
    CloseWindow(*d, true);
    EXPECT_TRUE(result);
    EXPECT_EQ(d->SelectedFiles(), std::vector<std::string>{Dir.File("a.png")});
}

TEST_F(DialogTest, WindowDestroyedUnderTheComponent) {
    QDir().mkpath(QString::fromStdString(Dir.File("sub")));
    auto d = WindowDialog();
    int closes = 0, folders = 0;
    d->OnClose = [&](QObject*) { ++closes; };
    d->OnFolderChange = [&](QObject*) { ++folders; };
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    auto* list = w->findChild<QListView*>("listView");
    ASSERT_TRUE(WaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }));
    emit list->activated(list->model()->index(0, 0, list->rootIndex())); // a double click on "sub"
    EXPECT_TRUE(WaitFor([&] { return folders == 1; }));
    delete w; // as when the window's owner goes first
    EXPECT_EQ(d->DialogWindow(), nullptr);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(d->PicturePanel()->parentWidget(), nullptr); // the panels survive
    EXPECT_NE(OpenOn(*d, Dir.Path()), nullptr);            // and serve the next window
    CloseWindow(*d, false);

    // A component owned by a window goes with it, open or not.
    auto* owner = new QWidget;
    auto* owned = new TOpenPictoraDialog(owner);
    owned->AutoSetFilter = false;
    ASSERT_NE(OpenOn(*owned, Dir.Path()), nullptr);
    EXPECT_EQ(owned->DialogWindow()->parentWidget(), owner);
    delete owner;
}

TEST_F(DialogTest, HandlerExceptionsKeepTheDialogOpen) {
    auto d = WindowDialog();
    int reported = 0;
    d->OnHandlerException = [&](std::exception_ptr) { ++reported; };
    d->OnSelectionChange = [](QObject*) { throw std::runtime_error("handler"); };
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    d->UpdatePreview(Dir.File("none.png"));
    EXPECT_EQ(reported, 1);
    EXPECT_NE(d->DialogWindow(), nullptr);
    CloseWindow(*d, false);
}

TEST_F(DialogTest, AutoSetFilterReplacesTheFilter) {
    TOpenPictoraDialog d;
    d.MsgLanguage = msEnglish;
    d.Filter = "Mine|*.mine";
    QFileDialog* w = OpenOn(d, Dir.Path());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(d.Filter, AutomaticFilter(false, msEnglish));
    EXPECT_EQ(w->nameFilters().size(), 16);
    CloseWindow(d, false);
}

// ---- the preview panel

TEST_F(DialogTest, CmykJpegInformation) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path = Make("cmyk.jpg", "-size 40x30 xc:orange -colorspace CMYK -quality 90");
    auto d = WindowDialog();
    d->UpdatePreview(path);
    EXPECT_EQ(Text(d->PicLabel1()), "40 x 30 pixel");
    EXPECT_EQ(Text(d->PicLabel2()), "16777216 Colors (32 bit)");
    EXPECT_EQ(Text(d->PicLabel3()).substr(Text(d->PicLabel3()).size() - 4), " dpi");
    EXPECT_EQ(Text(d->InfoLabel1()).rfind("JPEG Bitmap (JPG) ", 0), 0u); // CMYK or YCbCrK by the writer
    EXPECT_EQ(Text(d->InfoLabel2()),
              "File: " + SizeText(std::int64_t(QFileInfo(QString::fromStdString(path)).size())) +
                  "   Mem: 3 Kb");
    EXPECT_FALSE(d->PictoraView()->IsBlank());
    EXPECT_TRUE(d->PreviewButton()->isEnabled());
}

TEST_F(DialogTest, OneBitTiffInformation) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path =
        Make("mono.tif", "-size 64x48 pattern:checkerboard -monochrome -compress Group4 -density 200");
    auto d = WindowDialog();
    d->UpdatePreview(path);
    EXPECT_EQ(Text(d->PicLabel1()), "64 x 48 pixel");
    EXPECT_EQ(Text(d->PicLabel2()), "2 Colors (1 bit)");
    EXPECT_EQ(Text(d->PicLabel3()), "200 x 200 dpi");
    EXPECT_EQ(Text(d->InfoLabel1()).substr(0, 17), "TIFF Bitmap (TIF)");
    EXPECT_NE(Text(d->InfoLabel2()).find("Mem: 384 bytes"), std::string::npos); // 48 rows of 8 bytes
    EXPECT_EQ(d->PreviewFrameCount(), 1);
}

TEST_F(DialogTest, LargeJpegPreviewsReduced) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path = Make("big.jpg", "-size 4000x3000 gradient:navy-gold -quality 60");
    auto d = WindowDialog();
    d->UpdatePreview(path);
    EXPECT_EQ(d->PreviewIO().Params().JpegScaleUsed, 8);
    EXPECT_EQ(d->PreviewImage().IEBitmap()->Width(), 500);
    EXPECT_EQ(d->PreviewImage().IEBitmap()->Height(), 375);
    EXPECT_EQ(Text(d->PicLabel1()), "4000 x 3000 pixel");
    EXPECT_EQ(Text(d->PicLabel2()), "16777216 Colors (24 bit)");
    EXPECT_NE(Text(d->InfoLabel2()).find("   Mem: 35156 Kb"), std::string::npos);

    // The preview window shows the image itself, not the reduced preview, in a window as large as the
    // screen's free area allows (with room for the frame).
    std::unique_ptr<QDialog> form = d->CreatePreviewForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->objectName(), "PreviewForm");
    EXPECT_EQ(form->windowTitle().toStdString(), "Preview: " + path);
    auto* picture = form->findChild<QLabel*>("PreviewPicture");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(4000, 3000));
    const QRect area = form->screen()->availableGeometry();
    EXPECT_LT(form->width(), area.width());
    EXPECT_LT(form->height(), area.height());
    EXPECT_GE(form->width(), area.width() - 40);
    EXPECT_GE(form->height(), area.height() - 60);
    EXPECT_TRUE(area.contains(form->geometry()));

    // An image that fits gets a window of its own size, though the panel showed it reduced.
    const std::string photo = Make("photo.jpg", "-size 640x400 gradient:navy-gold");
    d->UpdatePreview(photo);
    EXPECT_LT(d->PreviewImage().IEBitmap()->Width(), 640);
    form = d->CreatePreviewForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->size(), QSize(640, 400));
}

TEST_F(DialogTest, FilesThatCannotBePreviewedLeaveThePanelBlank) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string good = Make("good.png", "-size 20x10 xc:green");
    testsupport::WriteFileBytes(Dir.File("garbage.jpg"), std::vector<std::uint8_t>(300, 0x5A));
    testsupport::WriteFileBytes(Dir.File("empty.png"), {});
    testsupport::WriteFileBytes(Dir.File("notes.txt"), {'h', 'i'});
    std::vector<std::uint8_t> png = testsupport::ReadFileBytes(good);
    png.resize(png.size() / 2);
    testsupport::WriteFileBytes(Dir.File("half.png"), png);
    QDir().mkpath(QString::fromStdString(Dir.File("folder.jpg")));
    const std::string cases[] = {Dir.File("garbage.jpg"),
                                 Dir.File("empty.png"),
                                 Dir.File("notes.txt"),
                                 Dir.File("half.png"),
                                 Dir.File("folder.jpg"),
                                 Dir.File("missing.png"),
                                 ""};
    auto d = WindowDialog();
    for (const std::string& path : cases) {
        d->UpdatePreview(good);
        ASSERT_FALSE(d->PictoraView()->IsBlank());
        EXPECT_NO_THROW(d->UpdatePreview(path));
        EXPECT_TRUE(d->PictoraView()->IsBlank()) << path;
        for (QLabel* l : {d->PicLabel1(), d->PicLabel2(), d->PicLabel3(), d->InfoLabel1(), d->InfoLabel2()})
            EXPECT_TRUE(l->text().isEmpty()) << path;
        EXPECT_FALSE(d->PreviewButton()->isEnabled()) << path;
        EXPECT_FALSE(d->ZoomCombo()->isEnabled()) << path;
        EXPECT_EQ(d->CreatePreviewForm(), nullptr);
    }
}

TEST_F(DialogTest, HostileCorpusFilesNeverStopThePreview) {
    int seen = 0;
    auto d = WindowDialog();
    for (const char* format : {"bmp", "gif", "ico", "jpeg", "png", "tiff", "tga", "pcx", "pnm"}) {
        for (const auto& e : testsupport::CorpusFiles(format)) {
            if (!e.IsBad()) continue;
            ++seen;
            EXPECT_NO_THROW(d->UpdatePreview(testsupport::CorpusDir() + "/" + e.Path)) << e.Path;
        }
    }
    if (seen == 0) GTEST_SKIP() << "no corpus";
}

TEST_F(DialogTest, UntickedPreviewReadsOnlyTheHeader) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path = Make("a.png", "-size 30x20 xc:blue");
    auto d = WindowDialog();
    d->UpdatePreview(path);
    ASSERT_FALSE(d->PictoraView()->IsBlank());
    d->PreviewCheck()->setChecked(false);
    EXPECT_TRUE(d->PictoraView()->IsBlank());
    EXPECT_TRUE(d->PicLabel1()->text().isEmpty());
    EXPECT_FALSE(d->PreviewButton()->isEnabled());
    EXPECT_EQ(d->PictoraView()->Zoom(), 100);
    d->UpdatePreview(path);
    EXPECT_TRUE(d->PictoraView()->IsBlank());
    EXPECT_EQ(Text(d->PicLabel1()), "30 x 20 pixel");
    EXPECT_EQ(Text(d->InfoLabel1()), "Portable Network Graphics (PNG)");
    d->UpdatePreview(Dir.File("none.png"));
    EXPECT_TRUE(d->PicLabel1()->text().isEmpty());
    d->UpdatePreview(path);
    d->PreviewCheck()->setChecked(true); // previews from its own thread
    EXPECT_TRUE(WaitFor([&] { return !d->PictoraView()->IsBlank(); }));
}

TEST_F(DialogTest, NarrowDialogShowsOnlyTheImageAndItsButtons) {
    auto d = WindowDialog();
    d->ExtendedDialog = false;
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(d->PicturePanel()->isVisible());
    EXPECT_TRUE(d->PictoraView()->isVisible());
    EXPECT_TRUE(d->PreviewButton()->isVisible());
    EXPECT_TRUE(d->PlayButton()->isVisible());
    for (QWidget* hidden :
         {static_cast<QWidget*>(d->ZoomCombo()), static_cast<QWidget*>(d->PicLabel1()),
          static_cast<QWidget*>(d->PicLabel2()), static_cast<QWidget*>(d->PicLabel3()), d->InfoPanel()})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_NE(d->InfoPanel()->parentWidget(), w);
    CloseWindow(*d, false);

    d->ExtendedDialog = true;
    w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(d->InfoPanel()->isVisible());
    EXPECT_TRUE(d->PicLabel1()->isVisible());
    EXPECT_TRUE(d->PreviewCheck()->isVisible());
    EXPECT_FALSE(d->AdvancedButton()->isVisible());
    CloseWindow(*d, false);
    EXPECT_EQ(d->PicturePanel()->parentWidget(), nullptr); // lent back to the component
}

TEST_F(DialogTest, MultiFrameFiles) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path = Make("anim.gif", "-delay 5 -size 30x20 xc:red xc:lime xc:blue -loop 0");
    auto d = WindowDialog();
    d->UpdatePreview(path);
    EXPECT_EQ(Text(d->PicLabel1()), "30 x 20 pixel , 3 frames");
    EXPECT_FALSE(d->PlayButton()->isEnabled());
    // Single-colour frames are stored with 1 bit: 3 frames x 20 rows x 4 bytes.
    EXPECT_NE(Text(d->InfoLabel2()).find("Mem: 240 bytes"), std::string::npos) << Text(d->InfoLabel2());

    d->ShowAllFrames = true;
    d->UpdatePreview(path);
    EXPECT_EQ(d->PictoraMView()->FrameCount(), 3);
    EXPECT_EQ(Text(d->PicLabel1()), "30 x 20 pixel , 3 frames");
    EXPECT_TRUE(d->PlayButton()->isEnabled());
    d->PlayButton()->setChecked(true);
    EXPECT_TRUE(d->PictoraMView()->Playing());
    EXPECT_FALSE(d->PreviewButton()->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return d->PictoraMView()->SelectedFrame() == 2; }));
    d->PlayButton()->setChecked(false);
    EXPECT_FALSE(d->PictoraMView()->Playing());
    EXPECT_TRUE(d->PreviewButton()->isEnabled());
    std::unique_ptr<QDialog> form = d->CreatePreviewForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->size(), QSize(100, 100)); // a 30 x 20 frame, at least 100 each way

    const std::string tif = Make("pages.tif", "-size 40x40 xc:white xc:black -compress LZW");
    d->UpdatePreview(tif);
    EXPECT_EQ(d->PictoraMView()->FrameCount(), 2);
    EXPECT_EQ(d->PreviewFrameCount(), 2);
}

TEST_F(DialogTest, DetailColumnsAreReadableAtFirstSight) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    Make("a-photo-with-a-rather-long-name-from-a-camera.jpg", "-size 8x8 xc:red");
    Make("b.png", "-size 8x8 xc:blue");
    auto d = WindowDialog();
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    w->setViewMode(QFileDialog::Detail);
    auto* details = w->findChild<QTreeView*>("treeView");
    ASSERT_NE(details, nullptr);
    QHeaderView* header = details->header();
    ASSERT_GE(header->count(), 4);
    // Fitted once the folder is read: every column but the name as wide as its contents, and the
    // row, date included, within the list's width.
    const auto fitted = [&] {
        int total = 0;
        for (int c = 0; c < header->count(); ++c)
            total += header->isSectionHidden(c) ? 0 : header->sectionSize(c);
        const QModelIndex date = details->model()->index(0, 3, details->rootIndex());
        const int dateWidth = details->fontMetrics().horizontalAdvance(date.data().toString());
        return date.isValid() && total <= details->viewport()->width() && header->sectionSize(3) > dateWidth;
    };
    EXPECT_TRUE(WaitFor(fitted)) << header->sectionSize(0) << " " << header->sectionSize(3) << " in "
                                 << details->viewport()->width();
    EXPECT_GE(header->sectionSize(0), 160);
    CloseWindow(*d, false);
}

TEST_F(DialogTest, SelectionInTheWindowPreviews) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string path = Make("pic.png", "-size 32x16 xc:red");
    auto d = WindowDialog();
    int changes = 0;
    d->OnSelectionChange = [&](QObject*) { ++changes; };
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    auto* list = w->findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(WaitFor([&] {
        const QModelIndex i = list->model()->index(0, 0, list->rootIndex());
        return i.isValid() && i.data().toString() == "pic.png";
    }));
    list->setCurrentIndex(list->model()->index(0, 0, list->rootIndex()));
    EXPECT_GE(changes, 1); // at once, before the picture is made
    EXPECT_TRUE(WaitFor([&] { return Text(d->PicLabel1()) == "32 x 16 pixel"; })) << Text(d->PicLabel1());
    EXPECT_EQ(d->FileName(), path);
    CloseWindow(*d, false);
    EXPECT_TRUE(d->PicLabel1()->text().isEmpty()); // the panel is emptied with the window
}

// A selection previews from a thread of its own: the dialog goes on at once, only the latest
// selection's picture is shown, and closing the window drops what is still being made.
TEST_F(DialogTest, SelectionsPreviewWithoutWaiting) {
    if (!HaveConvert()) GTEST_SKIP() << "no /usr/bin/convert";
    const std::string big = Make("big.png", "-size 3000x3000 gradient:red-blue");
    const std::string small = Make("small.gif", "-size 30x20 xc:green");
    auto d = WindowDialog();
    const auto shows = [&](const std::string& text) { return Text(d->PicLabel1()) == text; };

    struct Case {
        const char* Name;
        std::vector<std::string> Selections; // in order, without waiting between them
        const char* Shown;                   // the first label once every preview has ended
    };
    const Case cases[] = {
        {"one file", {big}, "3000 x 3000 pixel"},
        {"moved on to a small file", {big, small}, "30 x 20 pixel"},
        {"moved on and back", {small, big, small}, "30 x 20 pixel"},
        {"moved on to nothing", {big, ""}, ""},
        {"moved on to a missing file", {small, Dir.File("missing.png")}, ""},
    };
    for (const Case& c : cases) {
        d->UpdatePreview(""); // a blank panel to start from
        for (const std::string& path : c.Selections) d->RequestPreview(path);
        if (!c.Selections.back().empty() && c.Selections.back() != Dir.File("missing.png")) {
            EXPECT_TRUE(d->PreviewPending()) << c.Name;
            EXPECT_TRUE(d->PictoraView()->IsBlank()) << c.Name; // not the last file's picture
        }
        EXPECT_TRUE(WaitFor([&] { return !d->PreviewPending(); }, 20000)) << c.Name;
        // A superseded preview that ends later must not replace the latest one.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(shows(c.Shown)) << c.Name << ": " << Text(d->PicLabel1());
        EXPECT_EQ(d->PictoraView()->IsBlank(), std::string(c.Shown).empty()) << c.Name;
    }

    // Closing the window while a picture is being made leaves the panel empty.
    QFileDialog* w = OpenOn(*d, Dir.Path());
    ASSERT_NE(w, nullptr);
    d->RequestPreview(big);
    CloseWindow(*d, false);
    EXPECT_FALSE(d->PreviewPending());
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(d->PicLabel1()->text().isEmpty());
    EXPECT_TRUE(d->PictoraView()->IsBlank());
}

} // namespace
