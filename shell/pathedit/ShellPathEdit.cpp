#include "shell/pathedit/ShellPathEdit.h"

#include "platform/FileSystem.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

namespace {

QString Decoded(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The path as the namespace names it ("/" separated, no "." or ".." or doubled "/"); empty when it
// names nothing that exists.
std::string NormalisedExisting(const std::string& path) {
    if (path.empty()) return {};
    return IDListToPath(PathToIDList(nullptr, path));
}

bool IsInside(const std::string& path, const std::string& root) {
    if (root == "/") return !path.empty() && path.front() == '/';
    return path == root || path.compare(0, root.size() + 1, root + "/") == 0;
}

// Qt's widget folder dialog kept inside a root: navigation above it snaps back, and only an
// existing folder (or file, when files are listed) inside it can be chosen.
class TFolderDialog : public QFileDialog {
public:
    TFolderDialog(QWidget* parent, std::string root, bool includeFiles)
        : QFileDialog(parent), FRoot(std::move(root)), FIncludeFiles(includeFiles) {
        connect(this, &QFileDialog::directoryEntered, this, [this](const QString& dir) {
            if (!IsInside(Encoded(QDir::cleanPath(dir)), FRoot)) setDirectory(Decoded(FRoot));
        });
    }

    void accept() override {
        const QStringList files = selectedFiles();
        const QString candidate = files.isEmpty() ? directory().absolutePath() : files.first();
        const QFileInfo info(candidate);
        if (!info.exists() || (!info.isDir() && !FIncludeFiles)) return;
        const std::string chosen = NormalisedExisting(Encoded(info.absoluteFilePath()));
        if (chosen.empty() || !IsInside(chosen, FRoot)) return;
        Chosen = chosen;
        QDialog::accept(); // the base file dialog would refuse files in folder mode
    }

    std::string Chosen;

private:
    std::string FRoot;
    bool FIncludeFiles;
};

// Runs the positioning when the dialog is first shown, as the browser's initialisation callback did.
class TShowWatcher : public QObject {
public:
    TShowWatcher(QObject* parent, std::function<void()> onShow)
        : QObject(parent), FOnShow(std::move(onShow)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && FOnShow) FOnShow();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> FOnShow;
};

// The folder a path names, or its nearest parent that exists; empty for a relative or empty path.
std::string NearestExistingFolder(std::string path) {
    if (path.empty() || path.front() != '/') return {};
    while (path.size() > 1 && !DirectoryExists(path)) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        const std::size_t slash = path.rfind('/');
        path.resize(slash == 0 ? 1 : slash);
    }
    return path;
}

QWidget* OwnerWidget(QObject* owner) {
    for (QObject* o = owner; o; o = o->parent()) {
        if (auto* widget = qobject_cast<QWidget*>(o)) return widget->window();
    }
    return QApplication::activeWindow();
}

} // namespace

// ---- TShellBrowseForFolder

TShellBrowseForFolder::TShellBrowseForFolder(QObject* owner) : QObject(owner) {}

TShellBrowseForFolder::~TShellBrowseForFolder() = default;

QFileDialog* TShellBrowseForFolder::DialogWindow() const {
    return FDialog.data();
}

void TShellBrowseForFolder::SetOptions(TShellBrowseFlags value) {
    if (value.Contains(bfNewDialogStyle)) value.Exclude(bfFileSystemOnly);
    if (value.Contains(bfFileSystemOnly)) value.Exclude(bfNewDialogStyle);
    FOptions = value;
}

void TShellBrowseForFolder::SetRootedAtFileSystemFolder(const std::string& value) {
    FRootFolder = value;
    RootedAt = SF_FILESYSTEMFOLDER;
}

int TShellBrowseForFolder::DialogLeft() const {
    return FDialog && FDialog->isVisible() ? FDialog->pos().x() : FLeft;
}
int TShellBrowseForFolder::DialogTop() const {
    return FDialog && FDialog->isVisible() ? FDialog->pos().y() : FTop;
}

void TShellBrowseForFolder::SetDialogLeft(int value) {
    FLeft = value;
    PlaceDialog();
}

void TShellBrowseForFolder::SetDialogTop(int value) {
    FTop = value;
    PlaceDialog();
}

QPoint TShellBrowseForFolder::DialogPosition(int storedLeft, int storedTop, QSize windowSize,
                                             QSize screenSize) {
    if (storedLeft > 0 && storedTop > 0) return {storedLeft, storedTop};
    return {screenSize.width() / 2 - windowSize.width() / 2,
            screenSize.height() / 2 - windowSize.height() / 2};
}

void TShellBrowseForFolder::PlaceDialog() {
    if (!FDialog) return;
    QScreen* screen = FDialog->screen() ? FDialog->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 0, 0);
    QPoint at = DialogPosition(FLeft, FTop, FDialog->frameGeometry().size(), area.size());
    if (!(FLeft > 0 && FTop > 0)) at += area.topLeft(); // centred on the dialog's own screen
    FDialog->move(at);
}

std::string TShellBrowseForFolder::RootPath() const {
    if (DirectoryExists(FRootFolder)) {
        const std::string root = NormalisedExisting(FRootFolder);
        if (!root.empty()) return root;
    }
    const std::string special = SpecialFolderPath(RootedAt);
    // A special folder without a location here leaves the whole namespace, as a missing root did.
    return special.empty() ? std::string("/") : NormalisedExisting(special);
}

bool TShellBrowseForFolder::Execute() {
    QWidget* owner = OwnerWidget(parent());
    const std::string root = RootPath();
    const bool includeFiles = FOptions.Contains(bfBrowseIncludeFiles);

    if (OnShow) OnShow(this);
    TFolderDialog dialog(owner, root, includeFiles);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, !includeFiles);
    // The classic style has no "Create New Folder" and a fixed size.
    dialog.setOption(QFileDialog::ReadOnly, !FOptions.Contains(bfNewDialogStyle));
    dialog.setSizeGripEnabled(FOptions.Contains(bfNewDialogStyle));
    if (!Title.empty()) dialog.setWindowTitle(QString::fromStdString(Title));
    dialog.setSidebarUrls({QUrl::fromLocalFile(Decoded(root))});
    if (!FOptions.Contains(bfEditBox)) {
        for (const char* name : {"fileNameEdit", "fileNameLabel"}) {
            if (auto* w = dialog.findChild<QWidget*>(name)) w->hide();
        }
    }
    // The initial selection: Path when it lies inside the root, else the root; empty Path is the
    // namespace root.
    std::string start = Path.empty() ? std::string("/") : NormalisedExisting(Path);
    if (start.empty() || !IsInside(start, root)) start = root;
    if (DirectoryExists(start)) {
        dialog.setDirectory(Decoded(start));
    } else {
        dialog.setDirectory(Decoded(ExtractFilePath(start)));
        dialog.selectFile(Decoded(start));
    }

    FDialog = &dialog;
    dialog.installEventFilter(new TShowWatcher(&dialog, [this] { PlaceDialog(); }));
    const int result = DialogExec ? DialogExec(dialog) : dialog.exec();
    const bool chosen = result == QDialog::Accepted && !dialog.Chosen.empty();
    Path = chosen ? dialog.Chosen : std::string();
    const auto list = chosen ? PathToIDList(nullptr, Path) : std::nullopt;
    FChosenSpecial = list ? SpecialFolderIndex(*list) : SF_FILESYSTEMFOLDER;
    FDialog = nullptr;
    if (OnClose) OnClose(this);
    return chosen;
}

// ---- TShellPathEdit

TShellPathEdit::TShellPathEdit(QWidget* parent)
    : QFrame(parent), FEdit(new QLineEdit(this)), FButton(new QPushButton(QStringLiteral("..."), this)) {
    setFrameShape(QFrame::NoFrame);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FEdit, 1);
    layout->addWidget(FButton);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    SquareButton();
    connect(FEdit, &QLineEdit::textChanged, this, [this] {
        if (OnChange) OnChange(FEdit);
    });
    connect(FButton, &QPushButton::clicked, this, [this] { Browse(); });
}

TShellPathEdit::~TShellPathEdit() = default;

std::string TShellPathEdit::Path() const {
    return Encoded(FEdit->text());
}
void TShellPathEdit::SetPath(const std::string& value) {
    FEdit->setText(Decoded(value));
}

bool TShellPathEdit::IsValidPath() const {
    const std::string path = Path();
    return FolderMode ? DirectoryExists(path) : FileExists(path);
}

void TShellPathEdit::SetEnabled(bool value) {
    FButton->setEnabled(value);
    FEdit->setEnabled(value);
    setEnabled(value);
}

std::string TShellPathEdit::Version() const {
    return "TShellPathEdit V3.32";
}

void TShellPathEdit::SquareButton() {
    const int h = FEdit->sizeHint().height();
    FButton->setFixedSize(h, h);
}

void TShellPathEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    SquareButton();
}

QStringList TShellPathEdit::NameFilters(const std::string& fileFilter) {
    QStringList filters;
    const QStringList parts = QString::fromStdString(fileFilter).split('|');
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString maskText = i + 1 < parts.size() ? parts[i + 1] : QString();
        if (description.isEmpty() && maskText.trimmed().isEmpty()) continue;
        QStringList masks;
        for (const QString& m : maskText.split(';', Qt::SkipEmptyParts)) {
            const QString mask = m.trimmed();
            // "*.*" means every file in this form, not only names with a dot.
            if (!mask.isEmpty()) masks << (mask == QLatin1String("*.*") ? QStringLiteral("*") : mask);
        }
        if (masks.isEmpty()) masks << QStringLiteral("*");
        filters << QStringLiteral("%1 (%2)").arg(description.isEmpty() ? masks.join(' ') : description,
                                                 masks.join(' '));
    }
    return filters;
}

void TShellPathEdit::Browse() {
    if (FolderMode) {
        TShellBrowseForFolder browser(parent());
        // Where the field points, with a button for a new folder and a field to type a path into.
        browser.SetOptions({bfNewDialogStyle, bfEditBox});
        browser.Path = NearestExistingFolder(Path());
        browser.DialogExec = DialogExec;
        if (browser.Execute()) SetPath(browser.Path);
        return;
    }
    QFileDialog dialog(window(), QString::fromStdString(DialogTitle));
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = NameFilters(FileFilter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    const int result = DialogExec ? DialogExec(dialog) : dialog.exec();
    if (result == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        SetPath(Encoded(dialog.selectedFiles().first()));
}
