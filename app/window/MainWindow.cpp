#include "app/window/MainWindow.h"

#include "app/job/ConversionTables.h"
#include "app/window/AboutBox.h"
#include "app/window/DefaultFolders.h"
#include "app/window/FileListBox.h"
#include "app/window/FileListRules.h"
#include "app/window/FilePreview.h"
#include "app/window/PrivateSettings.h"
#include "app/window/RunThread.h"
#include "app/window/WebDrop.h"
#include "app/window/WebPreview.h"
#include "app/window/WindowText.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Colors.h"
#include "shell/browser/ShellBrowser.h"
#include "shell/opendialog/OpenPictoraDialog.h"
#include "shell/pathedit/ShellPathEdit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The window's standard size, which is also its smallest where the screen has room for it.
constexpr QSize StandardSize(678, 571);
// What a window manager's frame takes around the window (title bar, borders) until the real frame is
// known.
constexpr QMargins FrameAllowance(4, 30, 4, 4);
// The list and the preview share the left column's height in this proportion: a 230-pixel list at the
// standard size, and both grow with the window.
constexpr int ListStretch = 4, PreviewStretch = 5;
// Rows the list keeps visible however small the window gets.
constexpr int ListMinimumRows = 4;
// Margins and spacing of the right column's boxes, in pixels: tight enough that the whole window fits
// a 1920 x 1080 screen at 200 % scaling.
constexpr QMargins BoxMargins(6, 3, 6, 5);
constexpr int BoxSpacing = 3;

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

TColor ToColor(const QColor& c) {
    return RGBColor(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                    static_cast<std::uint8_t>(c.blue()));
}

// The button-face background some controls have instead of the base colour.
void ButtonFaceBackground(QWidget* w) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Button));
    w->setPalette(p);
}

void Compact(QLayout* layout) {
    layout->setContentsMargins(BoxMargins);
    layout->setSpacing(BoxSpacing);
}
} // namespace

TWindowHooks DesktopHooks() {
    TWindowHooks h;
    h.ExecuteOpenDialog = [](TOpenPictoraDialog& dialog, QStringList& chosen) {
        if (!dialog.Execute()) return false;
        for (const std::string& f : dialog.SelectedFiles()) chosen << Decoded(f);
        if (chosen.isEmpty() && !dialog.FileName().empty()) chosen << Decoded(dialog.FileName());
        return true;
    };
    h.ShowMessage = [](QWidget* parent, const QString& text) {
        QMessageBox::information(parent, QStringLiteral("Folianto"), text, QMessageBox::Ok);
    };
    h.Beep = [] { QApplication::beep(); };
    h.OpenFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    h.OpenFile = [](const QString& file) { QDesktopServices::openUrl(QUrl::fromLocalFile(file)); };
    h.ShowRunReport = [](QWidget* parent, const QString& text, bool offerOpen) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Folianto"), text, QMessageBox::Ok, parent);
        QPushButton* open =
            offerOpen ? box.addButton(QStringLiteral("&Open the PDF"), QMessageBox::AcceptRole) : nullptr;
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        box.exec();
        return open && box.clickedButton() == open;
    };
    h.ShowContextMenu = [](TShellBrowser& browser, const QPoint& at) { return browser.ShowContextMenu(at); };
    return h;
}

TForm1::TForm1(TWindowHooks hooks, QWidget* parent) : QMainWindow(parent), FHooks(std::move(hooks)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Folianto"));
    setWindowIcon(QIcon(QStringLiteral(":/folianto/folianto.png")));
    // Before any dialog exists, so none of them writes Qt's shared settings file.
    KeepQtSettingsPrivate();
    // The imaging layer paints blank bitmaps in the theme's button colour.
    SetSystemColor(COLOR_BTNFACE, ToColor(palette().color(QPalette::Button)));

    FPictoraIO1 = std::make_unique<TPictoraIO>();
    FPictoraIO1->SetAttachedPictora(&PictoraView1);
    FPictoraIO1->SetBackground(clBtnFace);
    FJob = std::make_unique<TConversionJob>(PictoraView1, *FPictoraIO1);
    FRun = std::make_unique<TRunThread>();
    FWebPreview = std::make_unique<TWebPreview>(
        [this](const std::string& address, const QImage& image, const std::string& failure) {
            WebPreviewArrived(address, image, failure);
        });
    FFilePreview = std::make_unique<TPreviewThreads>(
        MakeFilePreview,
        [this](const std::string& path, const TPreviewResult& result) { FilePreviewArrived(path, result); },
        false); // a file may change between two looks

    CreateActions();
    CreateControls();

    OpenPictoraDialog1 = new TOpenPictoraDialog(this);
    OpenPictoraDialog1->setObjectName(QStringLiteral("OpenPictoraDialog1"));
    OpenPictoraDialog1->AutoSetFilter = false;
    OpenPictoraDialog1->Filter = OpenDialogFilter(true);
    OpenPictoraDialog1->Options = TOpenOptions{ofHideReadOnly, ofAllowMultiSelect, ofEnableSizing};

    ShellBrowser1 = new TShellBrowser(this);
    ShellBrowser1->setObjectName(QStringLiteral("ShellBrowser1"));
    ShellBrowser1->SetFilter("*");
    ShellBrowser1->ShowErrorMessages = true;
    ShellBrowser1->ShowContextMenuOnTop = false;

    FAboutBox = std::make_unique<TAboutBox>();

    FitToScreen();
    FormCreate();
}

TForm1::~TForm1() {
    // A run still going stops after its page; its thread is waited for before the job goes.
    FJob->RequestStop();
    FRun.reset();
}

void TForm1::CreateActions() {
    auto make = [this](const char* name, const QString& caption, const QKeySequence& key, bool enabled,
                       void (TForm1::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcut(key);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, handler);
        addAction(action);
        return action;
    };
    ActAddFiles = make("ActAddFiles", QStringLiteral("&Open file(s)"), QKeySequence(Qt::CTRL | Qt::Key_O),
                       true, &TForm1::ActAddFilesExecute);
    ActConvert = make("ActConvert", QStringLiteral("&Convert to PDF"), QKeySequence(Qt::Key_F5), false,
                      &TForm1::ActConvertExecute);
    ActExit = make("ActExit", QStringLiteral("&Quit"), QKeySequence(), true, &TForm1::ActExitExecute);
    ActDelete = make("ActDelete", QStringLiteral("&Delete item"), QKeySequence(Qt::CTRL | Qt::Key_Delete),
                     false, &TForm1::ActDeleteExecute);
    ActClear = make("ActClear", QStringLiteral("&Clear list"), QKeySequence(Qt::SHIFT | Qt::Key_Delete),
                    false, &TForm1::ActClearExecute);
    ActClearProperties = make("ActClearProperties", QStringLiteral("C&lear properties"),
                              QKeySequence(Qt::Key_F2), true, &TForm1::ActClearPropertiesExecute);
    ActAbout = make("ActAbout", QStringLiteral("About..."), QKeySequence(Qt::Key_F1), true,
                    &TForm1::ActAboutExecute);
    ActKeepTransparency = new QAction(QStringLiteral("Keep &transparency"), this);
    ActKeepTransparency->setObjectName(QStringLiteral("ActKeepTransparency"));
    ActKeepTransparency->setCheckable(true);

    FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    FileMenu->addAction(ActAddFiles);
    FileMenu->addAction(ActConvert);
    FileMenu->addSeparator();
    FileMenu->addAction(ActExit);
    EditMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    EditMenu->setObjectName(QStringLiteral("EditMenu"));
    EditMenu->addAction(ActDelete);
    EditMenu->addAction(ActClear);
    EditMenu->addSeparator();
    EditMenu->addAction(ActClearProperties);
    // Photos and scans whose files say they were taken turned are shown upright unless this is checked.
    ActKeepAsStored = new QAction(QStringLiteral("&Keep images as stored"), this);
    ActKeepAsStored->setObjectName(QStringLiteral("ActKeepAsStored"));
    ActKeepAsStored->setCheckable(true);
    OptionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    OptionsMenu->setObjectName(QStringLiteral("OptionsMenu"));
    OptionsMenu->addAction(ActKeepAsStored);
    OptionsMenu->addAction(ActKeepTransparency);
    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    HelpMenu->addAction(ActAbout);
}

void TForm1::CreateControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // Left column: the list above the preview, sharing the height.
    FileList = new TFileListBox(central);
    FileList->setObjectName(QStringLiteral("FileList"));
    FileList->setAccessibleName(QStringLiteral("Files to convert"));
    FileList->setMinimumWidth(314);
    FileList->setMinimumHeight(ListMinimumRows * FileList->fontMetrics().height() +
                               2 * FileList->frameWidth());
    ButtonFaceBackground(FileList);
    FileList->OnEntriesDropped = [this](int gap) { MoveSelectedEntries(gap); };
    FileList->OnFilesDropped = [this](const QStringList& paths, int gap) { FilesDroppedAt(paths, gap); };
    FileList->OnMouseUp = [this](Qt::MouseButton b, const QPoint& pos) { FileListMouseUp(b, pos); };
    FileList->OnDeleteKey = [this] { ActDeleteExecute(); };
    FileList->OnMoveKey = [this](int step) { MoveSelectedEntriesBy(step); };
    FileList->OnMenuKey = [this](const QPoint& pos) { ShowEntryMenu(FileList->ItemIndex(), pos); };
    FileList->OnInfoTipKey = [this] { ShowInfoTip(); };
    connect(FileList, &QListWidget::itemSelectionChanged, this, &TForm1::FileListClick);

    ListBox1 = new QListWidget(central);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->hide();

    GroupBox4 = new QGroupBox(QStringLiteral("Preview:"), central);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    Image1 = new QLabel(GroupBox4);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setMinimumSize(64, 64);
    {
        // The thumbnail is made for the label's size, so the label keeps its place while hidden.
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        policy.setRetainSizeWhenHidden(true);
        Image1->setSizePolicy(policy);
    }
    Image1->installEventFilter(this);
    auto* previewLayout = new QVBoxLayout(GroupBox4);
    Compact(previewLayout);
    previewLayout->addWidget(Image1);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(FileList, ListStretch);
    left->addWidget(GroupBox4, PreviewStretch);

    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(6, 4, 6, 4);
    columns->addLayout(left, 1);
    columns->addWidget(CreateRightColumn(central));

    setTabOrder(OutputFile, ShellPathEdit1->Edit());
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
}

QWidget* TForm1::CreateRightColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    column->setFixedWidth(337);

    Panel1 = new QFrame(column);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setLineWidth(1);
    OutputFile = new QLineEdit(Panel1);
    OutputFile->setObjectName(QStringLiteral("OutputFile"));
    ShellPathEdit1 = new TShellPathEdit(Panel1);
    ShellPathEdit1->setObjectName(QStringLiteral("ShellPathEdit1"));
    ShellPathEdit1->FolderMode = true;
    ShellPathEdit1->Edit()->setAccessibleName(QStringLiteral("Output folder"));
    ShellPathEdit1->Button()->setAccessibleName(QStringLiteral("Choose output folder"));
    ShellPathEdit1->Button()->setToolTip(QStringLiteral("Choose output folder"));
    ProgressBar1 = new QProgressBar(Panel1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    StopButton = new QPushButton(QStringLiteral("&Stop"), Panel1);
    StopButton->setObjectName(QStringLiteral("StopButton"));
    StopButton->setToolTip(QStringLiteral("Stop the conversion; the pages done so far are written"));
    StopButton->setEnabled(false);
    connect(StopButton, &QPushButton::clicked, this, &TForm1::StopRun);
    auto* status = new QHBoxLayout;
    status->setSpacing(4);
    status->addWidget(ProgressBar1, 1);
    status->addWidget(StopButton);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(6, 4, 6, 5);
    panelLayout->setSpacing(1);
    panelLayout->addWidget(Caption(QStringLiteral("Output file name:"), OutputFile, Panel1));
    panelLayout->addWidget(OutputFile);
    panelLayout->addWidget(Caption(QStringLiteral("Output folder:"), ShellPathEdit1->Edit(), Panel1));
    panelLayout->addWidget(ShellPathEdit1);
    panelLayout->addWidget(Caption(QStringLiteral("Convert status:"), ProgressBar1, Panel1));
    panelLayout->addLayout(status);

    GroupBox1 = new QGroupBox(QStringLiteral("Compression"), column);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    CompresBox = new QComboBox(GroupBox1);
    CompresBox->setObjectName(QStringLiteral("CompresBox"));
    for (const TCompressionItem& item : CompressionItems)
        CompresBox->addItem(QString::fromUtf8(item.Text.data(), qsizetype(item.Text.size())));
    auto* compression = new QVBoxLayout(GroupBox1);
    Compact(compression);
    compression->addWidget(CompresBox);

    GroupBox2 = new QGroupBox(QStringLiteral("Format of the paper:"), column);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    FormatBox = new QComboBox(GroupBox2);
    FormatBox->setObjectName(QStringLiteral("FormatBox"));
    for (const TPaperItem& item : PaperItems)
        FormatBox->addItem(QString::fromUtf8(item.Text.data(), qsizetype(item.Text.size())));
    FormatBox->setMaxVisibleItems(int(PaperItems.size()));
    auto* paper = new QVBoxLayout(GroupBox2);
    Compact(paper);
    paper->addWidget(FormatBox);

    GroupBox3 = new QGroupBox(QStringLiteral("Properties:"), column);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(GroupBox3);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    TitleEd = edit("TitleEd");
    SubjectEd = edit("SubjectEd");
    AuthorEd = edit("AuthorEd");
    CreatorEd = edit("CreatorEd");
    ProducerEd = edit("ProducerEd");
    for (QLineEdit* fixed : {CreatorEd, ProducerEd}) {
        fixed->setReadOnly(true);
        fixed->setEnabled(false);
        ButtonFaceBackground(fixed);
    }
    CreatorEd->setText(QString::fromUtf8(CreatorText.data(), qsizetype(CreatorText.size())));
    ProducerEd->setText(QString::fromUtf8(ProducerText.data(), qsizetype(ProducerText.size())));
    Keywords = new QPlainTextEdit(GroupBox3);
    Keywords->setObjectName(QStringLiteral("Keywords"));
    Keywords->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Keywords->setTabChangesFocus(true);
    // Two lines at least; the memo takes the column's spare height.
    Keywords->setMinimumHeight(2 * Keywords->fontMetrics().lineSpacing() + 2 * Keywords->frameWidth() + 4);
    auto* properties = new QFormLayout(GroupBox3);
    Compact(properties);
    properties->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    properties->addRow(Caption(QStringLiteral("Title:"), TitleEd, GroupBox3), TitleEd);
    properties->addRow(Caption(QStringLiteral("Subject:"), SubjectEd, GroupBox3), SubjectEd);
    properties->addRow(Caption(QStringLiteral("Author:"), AuthorEd, GroupBox3), AuthorEd);
    properties->addRow(Caption(QStringLiteral("Creator:"), CreatorEd, GroupBox3), CreatorEd);
    properties->addRow(Caption(QStringLiteral("Producer:"), ProducerEd, GroupBox3), ProducerEd);
    properties->addRow(Caption(QStringLiteral("Keywords:"), Keywords, GroupBox3), Keywords);

    auto* right = new QVBoxLayout(column);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(4);
    right->addWidget(Panel1);
    right->addWidget(GroupBox1);
    right->addWidget(GroupBox2);
    right->addWidget(GroupBox3, 1);
    return column;
}

bool TForm1::FilePreviewPending() const {
    return FFilePreview->Pending();
}

void TForm1::FormCreate() {
    // Files dropped anywhere on the window reach FilesDropped, whichever control is under the cursor
    // and whether or not it is enabled.
    setAcceptDrops(true);
    qApp->installEventFilter(this);
    ActExit->setShortcut(QKeySequence(Qt::Key_Escape));
}

void TForm1::FormShow() {
    ShellPathEdit1->SetPath(Encoded(DefaultOutputFolder()));
    CompresBox->setCurrentIndex(CompressionDctIndex);
    FormatBox->setCurrentIndex(PaperFitIndex);
    OutputFile->setFocus();
}

bool TForm1::FormCloseQuery() {
    FJob->RequestStop();
    return true;
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
        // The window manager's frame is known once the window is on the screen.
        QTimer::singleShot(0, this, &TForm1::FitToScreen);
    }
}

void TForm1::FitToScreen() {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    const QRect frame = frameGeometry(), inner = geometry();
    QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                     frame.bottom() - inner.bottom());
    if (margins.isNull()) margins = FrameAllowance;
    const QSize room = area.marginsRemoved(margins).size();
    // Never below what the controls need: a clipped control is worse than a window that overhangs.
    const QSize minimum = StandardSize.boundedTo(room).expandedTo(minimumSizeHint());
    setMinimumSize(minimum);
    // A size the user chose is kept as far as it fits; otherwise the standard size is the aim again
    // (the first fit had to guess the frame).
    const bool userSized = FPlaced && size() != FFittedSize;
    const QSize wanted = (userSized ? size() : StandardSize).boundedTo(room).expandedTo(minimum);
    // Always on the first fit: a window never resized by hand is sized to its hint when shown.
    if (!FPlaced || wanted != size()) resize(wanted);
    QRect outer(QPoint(0, 0), wanted.grownBy(margins));
    if (FPlaced)
        outer.moveTopLeft(frame.topLeft());
    else
        outer.moveCenter(area.center());
    // The title bar stays reachable: the frame is pulled inside the free area, top-left first.
    outer.moveLeft(std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width())));
    outer.moveTop(std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height())));
    if (outer.topLeft() != frame.topLeft() || !FPlaced) move(outer.topLeft());
    FPlaced = true;
    FFittedSize = wanted;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    FAboutBox->close();
    // A run stops after its current page and writes what it has; the program ends after that.
    if (Converting())
        FClosePending = true;
    else
        emit Closed();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ToolTip:
        if (watched == Image1 && !FImage1ShowHint) return true;
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        // The enabled list places dropped files at the pointer itself.
        if (watched == FileList->viewport() && FileList->isEnabled()) break;
        if (watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this)
            return HandleExternalDrag(event);
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

// Drags from other programs (they carry no source here) are the window's; drags inside the window
// (list entries, text) go on to their controls.
bool TForm1::HandleExternalDrag(QEvent* event) {
    if (event->type() == QEvent::DragLeave) return false;
    auto* drop = static_cast<QDropEvent*>(event);
    if (drop->source() != nullptr || !drop->mimeData() || !CarriesAddresses(*drop->mimeData())) return false;
    const QStringList files = DroppedEntries(*drop->mimeData());
    if (files.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) FilesDropped(files);
    return true;
}

void TForm1::ActExitExecute() {
    FJob->RequestStop();
    close();
}

void TForm1::ActAboutExecute() {
    FAboutBox->ShowNonModal();
}

void TForm1::ActClearPropertiesExecute() {
    if (!ActClearProperties->isEnabled()) return;
    TitleEd->clear();
    SubjectEd->clear();
    AuthorEd->clear();
    Keywords->clear();
    OutputFile->clear();
}
