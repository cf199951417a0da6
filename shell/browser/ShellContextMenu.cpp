// The context menu of TShellBrowser: the desktop's file commands, built on GIO, merged with the
// caller's own menu.
#include "shell/browser/ShellBrowser.h"

#include "platform/Ascii.h"
#include "shell/browser/ShellFileInfo.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>
#include <QWidget>

#include <gio/gio.h>
#include <sys/stat.h>

#include <map>
#include <memory>

namespace {

struct TGObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using TAppInfo = std::shared_ptr<GAppInfo>;

TAppInfo Hold(GAppInfo* app) {
    return TAppInfo(app, TGObjectUnref());
}

QString Decoded(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ContentTypeOf(const std::string& path) {
    GFile* file = g_file_new_for_path(path.c_str());
    GFileInfo* info = g_file_query_info(file, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE, G_FILE_QUERY_INFO_NONE,
                                        nullptr, nullptr);
    std::string type;
    if (info && g_file_info_get_content_type(info)) type = g_file_info_get_content_type(info);
    if (info) g_object_unref(info);
    g_object_unref(file);
    return type;
}

// Applications registered for a content type, the default one first (GIO's order).
std::vector<TAppInfo> ApplicationsFor(const std::string& contentType, std::size_t limit) {
    std::vector<TAppInfo> apps;
    if (contentType.empty()) return apps;
    GList* list = g_app_info_get_all_for_type(contentType.c_str());
    for (GList* l = list; l; l = l->next) {
        auto* app = static_cast<GAppInfo*>(l->data);
        if (apps.size() < limit && g_app_info_should_show(app))
            apps.push_back(Hold(G_APP_INFO(g_object_ref(app))));
    }
    g_list_free_full(list, g_object_unref);
    return apps;
}

std::string TakeError(GError*& error) {
    std::string text = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash + 1);
}

bool IsDelete(const std::string& verb) {
    return EqualsIgnoringAsciiCase(verb, "DELETE");
}

} // namespace

struct TShellBrowser::TMenuCommand {
    std::string Verb;
    TAppInfo App; // the application of an "Open With" entry
};

void TShellBrowser::ShowError(const std::string& text) const {
    if (!ShowErrorMessages) return;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(),
                    QString::fromStdString(text), QMessageBox::Ok, OwnerWindow());
    const_cast<TShellBrowser*>(this)->RunDialog(box);
}

int TShellBrowser::RunDialog(QDialog& dialog) {
    return DialogExec ? DialogExec(dialog) : dialog.exec();
}

std::string TShellBrowser::ShowContextMenu(const QPoint& screenPoint, QMenu* extraMenu) {
    std::string verb;
    const std::vector<std::string> paths = CollectObjectPaths();
    if (paths.empty()) return verb;

    // Parented to the owner's window so the items' status tips reach its status bar.
    auto* ownerWidget = qobject_cast<QWidget*>(parent());
    QMenu menu(ownerWidget ? ownerWidget->window() : QApplication::activeWindow());
    std::map<QAction*, TMenuCommand> commands;
    // Command numbers 1 to 255, as the menu protocol allows; the rest of the room goes to applications.
    constexpr std::size_t MaxCommands = 255;
    const auto add = [&](QMenu& into, const QString& text, const char* verbText, const QString& tip,
                         TAppInfo app = {}) {
        if (commands.size() >= MaxCommands) return static_cast<QAction*>(nullptr);
        QAction* action = into.addAction(text);
        action->setStatusTip(tip);
        action->setData(QString::fromLatin1(verbText));
        commands[action] = {verbText, std::move(app)};
        return action;
    };
    const bool hasExtra = extraMenu && !extraMenu->actions().isEmpty();
    const auto addExtra = [&] {
        // The caller's actions themselves: their handlers, checks and states carry over untouched.
        for (QAction* action : extraMenu->actions()) menu.addAction(action);
    };
    const auto addShell = [&] {
        const bool single = paths.size() == 1;
        if (QAction* open =
                add(menu, tr("&Open"), shellverbs::Open, tr("Opens the item with its default application")))
            menu.setDefaultAction(open);
        const std::vector<TAppInfo> apps = ApplicationsFor(ContentTypeOf(paths.front()), MaxCommands - 8);
        if (!apps.empty()) {
            QMenu* with = menu.addMenu(tr("Open &With"));
            for (const TAppInfo& app : apps)
                add(*with, QString::fromUtf8(g_app_info_get_display_name(app.get())), shellverbs::OpenWith,
                    tr("Opens the item with %1").arg(QString::fromUtf8(g_app_info_get_name(app.get()))), app);
        }
        add(menu, tr("Open &Containing Folder"), shellverbs::OpenContainingFolder,
            tr("Shows the folder that holds the item"));
        menu.addSeparator();
        add(menu, tr("Copy &Path"), shellverbs::CopyPath, tr("Copies the item's path to the clipboard"));
        if (OnRename && single) add(menu, tr("Rena&me..."), shellverbs::Rename, tr("Renames the item"));
        add(menu, tr("Move to &Trash"), shellverbs::Delete, tr("Moves the item to the trash"));
        menu.addSeparator();
        add(menu, tr("P&roperties"), shellverbs::Properties, tr("Shows the item's properties"));
    };
    if (ShowContextMenuOnTop) {
        addShell();
        if (hasExtra) {
            menu.addSeparator();
            addExtra();
        }
    } else {
        if (hasExtra) {
            addExtra();
            menu.addSeparator();
        }
        addShell();
    }
    if (extraMenu) Q_EMIT extraMenu->aboutToShow();

    QAction* chosen = MenuExec ? MenuExec(menu, screenPoint) : menu.exec(screenPoint);
    const auto found = chosen ? commands.find(chosen) : commands.end();
    if (found == commands.end()) return verb; // dismissed, or an extra item (already triggered)
    verb = found->second.Verb;

    bool execute = true;
    if (OnContextMenuSelect) OnContextMenuSelect(verb, execute);
    if (!execute) return {};
    if (EqualsIgnoringAsciiCase(verb, shellverbs::Rename) && OnRename) {
        OnRename(this);
    } else if (!RunCommand(found->second, paths)) {
        verb.clear();
    }
    // A delete counts only when every item really went.
    if (IsDelete(verb)) {
        for (const std::string& path : paths) {
            if (PathExists(path)) return {};
        }
    }
    return verb;
}

bool TShellBrowser::RunCommand(const TMenuCommand& command, const std::vector<std::string>& paths) {
    const std::string& verb = command.Verb;
    GError* error = nullptr;
    const auto launchDefault = [&](const std::string& path) {
        const std::string uri = ThumbnailFileUri(path);
        if (!uri.empty() && g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) return true;
        ShowError("Cannot open \"" + path + "\": " + TakeError(error));
        return false;
    };
    if (verb == shellverbs::Open) {
        for (const std::string& path : paths) {
            if (!launchDefault(path)) return false;
        }
        return true;
    }
    if (verb == shellverbs::OpenWith) {
        if (!command.App) return false;
        GList* files = nullptr;
        for (auto it = paths.rbegin(); it != paths.rend(); ++it)
            files = g_list_prepend(files, g_file_new_for_path(it->c_str()));
        const bool ok = g_app_info_launch(command.App.get(), files, nullptr, &error);
        g_list_free_full(files, g_object_unref);
        if (!ok)
            ShowError("Cannot start " + std::string(g_app_info_get_name(command.App.get())) + ": " +
                      TakeError(error));
        return ok;
    }
    if (verb == shellverbs::OpenContainingFolder) return launchDefault(FolderOf(paths.front()));
    if (verb == shellverbs::CopyPath) {
        QStringList lines;
        for (const std::string& path : paths) lines << Decoded(path);
        QApplication::clipboard()->setText(lines.join('\n'));
        return true;
    }
    if (verb == shellverbs::Delete) {
        bool ok = true;
        for (const std::string& path : paths) {
            GFile* file = g_file_new_for_path(path.c_str());
            if (!g_file_trash(file, nullptr, &error)) {
                ShowError("Cannot move \"" + path + "\" to the trash: " + TakeError(error));
                ok = false;
            }
            g_object_unref(file);
        }
        return ok;
    }
    if (verb == shellverbs::Properties) {
        const std::string& path = paths.front();
        QDialog dialog(OwnerWindow());
        const QString name = Decoded(path == "/" ? path : path.substr(path.rfind('/') + 1));
        dialog.setWindowTitle(tr("%1 Properties").arg(name));
        auto* layout = new QVBoxLayout(&dialog);
        auto* title = new QLabel(name, &dialog);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        layout->addWidget(title);
        layout->addWidget(new QLabel(tr("Location: %1").arg(Decoded(FolderOf(path))), &dialog));
        layout->addWidget(new QLabel(QString::fromStdString(FileInfoTip(path)), &dialog));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        RunDialog(dialog);
        return true;
    }
    return false;
}
