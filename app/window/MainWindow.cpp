#include "app/window/MainWindow.h"

#include "app/job/ConversionTables.h"
#include "app/window/AboutBox.h"
#include "app/window/DefaultFolders.h"
#include "app/window/FileListBox.h"
#include "app/window/FileListRules.h"
#include "imaging/io/PictoraIO.h"
#include "platform/Colors.h"
#include "platform/FileSystem.h"
#include "shell/browser/ShellBrowser.h"
#include "shell/opendialog/OpenPictoraDialog.h"
#include "shell/pathedit/ShellPathEdit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFile>
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
#include <QScreen>
#include <QSignalBlocker>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

namespace {
std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
QString Decoded(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

void SelectRow(QListWidget* list, int index) {
    const QSignalBlocker block(list);
    if (index < 0 || index >= list->count()) {
        list->clearSelection();
        list->setCurrentRow(-1, QItemSelectionModel::Clear);
    } else {
        list->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    }
}

void MoveRow(QListWidget* list, int from, int to) {
    const QSignalBlocker block(list);
    QListWidgetItem* item = list->takeItem(from);
    list->insertItem(to, item);
}

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

TColor ToColor(const QColor& c) {
    return RGBColor(static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
                    static_cast<std::uint8_t>(c.blue()));
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
    h.ProcessMessages = [] { QCoreApplication::processEvents(); };
    h.ShowContextMenu = [](TShellBrowser& browser, const QPoint& at) { browser.ShowContextMenu(at); };
    return h;
}

TForm1::TForm1(TWindowHooks hooks, QWidget* parent) : QMainWindow(parent), FHooks(std::move(hooks)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Folianto"));
    setWindowIcon(QIcon(QStringLiteral(":/folianto/folianto.png")));
    // The imaging layer paints blank bitmaps in the theme's button colour.
    SetSystemColor(COLOR_BTNFACE, ToColor(palette().color(QPalette::Button)));

    FPictoraIO1 = std::make_unique<TPictoraIO>();
    FPictoraIO1->SetAttachedPictora(&PictoraView1);
    FPictoraIO1->SetBackground(clBtnFace);
    FJob = std::make_unique<TConversionJob>(PictoraView1, *FPictoraIO1);

    CreateActions();
    CreateControls();

    OpenPictoraDialog1 = new TOpenPictoraDialog(this);
    OpenPictoraDialog1->setObjectName(QStringLiteral("OpenPictoraDialog1"));
    OpenPictoraDialog1->AutoSetFilter = false;
    OpenPictoraDialog1->Filter = OpenDialogFilter();
    OpenPictoraDialog1->Options = TOpenOptions{ofHideReadOnly, ofAllowMultiSelect, ofEnableSizing};

    ShellBrowser1 = new TShellBrowser(this);
    ShellBrowser1->setObjectName(QStringLiteral("ShellBrowser1"));
    ShellBrowser1->SetFilter("*");
    ShellBrowser1->ShowErrorMessages = true;
    ShellBrowser1->ShowContextMenuOnTop = false;

    FAboutBox = std::make_unique<TAboutBox>();

    resize(678, 571);
    setMinimumSize(678, 571);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    FormCreate();
}

TForm1::~TForm1() = default;

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
    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    HelpMenu->addAction(ActAbout);
}

void TForm1::CreateControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // Left column: the list above the preview.
    FileList = new TFileListBox(central);
    FileList->setObjectName(QStringLiteral("FileList"));
    FileList->setMinimumWidth(314);
    FileList->setFixedHeight(230);
    {
        QPalette p = FileList->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        FileList->setPalette(p);
    }
    FileList->OnDragOver = [this](QObject* source) { return FileListDragOver(source); };
    FileList->OnDragDrop = [this](const QPoint& pos) { FileListDragDrop(pos); };
    FileList->OnMouseUp = [this](Qt::MouseButton b, const QPoint& pos) { FileListMouseUp(b, pos); };
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
    previewLayout->addWidget(Image1);

    auto* left = new QVBoxLayout;
    left->addWidget(FileList);
    left->addWidget(GroupBox4, 1);

    // Right column.
    Panel1 = new QFrame(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setLineWidth(1);
    OutputFile = new QLineEdit(Panel1);
    OutputFile->setObjectName(QStringLiteral("OutputFile"));
    ShellPathEdit1 = new TShellPathEdit(Panel1);
    ShellPathEdit1->setObjectName(QStringLiteral("ShellPathEdit1"));
    ShellPathEdit1->FolderMode = true;
    ProgressBar1 = new QProgressBar(Panel1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setSpacing(2);
    panelLayout->addWidget(Caption(QStringLiteral("Output file name:"), OutputFile, Panel1));
    panelLayout->addWidget(OutputFile);
    panelLayout->addWidget(Caption(QStringLiteral("Output folder:"), ShellPathEdit1, Panel1));
    panelLayout->addWidget(ShellPathEdit1);
    panelLayout->addWidget(Caption(QStringLiteral("Convert status:"), ProgressBar1, Panel1));
    panelLayout->addWidget(ProgressBar1);

    GroupBox1 = new QGroupBox(QStringLiteral("Compression"), central);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    CompresBox = new QComboBox(GroupBox1);
    CompresBox->setObjectName(QStringLiteral("CompresBox"));
    for (const TCompressionItem& item : CompressionItems)
        CompresBox->addItem(QString::fromUtf8(item.Text.data(), qsizetype(item.Text.size())));
    (new QVBoxLayout(GroupBox1))->addWidget(CompresBox);

    GroupBox2 = new QGroupBox(QStringLiteral("Format of the paper:"), central);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    FormatBox = new QComboBox(GroupBox2);
    FormatBox->setObjectName(QStringLiteral("FormatBox"));
    for (const TPaperItem& item : PaperItems)
        FormatBox->addItem(QString::fromUtf8(item.Text.data(), qsizetype(item.Text.size())));
    FormatBox->setMaxVisibleItems(13);
    (new QVBoxLayout(GroupBox2))->addWidget(FormatBox);

    GroupBox3 = new QGroupBox(QStringLiteral("Properties:"), central);
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
        QPalette p = fixed->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        fixed->setPalette(p);
    }
    CreatorEd->setText(QString::fromUtf8(CreatorText.data(), qsizetype(CreatorText.size())));
    ProducerEd->setText(QString::fromUtf8(ProducerText.data(), qsizetype(ProducerText.size())));
    Keywords = new QPlainTextEdit(GroupBox3);
    Keywords->setObjectName(QStringLiteral("Keywords"));
    Keywords->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Keywords->setTabChangesFocus(true);
    auto* properties = new QFormLayout(GroupBox3);
    properties->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    properties->addRow(Caption(QStringLiteral("Title:"), TitleEd, GroupBox3), TitleEd);
    properties->addRow(Caption(QStringLiteral("Subject:"), SubjectEd, GroupBox3), SubjectEd);
    properties->addRow(Caption(QStringLiteral("Author:"), AuthorEd, GroupBox3), AuthorEd);
    properties->addRow(Caption(QStringLiteral("Creator:"), CreatorEd, GroupBox3), CreatorEd);
    properties->addRow(Caption(QStringLiteral("Producer:"), ProducerEd, GroupBox3), ProducerEd);
    properties->addRow(Caption(QStringLiteral("Keywords:"), Keywords, GroupBox3), Keywords);

    auto* right = new QVBoxLayout;
    right->addWidget(Panel1);
    right->addWidget(GroupBox1);
    right->addWidget(GroupBox2);
    right->addWidget(GroupBox3, 1);
    auto* rightColumn = new QWidget(central);
    rightColumn->setLayout(right);
    right->setContentsMargins(0, 0, 0, 0);
    rightColumn->setFixedWidth(337);

    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(6, 4, 6, 6);
    columns->addLayout(left, 1);
    columns->addWidget(rightColumn);

    setTabOrder(OutputFile, ShellPathEdit1->Edit());
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
    CompresBox->setCurrentIndex(4);
    FormatBox->setCurrentIndex(PaperFitIndex);
    OutputFile->setFocus();
}

bool TForm1::FormCloseQuery() {
    FJob->RunFlag = 0;
    return true;
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    FAboutBox->close();
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
    if (drop->source() != nullptr || !drop->mimeData() || !drop->mimeData()->hasUrls()) return false;
    QStringList files;
    for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    if (files.isEmpty()) {
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) FilesDropped(files);
    return true;
}

void TForm1::AppendPath(const QString& path) {
    const QSignalBlocker block(FileList);
    ListBox1->addItem(path);
    FileList->addItem(DisplayEntry(ListBox1->count(), path));
}

void TForm1::FilesDropped(const QStringList& paths) {
    for (const QString& path : paths) {
        if (!IsAcceptedDropFile(path)) continue;
        AppendPath(path);
        // A run fixed its entries when it started: files dropped meanwhile wait for the next one.
        if (ListBox1->count() > 0 && !RunActive()) {
            ActConvert->setEnabled(true);
            ActClear->setEnabled(true);
        }
    }
}

void TForm1::ActAddFilesExecute() {
    if (!ActAddFiles->isEnabled()) return;
    OpenPictoraDialog1->SetInitialDir(Encoded(DefaultDialogFolder()));
    QStringList chosen;
    if (!FHooks.ExecuteOpenDialog || !FHooks.ExecuteOpenDialog(*OpenPictoraDialog1, chosen)) return;
    const int count = ListBox1->count();
    {
        const QSignalBlocker block(FileList);
        for (int i = 0; i < chosen.size(); ++i) {
            ListBox1->addItem(chosen[i]);
            FileList->addItem(DisplayEntry(count + i + 1, chosen[i]));
        }
    }
    if (ListBox1->count() > 0) {
        ActConvert->setEnabled(true);
        ActClear->setEnabled(true);
    }
}

bool TForm1::FileListDragOver(QObject* source) const {
    return source == FileList;
}

void TForm1::FileListDragDrop(const QPoint& pos) {
    const int pathIndex = SelectedRow(ListBox1);
    const QString saved = pathIndex >= 0 ? ListBox1->item(pathIndex)->text() : QString();
    const int from = FileList->ItemIndex();
    if (from < 0 || from >= ListBox1->count()) return;
    SelectRow(ListBox1, from);
    const int to = FileList->ItemAtPos(pos);
    if (to >= 0 && to < ListBox1->count()) {
        MoveRow(FileList, from, to);
        MoveRow(ListBox1, from, to);
    }
    int select = -1;
    if (!saved.isEmpty()) {
        for (int i = 0; i < ListBox1->count(); ++i) {
            if (ListBox1->item(i)->text() == saved) {
                select = i;
                break;
            }
        }
    }
    SelectRow(ListBox1, select);
    FileList->SetItemIndex(select);
    Renumber();
}

void TForm1::Renumber() {
    const QSignalBlocker block(FileList);
    const int n = std::min(FileList->count(), ListBox1->count());
    for (int i = 0; i < n; ++i) FileList->item(i)->setText(DisplayEntry(i + 1, ListBox1->item(i)->text()));
}

void TForm1::ClearPreview() {
    Image1->clear();
    Image1->setToolTip(QString());
    FImage1ShowHint = false;
    QToolTip::hideText();
}

void TForm1::ActDeleteExecute() {
    if (!ActDelete->isEnabled()) return;
    const int i = FileList->ItemIndex();
    if (i < 0) return;
    SelectRow(ListBox1, i);
    if (i >= ListBox1->count() || ListBox1->item(i)->text().isEmpty()) return;
    {
        const QSignalBlocker block(FileList);
        delete FileList->takeItem(i);
        delete ListBox1->takeItem(i);
    }
    FileList->SetItemIndex(-1);
    SelectRow(ListBox1, -1);
    ClearPreview();
    Renumber();
    const bool any = ListBox1->count() > 0;
    ActConvert->setEnabled(any);
    ActClear->setEnabled(any);
    ActDelete->setEnabled(false);
}

void TForm1::ActClearExecute() {
    if (!ActClear->isEnabled()) return;
    {
        const QSignalBlocker block(FileList);
        FileList->clear();
        ListBox1->clear();
    }
    PictoraView1.FillBackground();
    FPictoraIO1->Params().ClearTexts();
    PictoraView1.IOComponent()->Params().ClearTexts();
    ClearPreview();
    ActConvert->setEnabled(false);
    ActClear->setEnabled(false);
    ActDelete->setEnabled(false);
}

void TForm1::FileListClick() {
    const int i = FileList->ItemIndex();
    if (i < 0) {
        Image1->clear();
        ActDelete->setEnabled(false);
        FImage1ShowHint = false;
        // The path list follows, so the shell menu cannot open for an entry no longer selected.
        SelectRow(ListBox1, -1);
        return;
    }
    FImage1ShowHint = true;
    ActDelete->setEnabled(!RunActive());
    SelectRow(ListBox1, i);
    if (i >= ListBox1->count()) return;
    const QString path = ListBox1->item(i)->text();
    if (!FileExists(Encoded(path))) {
        // The hint of the file shown before must not stay on an entry whose file is gone.
        Image1->clear();
        Image1->setToolTip(QString());
        return;
    }
    try {
        ShellBrowser1->SetObjectName(Encoded(path));
        Image1->setToolTip(QString::fromStdString(ShellBrowser1->ObjectInfoTip()));
        Image1->setVisible(ShellBrowser1->AssignThumbnail(Image1));
    } catch (const std::exception& e) {
        Image1->clear();
        Image1->setToolTip(QString());
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, QString::fromUtf8(e.what()));
    }
}

void TForm1::FileListMouseUp(Qt::MouseButton button, const QPoint& pos) {
    if (button != Qt::RightButton) return;
    const int i = SelectedRow(ListBox1);
    if (i < 0) return;
    const QString path = ListBox1->item(i)->text();
    if (!FileExists(Encoded(path))) return;
    try {
        ShellBrowser1->SetObjectName(Encoded(path));
        if (FHooks.ShowContextMenu)
            FHooks.ShowContextMenu(*ShellBrowser1, FileList->viewport()->mapToGlobal(pos));
    } catch (const std::exception& e) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, QString::fromUtf8(e.what()));
    }
}

void TForm1::ActExitExecute() {
    FJob->RunFlag = 0;
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

TConversionInputs TForm1::Inputs() const {
    TConversionInputs in;
    in.OutputFolder = ShellPathEdit1->Path();
    in.OutputName = Encoded(OutputFile->text());
    for (int i = 0; i < ListBox1->count(); ++i) in.SourcePaths.push_back(Encoded(ListBox1->item(i)->text()));
    in.CompressionIndex = CompresBox->currentIndex();
    in.PaperIndex = FormatBox->currentIndex();
    in.Title = TitleEd->text().toStdString();
    in.Subject = SubjectEd->text().toStdString();
    in.Author = AuthorEd->text().toStdString();
    in.Creator = CreatorEd->text().toStdString();
    in.Producer = ProducerEd->text().toStdString();
    in.Keywords = Keywords->toPlainText().toStdString();
    return in;
}

void TForm1::SetInputsEnabled(bool enabled) {
    FileList->setEnabled(enabled);
    Panel1->setEnabled(enabled);
    GroupBox1->setEnabled(enabled);
    GroupBox2->setEnabled(enabled);
    GroupBox3->setEnabled(enabled);
    const bool any = ListBox1->count() > 0;
    ActAddFiles->setEnabled(enabled);
    ActConvert->setEnabled(enabled && any);
    ActClear->setEnabled(enabled && any);
    ActClearProperties->setEnabled(enabled);
    ActDelete->setEnabled(enabled && FileList->ItemIndex() >= 0);
}

QString TForm1::SkippedReport(const std::vector<TSkippedInput>& skipped,
                              const std::vector<TPageNote>& notes) const {
    constexpr std::size_t shown = 20;
    const auto line = [](const std::string& path, int frame, const std::string& what) {
        QString l = QStringLiteral("\n") + Decoded(path);
        if (frame >= 0) l += QStringLiteral(" (frame %1)").arg(frame + 1);
        return l + QStringLiteral(": ") + QString::fromStdString(what);
    };
    QString text = QStringLiteral("Some files did not become complete pages of the PDF file:\n");
    std::size_t listed = 0;
    for (const TSkippedInput& s : skipped)
        if (listed++ < shown) text += line(s.Path, s.Frame, s.Reason);
    for (const TPageNote& n : notes)
        if (listed++ < shown) text += line(n.Path, n.Frame, n.Text);
    if (listed > shown) text += QStringLiteral("\n\n... and %1 more.").arg(listed - shown);
    return text;
}

void TForm1::ActConvertExecute() {
    if (!ActConvert->isEnabled()) return;
    TConversionCallbacks cb;
    cb.ShowMessage = [this](const std::string& text) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, Decoded(text));
    };
    cb.SetProgressMax = [this](int max) { ProgressBar1->setMaximum(std::max(max, 1)); };
    cb.SetProgressPosition = [this](int position) { ProgressBar1->setValue(position); };
    cb.Beep = FHooks.Beep;
    cb.OpenFolder = [this](const std::string& folder) {
        if (FHooks.OpenFolder) FHooks.OpenFolder(Decoded(folder));
    };
    cb.ProcessMessages = FHooks.ProcessMessages;
    cb.SetInputsEnabled = [this](bool enabled) { SetInputsEnabled(enabled); };
    cb.ReportSkipped = [this](const std::vector<TSkippedInput>& skipped,
                              const std::vector<TPageNote>& notes) {
        if (FHooks.ShowMessage) FHooks.ShowMessage(this, SkippedReport(skipped, notes));
    };
    FJob->Execute(Inputs(), cb);
}
